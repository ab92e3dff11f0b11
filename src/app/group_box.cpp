#include "app/group_box.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

namespace zembrat::app {

namespace {

constexpr int kCaptionLeft = 8;     // from the frame's left edge to the caption's text
constexpr int kCaptionPadding = 2;  // blank space either side of the caption on the line

}  // namespace

TGroupBox::TGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

QRect TGroupBox::FrameRect() const {
    const int top = QFontMetrics(font()).height() / 2 - 1;
    return QRect(0, top, width(), height() - top);
}

QRect TGroupBox::CaptionRect() const {
    if (title().isEmpty()) {
        return {};
    }
    const QFontMetrics metrics(font());
    const QString shown = QString(title()).remove(QLatin1Char('&'));
    return QRect(kCaptionLeft, 0, metrics.horizontalAdvance(shown), metrics.height());
}

void TGroupBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect frame = FrameRect();
    const QRect caption = CaptionRect();
    if (caption.isValid()) {
        // The line stops short of the caption on both sides.
        painter.setClipRegion(
            QRegion(rect()).subtracted(caption.adjusted(-kCaptionPadding, 0, kCaptionPadding, 0)));
    }
    // Etched: a shadow rectangle with a highlight rectangle one pixel to the lower right.
    const QPalette& colours = palette();
    painter.setPen(colours.color(QPalette::Light));
    painter.drawRect(frame.adjusted(1, 1, -1, -1));
    painter.setPen(colours.color(QPalette::Dark));
    painter.drawRect(frame.adjusted(0, 0, -2, -2));
    painter.setClipping(false);
    if (caption.isValid()) {
        style()->drawItemText(&painter, caption,
                              Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, colours,
                              isEnabled(), title(), QPalette::WindowText);
    }
}

}  // namespace zembrat::app
