// The maker's logo mark: its size follows the factor, its fill is centred in the rectangle within a
// device pixel and never leaves it, and the clip comes back.
#include <gtest/gtest.h>

#include <cmath>

#include "gui/chrome/logo.h"
#include "tests/manager/pixel_support.h"

using namespace pixeltest;

namespace {

constexpr lumo::gui::Color kInk = 0xFFCBDEE5u;

// The coverage-weighted centre of everything the fill changed, and its total coverage in pixels.
struct Centre {
    double x = 0, y = 0, area = 0;
};

Centre centreOf(const Canvas& c) {
    Centre m;
    const uint32_t ink = lumo::gui::pixelOf(kInk);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const uint32_t p = at(c, x, y);
            if (p == kPaper) continue;
            // Coverage from the red channel: paper 0xF0, ink 0xE5 differ too little; use blue (0x30 -> 0xCB).
            const double k = (double(p & 0xFF) - double(kPaper & 0xFF)) / (double(ink & 0xFF) - double(kPaper & 0xFF));
            m.x += (x + 0.5) * k, m.y += (y + 0.5) * k, m.area += k;
        }
    if (m.area > 0) m.x /= m.area, m.y /= m.area;
    return m;
}

double areaAtOne() {
    static const double area = [] {
        Canvas c = paper(60, 40);
        lumo::gui::drawArduneLogo(c, Rect{5, 5, 50, 30}, 1.0, kInk);
        return centreOf(c).area;
    }();
    return area;
}

}  // namespace

TEST(Logo, CentredWithinAPixelAndInsideItsRectangleAtEveryScale) {
    for (double s : kScales)
        for (Rect r : {Rect{7, 5, 40, 20}, Rect{3, 2, 41, 23}, Rect{10, 9, 64, 31}}) {
            r.w = int(std::lround(r.w * s)), r.h = int(std::lround(r.h * s));
            SCOPED_TRACE(testing::Message() << s << " rect " << r.w << "x" << r.h);
            Canvas c = paper(r.x + r.w + 8, r.y + r.h + 8);
            c.clip = Rect{1, 1, c.width - 2, c.height - 2};
            lumo::gui::drawArduneLogo(c, r, s, kInk);
            EXPECT_EQ(c.clip.x, 1);
            EXPECT_EQ(c.clip.w, c.width - 2);
            const Rect ink = inkBox(c);
            EXPECT_TRUE(inside(ink, r));
            const Centre m = centreOf(c);
            EXPECT_NEAR(m.x, r.x + r.w / 2.0, 1.0);
            EXPECT_NEAR(m.y, r.y + r.h / 2.0, 1.0);
            // The mark spans 37 x 20 units at the factor (anti-aliased edges may add a pixel each side).
            EXPECT_NEAR(ink.w, 37 * s, 2.0);
            EXPECT_NEAR(ink.h, std::min(20 * s, double(r.h)), 2.0);
            // The covered area grows with the square of the factor.
            EXPECT_NEAR(m.area, areaAtOne() * s * s, 0.02 * areaAtOne() * s * s);
            // Fully covered pixels take the colour exactly.
            EXPECT_GT(count(c, lumo::gui::pixelOf(kInk)), 0);
        }
}

TEST(Logo, TooLargeForItsRectangleItIsCutAtTheEdges) {
    for (double s : kScales) {
        SCOPED_TRACE(s);
        const Rect r{12, 10, int(20 * s), int(8 * s)};
        Canvas c = paper(r.x + r.w + 40, r.y + r.h + 30);
        lumo::gui::drawArduneLogo(c, r, s, kInk);
        EXPECT_TRUE(inside(inkBox(c), r));
        EXPECT_EQ(c.clip.w, c.width);
        EXPECT_EQ(c.clip.h, c.height);
    }
}

TEST(Logo, DegenerateInputDrawsNothing) {
    const double factors[] = {0.0, -1.0, NAN, INFINITY};
    for (double f : factors) {
        Canvas c = paper(50, 30);
        lumo::gui::drawArduneLogo(c, Rect{0, 0, 50, 30}, f, kInk);
        EXPECT_TRUE(inkBox(c).empty()) << f;
    }
    Canvas c = paper(50, 30);
    lumo::gui::drawArduneLogo(c, Rect{0, 0, 0, 30}, 1.0, kInk);
    c.clip = Rect{0, 0, 0, 0};
    lumo::gui::drawArduneLogo(c, Rect{0, 0, 50, 30}, 1.0, kInk);
    EXPECT_TRUE(inkBox(c).empty());
    EXPECT_EQ(c.clip.w, 0);
}
