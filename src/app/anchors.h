// Controls that keep their distance to chosen edges of their parent when it is resized, the
// way the forms were designed: a place in a parent of the design size, and the edges kept.
#pragma once

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <vector>

namespace zembrat::app {

enum AnchorEdge : unsigned {
    kAnchorLeft = 1,
    kAnchorTop = 2,
    kAnchorRight = 4,
    kAnchorBottom = 8,
    kAnchorDefault = kAnchorLeft | kAnchorTop,
    kAnchorAll = kAnchorLeft | kAnchorTop | kAnchorRight | kAnchorBottom,
};

class AnchorSet {
  public:
    // Puts the control at its design place and remembers the edges it keeps. Place parents
    // before their children: Apply works in this order.
    void Place(QWidget& control, QRect design, QSize parentDesign, unsigned edges);
    // Moves and sizes every control for the current size of its parent.
    void Apply();

    // The place of a design rectangle in a parent of the given size.
    static QRect Anchored(QRect design, QSize parentDesign, QSize parentNow, unsigned edges);

  private:
    struct Entry {
        QPointer<QWidget> control;
        QRect design;
        QSize parentDesign;
        unsigned edges;
    };
    std::vector<Entry> entries_;
};

}  // namespace zembrat::app
