#pragma once
// Where a widget lands on the canvas, and the two rounding modes that compute it from its parent.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "gui/draw/clip_scope.h"
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

// A rectangle local to a placed widget, in device pixels, rounded the same way as placeOf.
inline Rect deviceOf(const Place& p, Rect r, double f, bool exact) {
    auto rd = [](double v) { return int(std::lround(v)); };
    Rect d;
    if (exact) {
        int lx = p.logical.x + r.x, ly = p.logical.y + r.y;
        d.x = p.base.x + rd(lx * f);
        d.w = rd((lx + r.w) * f) - rd(lx * f);
        d.y = p.base.y + rd(ly * f);
        d.h = rd((ly + r.h) * f) - rd(ly * f);
    } else {
        d.x = p.device.x + rd(r.x * f);
        d.w = rd((r.x + r.w) * f) - rd(r.x * f);
        d.y = p.device.y + rd(r.y * f);
        d.h = rd((r.y + r.h) * f) - rd(r.y * f);
    }
    return d;
}

inline bool overlapsStrictly(const Rect& a, const Rect& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

// One outline unit in device pixels at a scale: the scale rounded, at least one pixel (1 for a scale
// that is not a positive finite number).
inline int32_t wholePixels(double scale) {
    if (!(scale > 0) || !std::isfinite(scale)) return 1;
    return int32_t(std::max(1.0, std::round(std::min(scale, 1e6))));
}

// The common part of two rectangles; width and height 0 when they do not meet.
inline Rect intersect(const Rect& a, const Rect& b) { return meet(a, b); }

}  // namespace lumo::gui
