#include "app/anchors.h"

namespace zembrat::app {

namespace {

// One axis: start and length for a parent that grew by delta.
std::pair<int, int> AnchorAxis(int start, int length, int delta, bool nearEdge, bool farEdge) {
    if (nearEdge && farEdge) {
        return {start, length + delta};
    }
    if (farEdge) {
        return {start + delta, length};
    }
    if (!nearEdge) {
        return {start + delta / 2, length};  // neither edge: stays centred
    }
    return {start, length};
}

}  // namespace

QRect AnchorSet::Anchored(QRect design, QSize parentDesign, QSize parentNow, unsigned edges) {
    const auto [x, width] =
        AnchorAxis(design.x(), design.width(), parentNow.width() - parentDesign.width(),
                   (edges & kAnchorLeft) != 0, (edges & kAnchorRight) != 0);
    const auto [y, height] =
        AnchorAxis(design.y(), design.height(), parentNow.height() - parentDesign.height(),
                   (edges & kAnchorTop) != 0, (edges & kAnchorBottom) != 0);
    return QRect(x, y, width, height);
}

void AnchorSet::Place(QWidget& control, QRect design, QSize parentDesign, unsigned edges) {
    control.setGeometry(design);
    entries_.push_back({&control, design, parentDesign, edges});
}

void AnchorSet::Apply() {
    for (const auto& entry : entries_) {
        if (entry.control == nullptr || entry.control->parentWidget() == nullptr) {
            continue;
        }
        entry.control->setGeometry(Anchored(entry.design, entry.parentDesign,
                                            entry.control->parentWidget()->size(), entry.edges));
    }
}

}  // namespace zembrat::app
