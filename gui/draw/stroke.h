#pragma once
// Path stroking: the outline of a path becomes small polygons (one quadrilateral per segment plus
// join and cap pieces) that all wind the same way and are filled once by the nonzero rule, so a
// translucent stroke has no darker seams where pieces overlap.
#include <cstdint>

#include "gui/draw/canvas.h"
#include "gui/draw/path.h"

namespace lumo::gui {

struct StrokeStyle {
    double width = 1.0;      // full line width in canvas pixels
    int32_t cap = 0;         // 0 butt, 1 round, 2 square
    int32_t join = 0;        // 0 miter, 1 round, 2 bevel
    double miterLimit = 4.0;
};

// Round joins and caps everywhere, 4 sub-scanlines.
void strokePath(Canvas& canvas, const Path& path, double width, Color color);
// Caps, joins and miter limit as styled; samples clamped to 1..64.
void strokePath(Canvas& canvas, const Path& path, const StrokeStyle& style, Color color, int samples);

}  // namespace lumo::gui
