#pragma once
// Small canvas helpers for drawing tests: a cleared canvas and pixel and alpha probes.
#include <cstdint>

#include "gui/draw/canvas.h"

namespace testsupport {

inline lumo::gui::Canvas blankCanvas(int w, int h) {
    lumo::gui::Canvas c;
    c.resize(w, h);
    return c;
}

inline uint32_t pixelAt(const lumo::gui::Canvas& c, int x, int y) { return c.pixels[(size_t)y * c.width + x]; }
inline uint32_t alphaAt(const lumo::gui::Canvas& c, int x, int y) { return pixelAt(c, x, y) >> 24; }

// The sum of all alphas in units of whole pixels: a fill's covered area.
inline double alphaSum(const lumo::gui::Canvas& c) {
    double s = 0;
    for (uint32_t p : c.pixels) s += (p >> 24) / 255.0;
    return s;
}

}  // namespace testsupport
