#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include <functional>

#include "gui/draw/assets.h"
#include "gui/draw/canvas.h"
#include "tests/draw/draw_support.h"

using namespace lumo::gui;
using namespace drawtest;

// The four-pixel fill path against the literal rule for every destination, source and alpha value.
// Rows of 255 pixels leave a three-pixel scalar tail in every row.
TEST(Blend, FillMatchesTheRuleForEveryValue) {
    Canvas cv = makeCanvas(255, 256);
    for (uint32_t a = 0; a < 256; ++a) {
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 255; ++x) cv.pixels[size_t(y) * 255 + size_t(x)] = grey(uint32_t(x), uint32_t(x) ^ 0x5A);
        for (uint32_t s = 0; s < 256; ++s) cv.fillRect(Rect{0, int(s), 255, 1}, a << 24 | s << 16 | s << 8 | s);
        int bad = 0;
        for (uint32_t s = 0; s < 256 && bad == 0; ++s)
            for (uint32_t d = 0; d < 255; ++d)
                bad += px(cv, int(d), int(s)) != refBlend(grey(d, d ^ 0x5A), grey(s, 0), a);
        ASSERT_EQ(bad, 0) << "alpha " << a;
    }
}

// Bitmap pixels carry their own alpha: every (destination, source, alpha) through drawBitmap, at full
// opacity and at a few lower ones, where the weight is (s * o + 127) / 255.
TEST(Blend, BitmapMatchesTheRuleForEveryValue) {
    Canvas cv = makeCanvas(255, 256);
    Bitmap bm = makeBitmap(255, 256);
    for (uint32_t o : {255u, 128u, 1u}) {
        for (uint32_t a = 0; a < 256; ++a) {
            for (uint32_t s = 0; s < 256; ++s)
                for (uint32_t d = 0; d < 255; ++d) {
                    cv.pixels[s * 255 + d] = grey(d, 255 - d);
                    bm.pixels[s * 255 + d] = a << 24 | s << 16 | (255 - s) << 8 | (s ^ d);
                }
            cv.drawBitmap(bm, 0, 0, 1, uint8_t(o));
            const uint32_t w = o == 255 ? a : (a * o + 127) / 255;
            int bad = 0;
            for (uint32_t s = 0; s < 256 && bad == 0; ++s)
                for (uint32_t d = 0; d < 255; ++d) bad += px(cv, int(d), int(s)) != refBlend(grey(d, 255 - d), bm.pixels[s * 255 + d], w);
            ASSERT_EQ(bad, 0) << "alpha " << a << " opacity " << o;
        }
    }
}

// A colour through a per-pixel mask (tinted bitmaps, text) for every destination, mask and colour alpha.
TEST(Blend, MaskMatchesTheRuleForEveryValue) {
    Canvas cv = makeCanvas(255, 256);
    Bitmap mask = makeBitmap(255, 256);
    for (uint32_t y = 0; y < 256; ++y)
        for (uint32_t x = 0; x < 255; ++x) mask.pixels[y * 255 + x] = y << 24 | 0x123456;
    for (uint32_t ca = 0; ca < 256; ca += 3) {
        for (uint32_t i = 0; i < cv.pixels.size(); ++i) cv.pixels[i] = grey(i % 255, (i * 7) & 0xFF);
        const Color c = ca << 24 | 0x30C0F0;
        cv.drawBitmapTinted(mask, 0, 0, c);
        int bad = 0;
        for (uint32_t y = 0; y < 256; ++y)
            for (uint32_t x = 0; x < 255; ++x) {
                const uint32_t i = y * 255 + x;
                bad += cv.pixels[i] != refBlend(grey(x, (i * 7) & 0xFF), pixelOf(c), (y * ca + 127) / 255);
            }
        ASSERT_EQ(bad, 0) << "colour alpha " << ca;
    }
}

TEST(Blend, WorkedExamples) {
    EXPECT_EQ(blendRule(0xFF000000u, 0x80FFFFFFu, 128), 0xFF808080u);            // 50 % white on black
    EXPECT_EQ(blendRule(0x00000000u, 0x64FF0000u, 100) & 0xFF000000u, 100u << 24);  // into transparent
    EXPECT_EQ(blendRule(0x00000000u, 0x64FF0000u, 100) & 0xFF, (255u * 100 + 127) / 255);  // red -> low byte
    EXPECT_EQ(blendRule(0x12345678u, 0xFFFFFFFFu, 0), 0x12345678u);
    EXPECT_EQ(pixelOf(0xAABBCCDDu), 0xAADDCCBBu);
}

TEST(Canvas, RectanglesClipAndSkip) {
    struct Case {
        const char* name;
        Rect clip;
        Rect r;
        Color c;
        int changed;
    };
    const Case cases[] = {
        {"inside", {0, 0, 20, 20}, {2, 3, 4, 5}, 0xFF0000FFu, 20},
        {"partly out", {0, 0, 20, 20}, {-2, -2, 4, 4}, 0xFF0000FFu, 4},
        {"narrow clip", {5, 5, 3, 3}, {0, 0, 20, 20}, 0xFF0000FFu, 9},
        {"zero width", {0, 0, 20, 20}, {1, 1, 0, 5}, 0xFF0000FFu, 0},
        {"negative height", {0, 0, 20, 20}, {1, 1, 5, -5}, 0xFF0000FFu, 0},
        {"alpha zero", {0, 0, 20, 20}, {0, 0, 20, 20}, 0x000000FFu, 0},
        {"huge", {0, 0, 20, 20}, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, 0xFF0000FFu, 0},
        {"huge far end", {0, 0, 20, 20}, {10, 10, INT32_MAX, INT32_MAX}, 0xFF0000FFu, 100},
        {"empty clip", {3, 3, 0, 0}, {0, 0, 20, 20}, 0xFF0000FFu, 0},
    };
    for (const Case& k : cases) {
        Canvas cv = makeCanvas(20, 20);
        cv.clip = k.clip;
        cv.fillRect(k.r, k.c);
        EXPECT_EQ(countNot(cv, 0), k.changed) << k.name;
    }
}

TEST(Canvas, LinesAndOutlines) {
    Canvas cv = makeCanvas(20, 20);
    cv.hline(10, 5, 2, 0xFFFFFFFFu);
    for (int x = 0; x < 20; ++x) EXPECT_EQ(px(cv, x, 2) != 0, x >= 5 && x <= 10) << x;
    cv = makeCanvas(20, 20);
    cv.vline(3, 9, 4, 0xFFFFFFFFu);
    EXPECT_EQ(countNot(cv, 0), 6);

    cv = makeCanvas(20, 20);
    cv.line(4, 4, 4, 4, 0xFFFFFFFFu);
    EXPECT_EQ(countNot(cv, 0), 1);
    cv = makeCanvas(20, 20);
    cv.line(0, 0, 6, 2, 0xFFFFFFFFu);  // Bresenham: (0,0) (1,0) (2,1) (3,1) (4,1) (5,2) (6,2)
    const int expect[][2] = {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 2}, {6, 2}};
    for (auto& p : expect) EXPECT_NE(px(cv, p[0], p[1]), 0u) << p[0] << "," << p[1];
    EXPECT_EQ(countNot(cv, 0), 7);
    // From far outside through the canvas: finishes and draws the part inside.
    cv = makeCanvas(20, 20);
    cv.line(-200000, 5, 2000000000, 5, 0xFFFFFFFFu);
    EXPECT_EQ(countNot(cv, 0), 20);
    // A line across the whole coordinate range plots in the clip what a short line of the same slope,
    // drawn whole on a larger canvas, plots in the same place: slopes p/q along either axis, both
    // directions, with the clip's edges moved so the line enters it at every remainder of the slope.
    const int slopes[][2] = {{1, 2}, {1, 3}, {2, 5}, {3, 7}, {1, 1}, {0, 1}};
    for (const auto& sl : slopes)
        for (int variant = 0; variant < 4; ++variant)
            for (int edge = 0; edge < 7; ++edge) {
                const int64_t p = sl[0], q = sl[1];
                auto draw = [&](Canvas& on, int64_t k, int64_t o) {
                    int64_t x0 = o - q * k, y0 = o - p * k, x1 = o + q * k, y1 = o + p * k;
                    if (variant & 1) std::swap(x0, y0), std::swap(x1, y1);
                    if (variant & 2) std::swap(x0, x1), std::swap(y0, y1);
                    on.line(int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1), 0xFFFFFFFFu);
                };
                Canvas whole = makeCanvas(200, 200), window = makeCanvas(20, 20);
                draw(whole, 48 / q + 1, 100);
                const Rect clip = (variant & 1) ? Rect{0, edge, 20, 20 - 2 * edge} : Rect{edge, 0, 20 - 2 * edge, 20};
                window.clip = clip;
                draw(window, 2147483646 / q, 0);
                int bad = 0;
                for (int y = 0; y < 20; ++y)
                    for (int x = 0; x < 20; ++x) {
                        const bool in = x >= clip.x && x < clip.x + clip.w && y >= clip.y && y < clip.y + clip.h;
                        bad += px(window, x, y) != (in ? px(whole, 100 + x, 100 + y) : 0u);
                    }
                EXPECT_EQ(bad, 0) << p << "/" << q << " variant " << variant << " edge " << edge;
            }

    cv = makeCanvas(20, 20);
    cv.strokeRect(Rect{2, 2, 10, 8}, 0xFFFFFFFFu, 0);
    EXPECT_EQ(countNot(cv, 0), 0);
    cv.strokeRect(Rect{2, 2, 10, 4}, 0xFFFFFFFFu, 2);  // 2t >= h: top and bottom bars only
    EXPECT_EQ(countNot(cv, 0), 40);
    // A translucent outline blends no pixel twice.
    cv = makeCanvas(20, 20, 0xFF000000u);
    cv.strokeRect(Rect{1, 1, 8, 8}, 0x80FFFFFFu, 2);
    for (uint32_t p : cv.pixels) EXPECT_TRUE(p == 0xFF000000u || p == 0xFF808080u);
}

TEST(Canvas, ClearFillsTheAreaAndResetsTheClip) {
    Canvas cv = makeCanvas(8, 8);
    cv.clip = Rect{2, 2, 2, 2};
    cv.clear(0x40302010u);
    EXPECT_EQ(countNot(cv, 0x40102030u), 0);  // stored as given, red and blue exchanged
    EXPECT_EQ(cv.clip.x, 0);
    EXPECT_EQ(cv.clip.w, 8);
}

TEST(Canvas, ColumnsBlendInListOrder) {
    Canvas cv = makeCanvas(10, 4, 0xFF000000u);
    cv.clip = Rect{0, 1, 10, 2};
    const ColumnFill bars[] = {{0, 4, 0xFF0000FFu}, {2, 4, 0x8000FF00u}, {-5, 100, 0x00FFFFFFu}, {8, -1, 0xFFFFFFFFu}};
    cv.fillColumns(bars, 4, 0, 4);
    for (int y = 0; y < 4; ++y) {
        const bool in = y == 1 || y == 2;
        EXPECT_EQ(px(cv, 0, y), in ? 0xFFFF0000u : 0xFF000000u);
        EXPECT_EQ(px(cv, 3, y), in ? refBlend(0xFFFF0000u, 0xFF00FF00u, 128) : 0xFF000000u);
        EXPECT_EQ(px(cv, 5, y), in ? refBlend(0xFF000000u, 0xFF00FF00u, 128) : 0xFF000000u);
        EXPECT_EQ(px(cv, 8, y), 0xFF000000u);
    }
}

TEST(Canvas, DiscsAndRoundedCorners) {
    Canvas cv = makeCanvas(9, 9);
    cv.fillCircle(4, 4, 0, 0xC8FFFFFFu);  // only the centre, at trunc(0.5 * 200)
    EXPECT_EQ(countNot(cv, 0), 1);
    EXPECT_EQ(px(cv, 4, 4) >> 24, 100u);
    cv = makeCanvas(9, 9);
    cv.fillCircle(4, 4, -1, 0xFFFFFFFFu);
    EXPECT_EQ(countNot(cv, 0), 0);
    cv = makeCanvas(40, 40);
    cv.fillCircle(20, 20, 10, 0xFFFFFFFFu);
    EXPECT_EQ(px(cv, 20, 20), 0xFFFFFFFFu);
    EXPECT_EQ(px(cv, 20, 9), 0u);  // distance 11 > 10.5
    EXPECT_EQ(px(cv, 20, 10) >> 24, 127u);  // distance 10: trunc(0.5 * 255)
    // Symmetric about the centre.
    for (int y = 0; y < 40; ++y)
        for (int x = 1; x < 40; ++x) ASSERT_EQ(px(cv, x, y), px(cv, 40 - x, y)) << x << "," << y;
    // A huge radius with a small clip visits only the clip.
    cv = makeCanvas(4, 4);
    cv.fillCircle(0, 0, INT32_MAX - 1, 0xFFFFFFFFu);
    EXPECT_EQ(countNot(cv, 0xFFFFFFFFu), 0);
    // The clip's corner lies just outside a huge disc far away: the offsets' squares exceed 64 bits.
    cv = makeCanvas(4, 4);
    cv.fillCircle(INT32_MIN, INT32_MIN, INT32_MAX, 0xFFFFFFFFu);
    EXPECT_EQ(countNot(cv, 0), 0);

    // k = 0: the corner pixels get a second blend at trunc(0.5 * alpha).
    cv = makeCanvas(6, 6, 0xFF000000u);
    cv.fillRoundRect(Rect{1, 1, 4, 4}, 0, 0x80FFFFFFu);
    const uint32_t once = refBlend(0xFF000000u, 0xFFFFFFFFu, 128);
    EXPECT_EQ(px(cv, 2, 2), once);
    EXPECT_EQ(px(cv, 1, 1), refBlend(once, 0xFFFFFFFFu, 64));
    EXPECT_EQ(px(cv, 4, 4), refBlend(once, 0xFFFFFFFFu, 64));
    // An opaque rounded rectangle leaves its outer corner pixel untouched and fills the middle.
    cv = makeCanvas(30, 30);
    cv.fillRoundRect(Rect{0, 0, 30, 20}, 6, 0xFFFFFFFFu);
    EXPECT_EQ(px(cv, 0, 0), 0u);
    EXPECT_EQ(px(cv, 15, 10), 0xFFFFFFFFu);
    EXPECT_EQ(px(cv, 29, 19), 0u);
    EXPECT_EQ(px(cv, 0, 10), 0xFFFFFFFFu);
    EXPECT_EQ(px(cv, 15, 20), 0u);
}

TEST(Canvas, BitmapRegionsAndScaling) {
    Bitmap bm = makeBitmap(4, 4);
    for (int i = 0; i < 16; ++i) bm.pixels[size_t(i)] = 0xFF000000u | uint32_t(i + 1);
    // A source starting at (-3, -3) puts the clamped corner (0, 0) at (x, y).
    Canvas cv = makeCanvas(10, 10);
    cv.drawBitmapRegion(bm, Rect{-3, -3, 5, 5}, 2, 2, 1, 255);
    EXPECT_EQ(px(cv, 2, 2), 0xFF000001u);
    EXPECT_EQ(px(cv, 3, 3), 0xFF000006u);
    EXPECT_EQ(countNot(cv, 0), 4);
    // Scale 3: each source pixel a 3 x 3 block, clipped.
    cv = makeCanvas(10, 10);
    cv.clip = Rect{0, 0, 5, 10};
    cv.drawBitmapRegion(bm, Rect{0, 0, 2, 2}, 1, 1, 3, 255);
    EXPECT_EQ(px(cv, 3, 3), 0xFF000001u);
    EXPECT_EQ(px(cv, 4, 1), 0xFF000002u);
    EXPECT_EQ(px(cv, 4, 4), 0xFF000006u);
    EXPECT_EQ(px(cv, 1, 6), 0xFF000005u);
    EXPECT_EQ(countNot(cv, 0), 4 * 6);
    // Nothing for scale 0, an empty bitmap or a source outside the bitmap.
    cv = makeCanvas(10, 10);
    cv.drawBitmapRegion(bm, Rect{0, 0, 4, 4}, 0, 0, 0, 255);
    cv.drawBitmap(Bitmap{}, 0, 0, 1, 255);
    cv.drawBitmapRegion(bm, Rect{4, 0, 3, 3}, 0, 0, 1, 255);
    cv.drawBitmapScaled(Bitmap{}, Rect{0, 0, 1, 1}, Rect{0, 0, 5, 5}, 255);
    EXPECT_EQ(countNot(cv, 0), 0);

    // A source rectangle larger than the bitmap stretches only the part inside it.
    cv = makeCanvas(8, 8);
    cv.drawBitmapScaled(bm, Rect{2, 2, 100, 100}, Rect{0, 0, 8, 8}, 255);
    EXPECT_EQ(px(cv, 0, 0), 0xFF00000Bu);
    EXPECT_EQ(px(cv, 7, 7), 0xFF000010u);
    EXPECT_EQ(px(cv, 4, 0), 0xFF00000Cu);
    // Translucent rows are blended, and a repeated source row gives the same pixels as sampling it.
    Bitmap tr = makeBitmap(2, 1, 0x80FFFFFFu);
    cv = makeCanvas(4, 4, 0xFF000000u);
    cv.drawBitmapScaled(tr, Rect{0, 0, 2, 1}, Rect{0, 0, 4, 4}, 255);
    EXPECT_EQ(countNot(cv, refBlend(0xFF000000u, 0xFFFFFFFFu, 128)), 0);
}

// Positions times sizes are taken in 64 bits: 100000 x 30000 does not wrap.
TEST(Canvas, ScaledBitmapOfLargeSizesDoesNotOverflow) {
    Bitmap bm = makeBitmap(30000, 1);
    for (int i = 0; i < 30000; ++i) bm.pixels[size_t(i)] = 0xFF000000u | uint32_t(i);
    Canvas cv = makeCanvas(10, 1);
    const Rect dst{-99990, 0, 100000, 1};
    cv.drawBitmapScaled(bm, Rect{0, 0, 30000, 1}, dst, 255);
    for (int x = 0; x < 10; ++x) {
        const int64_t col = (int64_t(x) - dst.x) * 30000 / 100000;
        EXPECT_EQ(px(cv, x, 0), 0xFF000000u | uint32_t(col)) << x;
    }
}

// Opacity below 255 weights every pixel by (s * o + 127) / 255, skipping s * o < 128.
TEST(Canvas, BitmapOpacityWeights) {
    Bitmap bm = makeBitmap(3, 1);
    bm.pixels = {0xFFFFFFFFu, 0x01FFFFFFu, 0x00FFFFFFu};
    Canvas cv = makeCanvas(3, 1, 0xFF000000u);
    cv.drawBitmap(bm, 0, 0, 1, 127);
    EXPECT_EQ(px(cv, 0, 0), refBlend(0xFF000000u, 0xFFFFFFFFu, 127));
    EXPECT_EQ(px(cv, 1, 0), 0xFF000000u);  // 1 * 127 < 128
    EXPECT_EQ(px(cv, 2, 0), 0xFF000000u);
}

// A canvas whose pixels were never sized (or whose clip lies outside it) is drawn into safely.
TEST(Canvas, BrokenInvariantsDrawNothingOutside) {
    Canvas cv;
    cv.width = 100;
    cv.height = 100;
    cv.clip = cv.area = Rect{0, 0, 100, 100};
    cv.fillRect(Rect{0, 0, 100, 100}, 0xFFFFFFFFu);
    cv.clear(0xFFFFFFFFu);
    EXPECT_TRUE(cv.pixels.empty());
    Canvas small = makeCanvas(4, 4);
    small.clip = Rect{-10, -10, 100, 100};
    small.fillRect(Rect{-10, -10, 100, 100}, 0xFFFFFFFFu);
    EXPECT_EQ(countNot(small, 0xFFFFFFFFu), 0);
}

// Clipping only restricts: every primitive drawn under a narrow clip changes exactly the pixels inside
// the clip, to exactly what it draws there with the whole canvas open. This holds the clip-limited
// loops (disc and corner ranges, skipped lines, bitmap blocks, tiles) to the unclipped drawing.
TEST(Canvas, ClipOnlyRestricts) {
    const int W = 40, H = 30;
    Bitmap bm = makeBitmap(5, 4);
    for (size_t i = 0; i < bm.pixels.size(); ++i) bm.pixels[i] = uint32_t(i * 0x3B1D5) | uint32_t((i * 53) % 256) << 24;
    bm.pixels[3] |= 0xFF000000u;
    const Color c = 0xA0408020u;
    const ColumnFill bars[] = {{-3, 9, 0xFF102030u}, {4, 20, 0x60FFFFFFu}, {30, 50, 0x90000080u}};
    const NineSlice tiled{1, 1, 2, 1, 1, 1, true};
    const std::pair<const char*, std::function<void(Canvas&)>> ops[] = {
        {"rect", [&](Canvas& cv) { cv.fillRect(Rect{-5, 3, 30, 40}, c); }},
        {"outline", [&](Canvas& cv) { cv.strokeRect(Rect{2, 1, 33, 25}, c, 3); }},
        {"lines", [&](Canvas& cv) {
             cv.line(-7, 40, 45, -3, c);
             cv.line(39, 0, 0, 29, c);
             cv.line(-2000000000, -999999999, 2000000000, 1000000001, c);
         }},
        {"columns", [&](Canvas& cv) { cv.fillColumns(bars, 3, -2, 25); }},
        {"discs", [&](Canvas& cv) {
             cv.fillCircle(20, 15, 11, c);
             cv.fillCircle(-3, 28, 9, c);
             cv.fillCircle(38, 2, 0, c);
         }},
        {"round rect", [&](Canvas& cv) {
             cv.fillRoundRect(Rect{3, 2, 31, 26}, 9, c);
             cv.fillRoundRect(Rect{-6, 20, 20, 15}, 7, c);
         }},
        {"bitmap", [&](Canvas& cv) { cv.drawBitmapRegion(bm, Rect{-1, 1, 9, 9}, 1, 2, 1, 200); }},
        {"bitmap blocks", [&](Canvas& cv) { cv.drawBitmapRegion(bm, Rect{0, 0, 5, 4}, -4, 3, 7, 255); }},
        {"scaled", [&](Canvas& cv) {
             cv.drawBitmapScaled(bm, Rect{1, 0, 4, 4}, Rect{-3, -2, 37, 29}, 255);
             cv.drawBitmapScaled(bm, Rect{0, 0, 5, 4}, Rect{5, 6, 3, 2}, 180);
         }},
        {"tinted", [&](Canvas& cv) { cv.drawBitmapTinted(bm, 2, 25, c); }},
        {"text", [&](Canvas& cv) {
             cv.drawText(-3, 1, "Wg@|", c, Font::mono13(), 1);
             cv.drawText(4, 8, "Qj", c, Font::mono18(), 2);
         }},
        {"nine-slice", [&](Canvas& cv) {
             drawNineSlice(cv, bm, Rect{1, 1, 37, 27}, tiled, 1.0, 2.0, 255);
             drawNineSlice(cv, bm, Rect{-2, 3, 30, 20}, 2, 1, 200);
         }},
    };
    const Rect clips[] = {{3, 2, 5, 7},    {10, 4, 9, 11},         {W - 4, H - 3, 4, 3}, {0, 5, W, 1},
                          {7, 0, 1, H}, {1, 1, W - 2, H - 2}, {2, 2, 0, 0}};
    Canvas base = makeCanvas(W, H);
    for (size_t i = 0; i < base.pixels.size(); ++i) base.pixels[i] = uint32_t(i * 2654435761u);
    for (const auto& [name, draw] : ops) {
        Canvas whole = base;
        draw(whole);
        EXPECT_FALSE(whole.pixels == base.pixels) << name;
        for (const Rect& clip : clips) {
            Canvas cv = base;
            cv.clip = clip;
            draw(cv);
            int bad = 0;
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    const bool in = x >= clip.x && x < clip.x + clip.w && y >= clip.y && y < clip.y + clip.h;
                    bad += px(cv, x, y) != px(in ? whole : base, x, y);
                }
            EXPECT_EQ(bad, 0) << name << " in " << clip.x << "," << clip.y << " " << clip.w << "x" << clip.h;
        }
    }
}
