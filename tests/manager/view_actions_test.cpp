// Row actions: for each kind of row state what the pill, the main button and the row menu offer,
// and the plans they open (tasks, ticks, texts); companions of an app; the refusals told in the
// status line.
#include <gtest/gtest.h>

#include <tuple>

#include "tests/manager/view_actions_support.h"

using namespace testsupport;
using tqm::State;

namespace {

using ActionsTest = ActionView;

struct StateCase {
    const char* name;
    std::function<tqm::Row(ActionView&)> row;
    bool pillShown;
    std::string pill;      // what the pill leaves (ActionView::opened)
    std::string mainVerb;  // the main button's text
    std::string main;      // what the main button leaves
    std::vector<bool> menu;  // Install, Update, Reinstall, Remove enabled
};

// Each state of a row: the pill, the main button and the menu as the user meets them.
TEST_F(ActionsTest, EveryRowStateOffersItsActions) {
    const std::string both = "install synth vst3, install synth clap | VST3*, CLAP*";
    const std::vector<StateCase> cases = {
        {"absent",
         [](ActionView& t) {
             return make("synth", "Synth", &t.entry("synth", "Synth", "1.0"), State::Absent, 0,
                         {{"vst3", fmt("A")}, {"clap", fmt("A")}});
         },
         true, "INSTALL | " + both, "INSTALL", "INSTALL | " + both, {true, false, false, false}},
        {"installed in one of two formats",
         [](ActionView& t) {
             return make("synth", "Synth", &t.entry("synth", "Synth", "1.0"), State::Installed, 0,
                         {{"vst3", fmt("AIP", "/p/Synth.vst3")}, {"clap", fmt("A")}}, "1.0");
         },
         false, "note: Synth: nothing to install here", "REMOVE", "REMOVE | remove synth vst3 | VST3*",
         {true, false, true, true}},
        {"update",
         [](ActionView& t) {
             return make("synth", "Synth", &t.entry("synth", "Synth", "1.1"), State::Update, 0,
                         {{"vst3", fmt("AIPU")}, {"clap", fmt("AIPU")}}, "1.0");
         },
         true, "UPDATE | " + both, "UPDATE", "UPDATE | " + both, {false, true, true, true}},
        {"catalog older than what is installed",
         [](ActionView& t) {
             return make("synth", "Synth", &t.entry("synth", "Synth", "1.0"), State::Installed, 0,
                         {{"vst3", fmt("AIP")}}, "2.0");
         },
         false, "note: Synth: nothing to install here", "REMOVE", "REMOVE | remove synth vst3 | VST3*",
         {false, false, true, true}},
        {"delisted",
         [](ActionView&) { return make("gone", "Gone", nullptr, State::Delisted, 0, {{"vst3", fmt("IP")}}, "0.9"); },
         false, "note: Gone: nothing to install here", "REMOVE", "REMOVE | remove gone vst3 | VST3*",
         {false, false, false, true}},
        {"needs a newer manager",
         [](ActionView& t) {
             return make("synth", "Synth", &t.entry("synth", "Synth", "1.0"), State::NeedsManager, 0,
                         {{"vst3", fmt("A")}});
         },
         false, "note: Synth needs a newer manager: update the manager first", "INSTALL",
         "note: Synth needs a newer manager: update the manager first", {true, false, false, false}},
        {"app with an update",
         [](ActionView& t) {
             return make("studio", "Studio", &t.entry("studio", "Studio", "2.0"), State::Update, 1,
                         {{"app", fmt("AIPU", "/apps/Studio.app")}}, "1.0");
         },
         true, "UPDATE | install studio app | STUDIO*", "UPDATE", "UPDATE | install studio app | STUDIO*",
         {false, true, true, true}},
        // A record of an app whose package is gone for this platform and whose folder is gone too:
        // it is never installed, only removed; its pill does nothing.
        {"app not available here",
         [](ActionView& t) {
             tqm::Plugin& e = t.entry("studio", "Studio", "2.0");
             e.packages.clear();
             return make("studio", "Studio", &e, State::Unavailable, 1, {{"app", fmt("I", "/apps/Studio.app")}});
         },
         false, "note: ", "REMOVE", "REMOVE | remove studio app, purge studio machine | STUDIO*",
         {false, false, false, true}},
    };
    for (const StateCase& c : cases) {
        SCOPED_TRACE(c.name);
        closeAll();
        view->forgetTicks();
        setRows({c.row(*this)});
        const tqm::Row& row = view->model()->rows.front();
        EXPECT_EQ(view->showsPill(row), c.pillShown);

        view->rowAction(row);
        EXPECT_EQ(opened(), c.pill);

        closeAll();
        const tqapp::ManagerView::Action main = view->mainAction();
        EXPECT_EQ(tqapp::upper(main.verb), c.mainVerb);
        view->runAction(row, main);
        EXPECT_EQ(opened(), c.main);

        closeAll();
        view->moreMenu(row);
        ASSERT_NE(menu(), nullptr);
        const std::vector<lumo::gui::MenuItem>& items = menu()->items;
        ASSERT_EQ(items.size(), 6u);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(items[i].enabled, c.menu[i]) << items[i].label;
            EXPECT_EQ(items[i].id, int(i) + 1);
        }
        EXPECT_TRUE(items[4].separator);
        EXPECT_TRUE(items[5].enabled);
        EXPECT_EQ(items[5].id, 5);
    }
}

// A plug-in installed in VST3 only: the ticks steer the main button, and the plan lists every
// format the operation could touch with the action's own ticked.
TEST_F(ActionsTest, TicksSteerTheMainButton) {
    setRows({make("synth", "Synth", &entry("synth", "Synth", "1.0"), State::Installed, 0,
                  {{"vst3", fmt("AIP")}, {"clap", fmt("A")}}, "1.0")});
    const tqm::Row* row = view->selected();
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(view->ticked(row, "vst3"));
    EXPECT_FALSE(view->ticked(row, "clap"));
    EXPECT_FALSE(view->offered(row, "au"));
    EXPECT_TRUE(view->installedHere(row, "vst3"));
    EXPECT_EQ(view->slotTitle(row, "clap"), "CLAP");

    view->wanted(*row)["clap"] = true;
    tqapp::ManagerView::Action a = view->mainAction();
    EXPECT_EQ(a.op, "install");
    EXPECT_EQ(a.formats, std::vector<std::string>{"clap"});
    view->runAction(*row, a);
    ASSERT_NE(plan(), nullptr);
    EXPECT_EQ(choiceTexts(*plan()), (std::vector<std::string>{"VST3", "CLAP*"}));
    EXPECT_EQ(plan()->verb, "REINSTALL");
    EXPECT_EQ(plan()->jobTitle, "Installing Synth");
    EXPECT_EQ(plan()->title, "Synth 1.0");

    closeAll();
    view->wanted(*row)["clap"] = false;
    view->wanted(*row)["vst3"] = false;
    a = view->mainAction();
    EXPECT_EQ(a.op, "remove");
    EXPECT_EQ(a.formats, std::vector<std::string>{"vst3"});
    view->runAction(*row, a);
    ASSERT_NE(plan(), nullptr);
    EXPECT_EQ(plan()->verb, "REMOVE");
    EXPECT_TRUE(plan()->removal);
    EXPECT_EQ(plan()->jobTitle, "Removing Synth");
    EXPECT_EQ(plan()->doneText, "Synth removed");
}

// Nothing ticked and nothing installed: the button is told "nothing to install", never an empty job.
TEST_F(ActionsTest, AnEmptyActionIsToldNotOpened) {
    setRows({make("synth", "Synth", &entry("synth", "Synth", "1.0"), State::Absent, 0,
                  {{"vst3", fmt("A")}, {"clap", fmt("A")}})});
    const tqm::Row& row = view->model()->rows.front();
    view->wanted(row)["vst3"] = false;
    view->wanted(row)["clap"] = false;
    const tqapp::ManagerView::Action a = view->mainAction();
    EXPECT_TRUE(a.op.empty());
    EXPECT_EQ(a.verb, "install");
    view->runAction(row, a);
    EXPECT_EQ(plan(), nullptr);
    EXPECT_EQ(view->model()->note, "Synth: nothing to install here");
    EXPECT_EQ(view->statusText(), "Synth: nothing to install here");
    // The pill does the same: it takes the ticks.
    view->rowAction(row);
    EXPECT_EQ(plan(), nullptr);
    // An operation that names formats that the row cannot take is refused the same way.
    view->runAction(row, {"install", "update", {"vst3"}, {}});
    EXPECT_EQ(plan(), nullptr);
    EXPECT_EQ(view->model()->note, "Synth: nothing to update here");
}

// Removing an app whose entry lists user data here: the purges follow, the data tick is offered
// unticked; without user paths only the machine purge follows.
TEST_F(ActionsTest, RemovingAnAppOffersItsData) {
    tqm::Plugin& e = entry("studio", "Studio", "1.0");
    e.paths_user["mac"] = {"%APPDATA%\\Ardune Systems\\Studio"};
    e.kept = "recordings";
    setRows({make("studio", "Studio", &e, State::Installed, 1, {{"app", fmt("AIP", "/apps/Studio.app")}}, "1.0")});
    view->runAction(view->model()->rows.front(), view->mainAction());
    ASSERT_NE(plan(), nullptr);
    EXPECT_EQ(taskTexts(*plan()),
              (std::vector<std::string>{"remove studio app", "purge studio machine", "purge studio user"}));
    EXPECT_TRUE(plan()->offersData);
    EXPECT_FALSE(plan()->deleteData);
    EXPECT_EQ(plan()->dataLabel, "STUDIO'S DATA");
    EXPECT_EQ(plan()->dataNote, "settings");
    EXPECT_EQ(plan()->dataKept, "recordings");
    EXPECT_EQ(plan()->choices.front().where, "/apps/Studio.app");
    EXPECT_EQ(plan()->title, "Studio 1.0");

    closeAll();
    e.paths_user.clear();
    view->runAction(view->model()->rows.front(), view->mainAction());
    ASSERT_NE(plan(), nullptr);
    EXPECT_EQ(taskTexts(*plan()), (std::vector<std::string>{"remove studio app", "purge studio machine"}));
    EXPECT_FALSE(plan()->offersData);
}

class CompanionsTest : public ActionView {
protected:
    // Studio works with Bridge (not installed, needs 2.0) and Tuner (installed at tunerVersion,
    // needs 1.5; an update when older than the catalog's 2.0).
    void rows(const std::string& tunerVersion) {
        tqm::Plugin& studio = entry("studio", "Studio", "3.0");
        studio.companions = {{"bridge", "2.0"}, {"tuner", "1.5"}};
        const State tunerState = tunerVersion == "2.0" ? State::Installed : State::Update;
        setRows({make("studio", "Studio", &studio, State::Absent, 1, {{"app", fmt("A")}}),
                 make("bridge", "Bridge", &entry("bridge", "Bridge", "2.1"), State::Absent, 1, {{"app", fmt("A")}}),
                 make("tuner", "Tuner", &entry("tuner", "Tuner", "2.0"), tunerState, 1,
                      {{"app", fmt(tunerVersion == "2.0" ? "AIP" : "AIPU", "/apps/Tuner.app")}}, tunerVersion)});
        view->select("studio");
    }
    const tqm::Row* studio() { return &rowOf("studio"); }
};

// The slots stand for the companions: the missing one is offered and ticked; the installed one is
// not offered; both go with the app when the app is installed.
TEST_F(CompanionsTest, TickedAndInstalledWithTheApp) {
    rows("2.0");
    EXPECT_EQ(view->slotTitle(studio(), "vst3"), "BRIDGE");
    EXPECT_EQ(view->slotTitle(studio(), "clap"), "TUNER");
    EXPECT_EQ(view->slotTitle(studio(), "au"), "");
    EXPECT_TRUE(view->offered(studio(), "vst3"));
    EXPECT_TRUE(view->ticked(studio(), "vst3"));
    EXPECT_FALSE(view->offered(studio(), "clap"));
    EXPECT_FALSE(view->ticked(studio(), "clap"));
    EXPECT_TRUE(view->installedHere(studio(), "clap"));
    EXPECT_FALSE(view->installedHere(studio(), "vst3"));

    view->rowAction(*studio());
    ASSERT_NE(plan(), nullptr);
    EXPECT_TRUE(plan()->appChoices);
    EXPECT_EQ(choiceTexts(*plan()), (std::vector<std::string>{"STUDIO*", "BRIDGE*"}));
    EXPECT_EQ(taskTexts(*plan()), (std::vector<std::string>{"install bridge app", "install studio app"}));
    EXPECT_EQ(plan()->title, "Studio 3.0, Bridge 2.1");
    EXPECT_EQ(plan()->titleVerb, "Installing");
    EXPECT_EQ(plan()->doneVerb, "installed");
    EXPECT_EQ(plan()->choices[1].name, "Bridge");

    // Unticked, Bridge stays behind; the note says the app needs it.
    closeAll();
    view->toggleCompanion(*studio(), "vst3");
    EXPECT_FALSE(view->ticked(studio(), "vst3"));
    EXPECT_EQ(view->model()->note, "Studio needs Bridge 2.0 or later: it is not installed");
    view->rowAction(*studio());
    ASSERT_NE(plan(), nullptr);
    EXPECT_EQ(taskTexts(*plan()), std::vector<std::string>{"install studio app"});
    // Ticked again: the note goes.
    view->toggleCompanion(*studio(), "vst3");
    EXPECT_TRUE(view->ticked(studio(), "vst3"));
    EXPECT_EQ(view->model()->note, "");
    // A slot that is not offered does not toggle.
    view->toggleCompanion(*studio(), "clap");
    EXPECT_EQ(view->companionTicks().count("studio|tuner"), 0u);
}

// An app's update carries its ticked companions: the job's title names each under what it does
// to it, one never installed as installed.
TEST_F(CompanionsTest, AnUpdateNamesWhatItDoesToEachItem) {
    for (const auto& [tuner, title, done] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"2.0", "Updating Studio, installing Bridge", "Studio updated, Bridge installed"},
             {"1.0", "Updating Studio and Tuner, installing Bridge", "Studio and Tuner updated, Bridge installed"}}) {
        closeAll();
        rows(tuner);
        tqm::Row& s = view->model()->rows.front();
        s.formats["app"] = fmt("AIPU", "/apps/Studio.app");
        s.state = State::Update;
        view->rowAction(s);
        ASSERT_NE(plan(), nullptr);
        const tqapp::JobStart start = tqapp::jobStart(*plan());
        EXPECT_EQ(start.title, title);
        EXPECT_EQ(start.doneText, done);
    }
}

// An installed companion below the app's minimum, with an update: unticking it warns with the
// version that is there; the app installed already, the pill installs only the companions.
TEST_F(CompanionsTest, UntickBelowTheMinimumWarns) {
    rows("1.0");
    EXPECT_TRUE(view->offered(studio(), "clap"));
    EXPECT_TRUE(view->ticked(studio(), "clap"));  // it has an update: ticked
    view->toggleCompanion(*studio(), "clap");
    EXPECT_FALSE(view->ticked(studio(), "clap"));
    EXPECT_EQ(view->model()->note, "Studio needs Tuner 1.5 or later: 1.0 is installed");

    // At the minimum or above, the untick says nothing.
    closeAll();
    rows("1.7");
    view->forgetTicks();
    view->toggleCompanion(*studio(), "clap");
    EXPECT_FALSE(view->ticked(studio(), "clap"));
    EXPECT_EQ(view->model()->note, "");

    // The app is here and current: the pill installs the ticked companions alone (Tuner's
    // update among them), and the start button says INSTALL, not REINSTALL.
    tqm::Row& s = view->model()->rows.front();
    s.formats["app"] = fmt("AIP", "/apps/Studio.app");
    s.state = State::Installed;
    view->forgetTicks();
    view->rowAction(s);
    ASSERT_NE(plan(), nullptr);
    EXPECT_EQ(taskTexts(*plan()), (std::vector<std::string>{"install bridge app", "install tuner app"}));
    EXPECT_EQ(choiceTexts(*plan()), (std::vector<std::string>{"BRIDGE*", "TUNER*"}));
    EXPECT_EQ(plan()->title, "Bridge 2.1, Tuner 2.0");
    EXPECT_EQ(plan()->verb, "INSTALL");

    // Nothing left to install: the pill does nothing and the main button removes.
    closeAll();
    view->toggleCompanion(s, "vst3");
    view->toggleCompanion(s, "clap");
    ASSERT_FALSE(view->companionTicked(s, *view->companionRow(&s, "vst3")));
    ASSERT_FALSE(view->companionTicked(s, *view->companionRow(&s, "clap")));
    view->rowAction(s);
    EXPECT_EQ(plan(), nullptr);
    EXPECT_EQ(view->mainAction().op, "remove");
}

// An app that carries plug-ins: its "au" slot is the app itself when it has no AU.
TEST_F(ActionsTest, AppCarryingPluginsUsesItsAppSlot) {
    tqm::Plugin& e = entry("studio", "Studio", "2.0");
    e.packages["vst3"]["mac"].item = "Studio.vst3";
    setRows({make("studio", "Studio", &e, State::Absent, 1, {{"app", fmt("A")}, {"vst3", fmt("A")}})});
    const tqm::Row* row = view->selected();
    EXPECT_EQ(view->slotFormat(row, "au"), "app");
    EXPECT_EQ(view->slotTitle(row, "au"), "APP");
    EXPECT_TRUE(view->ticked(row, "au"));
    EXPECT_EQ(view->companionIndex(row, "vst3"), -1);
    view->rowAction(*row);
    ASSERT_NE(plan(), nullptr);
    EXPECT_FALSE(plan()->appChoices);
    EXPECT_EQ(choiceTexts(*plan()), (std::vector<std::string>{"VST3*", "STANDALONE*"}));
    EXPECT_EQ(taskTexts(*plan()), (std::vector<std::string>{"install studio vst3", "install studio app"}));
    EXPECT_EQ(plan()->choices[1].id, "studio");
}

// The folder the inspector shows: the shown format's, the first offered one's, an app's own folder.
TEST_F(ActionsTest, ShownFolderFollowsTheRow) {
    const tqm::Layout& layout = view->model()->config.layout;
    setRows({make("delay", "Delay", &entry("delay", "Delay", "1.0"), State::Absent, 0, {{"clap", fmt("A")}})});
    EXPECT_EQ(view->pathFormat(), "clap");
    EXPECT_EQ(view->shownDir().string(), layout.formatDir("clap"));
    view->setShownFormat("vst3");
    EXPECT_EQ(view->shownDir().string(), layout.formatDir("vst3"));
    view->setShownFormat("");

    setRows({make("studio", "Studio", &entry("studio", "Studio", "1.0"), State::Absent, 1, {{"app", fmt("A")}})});
    EXPECT_EQ(view->shownDir().string(), (std::filesystem::path(layout.appsDir()) / "Studio.app").string());
    view->model()->rows.front().formats["app"] = fmt("AIP", "/elsewhere/Studio.app");
    EXPECT_EQ(view->shownDir().string(), "/elsewhere/Studio.app");

    setRows({});
    EXPECT_EQ(view->pathFormat(), tqm::formatsHere().front());
}

// While a job runs, every action only brings the running job's window forward.
TEST_F(ActionsTest, ActionsWhileAJobRunsShowTheJob) {
    setRows({make("synth", "Synth", &entry("synth", "Synth", "1.0"), State::Absent, 0, {{"vst3", fmt("A")}})});
    view->model()->busy = true;
    view->lastPlan.jobTitle = "Installing Delay";
    view->rowAction(view->model()->rows.front());
    ASSERT_NE(plan(), nullptr);
    EXPECT_EQ(plan()->jobTitle, "Installing Delay");
    EXPECT_EQ(view->openJobWindow()->state, tqapp::JobWindow::Running);
    EXPECT_EQ(view->model()->note, "");
}

}  // namespace
