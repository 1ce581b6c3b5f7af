// "settings.txt" and "window.txt": read, written and restored; values that would make a second
// key refused; lines we do not know kept; the window widened to fit names in layout units; the
// scope change; the system's opener reaped.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "gui/host.h"
#include "manager/model/settings_file.h"
#include "tests/manager/view_fixture.h"
#include "tests/support/lock_holder.h"
#include "tests/support/processes.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

// True when no temporary of a whole-file write ("<name>.<tag>.tmp") stands beside the file.
bool noTemporaryBeside(const std::string& file) {
    const std::filesystem::path f(file);
    for (const std::string& n : testsupport::entryNames(f.parent_path().string()))
        if (n.rfind(f.filename().string() + ".", 0) == 0 && n.size() > 4 && n.compare(n.size() - 4, 4, ".tmp") == 0)
            return false;
    return true;
}

ino_t inode(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class ViewSettings : public ViewTest {
protected:
    std::string settings() const { return userData() + "/settings.txt"; }
    std::string sizeFile() const { return userData() + "/window.txt"; }
};

TEST_F(ViewSettings, SetSettingKeepsOtherLinesAndReplacesTheKey) {
    open({"--steps"});
    EXPECT_EQ(view->settingsFile(), settings());
    EXPECT_EQ(view->sizeFile(), sizeFile());
    EXPECT_EQ(view->setting("scope"), "");  // no file yet

    writeFile(settings(), "scope=user\nfolder.vst3=/a\n\nnot a setting\nscope=system\ninstall_offered=1\nscope\n");
    EXPECT_EQ(view->setting("scope"), "user");  // the first line of the key
    EXPECT_EQ(view->setting("offered"), "");    // a key is never found inside a longer one
    EXPECT_EQ(view->setting("install_offered"), "1");
    EXPECT_TRUE(view->setSetting("scope", "system"));
    EXPECT_EQ(readFile(settings()), "folder.vst3=/a\nnot a setting\ninstall_offered=1\nscope\nscope=system\n");
    EXPECT_TRUE(view->setSetting("offered", "1.2.0"));
    EXPECT_EQ(view->setting("offered"), "1.2.0");
    EXPECT_EQ(view->setting("install_offered"), "1");
    EXPECT_TRUE(noTemporaryBeside(settings()));

    // A line break in a value (or a key) would plant a second key: refused, the file untouched.
    const std::string before = readFile(settings());
    struct Bad {
        std::string key, value;
    };
    const Bad bad[] = {{"folder.vst3", "/x\nscope=system"}, {"folder.vst3", "/x\rscope=user"},
                       {"folder.clap", "\n"},               {"a\nb", "1"},
                       {"a=b", "1"}};
    for (const Bad& b : bad) EXPECT_FALSE(view->setSetting(b.key, b.value)) << b.value;
    EXPECT_EQ(readFile(settings()), before);

    // A value may hold "=" and blanks; it reads back whole.
    EXPECT_TRUE(view->setSetting("folder.au", "/My Plug-Ins/a=b"));
    EXPECT_EQ(view->setting("folder.au"), "/My Plug-Ins/a=b");
}

// A file with CRLF line ends (written elsewhere) reads as the same settings; one "\r" is dropped.
TEST_F(ViewSettings, CrlfLineEndsReadAsTheSameSettings) {
    open({"--steps"});
    const struct {
        const char *text, *scope, *folder;
    } table[] = {
        {"scope=user\r\nfolder.vst3=/a\r\n", "user", "/a"},
        {"folder.vst3=/a\r\nscope=user\r", "user", "/a"},
        {"scope=user\nfolder.vst3=/a\r\r\n", "user", "/a\r"},
        {"scope=\r\nfolder.vst3=\r\n", "", ""},
    };
    for (const auto& row : table) {
        writeFile(settings(), row.text);
        EXPECT_EQ(view->setting("scope"), row.scope) << row.text;
        std::map<std::string, std::string> read;
        tqapp::readSettings(settings(), [&](const std::string& k, const std::string& v) { read[k] = v; });
        EXPECT_EQ(read["scope"], row.scope) << row.text;
        EXPECT_EQ(read["folder.vst3"], row.folder) << row.text;
    }
    // Rewriting keeps the other settings as they were, line ends and all.
    writeFile(settings(), "scope=user\r\nfolder.vst3=/a\r\n");
    EXPECT_TRUE(view->setSetting("offered", "1.2.0"));
    EXPECT_EQ(readFile(settings()), "scope=user\r\nfolder.vst3=/a\r\noffered=1.2.0\n");
}

// A settings file that is there but cannot be read is never replaced by the one setting written:
// the write fails and every other setting stays.
TEST_F(ViewSettings, AnUnreadableFileIsLeftAsItIs) {
    open({"--steps"});
    std::string big;
    while (big.size() <= (size_t(1) << 20)) big += "folder.vst3=/Library/Audio/Plug-Ins/VST3\n";
    const struct {
        const char* name;
        std::function<void()> make;
        std::function<bool()> unchanged;
    } table[] = {
        {"over the size cap", [&] { writeFile(settings(), big); }, [&] { return readFile(settings()) == big; }},
        {"a pipe", [&] { ASSERT_EQ(::mkfifo(settings().c_str(), 0600), 0); },
         [&] {
             struct stat st{};
             return ::lstat(settings().c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
         }},
        {"not readable by us",
         [&] {
             writeFile(settings(), "scope=user\n");
             ::chmod(settings().c_str(), 0200);
         },
         [&] {
             struct stat st{};
             return ::stat(settings().c_str(), &st) == 0 && st.st_size == 11;
         }},
    };
    // Root reads any file: there the last row's write is made by a child that dropped to another
    // account, which owns the folder and all in it (so that nothing but the read stops the write).
    const auto writes = [&](const std::string& row) {
        if (row != "not readable by us" || ::geteuid() != 0) return view->setSetting("offered", "1.2.0");
        for (const std::string& above : {temp.dir(), path("root")}) EXPECT_EQ(::chmod(above.c_str(), 0711), 0);
        for (const auto& e : fs::recursive_directory_iterator(userData()))
            EXPECT_EQ(::lchown(e.path().c_str(), kNobody, kNobody), 0) << e.path();
        EXPECT_EQ(::chown(userData().c_str(), kNobody, kNobody), 0);
        return !asUser(kNobody, [&] { return !view->setSetting("offered", "1.2.0"); });
    };
    for (const auto& row : table) {
        std::filesystem::remove(settings());
        row.make();
        EXPECT_FALSE(writes(row.name)) << row.name;
        EXPECT_TRUE(row.unchanged()) << row.name;
        EXPECT_TRUE(noTemporaryBeside(settings())) << row.name;
        EXPECT_EQ(view->setting("offered"), "") << row.name;
    }
    std::filesystem::remove(settings());
}

TEST_F(ViewSettings, AFolderWhereTheFileShouldBeIsNotWrittenThrough) {
    open({"--steps"});
    std::filesystem::create_directories(settings());  // a folder in the file's place
    EXPECT_FALSE(view->setSetting("scope", "user"));
    EXPECT_EQ(view->setting("scope"), "");
    // A link at the old fixed temporary name is not followed (nor touched: it is not ours).
    std::filesystem::remove(settings());
    writeFile(path("elsewhere"), "keep");
    std::filesystem::create_symlink(path("elsewhere"), settings() + ".tmp");
    EXPECT_TRUE(view->setSetting("scope", "user"));
    EXPECT_EQ(readFile(path("elsewhere")), "keep");
    EXPECT_EQ(view->setting("scope"), "user");
}

TEST_F(ViewSettings, WindowSizeIsRestoredOnlyWhenItFits) {
    struct Case {
        const char* text;
        bool restored;
        int w, h;
    };
    const int minW = 426 + 70, minH = 344;
    const Case cases[] = {
        {"800 500\n", true, 800, 500},
        {"496 344", true, minW, minH},  // exactly the minimum
        {"495 344\n", false, minW, minH},
        {"10 10\n", false, minW, minH},
        {"800\n", false, minW, minH},
        {"800 x\n", false, minW, minH},
        {"  900\n\t700 trailing", true, 900, 700},
        {"99999999999 500\n", false, minW, minH},
        {"100000 100000\n", false, minW, minH},  // larger than any screen: damage
        {"", false, minW, minH},
    };
    for (const Case& c : cases) {
        close();  // the last window writes its size as it closes
        writeFile(sizeFile(), c.text);
        open();
        EXPECT_EQ(view->sizeRestored(), c.restored) << c.text;
        EXPECT_EQ(view->bounds.w, c.w) << c.text;
        EXPECT_EQ(view->bounds.h, c.h) << c.text;
    }
    // The skin look's minimum is the page itself.
    close();
    writeFile(sizeFile(), "426 344\n");
    open({"--look", "tq"});
    EXPECT_TRUE(view->sizeRestored());
}

// The size is written once it has settled, not at every step of a drag (each write goes to the
// disk on the UI thread), and as the window closes; a size equal to the stored one is not written.
TEST_F(ViewSettings, WindowSizeIsWrittenOnceItSettles) {
    // Opening with nothing stored writes nothing: widening to the look's minimum is not a choice.
    open();
    for (int w = 600; w <= 700; w += 5) editor->resizeBody(w, 450);  // a drag
    const double dragged = lumo::gui::Editor::now();
    frame();
    // Half a second without a change settles the size: a machine busy for that long between the
    // drag and the frame has rightly written it.
    if (lumo::gui::Editor::now() - dragged < 0.4) {
        EXPECT_FALSE(exists(sizeFile())) << "written while the size still changes";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    frame();
    EXPECT_EQ(readFile(sizeFile()), "700 450\n");

    // Opening at the stored size leaves the file alone (the editor reports its size while its
    // limits are set, and that is no reason to write).
    const ino_t before = inode(sizeFile());
    open();
    EXPECT_TRUE(view->sizeRestored());
    EXPECT_EQ(view->bounds.w, 700);
    view->resized(700, 450);
    close();
    EXPECT_EQ(inode(sizeFile()), before);

    // A size not yet settled when the window closes is written as it closes.
    open();
    editor->resizeBody(720, 450);
    EXPECT_EQ(readFile(sizeFile()), "700 450\n");
    close();
    EXPECT_EQ(readFile(sizeFile()), "720 450\n");
    EXPECT_TRUE(noTemporaryBeside(sizeFile()));
}

TEST_F(ViewSettings, FitNamesWidensInLayoutUnitsAtEveryScale) {
    catalog.publish(catalogText("1.0.0"));
    std::vector<int> widths;
    for (double scale : {1.0, 2.0, 3.0}) {
        open();
        editor->setScale(scale);
        // A paint at this scale leaves the view's paint scale behind it.
        lumo::gui::Canvas canvas;
        editor->paint(canvas);
        EXPECT_DOUBLE_EQ(view->paintScale(), scale);
        ASSERT_TRUE(viewLoaded());
        view->model()->rows.push_back(row("long", std::string(120, 'W')));
        view->firstLoadDone = false;
        view->changed();
        widths.push_back(view->bounds.w);
    }
    EXPECT_GT(widths[0], 496);
    EXPECT_EQ(widths[1], widths[0]);
    EXPECT_EQ(widths[2], widths[0]);
    EXPECT_FALSE(exists(sizeFile()));  // the widening is not saved

    // A short list never shrinks the window; a restored size is never widened.
    close();
    writeFile(sizeFile(), "600 400\n");
    open();
    ASSERT_TRUE(viewLoaded());
    view->model()->rows.push_back(row("long", std::string(120, 'W')));
    view->firstLoadDone = false;
    view->changed();
    EXPECT_EQ(view->bounds.w, 600);
}

// A window on a screen of a given usable area and scale; it opens nothing, but keeps the size it
// was asked to open at.
class ScreenWindow : public lumo::gui::HeadlessWindow {
public:
    ScreenWindow(lumo::gui::Rect area, double scale, lumo::gui::Rect* opened)
        : area_(area), scale_(scale), opened_(opened) {}
    bool usableArea(lumo::gui::Rect& area) const override {
        area = area_;
        return true;
    }
    double systemScale() const override { return scale_; }
    bool openTopLevel(const char*, int w, int h) override {
        if (opened_) *opened_ = {0, 0, w, h};
        return false;
    }

private:
    lumo::gui::Rect area_;
    double scale_;
    lumo::gui::Rect* opened_;
};

// A stored size, or the widening that fits the longest name, never makes the window larger than
// the usable area of its screen (in device pixels, at the screen's scale); the minimum still holds.
TEST_F(ViewSettings, TheWindowNeverOpensOrWidensPastTheScreen) {
    catalog.publish(catalogText("1.0.0"));
    struct Case {
        const char* stored;
        lumo::gui::Rect screen;
        double scale;
        int w, h;  // the body the window opens with, in layout units
    };
    const Case cases[] = {
        {"5000 4000\n", {0, 0, 1280, 1024}, 1.0, 1280, 1024},
        {"5000 4000\n", {0, 30, 1280, 994}, 1.0, 1280, 994},  // less a panel
        {"900 700\n", {0, 0, 1600, 1000}, 2.0, 800, 500},
        {"800 500\n", {0, 0, 1280, 1024}, 1.0, 800, 500},    // fits: as stored
        {"800 500\n", {0, 0, 400, 300}, 1.0, 496, 344},      // a tiny screen: the minimum
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        close();
        writeFile(sizeFile(), c.stored);
        open();
        lumo::gui::Rect opened;
        const auto factory = lumo::gui::PlatformWindow::setFactory(
            [&](lumo::gui::Editor&) { return std::make_unique<ScreenWindow>(c.screen, c.scale, &opened); });
        editor->runStandalone("manager");
        lumo::gui::PlatformWindow::setFactory(factory);
        EXPECT_EQ(std::pair(view->bounds.w, view->bounds.h), std::pair(c.w, c.h));
        EXPECT_EQ(std::pair(opened.w, opened.h), std::pair(int(std::lround(c.w * c.scale)), int(std::lround(c.h * c.scale))));
    }

    // Widening to fit a long name stops at the screen's side: 1600 pixels at scale 2.
    close();
    std::filesystem::remove(sizeFile());
    open();
    ASSERT_TRUE(viewLoaded());
    host->acceptsResize = true;
    editor->attachWindow(std::make_unique<ScreenWindow>(lumo::gui::Rect{0, 0, 1600, 1000}, 2.0, nullptr));
    editor->setScale(2.0);
    lumo::gui::Canvas canvas;
    editor->paint(canvas);
    view->model()->rows.push_back(row("long", std::string(300, 'W')));
    view->firstLoadDone = false;
    view->changed();
    EXPECT_EQ(view->bounds.w, 800);
    EXPECT_EQ(editor->pixelWidth(), 1600);
}

TEST_F(ViewSettings, ScopeChangeIsStoredOrRefusedWhileAJobRuns) {
    catalog.publish(catalogText("1.0.0"));
    open();
    ASSERT_TRUE(viewLoaded());
    EXPECT_TRUE(view->applyScope(tqm::Scope::User));  // the same scope: nothing to do
    EXPECT_FALSE(exists(settings()));
    EXPECT_TRUE(view->applyScope(tqm::Scope::System));
    EXPECT_EQ(view->model()->config.layout.scope, tqm::Scope::System);
    EXPECT_EQ(view->setting("scope"), "system");

    view->model()->busy = true;
    EXPECT_FALSE(view->applyScope(tqm::Scope::User));
    EXPECT_EQ(view->model()->config.layout.scope, tqm::Scope::System);
    EXPECT_EQ(view->setting("scope"), "system");
    EXPECT_EQ(view->model()->note, "Wait for the job to finish first");
    view->model()->busy = false;
    EXPECT_EQ(view->statusText(), "Wait for the job to finish first");
}

TEST_F(ViewSettings, FirstLoadOffersANewerManagerOncePerVersion) {
    struct Case {
        std::string latest;
        std::vector<std::string> words;
        std::string offered;
    };
    const Case cases[] = {
        {"0.3.0", {}, ""},              // no newer manager: nothing written
        {"0.4.0", {}, "0.4.0"},         // offered and remembered
        {"0.4.0", {"--uninstall"}, ""}, // the uninstall plan instead of the offers
        {"0.4.0", {"--steps"}, "0.4.0"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(settings());
        catalog.publish(catalogText("1.0.0", 1, c.latest));
        open(c.words);
        ASSERT_TRUE(viewLoaded());
        EXPECT_TRUE(view->firstLoadDone);
        EXPECT_EQ(view->setting("offered"), c.offered) << c.latest;
        // The running copy counts as the installed one here: the install offer never opens.
        EXPECT_EQ(view->setting("install_offered"), "");
    }
}

// Children of this process that have ended but were never waited for.
int zombies() {
    int n = 0;
    for (pid_t pid : testsupport::childrenOf(::getpid())) {
        testsupport::ProcessStat s;
        n += testsupport::processStat(pid, s) && s.state == 'Z';
    }
    return n;
}

TEST_F(ViewSettings, OpenPathRunsTheOpenerAndReapsIt) {
    const std::string bin = path("bin");
    // The opener talks on its output before it records what it opened.
    writeFile(bin + "/xdg-open", "#!/bin/sh\necho opening; echo warning >&2\necho \"$@\" >> \"" + path("opened") + "\"\n");
    std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    open({"--steps"});
    // What the opener says stays out of the terminal: this process's output goes to a file meanwhile.
    std::fflush(nullptr);
    const int terminal[] = {::dup(1), ::dup(2)};
    const int said = ::open(path("terminal").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(said, 1);
    ::dup2(said, 2);
    ::close(said);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(view->openPath(path("folder " + std::to_string(i)), false));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto lines = [&] {
        const std::string text = readFile(path("opened"));
        return std::count(text.begin(), text.end(), '\n');
    };
    while ((lines() < 3 || zombies() > 0) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::fflush(nullptr);
    for (int fd : {1, 2}) {
        ::dup2(terminal[fd - 1], fd);
        ::close(terminal[fd - 1]);
    }
    ASSERT_TRUE(lines() == 3 && zombies() == 0) << readFile(path("opened"));
    EXPECT_EQ(readFile(path("terminal")), "");
    EXPECT_NE(readFile(path("opened")).find(path("folder 1") + "\n"), std::string::npos);

    // A restart starts the program itself as a new instance, with this one's words of where it
    // runs (its root, catalog and key: without them it would come back on the default catalog);
    // the harness word ran once here and is not passed on.
    writeFile(bin + "/manager", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"" + path("restarted") + "\"\n");
    std::filesystem::permissions(bin + "/manager", std::filesystem::perms::owner_all);
    view->model()->config.program = bin + "/manager";
    view->restartSelf();
    std::string want;
    for (const std::string& w : baseArgs()) want += w + "\n";
    want = want.substr(want.find('\n') + 1);  // the stored words follow the name
    while (readFile(path("restarted")) != want || zombies() > 0) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << readFile(path("restarted"));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    // Without an opener, or without the program, the status line says so.
    setenv("PATH", path("nowhere").c_str(), 1);
    EXPECT_FALSE(view->openPath(path("folder"), false));
    EXPECT_EQ(view->model()->note, "No program to open folders here: install xdg-utils");
    view->model()->config.program = path("nowhere/manager");
    view->restartSelf();
    EXPECT_EQ(view->model()->note, "Cannot start " + path("nowhere/manager"));
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(zombies(), 0);
}

// An opener that finds no program for the path, or whose program fails, is told in the status line
// once it has ended; a good end says nothing.
TEST_F(ViewSettings, AnOpenerThatFailsIsToldInTheStatusLine) {
    const std::string bin = path("bin");
    writeFile(bin + "/xdg-open", "#!/bin/sh\ncase \"$1\" in *three) exit 3;; *four) exit 4;; esac\nexit 0\n");
    std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    open({"--steps"});
    tqapp::Model& m = *view->model();
    std::vector<std::string> notes;
    m.onChange = [&, was = m.onChange] {
        notes.push_back(m.note);
        if (was) was();
    };
    const std::pair<const char*, std::string> cases[] = {{"fine", ""},
                                                         {"three", "No program here opens " + path("three")},
                                                         {"four", "Could not open " + path("four") + ": xdg-open failed (4)"}};
    for (const auto& [folder, note] : cases) {
        m.note.clear();
        EXPECT_TRUE(view->openPath(path(folder), false));
        EXPECT_TRUE(note.empty() || frameUntil([&] { return m.note == note; })) << folder << ": " << m.note;
    }
    for (const std::string& n : notes) EXPECT_EQ(n.find(path("fine")), std::string::npos) << n;
    setenv("PATH", oldPath.c_str(), 1);
}

}  // namespace
