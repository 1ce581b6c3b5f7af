// The settings window in its states (idle, checking, an update available, a job running, folders moved
// far away, an update known only from the cached catalog), painted side by side at scales 1 and 2 and written next to the test program for a person to
// look at; the assertions read the painted pixels.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manager/windows/settings_window.h"
#include "manager/pixel_look/primitives.h"
#include "manager/pixel_look/primitives_internal.h"
#include "tests/manager/account_window_support.h"
#include "tests/manager/parts_support.h"
#include "tests/manager/pixel_support.h"

using namespace pixeltest;
using accounttest::FakeHost;
using tqapp::AccountWindow;
namespace dev = tqapp::dev;
using lumo::gui::Paint;
using lumo::gui::pixelOf;

namespace {

struct State {
    std::string name;
    FakeHost fake;
    std::string hover, pressed;
};

std::vector<State> states() {
    std::vector<State> out(6);
    out[0].name = "idle";
    out[0].hover = "scope:system";
    out[1].name = "loading";
    out[1].fake.loading = true;
    out[2].name = "update";
    out[2].fake.update = "0.4.0";
    out[2].hover = "update";
    out[3].name = "busy";
    out[3].fake.busy = true;
    out[3].fake.layout.scope = tqm::Scope::System;
    out[3].fake.layout.folders["vst3"] = "/Volumes/Sound Library/Plug-Ins/VST3";
    out[4].name = "long-folders";
    out[4].fake.layout.folders["vst3"] = "/home/someone/a very long folder name/that goes on/and on/Plug-Ins/VST3";
    out[4].fake.layout.folders["clap"] = "/x";
    out[4].hover = out[4].pressed = "change:clap";
    out[5].name = "update-offline";
    out[5].fake.update = "0.4.0";
    out[5].fake.offersUpdate = false;
    out[5].hover = "check";
    return out;
}

// The settings window's whole box.
Paint paintAt(Canvas& c, int x, int y, double s) {
    return pixeltest::paintAt(c, x, y, AccountWindow::kWidth, AccountWindow::kHeight, s);
}

// Whether any pixel of the rectangle is the colour.
bool holds(const Canvas& c, Rect r, uint32_t pixel) {
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x)
            if (at(c, x, y) == pixel) return true;
    return false;
}

}  // namespace

// Scales 1 and 2 make the contact sheets; 1.5 and 3 are checked and written window by window.
TEST(PixelAccountWindow, EveryStateAtEveryScale) {
    for (double s : {1.0, 1.2, 1.5, 2.0, 3.0}) {
        SCOPED_TRACE(s);
        std::vector<State> all = states();
        const int gap = lr(8 * s), cellW = lr(AccountWindow::kWidth * s) + gap, cellH = lr(AccountWindow::kHeight * s) + gap;
        const int perRow = int(all.size());
        Canvas sheet = paper(gap + perRow * cellW, gap + cellH);
        for (size_t i = 0; i < all.size(); ++i) {
            State& st = all[i];
            SCOPED_TRACE(st.name);
            auto w = st.fake.window();
            if (const auto hover = partstest::partNamed(*w, st.hover)) w->pointer.hover = hover->id;
            if (const auto pressed = partstest::partNamed(*w, st.pressed)) w->pointer.pressed = pressed->id;
            w->draw(paintAt(sheet, gap + int(i) * cellW, gap, s));

            // One window alone on paper: nothing leaves its rectangle, and the frame is whole.
            Canvas alone = paper(lr(AccountWindow::kWidth * s) + 20, lr(AccountWindow::kHeight * s) + 20);
            const Paint p = paintAt(alone, 10, 10, s);
            w->draw(p);
            const Rect whole{10, 10, lr(AccountWindow::kWidth * s), lr(AccountWindow::kHeight * s)};
            const Rect ink = inkBox(alone);
            EXPECT_TRUE(ink.x == whole.x && ink.y == whole.y && ink.w == whole.w && ink.h == whole.h);
            EXPECT_EQ(at(alone, whole.x, whole.y + whole.h / 2), pixelOf(dev::rule));
            EXPECT_EQ(at(alone, whole.x + whole.w - 1, whole.y + whole.h - 1), pixelOf(dev::rule));

            // Folder texts stay inside their boxes, clear of the one-dot outline.
            const int u = dev::one(s);
            for (int k = 0; k < 2; ++k) {
                const Rect box = dev::device(p, Rect{40, 129 + 18 * k, 144, 15});
                const Rect inner{box.x + u, box.y + u, box.w - 2 * u, box.h - 2 * u};
                for (int y = box.y; y < box.y + box.h; ++y) {
                    EXPECT_EQ(at(alone, box.x, y), pixelOf(dev::rule));
                    EXPECT_EQ(at(alone, box.x + box.w - 1, y), pixelOf(dev::rule));
                }
                const bool moved = st.fake.layout.folders.count(k == 0 ? "vst3" : "clap") > 0;
                EXPECT_TRUE(holds(alone, inner, pixelOf(moved ? dev::cream : dev::wave))) << k;
                EXPECT_FALSE(holds(alone, inner, pixelOf(moved ? dev::wave : dev::cream))) << k;
            }
            // The scope mark: cream in the chosen row while enabled, wave while a job runs.
            const bool system = st.fake.layout.scope == tqm::Scope::System;
            const Rect mark = dev::device(p, Rect{8 + 3, (system ? 111 : 97) + 5, 3, 3});
            const Rect other = dev::device(p, Rect{8 + 3, (system ? 97 : 111) + 5, 3, 3});
            EXPECT_EQ(at(alone, mark.x + mark.w / 2, mark.y + mark.h / 2), pixelOf(st.fake.busy ? dev::wave : dev::cream));
            EXPECT_EQ(at(alone, other.x + other.w / 2, other.y + other.h / 2), pixelOf(dev::bg));
            // The manager button: enabled (rule border) only when idle or with an update; its label reads
            // UPDATE only with one (a wider label).
            const Rect button = dev::device(p, Rect{214, 200, 78, 15});
            const bool enabled = !st.fake.busy && !st.fake.loading;
            const bool hot = st.hover == (st.fake.update.empty() || !st.fake.offersUpdate ? "check" : "update");
            EXPECT_EQ(at(alone, button.x, button.y + button.h / 2), pixelOf(enabled ? dev::rule : dev::dim));
            EXPECT_EQ(at(alone, button.x + 2 * u, button.y + 2 * u) == pixelOf(dev::bg), !(enabled && hot));
            EXPECT_TRUE(writePicture(alone, "account-window-" + st.name + "-" + scaleName(s) + ".png"));
        }
        if (s == 1.0 || s == 2.0) {
            EXPECT_TRUE(writePicture(sheet, "account-window-sheet-" + scaleName(s) + ".png"));
        }
        if (s == 1.0) {
            EXPECT_TRUE(writePicture(enlarged(sheet, 2), "account-window-sheet-1x-enlarged.png"));
        }
    }
}

// The version line tells the manager's state, lit only when an update is there.
TEST(PixelAccountWindow, VersionLineByState) {
    struct Case {
        bool loading;
        std::string update;
        uint32_t ink;
    };
    const Case cases[] = {{false, "", pixelOf(dev::wave)}, {true, "0.4.0", pixelOf(dev::wave)}, {false, "0.4.0", pixelOf(dev::cream)}};
    for (double s : {1.0, 2.0})
        for (const Case& c : cases) {
            FakeHost fake;
            fake.loading = c.loading;
            fake.update = c.update;
            auto w = fake.window();
            Canvas canvas = paper(lr(300 * s), lr(272 * s));
            const Paint p = paintAt(canvas, 0, 0, s);
            w->draw(p);
            const Rect line = dev::device(p, Rect{8, 200, 200, 15});
            EXPECT_TRUE(holds(canvas, line, c.ink)) << s << " " << c.update;
            EXPECT_FALSE(holds(canvas, line, c.ink == pixelOf(dev::cream) ? pixelOf(dev::wave) : pixelOf(dev::cream)));
        }
}

// Without a catalog the line says the check could not be made, never "UP TO DATE": the line is
// exactly the one drawn with that text.
TEST(PixelAccountWindow, NoCatalogIsNotUpToDate) {
    for (double s : {1.0, 2.0}) {
        FakeHost fake;
        fake.catalogLoaded = false;
        Canvas drawn = paper(lr(300 * s), lr(272 * s));
        fake.window()->draw(paintAt(drawn, 0, 0, s));

        fake.catalogLoaded = true;
        Canvas want = paper(lr(300 * s), lr(272 * s));
        const Paint p = paintAt(want, 0, 0, s);
        fake.window()->draw(p);
        const Rect line = dev::device(p, Rect{8, 200, 200, 15});
        ASSERT_EQ(at(drawn, line.x, line.y), pixelOf(dev::bg));
        want.fillRect(line, dev::bg);
        dev::textIn(p, dev::font(s, false, false), Rect{8, 200, 200, 15}, "MANAGER 0.3.0  -  NO CATALOG", dev::wave, 0,
                    false);
        EXPECT_EQ(hashOf(drawn), hashOf(want)) << s;
        EXPECT_TRUE(writePicture(drawn, "account-window-no-catalog-" + scaleName(s) + ".png"));
    }
}
