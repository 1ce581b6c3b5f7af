// Row actions end to end through the headless editor against the loopback server: a click on a
// row's pill opens its plan, the job window's start button (pressed with the pointer) runs it on the job
// worker, and the row shows its new state; an update refused by the engine while the app runs;
// UPDATE ALL over several rows.
#include <gtest/gtest.h>

#include <filesystem>

#include "manager/windows/job_window.h"
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
        if (view && view->model()) {
            EXPECT_TRUE(untilDone([this] { return !view->model()->busy; }));
        }
    }

    // The catalog at a version, every file of it behind the server; the window opened on the server
    // the first time.
    void publish(const std::string& version, int sequence) {
        catalog.publish(catalogText(version, sequence));
        serveFolder(server, catalog.source());
        if (view) {
            view->model()->reload();
            ASSERT_TRUE(untilDone([this] { return !view->model()->loading; }));
            return;
        }
        ASSERT_TRUE(server.ok());
        source = server.url();
        open();
        ASSERT_TRUE(viewLoaded());
        ASSERT_TRUE(view->model()->catalog->ok) << view->model()->catalog->note;
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
        for (const tqm::Row& r : view->model()->rows)
            if (r.id == id) return r;
        static const tqm::Row none;
        return none;
    }
    // The rectangle of a row's pill in the view, empty when the row shows none.
    lumo::gui::Rect pillOf(const std::string& id) const {
        for (size_t i = 0; i < view->displayList().size(); ++i) {
            const int32_t r = view->displayList()[i];
            if (r < 0 || view->model()->rows[size_t(r)].id != id) continue;
            for (const auto& [name, rect] : testsupport::hitRects(*view))
                if (name == "rowpill:" + std::to_string(i)) return rect;
        }
        return {};
    }

    // A click with the pointer through the editor at the centre of a rectangle of the view.
    void clickIn(lumo::gui::Rect r) {
        const lumo::gui::Rect at = view->absoluteBounds();
        const double s = editor->bodyScale();
        const int x = int((at.x + r.x + r.w / 2) * s), y = int((at.y + r.y + r.h / 2) * s);
        editor->mouseMove(x, y, false, false, false);
        editor->mouseDown(x, y, lumo::gui::kButtonLeft, false, false, false, false);
        editor->mouseUp(x, y, lumo::gui::kButtonLeft);
    }

    // The pill of a row, clicked.
    void pill(const std::string& id) {
        const lumo::gui::Rect r = pillOf(id);
        ASSERT_GT(r.w, 0) << id << " shows no pill";
        clickIn(r);
    }

    lumo::gui::Rect rectOf(const std::string& name) const {
        for (const auto& [n, r] : testsupport::hitRects(*view))
            if (n == name) return r;
        return {};
    }

    // A click on a part of the open job window ("go", "x", ...); false when there is no such part.
    bool press(const std::string& part) {
        JobWindow* w = view->openJobWindow();
        if (!w) return false;
        lumo::gui::WidgetInfo info;
        w->describe(info);
        for (const auto& p : info.parts)
            if (p.label == "job:" + part) {
                const int x = w->bounds.x + p.rect.x + p.rect.w / 2, y = w->bounds.y + p.rect.y + p.rect.h / 2;
                later();
                editor->mouseDown(x, y, lumo::gui::kButtonLeft, false, false, false, false);
                editor->mouseUp(x, y, lumo::gui::kButtonLeft);
                return true;
            }
        return false;
    }

    // Presses the job window's start button and waits for the job's end.
    JobWindow* start(const std::string& button) {
        JobWindow* w = view->openJobWindow();
        if (!w) return nullptr;
        EXPECT_EQ(w->buttons()[0].label, button);
        EXPECT_TRUE(press("go"));
        EXPECT_EQ(w->state, JobWindow::Running);
        EXPECT_TRUE(untilDone([&] { return w->state != JobWindow::Running && !view->model()->busy; }));
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
    EXPECT_TRUE(fs::exists(fs::path(view->model()->config.layout.formatDir("clap")) / "Synth.clap"));
    EXPECT_EQ(pillOf("synth").w, 0);
    // The main button now removes; it opens the removal of both formats.
    view->select("synth");
    clickIn(rectOf("main_pill"));
    ASSERT_NE(view->openJobWindow(), nullptr);
    EXPECT_EQ(view->openJobWindow()->plan.verb, "REMOVE");
    EXPECT_EQ(view->openJobWindow()->plan.tasks.size(), 2u);
}

// An app with an update while it runs: the engine refuses, the row keeps its update and shows its
// pill again; once the app has quit, the pill updates it.
TEST_F(ActionRoad, UpdateOfARunningAppFailsThenSucceeds) {
    publish("1.0", 1);
    view->model()->run({{"install", "studio", "app"}}, "Set-up", "Set up");
    ASSERT_TRUE(untilDone([this] { return !view->model()->busy; }));
    ASSERT_EQ(row("studio").state, tqm::State::Installed) << view->model()->note;
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
        EXPECT_NE(view->model()->note.find("Studio is running (Helper"), std::string::npos) << view->model()->note;
        EXPECT_EQ(row("studio").state, tqm::State::Update);
        EXPECT_EQ(view->model()->failed.count("studio"), 1u);
        EXPECT_GT(pillOf("studio").w, 0);
        // The user closes the window that told it.
        EXPECT_TRUE(press("x"));
        ASSERT_TRUE(untilDone([this] { return view->openJobWindow() == nullptr; }));
    }
    pill("studio");
    JobWindow* w = start("UPDATE");
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->state, JobWindow::Done) << w->error;
    EXPECT_EQ(row("studio").state, tqm::State::Installed);
    EXPECT_EQ(row("studio").version, "1.1");
    EXPECT_EQ(pillOf("studio").w, 0);
}

// UPDATE ALL over two plug-ins and the app: one job, every row current afterwards.
TEST_F(ActionRoad, UpdateAllBringsEveryRowUpToDate) {
    publish("1.0", 1);
    view->model()->run({{"install", "synth", "vst3"}, {"install", "delay", "vst3"}, {"install", "studio", "app"}},
                     "Set-up", "Set up");
    ASSERT_TRUE(untilDone([this] { return !view->model()->busy; }));
    publish("1.1", 2);
    ASSERT_EQ(view->model()->updates(), 3);
    clickIn(rectOf("update_all"));
    ASSERT_NE(view->openJobWindow(), nullptr);
    EXPECT_EQ(view->openJobWindow()->plan.jobTitle, "Updating 3 items");
    JobWindow* w = start("UPDATE");
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->state, JobWindow::Done) << w->error;
    for (const char* id : {"synth", "delay", "studio"}) EXPECT_EQ(row(id).state, tqm::State::Installed) << id;
    view->updateAll();
    EXPECT_EQ(view->model()->note, "Everything is up to date");
}

}  // namespace
