#include <gtest/gtest.h>

#include <cmath>

#include "gui/draw/svg.h"

using namespace lumo::gui;

namespace {

Svg doc(const std::string& body, const std::string& rootAttrs = "viewBox=\"0 0 100 100\"") {
    return Svg::parse("<svg " + rootAttrs + ">" + body + "</svg>");
}

std::string commands(const Svg::Shape& s) {
    std::string c;
    for (const auto& seg : s.segments) c += seg.cmd;
    return c;
}

}  // namespace

TEST(SvgWalk, PathData) {
    struct Case {
        const char* d;
        const char* cmds;
        double endX, endY;  // the last segment's end point ("Z" excluded)
    } cases[] = {
        {"M1 2 3 4 5 6", "MLL", 5, 6},
        {"m10 10 5 0", "ML", 15, 10},
        {"10 10 L 5 5", "", 0, 0},
        {"M0 0 L10 0 Z 5 5", "MLZ", 10, 0},
        {"M0 0 h10 v10 H0 V5", "MLLLL", 0, 5},
        {"M0 0 C1 1 2 2 3 3 s4 4 5 5", "MCC", 8, 8},
        {"M0 0 Q5 5 10 0 T20 0", "MCC", 20, 0},
        {"M0 0 L1 1 X 4 4", "ML", 1, 1},
        {"M0 0 L1 1 2", "ML", 1, 1},
        {"M0 0 A5 5 0 0110 0", "MCC", 10, 0},
        {"M0 0 a5,5,0,1,1,10,0", "MCC", 10, 0},
        {"M3 3 A5 5 0 0 1 3 3", "M", 3, 3},
        {"M0 0 A0 5 0 0 1 7 7", "ML", 7, 7},
        {"M0 0 A5 5 0 2 1 7 7", "M", 0, 0},
        {"M0 0 A1 1 0 0 1 40 0", "MCC", 40, 0},  // radii grown to reach
    };
    for (const auto& c : cases) {
        Svg s = doc(std::string("<path d=\"") + c.d + "\"/>");
        if (!*c.cmds) {
            EXPECT_TRUE(s.shapes.empty()) << c.d;
            continue;
        }
        ASSERT_EQ(s.shapes.size(), 1u) << c.d;
        EXPECT_EQ(commands(s.shapes[0]), c.cmds) << c.d;
        const Svg::Seg* end = nullptr;
        for (const auto& seg : s.shapes[0].segments)
            if (seg.cmd != 'Z') end = &seg;
        int k = end->cmd == 'C' ? 4 : 0;
        EXPECT_NEAR(end->p[k], c.endX, 1e-9) << c.d;
        EXPECT_NEAR(end->p[k + 1], c.endY, 1e-9) << c.d;
    }
    // Sweep 1 turns clockwise on screen: from the left end over the top (negative y).
    Svg arc = doc("<path d=\"M0 0 A5 5 0 0 1 10 0\"/>");
    double minY = 0;
    for (const auto& seg : arc.shapes[0].segments) minY = std::min(minY, seg.p[5]);
    EXPECT_NEAR(minY, -5, 1e-9);
    // S reflects the previous control point: second cubic's first control is (4, 4).
    Svg smooth = doc("<path d=\"M0 0 C1 1 2 2 3 3 S7 7 8 8\"/>");
    EXPECT_EQ(smooth.shapes[0].segments[2].p[0], 4);
}

TEST(SvgWalk, ShapesAndRectCorners) {
    struct Case {
        const char* el;
        const char* cmds;
    } cases[] = {
        {"<rect width=\"10\" height=\"5\"/>", "MLLLZ"},
        {"<rect width=\"0\" height=\"5\"/>", ""},
        {"<rect width=\"10\" height=\"10\" rx=\"4\"/>", "MLCLCLCLCZ"},
        {"<rect width=\"10\" height=\"10\" rx=\"-1\" ry=\"bad\"/>", "MLLLZ"},
        {"<circle r=\"5\"/>", "MCCCCZ"},
        {"<circle r=\"0\"/>", ""},
        {"<ellipse rx=\"5\" ry=\"0\"/>", ""},
        {"<line x2=\"5\"/>", "ML"},
        {"<polyline points=\"1\"/>", ""},
        {"<polyline points=\"1 2 3 4 5\"/>", "ML"},
        {"<polygon points=\"1,2 3,4 5,6\"/>", "MLLZ"},
        {"<use href=\"#a\"/>", ""},
        {"<defs><circle r=\"5\"/></defs><symbol><circle r=\"5\"/></symbol><clipPath><circle r=\"5\"/></clipPath>", ""},
        {"<g display=\"none\"><circle r=\"5\"/></g>", ""},
        {"<g style=\"display: none\" display=\"inline\"><circle r=\"5\"/></g>", ""},
        {"<circle r=\"5\" display=\"none\" style=\"display: inline\"/>", "MCCCCZ"},
        {"<circle r=\"5\" display=\"none\" style=\"display: inherit\"/>", ""},
        {"<path d=\"M0 0 L5 5\" fill=\"none\"/>", ""},
        {"<path d=\"M0 0 L5 5\" fill=\"none\" stroke=\"red\" stroke-width=\"0\"/>", ""},
        {"<path d=\"M0 0 L5 5\" fill=\"none\" stroke=\"red\"/>", "ML"},
        {"<g visibility=\"hidden\"><circle r=\"5\" visibility=\"x\"/><circle r=\"3\"/></g>", "MCCCCZ"},
    };
    for (const auto& c : cases) {
        Svg s = doc(c.el);
        std::string got;
        for (const auto& sh : s.shapes) got += commands(sh);
        EXPECT_EQ(got, c.cmds) << c.el;
    }
    // rx 4 with no ry rounds both ways by 4; rx 20 on a width of 10 becomes 5.
    Svg r = doc("<rect x=\"1\" width=\"10\" height=\"30\" rx=\"20\"/><rect width=\"8\" height=\"8\" rx=\"-3\" ry=\"2\"/>");
    ASSERT_EQ(r.shapes.size(), 2u);
    EXPECT_EQ(r.shapes[0].segments[0].p[0], 6);
    EXPECT_EQ(r.shapes[0].segments[2].p[5], 15);  // ry takes rx's 20, limited to half the height
    EXPECT_EQ(r.shapes[1].segments[0].p[0], 2);
    EXPECT_EQ(r.shapes[1].segments[2].p[5], 2);
}

TEST(SvgWalk, StateInheritanceAndTransforms) {
    Svg s = doc(
        "<g opacity=\"0.5\" color=\"#00f\" stroke=\"currentColor\" transform=\"translate(10) scale(2)\">"
        "<path d=\"M1 1 L2 1\" opacity=\"50%\" fill-opacity=\"2\" stroke-width=\"3\" stroke-linecap=\"square\""
        " stroke-linejoin=\"bevel\" stroke-miterlimit=\"0.2\" fill-rule=\"evenodd\" shape-rendering=\"crispEdges\"/>"
        "<path d=\"M0 0 L1 1\" fill=\"inherit\" stroke=\"wat\" stroke-width=\"-4\"/></g>"
        "<path d=\"M0 0 L1 0\" transform=\"skewX(45)\" style=\"fill: currentColor; stroke-opacity: 30%\"/>"
        "<path d=\"M0 0 L0 1\" transform=\"rotate(90 5 5) matrix(1 2 3)\"/>");
    ASSERT_EQ(s.shapes.size(), 4u);
    const auto& a = s.shapes[0];
    EXPECT_EQ(a.segments[0].p[0], 12);
    EXPECT_EQ(a.segments[0].p[1], 2);
    EXPECT_DOUBLE_EQ(a.fillOpacity, 0.25);
    EXPECT_DOUBLE_EQ(a.strokeOpacity, 0.25);
    EXPECT_EQ(a.stroke.kind, 1);
    EXPECT_EQ(a.stroke.color, 0xFFFF0000u);
    EXPECT_DOUBLE_EQ(a.style.width, 6);  // scaled by the matrix
    EXPECT_EQ(a.style.cap, 2);
    EXPECT_EQ(a.style.join, 2);
    EXPECT_EQ(a.style.miterLimit, 1);
    EXPECT_TRUE(a.evenOdd);
    EXPECT_TRUE(a.crisp);
    const auto& b = s.shapes[1];
    EXPECT_EQ(b.fill.kind, 1);
    EXPECT_EQ(b.fill.color, 0xFF000000u);
    EXPECT_EQ(b.stroke.color, 0xFFFF0000u);  // unreadable paint leaves the inherited one
    EXPECT_EQ(b.style.width, 0);
    EXPECT_FALSE(b.evenOdd);
    const auto& c = s.shapes[2];
    EXPECT_EQ(c.fill.kind, 2);  // no color in force: stays current colour
    EXPECT_DOUBLE_EQ(c.strokeOpacity, 0.3);
    // skewX(45): x' = x + tan(45 deg) y.
    Svg k = doc("<path d=\"M0 2 L1 2\" transform=\"skewX(45)\"/><path d=\"M2 0 L3 0\" transform=\"skewY(45)\"/>");
    EXPECT_NEAR(k.shapes[0].segments[0].p[0], 2, 1e-12);
    EXPECT_NEAR(k.shapes[1].segments[0].p[1], 2, 1e-12);
    // rotate(90 5 5) maps (0, 0) to (10, 0); the short matrix() is identity.
    EXPECT_NEAR(s.shapes[3].segments[0].p[0], 10, 1e-12);
    EXPECT_NEAR(s.shapes[3].segments[0].p[1], 0, 1e-12);
}
