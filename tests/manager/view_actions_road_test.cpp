// Row actions end to end through the headless editor against the loopback server: a row's pill
// opens its plan, the job window's start button (pressed with the pointer) runs it on the job
// worker, and the row shows its new state; an update refused by the engine while the app runs;
// UPDATE ALL over several rows.
#include <gtest/gtest.h>

#include <filesystem>

#include "manager/job_window.h"
#include "tests/manager/view_fixture.h"
#include "tests/support/running_copy.h"

using namespace testsupport;
using tqapp::JobWindow;
namespace fs = std::filesystem;

namespace {

class ActionRoad : public ViewTest {
protected:
    void TearDown() override {
        // No job worker may outlive the server or the test's folders.
        if (view && view->model) {
            EXPECT_TRUE(untilDone([this] { return !view->model->busy; }));
        }
    }

    // The catalog at a version, every file of it behind the server; the window opened on the server
    // the first time.
    void publish(const std::string& version, int sequence) {
        catalog.publish(catalogText(version, sequence));
        std::error_code ec;
        const fs::path root = catalog.source();
        for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            if (it->is_regular_file())
                server.serveFile(fs::relative(it->path(), root).string(), readFile(it->path().string()));
        if (view) {
            view->model->reload();
            ASSERT_TRUE(untilDone([this] { return !view->model->loading; }));
            return;
        }
        ASSERT_TRUE(server.ok());
        source = server.url();
        open();
        ASSERT_TRUE(viewLoaded());
        ASSERT_TRUE(view->model->catalog->ok) << view->model->catalog->note;
    }

    // Editor ticks and paints (the window's clock, posted closures, retired popups) until done().
    bool untilDone(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (!done()) {
            editor->tick();
            editor->paint(canvas);
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    const tqm::Row& row(const std::string& id) const {
        for (const tqm::Row& r : view->model->rows)
            if (r.id == id) return r;
        static const tqm::Row none;
        return none;
    }
    // The hit name of a row's pill, empty when the row shows none.
    std::string pillOf(const std::string& id) const {
        for (size_t i = 0; i < view->displayList.size(); ++i) {
            const int32_t r = view->displayList[i];
            if (r < 0 || view->model->rows[size_t(r)].id != id) continue;
            const std::string name = "rowpill:" + std::to_string(i);
            for (const auto& [n, rect] : view->hitRects())
                if (n == name) return name;
        }
        return {};
    }

    // The pill of a row: its hit name is in the window, and its click runs the row action.
    void pill(const std::string& id) {
        ASSERT_FALSE(pillOf(id).empty()) << id << " shows no pill";
        view->rowAction(row(id));
    }

    // Presses the job window's start button with the pointer and waits for the job's end.
    JobWindow* start(const std::string& button) {
        JobWindow* w = view->openJobWindow();
        if (!w) return nullptr;
        lumo::gui::WidgetInfo info;
        w->describe(info);
        for (const auto& p : info.parts)
            if (p.label == "job:go") {
                EXPECT_EQ(w->buttons()[0].label, button);
                const int x = w->bounds.x + p.rect.x + p.rect.w / 2, y = w->bounds.y + p.rect.y + p.rect.h / 2;
                editor->mouseDown(x, y, lumo::gui::kButtonLeft, false, false, false, false);
                editor->mouseUp(x, y, lumo::gui::kButtonLeft);
            }
        EXPECT_EQ(w->state, JobWindow::Running);
        EXPECT_TRUE(untilDone([&] { return w->state != JobWindow::Running && !view->model->busy; }));
        return w;
    }

    LoopbackServer server;
    lumo::gui::Canvas canvas;
};

// A plug-in not installed: its pill installs every format, the row turns installed and loses its pill.
TEST_F(ActionRoad, PillInstallsAndTheRowShowsIt) {
    publish("1.0", 1);
    ASSERT_EQ(row("synth").state, tqm::State::Absent);
    pill("synth");
    JobWindow* w = start("INSTALL");
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->state, JobWindow::Done) << w->error;
    EXPECT_EQ(row("synth").state, tqm::State::Installed);
    EXPECT_TRUE(row("synth").formats.at("vst3").present);
    EXPECT_TRUE(row("synth").formats.at("clap").present);
    EXPECT_TRUE(fs::exists(fs::path(view->model->config.layout.formatDir("clap")) / "Synth.clap"));
    EXPECT_EQ(pillOf("synth"), "");
    // The main button now offers what an installed row offers.
    view->selectedId = "synth";
    EXPECT_EQ(view->mainAction().verb, "remove");
}

// An app with an update while it runs: the engine refuses, the row keeps its update and shows its
// pill again; once the app has quit, the pill updates it.
TEST_F(ActionRoad, UpdateOfARunningAppFailsThenSucceeds) {
    publish("1.0", 1);
    view->model->run({{"install", "studio", "app"}}, "Set-up", "Set up");
    ASSERT_TRUE(untilDone([this] { return !view->model->busy; }));
    ASSERT_EQ(row("studio").state, tqm::State::Installed) << view->model->note;
    const std::string app = view->appDir(row("studio"));
    publish("1.1", 2);
    ASSERT_EQ(row("studio").state, tqm::State::Update);
    {
        RunningCopy running(app + "/Contents/MacOS/Helper");
        ASSERT_GT(running.pid, 0);
        pill("studio");
        JobWindow* w = start("UPDATE");
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->state, JobWindow::Failed);
        EXPECT_NE(view->model->note.find("Studio is running (Helper"), std::string::npos) << view->model->note;
        EXPECT_EQ(row("studio").state, tqm::State::Update);
        EXPECT_EQ(view->model->failed.count("studio"), 1u);
        EXPECT_NE(pillOf("studio"), "");
    }
    pill("studio");
    JobWindow* w = start("UPDATE");
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->state, JobWindow::Done) << w->error;
    EXPECT_EQ(row("studio").state, tqm::State::Installed);
    EXPECT_EQ(row("studio").version, "1.1");
    EXPECT_EQ(pillOf("studio"), "");
}

// UPDATE ALL over two plug-ins and the app: one job, every row current afterwards.
TEST_F(ActionRoad, UpdateAllBringsEveryRowUpToDate) {
    publish("1.0", 1);
    view->model->run({{"install", "synth", "vst3"}, {"install", "delay", "vst3"}, {"install", "studio", "app"}},
                     "Set-up", "Set up");
    ASSERT_TRUE(untilDone([this] { return !view->model->busy; }));
    publish("1.1", 2);
    ASSERT_EQ(view->model->updates(), 3);
    view->updateAll();
    ASSERT_NE(view->openJobWindow(), nullptr);
    EXPECT_EQ(view->openJobWindow()->plan.jobTitle, "Updating 3 items");
    JobWindow* w = start("UPDATE");
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->state, JobWindow::Done) << w->error;
    for (const char* id : {"synth", "delay", "studio"}) EXPECT_EQ(row(id).state, tqm::State::Installed) << id;
    view->updateAll();
    EXPECT_EQ(view->model->note, "Everything is up to date");
}

}  // namespace
