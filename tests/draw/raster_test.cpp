#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "gui/draw/raster.h"
#include "tests/support/canvas_probe.h"

using namespace lumo::gui;
using testsupport::alphaAt;

namespace {

Canvas blank(int w, int h) { return testsupport::blankCanvas(w, h); }
double totalAlpha(const Canvas& c) { return testsupport::alphaSum(c); }

struct ThreadGuard {
    ~ThreadGuard() { setRasterThreads(1); }
};

}  // namespace

TEST(Raster, FractionalRectanglesGiveTheirExactCoverage) {
    // Rectangles with edges on multiples of 1/8 (x) and 1/S (y): every pixel's alpha is its exact
    // covered share, sampled on the sub-scanlines, rounded once; overlaps included.
    struct R {
        double x, y, w, h;
    };
    struct Case {
        std::vector<R> rects;
        bool evenOdd;
        int samples;
    } cases[] = {
        {{{10.25, 3, 0.5, 4}}, false, 4},
        {{{2.5, 2.5, 7.25, 5.5}}, false, 4},
        {{{1.375, 0.75, 20.5, 9.5}}, false, 16},
        {{{4, 4, 1, 1}}, false, 1},
        {{{2.125, 1.25, 9.5, 6.5}, {6.625, 3.5, 9.25, 8.75}, {3.75, 5.125, 0.25, 0.5}}, false, 8},
        {{{2.125, 1.25, 9.5, 6.5}, {6.625, 3.5, 9.25, 8.75}}, true, 16},
        {{{0.875, 0.5, 30.25, 0.25}, {5.5, 0.25, 0.125, 17.5}}, false, 64},
    };
    for (const auto& cs : cases) {
        Canvas c = blank(40, 20);
        Path p;
        for (const R& r : cs.rects) p.rect(r.x, r.y, r.w, r.h);
        fillPath(c, p, 0xFFFFFFFFu, cs.evenOdd, cs.samples);
        const int S = cs.samples;
        for (int py = 0; py < 20; ++py)
            for (int px = 0; px < 40; ++px) {
                int hits = 0;  // sample points inside, out of 8 per sub-scanline
                for (int k = 0; k < S; ++k)
                    for (int j = 0; j < 8; ++j) {
                        const double sx = px + (j + 0.5) / 8, sy = py + (k + 0.5) / S;
                        int n = 0;
                        for (const R& r : cs.rects) n += sx >= r.x && sx < r.x + r.w && sy >= r.y && sy < r.y + r.h;
                        hits += cs.evenOdd ? n % 2 : n > 0;
                    }
                const double cover = (double)hits / (8 * S);
                const uint32_t want = cover <= 0.002 ? 0 : (uint32_t)std::lround(255 * cover);
                ASSERT_EQ(alphaAt(c, px, py), want) << px << "," << py << " samples " << S;
            }
    }
}

TEST(Raster, PixelExactEdges) {
    Canvas c = blank(20, 4);
    Path p;
    p.rect(10.0, 0, 1.0, 4);
    fillPath(c, p, 0xFF0000FFu, false, 4);
    EXPECT_EQ(c.pixels[10], 0xFFFF0000u);  // the colour as a pixel, fully covered
    EXPECT_EQ(c.pixels[11], 0u);
    EXPECT_EQ(c.pixels[9], 0u);

    Canvas h = blank(20, 4);
    Path q;
    q.rect(10.25, 0, 0.5, 4);
    fillPath(h, q, 0xC8FFFFFFu, false, 4);
    EXPECT_EQ(alphaAt(h, 10, 1), (uint32_t)std::lround(0.5f * 200));

    // Coverage of exactly 0.002f lies above the 0.002 cut-off and still shows.
    Canvas t = blank(20, 4);
    Path thin;
    thin.rect(10.0, 0, (double)0.002f, 1);
    fillPath(t, thin, 0xFFFFFFFFu, false, 1);
    EXPECT_EQ(alphaAt(t, 10, 0), 1u);
}

TEST(Raster, EdgesOnSubScanlinesDoNotDependOnTheFillsTop) {
    // A rectangle whose top lies exactly on a sub-scanline, filled alone and with a speck at row 0
    // in the same path: its rows must come out the same either way.
    for (int S : {3, 5, 6, 7, 12, 16}) {
        for (int k = 0; k < S; ++k) {
            const double top = 20 + (k + 0.5) / S;
            auto draw = [&](bool speck) {
                Canvas c = blank(10, 30);
                Path p;
                if (speck) p.rect(0.0, 0.0, 0.5, 0.5);
                p.rect(2.0, top, 5, 3.3);
                fillPath(c, p, 0xFFFFFFFFu, false, S);
                return std::vector<uint32_t>(c.pixels.begin() + 20 * 10, c.pixels.end());
            };
            EXPECT_EQ(draw(false), draw(true)) << S << " " << k;
        }
    }
}

TEST(Raster, CircleAreaMatchesPi) {
    for (double r : {6.0, 20.5, 90.0}) {
        Canvas c = blank(200, 200);
        Path p;
        p.circle(100.3, 99.6, r);
        fillPath(c, p, 0xFFFFFFFFu, false, 16);
        EXPECT_NEAR(totalAlpha(c) / (M_PI * r * r), 1.0, 0.005) << r;
    }
}

TEST(Raster, NonzeroAndEvenOddOnOverlaps) {
    auto draw = [](bool evenOdd, bool reverseSecond) {
        Canvas c = blank(30, 30);
        Path p;
        p.rect(2, 2, 16, 16);
        if (reverseSecond) {
            p.moveTo(10, 10);
            p.lineTo(10, 26);
            p.lineTo(26, 26);
            p.lineTo(26, 10);
            p.close();
        } else {
            p.rect(10, 10, 16, 16);
        }
        fillPath(c, p, 0x80FFFFFFu, evenOdd, 4);
        return c;
    };
    Canvas nz = draw(false, false), eo = draw(true, false), opposite = draw(false, true);
    EXPECT_EQ(alphaAt(nz, 14, 14), 128u);  // overlap blended once, not twice
    EXPECT_EQ(alphaAt(nz, 5, 5), 128u);
    EXPECT_EQ(alphaAt(eo, 14, 14), 0u);
    EXPECT_EQ(alphaAt(eo, 20, 20), 128u);
    EXPECT_EQ(alphaAt(opposite, 14, 14), 0u);  // opposite windings cancel
}

TEST(Raster, SamplesAreClamped) {
    auto draw = [](int samples) {
        Canvas c = blank(16, 16);
        Path p;
        p.circle(8, 8, 5.3);
        fillPath(c, p, 0xFFFFFFFFu, false, samples);
        return c.pixels;
    };
    EXPECT_EQ(draw(0), draw(1));
    EXPECT_EQ(draw(-5), draw(1));
    EXPECT_EQ(draw(100), draw(64));
    EXPECT_NE(draw(1), draw(64));
}

TEST(Raster, ThreadSetting) {
    ThreadGuard g;
    struct Case {
        int in, stored;
    } cases[] = {{0, 1}, {-3, 1}, {1, 1}, {8, 8}, {64, 64}, {200, 64}};
    for (const auto& c : cases) {
        setRasterThreads(c.in);
        EXPECT_EQ(rasterThreads(), c.stored) << c.in;
    }
}

TEST(Raster, BandsGiveTheSameResultAsOneThread) {
    ThreadGuard g;
    // A 3,000-edge star over about 200 rows, with the clip cutting its left side.
    Path star;
    const int n = 1500;
    for (int i = 0; i < 2 * n; ++i) {
        double a = i * M_PI / n, r = (i % 2) ? 40.0 : 100.0;
        double x = 120 + r * std::cos(a) * 1.13, y = 104 + r * std::sin(a);
        if (i == 0) star.moveTo(x, y);
        else star.lineTo(x, y);
    }
    auto draw = [&](int threads, bool evenOdd) {
        setRasterThreads(threads);
        Canvas c = blank(240, 210);
        c.clear(0xFF203040u);
        c.clip = {17, 3, 220, 200};
        fillPath(c, star, 0xB0F08010u, evenOdd, 5);
        return c.pixels;
    };
    for (bool eo : {false, true}) {
        auto one = draw(1, eo);
        EXPECT_EQ(draw(8, eo), one);
        EXPECT_EQ(draw(3, eo), one);
        EXPECT_EQ(draw(64, eo), one);
    }
}

TEST(Raster, ClipAndHostileCoordinates) {
    Canvas c = blank(20, 20);
    c.clip = {5, 5, 10, 10};
    Path p;
    p.rect(-100, -100, 300, 300);
    fillPath(c, p, 0xFFFFFFFFu, false, 4);
    EXPECT_EQ(alphaAt(c, 4, 10), 0u);
    EXPECT_EQ(alphaAt(c, 5, 5), 255u);
    EXPECT_EQ(alphaAt(c, 14, 14), 255u);
    EXPECT_EQ(alphaAt(c, 15, 14), 0u);

    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    Path bad;
    bad.moveTo(1e300, -1e300);
    bad.lineTo(-1e308, 1e308);
    bad.lineTo(10, 10);
    bad.moveTo(nan, 3);
    bad.lineTo(inf, 7);
    bad.lineTo(4, -inf);
    bad.moveTo(2, 2);
    bad.cubicTo(1e308, 1e308, -1e308, nan, 8, 8);
    Canvas d = blank(20, 20);
    fillPath(d, bad, 0xFFFFFFFFu, false, 8);
    fillPath(d, bad, 0xFFFFFFFFu, true, 8);

    // Outside the clip entirely: nothing drawn.
    Canvas e = blank(20, 20);
    Path far;
    far.rect(40, 40, 5, 5);
    fillPath(e, far, 0xFFFFFFFFu, false, 4);
    EXPECT_EQ(totalAlpha(e), 0.0);
}
