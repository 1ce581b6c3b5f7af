// The bitmap blends' fast paths (opaque groups copied, clear ones skipped, four and eight pixels at a
// time, masked row ends) against the rule pixel by pixel, over random bitmaps, clips and offsets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "gui/draw/blend.h"
#include "gui/draw/canvas.h"
#include "tests/draw/draw_support.h"

using namespace lumo::gui;
using namespace drawtest;

namespace {

// How the alpha bytes of a random bitmap are chosen: runs of opaque, clear and mixed pixels of random
// lengths reach every kind of group (all opaque, all clear, mixed) at every place in a row.
enum class Alpha { Opaque, Clear, Mixed, Runs, Extremes };

uint32_t randomPixel(std::mt19937& rng, Alpha kind, int& run, uint32_t& runAlpha) {
    const uint32_t colour = rng() & 0x00FFFFFFu;
    switch (kind) {
        case Alpha::Opaque: return colour | 0xFF000000u;
        case Alpha::Clear: return colour;
        case Alpha::Mixed: return colour | (rng() & 0xFF000000u);
        case Alpha::Extremes: {
            static const uint32_t kA[] = {0, 1, 127, 128, 254, 255};
            return colour | kA[rng() % 6] << 24;
        }
        case Alpha::Runs:
            if (run-- <= 0) {
                run = int(rng() % 40);
                const uint32_t pick = rng() % 3;
                runAlpha = pick == 0 ? 255 : pick == 1 ? 0 : 256;  // 256: every pixel its own alpha
            }
            return colour | (runAlpha == 256 ? rng() & 0xFF000000u : runAlpha << 24);
    }
    return colour;
}

Bitmap randomBitmap(std::mt19937& rng, int w, int h, Alpha kind) {
    Bitmap bm = makeBitmap(w, h);
    int run = 0;
    uint32_t runAlpha = 255;
    for (uint32_t& p : bm.pixels) p = randomPixel(rng, kind, run, runAlpha);
    return bm;
}

Canvas randomCanvas(std::mt19937& rng, int w, int h) {
    Canvas cv = makeCanvas(w, h);
    for (uint32_t& p : cv.pixels) p = rng();
    return cv;
}

Rect randomRect(std::mt19937& rng, int w, int h) {
    const int x = int(rng() % uint32_t(w + 20)) - 10, y = int(rng() % uint32_t(h + 20)) - 10;
    return Rect{x, y, int(rng() % uint32_t(w + 10)), int(rng() % uint32_t(h + 10))};
}

bool inside(const Rect& r, int x, int y) {
    return x >= r.x && y >= r.y && int64_t(x) < int64_t(r.x) + r.w && int64_t(y) < int64_t(r.y) + r.h;
}

// What a bitmap region drawn 1:1 at (x, y) under the clip makes of the canvas, by the rule: weight
// = source alpha x opacity (or the tint's alpha), colour = the source's (or the tint's). The part of
// the region inside the bitmap is what lands at (x, y).
Canvas expected(Canvas cv, const Bitmap& bm, Rect src, int x, int y, uint32_t o, const Color* tint) {
    const Rect clip = cv.clip;
    const int x0 = std::max(src.x, 0), y0 = std::max(src.y, 0);
    const int w = std::min(bm.w, src.x + src.w) - x0, h = std::min(bm.h, src.y + src.h) - y0;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            const int sx = x0 + i, sy = y0 + j, dx = x + i, dy = y + j;
            if (!inside(clip, dx, dy) || dx < 0 || dy < 0 || dx >= cv.width || dy >= cv.height) continue;
            const uint32_t s = bm.pixels[size_t(sy) * size_t(bm.w) + size_t(sx)];
            const uint32_t colour = tint ? pixelOf(*tint) : s;
            const uint32_t a = ((s >> 24) * (tint ? *tint >> 24 : o) + 127) / 255;
            uint32_t& d = cv.pixels[size_t(dy) * size_t(cv.width) + size_t(dx)];
            d = refBlend(d, colour, a);
        }
    return cv;
}

// The first differing pixel, or "" when the canvases agree.
std::string firstDifference(const Canvas& got, const Canvas& want) {
    for (size_t i = 0; i < want.pixels.size(); ++i)
        if (got.pixels[i] != want.pixels[i]) {
            char b[96];
            std::snprintf(b, sizeof b, "at (%d, %d): %08X, the rule gives %08X", int(i % size_t(want.width)),
                          int(i / size_t(want.width)), got.pixels[i], want.pixels[i]);
            return b;
        }
    return "";
}

constexpr Alpha kKinds[] = {Alpha::Opaque, Alpha::Clear, Alpha::Mixed, Alpha::Runs, Alpha::Extremes};

}  // namespace

// drawBitmap, drawBitmapRegion and drawBitmapTinted through the canvas, with random sizes (narrow
// glyph-like ones and rows longer than a few groups), regions, offsets past every edge and clips.
TEST(BlendPaths, CanvasBitmapDrawsMatchTheRule) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 3000; ++round) {
        const Alpha kind = kKinds[round % 5];
        const int w = 1 + int(rng() % (round % 3 == 0 ? 12u : 90u)), h = 1 + int(rng() % 20);
        const Bitmap bm = randomBitmap(rng, w, h, kind);
        Canvas cv = randomCanvas(rng, 70 + int(rng() % 40), 30 + int(rng() % 10));
        cv.clip = round % 4 == 0 ? cv.area : randomRect(rng, cv.width, cv.height);
        if (cv.clip.w < 0) cv.clip.w = 0;
        const int x = int(rng() % uint32_t(cv.width + 2 * w)) - w, y = int(rng() % uint32_t(cv.height + 2 * h)) - h;
        const Canvas before = cv;
        Canvas want;
        const int op = int(rng() % 3);
        if (op == 0) {
            const uint32_t o = rng() % 2 ? 255 : rng() % 256;
            want = expected(before, bm, Rect{0, 0, w, h}, x, y, o, nullptr);
            cv.drawBitmap(bm, x, y, 1, uint8_t(o));
        } else if (op == 1) {
            const Rect src = randomRect(rng, w, h);
            want = expected(before, bm, src, x, y, 255, nullptr);
            cv.drawBitmapRegion(bm, src, x, y, 1, 255);
        } else {
            const Color tint = (rng() % 2 ? 0xFF000000u : rng() & 0xFF000000u) | (rng() & 0xFFFFFFu);
            want = expected(before, bm, Rect{0, 0, w, h}, x, y, 255, &tint);
            cv.drawBitmapTinted(bm, x, y, tint);
        }
        ASSERT_EQ(firstDifference(cv, want), "") << "round " << round << ", kind " << int(kind) << ", op " << op
                                                  << ", " << w << " x " << h << " at (" << x << ", " << y << ")";
    }
}

// The row kernels themselves, both widths, whatever this processor picks for the canvas: every row
// length from 0 to 80 (all group and tail splits) at every kind of alpha and a few tint alphas.
TEST(BlendPaths, RowKernelsOfBothWidthsMatchTheRule) {
    std::mt19937 rng(7);
    using Row = void (*)(uint32_t*, const uint32_t*, int64_t, uint32_t, uint32_t);
    const Row source4 = [](uint32_t* d, const uint32_t* s, int64_t n, uint32_t, uint32_t) { blend::sourceOver(d, s, n); };
    const Row source8 = [](uint32_t* d, const uint32_t* s, int64_t n, uint32_t, uint32_t) {
        blend::sourceOverWide(d, n, s, n, n, 1);
    };
    const Row tint8 = [](uint32_t* d, const uint32_t* s, int64_t n, uint32_t px, uint32_t c) {
        blend::tintOverWide(d, n, s, n, n, 1, px, c);
    };
    const struct {
        const char* name;
        Row row;
        bool tinted;
    } kernels[] = {{"sourceOver", source4, false},
                   {"sourceOverWide", source8, false},
                   {"tintOver", blend::tintOver, true},
                   {"tintOverWide", tint8, true}};
    for (const auto& k : kernels)
        for (Alpha kind : kKinds)
            for (int n = 0; n <= 80; ++n)
                for (uint32_t c : {255u, 254u, 128u, 1u}) {
                    if (!k.tinted && c != 255) continue;
                    const Bitmap bm = randomBitmap(rng, n + 2, 1, kind);
                    std::vector<uint32_t> d(size_t(n) + 2), want;
                    for (uint32_t& p : d) p = rng();
                    want = d;
                    const uint32_t px = rng() & 0xFFFFFFu;
                    // One pixel on each side stays outside the row, to show nothing past its ends is touched.
                    for (int i = 1; i <= n; ++i) {
                        const uint32_t s = bm.pixels[size_t(i)];
                        want[size_t(i)] = refBlend(want[size_t(i)], k.tinted ? px : s, ((s >> 24) * c + 127) / 255);
                    }
                    k.row(d.data() + 1, bm.pixels.data() + 1, n, px, c);
                    ASSERT_EQ(d, want) << k.name << ", kind " << int(kind) << ", n " << n << ", c " << c;
                }
}
