#pragma once
// Anti-aliased path fill: exact horizontal coverage on a chosen number of sub-scanlines per pixel
// row, by the nonzero or even-odd rule. Large fills may be split into row bands worked by
// short-lived threads, joined before the call returns; the result is the same either way.
#include <vector>

#include "gui/draw/canvas.h"
#include "gui/draw/path.h"

namespace lumo::gui {

// Fills every sub-path as a closed polygon; samples clamped to 1..64.
void fillPath(Canvas& canvas, const Path& path, Color color, bool evenOdd, int samples);

// Process-wide limit on the threads a fill may use (the caller included): clamp(n, 1, 64).
// Starts at 1, so fills run on the calling thread unless a program raises it.
void setRasterThreads(int n);
int rasterThreads();

namespace raster {

struct Edge {
    double x0, y0, x1, y1;  // as given, not reordered
    int dir;                // +1 when y1 > y0, else -1
};

// Adds the closed polygon of n points. With orient, polygons of negative signed area are added
// reversed so that all of them wind the same way. Horizontal and non-finite edges are skipped.
void addPolygon(std::vector<Edge>& edges, const Pt* pts, size_t n, bool orient);
void rasterize(Canvas& canvas, const std::vector<Edge>& edges, Color color, bool evenOdd, int samples);

}  // namespace raster
}  // namespace lumo::gui
