// A titled group frame drawn the way the forms were designed: an etched rectangle whose top
// line runs through the middle of the caption, so that the controls placed from 12 pixels
// down lie inside it whatever style draws the rest of the window.
#pragma once

#include <QGroupBox>
#include <QRect>

namespace zembrat::app {

class TGroupBox : public QGroupBox {
  public:
    explicit TGroupBox(const QString& title, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // The outer edge of the frame in the group's own coordinates (the etched line is two
    // pixels wide inside it).
    QRect FrameRect() const;
    // Where the caption is written; the frame is left out behind it.
    QRect CaptionRect() const;
};

}  // namespace zembrat::app
