// Pointer input of the main window through the editor: the hit list in both looks, every hit name
// clicked at its centre with the effect it must have, presses that move off before release, the
// scrollbar cap drag, the sort headers, row selection on press and pills over rows.
#include <gtest/gtest.h>

#include <climits>
#include <map>

#include "manager/pixel_look/look.h"
#include "manager/windows/job_window.h"
#include "manager/windows/settings_window.h"
#include "tests/manager/job_window_support.h"
#include "tests/manager/parts_support.h"
#include "tests/manager/window_fixture.h"

using namespace testsupport;
using lumo::gui::Rect;

namespace {

class ViewInput : public WindowTest {
protected:
    // What a click may change, each as a short text.
    std::map<std::string, std::string> observe() const {
        std::map<std::string, std::string> o;
        o["closed"] = std::to_string(closes);
        o["minimised"] = std::to_string(minimises);
        o["sort"] = view->sortColumn() + (view->sortAscending() ? " up" : " down");
        o["scroll"] = std::to_string(view->scroll());
        o["selected"] = view->selectedId();
        o["shown"] = view->shownFormat();
        o["note"] = view->model()->note;
        std::string ticks;
        for (const auto& [id, map] : view->wants())
            for (const auto& [format, on] : map)
                if (on) ticks += id + "." + format + " ";
        o["ticks"] = ticks;
        std::string companions;
        for (const auto& [key, on] : view->companionTicks()) companions += key + (on ? "+ " : "- ");
        o["companions"] = companions;
        const tqapp::JobWindow* job = view->openJobWindow();
        o["job"] = job ? job->plan.title : "";
        o["overlays"] = std::to_string(editor->overlays().size());
        return o;
    }

    // The changes between two observations, as "key=value" words.
    static std::string changes(const std::map<std::string, std::string>& before,
                               const std::map<std::string, std::string>& after) {
        std::string out;
        for (const auto& [key, value] : after)
            if (before.at(key) != value) out += (out.empty() ? "" : " ") + key + "=" + value;
        return out;
    }

    // A window in the look with the plug-in "aurora" (all three formats) selected and the list
    // scrolled one line down, so that every control has something to change.
    void prepare(const std::string& lookWord) {
        openFull(lookWord);
        for (size_t i = 0; i < view->displayList().size(); ++i)
            if (view->displayList()[i] >= 0 && view->model()->rows[size_t(view->displayList()[i])].id == "aurora")
                view->selectIndex(int(i));
        ASSERT_EQ(view->selectedId(), "aurora");
        view->setScroll(view->rowPitch());
        ASSERT_EQ(view->scroll(), view->rowPitch());
    }

    static lumo::gui::MouseEvent at(int x, int y) {
        lumo::gui::MouseEvent e;
        e.x = x;
        e.y = y;
        return e;
    }

    std::string idOfLine(const std::string& name) const {
        const int i = std::atoi(name.c_str() + name.find(':') + 1);
        return view->model()->rows[size_t(view->displayList()[size_t(i)])].id;
    }

    // The effect a click on each hit name must have from the prepared state.
    std::string expected(const std::string& name) const {
        const int pitch = view->rowPitch();
        if (name == "win:close") return "closed=1";
        if (name == "win:min") return "minimised=1";
        if (name == "status") return "job=Ardune Systems Manager overlays=1";
        if (name == "col:name") return "sort=name down";
        if (name == "col:version") return "sort=version up";
        if (name == "col:status") return "sort=status up";
        if (name == "sort") return "sort=name down";
        if (name == "sb:up") return "scroll=0";
        if (name == "sb:down") return "scroll=" + std::to_string(2 * pitch);
        if (name == "cap:sb") return "";
        if (name == "account") return "overlays=1";  // the settings window
        if (name.rfind("row:", 0) == 0) {
            const std::string id = idOfLine(name);
            return id == "aurora" ? "" : "selected=" + id;
        }
        return actionEffect(name);
    }

    // Clicks whose actions are carried out by the row actions, the row menu, the settings window and
    // the inspector's slots.
    std::string actionEffect(const std::string& name) const;
};

std::string ViewInput::actionEffect(const std::string& name) const {
    if (name == "open") return "note=" + view->shownDir().string() + " is not there yet";  // a fresh root
    if (name == "more") return "overlays=1";                                                // the row menu
    if (name == "main_pill") return "job=Aurora 1.0.0 overlays=1 ticks=aurora.clap aurora.vst3 ";
    if (name == "update_all") return "note=Everything is up to date";
    // AU is not a format of this platform: its tick box is not offered.
    if (name == "check:vst3") return "ticks=aurora.clap ";
    if (name == "check:clap") return "ticks=aurora.vst3 ";
    if (name == "check:au") return "";
    if (name.rfind("label:", 0) == 0 || name.rfind("led:", 0) == 0) return "shown=" + name.substr(name.find(':') + 1);
    if (name.rfind("rowpill:", 0) == 0) {
        const tqm::Row& row = view->model()->rows[size_t(view->displayList()[size_t(std::atoi(name.c_str() + 8))])];
        return "job=" + row.name + " " + row.entry->version + " overlays=1";
    }
    return "unexpected name " + name;
}

TEST_F(ViewInput, HitNamesInOrderInBothLooks) {
    for (const std::string lookWord : {"", "tq"}) {
        openFull(lookWord);
        std::vector<std::string> names;
        for (const auto& [name, r] : testsupport::hitRects(*view)) names.push_back(name);
        std::vector<std::string> want = {"win:close", "status", "win:min"};
        if (lookWord.empty())
            want.insert(want.end(), {"col:name", "col:version", "col:status"});
        else
            want.push_back("sort");
        want.insert(want.end(), {"sb:up", "sb:down", "cap:sb", "open", "more", "main_pill", "update_all", "account"});
        for (const char* f : {"vst3", "clap", "au"})
            for (const char* kind : {"check:", "label:", "led:"}) want.push_back(kind + std::string(f));
        // Nothing is installed, so every product line shows its pill, listed before its band.
        for (size_t i = 0; i < view->displayList().size(); ++i) {
            if (view->displayList()[i] < 0) continue;
            const int top = view->rowFirstY() + int(i) * view->rowPitch() - view->scroll();
            if (top + view->rowPitch() - 2 <= view->listRect().y || top >= view->listRect().y + view->listRect().h) continue;
            if (top + 4 < view->listRect().y + view->listRect().h) want.push_back("rowpill:" + std::to_string(i));
            want.push_back("row:" + std::to_string(i));
        }
        EXPECT_EQ(names, want) << "look " << lookWord;
        for (const auto& [name, r] : testsupport::hitRects(*view)) EXPECT_GE(r.w, 1) << name;

        // The status line is clickable only while it offers the manager's update.
        view->model()->say("busy elsewhere");
        EXPECT_EQ(rectOf("status").w, 0);
        view->model()->note.clear();
        view->model()->busy = true;
        EXPECT_EQ(rectOf("status").w, 0);
        view->model()->busy = false;

        // The automation description is the same list.
        lumo::gui::WidgetInfo info;
        view->describe(info);
        ASSERT_EQ(info.parts.size(), testsupport::hitRects(*view).size());
        for (size_t i = 0; i < info.parts.size(); ++i) EXPECT_EQ(info.parts[i].label, testsupport::hitRects(*view)[i].first);
    }
}

TEST_F(ViewInput, RowPillsAndPartlyVisibleLines) {
    openFull();
    // At the page width the pixel look's first pill box comes from the layout's 16-high pill.
    view->setSize(view->pageWidth(), view->pageHeight());
    EXPECT_EQ(str(tqapp::PixelLook::devRowButton(*view, 51)), str(Rect{239, 56, 52, 14}));
    // At the look's own width the action column moves right with the list.
    view->setSize(view->minimumWidth(), view->pageHeight());
    const Rect action = tqapp::PixelLook::devCol(*view, 3);
    EXPECT_EQ(str(tqapp::PixelLook::devRowButton(*view, 51)), str(Rect{action.x + action.w - 57, 56, 52, 14}));

    // A line cut by the list's top is hit only in its visible part; its pill only inside the list.
    view->setScroll(view->rowFirstY() + view->rowPitch() - view->listRect().y + 6);  // line 1 starts 6 above
    const Rect band = rectOf("row:1"), pill = rectOf("rowpill:1");
    EXPECT_EQ(band.y, view->listRect().y);
    EXPECT_EQ(band.h, view->rowPitch() - 2 - 6);
    EXPECT_EQ(pill.y, view->listRect().y);
    EXPECT_EQ(pill.h, 14 - 1);
    // Line 0 lies wholly above the list now.
    EXPECT_EQ(rectOf("row:0").w, 0);

    // A press on a pill selects nothing; its release runs the row action (not the row's selection).
    const std::string before = view->selectedId();
    press(cx(pill), cy(pill));
    EXPECT_EQ(testsupport::nameOf(view->pointer().pressed), "rowpill:1");
    EXPECT_EQ(view->selectedId(), before);
    release(cx(pill), cy(pill));
    EXPECT_EQ(view->selectedId(), before);
}

TEST_F(ViewInput, EveryHitNameClickedAtItsCentre) {
    for (const std::string lookWord : {"", "tq"}) {
        prepare(lookWord);
        std::vector<std::string> names;
        for (const auto& [name, r] : testsupport::hitRects(*view)) names.push_back(name);
        for (const std::string& name : names) {
            prepare(lookWord);
            const Rect r = rectOf(name);
            ASSERT_GE(r.w, 1) << name;
            ASSERT_EQ(view->hit(cx(r), cy(r)), name) << "a name earlier in the list covers the centre of " << name;
            auto before = observe();
            const std::string want = expected(name);
            clickAt(cx(r), cy(r));
            auto after = observe();
            // Selecting a line also scrolls it wholly into view.
            if (name.rfind("row:", 0) == 0) after["scroll"] = before["scroll"];
            // A pill's plan starts from the row's default ticks.
            if (name.rfind("rowpill:", 0) == 0) after["ticks"] = before["ticks"];
            EXPECT_EQ(changes(before, after), want) << name << " in look '" << lookWord << "'";
            EXPECT_EQ(testsupport::nameOf(view->pointer().pressed), "");
        }
    }
}

TEST_F(ViewInput, APressMovedOffBeforeReleaseDoesNothing) {
    openFull();
    const Rect all = rectOf("update_all"), header = rectOf("col:version"), down = rectOf("sb:down");
    const Rect away = rectOf("row:1");

    // The pressed item lights only while the pointer is over it; nothing else lights meanwhile.
    press(cx(all), cy(all));
    view->pointer().hover = tqapp::partOf("update_all");
    drag(cx(away), cy(away));
    EXPECT_EQ(testsupport::nameOf(view->pointer().hover), "");
    drag(cx(header), cy(header));
    EXPECT_EQ(testsupport::nameOf(view->pointer().hover), "");
    drag(cx(all), cy(all));
    EXPECT_EQ(testsupport::nameOf(view->pointer().hover), "update_all");
    release(cx(away), cy(away));
    EXPECT_EQ(testsupport::nameOf(view->pointer().pressed), "");
    EXPECT_EQ(testsupport::nameOf(view->pointer().hover), "row:1");  // the release hits again

    const std::string sorted = view->sortColumn();
    press(cx(header), cy(header));
    release(cx(away), cy(away));
    EXPECT_EQ(view->sortColumn(), sorted);

    const int scroll = view->scroll();
    press(cx(down), cy(down));
    drag(cx(down) + 200, cy(down));
    release(cx(down) + 200, cy(down));
    EXPECT_EQ(view->scroll(), scroll);

    // Pressing on one row and releasing on another selects the pressed row, at the press.
    const Rect line3 = rectOf("row:4"), line1 = rectOf("row:1");
    press(cx(line3), cy(line3));
    const std::string chosen = view->selectedId();
    EXPECT_EQ(chosen, idOfLine("row:4"));
    release(cx(line1), cy(line1));
    EXPECT_EQ(view->selectedId(), chosen);

    // Press, off and back on, release: one click.
    press(cx(header), cy(header));
    drag(cx(away), cy(away));
    drag(cx(header), cy(header));
    release(cx(header), cy(header));
    EXPECT_EQ(view->sortColumn(), "version");
    EXPECT_TRUE(view->sortAscending());
}

TEST_F(ViewInput, ScrollbarCapDrags) {
    for (const std::string lookWord : {"", "tq"}) {
        openFull(lookWord);
        const int travel = view->trackTravel(), most = view->maxScroll();
        ASSERT_GT(travel, 0);
        ASSERT_GT(most, 0);
        Rect cap = rectOf("cap:sb");
        press(cx(cap), cy(cap));
        EXPECT_EQ(testsupport::nameOf(view->pointer().pressed), "cap:sb");
        drag(cx(cap), cy(cap) + travel / 2);
        EXPECT_EQ(view->scroll(), (travel / 2) * most / travel);
        drag(cx(cap) + 300, cy(cap) + travel);  // the pointer may leave the bar sideways
        EXPECT_EQ(view->scroll(), most);
        drag(cx(cap), cy(cap) + travel * 3);
        EXPECT_EQ(view->scroll(), most);
        release(cx(cap), cy(cap) + travel);
        // The cap now sits at the foot of its track, and dragging it back up returns to the top.
        cap = rectOf("cap:sb");
        press(cx(cap), cy(cap));
        drag(cx(cap), cy(cap) - travel - 40);
        EXPECT_EQ(view->scroll(), 0);
        release(cx(cap), cy(cap));
        EXPECT_EQ(view->scroll(), 0);
    }
}

TEST_F(ViewInput, SortControlsOfTheTwoLooks) {
    openFull();
    struct Step {
        const char* name;
        const char* column;
        bool ascending;
    };
    const Step steps[] = {{"col:name", "name", false}, {"col:name", "name", true}, {"col:status", "status", true},
                          {"col:status", "status", false}, {"col:version", "version", true}};
    for (const Step& s : steps) {
        const Rect r = rectOf(s.name);
        clickAt(cx(r), cy(r));
        EXPECT_EQ(view->sortColumn(), s.column) << s.name;
        EXPECT_EQ(view->sortAscending(), s.ascending) << s.name;
    }
    // The skin look's one sort pill turns the direction round and keeps the column.
    openFull("tq");
    view->setSort("status", view->sortAscending());
    for (bool ascending : {false, true}) {
        const Rect r = rectOf("sort");
        clickAt(cx(r), cy(r));
        EXPECT_EQ(view->sortColumn(), "status");
        EXPECT_EQ(view->sortAscending(), ascending);
    }
}

TEST_F(ViewInput, SlotClicksWithoutASelectionOrOnAnAppWithoutPlugins) {
    struct Case {
        const char* selection;  // empty: no row selected
        const char* name;
        const char* effect;
    };
    const Case cases[] = {
        {"", "label:clap", "shown=clap"},  // the slot's own format
        {"", "led:vst3", "shown=vst3"},
        {"", "check:vst3", ""},
        {"", "main_pill", ""},
        {"", "more", ""},
        {"studio", "label:clap", ""},  // an app without plug-ins shows no format
        {"studio", "led:vst3", ""},
        {"studio", "check:au", ""},  // its third slot stands for nothing
    };
    for (const Case& c : cases) {
        prepare("");
        view->select(c.selection);
        const Rect r = rectOf(c.name);
        const auto before = observe();
        clickAt(cx(r), cy(r));
        EXPECT_EQ(changes(before, observe()), c.effect) << c.name << " with '" << c.selection << "'";
    }
}

TEST_F(ViewInput, CapDragOverAVeryLongListDoesNotOverflow) {
    // 100,000 lines scroll by about 2.6 million units: a pointer far below the window times that
    // is past 32 bits, and must still mean the foot of the list.
    openFull();
    std::vector<tqm::Row> rows(100000);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = row("p" + std::to_string(i), "P" + std::to_string(i));
    view->model()->rows = std::move(rows);
    view->changed();
    const int most = view->maxScroll();
    ASSERT_GT(int64_t(most) * 1000, int64_t(INT32_MAX));
    const Rect cap = rectOf("cap:sb");
    view->onMouseDown(at(cx(cap), cy(cap)));
    ASSERT_EQ(testsupport::nameOf(view->pointer().pressed), "cap:sb");
    view->onMouseDrag(at(cx(cap), cy(cap) + 1000));
    EXPECT_EQ(view->scroll(), most);
    view->onMouseDrag(at(cx(cap), cy(cap) - 1000));
    EXPECT_EQ(view->scroll(), 0);
    view->onMouseDrag(at(cx(cap), cy(cap) + view->trackTravel() / 2));
    EXPECT_NEAR(view->scroll(), most / 2, most / view->trackTravel() + 1);
}

}  // namespace

namespace {

// A window that places its UPDATE ALL button elsewhere: over the top of the list.
class MovedView : public tqapp::ManagerView {
public:
    static constexpr Rect kPlace{40, 80, 86, 15};
    tqapp::MainParts parts() const override {
        tqapp::MainParts table = ManagerView::parts();
        for (tqapp::Part<tqapp::MainId>& p : table.parts())
            if (p.id == tqapp::mainPart(tqapp::MainPart::UpdateAll)) p.rect = kPlace;
        return table;
    }
};

}  // namespace

TEST_F(ViewInput, APartMovedInTheTableTakesItsClickDescriptionAndPaintAlong) {
    for (const std::string lookWord : {"", "tq"}) {
        SCOPED_TRACE("look '" + lookWord + "'");
        // Where the plain window has the button, and how it paints there and at the new place.
        openFull(lookWord);
        const Rect home = rectOf("update_all");
        ASSERT_GT(home.w, 0);
        frame();
        const lumo::gui::Canvas plain = canvas;

        openFull(lookWord, std::make_unique<MovedView>());
        view->model()->note.clear();
        EXPECT_EQ(rectOf("update_all").x, MovedView::kPlace.x);
        lumo::gui::WidgetInfo info;
        view->describe(info);
        bool described = false;
        for (const auto& part : info.parts)
            described = described || (part.label == "update_all" && part.rect.x == MovedView::kPlace.x &&
                                      part.rect.y == MovedView::kPlace.y);
        EXPECT_TRUE(described);

        // A release over the old place does nothing; over the new one it acts.
        clickAt(cx(home), cy(home));
        EXPECT_EQ(view->model()->note, "");
        clickAt(cx(MovedView::kPlace), cy(MovedView::kPlace));
        EXPECT_EQ(view->model()->note, "Everything is up to date");

        // The button is painted at its new place and no longer at the old one.
        view->model()->note.clear();
        view->pointer().clear();
        frame();
        ASSERT_EQ(canvas.width, plain.width);
        auto differs = [&](Rect r) {
            const double z = view->paintScale();  // the view lies at the canvas origin
            int n = 0;
            for (int y = int(r.y * z); y < int((r.y + r.h) * z); ++y)
                for (int x = int(r.x * z); x < int((r.x + r.w) * z); ++x)
                    n += canvas.pixels[size_t(y) * size_t(canvas.width) + size_t(x)] !=
                         plain.pixels[size_t(y) * size_t(plain.width) + size_t(x)];
            return n;
        };
        EXPECT_GT(differs(MovedView::kPlace), 0);
        EXPECT_GT(differs(home), 0);
    }
}

// A part ends where its rectangle ends, in every window: the main one in both looks, the job window
// in each state and the account window.
TEST_F(ViewInput, EveryPartIsHitToItsLastUnitAndNoFurther) {
    for (const std::string lookWord : {"", "tq"}) {
        SCOPED_TRACE("look '" + lookWord + "'");
        prepare(lookWord);
        partstest::expectHitToTheLastUnit(view->parts(), [](const tqapp::MainId& id) { return tqapp::partName(id); });
    }
    tqapp::JobPlan install = jobtest::formatPlan();
    install.selfInstall = true;
    using W = tqapp::JobWindow;
    const std::pair<tqapp::JobPlan, uint32_t> jobs[] = {{jobtest::formatPlan(), W::Choose}, {jobtest::dataPlan(), W::Choose},
                                                        {install, W::Choose},              {jobtest::formatPlan(), W::Running},
                                                        {jobtest::formatPlan(), W::Done},  {jobtest::formatPlan(), W::Failed}};
    for (const auto& [plan, state] : jobs) {
        W w(*view->model(), std::weak_ptr<bool>(), plan);
        w.state = state;
        SCOPED_TRACE("job window in state " + std::to_string(state));
        partstest::expectHitToTheLastUnit(w.parts(), [&](const tqapp::JobPartId& id) { return w.partName(id); });
    }
    view->openAccount();
    ASSERT_NE(view->openAccountWindow(), nullptr);
    partstest::expectHitToTheLastUnit(view->openAccountWindow()->parts(), tqapp::AccountWindow::partName);
}
