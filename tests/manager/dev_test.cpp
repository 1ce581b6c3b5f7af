// The pixel-look primitives at every scale: dot sizes, line widths, symmetry, colours by state, nothing
// outside the rectangle and the clip given back.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "manager/pixel_look/primitives.h"
#include "tests/manager/pixel_support.h"

using namespace pixeltest;
namespace dev = tqapp::dev;
using lumo::gui::pixelOf;

namespace {

uint32_t px(lumo::gui::Color c) { return pixelOf(c); }

// Draws one primitive into a rectangle of the given device size on paper, under a clip a little
// smaller than the canvas, and checks what every primitive owes: the clip comes back and nothing
// leaves the rectangle. Returns the canvas for the caller's own checks.
Canvas drawIn(double scale, Rect r, const std::function<void(const lumo::gui::Paint&, Rect)>& draw) {
    Canvas c = paper(r.x + r.w + 20, r.y + r.h + 20);
    const Rect clip{1, 1, c.width - 2, c.height - 2};
    c.clip = clip;
    draw(paintOf(c, scale), r);
    EXPECT_EQ(c.clip.x, clip.x);
    EXPECT_EQ(c.clip.y, clip.y);
    EXPECT_EQ(c.clip.w, clip.w);
    EXPECT_EQ(c.clip.h, clip.h);
    const Rect ink = inkBox(c);
    EXPECT_TRUE(inside(ink, r)) << "ink " << ink.x << "," << ink.y << " " << ink.w << "x" << ink.h;
    return c;
}

// The run of one colour from (x, y) stepping by (dx, dy).
int run(const Canvas& c, int x, int y, int dx, int dy) {
    const uint32_t first = at(c, x, y);
    int n = 0;
    while (x >= 0 && y >= 0 && x < c.width && y < c.height && at(c, x, y) == first) x += dx, y += dy, ++n;
    return n;
}

// Checks a square outline of colour border and width u around the ink box, the same on all four sides.
void expectRing(const Canvas& c, Rect b, uint32_t border, int u) {
    const int mx = b.x + b.w / 2, my = b.y + b.h / 2;
    EXPECT_EQ(at(c, b.x, my), border);
    EXPECT_EQ(run(c, b.x, my, 1, 0), u);
    EXPECT_EQ(run(c, b.x + b.w - 1, my, -1, 0), u);
    EXPECT_EQ(run(c, mx, b.y, 0, 1), u);
    EXPECT_EQ(run(c, mx, b.y + b.h - 1, 0, -1), u);
}

}  // namespace

TEST(DevUnit, IsTheScaleRoundedAndNeverBelowOne) {
    const std::pair<double, int> cases[] = {{1.0, 1}, {1.25, 1}, {1.4, 1}, {1.5, 2}, {2.0, 2}, {2.5, 3},
                                            {3.0, 3}, {0.0, 1}, {-2.0, 1}, {0.4, 1}, {1e300, 1000000}};
    for (auto [scale, unit] : cases) EXPECT_EQ(dev::one(scale), unit) << scale;
}

TEST(DevPixels, CellsAreWholeDotsAndCentredByTheLongestRow) {
    for (double s : kScales) {
        SCOPED_TRACE(s);
        const int u = dev::one(s);
        const Rect r{10, 12, 3 * u + 5, 2 * u + 4};
        Canvas c = drawIn(s, r, [](const lumo::gui::Paint& p, Rect area) {
            dev::pixelsIn(p, area, {"#", "#x#"}, dev::cream);
        });
        const int x0 = r.x + (r.w - 3 * u) / 2, y0 = r.y + (r.h - 2 * u) / 2;
        EXPECT_EQ(count(c, px(dev::cream)), 3 * u * u);
        for (int k = 0; k < u; ++k) {
            EXPECT_EQ(at(c, x0 + k, y0 + k), px(dev::cream));              // row 0, cell 0
            EXPECT_EQ(at(c, x0 + u + k, y0 + u + k), kPaper);              // the 'x' hole
            EXPECT_EQ(at(c, x0 + 2 * u + k, y0 + u + k), px(dev::cream));  // row 1, cell 2
            EXPECT_EQ(at(c, x0 + u + k, y0 + k), kPaper);                  // past the short row's end
        }
        Canvas empty = drawIn(s, r, [](const lumo::gui::Paint& p, Rect area) { dev::pixelsIn(p, area, {}, dev::cream); });
        EXPECT_TRUE(inkBox(empty).empty());
    }
}

TEST(DevButton, FillAndOneDotBorderByState) {
    struct Case {
        bool hot, down, enabled;
        uint32_t fill, border;
        lumo::gui::Color ink;
    };
    const uint32_t washed = lumo::gui::blendRule(px(dev::bg), dev::hoverWash, 64);
    const Case cases[] = {
        {false, false, true, px(dev::bg), px(dev::rule), dev::cream},
        {true, false, true, washed, px(dev::rule), dev::cream},
        {true, true, true, px(dev::pressedFill), px(dev::cream), dev::cream},
        {true, false, false, px(dev::bg), px(dev::dim), dev::dim},  // hovered but disabled: no wash
        {false, true, false, px(dev::pressedFill), px(dev::cream), dev::dim},
    };
    for (double s : kScales)
        for (const Case& k : cases) {
            SCOPED_TRACE(testing::Message() << s << " hot " << k.hot << " down " << k.down << " enabled " << k.enabled);
            const int u = dev::one(s);
            const Rect r{9, 7, 61, 23};
            Canvas c = drawIn(s, r, [&](const lumo::gui::Paint& p, Rect area) {
                if (k.hot && k.enabled && !k.down) dev::button(p, area, false, false, true);  // the wash blends over bg
                dev::button(p, area, k.hot, k.down, k.enabled);
            });
            const Rect ink = inkBox(c);
            EXPECT_EQ(ink.x, r.x);
            EXPECT_EQ(ink.w, r.w);
            EXPECT_EQ(ink.h, r.h);
            expectRing(c, ink, k.border, u);
            EXPECT_EQ(at(c, r.x + r.w / 2, r.y + r.h / 2), k.fill);
            EXPECT_TRUE(mirrored(c, ink, true));
            EXPECT_TRUE(mirrored(c, ink, false));
            EXPECT_EQ(dev::buttonInk(k.hot, k.down, k.enabled), k.ink);
        }
}

TEST(DevCheckbox, NineDotBoxWithBorderByStateAndTickOnlyWhenEnabled) {
    struct Case {
        bool on, hot, down, enabled;
        uint32_t border;
        bool tick;
    };
    const Case cases[] = {
        {false, false, false, true, px(dev::dim), false}, {true, false, false, true, px(dev::dim), true},
        {false, true, false, true, px(dev::wave), false}, {true, true, true, true, px(dev::cream), true},
        {true, true, true, false, px(dev::rule), false},  // disabled: rule frame, no tick
    };
    for (double s : kScales)
        for (const Case& k : cases) {
            SCOPED_TRACE(testing::Message() << s << " on " << k.on << " hot " << k.hot << " down " << k.down);
            const int u = dev::one(s);
            for (int extra : {0, 1, 6, 7}) {
                const Rect r{5, 6, 9 * u + extra, 9 * u + extra + 3};
                Canvas c = drawIn(s, r, [&](const lumo::gui::Paint& p, Rect area) {
                    dev::checkbox(p, area, k.on, k.hot, k.down, k.enabled);
                });
                const Rect ink = inkBox(c);
                EXPECT_EQ(ink.w, 9 * u);
                EXPECT_EQ(ink.h, 9 * u);
                EXPECT_EQ(ink.x, r.x + (r.w - 9 * u) / 2);
                EXPECT_EQ(ink.y, r.y + (r.h - 9 * u) / 2);
                expectRing(c, ink, k.border, u);
                EXPECT_EQ(count(c, px(dev::cream)) - (k.border == px(dev::cream) ? 4 * (9 * u - u) * u : 0),
                          k.tick ? 5 * u * u : 0);
                if (!k.tick) {
                    EXPECT_TRUE(mirrored(c, ink, true));
                    EXPECT_TRUE(mirrored(c, ink, false));
                } else {
                    // The tick's lowest cell: row 3, column 1 of the 5 x 4 figure.
                    const int tx = ink.x + (9 * u - 5 * u) / 2, ty = ink.y + (9 * u - 4 * u) / 2;
                    EXPECT_EQ(at(c, tx + u, ty + 3 * u), px(dev::cream));
                    EXPECT_EQ(at(c, tx + 4 * u, ty), px(dev::cream));
                }
            }
        }
}

TEST(DevLamp, FiveDotSquareLitOrARingWithAnUntouchedMiddle) {
    for (double s : kScales)
        for (bool on : {true, false}) {
            SCOPED_TRACE(testing::Message() << s << " on " << on);
            const int u = dev::one(s);
            const Rect r{3, 4, 5 * u + 3, 5 * u + 8};
            Canvas c = drawIn(s, r, [&](const lumo::gui::Paint& p, Rect area) { dev::lamp(p, area, on); });
            const Rect ink = inkBox(c);
            EXPECT_EQ(ink.w, 5 * u);
            EXPECT_EQ(ink.h, 5 * u);
            EXPECT_TRUE(mirrored(c, ink, true));
            EXPECT_TRUE(mirrored(c, ink, false));
            if (on) {
                EXPECT_EQ(count(c, px(dev::cream)), 25 * u * u);
            } else {
                expectRing(c, ink, px(dev::rule), u);
                EXPECT_EQ(at(c, ink.x + ink.w / 2, ink.y + ink.h / 2), kPaper);
                EXPECT_EQ(count(c, px(dev::rule)), 25 * u * u - 9 * u * u);
            }
        }
}

TEST(DevArrow, PointsByDirectionAndIsSymmetricAcrossItsAxis) {
    struct Case {
        char dir;
        int w, h, cells;
        bool acrossX;  // mirror-symmetric left-right (else top-bottom)
        int tipX, tipY;  // the tip cell
    };
    const Case cases[] = {{'u', 5, 3, 9, true, 2, 0}, {'r', 3, 5, 9, false, 2, 2}, {'l', 3, 5, 9, false, 0, 2},
                          {'d', 5, 3, 9, true, 2, 2}, {'x', 5, 3, 9, true, 2, 2}, {0, 5, 3, 9, true, 2, 2}};
    for (double s : kScales)
        for (const Case& k : cases) {
            SCOPED_TRACE(testing::Message() << s << " dir " << int(k.dir));
            const int u = dev::one(s);
            const Rect r{7, 8, 16 * u + 1, 14 * u};
            Canvas c = drawIn(s, r, [&](const lumo::gui::Paint& p, Rect area) { dev::arrow(p, area, k.dir, dev::wave); });
            const Rect ink = inkBox(c);
            EXPECT_EQ(ink.w, k.w * u);
            EXPECT_EQ(ink.h, k.h * u);
            EXPECT_EQ(ink.x, r.x + (r.w - k.w * u) / 2);
            EXPECT_EQ(count(c, px(dev::wave)), k.cells * u * u);
            EXPECT_TRUE(mirrored(c, ink, k.acrossX));
            EXPECT_EQ(at(c, ink.x + k.tipX * u, ink.y + k.tipY * u), px(dev::wave));
        }
}

TEST(DevSquareButton, ThirteenDotsOutlinedOrLitAndSinkingWhenPressed) {
    for (double s : kScales)
        for (bool close : {true, false}) {
            const int u = dev::one(s);
            const int glyphCells = close ? 33 : 14;
            const Rect r{4, 5, 13 * u + 5, 15 * u + 2};
            Rect hotBox;
            for (int state = 0; state < 3; ++state) {  // idle, hot, down
                SCOPED_TRACE(testing::Message() << s << " close " << close << " state " << state);
                Canvas c = drawIn(s, r, [&](const lumo::gui::Paint& p, Rect area) {
                    dev::squareButton(p, area, close, state == 1, state == 2);
                });
                const Rect ink = inkBox(c);
                EXPECT_EQ(ink.w, 13 * u);
                EXPECT_EQ(ink.h, 13 * u);
                EXPECT_TRUE(mirrored(c, ink, true));
                if (close) {
                    EXPECT_TRUE(mirrored(c, ink, false));
                }
                if (state == 0) {
                    expectRing(c, ink, px(dev::wave), u);
                    EXPECT_EQ(count(c, px(dev::wave)), 4 * 12 * u * u + glyphCells * u * u);
                } else {
                    EXPECT_EQ(count(c, px(dev::bg)), glyphCells * u * u);
                    EXPECT_EQ(count(c, px(dev::cream)), 169 * u * u - glyphCells * u * u);
                }
                if (state == 1) hotBox = ink;
                if (state == 2) {
                    EXPECT_EQ(ink.y, hotBox.y + u);
                }
            }
        }
}

TEST(DevSquareButton, APressedButtonSinksNoFurtherThanItsRectangle) {
    // At 1.5 the job window's 18-unit close cell is 27 pixels: the 26-pixel button may sink only one.
    Canvas c = drawIn(1.5, Rect{10, 10, 27, 27}, [](const lumo::gui::Paint& p, Rect area) {
        dev::squareButton(p, area, true, false, true);
    });
    const Rect ink = inkBox(c);
    EXPECT_EQ(ink.y, 11);
    EXPECT_EQ(ink.h, 26);
}

TEST(DevShapes, ATooSmallRectangleClipsTheFigure) {
    for (double s : kScales) {
        SCOPED_TRACE(s);
        const Rect r{20, 20, 4, 3};
        drawIn(s, r, [](const lumo::gui::Paint& p, Rect a) { dev::checkbox(p, a, true, true, false, true); });
        drawIn(s, r, [](const lumo::gui::Paint& p, Rect a) { dev::lamp(p, a, false); });
        drawIn(s, r, [](const lumo::gui::Paint& p, Rect a) { dev::arrow(p, a, 'r', dev::cream); });
        drawIn(s, r, [](const lumo::gui::Paint& p, Rect a) { dev::squareButton(p, a, false, false, true); });
        drawIn(s, r, [](const lumo::gui::Paint& p, Rect a) { dev::pixelsIn(p, a, {"#####", "#####"}, dev::cream); });
    }
}

TEST(DevFont, PicksTheFourPixelFontsOfTheNearestPack) {
    for (double s : kScales) {
        SCOPED_TRACE(s);
        const lumo::gui::BitmapFont* fonts[] = {dev::font(s, false, false), dev::font(s, true, false),
                                                dev::font(s, false, true), dev::font(s, true, true)};
        for (const auto* f : fonts) {
            ASSERT_NE(f, nullptr);
            EXPECT_GT(f->cap_height, 0);
        }
        EXPECT_NE(fonts[0], fonts[1]);
        EXPECT_NE(fonts[0], fonts[2]);
        EXPECT_NE(fonts[2], fonts[3]);
        EXPECT_GT(fonts[0]->line_height, fonts[2]->line_height);  // the short forms are shorter
    }
}
