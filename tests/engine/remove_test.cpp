// Removal: only what the manager installed, from its own folders, goes.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <tuple>

#include "engine/catalog.h"
#include "engine/install_folder.h"
#include "engine/jobs.h"
#include "tests/support/at_step.h"
#include "tests/support/job_fixture.h"
#include "tests/support/lock_holder.h"
#include "tests/support/running_copy.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class RemoveTest : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        std::vector<std::string> results;
        ASSERT_FALSE(tqm::runTasks(engine,
                                   {{"install", "synth", "vst3"}, {"install", "synth", "clap"},
                                    {"install", "studio", "app"}},
                                   results))
            << ::testing::PrintToString(results);
        logLines.clear();
    }
    tqm::InstalledFormat& record(const std::string& id, const std::string& format) {
        return engine.receipt.plugins[id].formats[format];
    }
};

TEST_F(RemoveTest, PluginFormats) {
    const std::string vst3Path = vst3() + "/Synth.vst3";
    const std::string clapPath = engine.layout.formatDir("clap") + "/Synth.clap";
    std::string error;
    ASSERT_TRUE(engine.remove("synth", "vst3", error)) << error;
    EXPECT_FALSE(exists(vst3Path));
    EXPECT_TRUE(exists(clapPath));
    EXPECT_EQ(engine.receipt.plugins.at("synth").formats.count("clap"), 1u);
    EXPECT_EQ(logLines, std::vector<std::string>{"removed " + vst3Path});

    // A bundle already deleted by hand: the record goes, the log still says so.
    fs::remove_all(clapPath);
    ASSERT_TRUE(engine.remove("synth", "clap", error)) << error;
    EXPECT_EQ(engine.receipt.plugins.count("synth"), 0u);
    EXPECT_EQ(logLines.back(), "removed " + clapPath);
    EXPECT_EQ(readFile(engine.layout.receiptFile()), tqm::receiptText(engine.receipt));

    EXPECT_FALSE(engine.remove("synth", "clap", error));
    EXPECT_EQ(error, "synth clap is not installed by the manager");
    EXPECT_TRUE(fs::is_directory(vst3()));
    EXPECT_TRUE(fs::is_empty(vst3())) << ::testing::PrintToString(entryNames(vst3()));  // nothing left aside
}

TEST_F(RemoveTest, RecordsOutsideTheManagersFoldersAreLeftAlone) {
    struct Case {
        std::string where;  // a bundle there, recorded as the vst3 copy
        bool removed;
        std::string tail = "";  // added to the recorded path
    } cases[] = {
        {path("elsewhere/Synth.vst3"), false},
        {path("root/VST3/Synth.vst3"), false},  // the format's root, not the maker's folder
        {path("root/VST3/Ardune Systems/../Synth.vst3"), false},
        {path("old/VST3/Ardune Systems/Synth.vst3"), true},  // an earlier install folder of the maker
        {path("root/VST3/Ardune Systems/sub/Synth.vst3"), false},  // below the maker's folder
        {path("root/VST3/Ardune Systems/Synth"), true},  // any name in the maker's folder, as before
        // A "\u0000" in the receipt: the system would act on the path cut short at the NUL.
        {path("victim"), false, std::string(1, '\0') + "/Ardune Systems/Synth.vst3"},
    };
    for (const Case& c : cases) {
        writeFile(c.where + "/Contents/x", "x");
        const std::string recorded = c.where + c.tail;
        record("synth", "vst3").path = recorded;
        std::string error;
        EXPECT_EQ(engine.remove("synth", "vst3", error), c.removed) << c.where;
        EXPECT_EQ(exists(c.where), !c.removed) << c.where;
        if (!c.removed) {
            EXPECT_EQ(error, recorded + " is outside the manager's folder: left alone");
            EXPECT_EQ(engine.receipt.plugins["synth"].formats.count("vst3"), 1u);
        }
        fs::remove_all(c.where);
    }

    // Audio units lie straight in the format's root; a folder whose name only begins like it is
    // another folder.
    const std::string au = engine.layout.formatDir("au");
    for (const std::string& where : {au + "X/Synth.component", au + "/sub/Synth.component"}) {
        writeFile(where + "/Contents/x", "x");
        record("synth", "au").path = where;
        std::string error;
        EXPECT_FALSE(engine.remove("synth", "au", error)) << where;
        EXPECT_EQ(error, where + " is outside the manager's folder: left alone");
        EXPECT_TRUE(exists(where + "/Contents/x"));
    }
    record("synth", "au").path = au + "/Synth.component";
    writeFile(au + "/Synth.component/Contents/x", "x");
    std::string error;
    EXPECT_TRUE(engine.remove("synth", "au", error)) << error;
    EXPECT_FALSE(exists(au + "/Synth.component"));
}

TEST_F(RemoveTest, Apps) {
    const std::string studio = appsDir() + "/Studio.app";
    std::string error;
    struct Case {
        std::string id;
        std::string error;
    } refused[] = {
        {"nothing", "nothing is not an app the manager knows how to remove"},
        {"tuner", "Tuner is not installed"},
    };
    for (const Case& c : refused) {
        EXPECT_FALSE(engine.removeApp(c.id, error));
        EXPECT_EQ(error, c.error);
    }

    // A recorded folder that is not plainly the app.
    tqm::InstalledFormat& rec = engine.apps.plugins["studio"].formats["app"];
    rec.path = appsDir() + "/Other.app";
    writeFile(rec.path + "/Contents/MacOS/Studio", "x");
    EXPECT_FALSE(engine.remove("studio", "app", error));
    EXPECT_EQ(error, rec.path + " is not a folder the manager removes: left alone");
    EXPECT_TRUE(exists(rec.path));
    rec.path = studio;

    // A record naming a plain folder (damaged or edited by hand) never deletes it, whether the
    // catalog knows the app or not: the folder must be an application bundle.
    engine.layout.folders.clear();
    struct Plain {
        std::string where;
        bool catalog;
    } plain[] = {{path("Documents"), false},
                 {appsDir() + "/Studio", false},
                 {path("Studio"), true},
                 {appsDir() + "/Studio.app.old", false},
                 {appsDir() + "/Studio.apps", false}};
    for (const Plain& c : plain) {
        SCOPED_TRACE(c.where);
        rec.path = c.where;
        writeFile(c.where + "/Contents/MacOS/Studio", "x");
        writeFile(c.where + "/letter.txt", "mine");
        tqm::Catalog renamed = loaded.catalog;
        for (tqm::Plugin& a : renamed.apps)
            for (auto& [platform, ref] : a.packages["app"]) ref.item = "Studio";
        engine.catalog = c.catalog ? &renamed : nullptr;
        EXPECT_FALSE(engine.remove("studio", "app", error));
        EXPECT_EQ(error, c.where + " is not an application (its name does not end in \".app\"): left alone");
        EXPECT_EQ(readFile(c.where + "/letter.txt"), "mine");
        EXPECT_EQ(engine.apps.plugins.count("studio"), 1u);
    }
    engine.catalog = &loaded.catalog;
    rec.path = studio;

    // Without a catalog entry the record names the bundle and its program.
    engine.catalog = nullptr;
    ASSERT_TRUE(engine.remove("studio", "app", error)) << error;
    EXPECT_FALSE(exists(studio));
    EXPECT_TRUE(engine.apps.plugins.empty());
    EXPECT_EQ(logLines, std::vector<std::string>{"removed " + studio});
    EXPECT_EQ(readFile(engine.layout.appsReceiptFile()), tqm::receiptText(engine.apps));
}

// Root working for an account whose apps.json names an app of root's outside the applications
// folder: it neither removes nor replaces it, whatever id the record gives it.
TEST_F(RemoveTest, AnAccountsRecordNeverHasRootChangeAnotherAppOfRoots) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to work for another account's data folder";
    ASSERT_EQ(::chown(engine.layout.userData().c_str(), 65534, 65534), 0);
    const std::string studioZip = readFile(path("source/apps/Studio-1.0.0.zip"));
    const std::tuple<std::string, std::string, bool> cases[] = {  // id, where, an install (else a removal)
        {"victim", path("opt/Other.app"), false}, {"studio", path("opt/Studio.app"), false},
        {"studio", path("opt/Studio.app"), true}};
    for (const auto& [id, at, install] : cases) {
        SCOPED_TRACE(at);
        ASSERT_TRUE(writeFile(at + "/Contents/MacOS/Studio", "root's"));
        engine.apps.plugins[id].formats["app"] = {"1.0.0", at, "", "", "Studio", ""};
        std::string error;
        EXPECT_FALSE(install ? engine.installApp(*loaded.catalog.find(id), studioZip, error)
                             : engine.removeApp(id, error));
        EXPECT_EQ(error, at + " belongs to root and is not the copy the manager installs there, so apps.json "
                         "cannot have it changed: left alone");
        EXPECT_EQ(readFile(at + "/Contents/MacOS/Studio"), "root's");
        EXPECT_EQ(entryNames(path("opt")).size(), 1u);
        fs::remove_all(path("opt"));
    }
    // An update whose record names a copy of root's in an earlier install folder leaves that copy.
    const std::string earlier = path("old/VST3/Ardune Systems/Synth.vst3");
    ASSERT_TRUE(writeFile(earlier + "/Contents/MacOS/Synth", "root's"));
    record("synth", "vst3").path = earlier;
    std::string error;
    EXPECT_TRUE(engine.install(*loaded.catalog.find("synth"), "vst3",
                               readFile(path("source/plugins/Synth-1.0.0.vst3.zip")), error)) << error;
    EXPECT_EQ(readFile(earlier + "/Contents/MacOS/Synth"), "root's");
}

// A damaged record whose path passes a link inside the managed folders (the maker's folder itself,
// or a folder in it) never reaches through it: what lies outside stays, and so does the record.
TEST_F(RemoveTest, NeverReachesThroughALink) {
    struct Case {
        const char* what;
        std::string link, format, recorded, victim;
    } cases[] = {
        {"vendor_link_outside", vst3(), "vst3", vst3() + "/Synth.vst3", path("outside/Synth.vst3")},
        {"app_through_link", appsDir(), "app", appsDir() + "/Studio.app", path("outside/Studio.app")},
        {"a link in the apps folder", appsDir() + "/link", "app", appsDir() + "/link/Studio.app",
         path("outside/Studio.app")},
    };
    engine.catalog = nullptr;  // known only from the record
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(c.victim + "/Contents/MacOS/Studio", "x");
        const bool replaces = exists(c.link);
        if (replaces) fs::rename(c.link, c.link + ".real");
        fs::create_directory_symlink(path("outside"), c.link);
        tqm::InstalledFormat& rec = c.format == "app" ? engine.apps.plugins["studio"].formats["app"]
                                                      : record("synth", c.format);
        rec.path = c.recorded;
        std::string error;
        EXPECT_FALSE(engine.remove(c.format == "app" ? "studio" : "synth", c.format, error));
        EXPECT_EQ(error, c.recorded + ": a folder on the way is a link the user can change; not touched");
        EXPECT_TRUE(exists(c.victim + "/Contents/MacOS/Studio"));
        EXPECT_EQ(rec.path, c.recorded);
        fs::remove(c.link);
        if (replaces) fs::rename(c.link + ".real", c.link);
    }
}

TEST_F(RemoveTest, RunningAppIsRefused) {
    const std::string studio = appsDir() + "/Studio.app";
    const std::string program = studio + "/Contents/MacOS/Studio";
    RunningCopy running(program);
    ASSERT_GT(running.pid, 0);
    std::string error;
    EXPECT_FALSE(engine.removeApp("studio", error));
    EXPECT_EQ(error, "Studio is running (Studio is in use): quit it and try again");
    EXPECT_TRUE(exists(program));
}

TEST_F(RemoveTest, ItemThatCannotBeMovedStays) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
    // As another user the install folder is not writable: the move aside fails, nothing changes.
    pid_t child = fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(2);
        std::string error;
        bool refused = !engine.remove("synth", "vst3", error) &&
                       error.rfind("cannot remove " + vst3() + "/Synth.vst3: ", 0) == 0 &&
                       engine.receipt.plugins["synth"].formats.count("vst3") == 1;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(exists(vst3() + "/Synth.vst3/Contents/Info.plist"));
}

// A removal outside the managed folders, or an update of a copy in an earlier install folder, killed at
// each step of the protocol in turn: after the next start (whatever its umask) and job the copy lies
// where its record says and nowhere else, and nothing of the change is left.
TEST_F(RemoveTest, ARemovalCutOffOutsideTheManagedFoldersEndsRight) {
    const std::string earlier = path("old/VST3/Ardune Systems/Synth.vst3"), target = vst3() + "/Synth.vst3";
    const std::pair<tqm::Task, std::string> cases[] = {{{"remove", "studio", "app"}, path("opt/Studio.app")},
                                                       {{"remove", "synth", "vst3"}, earlier},
                                                       {{"install", "synth", "vst3"}, earlier}};
    fs::remove_all(appsDir() + "/Studio.app");
    for (const auto& [task, copy] : cases) {
        const bool isApp = task.format == "app";
        const std::string file = isApp ? engine.layout.appsReceiptFile() : engine.layout.receiptFile();
        for (int steps = 0, ended = 0; !ended; ++steps) {
            SCOPED_TRACE(task.op + " " + copy + ", killed at step " + std::to_string(steps));
            std::string error;
            for (const std::string& p : {fs::path(copy).parent_path().string(), target}) fs::remove_all(p);
            ASSERT_TRUE(writeFile(copy + "/Contents/MacOS/Studio", "x"));
            tqm::Receipt& r = isApp ? engine.apps : engine.receipt;
            r.plugins[task.id].formats[task.format].path = copy;
            ASSERT_TRUE(r.save(file, error)) << error;
            const pid_t child = ::fork();
            if (child == 0) {
                static int stepsLeft;  // steps of the protocol to let pass before it kills itself
                stepsLeft = steps;
                tqm::detail::renameFault = [](tqm::detail::RenameStep) { return stepsLeft-- ? 0 : ::raise(SIGKILL); };
                ::_exit(tqm::runTask(engine, task, nullptr, error) ? 0 : 1);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ended = WIFEXITED(status);
            EXPECT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0);
            tqm::Engine next;
            next.layout = engine.layout;
            const mode_t was = ::umask(0);
            next.startSweep();
            ::umask(was);
            struct stat st {};
            EXPECT_TRUE(::geteuid() != 0 || (::stat(file.c_str(), &st) == 0 && (st.st_mode & 022) == 0))
                << "root's umask";
            EXPECT_TRUE(next.sweep(&error) && next.loadReceipt(error)) << error;
            const tqm::Receipt& now = isApp ? next.apps : next.receipt;
            const auto product = now.plugins.find(task.id);
            std::vector<std::string> recorded, there;
            if (product != now.plugins.end() && product->second.formats.count(task.format))
                recorded.push_back(product->second.formats.at(task.format).path);
            for (const std::string& p : {copy, target})
                if (exists(p)) there.push_back(p);
            EXPECT_EQ(recorded, there);
            EXPECT_TRUE(now.left.empty());
            for (const std::string& dir : {fs::path(copy).parent_path().string(), vst3(), appsDir()})
                for (const std::string& name : entryNames(dir)) EXPECT_NE(name.rfind(".tqm-", 0), 0u) << dir;
        }
    }
}

// Nothing moves that could not be recorded, a copy deeper than the open-file limit goes whole, one its
// account cannot empty goes back still recorded; none says done over a copy left.
TEST_F(RemoveTest, ARemovalIsDoneOnlyOverACopyGone) {
    const std::string copy = vst3() + "/Synth.vst3", tunerZip = readFile(path("source/apps/Tuner-1.0.0.zip"));
    tqm::detail::DirFd fd(::open(copy.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int level = 0; level < 200; ++level) {  // one open folder at a time
        ASSERT_EQ(::mkdirat(fd.get(), "d", 0755), 0);
        fd = tqm::detail::DirFd(::openat(fd.get(), "d", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    const std::string denied = std::string(": ") + std::strerror(EACCES);
    const std::string apps = engine.layout.appsReceiptFile(), plugins = engine.layout.receiptFile();
    const auto removal = [&](const char* id, const char* format) {
        return [=, this](std::string& e) { return engine.remove(id, format, e); };
    };
    const struct {
        const char* what;
        bool other;   // as another account (65534), whose receipts' folder it is
        mode_t data;  // of the receipts' folder
        std::function<bool(std::string&)> task;
        std::string error;  // empty: done
    } cases[] = {
        {"an app's install", true, 0555,
         [&](std::string& e) { return engine.installApp(*loaded.catalog.find("tuner"), tunerZip, e); },
         "cannot write " + apps + denied},
        {"an app's removal", true, 0555, removal("studio", "app"), "cannot write " + apps + denied},
        {"a plug-in's removal", true, 0555, removal("synth", "vst3"), "cannot write " + plugins + denied},
        {"a copy the account cannot empty", true, 0755, removal("synth", "vst3"), "cannot remove " + copy + denied},
        {"200 folders deep, 64 open files", false, 0755, removal("synth", "vst3"), ""},
    };
    const std::vector<std::string> appsThere = entryNames(appsDir());
    std::vector<std::string> skipped;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.other && ::geteuid() != 0) {
            skipped.push_back(c.what);
            continue;
        }
        for (const std::string& open : {temp.dir(), path("root"), path("source")}) ::chmod(open.c_str(), 0755);
        for (const std::string& shared : {vst3(), appsDir()}) ::chmod(shared.c_str(), c.other ? 0777 : 0755);
        ::chmod(engine.layout.userData().c_str(), c.data);
        ASSERT_TRUE(!c.other || ::chown(engine.layout.userData().c_str(), 65534, 65534) == 0);
        const pid_t child = ::fork();
        if (child == 0) {
            const struct rlimit few {64, 64};
            std::string error;
            const bool ok = (!c.other || (::setgid(65534) == 0 && ::setuid(65534) == 0)) &&
                            ::setrlimit(RLIMIT_NOFILE, &few) == 0 && c.task(error) == c.error.empty() &&
                            error == c.error;
            if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
            ::_exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(exists(copy + "/d/d/d"), !c.error.empty());
        EXPECT_EQ(entryNames(vst3()).size(), c.error.empty() ? 0u : 1u);
        EXPECT_EQ(entryNames(appsDir()), appsThere);
        std::string error;
        ASSERT_TRUE(engine.loadReceipt(error)) << error;
        EXPECT_EQ(engine.receipt.plugins["synth"].formats.count("vst3"), c.error.empty() ? 0u : 1u);
    }
    if (!skipped.empty()) GTEST_SKIP() << "needs root to act as another account: " << ::testing::PrintToString(skipped);
}

// A sweep that cannot delete a removal's aside copy keeps its note, so later ones never put it back.
TEST_F(RemoveTest, ASweepKeepsTheNoteOfACopyItCouldNotDelete) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to leave a folder its account cannot empty";
    const std::string name = vst3() + "/Synth.vst3", aside = vst3() + "/.tqm-old-0000beef-Synth.vst3";
    for (const std::string& open : {temp.dir(), path("root")}) ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(vst3().c_str(), 0777), 0);
    fs::rename(name, aside);
    ASSERT_TRUE(writeFile(vst3() + "/.tqm-record-0000beef", "{\"op\": \"remove\", \"id\": \"synth\", \"format\": "
                          "\"vst3\", \"path\": \"" + name + "\", \"recorded\": \"" + name + "\"}\n"));
    std::vector<std::string> theirs{aside, vst3() + "/.tqm-record-0000beef", engine.layout.userData()};
    for (const auto& e : fs::recursive_directory_iterator(engine.layout.userData())) theirs.push_back(e.path());
    for (const std::string& entry : theirs) ASSERT_EQ(::lchown(entry.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(asUser(65534, [&] {
        tqm::Engine e;
        e.layout = engine.layout;
        const std::vector<tqm::Task> job{{"remove", "synth", "vst3"}};
        std::string why;
        const bool swept = e.sweep(&why, &job) && e.sweep(&why, &job);
        if (!swept) std::fprintf(stderr, "%s\n", why.c_str());
        return swept;
    }));
    EXPECT_FALSE(exists(name));
    EXPECT_TRUE(exists(aside + "/Contents/Info.plist"));
}

}  // namespace
