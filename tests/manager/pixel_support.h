#pragma once
// Helpers of the pixel-look tests: a canvas on a sentinel colour, ink boxes, mirror checks, and the
// folder next to the test program where pictures are written for a person to look at.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "gui/draw/canvas.h"
#include "gui/widget.h"
#include "tests/support/png.h"

namespace pixeltest {

using lumo::gui::Canvas;
using lumo::gui::Rect;

inline constexpr double kScales[] = {1.0, 1.25, 1.5, 2.0, 3.0};
inline constexpr uint32_t kPaper = 0xFF30A0F0u;  // a colour no primitive uses (pixel form)

inline Canvas paper(int w, int h) {
    Canvas c;
    c.resize(w, h);
    for (uint32_t& px : c.pixels) px = kPaper;
    return c;
}

// A length of points at a scale, rounded to whole pixels as the painting rounds it.
inline int lr(double v) { return int(std::lround(v)); }

// The scale as picture names write it: "1x", "1.5x".
inline std::string scaleName(double s) {
    char name[16];
    std::snprintf(name, sizeof name, "%gx", s);
    return name;
}

inline uint32_t at(const Canvas& c, int x, int y) { return c.pixels[size_t(y) * c.width + x]; }

inline lumo::gui::Paint paintOf(Canvas& c, double scale) {
    return lumo::gui::Paint{c, Rect{0, 0, c.width, c.height}, scale, false, {}, {}};
}

// A paint of a w x h point box at scale s, placed at pixel (x, y) of the canvas.
inline lumo::gui::Paint paintAt(Canvas& c, int x, int y, int w, int h, double s) {
    return lumo::gui::Paint{c, Rect{x, y, lr(w * s), lr(h * s)}, s, false, {}, {}};
}

// The smallest rectangle holding every pixel that is not the paper; empty when there is none.
inline Rect inkBox(const Canvas& c) {
    int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            if (at(c, x, y) != kPaper) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    return x1 < 0 ? Rect{} : Rect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

inline bool inside(Rect inner, Rect outer) {
    return inner.empty() || (inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
                             inner.y + inner.h <= outer.y + outer.h);
}

// Whether the pixels of box equal their mirror image left-right (horizontal) or top-bottom.
inline bool mirrored(const Canvas& c, Rect b, bool horizontal) {
    for (int y = b.y; y < b.y + b.h; ++y)
        for (int x = b.x; x < b.x + b.w; ++x) {
            const int mx = horizontal ? b.x + b.w - 1 - (x - b.x) : x;
            const int my = horizontal ? y : b.y + b.h - 1 - (y - b.y);
            if (at(c, x, y) != at(c, mx, my)) return false;
        }
    return true;
}

inline int count(const Canvas& c, uint32_t pixel) {
    int n = 0;
    for (uint32_t px : c.pixels) n += px == pixel;
    return n;
}

inline uint64_t hashOf(const Canvas& c) {
    uint64_t h = 1469598103934665603ull;
    for (uint32_t px : c.pixels) h = (h ^ px) * 1099511628211ull;
    return h;
}

// The folder of the running test program: the build folder of the tests.
inline std::filesystem::path pictureDir() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path(ec) : exe.parent_path();
}

// Nearest-neighbour enlargement, to look at single pixels.
inline Canvas enlarged(const Canvas& c, int k) {
    Canvas big;
    big.resize(c.width * k, c.height * k);
    for (int y = 0; y < big.height; ++y)
        for (int x = 0; x < big.width; ++x) big.pixels[size_t(y) * big.width + x] = at(c, x / k, y / k);
    return big;
}

// Writes the picture next to the test program and reads it back: the decoded pixels must be the canvas's.
inline ::testing::AssertionResult writePicture(const Canvas& c, const std::string& name) {
    const std::string path = (pictureDir() / name).string();
    const std::string png = testsupport::encodeQuickPng(c.width, c.height, c.pixels);
    if (png.empty()) return ::testing::AssertionFailure() << "cannot encode " << name;
    std::ofstream(path, std::ios::binary).write(png.data(), std::streamsize(png.size()));
    const lumo::gui::Bitmap back = lumo::gui::Bitmap::loadFile(path);
    if (back.w != c.width || back.h != c.height || back.pixels != c.pixels)
        return ::testing::AssertionFailure() << path << " does not read back as written";
    return ::testing::AssertionSuccess();
}

}  // namespace pixeltest
