// Contact sheets of the pixel look, written next to the test program for a person to look at:
// every primitive and the logo at each scale, and the swirl at several phases, energies and failed.
// The assertions read the decoded pictures back.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "gui/chrome/logo.h"
#include "gui/list_popup.h"
#include "manager/pixel_look/primitives.h"
#include "manager/windows/swirl.h"
#include "tests/manager/pixel_support.h"
#include "tests/support/png.h"

using namespace pixeltest;
namespace dev = tqapp::dev;
using lumo::gui::Paint;

namespace {

// Logical rectangles laid out on a sheet of one scale, mapped to device pixels.
struct Sheet {
    Canvas& c;
    double s;
    Rect d(int x, int y, int w, int h) const { return Rect{lr(x * s), lr(y * s), lr((x + w) * s) - lr(x * s), lr((y + h) * s) - lr(y * s)}; }
    Paint paint() const { return Paint{c, Rect{0, 0, c.width, c.height}, s, false, {}, {}}; }
    Paint paintAt(int x, int y, int w, int h) const { return Paint{c, d(x, y, w, h), s, false, {}, {}}; }
};

lumo::gui::MenuItem entry(const std::string& label, bool enabled = true, bool separator = false) {
    lumo::gui::MenuItem m;
    m.label = label;
    m.enabled = enabled;
    m.separator = separator;
    return m;
}

void label(const Sheet& sh, Rect r, const std::string& text, lumo::gui::Color ink) {
    const auto* f = dev::font(sh.s, false, false);
    if (!f) return;
    f->draw(sh.c, r.x + (r.w - f->width(text)) / 2, r.y + (r.h + f->cap_height) / 2, text, &ink);
}

// Every primitive at one scale, on the panel colour: 470 x 162 logical units.
Canvas primitivesAt(double s) {
    Canvas c;
    c.resize(lr(470 * s), lr(162 * s));
    c.clear(dev::bg);
    const Sheet sh{c, s};
    const Paint p = sh.paint();
    // Buttons: idle, hot, pressed, disabled.
    const bool states[4][3] = {{false, false, true}, {true, false, true}, {true, true, true}, {false, false, false}};
    for (int i = 0; i < 4; ++i) {
        const Rect r = sh.d(6 + i * 64, 6, 58, 18);
        dev::button(p, r, states[i][0], states[i][1], states[i][2]);
        label(sh, r, i == 3 ? "OFF" : "UPDATE", dev::buttonInk(states[i][0], states[i][1], states[i][2]));
    }
    // Tick boxes: off, on, hot, pressed on, disabled on, disabled off.
    const bool boxes[6][4] = {{false, false, false, true}, {true, false, false, true}, {false, true, false, true},
                              {true, true, true, true},    {true, false, false, false}, {false, false, false, false}};
    for (int i = 0; i < 6; ++i) dev::checkbox(p, sh.d(264 + i * 16, 8, 14, 14), boxes[i][0], boxes[i][1], boxes[i][2], boxes[i][3]);
    // Lamps, arrows and a dot bitmap.
    dev::lamp(p, sh.d(6, 32, 10, 10), true);
    dev::lamp(p, sh.d(18, 32, 10, 10), false);
    const char dirs[] = {'u', 'r', 'l', 'd'};
    for (int i = 0; i < 4; ++i) dev::arrow(p, sh.d(34 + i * 12, 32, 10, 10), dirs[i], i % 2 ? dev::wave : dev::cream);
    dev::pixelsIn(p, sh.d(84, 30, 30, 14), {"#...#.###", "##.##.#..", "#.#.#.##.", "#...#.#..", "#...#.###"}, dev::wave);
    // Window buttons: close and minimise, idle, hot, pressed.
    for (int i = 0; i < 6; ++i) dev::squareButton(p, sh.d(120 + i * 20, 28, 18, 18), i < 3, i % 3 == 1, i % 3 == 2);
    // The window bar of the job window, idle and with its close button hot.
    dev::windowBar(sh.paintAt(6, 52, 218, 22), 218, 22, Rect{198, 2, 18, 18}, false, false);
    dev::windowBar(sh.paintAt(240, 52, 218, 22), 218, 22, Rect{198, 2, 18, 18}, true, false);
    // The logo alone at the factor, and twice as large.
    lumo::gui::drawArduneLogo(c, sh.d(6, 82, 40, 20), s, dev::cream);
    lumo::gui::drawArduneLogo(c, sh.d(50, 80, 80, 44), 2 * s, dev::cream);
    // A menu: a hovered row, a ticked and a tickable row, a separator and a disabled row.
    std::vector<lumo::gui::MenuItem> items = {entry("Open the folder"), entry("\x01Show betas"), entry("\x02Show logs"),
                                              entry("", true, true), entry("Remove", false)};
    lumo::gui::ListPopup menu(dev::menuLook(), items, Rect{0, 0, 0, 0});
    menu.bounds.w = menu.look->measureWidth(items, s);
    menu.bounds.h = lumo::gui::ListPopup::heightOf(*menu.look, items);
    menu.hover = 0;
    menu.draw(sh.paintAt(250, 80, menu.bounds.w, menu.bounds.h));
    return c;
}

// The swirl of the job window (218 x 96 logical) at a scale: phases 0, 8 and 40 calm, then energy
// 0.6, full energy and failed.
Canvas swirlsAt(double s) {
    const int w = lr(218 * s), h = lr(96 * s), gap = lr(6 * s);
    Canvas c;
    c.resize(3 * w + 4 * gap, 2 * h + 3 * gap);
    c.clear(0xFF302020u);
    tqapp::Swirl swirl;
    struct Shot {
        double phase, energy;
        bool failed;
    };
    const Shot shots[] = {{0, 0, false}, {8, 0, false}, {40, 0, false}, {40, 0.6, false}, {40, 1.0, false}, {40, 0, true}};
    for (int i = 0; i < 6; ++i) {
        const Rect area{gap + (i % 3) * (w + gap), gap + (i / 3) * (h + gap), w, h};
        swirl.draw(c, area, dev::one(s), s, shots[i].phase, shots[i].energy, shots[i].failed);
    }
    return c;
}

void writeAndCheck(const Canvas& c, const std::string& name) { EXPECT_TRUE(writePicture(c, name)); }

}  // namespace

TEST(PixelSheet, EveryPrimitiveAndTheLogoAtEachScale) {
    int creamBefore = 0;
    for (double s : kScales) {
        SCOPED_TRACE(s);
        const Canvas c = primitivesAt(s);
        writeAndCheck(c, "pixel-look-" + scaleName(s) + ".png");
        if (s <= 2.0) writeAndCheck(enlarged(c, 3), "pixel-look-" + scaleName(s) + "-enlarged.png");
        // Every picture of the sheet is drawn in the palette (or blends of it over bg): nothing else.
        for (uint32_t px : c.pixels) ASSERT_EQ(px >> 24, 0xFFu);
        // The lit lamp and the arrows leave ink of both inks, and a larger scale draws more of it.
        const int cream = count(c, lumo::gui::pixelOf(dev::cream));
        EXPECT_GT(count(c, lumo::gui::pixelOf(dev::wave)), 0);
        EXPECT_GT(cream, creamBefore);
        creamBefore = cream;
    }
}

TEST(PixelSheet, SwirlPhasesEnergiesAndFailure) {
    for (double s : {1.0, 2.0}) {
        SCOPED_TRACE(s);
        const Canvas c = swirlsAt(s);
        writeAndCheck(c, "swirl-" + scaleName(s) + ".png");
        EXPECT_GT(count(c, lumo::gui::pixelOf(dev::cream)), 0);
    }
}
