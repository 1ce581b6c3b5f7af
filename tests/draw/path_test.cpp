#include <gtest/gtest.h>

#include "gui/draw/path.h"

using lumo::gui::Path;

TEST(Path, LinesMovesAndClose) {
    Path p;
    p.close();  // nothing to close
    EXPECT_TRUE(p.subs.empty());
    p.lineTo(3, 4);  // acts as a move
    ASSERT_EQ(p.subs.size(), 1u);
    EXPECT_EQ(p.subs[0].points.size(), 1u);
    p.moveTo(5, 5);  // a one-point sub-path is kept
    p.lineTo(6, 5);
    p.close();
    p.close();
    ASSERT_EQ(p.subs.size(), 2u);
    EXPECT_TRUE(p.subs[1].closed);
    EXPECT_EQ(p.current.x, 5);
    EXPECT_EQ(p.current.y, 5);
}

TEST(Path, DrawingAfterCloseStartsNewSubPathAtTheClosedStart) {
    Path p;
    p.moveTo(1, 1);
    p.lineTo(9, 1);
    p.lineTo(9, 9);
    p.close();
    p.lineTo(1, 9);
    ASSERT_EQ(p.subs.size(), 2u);
    EXPECT_EQ(p.subs[0].points.size(), 3u);
    ASSERT_EQ(p.subs[1].points.size(), 2u);
    EXPECT_EQ(p.subs[1].points[0].x, 1);
    EXPECT_EQ(p.subs[1].points[0].y, 1);
    p.close();
    p.cubicTo(2, 2, 3, 3, 4, 4);
    ASSERT_EQ(p.subs.size(), 3u);
    EXPECT_FALSE(p.subs[2].closed);
    EXPECT_EQ(p.subs[2].points.front().x, 1);
}

TEST(Path, CubicSegmentCounts) {
    struct Case {
        double len;  // the curve runs straight along x, so the control polygon is this long
        size_t points;
    } cases[] = {{0.5, 4}, {1.9, 5}, {2.2, 6}, {10, 21}, {1000, 65}};
    for (const auto& c : cases) {
        Path p;
        p.moveTo(0, 0);
        p.cubicTo(c.len / 3, 0, 2 * c.len / 3, 0, c.len, 0);
        ASSERT_EQ(p.subs[0].points.size(), c.points) << c.len;
        EXPECT_EQ(p.subs[0].points.back().x, c.len);
    }
    Path huge;  // non-finite lengths take the most segments instead of overflowing
    huge.moveTo(0, 0);
    huge.cubicTo(1e308, 0, -1e308, 0, 0, 1);
    EXPECT_EQ(huge.subs[0].points.size(), 65u);
}

TEST(Path, RoundRectAndCircle) {
    Path r;
    r.roundRect(0, 0, 10, 0.01, 3);
    ASSERT_EQ(r.subs.size(), 1u);
    EXPECT_EQ(r.subs[0].points.size(), 4u);  // plain rect
    Path big;
    big.roundRect(0, 0, 10, 20, 50);  // radius limited to 5
    double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
    for (auto& pt : big.subs[0].points) {
        minX = std::min(minX, pt.x), maxX = std::max(maxX, pt.x);
        minY = std::min(minY, pt.y), maxY = std::max(maxY, pt.y);
    }
    EXPECT_EQ(minX, 0);
    EXPECT_EQ(maxX, 10);
    EXPECT_EQ(minY, 0);
    EXPECT_EQ(maxY, 20);
    EXPECT_EQ(big.subs[0].points.front().x, 5);

    Path c;
    c.circle(10, 10, 5);
    const auto& pts = c.subs[0].points;
    EXPECT_TRUE(c.subs[0].closed);
    EXPECT_NEAR(pts.back().x, 15, 1e-12);
    EXPECT_NEAR(pts.back().y, 10, 1e-12);
    EXPECT_GT(pts[1].y, 10);  // increasing y first
}

TEST(Path, Transformed) {
    Path p;
    p.moveTo(0, 0);
    p.lineTo(1, 1);
    p.close();
    p.current = {1, 1};
    Path t = p.transformed(2, 10, 10);
    EXPECT_EQ(t.current.x, 12);
    EXPECT_EQ(t.current.y, 12);
    EXPECT_TRUE(t.subs[0].closed);
    EXPECT_EQ(t.subs[0].points[1].x, 12);
    Path u = p.transformed(1, 3, 5, 0);
    EXPECT_EQ(u.subs[0].points[1].y, 3);
}
