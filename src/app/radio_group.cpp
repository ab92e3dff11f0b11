#include "app/radio_group.h"

#include <QFontMetrics>

namespace zembrat::app {

TRadioGroup::TRadioGroup(const QString& title, const QStringList& items, int columns,
                         QWidget* parent)
    : TGroupBox(title, parent), columns_(columns < 1 ? 1 : columns) {
    group_.setExclusive(true);
    int id = 0;
    for (const auto& item : items) {
        auto button = std::make_unique<QRadioButton>(item, this);
        group_.addButton(button.get(), id++);
        buttons_.push_back(std::move(button));
    }
    connect(&group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) {
            emit Click();
        }
    });
    ArrangeButtons();
}

int TRadioGroup::ItemIndex() const {
    return group_.checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (index >= 0 && index < Count()) {
        Button(index).setChecked(true);
    }
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
    TGroupBox::resizeEvent(event);
    ArrangeButtons();
}

// Equal columns below the caption; each column's rows share the height that is left.
void TRadioGroup::ArrangeButtons() {
    if (buttons_.empty()) {
        return;
    }
    const int count = Count();
    const int perColumn = (count + columns_ - 1) / columns_;
    const int textHeight = QFontMetrics(font()).height();
    const int buttonWidth = (width() - 10) / columns_;
    const int rowSpace = height() - textHeight - 5;
    const int buttonHeight = rowSpace / perColumn;
    const int topMargin = textHeight + 1 + (rowSpace % perColumn) / 2;
    for (int i = 0; i < count; ++i) {
        Button(i).setGeometry((i / perColumn) * buttonWidth + 8,
                              (i % perColumn) * buttonHeight + topMargin, buttonWidth,
                              buttonHeight);
    }
}

}  // namespace zembrat::app
