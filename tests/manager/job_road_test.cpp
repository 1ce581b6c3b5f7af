// Jobs that are stopped while they download, and jobs that go through the elevated helper: a
// second process of this program started by a plain launcher in place of the administrator
// prompt, exchanging the job file and the result file with the worker.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "engine/install_folder.h"
#include "engine/jobs.h"
#include "engine/running.h"
#include "tests/manager/model_fixture.h"
#include "tests/support/lock_holder.h"
#include "tests/support/processes.h"

namespace fs = std::filesystem;
using namespace testsupport;

// The helper in this program verifies the cached catalog with the test's key, handed down in
// the environment; without it the built-in keys apply.
const char* tqm::helperKeysOverride() { return std::getenv("TQM_TEST_HELPER_KEYS"); }

namespace {

class JobRoad : public ModelTest {
protected:
    void TearDown() override { ::unsetenv("TQM_TEST_HELPER_KEYS"); }

    // A configuration whose VST3 folder is blocked by a file (blocked gets its path), so that
    // jobs go to the helper in this program; the catalog of version 1.0.0 published.
    tqapp::Config elevated(std::string& blocked) {
        catalog.publish(catalogText("1.0.0"));
        ::setenv("TQM_TEST_HELPER_KEYS", catalog.publicKeyHex().c_str(), 1);
        tqapp::Config c = config();
        c.program = tqm::runningProgram();
        blocked = c.layout.formatDir("vst3");
        writeFile(blocked, "in the way");
        return c;
    }


    // Everything the disk holds below the root (or below folder), for before-and-after
    // comparisons (the log and the job files aside).
    std::vector<std::string> tree(const std::string& folder = "") const {
        std::vector<std::string> out;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(folder.empty() ? path("root") : folder, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            const std::string p = it->path().string();
            if (p.find("/logs") == std::string::npos) out.push_back(p + " " + (it->is_regular_file() ? readFile(p) : ""));
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

// A stop while a package downloads ends the job as stopped and leaves the disk as it was: from a
// folder, from the web, and from a server that has stopped sending half-way.
TEST_F(JobRoad, StopDuringADownload) {
    const std::string text = catalogText("1.0.0");
    catalog.publish(text);
    LoopbackServer server;
    ASSERT_TRUE(server.ok());
    for (const char* rel : {"catalog.json", "catalog.json.sig", "plugins/Delay-1.0.0.vst3.zip"})
        server.serveFile(rel, readFile(catalog.source() + "/" + rel));
    LoopbackServer::Reply stalled;
    const std::string zip = readFile(catalog.source() + "/plugins/Synth-1.0.0.vst3.zip");
    stalled.body = zip.substr(0, zip.size() / 2);
    stalled.announce = int64_t(zip.size());
    stalled.stall = true;
    server.serve("plugins/Synth-1.0.0.vst3.zip", stalled);

    // The user stops the job at a progress text: before the first download, after the first
    // package, or half-way through the second, which then stalls.
    auto partWay = [](const std::string& t) {
        return t.rfind("Downloading ", 0) == 0 && std::stoi(t.substr(12)) > 33;
    };
    struct Case {
        const char* what;
        bool web;
        std::function<bool(const std::string&)> stopAt;
    } cases[] = {{"folder", false, [](const std::string& t) { return t == "Starting"; }},
                 {"web", true, [](const std::string& t) { return t == "Downloading 33 %"; }},
                 {"stalled", true, partWay}};
    for (const Case& c : cases) {
        tqapp::Config cfg = config();
        if (c.web) cfg.source = server.url();
        tqapp::Model& m = ready(cfg);
        ASSERT_TRUE(runJob({{"install", "delay", "vst3"}}));  // something installed before
        const std::vector<std::string> before = tree();
        watch = [&](tqapp::Model& model) {
            if (model.stoppable && c.stopAt(model.progressText)) *model.cancel = true;
        };
        ASSERT_TRUE(runJob({{"install", "delay", "vst3"}, {"install", "synth", "vst3"}, {"remove", "delay", "vst3"}}))
            << c.what;
        watch = nullptr;
        EXPECT_TRUE(m.cancelled) << c.what;
        EXPECT_FALSE(m.ok) << c.what;
        EXPECT_EQ(m.note, "Cancelled") << c.what;
        EXPECT_TRUE(m.failed.empty()) << c.what;
        EXPECT_EQ(tree(), before) << c.what;
        const std::string log = logText();
        const std::string tail = log.substr(log.rfind("  job: "));
        EXPECT_EQ(tail.substr(tail.size() - 12), "  cancelled\n") << c.what;
        EXPECT_EQ(tail.find(": cancelled"), std::string::npos) << tail;  // the failed download's line is dropped
        fs::remove_all(path("root"));
    }
}

// Once the downloads are done the job cannot be stopped any more.
TEST_F(JobRoad, AStopAfterTheDownloadsChangesNothing) {
    catalog.publish(catalogText("1.0.0"));
    tqapp::Model& m = ready(config());
    watch = [](tqapp::Model& model) {
        if (model.progressText == "Installing") {
            EXPECT_FALSE(model.stoppable);
            *model.cancel = true;
        }
    };
    ASSERT_TRUE(runJob({{"install", "synth", "vst3"}}));
    EXPECT_TRUE(m.ok);
    EXPECT_FALSE(m.cancelled);
    EXPECT_TRUE(exists(m.config.layout.formatDir("vst3") + "/Synth.vst3"));
}

// A second copy's job waits for another copy's job on the data folder, or sweep of a folder it
// changes, saying so, and may be stopped meanwhile (it changes nothing); when the other ends, it runs.
// A wait for the receipt once the job has begun is shown with no Stop, which the job would not hear.
// The same when the job goes through the elevated helper.
TEST_F(JobRoad, ASecondCopyWaitsForAnotherCopysWorkAndSaysSo) {
    catalog.publish(catalogText("1.0.0"));
    enum Held { Job, Sweep, Receipt };
    const struct {
        const char* what;
        Held held;  // the other copy's job lock, its claim on the VST3 folder, or the receipt's lock
        bool helper, stop;
    } cases[] = {{"a job, here, waited", Job, false, false},       {"a job, here, stopped", Job, false, true},
                 {"a job, in the helper, waited", Job, true, false}, {"a job, in the helper, stopped", Job, true, true},
                 {"a sweep, here, stopped", Sweep, false, true},   {"a receipt, here", Receipt, false, false},
                 {"a receipt, in the helper", Receipt, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string blocked;
        tqapp::Config cfg = c.helper ? elevated(blocked) : config();
        if (c.helper) cfg.prompt = {"/bin/sh", "-c", "rm -f \"$0\" && exec \"$@\"", blocked};
        tqapp::Model& m = ready(cfg);
        const std::string dir = m.config.layout.formatDir("vst3");
        const std::string lock = c.held == Job     ? m.config.layout.userData() + "/job.lock"
                                 : c.held == Sweep ? dir + "/.tqm-claim"
                                                   : m.config.layout.receiptFile() + ".lock";
        const std::string why = "Waiting for another copy of the manager to finish " +
                                (c.held == Job ? "its job" : c.held == Sweep ? "sweeping " + dir : "writing installed.json");
        ASSERT_TRUE(writeFile(lock, "") && ::chmod(lock.c_str(), 0600) == 0);
        LockHolder other(lock, ::geteuid());
        ASSERT_TRUE(other.took());
        bool shown = false, stoppableOnceBegun = false;
        watch = [&](tqapp::Model& model) {
            // Once the job has begun after its wait, it runs to its end.
            if (shown && model.progressText == "Installing") stoppableOnceBegun |= model.stoppable;
            if (shown || model.progressText != why) return;
            shown = true;
            EXPECT_EQ(model.stoppable, c.held != Receipt);
            EXPECT_TRUE(model.waiting);
            if (c.stop)
                *model.cancel = true;
            else
                other.release();
        };
        ASSERT_TRUE(runJob({{"install", "synth", "vst3"}}));
        watch = nullptr;
        EXPECT_TRUE(shown);
        EXPECT_FALSE(stoppableOnceBegun);
        EXPECT_EQ(m.ok, !c.stop) << m.note;
        EXPECT_EQ(m.cancelled, c.stop);
        EXPECT_EQ(exists(dir + "/Synth.vst3"), !c.stop);
        if (c.held == Job) {
            const auto waited = std::find_if(progress.begin(), progress.end(), [&](const Progress& p) { return p.text == why; });
            EXPECT_EQ(std::any_of(waited, progress.end(), [](const Progress& p) { return p.text == "Installing"; }), !c.stop);
        }
        fs::remove_all(path("root"));
    }
}

// A folder at the job lock's name fails the job with its own sentence, here and in the helper: it
// is not another copy's job, and waiting for one would not mend it.
TEST_F(JobRoad, AFolderAtTheJobLocksNameIsNotAnotherCopysJob) {
    catalog.publish(catalogText("1.0.0"));
    for (const bool helper : {false, true}) {
        SCOPED_TRACE(helper ? "in the helper" : "here");
        std::string blocked;
        tqapp::Config c = helper ? elevated(blocked) : config();
        if (helper) c.prompt = {"/bin/sh", "-c", "rm -f \"$0\" && exec \"$@\"", blocked};
        tqapp::Model& m = ready(c);
        const std::string lock = m.config.layout.userData() + "/job.lock";
        fs::create_directories(lock);
        ASSERT_TRUE(runJob({{"install", "synth", "vst3"}}));
        EXPECT_FALSE(m.ok);
        EXPECT_EQ(m.note, lock + " is a folder, not a lock file: remove it and try again");
        EXPECT_FALSE(exists(m.config.layout.formatDir("vst3") + "/Synth.vst3"));
        fs::remove_all(path("root"));
    }
}

// A second copy's job that waits for the first copy's job touches nothing of it: the first copy's
// job is held between the renames of an update (its staging folder full, the old copy aside, its
// note written) or while it waits to record its install (its note written); while the second copy
// says that it waits, everything of the first's is as it was, and the first then ends ok with a
// whole copy.
TEST_F(JobRoad, ASecondCopyLeavesTheFirstsJobAsItIsWhileItWaits) {
    catalog.publish(catalogText("1.0.0"));
    struct Case {
        const char* what;
        bool update;  // an update held between its renames, else an install held before its record
    } cases[] = {{"held between the renames of an update", true}, {"held before it records its install", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tqapp::Model& m = ready(config());
        const tqm::Layout layout = m.config.layout;
        const std::string dir = layout.formatDir("vst3"), receiptLock = layout.receiptFile() + ".lock";
        if (c.update) {
            ASSERT_TRUE(runJob({{"install", "synth", "vst3"}}));
        }
        std::unique_ptr<LockHolder> writer;  // another copy writing the receipt, until the first waits for it
        if (!c.update) {
            ASSERT_TRUE(writeFile(receiptLock, ""));
            ASSERT_EQ(::chmod(receiptLock.c_str(), 0600), 0);
            writer = std::make_unique<LockHolder>(receiptLock, ::geteuid());
            ASSERT_TRUE(writer->took());
        }
        const pid_t first = fork();
        if (first == 0) {
            if (c.update)
                tqm::detail::renameFault = [](tqm::detail::RenameStep step) {
                    if (step == tqm::detail::RenameStep::In) ::raise(SIGSTOP);
                    return 0;
                };
            tqm::Engine e;
            e.layout = layout;
            const tqm::Source source{catalog.source()};
            e.source = &source;
            e.catalog = &m.catalog->catalog;
            e.waiting = [](const std::string&) { return ::raise(SIGSTOP) == 0; };
            std::string error;
            const auto lock = tqm::beginJob(e, layout.userData(), error);
            if (!lock) _exit(2);
            _exit(tqm::runTask(e, {"install", "synth", "vst3"}, nullptr, error) && readFile(dir + "/Synth.vst3/Contents/Info.plist") == "vst3 1.0.0" &&
                          exists(dir + "/Synth.vst3/Contents/MacOS/Synth")
                      ? 0
                      : 1);
        }
        ASSERT_TRUE(awaitTrue([&] { return stopped(first); }));
        writer.reset();
        const std::vector<std::string> held = tree(dir);
        bool shown = false;
        watch = [&](tqapp::Model& model) {
            if (shown || model.progressText != "Waiting for another copy of the manager to finish its job") return;
            shown = true;
            EXPECT_EQ(tree(dir), held) << "the second copy's job changed what the first's holds";
            ::kill(first, SIGCONT);
        };
        ASSERT_TRUE(runJob({{"install", "delay", "vst3"}}));
        watch = nullptr;
        if (!shown) ::kill(first, SIGCONT);
        int status = 0;
        ASSERT_EQ(waitpid(first, &status, 0), first);
        EXPECT_TRUE(shown);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the first copy's job did not end ok and whole";
        EXPECT_TRUE(m.ok) << m.note;
        fs::remove_all(path("root"));
    }
}

// A folder that this process cannot write sends every engine task of the job to the helper.
// The launcher stands in for the administrator prompt: it clears what blocks the folder (what
// rights would do) and runs the helper's command as it is.
TEST_F(JobRoad, ElevatedJob) {
    std::string blocked;
    tqapp::Config c = elevated(blocked);
    c.prompt = {"/bin/sh", "-c", "rm -f \"$0\" && exec \"$@\"", blocked};
    tqapp::Model& m = ready(c);
    bool asked = false;  // the wait for permission shown, as a wait
    watch = [&](tqapp::Model& model) {
        asked = asked || (model.progressText == "Waiting for permission" && model.waiting);
    };
    ASSERT_TRUE(runJob({{"install", "synth", "vst3"}, {"install", "studio", "app"}}, "Installing", "Installed"));
    watch = nullptr;
    EXPECT_TRUE(m.ok) << m.note;
    EXPECT_EQ(m.note, "Installed");
    EXPECT_TRUE(asked);
    EXPECT_EQ(readFile(blocked + "/Synth.vst3/Contents/Info.plist"), "vst3 1.0.0");
    EXPECT_TRUE(exists(m.config.layout.appsDir() + "/Studio.app"));
    EXPECT_EQ(m.receipt.plugins["synth"].formats["vst3"].version, "1.0.0");
    const std::string log = logText();
    EXPECT_NE(log.find("    install synth vst3: ok\n"), std::string::npos) << log;
    EXPECT_NE(log.find("    install studio app: ok\n"), std::string::npos) << log;

    // Refused at the prompt: the helper's error, every id of the job marked.
    writeFile(blocked + "-x", "");
    m.config.prompt = {"/bin/sh", "-c", "exit 126"};
    fs::remove_all(blocked);
    writeFile(blocked, "in the way");
    ASSERT_TRUE(runJob({{"remove", "synth", "vst3"}, {"remove", "studio", "app"}}));
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.note, "cancelled at the administrator prompt");
    EXPECT_EQ(m.failed, (std::map<std::string, int32_t>{{"studio", 1}, {"synth", 1}}));
    EXPECT_TRUE(exists(m.config.layout.appsDir() + "/Studio.app"));

    // A catalog the helper's keys (here the built-in ones) do not verify: said before the downloads
    // and the prompt, and not offered again.
    ::unsetenv("TQM_TEST_HELPER_KEYS");
    m.config.prompt = {"/bin/sh", "-c", "echo > \"$0\"", path("asked")};
    ASSERT_TRUE(runJob({{"install", "delay", "vst3"}}));
    EXPECT_EQ(m.note, "Needs admin rights: not with --pub");
    EXPECT_FALSE(m.retryable);
    EXPECT_FALSE(exists(m.config.layout.userData() + "/cache/packages/Delay-1.0.0.vst3.zip"));
    EXPECT_FALSE(exists(path("asked")));
}

// The elevated helper checks the cached packages again: one damaged after the download fails its
// task there, though this process hashed each package only once. A helper that finds no catalog
// names no task: every id of the job is marked.
TEST_F(JobRoad, TheElevatedRoadChecksAgain) {
    std::string blocked;
    tqapp::Config c = elevated(blocked);
    const std::string cache = c.layout.userData() + "/cache";
    // Before the helper starts, the launcher unblocks the folder and damages one file.
    auto launcher = [&](const std::string& damaged) {
        return std::vector<std::string>{"/bin/sh", "-c", "rm -f \"$0\" && printf x >> \"$1\" && shift && exec \"$@\"",
                                        blocked, damaged};
    };
    c.prompt = launcher(cache + "/packages/Synth-1.0.0.vst3.zip");
    tqapp::Model& m = ready(c);
    std::map<size_t, int> want;
    for (const char* id : {"synth", "studio"})
        ++want[m.catalog->catalog.find(id)->package(id == std::string("synth") ? "vst3" : "app", "mac")->size];
    {
        HashCount count;
        ASSERT_TRUE(runJob({{"install", "synth", "vst3"}, {"install", "studio", "app"}}));
        for (const auto& [size, n] : want) EXPECT_EQ(count.of(size), n) << size << " bytes";
    }
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.note, "plugins/Synth-1.0.0.vst3.zip does not match the catalog: not installed");
    EXPECT_EQ(m.failed, (std::map<std::string, int32_t>{{"synth", 1}}));
    EXPECT_FALSE(exists(blocked + "/Synth.vst3"));
    EXPECT_TRUE(exists(m.config.layout.appsDir() + "/Studio.app"));

    fs::remove_all(blocked);
    writeFile(blocked, "in the way");
    m.config.prompt = launcher(cache + "/catalog.json");
    ASSERT_TRUE(runJob({{"install", "delay", "vst3"}, {"remove", "studio", "app"}}));
    EXPECT_FALSE(m.ok);
    EXPECT_FALSE(m.note.empty());
    EXPECT_EQ(m.failed, (std::map<std::string, int32_t>{{"delay", 1}, {"studio", 1}, {"synth", 1}}));
    EXPECT_TRUE(exists(m.config.layout.appsDir() + "/Studio.app"));
}

}  // namespace
