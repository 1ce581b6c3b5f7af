// The job plan record: a plain value, and the tasks its ticks select.
#include <gtest/gtest.h>

#include "manager/model/job_plan.h"
#include "tests/manager/view_actions_support.h"

namespace {

using Tasks = std::vector<tqm::Task>;

std::string text(const Tasks& tasks) {
    std::string out;
    for (const tqm::Task& t : tasks) out += (out.empty() ? "" : "; ") + t.op + " " + t.id + " " + t.format;
    return out;
}

TEST(JobPlan, DefaultAndCopies) {
    const tqapp::JobPlan empty;
    EXPECT_TRUE(empty.choices.empty() && empty.tasks.empty());
    EXPECT_TRUE(empty.verb.empty() && empty.jobTitle.empty() && empty.where.empty());
    EXPECT_FALSE(empty.removal || empty.offersData || empty.selfInstall || empty.selfRemoval);
    EXPECT_EQ(empty.scope, tqm::defaultScope());

    tqapp::JobPlan plan;
    plan.choices = {{"vst3", "VST3", true, "/a", ""}, {"clap", "CLAP", false, "/b", "Synth"}};
    plan.tasks = {{"install", "synth", "vst3"}, {"install", "synth", "clap"}};
    plan.scope = tqm::Scope::System;
    tqapp::JobPlan copy = plan;
    plan.choices[0].on = false;
    EXPECT_EQ(copy.choices[0].id, "vst3");
    EXPECT_TRUE(copy.choices[0].on);
    EXPECT_EQ(copy.choices[1].name, "Synth");
    EXPECT_EQ(text(copy.tasks), "install synth vst3; install synth clap");
    EXPECT_EQ(copy.scope, tqm::Scope::System);
}

TEST(JobPlan, TicksSelectTheTasks) {
    const Tasks removal = {{"remove", "studio", "app"},
                           {"remove", "studio", "vst3"},
                           {"purge", "studio", "machine"},
                           {"purge", "studio", "user"}};
    struct Case {
        const char* what;
        std::vector<tqapp::JobChoice> choices;
        Tasks tasks;
        bool deleteData, dataNeedsAll;
        std::string want;
    } cases[] = {
        {"formats by their key", {{"vst3", "VST3", true, "", ""}, {"clap", "CLAP", false, "", ""}},
         {{"update", "a", "vst3"}, {"update", "a", "clap"}, {"update", "b", "vst3"}}, false, false,
         "update a vst3; update b vst3"},
        {"apps by their id", {{"studio", "STUDIO", false, "", ""}, {"tuner", "TUNER", true, "", ""}},
         {{"install", "studio", "app"}, {"install", "tuner", "app"}}, false, false, "install tuner app"},
        {"no choices: everything", {}, {{"install", "a", "vst3"}, {"remove", "b", "app"}}, false, false,
         "install a vst3; remove b app"},
        {"nothing ticked", {{"vst3", "VST3", false, "", ""}}, {{"install", "a", "vst3"}}, false, false, ""},
        {"data kept", {{"studio", "STANDALONE", true, "", ""}, {"vst3", "VST3", true, "", ""}}, removal, false, false,
         "remove studio app; remove studio vst3; purge studio machine"},
        {"data deleted", {{"studio", "STANDALONE", true, "", ""}, {"vst3", "VST3", true, "", ""}}, removal, true,
         true, "remove studio app; remove studio vst3; purge studio machine; purge studio user"},
        {"data needs every tick", {{"studio", "STANDALONE", true, "", ""}, {"vst3", "VST3", false, "", ""}},
         removal, true, true, "remove studio app; purge studio machine"},
    };
    for (const Case& c : cases) {
        tqapp::JobPlan plan;
        plan.choices = c.choices;
        plan.tasks = c.tasks;
        plan.deleteData = c.deleteData;
        plan.dataNeedsAll = c.dataNeedsAll;
        EXPECT_EQ(text(plan.tickedTasks()), c.want) << c.what;
    }
}

TEST(JobPlan, TheManagersOwnPlans) {
    tqapp::JobPlan install;
    install.selfInstall = true;
    install.choices = {{"startmenu", "START MENU", true, "", ""}, {"desktop", "DESKTOP", true, "", ""}};
    EXPECT_EQ(text(install.tickedTasks()), "setup-install startmenu,desktop ");
    install.choices[0].on = false;
    EXPECT_EQ(text(install.tickedTasks()), "setup-install desktop ");

    tqapp::JobPlan removal;
    removal.selfRemoval = true;
    removal.choices = {{"plugins", "PLUGINS", true, "", ""}};
    removal.tasks = {{"remove", "synth", "vst3"}, {"remove", "delay", "clap"}};
    EXPECT_EQ(text(removal.tickedTasks()), "remove synth vst3; remove delay clap; setup-uninstall plugins ");
    removal.choices[0].on = false;
    EXPECT_EQ(text(removal.tickedTasks()), "setup-uninstall  ");
}

using PlanView = testsupport::ActionView;

// A catalog may name a plug-in among an app's companions: it gets no slot and no task, so the
// app still installs, with the companions that are apps.
TEST_F(PlanView, ACompanionThatIsNotAnAppIsNotOffered) {
    const struct {
        std::vector<tqm::Companion> companions;
        const char *vst3Slot, *clapSlot;
        std::string tasks;
    } cases[] = {
        {{{"synth", ""}, {"bridge", ""}}, "", "BRIDGE", "install bridge app; install studio app"},
        {{{"bridge", ""}, {"synth", ""}}, "BRIDGE", "", "install bridge app; install studio app"},
        {{{"synth", ""}}, "", "", "install studio app"},
    };
    for (const auto& c : cases) {
        tqm::Plugin& studio = entry("studio", "Studio", "3.0");
        studio.companions = c.companions;
        setRows({make("studio", "Studio", &studio, tqm::State::Absent, 1, {{"app", fmt("A")}}),
                 make("synth", "Synth", &entry("synth", "Synth", "1.0"), tqm::State::Absent, 0,
                      {{"vst3", fmt("A")}, {"clap", fmt("A")}}),
                 make("bridge", "Bridge", &entry("bridge", "Bridge", "2.1"), tqm::State::Absent, 1,
                      {{"app", fmt("A")}})});
        const tqm::Row* app = &rowOf("studio");
        EXPECT_EQ(view->slotTitle(app, "vst3"), c.vst3Slot) << c.tasks;
        EXPECT_EQ(view->slotTitle(app, "clap"), c.clapSlot) << c.tasks;
        EXPECT_EQ(view->ticked(app, "vst3"), *c.vst3Slot != 0) << c.tasks;
        EXPECT_EQ(view->ticked(app, "clap"), *c.clapSlot != 0) << c.tasks;
        view->rowAction(*app);
        ASSERT_NE(plan(), nullptr) << view->model()->note;
        EXPECT_EQ(text(plan()->tasks), c.tasks);
        EXPECT_EQ(text(plan()->tickedTasks()), c.tasks);
        closeAll();
    }
}

}  // namespace
