// UPDATE ALL and the row menu: the update-everything plan for mixes of rows, the menu's entries by
// row kind and while a job runs, a pick through the list with the pointer, and the menu in both
// looks (pictures written next to the test program).
#include <gtest/gtest.h>

#include <cctype>
#include <algorithm>
#include <cmath>
#include <tuple>

#include "manager/pixel_look/look.h"
#include "gui/draw/bitmapfont.h"
#include "tests/manager/pixel_support.h"
#include "tests/manager/view_actions_support.h"

using namespace testsupport;
using tqm::State;

namespace {

using MenuTest = ActionView;

struct UpdateAllCase {
    const char* name;
    std::vector<std::tuple<const char*, uint8_t, std::map<std::string, tqm::FormatRow>>> rows;  // all in state 2
    std::string opened;
    std::string jobTitle;
    std::string title;
    bool appChoices;
    int count;  // the status line's "N updates"
};

TEST_F(MenuTest, UpdateAllGathersEveryPendingUpdate) {
    const tqm::FormatRow u = fmt("AIPU"), gone = fmt("IPU"), current = fmt("AIP");
    const std::vector<UpdateAllCase> cases = {
        {"two plug-ins, one in two formats",
         {{"Synth", 0, {{"vst3", u}, {"clap", u}}}, {"Delay", 0, {{"vst3", u}}}},
         "UPDATE | install synth clap, install synth vst3, install delay vst3 | VST3*, CLAP*",
         "Updating 2 plugins", "Synth, Delay", false, 2},
        {"one app", {{"Studio", 1, {{"app", u}}}}, "UPDATE | install studio app | STUDIO*", "Updating 1 app", "Studio",
         true, 1},
        {"an app and a plug-in", {{"Studio", 1, {{"app", u}}}, {"Delay", 0, {{"vst3", u}, {"clap", current}}}},
         "UPDATE | install studio app, install delay vst3 | VST3*, STUDIO*", "Updating 2 items", "Studio, Delay",
         false, 2},
        {"an app carrying plug-ins", {{"Studio", 1, {{"app", u}, {"vst3", u}}}},
         "UPDATE | install studio app, install studio vst3 | VST3*, STUDIO*", "Updating 1 app", "Studio", false, 1},
        // A row whose update has no package here any more gives no task: it is neither counted nor named.
        {"one update without a package", {{"Synth", 0, {{"vst3", u}}}, {"Delay", 0, {{"vst3", gone}}}},
         "UPDATE | install synth vst3 | VST3*", "Updating 1 plugin", "Synth", false, 1},
        {"only updates without a package", {{"Delay", 0, {{"vst3", gone}}}}, "note: Everything is up to date", "", "",
         false, 0},
        {"nothing to update", {}, "note: Everything is up to date", "", "", false, 0},
    };
    for (const UpdateAllCase& c : cases) {
        SCOPED_TRACE(c.name);
        closeAll();
        std::vector<tqm::Row> rows;
        for (const auto& [name, kind, formats] : c.rows) {
            std::string id = name;
            for (char& ch : id) ch = char(std::tolower(static_cast<unsigned char>(ch)));
            rows.push_back(make(id, name, &entry(id, name, "2.0"), State::Update, kind, formats, "1.0"));
        }
        // A current row never joins.
        rows.push_back(make("other", "Other", &entry("other", "Other", "1.0"), State::Installed, 0, {{"vst3", current}}));
        setRows(std::move(rows));
        // The status line counts exactly the rows UPDATE ALL takes up.
        EXPECT_EQ(view->model()->updates(), c.count);
        view->updateAll();
        EXPECT_EQ(opened(), c.opened);
        if (!plan()) continue;
        EXPECT_EQ(plan()->jobTitle, c.jobTitle);
        EXPECT_EQ(plan()->doneText, c.jobTitle.substr(std::string("Updating ").size()) + " updated");
        EXPECT_EQ(plan()->title, c.title);
        EXPECT_EQ(plan()->appChoices, c.appChoices);
        EXPECT_EQ(plan()->titleVerb, c.appChoices ? "Updating" : "");
    }
}

// While a job runs, UPDATE ALL shows the running job's window and builds nothing.
TEST_F(MenuTest, UpdateAllWhileAJobRunsShowsTheJob) {
    setRows({make("synth", "Synth", &entry("synth", "Synth", "2.0"), State::Update, 0, {{"vst3", fmt("AIPU")}}, "1.0")});
    view->model()->busy = true;
    view->lastPlan.jobTitle = "Installing Delay";
    view->updateAll();
    ASSERT_NE(plan(), nullptr);
    EXPECT_EQ(plan()->jobTitle, "Installing Delay");
    EXPECT_EQ(view->openJobWindow()->state, tqapp::JobWindow::Running);
    // The menu greys every job entry but keeps the folder.
    closeAll();
    view->moreMenu(view->model()->rows.front());
    ASSERT_NE(menu(), nullptr);
    for (size_t i = 0; i < 4; ++i) EXPECT_FALSE(menu()->items[i].enabled) << menu()->items[i].label;
    EXPECT_TRUE(menu()->items[5].enabled);
}

// The labels name what the row is.
TEST_F(MenuTest, MenuLabelsFollowTheRowKind) {
    tqm::Plugin& carrying = entry("suite", "Suite", "1.0");
    carrying.packages["vst3"]["mac"].item = "Suite.vst3";
    const std::vector<std::tuple<tqm::Row, std::string, std::string>> cases = {
        {make("synth", "Synth", &entry("synth", "Synth", "1.0"), State::Absent, 0, {{"vst3", fmt("A")}}),
         "Install every format", "Open the plugin folder"},
        {make("suite", "Suite", &carrying, State::Absent, 1, {{"app", fmt("A")}, {"vst3", fmt("A")}}),
         "Install every format", "Open the folder"},
        {make("studio", "Studio", &entry("studio", "Studio", "1.0"), State::Absent, 1, {{"app", fmt("A")}}), "Install",
         "Open its folder"},
    };
    for (const auto& [row, install, open] : cases) {
        closeAll();
        setRows({row});
        view->moreMenu(view->model()->rows.front());
        ASSERT_NE(menu(), nullptr);
        std::vector<std::string> labels;
        for (const lumo::gui::MenuItem& it : menu()->items) labels.push_back(it.label);
        EXPECT_EQ(labels, (std::vector<std::string>{install, "Update", "Reinstall", "Remove", "", open}));
    }
}

// Each entry becomes its action; ticks are not consulted; unknown ids and vanished rows do nothing.
TEST_F(MenuTest, PickedEntriesBecomeActions) {
    setRows({make("synth", "Synth", &entry("synth", "Synth", "2.0"), State::Update, 0,
                  {{"vst3", fmt("AIPU")}, {"clap", fmt("A")}, {"au", fmt("IP")}}, "1.0")});
    view->wanted(view->model()->rows.front())["vst3"] = false;
    const std::vector<std::pair<int, std::string>> cases = {
        {1, "INSTALL | install synth vst3, install synth clap | VST3, CLAP*"},
        {2, "UPDATE | install synth vst3 | VST3*"},
        {3, "INSTALL | install synth vst3, install synth clap | VST3*, CLAP"},
        {4, "REMOVE | remove synth vst3, remove synth au | VST3*, AU*"},
        {0, "note: "},
        {-1, "note: "},
        {9, "note: "},
    };
    for (const auto& [id, expected] : cases) {
        SCOPED_TRACE(id);
        closeAll();
        view->moreChoice("synth", id);
        EXPECT_EQ(opened(), expected);
    }
    closeAll();
    view->moreChoice("nothing-of-that-id", 4);
    EXPECT_EQ(opened(), "note: ");
}

// A paint of the whole window with the menu's box (and a margin) written as a picture; answers
// how many pixels of the box are neither the list's background nor its border: its text.
int paintMenu(lumo::gui::Editor& editor, const lumo::gui::ListPopup& list, const std::string& name) {
    lumo::gui::Canvas with;
    editor.paint(with);
    const double s = editor.bodyScale();
    const lumo::gui::Rect b = list.bounds;
    const int bx0 = int(std::lround(b.x * s)), by0 = int(std::lround(b.y * s));
    const int bx1 = int(std::lround((b.x + b.w) * s)), by1 = int(std::lround((b.y + b.h) * s));
    const int m = 8, w = bx1 - bx0 + 2 * m, h = by1 - by0 + 2 * m;
    lumo::gui::Canvas crop = pixeltest::paper(w, h);
    int ink = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int sx = bx0 - m + x, sy = by0 - m + y;
            if (sx < 0 || sy < 0 || sx >= with.width || sy >= with.height) continue;
            const uint32_t px = with.pixels[size_t(sy) * size_t(with.width) + size_t(sx)];
            crop.pixels[size_t(y) * size_t(w) + size_t(x)] = px;
            const bool inside = sx >= bx0 && sx < bx1 && sy >= by0 && sy < by1;
            ink += inside && px != list.look->background && px != list.look->border;
        }
    EXPECT_TRUE(pixeltest::writePicture(pixeltest::enlarged(crop, 3), name));
    EXPECT_TRUE(pixeltest::writePicture(with, "window_" + name));
    return ink;
}

std::vector<std::string>& probed() {
    static std::vector<std::string> texts;
    return texts;
}

// In both looks and at 1x and 2x the menu opens as the toolkit's list under "more" (no native
// menus here), with the same ids and every label whole; a pointer click on "Remove" opens the removal.
TEST_F(MenuTest, MenuOpensAndPicksInBothLooks) {
    for (const bool skin : {false, true}) {
        SCOPED_TRACE(skin ? "skin look" : "pixel look");
        if (skin) {
            open({"--look", "tq"});
            ASSERT_TRUE(viewLoaded());
        }
        setRows({make("synth", "Synth", &entry("synth", "Synth", "1.0"), State::Installed, 0,
                      {{"vst3", fmt("AIP")}, {"clap", fmt("A")}}, "1.0")});
        for (const double scale : {2.0, 1.0}) {
            const std::string name = std::string("row_menu_") + (skin ? "skin" : "pixel") + (scale > 1 ? "@2x" : "");
            SCOPED_TRACE(name);
            editor->setScale(scale);
            view->moreMenu(view->model()->rows.front());
            lumo::gui::ListPopup* list = menu();
            ASSERT_NE(list, nullptr);
            // Under the "more" button, in window units.
            const lumo::gui::Rect more = skin ? view->spriteRect("more_up") : tqapp::PixelLook::devBox(*view, "more");
            EXPECT_EQ(list->bounds.y, view->absoluteBounds().y + more.y + more.h);

            probed().clear();
            lumo::gui::textProbe() = [](const std::string& text, lumo::gui::Rect, lumo::gui::Rect, int) {
                probed().push_back(text);
            };
            EXPECT_GT(paintMenu(*editor, *list, name + ".png"), int(200 * scale * scale));
            lumo::gui::textProbe() = nullptr;
            for (const char* label : {"Install every format", "Reinstall", "Remove", "Open the plugin folder"}) {
                const std::string want = skin ? label : tqapp::upper(label);
                EXPECT_NE(std::find(probed().begin(), probed().end(), want), probed().end()) << want;
            }
        }

        // The pointer on "Remove" (the fourth row).
        lumo::gui::ListPopup* list = menu();
        ASSERT_NE(list, nullptr);
        const double s = editor->bodyScale();
        const int x = int((list->bounds.x + list->bounds.w / 2) * s);
        const int y = int((list->bounds.y + list->yOf(3) + list->look->rowHeight / 2) * s);
        editor->mouseMove(x, y, false, false, false);
        editor->mouseDown(x, y, lumo::gui::kButtonLeft, false, false, false, false);
        editor->mouseUp(x, y, lumo::gui::kButtonLeft);
        EXPECT_EQ(opened(), "REMOVE | remove synth vst3 | VST3*");
    }
}

}  // namespace
