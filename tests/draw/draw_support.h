#pragma once
// Shared helpers of the drawing tests: a literal form of the blend rule to check the fast paths
// against, and small canvas and bitmap builders.
#include <cstdint>
#include <vector>

#include "gui/draw/canvas.h"

namespace drawtest {

using lumo::gui::Bitmap;
using lumo::gui::Canvas;
using lumo::gui::Color;

// The blend rule written out with plain integer division; px is a 0xAARRGGBB source.
inline uint32_t refBlend(uint32_t d, uint32_t px, uint32_t a) {
    if (a == 0) return d;
    if (a == 255) return px | 0xFF000000u;
    auto ch = [&](int shift) { return (((d >> shift) & 0xFF) * (255 - a) + ((px >> shift) & 0xFF) * a + 127) / 255; };
    const uint32_t al = a + ((d >> 24) * (255 - a) + 127) / 255;
    return al << 24 | ch(16) << 16 | ch(8) << 8 | ch(0);
}

inline Canvas makeCanvas(int w, int h, uint32_t fill = 0) {
    Canvas cv;
    cv.resize(w, h);
    std::fill(cv.pixels.begin(), cv.pixels.end(), fill);
    return cv;
}

inline Bitmap makeBitmap(int w, int h, uint32_t fill = 0) {
    Bitmap bm;
    bm.w = w;
    bm.h = h;
    bm.pixels.assign(size_t(w) * size_t(h), fill);
    return bm;
}

inline uint32_t px(const Canvas& cv, int x, int y) { return cv.pixels[size_t(y) * size_t(cv.width) + size_t(x)]; }

// Number of pixels that differ from the given value.
inline int countNot(const Canvas& cv, uint32_t v) {
    int n = 0;
    for (uint32_t p : cv.pixels) n += p != v;
    return n;
}

// Grey 0xAARRGGBB with every colour channel v.
inline uint32_t grey(uint32_t v, uint32_t a) { return a << 24 | v << 16 | v << 8 | v; }

}  // namespace drawtest
