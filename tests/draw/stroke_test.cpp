#include <gtest/gtest.h>

#include <cmath>

#include "gui/draw/stroke.h"
#include "tests/support/canvas_probe.h"

using namespace lumo::gui;
using testsupport::alphaAt;
using testsupport::alphaSum;

namespace {

Canvas blank(int w, int h) { return testsupport::blankCanvas(w, h); }

uint32_t maxAlpha(const Canvas& c) {
    uint32_t m = 0;
    for (uint32_t p : c.pixels) m = std::max(m, p >> 24);
    return m;
}

int inkCount(const Canvas& c) {
    int n = 0;
    for (uint32_t p : c.pixels) n += (p >> 24) != 0;
    return n;
}

}  // namespace

TEST(Stroke, TranslucentSelfCrossingBlendsOnce) {
    Path p;  // a figure eight crossing itself, with a U-turn at the end
    p.moveTo(5, 5);
    p.lineTo(35, 35);
    p.lineTo(35, 5);
    p.lineTo(5, 35);
    p.lineTo(5, 8);
    p.lineTo(6, 30);
    for (int form = 0; form < 4; ++form) {
        Canvas c = blank(40, 40);
        if (form == 0) {
            strokePath(c, p, 4.0, 0x80FFFFFFu);
        } else {
            StrokeStyle st{5.0, form - 1, form - 1, 4.0};
            strokePath(c, p, st, 0x80FFFFFFu, 8);
        }
        EXPECT_EQ(maxAlpha(c), 128u) << form;
        EXPECT_EQ(alphaAt(c, 20, 20), 128u) << form;  // the crossing
    }
}

TEST(Stroke, MiterLimitAtRightAngle) {
    // A right angle: 1 / cos 45 = 1.414 lies between the two limits.
    auto corner = [](double limit) {
        Canvas c = blank(40, 40);
        Path p;
        p.moveTo(5, 20.5);
        p.lineTo(20.5, 20.5);
        p.lineTo(20.5, 35);
        StrokeStyle st{8.0, 0, 0, limit};
        strokePath(c, p, st, 0xFFFFFFFFu, 16);
        return c;
    };
    Canvas mitred = corner(1.5), bevelled = corner(1.4);
    // The outer corner lies at (24.5, 16.5); pixel (23, 17) lies beyond the bevel and inside the mitre.
    EXPECT_EQ(alphaAt(mitred, 23, 17), 255u);
    EXPECT_EQ(alphaAt(bevelled, 23, 17), 0u);
    EXPECT_EQ(alphaAt(mitred, 24, 16), 64u);
    EXPECT_EQ(alphaAt(mitred, 25, 16), 0u);
    EXPECT_NEAR(alphaSum(mitred) - alphaSum(bevelled), 8.0, 0.05);  // the mitre's triangle
}

TEST(Stroke, UTurnHasNoSpike) {
    Canvas c = blank(60, 20);
    Path p;
    p.moveTo(5, 10);
    p.lineTo(40, 10);
    p.lineTo(5, 10.0001);
    StrokeStyle st{4.0, 0, 0, 1000.0};
    strokePath(c, p, st, 0xFFFFFFFFu, 4);
    for (int x = 43; x < 60; ++x) EXPECT_EQ(alphaAt(c, x, 10), 0u) << x;
}

TEST(Stroke, OnePointAndDegenerateSubPaths) {
    struct Case {
        int cap;
        int ink;  // pixels touched by a 6-wide stroke of a single point at a pixel centre
    } cases[] = {{0, 0}, {1, 36}, {2, 36}};
    for (const auto& cs : cases) {
        Canvas c = blank(20, 20);
        Path p;
        p.moveTo(10, 10);
        StrokeStyle st{6.0, cs.cap, 0, 4.0};
        strokePath(c, p, st, 0xFFFFFFFFu, 4);
        EXPECT_EQ(inkCount(c), cs.ink) << cs.cap;
        if (cs.cap == 2) {
            EXPECT_EQ(alphaAt(c, 7, 7), 255u);
        } else if (cs.cap == 1) {
            EXPECT_LT(alphaAt(c, 7, 7), 255u);
        }
    }
    Canvas simple = blank(20, 20);
    Path dot;
    dot.moveTo(10, 10);
    strokePath(simple, dot, 6.0, 0xFFFFFFFFu);
    EXPECT_EQ(alphaAt(simple, 10, 10), 255u);
    EXPECT_GT(alphaAt(simple, 12, 10), 0u);
    Canvas zero = blank(20, 20);
    strokePath(zero, dot, 0.0, 0xFFFFFFFFu);
    StrokeStyle none{std::nan(""), 1, 1, 4};
    strokePath(zero, dot, none, 0xFFFFFFFFu, 4);
    EXPECT_EQ(inkCount(zero), 0);

    // A closed "triangle" with two distinct points is open, so butt caps leave the ends square.
    Canvas open = blank(30, 20);
    Path tri;
    tri.moveTo(5, 10);
    tri.lineTo(25, 10);
    tri.lineTo(25, 10);
    tri.close();
    StrokeStyle sq{4.0, 2, 0, 4.0};
    strokePath(open, tri, sq, 0xFFFFFFFFu, 4);
    EXPECT_EQ(alphaAt(open, 3, 10), 255u);  // square cap reaches 2 px past the end
    EXPECT_EQ(alphaAt(open, 26, 10), 255u);
}

TEST(Stroke, CollinearAndReversedJoins) {
    // From (2, 10) through (15, 10) to (endX, 10), with the given join.
    auto draw = [](double endX, int join) {
        Path p;
        p.moveTo(2, 10);
        p.lineTo(15, 10);
        p.lineTo(endX, 10);
        Canvas c = blank(30, 20);
        strokePath(c, p, StrokeStyle{5, 0, join, 4}, 0xFFFFFFFFu, 4);
        return c;
    };
    // Straight on: no join piece, so a round-join stroke equals a bevel one.
    EXPECT_EQ(draw(28, 1).pixels, draw(28, 2).pixels);
    // Reversed: the round join puts a disc at the turning point.
    EXPECT_GT(alphaAt(draw(2, 1), 16, 10), 0u);
    EXPECT_EQ(alphaAt(draw(2, 2), 16, 10), 0u);
}
