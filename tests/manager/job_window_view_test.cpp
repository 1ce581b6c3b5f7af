// Job windows through the real editor (headless): a plan opens its window with its ticks, clicks
// go through the editor's pointer entry points, the job runs on its worker against the loopback
// server, and each frame is an editor tick and a paint (which destroys closed popups).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "manager/pixel_look/primitives.h"
#include "manager/windows/job_window.h"
#include "manager/windows/settings_window.h"
#include "tests/manager/pixel_support.h"
#include "tests/manager/view_fixture.h"

using namespace testsupport;
using tqapp::JobPlan;
using tqapp::JobWindow;
namespace fs = std::filesystem;

namespace {

class JobWindowView : public ViewTest {
protected:
    void TearDown() override {
        // No job worker may outlive the server or the test's folders.
        if (view && view->model()) {
            EXPECT_TRUE(frameUntil([this] { return !view->model()->busy; }));
        }
    }

    // Every file of the source folder behind the server (a reply given later replaces it).
    void serveSource() { serveFolder(server, catalog.source()); }

    // Publishes the catalog at a version and opens the window on the server.
    void openOnServer(const std::string& version) {
        ASSERT_TRUE(server.ok());
        catalog.publish(catalogText(version));
        serveSource();
        source = server.url();
        open();
        ASSERT_TRUE(viewLoaded());
        ASSERT_TRUE(view->model()->catalog->ok) << view->model()->catalog->note;
    }

    // A job straight through the model (to set the stage), run to its end.
    void runDirect(std::vector<tqm::Task> tasks) {
        view->model()->run(std::move(tasks), "Set-up", "Set up");
        ASSERT_TRUE(frameUntil([this] { return !view->model()->busy; }));
        ASSERT_TRUE(view->model()->ok) << view->model()->note;
    }

    JobWindow* window() const { return view->openJobWindow(); }

    // The job windows among the editor's popups.
    std::vector<JobWindow*> jobWindows() const {
        std::vector<JobWindow*> out;
        for (const auto& p : editor->popups())
            if (auto* w = dynamic_cast<JobWindow*>(p.widget)) out.push_back(w);
        return out;
    }

    // Presses and releases over the centre of a part of the open job window, through the editor.
    void click(const std::string& part) {
        JobWindow* w = window();
        ASSERT_NE(w, nullptr);
        lumo::gui::WidgetInfo info;
        w->describe(info);
        for (const auto& p : info.parts)
            if (p.label == "job:" + part) {
                const int x = w->bounds.x + p.rect.x + p.rect.w / 2, y = w->bounds.y + p.rect.y + p.rect.h / 2;
                editor->mouseMove(x, y, false, false, false);
                later();
                editor->mouseDown(x, y, lumo::gui::kButtonLeft, false, false, false, false);
                editor->mouseUp(x, y, lumo::gui::kButtonLeft);
                return;
            }
        FAIL() << "no part " << part << " in state " << w->state;
    }

    // A plan for Synth in both formats, as the row actions make one.
    JobPlan synthPlan(const std::string& verb) const {
        const tqm::Layout& layout = view->model()->config.layout;
        JobPlan p;
        p.verb = verb;
        p.title = "SYNTH";
        p.choices = {{"vst3", "VST3", true, layout.formatDir("vst3"), ""},
                     {"clap", "CLAP", true, layout.formatDir("clap"), ""}};
        p.tasks = {{"install", "synth", "vst3"}, {"install", "synth", "clap"}};
        const bool update = verb == "UPDATE";
        p.jobTitle = update ? "Updating Synth" : "Installing Synth";
        p.doneText = update ? "Synth updated" : "Synth installed";
        return p;
    }

    const tqm::Row& row(const std::string& id) const {
        for (const tqm::Row& r : view->model()->rows)
            if (r.id == id) return r;
        static const tqm::Row none;
        return none;
    }

    // Every file under the root with its contents, but the caches, the log and the window's own files.
    std::map<std::string, std::string> disk() const {
        std::map<std::string, std::string> out;
        std::error_code ec;
        const std::string root = path("root");
        for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            // Read from the names alone: the picture worker may still be renaming files in the cache.
            const std::string rel = it->path().lexically_relative(root).string();
            if (rel.rfind("data/cache", 0) == 0 || rel.find(".log") != std::string::npos ||
                rel.find("window.txt") != std::string::npos || rel.find("settings.txt") != std::string::npos)
                continue;
            out[rel] = it->is_regular_file() ? readFile(it->path().string()) : "<dir>";
        }
        return out;
    }

    // The VST3 package of Synth 1.0 announces more than it sends and then waits: its download runs
    // until it is stopped.
    void stallVst3() {
        LoopbackServer::Reply stalled;
        stalled.body = readFile(catalog.source() + "/" + package("1.0", "vst3"));
        stalled.announce = int64_t(stalled.body.size()) * 4;
        stalled.stall = true;
        server.serve(package("1.0", "vst3"), stalled);
    }

    // The package of Synth in a format, as the catalog names it.
    static std::string package(const std::string& version, const std::string& format) {
        return "plugins/Synth-" + version + "." + format + ".zip";
    }

    LoopbackServer server;
};

// An update with its ticks: the download of CLAP fails at first, RETRY succeeds once the server
// serves it; progress and status move meanwhile, and the rows agree with the result.
TEST_F(JobWindowView, UpdateFailsThenRetrySucceeds) {
    openOnServer("1.0");
    runDirect({{"install", "synth", "vst3"}, {"install", "synth", "clap"}});
    catalog.publish(catalogText("1.1", 2));
    serveSource();
    // Slow packages, so the window sees the download move; CLAP broken for now.
    for (const char* f : {"vst3", "clap"}) {
        LoopbackServer::Reply r;
        r.body = readFile(catalog.source() + "/" + package("1.1", f));
        r.chunk = 8;
        server.serve(package("1.1", f), r);
    }
    LoopbackServer::Reply broken;
    broken.status = 500;
    broken.body = "down";
    server.serve(package("1.1", "clap"), broken);
    view->model()->reload();
    ASSERT_TRUE(frameUntil([this] { return !view->model()->loading; }));
    ASSERT_EQ(row("synth").state, tqm::State::Update);

    view->openJob(synthPlan("UPDATE"), false, {});
    JobWindow* w = window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->bounds.x, (view->bounds.w - 218) / 2);
    EXPECT_EQ(w->bounds.y, (view->bounds.h - 292) / 2);
    EXPECT_EQ(w->bounds.w, 218);
    EXPECT_EQ(w->bounds.h, 292);
    lumo::gui::WidgetInfo info;
    w->describe(info);
    int ticked = 0;
    for (const auto& p : info.parts) ticked += p.label.rfind("job:fmt:", 0) == 0 && p.checked;
    EXPECT_EQ(ticked, 2);
    EXPECT_EQ(w->buttons()[0].label, "UPDATE");

    click("go");
    EXPECT_EQ(w->state, JobWindow::Running);
    ASSERT_TRUE(frameUntil([&] { return w->state != JobWindow::Running; }));
    EXPECT_EQ(w->state, JobWindow::Failed);
    EXPECT_NE(w->statusText().find("SYNTH-1.1.CLAP.ZIP"), std::string::npos) << w->statusText();
    EXPECT_TRUE(w->buttons()[0].enabled);
    EXPECT_EQ(w->partName(w->buttons()[0].id), "retry");
    EXPECT_EQ(row("synth").state, tqm::State::Update);  // nothing was installed
    EXPECT_EQ(view->model()->failed.count("synth"), 1u);

    // The server is mended: RETRY runs the same ticks again.
    LoopbackServer::Reply mended;
    mended.body = readFile(catalog.source() + "/" + package("1.1", "clap"));
    mended.chunk = 8;
    server.serve(package("1.1", "clap"), mended);
    // What the model reports (every post) and what the window shows (once a frame).
    std::vector<std::string> reported, statuses;
    std::vector<double> shown;
    std::vector<int> figures;  // the row's percentage at every post
    view->model()->onChange = [this, &reported, &figures] {
        if (reported.empty() || reported.back() != view->model()->progressText) reported.push_back(view->model()->progressText);
        std::string figure;
        view->rowStatus(row("synth"), figure);
        if (view->model()->busy && figure.find(" %") != std::string::npos) figures.push_back(std::atoi(figure.c_str()));
        view->changed();
    };
    click("retry");
    ASSERT_EQ(w->state, JobWindow::Running);
    ASSERT_TRUE(frameUntil([&] {
        if (statuses.empty() || statuses.back() != w->statusText()) statuses.push_back(w->statusText());
        shown.push_back(w->progress);
        return w->state != JobWindow::Running;
    }));
    ASSERT_EQ(w->state, JobWindow::Done) << w->error;
    EXPECT_EQ(w->statusText(), "SYNTH UPDATED");
    auto seen = [](const std::vector<std::string>& texts, const std::string& start) {
        return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.rfind(start, 0) == 0; });
    };
    EXPECT_TRUE(seen(reported, "Downloading ")) << testing::PrintToString(reported);
    EXPECT_TRUE(seen(reported, "Installing")) << testing::PrintToString(reported);
    EXPECT_GE(statuses.size(), 3u) << testing::PrintToString(statuses);  // e.g. starting, downloading, done
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](double v) { return v > 0.01 && v < 0.99; }));
    ASSERT_TRUE(frameUntil([&] { return w->progress == 1.0; }));
    // Two packages, one after the other: neither the row's figure nor the bar ever goes back.
    EXPECT_TRUE(std::is_sorted(figures.begin(), figures.end())) << testing::PrintToString(figures);
    EXPECT_GE(figures.size(), 2u);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << testing::PrintToString(shown);

    // The rows say what the window says.
    EXPECT_EQ(row("synth").state, tqm::State::Installed);
    EXPECT_EQ(row("synth").version, "1.1");
    EXPECT_TRUE(row("synth").formats.at("clap").installed);
    EXPECT_TRUE(view->model()->failed.empty());
    EXPECT_EQ(view->model()->note, "Synth updated (VST3, CLAP)");
    EXPECT_EQ(view->lastPlan.title, "SYNTH");
    EXPECT_EQ(w->partName(w->buttons()[0].id), "open");
}

// Unticking a format takes its task away; stopping during the download ends the job as stopped
// with nothing changed on disk.
TEST_F(JobWindowView, StopDuringADownloadChangesNothing) {
    openOnServer("1.0");
    stallVst3();
    const auto before = disk();

    view->openJob(synthPlan("INSTALL"), false, {});
    click("fmt:clap");
    ASSERT_NE(window(), nullptr);
    JobWindow* w = window();
    EXPECT_FALSE(w->plan.choices[1].on);
    ASSERT_EQ(tqapp::jobStart(w->plan).tasks.size(), 1u);
    EXPECT_EQ(tqapp::jobStart(w->plan).tasks[0].format, "vst3");

    click("go");
    ASSERT_TRUE(frameUntil([&] { return w->statusText().rfind("DOWNLOADING", 0) == 0 && w->buttons()[0].enabled; }));
    EXPECT_EQ(view->model()->jobIds.size(), 1u);
    click("stop");
    ASSERT_TRUE(frameUntil([&] { return w->state != JobWindow::Running; }));
    EXPECT_EQ(w->state, JobWindow::Cancelled);
    EXPECT_EQ(w->statusText(), "CANCELLED");
    EXPECT_EQ(w->partName(w->buttons()[0].id), "go");
    EXPECT_TRUE(view->model()->cancelled);
    EXPECT_TRUE(view->model()->failed.empty());
    EXPECT_EQ(disk(), before);
    EXPECT_EQ(row("synth").state, tqm::State::Absent);
}

// GO and STOP share one place: the second press of a double click on INSTALL does not stop the job it
// started; a press after the double-click time does.
TEST_F(JobWindowView, ADoubleClickOnGoStartsTheJobAndLeavesItRunning) {
    openOnServer("1.0");
    stallVst3();
    // Seconds from the press on GO to the next press there, and whether that one stops the job.
    for (const auto& [after, stops] : {std::pair{0.05, false}, {0.49, false}, {0.55, true}, {2.0, true}}) {
        SCOPED_TRACE(after);
        view->openJob(synthPlan("INSTALL"), false, {});
        JobWindow* w = window();
        ASSERT_NE(w, nullptr);
        const lumo::gui::Rect r = w->buttons()[0].rect;
        const int x = w->bounds.x + r.x + r.w / 2, y = w->bounds.y + r.y + r.h / 2;
        auto pressAt = [&](double t) {
            editor->mouseMove(x, y, false, false, false);
            editor->setPendingEventTime(t);
            editor->mouseDown(x, y, lumo::gui::kButtonLeft, false, false, false, false);
            editor->setPendingEventTime(t + 0.02);
            editor->mouseUp(x, y, lumo::gui::kButtonLeft);
        };
        const double go = w->openedAt + 1.0;  // past the guard after the opening
        pressAt(go);
        ASSERT_EQ(w->state, JobWindow::Running);
        ASSERT_TRUE(frameUntil([&] { return w->buttons()[0].enabled; }));  // STOP takes the pointer
        ASSERT_EQ(w->partName(w->buttons()[0].id), "stop");
        pressAt(go + after);
        EXPECT_EQ(view->model()->cancel->load(), stops);
        if (!stops) {
            pressAt(go + 1.0);  // a deliberate press
            EXPECT_TRUE(view->model()->cancel->load());
        }
        ASSERT_TRUE(frameUntil([&] { return w->state == JobWindow::Cancelled; }));
        editor->closePopup(w);
        frame();
    }
}

// While a job runs, a plan shows the running job's window; hiding it and asking again opens it
// anew, and the old window's late goodbye does not wipe the view's pointer to the new one.
TEST_F(JobWindowView, RunningJobComesBackAndThePointerSurvivesTheRetiredWindow) {
    openOnServer("1.0");
    stallVst3();

    view->openJob(synthPlan("INSTALL"), false, {});
    click("go");
    JobWindow* first = window();
    ASSERT_TRUE(frameUntil([&] { return first->buttons()[0].enabled; }));

    view->openUninstall();  // a plan while the job runs: the running window, nothing new
    ASSERT_EQ(jobWindows().size(), 1u);
    EXPECT_EQ(window(), first);
    EXPECT_EQ(first->state, JobWindow::Running);

    click("hide");  // closed, but the editor destroys it only at the next paint
    EXPECT_EQ(window(), nullptr);
    EXPECT_EQ(view->openJobWindow(), nullptr);  // closed: no longer the open one, though not yet destroyed
    view->showRunningJob();
    JobWindow* second = window();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->state, JobWindow::Running);
    EXPECT_EQ(second->generation, view->model()->jobGeneration);
    EXPECT_EQ(second->plan.title, "SYNTH");
    frame();  // the old window goes now, and says so
    EXPECT_EQ(view->openJobWindow(), second);
    EXPECT_EQ(window(), second);
    ASSERT_EQ(jobWindows().size(), 1u);

    view->showRunningJob();  // open and running: only raised
    EXPECT_EQ(window(), second);

    click("stop");
    ASSERT_TRUE(frameUntil([&] { return second->state == JobWindow::Cancelled; }));
    view->showRunningJob();  // a window that no longer runs is replaced by a running-state one
    ASSERT_NE(window(), nullptr);
    EXPECT_NE(window(), second);
    EXPECT_EQ(window()->state, JobWindow::Running);
    frame();  // its job has ended: it shows how
    ASSERT_EQ(jobWindows().size(), 1u);
    EXPECT_EQ(window()->state, JobWindow::Cancelled);

    // Two plans in a row leave one window, the second, and it stays known after the paint.
    JobPlan a = synthPlan("INSTALL"), b = synthPlan("INSTALL");
    b.title = "SECOND";
    view->openJob(a, false, {});
    view->openJob(b, false, {});
    frame();
    ASSERT_EQ(jobWindows().size(), 1u);
    ASSERT_NE(window(), nullptr);
    EXPECT_EQ(window()->plan.title, "SECOND");
}

// The manager's own plans: removal and installation are refused here; an update replaces a
// program laid out as a bundle and refuses a bare program with the reason.
TEST_F(JobWindowView, TheManagersOwnPlans) {
    catalog.publish(catalogText("1.0", 1, "0.4.0"));
    open();
    ASSERT_TRUE(viewLoaded());
    runDirect({{"install", "synth", "vst3"}, {"install", "synth", "clap"}, {"install", "delay", "vst3"}});
    const auto before = disk();

    struct Case {
        const char* what;
        std::function<void()> openIt;
        int height;
        std::string second;  // the second row's value or first tick label
    };
    const Case refused[] = {{"removal", [this] { view->openUninstall(); }, 292, "PLUGINS (2)"},
                            {"install", [this] { view->openInstall(); }, 318, "START MENU"}};
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        c.openIt();
        JobWindow* w = window();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->bounds.h, c.height);
        ASSERT_FALSE(w->plan.choices.empty());
        EXPECT_EQ(w->plan.choices[0].label, c.second);
        EXPECT_EQ(w->plan.title, "Ardune Systems Manager 0.3.0");
        click("go");
        ASSERT_TRUE(frameUntil([&] { return w->state != JobWindow::Running; }));
        EXPECT_EQ(w->state, JobWindow::Failed);
        EXPECT_EQ(w->statusText(), "NOT ON THIS PLATFORM");
        click("close");
        frame();
        EXPECT_EQ(view->openJobWindow(), nullptr);
    }
    EXPECT_EQ(disk(), before);  // the plug-ins were not ticked: all stay
    // The removal plan holds every installed plug-in format.
    view->openUninstall();
    ASSERT_NE(window(), nullptr);
    EXPECT_EQ(window()->plan.tasks.size(), 3u);
    click("cancel");

    // Update of a program inside a bundle: the bundle is replaced by the catalog's manager.
    const std::string bundle = path("root/Apps/X.app");
    writeFile(bundle + "/Contents/MacOS/X", "old program");
    view->model()->config.program = bundle + "/Contents/MacOS/X";
    view->openSelfUpdate();
    JobWindow* w = window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->plan.fromVersion + " > " + w->plan.toVersion, "0.3.0 > 0.4.0");
    EXPECT_EQ(w->plan.where, view->model()->config.program);
    click("go");
    ASSERT_TRUE(frameUntil([&] { return w->state != JobWindow::Running; }));
    ASSERT_EQ(w->state, JobWindow::Done) << w->error;
    EXPECT_EQ(w->statusText(), "READY: RESTART TO USE IT");
    EXPECT_EQ(w->partName(w->buttons()[0].id), "restart");
    EXPECT_EQ(readFile(bundle + "/Contents/MacOS/manager"), "manager 0.4.0");
    EXPECT_FALSE(fs::exists(bundle + "/Contents/MacOS/X"));
    click("close");

    // A bare program is never "updated": the window says why.
    const std::string bare = path("root/bin/manager");
    writeFile(bare, "old program");
    view->model()->config.program = bare;
    view->openSelfUpdate();
    w = window();
    ASSERT_NE(w, nullptr);
    click("go");
    ASSERT_TRUE(frameUntil([&] { return w->state != JobWindow::Running; }));
    EXPECT_EQ(w->state, JobWindow::Failed);
    EXPECT_NE(w->statusText().find("IS NOT AN APP BUNDLE: NOT UPDATED"), std::string::npos) << w->statusText();
    EXPECT_EQ(readFile(bare), "old program");
    EXPECT_NE(view->model()->note.find(bare), std::string::npos);
}

// The editor paints the window over the main window where openJob put it, at the editor's scale.
TEST_F(JobWindowView, PaintedByTheEditorAtEachZoom) {
    catalog.publish(catalogText("1.0"));
    open();
    ASSERT_TRUE(viewLoaded());
    for (double zoom : {1.0, 2.0}) {
        SCOPED_TRACE(zoom);
        editor->setZoom(zoom);
        view->openJob(synthPlan("INSTALL"), false, {});
        frame();
        JobWindow* w = window();
        ASSERT_NE(w, nullptr);
        const double s = editor->bodyScale();
        EXPECT_DOUBLE_EQ(s, zoom);
        // The outline's corners and the panel just inside it, at the window's place.
        const int x0 = int(std::lround(w->bounds.x * s)), y0 = int(std::lround(w->bounds.y * s));
        const int x1 = int(std::lround((w->bounds.x + 218) * s)) - 1, y1 = int(std::lround((w->bounds.y + 292) * s)) - 1;
        const uint32_t rule = lumo::gui::pixelOf(tqapp::dev::rule), bg = lumo::gui::pixelOf(tqapp::dev::bg);
        EXPECT_EQ(pixeltest::at(canvas, x0, y1), rule);
        EXPECT_EQ(pixeltest::at(canvas, x1, y0), rule);
        EXPECT_EQ(pixeltest::at(canvas, x1, y1), rule);
        EXPECT_EQ(pixeltest::at(canvas, x0 + tqapp::dev::one(s), y1 - tqapp::dev::one(s)), bg);
        EXPECT_TRUE(pixeltest::writePicture(canvas, zoom == 1.0 ? "job-window-in-editor-1x.png" : "job-window-in-editor-2x.png"));
    }
}

// Without an editor a plan runs at once as its default ticks stand: an unticked format stays out.
TEST_F(JobWindowView, WithoutAnEditorTheDefaultTicksRun) {
    catalog.publish(catalogText("1.0"));
    tqapp::ManagerView bare;
    bare.setModel(std::make_unique<tqapp::Model>(config(), queue, [] {}));
    bare.model()->start();
    ASSERT_TRUE(pumpUntil([&] { return !bare.model()->loading; }));
    ASSERT_TRUE(bare.model()->catalog->ok);
    JobPlan plan;
    plan.choices = {{"vst3", "VST3", true, "", ""}, {"clap", "CLAP", false, "", ""}};
    plan.tasks = {{"install", "synth", "vst3"}, {"install", "synth", "clap"}};
    plan.jobTitle = "Installing Synth";
    plan.doneText = "Synth installed";
    bare.openJob(plan, false, {});
    ASSERT_TRUE(bare.model()->busy);
    ASSERT_TRUE(pumpUntil([&] { return !bare.model()->busy; }));
    EXPECT_EQ(bare.model()->note, "Synth installed (VST3)");
    EXPECT_EQ(bare.openJobWindow(), nullptr);
    for (const tqm::Row& r : bare.model()->rows)
        if (r.id == "synth") {
            EXPECT_TRUE(r.formats.at("vst3").installed);
            EXPECT_FALSE(r.formats.at("clap").installed);
        }
}

// Dragged by its bar as far as the pointer goes, the window keeps its bar inside the main window, so it
// can always be taken back (a running job's window is raised where it is).
TEST_F(JobWindowView, DraggedNeverOutOfReach) {
    catalog.publish(catalogText("1.0"));
    open();
    ASSERT_TRUE(viewLoaded());
    view->openJob(synthPlan("INSTALL"), false, {});
    frame();
    JobWindow* w = window();
    ASSERT_NE(w, nullptr);
    for (const auto& [dx, dy] : kFarAway) {
        SCOPED_TRACE(testing::Message() << dx << "," << dy);
        const int x = w->bounds.x + 60, y = w->bounds.y + 10;
        later();
        editor->mouseDown(x, y, lumo::gui::kButtonLeft, false, false, false, false);
        editor->mouseMove(x + dx, y + dy, false, false, false);
        editor->mouseUp(x + dx, y + dy, lumo::gui::kButtonLeft);
        frame();
        ASSERT_EQ(window(), w);
        EXPECT_TRUE(barInReach(*editor, w->bounds, JobWindow::kBarHeight));
    }
}

// Closing the window while a job runs: a download is stopped as STOP stops it, a job past its
// downloads runs to its end; either way the outcome is in the log once the window has gone.
TEST_F(JobWindowView, ClosingTheWindowEndsTheJobAndLogsIt) {
    openOnServer("1.0");
    runDirect({{"install", "delay", "vst3"}});
    stallVst3();
    struct Case {
        const char* what;
        std::vector<tqm::Task> tasks;
        const char* outcome;
    } cases[] = {{"a download that never ends", {{"install", "synth", "vst3"}}, "  cancelled\n"},
                 {"a removal", {{"remove", "delay", "vst3"}}, "  done\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!view) open();
        ASSERT_TRUE(viewLoaded());
        const std::string log = view->model()->logFile().string();
        view->model()->run(c.tasks, c.what, "Done");
        if (c.tasks[0].op == "install") {
            ASSERT_TRUE(frameUntil([this] { return view->model()->progressText.rfind("Downloading", 0) == 0; }));
        }
        close();
        const std::string text = readFile(log);
        const size_t job = text.rfind(std::string("job: ") + c.what);
        EXPECT_TRUE(job != std::string::npos && text.substr(job).ends_with(c.outcome)) << text;
    }
}

// A press on a popup in the first moment after it opened (a window that opened by itself under a
// click on its way) does nothing; a later one acts. Both windows, through the editor.
TEST_F(JobWindowView, APressJustAfterAPopupOpensIsNotAClickOnIt) {
    openOnServer("1.0");
    struct Case {
        double after;  // seconds between the opening and the press
        bool taken;
    } cases[] = {{0.0, false}, {0.1, false}, {0.25, false}, {0.35, true}, {2.0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        auto pressAt = [&](lumo::gui::Widget& w, double openedAt, lumo::gui::Rect part) {
            const int x = w.bounds.x + part.x + part.w / 2, y = w.bounds.y + part.y + part.h / 2;
            editor->mouseMove(x, y, false, false, false);
            editor->setPendingEventTime(openedAt + c.after);
            editor->mouseDown(x, y, lumo::gui::kButtonLeft, false, false, false, false);
            editor->mouseUp(x, y, lumo::gui::kButtonLeft);
            frame();
        };
        view->openJob(synthPlan("INSTALL"), false, {});
        JobWindow* job = window();
        ASSERT_NE(job, nullptr);
        pressAt(*job, job->openedAt, job->parts().rect(tqapp::jobChoice(1)));
        EXPECT_EQ(job->plan.choices[1].on, !c.taken) << "the CLAP tick";
        pressAt(*job, job->openedAt, JobWindow::kClose);
        EXPECT_EQ(window() == nullptr, c.taken);
        if (window()) editor->closePopup(window());
        frame();

        view->openAccount();
        tqapp::AccountWindow* account = view->openAccountWindow();
        ASSERT_NE(account, nullptr);
        pressAt(*account, account->openedAt, tqapp::AccountWindow::kClose);
        EXPECT_EQ(view->openAccountWindow() == nullptr, c.taken);
        if (view->openAccountWindow()) editor->closePopup(account);
        frame();
    }
}

// A main window made smaller takes its popups back inside, wherever they were moved.
TEST_F(JobWindowView, PopupsComeBackInsideWhenTheWindowShrinks) {
    open();
    ASSERT_TRUE(viewLoaded());
    editor->resizeBody(1000, 800);
    view->openJob(synthPlan("INSTALL"), false, {});
    view->openAccount();
    std::vector<lumo::gui::Widget*> popups = {window(), view->openAccountWindow()};
    const std::pair<int, int> places[] = {{0, 0}, {780, 500}, {900, 700}, {-100, 300}};
    for (const auto& [x, y] : places)
        for (lumo::gui::Widget* w : popups) {
            SCOPED_TRACE(testing::Message() << w->name << " at " << x << "," << y);
            editor->resizeBody(1000, 800);
            editor->movePopup(w, x, y);
            editor->resizeBody(view->minimumWidth(), view->pageHeight());
            const lumo::gui::Rect b = w->bounds;
            EXPECT_TRUE(b.x >= 0 && b.y >= 0 && b.x + b.w <= editor->logicalWidth() && b.y + b.h <= editor->logicalHeight())
                << testsupport::str(b);
        }
}

}  // namespace
