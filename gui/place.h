#pragma once
// Where a widget lands on the canvas, and the two rounding modes that compute it from its parent.
#include <cmath>

#include "gui/widget.h"

namespace lumo::gui {

struct Place {
    Rect device;    // the widget's full bounds in canvas pixels
    Point logical;  // sum of the bounds origins of the widget and its ancestors
    Point base;     // canvas position of the tree's logical (0, 0)
};

// The place a tree's top widget is computed from.
inline Place treeOrigin(int yOffset) { return Place{Rect{0, yOffset, 0, 0}, Point{0, 0}, Point{0, yOffset}}; }

// Without exact edges each level rounds on its own; with them edges are rounded from the absolute
// logical position, so widgets that touch in logical space touch exactly on the canvas.
inline Place placeOf(const Widget& w, const Place& parent, double f, bool exact) {
    const Rect& b = w.bounds;
    Place p;
    p.logical = Point{parent.logical.x + b.x, parent.logical.y + b.y};
    p.base = parent.base;
    auto r = [](double v) { return int(std::lround(v)); };
    if (exact) {
        p.device.x = p.base.x + r(p.logical.x * f);
        p.device.w = r((p.logical.x + b.w) * f) - r(p.logical.x * f);
        p.device.y = p.base.y + r(p.logical.y * f);
        p.device.h = r((p.logical.y + b.h) * f) - r(p.logical.y * f);
    } else {
        p.device.x = parent.device.x + r(b.x * f);
        p.device.w = r((b.x + b.w) * f) - r(b.x * f);
        p.device.y = parent.device.y + r(b.y * f);
        p.device.h = r((b.y + b.h) * f) - r(b.y * f);
    }
    return p;
}

}  // namespace lumo::gui
