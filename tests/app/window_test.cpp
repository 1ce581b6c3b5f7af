// The program in a real window on the X server (the test command runs the suite under xvfb-run),
// driven with xdotool as a user would: install a plug-in from its row pill and confirm in the job
// window, update one, remove one, and the manager's own update with the new version started. Where
// each control lies is read from a twin of the window: the same editor made in this process from
// the same command line and the same disk, headless, clicked in step with the real one. The
// window's loop is pinged all along; a ping waiting over 2 s fails the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "app/harness.h"
#include "app/host.h"
#include "engine/apps.h"
#include "engine/atomic_write.h"
#include "gui/draw/png_write.h"
#include "gui/ui_queue.h"
#include "manager/model/log.h"
#include "manager/windows/job_window.h"
#include "manager/model/model.h"
#include "manager/model/pictures.h"
#include "manager/view/view.h"
#include "platform/platform.h"
#include "tests/app/app_support.h"
#include "tests/app/x11_probe.h"
#include "tests/support/ctest_display.h"
#include "tests/support/lock_holder.h"
#include "tests/support/temp_home.h"

namespace {

namespace fs = std::filesystem;
using apptest::Demo;

constexpr const char* kSize = "564x720";  // every demo row in sight

// The window made in this process from the same words, headless (harness mode changes nothing on disk).
struct Twin {
    tqapp::StandaloneHost host;
    std::unique_ptr<lumo::gui::Editor> editor;

    explicit Twin(std::vector<std::string> words) {
        words.push_back("--dump-tree");
        std::vector<const char*> argv;
        for (const std::string& w : words) argv.push_back(w.c_str());
        lumo::storeStandaloneArgs(int(argv.size()), argv.data());
        editor = tqapp::createManagerEditor(host);
        host.editor = editor.get();
        tqapp::EntryOptions o;
        tqapp::parseSize(kSize, o.width, o.height);
        tqapp::applyEntryOptions(*editor, o);
        editor->drainPosted();
    }
    tqapp::ManagerView& view() {
        return *dynamic_cast<tqapp::ManagerView*>(editor->findByName("manager", nullptr, nullptr));
    }
    // The display line of the row with this name; -1 when it is not listed.
    int line(const std::string& name) {
        tqapp::ManagerView& v = view();
        for (size_t i = 0; i < v.displayList().size(); ++i)
            if (v.displayList()[i] >= 0 && v.model()->rows[size_t(v.displayList()[i])].name == name) return int(i);
        return -1;
    }
    // The rectangle of a hit name (an item of a widget), in window pixels; false when there is none.
    bool rect(const std::string& name, lumo::gui::Rect& r) {
        int count = 0;
        return editor->findByName(("item:" + name).c_str(), &count, &r) && count > 0;
    }
    // Its centre.
    bool centre(const std::string& name, int& x, int& y) {
        lumo::gui::Rect r;
        if (!rect(name, r)) return false;
        x = r.x + r.w / 2;
        y = r.y + r.h / 2;
        return true;
    }
    // Whether the real window shows what the twin paints in the rectangle (colours only).
    bool sameIn(const lumo::gui::Canvas& real, const lumo::gui::Rect& r) {
        lumo::gui::Canvas painted;
        editor->paint(painted);
        for (int y = r.y; y < r.y + r.h; ++y)
            for (int x = r.x; x < r.x + r.w; ++x) {
                const bool in = x >= 0 && y >= 0 && x < real.width && y < real.height && x < painted.width &&
                                y < painted.height;
                if (!in || ((real.pixels[size_t(y) * size_t(real.width) + size_t(x)] ^
                             painted.pixels[size_t(y) * size_t(painted.width) + size_t(x)]) & 0xFFFFFFu))
                    return false;
            }
        return true;
    }
    void click(int x, int y) {
        editor->mouseMove(x, y, false, false, false);
        editor->mouseDown(x, y, lumo::gui::kButtonLeft, false, false, false, false);
        editor->mouseUp(x, y, lumo::gui::kButtonLeft);
        editor->drainPosted();
    }
    // Puts the twin's job window into the given state, to read where that state's buttons lie.
    void jobState(tqapp::JobWindow::State state) {
        if (auto* w = dynamic_cast<tqapp::JobWindow*>(editor->findByName("job", nullptr, nullptr))) w->state = state;
    }
};

bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Clicks the name in the real window (xdotool) and, unless it starts something (a job, a restart)
// that only the real window may do, in the twin.
::testing::AssertionResult clickBoth(Twin& twin, Window window, const std::string& name) {
    int x = 0, y = 0;
    if (!twin.centre(name, x, y)) return ::testing::AssertionFailure() << "no " << name << " in the window";
    // A popup takes no press in its first moment: a user looks at it before clicking in it.
    const char* pause = name.rfind("job:", 0) == 0 ? " sleep 0.5" : " sleep 0.1";
    const std::string cmd = "xdotool mousemove --window " + std::to_string(window) + " " + std::to_string(x) +
                            " " + std::to_string(y) + pause + " click 1";
    if (std::system(cmd.c_str()) != 0) return ::testing::AssertionFailure() << "xdotool failed: " << cmd;
    if (name.rfind("job:", 0) != 0) twin.click(x, y);
    return ::testing::AssertionSuccess();
}

bool waitFor(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return done();
}

std::string receipt(const Demo& demo) { return testsupport::readFile(demo.root() + "/data/installed.json"); }
std::string managerLog(const Demo& demo) { return testsupport::readFile(tqapp::logPath(demo.root() + "/data")); }

// How many catalog loads the manager's log records.
int loadsLogged(const Demo& demo) {
    const std::string log = managerLog(demo);
    int n = 0;
    for (size_t at = log.find("  catalog "); at != std::string::npos; at = log.find("  catalog ", at + 1)) ++n;
    return n;
}

// The demo's words at the tests' window size; its home becomes HOME.
std::vector<std::string> sizedWords(const Demo& demo, const std::string& program = apptest::kProgram) {
    ::setenv("HOME", demo.home().c_str(), 1);
    std::vector<std::string> words = demo.args(program);
    words.insert(words.end(), {"--size", kSize});
    return words;
}

// How many jobs have ended, by the manager's log: a job's last line, written once every file and
// the receipt are in place, says how it ended. A job's own lines are indented once after the stamp.
int jobsEnded(const Demo& demo) {
    std::istringstream in(managerLog(demo));
    int n = 0;
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find("    ");
        const std::string text = at == std::string::npos ? "" : line.substr(at + 4);
        n += text == "done" || text == "cancelled" || text.rfind("failed: ", 0) == 0;
    }
    return n;
}

class AppWindow : public ::testing::Test {
protected:
    void SetUp() override {
        // The probe finds the program's windows on the display the test was given, or none.
        LUMO_NEED_DISPLAY(probe.name());
        if (!haveTool("xdotool")) GTEST_SKIP() << "skipped: xdotool is not installed";
    }
    // Starts the program on the words, finds its window and starts pinging it.
    Window start(const std::vector<std::string>& words, const std::string& home, const std::string& log,
                 std::vector<std::string> env = {}) {
        // The manager restarted after its own update comes up on the maker's server: a proxy that
        // refuses at once keeps it off the network. The test programs' leak suppressions are not its.
        env.insert(env.end(), {"https_proxy=http://127.0.0.1:9", "http_proxy=http://127.0.0.1:9", "LSAN_OPTIONS="});
        child = std::make_unique<apptest::Child>(words, home, log, env);
        const Window w = probe.windowOf(child->pid, 20);
        if (w) probe.startPings(w);
        return w;
    }
    // A catalog load after the first `loads` is in the manager's log, and the window's loop has been
    // round since.
    bool loadShown(const Demo& demo, int loads = 0) {
        return waitFor([&] { return loadsLogged(demo) > loads; }, 30) && loopWentRound(20);
    }
    // The window's loop has been round whole since now (pings running): two answers to pings sent
    // from now, after one that may have been on its way.
    bool loopWentRound(double seconds) {
        const int from = probe.answers();
        return waitFor([&] { return probe.answers() >= from + 3; }, seconds);
    }
    void TearDown() override {
        probe.stopPings();
        if (child) child->stop();
        EXPECT_LT(probe.longestGap(), 2.0) << "the window did not answer for " << probe.longestGap() << " s";
    }

    // The real window as the server shows it, into <build>/pictures/app for a person to look at.
    void shoot(Window w, const std::string& name) {
        loopWentRound(10);  // the click's repaint
        const std::string dir = std::string(LUMO_PICTURE_DIR) + "/app";
        std::filesystem::create_directories(dir);
        std::string error;
        const std::string png = lumo::gui::encodePng(probe.capture(w));
        if (!png.empty()) tqm::writeFileAtomic(dir + "/" + name, png, 0666, false, error);
    }

    // The start after a job cut off past its VST3 copy records it, says in the log and the status
    // line (as a twin reading the same note draws it) that CLAP is missing, and its row installs it.
    void startAfterACutOffJob(const Demo& demo, const std::vector<std::string>& words) {
        const std::string note = demo.root() + "/data/job-unfinished.txt", noted = testsupport::readFile(note);
        const Window window = start(words, demo.home(), demo.dir + "/log-2.txt");
        ASSERT_TRUE(window && loadShown(demo, 1)) << child->output() << managerLog(demo);
        for (const char* line : {"  recorded cobalt-compressor vst3 1.1.0 at ", "left undone: install cobalt-compressor clap"})
            EXPECT_NE(managerLog(demo).find(line), std::string::npos) << managerLog(demo);
        ASSERT_TRUE(!fs::exists(note) && testsupport::writeFile(note, noted));
        Twin twin(words);
        EXPECT_EQ(twin.view().model()->note, "The last job was cut off: Cobalt Compressor CLAP not installed");
        const lumo::gui::Rect status = twin.view().mapRect(tqapp::layoutRect((*twin.view().managerLayout())["status_text"]));
        EXPECT_TRUE(waitFor([&] { return twin.sameIn(probe.capture(window), status); }, 10)) << "the status line differs";
        ASSERT_TRUE(clickBoth(twin, window, "rowpill:" + std::to_string(twin.line("Cobalt Compressor"))));
        ASSERT_TRUE(clickBoth(twin, window, "job:go") && waitFor([&] { return jobsEnded(demo) == 1; }, 30));
        EXPECT_TRUE(fs::is_directory(demo.root() + "/CLAP/Ardune Systems/Cobalt Compressor.clap")) << managerLog(demo);
    }

    apptest::X11Probe probe;
    std::unique_ptr<apptest::Child> child;
};

TEST_F(AppWindow, InstallUpdateAndRemoveByClicks) {
    Demo demo("window");
    ASSERT_TRUE(demo.ok()) << demo.error;
    const std::vector<std::string> words = sizedWords(demo);
    const Window window = start(words, demo.home(), demo.dir + "/window-log.txt");
    ASSERT_NE(window, 0u) << "no window: " << child->output();
    const std::string vst3 = demo.root() + "/VST3/Ardune Systems/";
    const std::string clap = demo.root() + "/CLAP/Ardune Systems/";

    // 1. Install: the row pill of a plug-in that is not installed, then the job window's button.
    {
        Twin twin(words);
        const int line = twin.line("Cobalt Compressor");
        ASSERT_GE(line, 0);
        ASSERT_TRUE(clickBoth(twin, window, "rowpill:" + std::to_string(line)));
        shoot(window, "window-install-asked.png");
        ASSERT_TRUE(clickBoth(twin, window, "job:go"));
        ASSERT_TRUE(waitFor([&] { return jobsEnded(demo) == 1; }, 30)) << child->output() << managerLog(demo);
        EXPECT_NE(receipt(demo).find("cobalt-compressor"), std::string::npos) << managerLog(demo);
        // Both formats the row offers here are ticked at first.
        EXPECT_EQ(tqm::bundleVersion(vst3 + "Cobalt Compressor.vst3"), "1.1.0");
        EXPECT_EQ(tqm::bundleVersion(clap + "Cobalt Compressor.clap"), "1.1.0");
        shoot(window, "window-install-done.png");
        twin.jobState(tqapp::JobWindow::Done);
        ASSERT_TRUE(clickBoth(twin, window, "job:close"));
    }
    // 2. Update: the older Vellum Reverb, both formats, to the catalog's version.
    {
        Twin twin(words);
        const int line = twin.line("Vellum Reverb");
        ASSERT_GE(line, 0);
        ASSERT_TRUE(clickBoth(twin, window, "rowpill:" + std::to_string(line)));
        ASSERT_TRUE(clickBoth(twin, window, "job:go"));
        ASSERT_TRUE(waitFor([&] { return jobsEnded(demo) == 2; }, 30)) << child->output() << managerLog(demo);
        EXPECT_EQ(tqm::bundleVersion(vst3 + "Vellum Reverb.vst3"), "1.3.0");
        EXPECT_EQ(tqm::bundleVersion(clap + "Vellum Reverb.clap"), "1.3.0");
        EXPECT_NE(receipt(demo).find("\"version\": \"1.3.0\""), std::string::npos);
        twin.jobState(tqapp::JobWindow::Done);
        ASSERT_TRUE(clickBoth(twin, window, "job:close"));
    }
    // 3. Remove: select the installed Ember Drive; its main button removes it.
    {
        Twin twin(words);
        const int line = twin.line("Ember Drive");
        ASSERT_GE(line, 0);
        ASSERT_TRUE(clickBoth(twin, window, "row:" + std::to_string(line)));
        ASSERT_TRUE(clickBoth(twin, window, "main_pill"));
        ASSERT_TRUE(clickBoth(twin, window, "job:go"));
        ASSERT_TRUE(waitFor([&] { return jobsEnded(demo) == 3; }, 30)) << child->output() << managerLog(demo);
        EXPECT_FALSE(fs::exists(clap + "Ember Drive.clap"));
        EXPECT_EQ(receipt(demo).find("ember-drive"), std::string::npos);
    }
    EXPECT_TRUE(child->running()) << child->output();
}

TEST_F(AppWindow, UpdatesItselfAndTheNewVersionStarts) {
    // The old version starts the new one and ends: this process, as the closest reaper, takes it on
    // and finds it among its children, not by its path (another run's copy may lie there).
    apptest::Reaper reaper;
    ASSERT_TRUE(reaper.ok());
    // A copy of the program's bundle, so the build's own stays as it is.
    Demo demo("self", apptest::kBundle);
    ASSERT_TRUE(demo.ok()) << demo.error;
    const std::string bundle = demo.dir + "/Applications/Ardune Systems Manager.app";
    std::error_code ec;
    fs::create_directories(fs::path(bundle).parent_path(), ec);
    fs::copy(apptest::kBundle, bundle, fs::copy_options::recursive, ec);
    ASSERT_FALSE(ec) << ec.message();
    const std::string program = bundle + "/Contents/MacOS/ardune-manager";
    const std::string before = tqm::bundleVersion(bundle);
    ASSERT_EQ(before, tqapp::kVersion);
    const std::vector<std::string> words = sizedWords(demo, program);
    const Window window = start(words, demo.home(), demo.dir + "/self-log.txt");
    ASSERT_NE(window, 0u) << "no window: " << child->output();

    // The first load offers the newer manager in the job window: update, then restart.
    // The real window has recorded the offer by now, so the twin opens the same window itself.
    Twin twin(words);
    if (!twin.editor->findByName("job", nullptr, nullptr)) twin.view().openSelfUpdate();
    twin.editor->drainPosted();
    ASSERT_TRUE(clickBoth(twin, window, "job:go")) << "no update offered";
    const std::string next = demo::nextVersion(tqapp::kVersion);
    EXPECT_TRUE(waitFor([&] { return tqm::bundleVersion(bundle) == next; }, 60)) << child->output();
    twin.jobState(tqapp::JobWindow::Done);
    probe.stopPings();  // the old window goes away on restart
    const int loads = loadsLogged(demo);
    ASSERT_TRUE(clickBoth(twin, window, "job:restart"));
    EXPECT_EQ(child->wait(20), 0) << child->output();

    // The new instance runs from the replaced bundle.
    pid_t restarted = -1;
    ASSERT_TRUE(waitFor([&] { return (restarted = reaper.childRunning(program)) > 0; }, 20))
        << "no new manager runs from " << program;
    child = std::make_unique<apptest::Child>(restarted);  // stopped and waited for at the end
    const Window again = probe.windowOf(restarted, 20);
    ASSERT_NE(again, 0u) << "the new version opened no window";
    probe.startPings(again);
    ASSERT_TRUE(loadShown(demo, loads)) << managerLog(demo);

    // It knows itself as the new version: its settings window says so, as the same window of a
    // manager of that version draws it (and it offers no update to the version it is).
    Twin fresh(words);
    fresh.view().model()->config.version = next;
    ASSERT_TRUE(clickBoth(fresh, again, "account"));
    lumo::gui::Rect account;
    ASSERT_TRUE(fresh.editor->findByName("account", nullptr, &account)) << "the twin opened no settings window";
    ASSERT_TRUE(loopWentRound(20));
    EXPECT_TRUE(fresh.sameIn(probe.capture(again), account)) << "the restarted manager does not say it is " << next;
    shoot(again, "window-restarted-settings.png");
}

}  // namespace

namespace {

// Where the server shows a top-level window: its outer rectangle on the root window.
struct Placed {
    int x = 0, y = 0, w = 0, h = 0, screenW = 0, screenH = 0;
};
bool placed(Window w, Placed& out) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    XWindowAttributes a;
    Window child;
    bool ok = XGetWindowAttributes(d, w, &a) &&
              XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &out.x, &out.y, &child);
    out.w = a.width;
    out.h = a.height;
    out.screenW = DisplayWidth(d, DefaultScreen(d));
    out.screenH = DisplayHeight(d, DefaultScreen(d));
    XCloseDisplay(d);
    return ok;
}

// A size kept from a far larger screen opens a window that lies wholly on this one, its title bar
// in reach; the size is the screen's, not the minimum.
TEST_F(AppWindow, AStoredSizeLargerThanTheScreenOpensWithinIt) {
    Demo demo("huge");
    ASSERT_TRUE(demo.ok()) << demo.error;
    ::setenv("HOME", demo.home().c_str(), 1);
    testsupport::writeFile(demo.root() + "/data/window.txt", "5000 4000\n");
    const Window window = start(demo.args(), demo.home(), demo.dir + "/huge-log.txt");
    ASSERT_NE(window, 0u) << "no window: " << child->output();
    Placed p;
    ASSERT_TRUE(placed(window, p));
    EXPECT_TRUE(p.x >= 0 && p.y >= 0 && p.x + p.w <= p.screenW && p.y + p.h <= p.screenH && p.w > p.screenW / 2)
        << p.w << " x " << p.h << " at " << p.x << "," << p.y;
    shoot(window, "window-huge-stored-size.png");
}

// A job window that opens under a click already on its way (both clicks queued while the program
// was held) does not take that click: nothing installs until a click made after it is there.
TEST_F(AppWindow, APopupOpeningUnderAPendingClickDoesNotTakeIt) {
    Demo demo("pending");
    ASSERT_TRUE(demo.ok()) << demo.error;
    const std::vector<std::string> words = sizedWords(demo);
    const Window window = start(words, demo.home(), demo.dir + "/pending-log.txt");
    ASSERT_NE(window, 0u) << "no window: " << child->output();
    ASSERT_TRUE(loadShown(demo)) << child->output() << managerLog(demo);

    Twin twin(words);
    const int line = twin.line("Cobalt Compressor");
    ASSERT_GE(line, 0);
    int px = 0, py = 0, gx = 0, gy = 0;
    ASSERT_TRUE(twin.centre("rowpill:" + std::to_string(line), px, py));
    twin.click(px, py);
    ASSERT_TRUE(twin.centre("job:go", gx, gy)) << "the twin opened no job window";

    // The program holds still while the pill and then the job window's button are clicked.
    probe.stopPings();
    ASSERT_EQ(::kill(child->pid, SIGSTOP), 0);
    const std::string w = std::to_string(window);
    const std::string cmd = "xdotool mousemove --window " + w + " " + std::to_string(px) + " " + std::to_string(py) +
                            " click 1 mousemove --window " + w + " " + std::to_string(gx) + " " +
                            std::to_string(gy) + " click 1";
    const int clicked = std::system(cmd.c_str());
    ::kill(child->pid, SIGCONT);
    probe.startPings(window);
    ASSERT_EQ(clicked, 0) << cmd;
    // Both clicks were handled once the loop has been round; a job would have said so in the log.
    ASSERT_TRUE(loopWentRound(20));
    EXPECT_EQ(managerLog(demo).find("job: "), std::string::npos) << "the pending click started the job";
    shoot(window, "window-pending-click.png");

    // The same button clicked once the window is up installs: the click was aimed right.
    ASSERT_TRUE(clickBoth(twin, window, "job:go"));
    EXPECT_TRUE(waitFor([&] { return receipt(demo).find("cobalt-compressor") != std::string::npos; }, 30))
        << child->output();
}

// Every cached picture zeroed at its size, as a power cut leaves unflushed files: a start in a real
// window fetches again the row pictures it reads, and each row shows its picture.
TEST_F(AppWindow, ZeroedPicturesInTheCacheComeBackInTheRows) {
    Demo demo("zeroed-pictures");
    ASSERT_TRUE(demo.ok()) << demo.error;
    const std::string cache = tqapp::art::cacheDir(demo.root() + "/data") + "/art/", source = demo.source() + "/art/";
    const std::string listed = testsupport::readFile(demo.source() + "/catalog.json");
    std::vector<std::string> rowPictures;  // of the catalog's rows at 1x, which every look reads
    for (const fs::directory_entry& f : fs::directory_iterator(source)) {
        const std::string name = f.path().filename().string();
        ASSERT_TRUE(testsupport::writeFile(cache + name, std::string(f.file_size(), '\0')));
        if (name.find("-row@1x.") != std::string::npos && listed.find("art/" + name) != std::string::npos)
            rowPictures.push_back(name);
    }
    ASSERT_FALSE(rowPictures.empty());
    const std::vector<std::string> words = sizedWords(demo);
    const Window window = start(words, demo.home(), demo.dir + "/zeroed-log.txt");
    ASSERT_NE(window, 0u) << "no window: " << child->output();
    ASSERT_TRUE(waitFor([&] {
        return std::ranges::all_of(rowPictures, [&](const std::string& name) {
            return testsupport::readFile(cache + name) == testsupport::readFile(source + name);
        });
    }, 30)) << child->output() << managerLog(demo);

    // Each row's picture as the same window made here draws it, found in what the real one shows.
    Twin twin(words);
    lumo::gui::Canvas painted;
    twin.editor->paint(painted);
    std::vector<lumo::gui::Bitmap> shown;
    for (size_t i = 0; i < twin.view().model()->rows.size(); ++i)
        if (const lumo::gui::Bitmap* b = twin.view().rowPicture(i, 1.5)) shown.push_back(*b);
    ASSERT_EQ(shown.size(), rowPictures.size());
    const auto at = [](const lumo::gui::Canvas& c, const lumo::gui::Bitmap& b, int x, int y) {
        for (int by = 0; by < b.h; ++by)
            for (int bx = 0; bx < b.w; ++bx)
                if ((c.pixels[size_t(y + by) * size_t(c.width) + size_t(x + bx)] ^ b.pixels[size_t(by * b.w + bx)]) & 0xFFFFFFu)
                    return false;  // the colour differs; alpha aside
        return true;
    };
    EXPECT_TRUE(waitFor([&] {
        const lumo::gui::Canvas c = probe.capture(window);
        return std::ranges::all_of(shown, [&](const lumo::gui::Bitmap& b) {
            for (int y = 0; y + b.h <= c.height; ++y)
                for (int x = 0; x + b.w <= c.width; ++x)
                    if (at(c, b, x, y)) return true;
            return false;
        });
    }, 10)) << "a row's picture is not on screen";
}

// Another copy of the manager on the same folders updates a plug-in: once the window has the focus
// again, its rows and its status line are drawn as a window opened afresh draws them. What the line
// says and which marks a row keeps are the view's tests; here, that the focus reaches the model
// through the window layer, and that the window draws what the model then holds.
TEST_F(AppWindow, FocusComingBackDrawsWhatAnotherCopyChanged) {
    Demo demo("focus");
    ASSERT_TRUE(demo.ok()) << demo.error;
    const std::vector<std::string> words = sizedWords(demo);
    const Window window = start(words, demo.home(), demo.dir + "/focus-log.txt");
    ASSERT_NE(window, 0u) << "no window: " << child->output();
    ASSERT_TRUE(loadShown(demo)) << child->output() << managerLog(demo);

    // Another copy updates Vellum Reverb, both formats: one update fewer on the status line.
    tqapp::Config config;
    config.layout.root = demo.root();
    config.source = demo.source();
    config.pub = demo.pub();
    config.harness = true;
    auto queue = std::make_shared<lumo::gui::UiQueue>();
    tqapp::Model other(config, queue, nullptr);
    other.start();
    other.run({{"install", "vellum-reverb", "vst3"}, {"install", "vellum-reverb", "clap"}}, "Other", "Done");
    ASSERT_TRUE(waitFor([&] {
        for (auto& task : queue->take()) task();
        return !other.busy;
    }, 30));
    ASSERT_TRUE(other.ok) << other.note;

    // The pointer out of the window, as the window is compared with a fresh one's row and line.
    ASSERT_EQ(std::system("xdotool mousemove 1270 1010"), 0);
    Twin fresh(words);
    const int line = fresh.line("Vellum Reverb");
    ASSERT_GE(line, 0);
    lumo::gui::Rect row, status;
    ASSERT_TRUE(fresh.rect("row:" + std::to_string(line), row));
    // The status line takes no click here (no update of the manager offered): its box, as painted.
    const tqapp::ManagerView& view = fresh.view();
    status = view.mapRect(tqapp::layoutRect((*view.managerLayout())["status_text"]));
    ASSERT_TRUE(loopWentRound(20));
    const lumo::gui::Canvas before = probe.capture(window);
    EXPECT_FALSE(fresh.sameIn(before, row)) << "the row showed the other copy's update before the focus came back";
    EXPECT_FALSE(fresh.sameIn(before, status)) << "the status line changed before the focus came back";

    // Focus leaves the window and comes back.
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    XSetInputFocus(d, PointerRoot, RevertToNone, CurrentTime);
    XSync(d, False);
    ASSERT_TRUE(loopWentRound(20));
    XSetInputFocus(d, window, RevertToParent, CurrentTime);
    XSync(d, False);
    XCloseDisplay(d);
    EXPECT_TRUE(waitFor([&] {
        const lumo::gui::Canvas c = probe.capture(window);
        return fresh.sameIn(c, row) && fresh.sameIn(c, status);
    }, 10)) << "the row or the status line is not as a fresh window draws it";
    shoot(window, "window-focus-back.png");
}

// SIGTERM during a held-up install stops the job as STOP does while it can; past that the window
// stays until the job has ended whole, past the signal's grace (shortened here), and a second signal
// ends the program at once. A failed job keeps the window, its failure shown, until it is closed again.
TEST_F(AppWindow, ASignalDuringAJobEndsItFirstInTheOpenWindow) {
    constexpr int kGraceMs = 3000;
    const struct {
        const char* lock;  // held in the data folder; the receipt's once the job has begun
        int signals;
        bool clapFails;  // the CLAP folder is made a file while the job waits
        const char* logged;
    } cases[] = {{"job.lock", 1, false, "not run: install cobalt-compressor vst3, install cobalt-compressor clap"},
                 {"installed.json.lock", 1, false, "  done"},
                 {"installed.json.lock", 1, true, "the window stays open to show the failure"},
                 {"installed.json.lock", 2, false, "waits for the job's end"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.lock) + ", signals: " + std::to_string(c.signals) + ", CLAP fails: " + std::to_string(c.clapFails));
        Demo demo("signal-in-job");
        const std::string lock = demo.root() + "/data/" + c.lock, clap = demo.root() + "/CLAP/Ardune Systems";
        ASSERT_TRUE(testsupport::writeFile(lock, "") && ::chmod(lock.c_str(), 0600) == 0);  // as the engine makes it
        testsupport::LockHolder other(lock, ::geteuid());
        const std::vector<std::string> words = sizedWords(demo);
        const Window window = start(words, demo.home(), demo.dir + "/log.txt", {"LUMO_SIGNAL_GRACE_MS=" + std::to_string(kGraceMs)});
        Twin twin(words);
        ASSERT_TRUE(clickBoth(twin, window, "rowpill:" + std::to_string(twin.line("Cobalt Compressor"))));
        ASSERT_TRUE(clickBoth(twin, window, "job:go"));
        const bool begun = c.lock != std::string("job.lock");
        const char* first = begun ? "installed " : "job: ";  // the VST3 copy in, or the job started
        ASSERT_TRUE(waitFor([&] { return managerLog(demo).find(first) != std::string::npos; }, 30));
        probe.stopPings();
        ::kill(child->pid, SIGTERM);
        // Past the grace as it would run from now (the signal, the failed job's end).
        const auto pastGrace = [&, now = std::chrono::steady_clock::now] {
            return waitFor([&, from = now()] { return now() - from > std::chrono::milliseconds(kGraceMs + 1000); }, 10);
        };
        if (begun) {
            ASSERT_TRUE(waitFor([&] { return managerLog(demo).find("job's end") != std::string::npos; }, 20) && pastGrace());
            EXPECT_NE(child->output().find("a second signal ends the program now"), std::string::npos) << child->output();
            EXPECT_NE(probe.windowOf(child->pid, 5), 0u) << "the window went before the job ended";
            ASSERT_TRUE(!c.clapFails || (fs::remove_all(clap) && testsupport::writeFile(clap, "")));
            c.signals == 2 ? void(::kill(child->pid, SIGTERM)) : other.release();
        }
        if (c.clapFails) {  // the failure stays shown until the window is closed again
            ASSERT_TRUE(waitFor([&] { return jobsEnded(demo) == 1; }, 30)) << managerLog(demo);
            probe.startPings(window);
            EXPECT_TRUE(pastGrace() && loopWentRound(20) && child->running()) << "the window closed with the failure";
            probe.stopPings();
            ASSERT_TRUE(clickBoth(twin, window, "win:close"));
        }
        EXPECT_EQ(child->wait(30), c.signals == 2 ? -1 : 0);
        EXPECT_TRUE(child->pid == -1 && child->output().find("Sanitizer") == std::string::npos) << child->output();
        EXPECT_NE(managerLog(demo).find(c.logged), std::string::npos) << managerLog(demo);
        EXPECT_EQ(fs::is_directory(clap + "/Cobalt Compressor.clap"), c.signals == 1 && begun && !c.clapFails);
        other.release();
        if (c.signals == 2) startAfterACutOffJob(demo, words);
    }
}

}  // namespace
