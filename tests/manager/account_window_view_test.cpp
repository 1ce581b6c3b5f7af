// The settings window through the real editor (headless): opened from the main window's account
// button, clicked through the editor's pointer entry points, its folder dialog answered by a stand-in
// zenity on PATH and its opener by a stand-in xdg-open, each frame an editor tick and a paint (which
// destroys closed popups).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "manager/windows/settings_window.h"
#include "manager/windows/job_window.h"
#include "manager/model/notices.h"
#include "platform/linux/dialogs.h"
#include "manager/pixel_look/primitives.h"
#include "tests/manager/parts_support.h"
#include "tests/manager/pixel_support.h"
#include "tests/manager/window_fixture.h"

using namespace testsupport;
using tqapp::AccountWindow;
namespace fs = std::filesystem;

namespace {

// The headless window with the window layer's folder dialog (zenity) behind it.
class DialogWindow : public CountingWindow {
public:
    using CountingWindow::CountingWindow;
    bool folderDialog(const std::string& title, std::string& path) override {
        return lumo::platform::zenityFolder(title, path);
    }
};

class AccountView : public WindowTest {
protected:
    void SetUp() override {
        const std::string bin = path("bin");
        // zenity records its arguments and answers as the test says; xdg-open records what it opens.
        writeFile(bin + "/zenity",
                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" + path("zenity-args") +
                      "\"\nprintf '%s' \"$ZENITY_OUT\"\nexit \"$ZENITY_STATUS\"\n");
        writeFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + path("opened") + "\"\n");
        chmod((bin + "/zenity").c_str(), 0755);
        chmod((bin + "/xdg-open").c_str(), 0755);
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (bin + ":" + oldPath_).c_str(), 1);
        answer("", 1);
    }
    void TearDown() override {
        if (view && view->model()) {
            EXPECT_TRUE(frameUntil([this] { return !view->model()->busy; }));
        }
        setenv("PATH", oldPath_.c_str(), 1);
        unsetenv("ZENITY_OUT");
        unsetenv("ZENITY_STATUS");
    }

    void answer(const std::string& out, int status) {
        setenv("ZENITY_OUT", out.c_str(), 1);
        setenv("ZENITY_STATUS", std::to_string(status).c_str(), 1);
    }

    // The main window with the dialog-capable headless window attached.
    void attachDialogs() { editor->attachWindow(std::make_unique<DialogWindow>(&closes, &minimises)); }

    // Opens the settings window by clicking the main window's account button.
    AccountWindow* openAccount() {
        const lumo::gui::Rect r = rectOf("account");
        EXPECT_GT(r.w, 0);
        clickAt(cx(r), cy(r));
        return view->openAccountWindow();
    }

    // Presses and releases over the centre of a part of the open settings window, through the editor.
    void click(const std::string& part) {
        AccountWindow* w = view->openAccountWindow();
        ASSERT_NE(w, nullptr);
        if (const auto p = partstest::partNamed(*w, part)) {
            clickAt(w->bounds.x + cx(p->rect), w->bounds.y + cy(p->rect));
            return;
        }
        FAIL() << "no part " << part;
    }

    std::vector<AccountWindow*> accountWindows() const {
        std::vector<AccountWindow*> out;
        for (const auto& p : editor->popups())
            if (auto* w = dynamic_cast<AccountWindow*>(p.widget)) out.push_back(w);
        return out;
    }

    std::string settingsText() const { return readFile(view->settingsFile()); }
    std::string zenityArgs() const { return readFile(path("zenity-args")); }
    // The lines xdg-open was given, once n of them are there (it runs on its own).
    std::string opened(size_t n) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            const std::string text = readFile(path("opened"));
            if (size_t(std::count(text.begin(), text.end(), '\n')) >= n || std::chrono::steady_clock::now() > end)
                return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    const tqm::Row* rowOf(const std::string& id) const {
        for (const tqm::Row& r : view->model()->rows)
            if (r.id == id) return &r;
        return nullptr;
    }

    std::string oldPath_;
};

TEST_F(AccountView, OneWindowCentredAndTheRetiredOneNeverClearsTheNewer) {
    openFull();
    AccountWindow* first = openAccount();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->bounds.x, (view->bounds.w - 300) / 2);
    EXPECT_EQ(first->bounds.y, (view->bounds.h - 272) / 2);
    EXPECT_EQ(first->bounds.w, 300);
    EXPECT_EQ(first->bounds.h, 272);
    // The answers the window is given come from the main window at the time they are asked.
    EXPECT_EQ(first->host.version(), view->model()->config.version);
    EXPECT_EQ(first->host.managerUpdate(), "9.0.0");
    EXPECT_EQ(first->host.layout().root, view->model()->config.layout.root);
    EXPECT_EQ(first->host.installState(), "INSTALLED FOR THIS USER");  // the program counts as placed here
    EXPECT_FALSE(first->host.canInstall());
    view->model()->busy = true;
    EXPECT_TRUE(first->host.busy());
    view->model()->busy = false;
    EXPECT_EQ(openAccount(), first);  // a second click raises it
    EXPECT_EQ(accountWindows().size(), 1u);

    // Closed by its box: retired at once, destroyed at the next paint.
    click("x");
    EXPECT_EQ(view->openAccountWindow(), nullptr);
    // Opened again before that paint: the late close of the old one leaves the new one named.
    AccountWindow* second = openAccount();
    ASSERT_NE(second, nullptr);
    frame();
    EXPECT_EQ(view->openAccountWindow(), second);
    EXPECT_EQ(accountWindows().size(), 1u);

    // Closed and opened in a wider window: centred in the new size.
    click("x");
    frame();
    EXPECT_EQ(view->openAccountWindow(), nullptr);
    view->bounds.w += 120;  // as a resize of the main window leaves it
    view->bounds.h += 40;
    AccountWindow* third = openAccount();
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->bounds.x, (view->bounds.w - 300) / 2);
    EXPECT_EQ(third->bounds.y, (view->bounds.h - 272) / 2);
}

TEST_F(AccountView, DraggedByItsBarNeverByAPart) {
    openFull();
    AccountWindow* w = openAccount();
    ASSERT_NE(w, nullptr);
    const int x0 = w->bounds.x, y0 = w->bounds.y;
    press(x0 + 150, y0 + 10);
    drag(x0 + 190, y0 + 35);
    drag(x0 + 130, y0 + 60);
    release(x0 + 130, y0 + 60);
    EXPECT_EQ(w->bounds.x, x0 - 20);
    EXPECT_EQ(w->bounds.y, y0 + 50);

    // From a button: the window stays, and released off the button nothing is clicked.
    const int x1 = w->bounds.x, y1 = w->bounds.y;
    press(x1 + 70, y1 + 248);  // "OPEN LOG FOLDER"
    drag(x1 + 70, y1 + 150);
    release(x1 + 70, y1 + 150);
    EXPECT_EQ(w->bounds.x, x1);
    EXPECT_EQ(w->bounds.y, y1);
    EXPECT_EQ(readFile(path("opened")), "");
}

TEST_F(AccountView, ScopeIsSavedAndTheRowsDerivedAgainButNotWhileAJobRuns) {
    catalog.publish(catalogText("1.0.0"));
    // No private root here: the two scopes have their own folders and receipts (the system ones are
    // only read, and hold nothing).
    open({"--source", catalog.source(), "--pub", catalog.publicKeyHex(), "--steps"}, false);
    attachDialogs();
    view->model()->run({{"install", "synth", "vst3"}}, "Installing Synth", "Synth installed");
    ASSERT_TRUE(frameUntil([this] { return !view->model()->busy; }));
    ASSERT_TRUE(view->model()->ok) << view->model()->note;
    ASSERT_NE(rowOf("synth"), nullptr);
    EXPECT_EQ(rowOf("synth")->state, tqm::State::Installed);

    ASSERT_NE(openAccount(), nullptr);
    click("scope:system");
    EXPECT_EQ(view->model()->config.layout.scope, tqm::Scope::System);
    EXPECT_EQ(view->setting("scope"), "system");
    EXPECT_NE(rowOf("synth")->state, tqm::State::Installed);  // nothing is installed for all users

    click("scope:user");
    EXPECT_EQ(view->setting("scope"), "user");
    EXPECT_EQ(rowOf("synth")->state, tqm::State::Installed);

    // While a job runs the rows hit nothing; asked anyway, the model refuses and says why.
    view->model()->busy = true;
    const std::string before = settingsText();
    click("scope:system");
    EXPECT_EQ(view->model()->config.layout.scope, tqm::Scope::User);
    EXPECT_TRUE(partstest::pressNamed(*view->openAccountWindow(), "scope:system"));
    EXPECT_EQ(view->model()->config.layout.scope, tqm::Scope::User);
    EXPECT_EQ(view->model()->note, "Wait for the job to finish first");
    EXPECT_EQ(settingsText(), before);
    view->model()->busy = false;
}

TEST_F(AccountView, FolderChangedAndResetPerFormat) {
    openFull();
    attachDialogs();
    for (const std::string& f : tqm::formatsHere()) {
        SCOPED_TRACE(f);
        const std::string start = view->model()->config.layout.formatRoot(f);
        const std::string chosen = path("chosen " + f);
        ASSERT_NE(openAccount(), nullptr);
        const auto reset = partstest::partNamed(*view->openAccountWindow(), "reset:" + f);
        ASSERT_TRUE(reset);
        EXPECT_FALSE(reset->enabled);

        // The maker's folder inside the chosen one names that folder.
        answer(chosen + "/Ardune Systems\n", 0);
        click("change:" + f);
        EXPECT_NE(zenityArgs().find("--filename=" + start + "/\n"), std::string::npos) << zenityArgs();
        EXPECT_EQ(view->model()->config.layout.folders[f], chosen);
        EXPECT_EQ(view->setting("folder." + f), chosen);
        EXPECT_EQ(view->model()->config.layout.formatDir(f), chosen + "/Ardune Systems");

        // Any other folder is taken as it is.
        answer(chosen + "/Plug-Ins\n", 0);
        click("change:" + f);
        EXPECT_EQ(view->setting("folder." + f), chosen + "/Plug-Ins");

        // Reset: enabled now, and back to the default folder.
        click("reset:" + f);
        EXPECT_EQ(view->model()->config.layout.folders.count(f), 0u);
        EXPECT_NE(settingsText().find("folder." + f + "=\n"), std::string::npos);
        EXPECT_EQ(view->model()->config.layout.formatRoot(f), start);
    }
}

TEST_F(AccountView, FoldersThatCannotBeUsedAreRefusedAndNothingIsWritten) {
    openFull();
    attachDialogs();
    ASSERT_NE(openAccount(), nullptr);
    view->setSetting("marker", "1");
    const std::string stored = settingsText();
    struct Case {
        const char* name;
        std::string out;
        int status;
        bool busy;
        std::string note;  // empty: no note
    };
    const Case cases[] = {
        {"cancelled", "", 1, false, ""},
        {"confirmed with nothing", "", 0, false, ""},
        {"relative", "Music/Plug-Ins", 0, false, "Music/Plug-Ins is not a full folder path: nothing changed"},
        {"control byte", "/tmp/a\tb", 0, false, "That folder's name holds a control character: nothing changed"},
        {"line break", "/tmp/a\nfolder.clap=/evil", 0, false,
         "That folder's name holds a control character: nothing changed"},
        {"job running", "/tmp/fine", 0, true, "Wait for the job to finish first"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view->model()->note.clear();
        answer(c.out, c.status);
        view->model()->busy = c.busy;
        // While a job runs the button hits nothing; the window's press goes through to the refusal.
        if (c.busy)
            EXPECT_TRUE(partstest::pressNamed(*view->openAccountWindow(), "change:vst3"));
        else
            click("change:vst3");
        view->model()->busy = false;
        EXPECT_EQ(view->model()->note, c.note);
        EXPECT_EQ(settingsText(), stored);
        EXPECT_TRUE(view->model()->config.layout.folders.empty());
    }

    // Without zenity there is no folder dialog: the status line says so.
    setenv("PATH", path("nowhere").c_str(), 1);
    click("change:clap");
    EXPECT_EQ(view->model()->note, "No folder dialog here: install zenity to choose a folder");
    EXPECT_EQ(view->statusText(), view->model()->note);
    EXPECT_EQ(settingsText(), stored);
}

TEST_F(AccountView, CheckNowReloadsTheCatalog) {
    catalog.publish(catalogText("1.0.0"));
    open();
    ASSERT_TRUE(viewLoaded());
    attachDialogs();
    ASSERT_NE(openAccount(), nullptr);
    EXPECT_EQ(AccountWindow::partName(view->openAccountWindow()->parts().parts()[7].id), "check");
    catalog.publish(catalogText("2.0.0", 2, "0.5.0"));
    click("check");
    EXPECT_TRUE(view->model()->loading);
    // While it loads the button is there but hits nothing.
    EXPECT_FALSE(view->openAccountWindow()->parts().parts()[7].enabled);
    ASSERT_TRUE(viewLoaded());
    EXPECT_EQ(view->model()->catalog->catalog.sequence, 2);
    ASSERT_NE(rowOf("synth")->entry, nullptr);
    EXPECT_EQ(rowOf("synth")->entry->version, "2.0.0");
    // Now the newer manager is known: the button offers it.
    EXPECT_EQ(AccountWindow::partName(view->openAccountWindow()->parts().parts()[7].id), "update");
    if (tqapp::JobWindow* offer = view->openJobWindow()) editor->closePopup(offer);
}

TEST_F(AccountView, UpdateOpensTheManagersOwnUpdate) {
    openFull();
    ASSERT_NE(openAccount(), nullptr);
    click("update");
    tqapp::JobWindow* job = view->openJobWindow();
    ASSERT_NE(job, nullptr);
    EXPECT_TRUE(job->plan.selfUpdate);
    EXPECT_EQ(job->plan.toVersion, "9.0.0");
    EXPECT_EQ(job->plan.fromVersion, view->model()->config.version);
}

// A newer manager known only from the cached catalog (the server unreachable, or its catalog refused)
// is no update that can start: the button checks again, as the status line offers nothing to click.
TEST_F(AccountView, ACachedCatalogsNewerManagerIsNotOfferedToUpdate) {
    openFull();
    ASSERT_NE(openAccount(), nullptr);
    const std::string listed = catalog.source() + "/catalog.json", text = readFile(listed);
    const struct {
        const char* name;
        std::string listed;  // what the source then holds as its catalog
    } cases[] = {{"unreachable", ""}, {"refused", text + " "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.listed.empty())
            fs::remove(listed);
        else
            writeFile(listed, c.listed);
        view->model()->reload();
        ASSERT_TRUE(viewLoaded());
        ASSERT_TRUE(view->model()->catalog->fromCache);
        EXPECT_EQ(view->model()->managerUpdate(), "9.0.0");  // still known, and said
        EXPECT_FALSE(partstest::partNamed(*view->openAccountWindow(), "update").has_value());
        ASSERT_TRUE(partstest::partNamed(*view->openAccountWindow(), "check").has_value());
        const uint32_t listed0 = view->model()->rowsGeneration;
        click("check");
        ASSERT_TRUE(viewLoaded());
        EXPECT_GT(view->model()->rowsGeneration, listed0);  // loaded again
        EXPECT_EQ(view->openJobWindow(), nullptr);
        writeFile(listed, text);
    }
}

TEST_F(AccountView, NoticesAreWrittenAndOpenedAndSoIsTheLogFolder) {
    openFull();
    ASSERT_NE(openAccount(), nullptr);
    const std::string notices = userData() + "/THIRD-PARTY-NOTICES.txt";
    writeFile(notices, "an older, longer text that the new one replaces whole\n" + std::string(20000, 'x'));
    click("notices");
    EXPECT_EQ(readFile(notices), tqapp::thirdPartyNotices());
    EXPECT_EQ(opened(1), notices + "\n");

    const std::string logs = view->model()->logFile().parent_path().string();
    ASSERT_FALSE(fs::exists(logs));  // the harness writes no log
    click("logs");
    EXPECT_TRUE(fs::is_directory(logs));
    EXPECT_EQ(opened(2), notices + "\n" + logs + "\n");

    // A file where the user-data folder should be: nothing written, nothing opened, and said so.
    const std::string root = path("blocked");
    writeFile(root + "/data", "not a folder");
    open({"--root", root, "--source", catalog.source(), "--pub", catalog.publicKeyHex(), "--steps"}, false);
    ASSERT_NE(openAccount(), nullptr);
    click("notices");
    EXPECT_EQ(view->model()->note, "Cannot write " + root + "/data/THIRD-PARTY-NOTICES.txt");
    EXPECT_EQ(readFile(path("opened")), notices + "\n" + logs + "\n");
}

// Over the main window, painted by the editor: the frame and the folder boxes land where the window is.
TEST_F(AccountView, PaintedByTheEditorAtEachZoom) {
    openFull();
    ASSERT_NE(openAccount(), nullptr);
    for (double zoom : {1.0, 2.0}) {
        SCOPED_TRACE(zoom);
        editor->setZoom(zoom);
        frame();
        AccountWindow* w = view->openAccountWindow();
        ASSERT_NE(w, nullptr);
        const double s = editor->bodyScale();
        const int u = tqapp::dev::one(s);
        auto px = [&](int v) { return int(std::lround(v * s)); };
        const uint32_t rule = lumo::gui::pixelOf(tqapp::dev::rule), bg = lumo::gui::pixelOf(tqapp::dev::bg);
        const int x0 = px(w->bounds.x), y0 = px(w->bounds.y);
        const int x1 = px(w->bounds.x + 300) - 1, y1 = px(w->bounds.y + 272) - 1;
        EXPECT_EQ(pixeltest::at(canvas, x0, y1), rule);
        EXPECT_EQ(pixeltest::at(canvas, x1, y0), rule);
        EXPECT_EQ(pixeltest::at(canvas, x0 + u, y1 - u), bg);
        // The VST3 folder box: its outline one dot wide, the panel just outside it.
        const int bx = px(w->bounds.x + 40), by = px(w->bounds.y + 129 + 7);
        for (int i = 0; i < u; ++i) EXPECT_EQ(pixeltest::at(canvas, bx + i, by), rule) << i;
        EXPECT_EQ(pixeltest::at(canvas, bx - 1, by), bg);
        EXPECT_NE(pixeltest::at(canvas, bx + u, by), rule);
        EXPECT_TRUE(pixeltest::writePicture(canvas, zoom == 1.0 ? "account-window-in-editor-1x.png"
                                                                : "account-window-in-editor-2x.png"));
    }
}

}  // namespace

// Dragged as far as the pointer goes, the window keeps its bar inside the main window: it can always
// be taken back, and "account" raises a window that can be seen.
TEST_F(AccountView, DraggedNeverOutOfReach) {
    openFull();
    AccountWindow* w = openAccount();
    ASSERT_NE(w, nullptr);
    const int W = editor->logicalWidth(), H = editor->logicalHeight();
    for (const auto& [dx, dy] : kFarAway) {
        SCOPED_TRACE(testing::Message() << dx << "," << dy);
        const int x0 = w->bounds.x, y0 = w->bounds.y;
        press(x0 + 100, y0 + 10);
        drag(x0 + 100 + dx / 2, y0 + 10 + dy / 2);
        drag(x0 + 100 + dx, y0 + 10 + dy);
        release(x0 + 100 + dx, y0 + 10 + dy);
        ASSERT_EQ(view->openAccountWindow(), w);
        EXPECT_TRUE(barInReach(*editor, w->bounds, AccountWindow::kBarHeight));
        // And back by its bar: it still moves with the pointer.
        const int x1 = w->bounds.x, y1 = w->bounds.y;
        const int gx = std::clamp(x1 + 60, 1, W - 1);
        press(gx, y1 + 10);
        drag(gx, y1 + 11);
        release(gx, y1 + 11);
        EXPECT_EQ(w->bounds.y, std::min(y1 + 1, H - AccountWindow::kBarHeight));
    }
}
