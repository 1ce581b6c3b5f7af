// The job window on a model whose job fields the tests set: what the ticks start and with which
// texts, the buttons of each state, the status line, the clock that follows the job, the pointer.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "manager/pixel_look/primitives.h"
#include "tests/manager/job_window_support.h"
#include "tests/manager/pixel_support.h"

using jobtest::BareModel;
using jobtest::choiceRects;
using partstest::hoverName;
using partstest::nameAt;
using tqapp::JobButton;
using tqapp::JobPlan;
using tqapp::JobWindow;
using tqapp::jobButton;

namespace {

std::vector<std::string> taskNames(const std::vector<tqm::Task>& tasks) {
    std::vector<std::string> out;
    for (const tqm::Task& t : tasks) out.push_back(t.op + " " + t.id + " " + t.format);
    return out;
}

JobPlan appPlan(int n) {
    JobPlan p;
    p.verb = "INSTALL";
    p.appChoices = true;
    p.titleVerb = "Installing";
    p.doneVerb = "installed";
    const char* names[] = {"A", "B", "C"};
    for (int i = 0; i < n; ++i) {
        p.choices.push_back({names[i], names[i], true, "", names[i]});
        p.tasks.push_back({"install", names[i], "app"});
    }
    return p;
}

lumo::gui::MouseEvent at(int x, int y) {
    lumo::gui::MouseEvent e;
    e.x = x;
    e.y = y;
    return e;
}

}  // namespace

TEST(JobWindowStart, TasksAndTextsByTheTicks) {
    struct Case {
        const char* what;
        std::function<JobPlan()> plan;
        std::vector<std::string> tasks;
        std::string title, doneText;
        bool dataDeleted;
    };
    const Case cases[] = {
        {"both formats", [] { return jobtest::formatPlan(); }, {"install synth vst3", "install synth clap"},
         "Installing Synth (VST3, CLAP)", "Synth installed (VST3, CLAP)", false},
        {"clap alone",
         [] {
             JobPlan p = jobtest::formatPlan();
             p.choices[0].on = false;
             return p;
         },
         {"install synth clap"}, "Installing Synth (CLAP)", "Synth installed (CLAP)", false},
        {"nothing ticked",
         [] {
             JobPlan p = jobtest::formatPlan();
             p.choices[0].on = p.choices[1].on = false;
             return p;
         },
         {}, "", "", false},
        {"three apps", [] { return appPlan(3); }, {"install A app", "install B app", "install C app"},
         "Installing A, B and C", "A, B and C installed", false},
        {"one app", [] { return appPlan(1); }, {"install A app"}, "Installing A", "A installed", false},
        {"data kept", [] { return jobtest::dataPlan(); },
         {"remove studio app", "remove studio vst3", "purge studio machine"}, "Removing Studio (STANDALONE, VST3)",
         "Studio removed (STANDALONE, VST3)", false},
        {"data deleted",
         [] {
             JobPlan p = jobtest::dataPlan();
             p.deleteData = true;
             return p;
         },
         {"remove studio app", "remove studio vst3", "purge studio machine", "purge studio user"},
         "Removing Studio (STANDALONE, VST3)", "Studio removed (STANDALONE, VST3), its data deleted", true},
        {"data needs all, one unticked",
         [] {
             JobPlan p = jobtest::dataPlan();
             p.deleteData = p.dataNeedsAll = true;
             p.choices[1].on = false;
             return p;
         },
         {"remove studio app", "purge studio machine"}, "Removing Studio (STANDALONE)", "Studio removed (STANDALONE)",
         false},
        // Without choices every task runs but the user's data, which needs its own tick.
        {"no choices, data not ticked",
         [] {
             JobPlan p = jobtest::dataPlan();
             p.choices.clear();
             return p;
         },
         {"remove studio app", "remove studio vst3", "purge studio machine"}, "Removing Studio", "Studio removed", false},
        {"self-install, both shortcuts",
         [] {
             JobPlan p;
             p.selfInstall = true;
             p.choices = {{"startmenu", "START MENU", true, "", ""}, {"desktop", "DESKTOP", true, "", ""}};
             p.jobTitle = "Installing the manager";
             p.doneText = "Installed";
             return p;
         },
         {"setup-install startmenu,desktop "}, "Installing the manager", "Installed", false},
        {"self-removal without its plug-ins",
         [] {
             JobPlan p;
             p.selfRemoval = true;
             p.choices = {{"plugins", "PLUGINS (1)", false, "", ""}};
             p.tasks = {{"remove", "synth", "vst3"}};
             p.jobTitle = "Removing the manager";
             return p;
         },
         {"setup-uninstall  "}, "Removing the manager", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const JobPlan plan = c.plan();
        const tqapp::JobStart s = tqapp::jobStart(plan);
        EXPECT_EQ(taskNames(s.tasks), c.tasks);
        EXPECT_EQ(s.title, c.title);
        EXPECT_EQ(s.doneText, c.doneText);
        EXPECT_EQ(s.dataDeleted, c.dataDeleted);
    }
}

TEST(JobWindowState, ButtonsByStateWithTheirPlaces) {
    struct Case {
        const char* what;
        JobPlan plan;
        uint32_t state;
        std::vector<std::string> ids;
        std::vector<int> xs, widths;
        int y;
    };
    JobPlan update;
    update.selfUpdate = true;
    update.verb = "UPDATE";
    JobPlan removal;
    removal.selfRemoval = true;
    JobPlan removed = jobtest::dataPlan();
    const Case cases[] = {
        {"choose", jobtest::formatPlan(), JobWindow::Choose, {"go", "cancel"}, {8, 112}, {98, 98}, 268},
        {"running", jobtest::formatPlan(), JobWindow::Running, {"stop", "hide"}, {8, 112}, {98, 98}, 268},
        {"done", jobtest::formatPlan(), JobWindow::Done, {"open", "close"}, {8, 112}, {98, 98}, 268},
        {"removed: no folder", removed, JobWindow::Done, {"close"}, {8}, {202}, 294},
        {"self-update done", update, JobWindow::Done, {"restart", "close"}, {8, 112}, {98, 98}, 268},
        {"self-removal done", removal, JobWindow::Done, {"finish"}, {8}, {202}, 268},
        {"failed", jobtest::formatPlan(), JobWindow::Failed, {"retry", "close"}, {8, 112}, {98, 98}, 268},
        {"cancelled", jobtest::formatPlan(), JobWindow::Cancelled, {"go", "close"}, {8, 112}, {98, 98}, 268},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BareModel bare;
        auto w = bare.window(c.plan);
        w->state = c.state;
        const std::vector<JobWindow::Button> b = w->buttons();
        ASSERT_EQ(b.size(), c.ids.size());
        for (size_t i = 0; i < b.size(); ++i) {
            EXPECT_EQ(w->partName(b[i].id), c.ids[i]);
            EXPECT_EQ(b[i].rect.x, c.xs[i]);
            EXPECT_EQ(b[i].rect.w, c.widths[i]);
            EXPECT_EQ(b[i].rect.y, c.y);
        }
    }
    BareModel bare;
    EXPECT_EQ(bare.window(update)->buttons()[1].label, "LATER");
    EXPECT_EQ(bare.window(jobtest::dataPlan())->bounds.h, 318);
    EXPECT_EQ(bare.window(jobtest::formatPlan())->bounds.h, 292);
}

TEST(JobWindowState, StatusLines) {
    struct Case {
        const char* what;
        std::function<void(JobWindow&, BareModel&)> setUp;
        std::string status;
    };
    const Case cases[] = {
        {"ready", [](JobWindow&, BareModel&) {}, "READY"},
        {"nothing ticked", [](JobWindow& w, BareModel&) { w.plan.choices[0].on = w.plan.choices[1].on = false; },
         "TICK A FORMAT"},
        {"running", [](JobWindow& w, BareModel& b) {
             w.state = JobWindow::Running;
             b.running("Downloading 12 %", 0.1, true);
         },
         "DOWNLOADING 12 %"},
        {"running, no text yet", [](JobWindow& w, BareModel& b) {
             w.state = JobWindow::Running;
             b.running("", 0, true);
         },
         "WORKING"},
        {"view gone", [](JobWindow& w, BareModel& b) {
             w.state = JobWindow::Running;
             b.running("Installing", 0.5, false);
             b.alive.reset();
         },
         "WORKING"},
        {"done", [](JobWindow& w, BareModel&) { w.state = JobWindow::Done; }, "SYNTH INSTALLED"},
        {"failed", [](JobWindow& w, BareModel&) {
             w.state = JobWindow::Failed;
             w.error = "Synth is not in the catalog";
         },
         "SYNTH IS NOT IN THE CATALOG"},
        {"failed, no text", [](JobWindow& w, BareModel&) { w.state = JobWindow::Failed; }, "FAILED"},
        {"cancelled", [](JobWindow& w, BareModel&) { w.state = JobWindow::Cancelled; }, "CANCELLED"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BareModel bare;
        auto w = bare.window(jobtest::formatPlan());
        c.setUp(*w, bare);
        EXPECT_EQ(w->statusText(), c.status);
    }
    BareModel bare;
    auto data = bare.window(jobtest::dataPlan());
    EXPECT_EQ(data->statusText(), "KEEPS ITS PRESETS AND SETTINGS FOR A LATER INSTALL");
    data->press(tqapp::kJobData);
    EXPECT_EQ(data->statusText(), "DELETES ITS PRESETS AND SETTINGS. YOUR RECORDINGS STAY");
}

// The clock: an ended job turns into done, failed or cancelled; a second job is refused while one runs.
TEST(JobWindowState, FollowsTheModelsJob) {
    struct Case {
        bool ok, cancelled, retryable;
        uint32_t state;
        std::string status;
    };
    const Case cases[] = {{true, false, true, JobWindow::Done, "SYNTH INSTALLED"},
                          {false, false, true, JobWindow::Failed, "THE SERVER ANSWERED 500"},
                          {false, false, false, JobWindow::Failed, "THE SERVER ANSWERED 500"},
                          {false, true, true, JobWindow::Cancelled, "CANCELLED"}};
    for (const Case& c : cases) {
        BareModel bare;
        auto w = bare.window(jobtest::formatPlan());
        w->state = JobWindow::Running;
        w->generation = 4;
        bare.running("Downloading 40 %", 0.4, true);
        w->tick();
        EXPECT_EQ(w->state, JobWindow::Running);
        EXPECT_EQ(w->progress, 0.4);  // the model's figure, the one its status line says
        bare.ended(4, c.ok, c.cancelled, c.ok ? "Synth installed" : "the server answered 500");
        bare.model.retryable = c.retryable;
        w->tick();
        EXPECT_EQ(w->state, c.state);
        EXPECT_EQ(w->partName(w->buttons()[0].id) == "retry", c.state == JobWindow::Failed && c.retryable);
        EXPECT_EQ(w->statusText(), c.status);
        EXPECT_EQ(w->flash > 0.9, c.ok);
        // A finished job shows its whole bar at once, a stopped one none; a failed one's stays where it stopped.
        EXPECT_EQ(w->progress, c.ok ? 1.0 : c.cancelled ? 0.0 : 0.4);
    }

    BareModel bare;
    auto w = bare.window(jobtest::formatPlan());
    bare.running("Downloading 1 %", 0.0, true);
    const uint32_t before = bare.model.jobGeneration;
    w->press(jobButton(JobButton::Go));
    EXPECT_EQ(w->state, JobWindow::Failed);
    EXPECT_EQ(w->statusText(), "ONE JOB AT A TIME: WAIT FOR THE OTHER ONE TO FINISH");
    EXPECT_EQ(bare.model.jobGeneration, before);
}

// A job whose worker thread cannot start (here: a child process allowed no more threads) ends at
// once as a failed job with the reason: the model is not left busy, and the window shows it.
TEST(JobWindowState, AJobWhoseWorkerCannotStartFails) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Root is not held to the limit on threads: the child becomes nobody first.
        if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(10);
        const rlimit none{0, 0};
        if (::setrlimit(RLIMIT_NPROC, &none) != 0) ::_exit(11);
        BareModel bare;
        bare.model.config.harness = true;
        auto w = bare.window(jobtest::formatPlan());
        try {  // nothing may escape: the child never returns into the test runner
            w->press(jobButton(JobButton::Go));
            w->tick();
        } catch (...) {
            ::_exit(5);
        }
        const tqapp::Model& m = bare.model;
        if (m.busy) ::_exit(1);
        if (m.ok || m.doneGeneration != m.jobGeneration || m.jobGeneration != 1) ::_exit(2);
        if (m.note.rfind("Could not start the job", 0) != 0 || m.failed.count("synth") != 1) ::_exit(3);
        if (w->state != JobWindow::Failed || w->statusText().rfind("COULD NOT START THE JOB", 0) != 0) ::_exit(4);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(JobWindowState, StopOnlyWhileStoppableAndNothingOnceTheViewIsGone) {
    BareModel bare;
    auto w = bare.window(jobtest::formatPlan());
    w->state = JobWindow::Running;
    bare.running("Installing", 0.6, false);
    EXPECT_FALSE(w->buttons()[0].enabled);
    EXPECT_EQ(nameAt(*w, w->buttons()[0].rect.x + 4, w->buttons()[0].rect.y + 4), "");
    w->press(jobButton(JobButton::Stop));
    EXPECT_FALSE(bare.model.cancel->load());
    bare.model.stoppable = true;
    EXPECT_TRUE(w->buttons()[0].enabled);
    w->press(jobButton(JobButton::Stop));
    EXPECT_TRUE(bare.model.cancel->load());

    // Once the view (and its model) is gone the window touches nothing and tells no one it closed.
    bool closed = false;
    w->onClosed = [&] { closed = true; };
    bare.model.cancel->store(false);
    bare.alive.reset();
    w->press(jobButton(JobButton::Stop));
    EXPECT_FALSE(bare.model.cancel->load());
    w->state = JobWindow::Choose;
    bare.model.busy = false;
    w->press(jobButton(JobButton::Go));
    EXPECT_EQ(w->state, JobWindow::Choose);
    // "RESTART" and "FINISH" call into the view that is gone: they do nothing either.
    int calls = 0;
    w->onRestart = [&] { ++calls; };
    w->onFinish = [&] { ++calls; };
    w->state = JobWindow::Done;
    w->press(jobButton(JobButton::Restart));
    w->press(jobButton(JobButton::Finish));
    EXPECT_EQ(calls, 0);
    w.reset();
    EXPECT_FALSE(closed);
}

// A tick box answers the pointer where it was painted: the labels are measured in the font of the
// paint's scale (1.2 is the skin look's own), so the hit boxes follow the last paint, not scale 1.
TEST(JobWindowPointer, TickBoxesHitWherePainted) {
    BareModel bare;
    JobPlan many = jobtest::formatPlan("UPDATE");
    many.choices.push_back({"au", "AU", true, "", ""});
    many.choices.push_back({"studio", "STUDIO", true, "", "Studio"});
    auto w = bare.window(many);
    for (double s : {1.0, 1.2, 1.25, 1.5, 2.0, 3.0}) {
        SCOPED_TRACE(s);
        lumo::gui::Canvas canvas = pixeltest::paper(int(std::lround(218 * s)), int(std::lround(292 * s)));
        const lumo::gui::Paint p{canvas, {0, 0, canvas.width, canvas.height}, s, false, {}, {}};
        w->draw(p);
        const std::vector<lumo::gui::Rect> painted = choiceRects(*w);
        for (size_t i = 0; i < painted.size(); ++i) {
            const lumo::gui::Rect& r = painted[i];
            // The box, and the label's middle.
            EXPECT_EQ(nameAt(*w, r.x + 4, r.y + 7), "fmt:" + many.choices[i].id);
            EXPECT_EQ(nameAt(*w, r.x + 13 + (r.w - 13) / 2, r.y + 7), "fmt:" + many.choices[i].id);
        }
        lumo::gui::WidgetInfo info;
        w->describe(info);
        for (const auto& part : info.parts)
            if (part.label == "job:fmt:studio") {
                EXPECT_EQ(part.rect.x, painted[3].x);
            }
    }
}

// Choices more than their row holds are paged by two arrows at the row's end: at every scale each
// one, ticked or not, can be brought into sight whole and unticked by the pointer, so none runs
// unseen. A lone choice too long for the row ends in "..." at its side.
TEST(JobWindowPointer, EveryChoiceCanBeSeenAndUnticked) {
    BareModel bare;
    JobPlan apps = jobtest::formatPlan("UPDATE");
    for (const char* name : {"ARDUNE STUDIO SUITE", "MORE", "LIBRARIAN", "TAPE MACHINE", "X"}) {
        apps.choices.push_back({name, name, true, "/Applications", name});
        apps.tasks.push_back({"install", name, "app"});
    }
    auto click = [](JobWindow& w, const lumo::gui::Rect& r) {
        w.onMouseDown(at(r.x + r.w / 2, r.y + r.h / 2));
        w.onMouseUp(at(r.x + r.w / 2, r.y + r.h / 2));
    };
    for (double s : {1.0, 1.2, 1.5, 2.0, 3.0}) {
        SCOPED_TRACE(s);
        lumo::gui::Canvas canvas = pixeltest::paper(int(std::lround(218 * s)), int(std::lround(292 * s)));
        const lumo::gui::Paint p{canvas, {0, 0, canvas.width, canvas.height}, s, false, {}, {}};
        auto w = bare.window(apps);
        std::vector<bool> seen(apps.choices.size(), false);
        for (int page = 0; page < 20; ++page) {
            w->draw(p);
            const auto table = w->parts();
            const auto* back = table.find(tqapp::kJobShiftBack);
            const auto* on = table.find(tqapp::kJobShiftOn);
            ASSERT_TRUE(back && on) << "more choices than the row holds, and no way to the others";
            EXPECT_EQ(back->enabled, page > 0);
            if (s == 2.0 && page == 1) {
                EXPECT_TRUE(pixeltest::writePicture(canvas, "job-window-paged-choices-2x.png"));
            }
            for (const auto& part : table.parts()) {
                if (part.id.kind != tqapp::JobPart::Choice) continue;
                const size_t i = size_t(part.id.index);
                EXPECT_TRUE(part.enabled) << i;
                EXPECT_LE(part.rect.x + part.rect.w, back->rect.x) << "under the arrows: " << i;
                EXPECT_EQ(nameAt(*w, part.rect.x + 2, part.rect.y + 7), "fmt:" + apps.choices[i].id);
                seen[i] = true;
                if (w->plan.choices[i].on) click(*w, part.rect);
                EXPECT_FALSE(w->plan.choices[i].on) << i;
            }
            if (!on->enabled) break;
            click(*w, on->rect);
        }
        EXPECT_EQ(std::count(seen.begin(), seen.end(), true), int(seen.size()));
        EXPECT_TRUE(tqapp::jobStart(w->plan).tasks.empty()) << "a choice still ticked runs unseen";
    }

    // One choice alone, too long for the row: cut at its side, and no arrows.
    JobPlan one = jobtest::formatPlan();
    one.choices = {{"studio", "ARDUNE STUDIO SUITE FOR THE WHOLE STUDIO", true, "", "Ardune Studio Suite"}};
    auto w = bare.window(one);
    static std::vector<std::pair<std::string, lumo::gui::Rect>> drawn;
    const lumo::gui::TextProbe saved = lumo::gui::textProbe();
    lumo::gui::textProbe() = [](const std::string& text, lumo::gui::Rect ink, lumo::gui::Rect, int) {
        drawn.push_back({text, ink});
    };
    lumo::gui::Canvas canvas = pixeltest::paper(218, 292);
    w->draw(lumo::gui::Paint{canvas, {0, 0, canvas.width, canvas.height}, 1.0, false, {}, {}});
    lumo::gui::textProbe() = saved;
    const std::vector<lumo::gui::Rect> rects = choiceRects(*w);
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0].x + rects[0].w, 209);
    EXPECT_FALSE(w->parts().find(tqapp::kJobShiftOn));
    bool found = false;
    for (const auto& [text, ink] : drawn)
        if (ink.y >= 170 && ink.y < 190 && ink.x >= rects[0].x) {
            found = true;
            EXPECT_EQ(text.substr(text.size() - 3), "...") << text;
            EXPECT_LE(ink.x + ink.w, 209) << text;
        }
    EXPECT_TRUE(found);
}

// A press acts only when released over the same name; moving off and back shows it down again.
TEST(JobWindowPointer, PressReleaseAndTicks) {
    BareModel bare;
    auto w = bare.window(jobtest::formatPlan());
    const lumo::gui::Rect clap = choiceRects(*w)[1];
    EXPECT_EQ(choiceRects(*w)[0].x, 12);
    EXPECT_EQ(clap.y, 176);
    EXPECT_EQ(nameAt(*w, clap.x + 2, clap.y + 2), "fmt:clap");
    EXPECT_EQ(nameAt(*w, 200, 10), "x");
    EXPECT_EQ(nameAt(*w, 20, 10), "");

    w->onMouseDown(at(clap.x + 2, clap.y + 2));
    w->onMouseDrag(at(100, 100));
    EXPECT_EQ(hoverName(*w), "");
    w->onMouseDrag(at(clap.x + 3, clap.y + 3));
    EXPECT_EQ(hoverName(*w), "fmt:clap");
    w->onMouseUp(at(100, 100));
    EXPECT_TRUE(w->plan.choices[1].on);  // released elsewhere: nothing
    w->onMouseDown(at(clap.x + 2, clap.y + 2));
    w->onMouseUp(at(clap.x + 2, clap.y + 2));
    EXPECT_FALSE(w->plan.choices[1].on);
    EXPECT_EQ(tqapp::jobStart(w->plan).tasks.size(), 1u);

    // With nothing ticked the start button is disabled and answers no name.
    w->press(tqapp::jobChoice(0));
    const JobWindow::Button go = w->buttons()[0];
    EXPECT_FALSE(go.enabled);
    EXPECT_EQ(nameAt(*w, go.rect.x + 5, go.rect.y + 5), "");

    // The automation description names every live part.
    lumo::gui::WidgetInfo info;
    w->describe(info);
    std::vector<std::string> names;
    for (const auto& part : info.parts) names.push_back(part.label);
    EXPECT_EQ(names, (std::vector<std::string>{"job:x", "job:go", "job:cancel", "job:fmt:vst3", "job:fmt:clap"}));
    EXPECT_EQ(info.value, "TICK A FORMAT");
}

// A status that fits stands still; a longer one waits 1.5 s after a change, then scrolls left.
TEST(JobWindowPointer, LongStatusScrollsAfterAPause) {
    for (bool longText : {false, true}) {
        BareModel bare;
        auto w = bare.window(jobtest::formatPlan());
        w->state = JobWindow::Failed;
        w->error = longText ? "cannot write /Library/Audio/Plug-Ins/VST3/Synth.vst3: read-only file system" : "no";
        auto statusPixels = [&](double seconds) {
            w->clock = w->statusSince + seconds;
            pixeltest::Canvas c = pixeltest::paper(218, 292);
            w->draw(pixeltest::paintOf(c, 1.0));
            std::vector<uint32_t> box;
            for (int y = 228; y < 242; ++y)
                for (int x = 8; x < 210; ++x) box.push_back(pixeltest::at(c, x, y));
            return box;
        };
        const auto still = statusPixels(0.0);
        EXPECT_EQ(statusPixels(1.4), still);
        EXPECT_EQ(statusPixels(3.0) != still, longText);
    }
}

// Whatever moves a part in the table moves its click, its description and its painting with it.
TEST(JobWindowPointer, PartsFollowTheTable) {
    JobPlan install;
    install.verb = "INSTALL";
    install.selfInstall = true;
    install.choices = {{"startmenu", "START MENU", true, "", ""}};
    struct Case {
        const char* part;
        JobPlan plan;
        uint32_t state;
        lumo::gui::Rect to;
        std::function<bool(const JobWindow&, int opened)> acted;
    };
    const Case cases[] = {
        {"fmt:clap", jobtest::formatPlan(), JobWindow::Choose, {150, 176, 44, 14},
         [](const JobWindow& w, int) { return !w.plan.choices[1].on; }},
        {"scope:system", install, JobWindow::Choose, {130, 202, 80, 14},
         [](const JobWindow& w, int) { return w.plan.scope == tqm::Scope::System; }},
        {"data", jobtest::dataPlan(), JobWindow::Choose, {60, 228, 100, 14},
         [](const JobWindow& w, int) { return w.plan.deleteData; }},
        {"open", jobtest::formatPlan(), JobWindow::Done, {60, 202, 98, 16}, [](const JobWindow&, int opened) { return opened == 1; }},
    };
    for (const Case& c : cases) {
        BareModel bare;
        partstest::Moved<JobWindow> w(c.part, c.to, bare.model, bare.alive, c.plan);
        w.state = c.state;
        int opened = 0;
        w.onOpenFolder = [&](const std::string&) { ++opened; };
        JobWindow plain(bare.model, bare.alive, c.plan);
        plain.state = c.state;
        const auto from = partstest::partNamed(plain, c.part);
        ASSERT_TRUE(from) << c.part;
        partstest::expectPartFollowsTheTable(w, std::string("job:") + c.part, c.part, from->rect, c.to,
                                             [&] { return c.acted(w, opened); });
    }
}
