#include <gtest/gtest.h>

#include "gui/draw/svg.h"
#include "tests/support/canvas_probe.h"

using namespace lumo::gui;

namespace {

uint64_t pixelHash(const Bitmap& b) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) h = (h ^ ((v >> (8 * i)) & 0xFF)) * 1099511628211ull;
    };
    mix((uint32_t)b.w);
    mix((uint32_t)b.h);
    for (uint32_t p : b.pixels) mix(p);
    return h;
}

Canvas blank(int w, int h) { return testsupport::blankCanvas(w, h); }
uint32_t at(const Canvas& c, int x, int y) { return testsupport::pixelAt(c, x, y); }
uint32_t at(const Bitmap& b, int x, int y) { return b.pixels[(size_t)y * b.w + x]; }

// The manager's window-button glyphs, as the manager builds them.
std::string glyphDoc(const std::string& element) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\" fill=\"none\" stroke=\"currentColor\" "
           "stroke-linecap=\"butt\" stroke-linejoin=\"miter\">" +
           element + "</svg>";
}

SvgDraw glyphOpts() {
    SvgDraw o;
    o.current = 0xFFFFFFFFu;
    o.samples = 16;
    o.snap = true;
    o.alpha = 255;
    o.stretch = false;
    return o;
}

}  // namespace

TEST(Svg, ParseViewBoxAndFailures) {
    struct Case {
        const char* text;
        double w, h;
        size_t shapes;
    } cases[] = {
        {"<svg width=\"24px\" height=\"12\"><rect width=\"1\" height=\"1\"/></svg>", 24, 12, 1},
        {"<svg width=\"24\" height=\"12\" viewBox=\"0 0 0 5\"><rect width=\"1\" height=\"1\"/></svg>", 24, 12, 1},
        {"<svg width=\"24\" height=\"12\" viewBox=\"1 2 -3 5\"/>", 24, 12, 0},
        {"<svg viewBox=\"1,2,30,40\"><rect width=\"1\" height=\"1\"/></svg>", 30, 40, 1},
        {"<svg><rect width=\"1\" height=\"1\"/></svg>", 0, 0, 0},
        {"<x><svg viewBox=\"0 0 9 9\"><rect width=\"1\" height=\"1\"/></svg></x>", 0, 0, 0},
        {"<svg viewBox=\"0 0 9 9\"><rect width=\"1\" height=\"1\"/><!-- open", 0, 0, 0},
        {"", 0, 0, 0},
    };
    for (const auto& c : cases) {
        Svg s = Svg::parse(c.text);
        EXPECT_EQ(s.viewW, c.w) << c.text;
        EXPECT_EQ(s.viewH, c.h) << c.text;
        EXPECT_EQ(s.shapes.size(), c.shapes) << c.text;
    }
}

TEST(Svg, UniformFitCentres) {
    // 24 x 12 into 48 x 48: scale 2, offset (0, 12).
    Svg s = Svg::parse("<svg width=\"24\" height=\"12\"><rect width=\"24\" height=\"12\" fill=\"red\"/></svg>");
    Canvas c = blank(48, 48);
    s.draw(c, 0, 0, 48, 48, SvgDraw{});
    EXPECT_EQ(at(c, 0, 11), 0u);
    EXPECT_EQ(at(c, 0, 12), 0xFFFF0000u);
    EXPECT_EQ(at(c, 47, 35), 0xFFFF0000u);
    EXPECT_EQ(at(c, 47, 36), 0u);
    SvgDraw stretch;
    stretch.stretch = true;
    Canvas d = blank(48, 48);
    s.draw(d, 0, 0, 48, 48, stretch);
    EXPECT_EQ(at(d, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(at(d, 47, 47), 0xFFFF0000u);

    // A line of width 2 across a square picture fitted into a tall box keeps width 2 (scale 1):
    // the unused height does not thicken it.
    Svg line = Svg::parse("<svg viewBox=\"0 0 10 10\"><line y1=\"5\" x2=\"10\" y2=\"5\" stroke=\"red\" stroke-width=\"2\"/></svg>");
    for (bool stretched : {false, true}) {
        SvgDraw o;
        o.stretch = stretched;
        Canvas e = blank(10, 40);
        line.draw(e, 0, 0, 10, 40, o);
        int rows = 0;
        for (int y = 0; y < 40; ++y) rows += (at(e, 5, y) >> 24) != 0;
        EXPECT_EQ(rows, stretched ? 4 : 2) << stretched;  // stretched: sqrt(1 x 4) = 2 times as wide
    }
}

TEST(Svg, ClosedSubPathThenLineStartsAnew) {
    // After "Z" the line starts at (2, 2): a two-point sub-path, not a square.
    Svg s = Svg::parse("<svg viewBox=\"0 0 20 20\"><path d=\"M2 2H18V18Z L2 18\"/></svg>");
    Canvas c = blank(20, 20);
    s.draw(c, 0, 0, 20, 20, SvgDraw{});
    EXPECT_EQ(at(c, 15, 4) >> 24, 255u);
    EXPECT_EQ(at(c, 4, 15), 0u);
}

TEST(Svg, RenderCompositing) {
    Svg s = Svg::parse(
        "<svg viewBox=\"0 0 20 20\"><circle cx=\"10\" cy=\"10\" r=\"6.3\" fill=\"red\"/>"
        "<circle cx=\"10\" cy=\"10\" r=\"6.3\" fill=\"blue\"/></svg>");
    EXPECT_EQ(s.render(0, 5, 0, 0, 20, 20, SvgDraw{}).pixels.size(), 0u);
    Bitmap none = s.render(20, 20, 0, 0, 0, 20, SvgDraw{});
    ASSERT_EQ(none.pixels.size(), 400u);
    EXPECT_EQ(none.pixels, std::vector<uint32_t>(400, 0u));

    Bitmap b = s.render(20, 20, 0, 0, 20, 20, SvgDraw{});
    EXPECT_EQ(at(b, 10, 10), 0xFF0000FFu);  // the later shape wins fully
    EXPECT_EQ(at(b, 0, 0), 0u);
    // Along the edge the two colours mix by coverage: some red shows through, blue leads.
    uint32_t edge = at(b, 16, 10);
    uint32_t a = edge >> 24, r = (edge >> 16) & 0xFF, bl = edge & 0xFF;
    EXPECT_GT(a, 0u);
    EXPECT_LT(a, 255u);
    EXPECT_GT(r, 0u);
    EXPECT_GT(bl, r);
    EXPECT_EQ(r + bl, 255u);

    // Overall alpha and opacity multiply: 255 x 128/255 x 0.5 = 64.
    Svg half = Svg::parse("<svg viewBox=\"0 0 4 4\"><rect width=\"4\" height=\"4\" fill=\"#fff\" fill-opacity=\"0.5\"/></svg>");
    SvgDraw o;
    o.alpha = 128;
    EXPECT_EQ(half.render(4, 4, 0, 0, 4, 4, o).pixels[5], 0x40FFFFFFu);
    Canvas c = blank(4, 4);
    half.draw(c, 0, 0, 4, 4, o);
    EXPECT_EQ(c.pixels[5] >> 24, 64u);
}

TEST(Svg, CrispShapesSnapOnlyNearWholeScales) {
    Svg s = Svg::parse(
        "<svg viewBox=\"0 0 10 10\"><rect x=\"0.3\" y=\"0\" width=\"5\" height=\"10\" shape-rendering=\"crispEdges\"/></svg>");
    SvgDraw o;
    o.snap = true;
    Canvas c = blank(20, 20);
    s.draw(c, 0, 0, 10.1, 10.1, o);  // scale 1.01: x from 0.303 to 5.353, snapped to 0 and 5
    EXPECT_EQ(at(c, 0, 3) >> 24, 255u);
    EXPECT_EQ(at(c, 4, 3) >> 24, 255u);
    EXPECT_EQ(at(c, 5, 3), 0u);
    Canvas d = blank(20, 20);
    s.draw(d, 0, 0, 15, 15, o);  // scale 1.5: not snapped
    EXPECT_LT(at(d, 0, 3) >> 24, 255u);
    EXPECT_GT(at(d, 0, 3) >> 24, 0u);
}

TEST(Svg, InkBounds) {
    double x0, y0, x1, y1;
    Svg::parse("<svg viewBox=\"0 0 20 20\"><line x2=\"10\" stroke=\"red\" stroke-width=\"2\"/></svg>")
        .inkBounds(x0, y0, x1, y1);
    EXPECT_EQ(x0, -1);
    EXPECT_EQ(y0, -1);
    EXPECT_EQ(x1, 11);
    EXPECT_EQ(y1, 1);
    Svg().inkBounds(x0, y0, x1, y1);
    EXPECT_EQ(x0 + y0 + x1 + y1, 0);
}

TEST(Svg, HostileNumbersDrawNothingBad) {
    Svg s = Svg::parse(
        "<svg viewBox=\"0 0 1e-300 1e-300\"><path d=\"M1e308 0 L-1e308 1e308 C1e400 0 0 -1e400 5 5 Z\" "
        "stroke=\"red\" stroke-width=\"1e300\"/><circle r=\"1e308\"/>"
        "<path d=\"M0 0 A1e308 1e-308 1e308 1 1 1e308 -1e308\" transform=\"scale(1e300) rotate(1e300)\" stroke=\"red\"/>"
        "</svg>");
    Canvas c = blank(16, 16);
    s.draw(c, 0, 0, 16, 16, SvgDraw{});
    Bitmap b = s.render(16, 16, 0, 0, 16, 16, SvgDraw{});
    EXPECT_EQ(b.pixels.size(), 256u);
}

TEST(Svg, WindowButtonGlyphs) {
    Svg close = Svg::parse(glyphDoc("<path stroke-width=\"2.2\" d=\"M6.9 6.9L17.1 17.1M17.1 6.9L6.9 17.1\"/>"));
    Svg minimise = Svg::parse(glyphDoc("<path stroke-width=\"2.65\" d=\"M6.6 16.9H17.4\"/>"));
    ASSERT_EQ(close.shapes.size(), 1u);
    ASSERT_EQ(minimise.shapes.size(), 1u);
    EXPECT_EQ(close.shapes[0].fill.kind, 0);
    EXPECT_EQ(close.shapes[0].stroke.kind, 2);
    struct Case {
        const Svg* svg;
        int g;
        uint64_t hash;
    } cases[] = {
        {&close, 17, 6088363951410643423ull},
        {&close, 34, 4837494689293453299ull},
        {&minimise, 17, 9878219807157734459ull},
        {&minimise, 34, 14192851942062627051ull},
    };
    for (const auto& c : cases) {
        Bitmap b = c.svg->render(c.g, c.g, 0, 0, c.g, c.g, glyphOpts());
        ASSERT_EQ(b.w, c.g);
        // White everywhere the glyph shows; symmetric about the centre column.
        for (int y = 0; y < c.g; ++y)
            for (int x = 0; x < c.g; ++x) {
                uint32_t p = at(b, x, y);
                if (p) {
                    EXPECT_EQ(p & 0xFFFFFF, 0xFFFFFFu);
                }
                EXPECT_EQ(p >> 24, at(b, c.g - 1 - x, y) >> 24) << x << "," << y;
            }
        EXPECT_EQ(pixelHash(b), c.hash) << c.g;
    }
}
