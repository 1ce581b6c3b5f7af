// The pixel-look window bar and popup menus at every scale.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "gui/draw/bitmapfont.h"
#include "gui/list_popup.h"
#include "manager/pixel_look/primitives.h"
#include "tests/manager/pixel_support.h"

using namespace pixeltest;
namespace dev = tqapp::dev;
using lumo::gui::MenuItem;
using lumo::gui::pixelOf;

namespace {

struct Text {
    std::string text;
    Rect ink;
    int penEnd;
};
std::vector<Text> seen;

// Collects every text drawn while it lives.
struct TextLog {
    TextLog() {
        seen.clear();
        lumo::gui::textProbe() = [](const std::string& t, Rect ink, Rect, int pen) { seen.push_back({t, ink, pen}); };
    }
    ~TextLog() { lumo::gui::textProbe() = nullptr; }
};

MenuItem item(const std::string& label, bool enabled = true) {
    MenuItem m;
    m.label = label;
    m.enabled = enabled;
    return m;
}

}  // namespace

TEST(DevWindowBar, FootLineLogoWordMarkAndCloseButtonInsideTheBar) {
    for (double s : kScales)
        for (int state = 0; state < 3; ++state) {
            SCOPED_TRACE(testing::Message() << s << " state " << state);
            const int u = dev::one(s);
            const Rect bar{6, 9, lr(218 * s), lr(22 * s)};
            Canvas c = paper(bar.x + bar.w + 10, bar.y + bar.h + 10);
            c.clip = Rect{2, 3, c.width - 4, c.height - 5};
            TextLog log;
            dev::windowBar(lumo::gui::Paint{c, bar, s, false, {}, {}}, 218, 22, Rect{198, 2, 18, 18}, state == 1,
                           state == 2);
            EXPECT_EQ(c.clip.x, 2);
            EXPECT_EQ(c.clip.w, c.width - 4);
            EXPECT_EQ(c.clip.h, c.height - 5);
            EXPECT_TRUE(inside(inkBox(c), bar));
            // The foot: exactly one dot of rule across the whole width.
            for (int x = bar.x; x < bar.x + bar.w; ++x) {
                for (int k = 1; k <= u; ++k) ASSERT_EQ(at(c, x, bar.y + bar.h - k), pixelOf(dev::rule)) << x;
                ASSERT_NE(at(c, x, bar.y + bar.h - u - 1), pixelOf(dev::rule)) << x;
            }
            // The logo: cream inside its cell (4, 1, 40, 20), centred across it.
            const Rect logo{bar.x + lr(4 * s), bar.y + lr(1 * s), lr(44 * s) - lr(4 * s), lr(21 * s) - lr(1 * s)};
            int lx0 = 1 << 30, lx1 = -1;
            for (int y = logo.y; y < logo.y + logo.h; ++y)
                for (int x = bar.x; x < bar.x + lr(47 * s); ++x)
                    if (at(c, x, y) != kPaper) lx0 = std::min(lx0, x), lx1 = std::max(lx1, x);
            EXPECT_LE(std::abs((lx0 - logo.x) - (logo.x + logo.w - 1 - lx1)), 1);
            // The word mark: two texts on one baseline, the second a space after the first.
            ASSERT_EQ(seen.size(), 2u);
            EXPECT_EQ(seen[0].text, "ARDUNE");
            EXPECT_EQ(seen[1].text, "VIDO");
            const auto* bold = dev::font(s, true, false);
            EXPECT_EQ(seen[1].penEnd - dev::font(s, false, false)->width("VIDO"), seen[0].penEnd + bold->space);
            for (const Text& t : seen) {
                EXPECT_TRUE(inside(t.ink, Rect{bar.x, bar.y, bar.w, bar.h - u}));
                EXPECT_LT(t.ink.x + t.ink.w, bar.x + lr(198 * s));
            }
            // The line box is centred on the strip, so the capitals stand near its middle (at 1.25 the
            // 1x font sits in a taller strip and keeps a few pixels more below).
            const int above = seen[0].ink.y - bar.y, below = bar.y + bar.h - u - (seen[0].ink.y + seen[0].ink.h);
            EXPECT_LE(std::abs(above - below), 2 * u + 2);
            // The close button: 13 dots, lit when hot or pressed, inside its cell.
            const Rect cell{bar.x + lr(198 * s), bar.y + lr(2 * s), lr(216 * s) - lr(198 * s), lr(20 * s) - lr(2 * s)};
            const int sx = cell.x + (cell.w - 13 * u) / 2, sy = cell.y + (cell.h - 13 * u) / 2;
            EXPECT_EQ(at(c, sx, sy + (state == 2 ? std::min(u, cell.y + cell.h - sy - 13 * u) : 0)),
                      pixelOf(state ? dev::cream : dev::wave));
        }
}

TEST(DevMenu, WidthFollowsTheWidestCapitalisedLabelBetween110And320) {
    const auto* f = dev::font(1.0, false, false);
    ASSERT_NE(f, nullptr);
    const lumo::gui::MenuLook look = dev::menuLook();
    struct Case {
        std::vector<MenuItem> items;
        int width;
    };
    const int folder = f->width("OPEN THE FOLDER") + 26;
    const Case cases[] = {
        {{}, 110},
        {{item("Open"), item("Close")}, 110},
        {{item("\x01")}, 110},  // the marker alone counts 38
        {{item("Open the folder")}, std::max(110, folder)},
        {{item(std::string("\x02") + "Open the folder and every folder inside it")},
         f->width("OPEN THE FOLDER AND EVERY FOLDER INSIDE IT") + 38},
        {{item(std::string(200, 'w'))}, 320},
    };
    for (const Case& k : cases) EXPECT_EQ(look.measureWidth(k.items, 1.0), k.width);
    // Capitals are measured, whatever the label's case.
    EXPECT_EQ(look.measureWidth({item("open the folder and every folder inside it")}, 1.0),
              look.measureWidth({item("OPEN THE FOLDER AND EVERY FOLDER INSIDE IT")}, 1.0));
    // At 2 the device width is halved back to logical units, rounded up.
    const auto* f2 = dev::font(2.0, false, false);
    const std::string longer = "OPEN THE FOLDER AND EVERY FOLDER INSIDE IT";
    EXPECT_EQ(look.measureWidth({item(longer)}, 2.0), (f2->width(longer) + 1) / 2 + 26);
}

TEST(DevMenu, ItemsAreCapitalsAndTickedOnesCarryTheDotTick) {
    for (double s : kScales) {
        SCOPED_TRACE(s);
        const int u = dev::one(s);
        MenuItem rule;
        rule.separator = true;
        const std::vector<MenuItem> items = {item("Open the folder"), item("\x01Show betas"), item("\x02Show logs"),
                                             item("Remove", false), rule};
        lumo::gui::ListPopup menu(dev::menuLook(), items, Rect{0, 0, 140, 0});
        menu.bounds.h = lumo::gui::ListPopup::heightOf(*menu.look, items);
        const Rect r{3, 4, lr(140 * s), lr(menu.bounds.h * s)};
        Canvas c = paper(r.x + r.w + 3, r.y + r.h + 3);
        TextLog log;
        menu.draw(lumo::gui::Paint{c, r, s, false, {}, {}});
        EXPECT_TRUE(inside(inkBox(c), r));
        ASSERT_EQ(seen.size(), 4u);
        EXPECT_EQ(seen[0].text, "OPEN THE FOLDER");
        EXPECT_EQ(seen[1].text, "SHOW BETAS");
        EXPECT_EQ(seen[2].text, "SHOW LOGS");
        EXPECT_EQ(seen[3].text, "REMOVE");
        // The ticked row's tick: its top-right cell at the row's right edge less the inset.
        const Rect row1{r.x + lr(1 * s), r.y + lr((3 + 14) * s), lr(139 * s) - lr(1 * s), lr(31 * s) - lr(17 * s)};
        const int inset = lr(6 * s);
        const int baseline = row1.y + (row1.h + dev::font(s, false, false)->cap_height) / 2;
        const int tx = row1.x + row1.w - inset - 5 * u, ty = baseline - 4 * u;
        EXPECT_EQ(at(c, tx + 4 * u, ty), pixelOf(dev::cream));  // plain ticked rows are cream
        EXPECT_EQ(at(c, tx + u, ty + 3 * u), pixelOf(dev::cream));
        EXPECT_EQ(at(c, tx, ty), pixelOf(dev::bg));
        // The frame is one dot of cream on every side.
        for (int k = 0; k < u; ++k) {
            EXPECT_EQ(at(c, r.x + k, r.y + r.h / 2), pixelOf(dev::cream));
            EXPECT_EQ(at(c, r.x + r.w - 1 - k, r.y + r.h / 2), pixelOf(dev::cream));
            EXPECT_EQ(at(c, r.x + r.w / 2, r.y + k), pixelOf(dev::cream));
            EXPECT_EQ(at(c, r.x + r.w / 2, r.y + r.h - 1 - k), pixelOf(dev::cream));
        }
        EXPECT_EQ(at(c, r.x + u, r.y + r.h / 2), pixelOf(dev::bg));
        // The separator: one dot of rule, 6 units in from each side.
        const int sepTop = r.y + lr((3 + 4 * 14) * s), sepH = lr((3 + 5 * 14) * s) - lr((3 + 4 * 14) * s);
        int thick = 0;
        for (int y = sepTop; y < sepTop + sepH; ++y) thick += at(c, r.x + r.w / 2, y) == pixelOf(dev::rule);
        EXPECT_EQ(thick, u);
        const int sy = sepTop + (sepH - u) / 2;
        EXPECT_EQ(at(c, r.x + lr(6 * s), sy), pixelOf(dev::rule));
        EXPECT_EQ(at(c, r.x + lr(6 * s) - 1, sy), pixelOf(dev::bg));
        EXPECT_EQ(at(c, r.x + r.w - lr(6 * s) - 1, sy), pixelOf(dev::rule));
        EXPECT_EQ(at(c, r.x + r.w - lr(6 * s), sy), pixelOf(dev::bg));
        EXPECT_EQ(at(c, r.x + r.w / 2, r.y + r.h - 1 - u), pixelOf(dev::bg));
    }
}

TEST(DevMenu, WithoutAFontNothingIsWrittenAndTheWidthIs110) {
    const lumo::gui::MenuLook look = dev::menuLook();
    Canvas c = paper(60, 30);
    TextLog log;
    // A scale with no pack still finds the nearest pack; the painter just needs a font. The text
    // painter is safe on an empty label and on one made only of the marker.
    look.drawText(paintOf(c, 1.0), Rect{0, 0, 60, 14}, "", dev::wave, true);
    look.drawText(paintOf(c, 1.0), Rect{0, 14, 60, 14}, "\x01", dev::wave, true);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(count(c, pixelOf(dev::cream)), 5);  // only the tick
}
