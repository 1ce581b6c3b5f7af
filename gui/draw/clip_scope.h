#pragma once
// The clip rules every painter keeps: a narrowed clip never leaves the canvas area, and the clip
// found is put back (inside the area) when the painter is done.
#include <algorithm>
#include <cstdint>

#include "gui/draw/canvas.h"

namespace lumo::gui {

// The overlap of two rectangles; width or height 0 when they do not meet. Computed in 64 bits, so
// rectangles near the ends of the 32-bit range never wrap.
inline Rect meet(Rect a, Rect b) {
    const int64_t x0 = std::max<int64_t>(a.x, b.x), y0 = std::max<int64_t>(a.y, b.y);
    const int64_t x1 = std::min<int64_t>(int64_t(a.x) + a.w, int64_t(b.x) + b.w);
    const int64_t y1 = std::min<int64_t>(int64_t(a.y) + a.h, int64_t(b.y) + b.h);
    return {int32_t(x0), int32_t(y0), int32_t(std::max<int64_t>(0, x1 - x0)), int32_t(std::max<int64_t>(0, y1 - y0))};
}

// Remembers the canvas clip; narrow() cuts it to a box, and the remembered clip comes back on leaving.
class ClipScope {
public:
    explicit ClipScope(Canvas& canvas) : canvas_(canvas), saved_(canvas.clip) {}
    ClipScope(Canvas& canvas, Rect box) : ClipScope(canvas) { narrow(box); }
    ~ClipScope() { restore(); }
    ClipScope(const ClipScope&) = delete;
    ClipScope& operator=(const ClipScope&) = delete;

    void narrow(Rect box) { canvas_.clip = meet(meet(canvas_.clip, box), canvas_.area); }
    void restore() { canvas_.clip = meet(saved_, canvas_.area); }
    Rect saved() const { return saved_; }

private:
    Canvas& canvas_;
    Rect saved_;
};

}  // namespace lumo::gui
