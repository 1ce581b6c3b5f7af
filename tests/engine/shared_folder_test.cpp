// Several copies of the manager on one data folder, for real: two copies run jobs in a loop (one
// killed at random moments, one stopped for longer than any wait) while a third starts over and
// over. Each job, once it holds the job lock and has swept, checks that every record agrees with
// the disk and every recorded copy is whole; so does the end. Then what no job lock keeps out: a
// second data folder whose settings name the same install folder, a manager's start in the
// folder where apps stage, and another copy's update of itself there.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <iostream>
#include <random>
#include <thread>

#include "engine/atomic_write.h"
#include "engine/catalog.h"
#include "engine/install_folder.h"
#include "engine/jobs.h"
#include "tests/support/job_fixture.h"
#include "tests/support/processes.h"

using namespace testsupport;
using Clock = std::chrono::steady_clock;

namespace {

struct Item {
    const char *id, *format, *item, *exe, *marker;  // marker: the Info.plist text before the version
};
const Item kItems[] = {{"synth", "vst3", "Synth.vst3", "Synth", "vst3 "},
                       {"synth", "clap", "Synth.clap", "Synth", "clap "},
                       {"studio", "app", "Studio.app", "Studio", "Studio "},
                       {"tuner", "app", "Tuner.app", "Tuner", "Tuner "}};
constexpr auto kWait = std::chrono::milliseconds(1000);  // every wait of a job gives up after this

class SharedFolder : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        publishTwoVersions();
    }

    static const tqm::InstalledFormat* record(const tqm::Engine& e, const Item& it) {
        const auto& plugins = (std::string(it.format) == "app" ? e.apps : e.receipt).plugins;
        const auto product = plugins.find(it.id);
        if (product == plugins.end() || !product->second.formats.count(it.format)) return nullptr;
        return &product->second.formats.at(it.format);
    }

    // How many items the receipts and the disk disagree on.
    static long disagreements(const tqm::Engine& e) {
        long count = 0;
        for (const Item& it : kItems) {
            const std::string dir = e.layout.formatDir(it.format) + "/" + it.item;
            const tqm::InstalledFormat* rec = record(e, it);
            count += rec ? readFile(dir + "/Contents/Info.plist") != it.marker + rec->version ||
                               !exists(dir + "/Contents/MacOS/" + it.exe)
                         : exists(dir);
        }
        return count;
    }

    // One copy's jobs on the data folder of layout until killed: job lock, receipts, sweep, check,
    // one install, update or removal, and the check again when it reports ok. Its figures (tasks,
    // gave up, mismatches) go to file after each job.
    [[noreturn]] void jobs(const tqm::Layout& layout, const std::string& file, unsigned seed) {
        std::mt19937 random(seed);
        long tasks = 0, gaveUp = 0, mismatches = 0;
        for (std::string error;; error.clear()) {
            tqm::Engine e;
            e.layout = layout;
            e.source = &source;
            e.catalog = &versions[random() % 2].catalog;
            e.waiting = [until = Clock::now() + kWait](const std::string&) { return Clock::now() < until; };
            if (const auto lock = tqm::beginJob(e, e.layout.userData(), error)) {
                mismatches += disagreements(e);
                const Item& it = kItems[random() % 4];
                const bool removal = record(e, it) && random() % 2;
                if (tqm::runTask(e, {removal ? "remove" : "install", it.id, it.format}, nullptr, error))
                    mismatches += disagreements(e);
                ++tasks;
            } else {
                ++gaveUp;
            }
            writeFigures(file, tasks, gaveUp, mismatches);
        }
    }

    // Another copy's updates of the manager's bundle until killed, each checked whole once it
    // reports ok; figures as above.
    [[noreturn]] void selfUpdates(const std::string& bundle, const std::string& file) {
        long tasks = 0, mismatches = 0;
        for (std::string error;; error.clear()) {
            tqm::Engine e;
            e.layout = engine.layout;
            e.source = &source;
            e.catalog = &versions[++tasks % 2].catalog;
            e.program = bundle;
            if (tqm::runTask(e, {"self", "manager", "app"}, nullptr, error))
                mismatches += !wholeBundle(bundle, e.catalog->manager_latest);
            writeFigures(file, tasks, 0, mismatches);
        }
    }

    static bool wholeBundle(const std::string& bundle, const std::string& version) {
        return readFile(bundle + "/Contents/Info.plist") == "manager " + version &&
               exists(bundle + "/Contents/MacOS/manager");
    }

    static void writeFigures(const std::string& file, long tasks, long gaveUp, long mismatches) {
        std::string error;
        tqm::writeFileAtomic(file, std::to_string(tasks) + " " + std::to_string(gaveUp) + " " + std::to_string(mismatches),
                             0644, false, error);
    }

    // The figures of every file named, added up.
    std::array<long, 3> sumFigures(const std::vector<std::string>& files) const {
        std::array<long, 3> sum{};
        for (const std::string& file : files) {
            std::istringstream figures(readFile(file));
            for (long& s : sum) {
                long f = 0;
                figures >> f;
                s += f;
            }
        }
        return sum;
    }

    // The run's span: 8 s, and on a loaded machine as long as it takes (a minute at most) for the
    // copies' figures (files) to show at least `least` tasks.
    bool running(Clock::time_point end, const std::function<std::vector<std::string>()>& files, long least) const {
        const auto now = Clock::now();
        return now < end || (now < end + std::chrono::seconds(60) && sumFigures(files())[0] < least);
    }

    std::vector<std::string> figureFiles(int copies) const {
        std::vector<std::string> files;
        for (int n = 0; n < copies; ++n) files.push_back(path("figures-" + std::to_string(n)));
        return files;
    }

    // Another data folder, whose CLAP folder is this one's VST3 folder (each keeps its own items there).
    tqm::Layout secondDataFolder() const {
        tqm::Layout second;
        second.root = path("root2");
        second.folders["clap"] = engine.layout.formatRoot("vst3");
        return second;
    }

    // What a start of the manager whose bundle lies in the applications folder does first.
    void startOf(const tqm::Layout& layout, const std::string& bundle) const {
        tqm::Engine e;
        e.layout = layout;
        e.sweepSelf(bundle);
        e.startSweep();
    }

    // The next start and the next job's sweep of a data folder; answers its disagreements then.
    long lastLook(const tqm::Layout& layout) const {
        tqm::Engine last;
        last.layout = layout;
        last.startSweep();
        std::string error;
        const auto lock = tqm::beginJob(last, last.layout.userData(), error);
        EXPECT_TRUE(lock) << error;
        return disagreements(last);
    }

    pid_t spawn(const std::function<void()>& body) {
        const pid_t pid = fork();
        if (pid == 0) {
            body();
            _exit(0);
        }
        return pid;
    }

};

TEST_F(SharedFolder, JobsOfSeveralCopiesKilledAndStoppedKeepRecordsAndDiskInStep) {
    int copies = 0;
    const auto startCopy = [&] {
        const int n = copies++;
        return spawn([&, n] { jobs(engine.layout, path("figures-" + std::to_string(n)), 1000u + unsigned(n)); });
    };
    const pid_t stopped = startCopy(), starter = spawn([&] {
        for (;;) {
            tqm::Engine e;
            e.layout = engine.layout;
            e.startSweep();
        }
    });
    pid_t killed = startCopy();

    std::mt19937 random(20261208);
    int kills = 0, stops = 0;
    Clock::time_point resume{};
    for (const auto end = Clock::now() + std::chrono::seconds(8); running(end, [&] { return figureFiles(copies); }, 20);) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 200));
        if (resume == Clock::time_point() && Clock::now() < end &&
            Clock::now() >= end - std::chrono::seconds(6 - 2 * stops)) {
            ::kill(stopped, SIGSTOP);  // longer than any wait
            resume = Clock::now() + kWait * 3 / 2;
            ++stops;
        } else if (resume != Clock::time_point() && Clock::now() >= resume) {
            ::kill(stopped, SIGCONT);
            resume = {};
        }
        ::kill(killed, SIGKILL);
        ASSERT_EQ(waitpid(killed, nullptr, 0), killed);
        ++kills;
        killed = startCopy();
    }
    for (const pid_t pid : {killed, stopped, starter}) {
        ::kill(pid, SIGKILL);
        ::kill(pid, SIGCONT);
        ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
    }

    // The next start and the next job's sweep, then the last look.
    const long atTheEnd = lastLook(engine.layout);
    const std::array<long, 3> sum = sumFigures(figureFiles(copies));  // tasks, waits given up, mismatches
    std::cout << "tasks " << sum[0] << ", waits given up " << sum[1] << ", kills " << kills << ", stops " << stops
              << ", mismatches " << sum[2] << " during and " << atTheEnd << " at the end\n";
    EXPECT_EQ(sum[2], 0);
    EXPECT_EQ(atTheEnd, 0);
    EXPECT_GE(sum[0], 20);
    EXPECT_GE(stops, 2);
}

// A job held just before it moves its new copy in (its staging folder full, its note written, the
// old copy aside when it updates) while a sweep runs that no job lock keeps out: a manager's start
// whose bundle lies in the applications folder, and the job of another data folder whose settings
// name the same install folder. The held job then reports ok and leaves a whole copy.
TEST_F(SharedFolder, ASweepBesideALiveStagingLeavesItWhole) {
    const tqm::Layout second = secondDataFolder();
    const std::string bundle = appsDir() + "/Manager.app";
    const auto start = [&] { startOf(engine.layout, bundle); };
    const auto secondsJob = [&] {
        tqm::Engine e;
        e.layout = second;
        std::string error;
        ASSERT_TRUE(tqm::beginJob(e, second.userData(), error)) << error;
    };
    struct Case {
        const char* what;
        tqm::Task task;
        std::function<void()> sweep;
        std::string copy, marker, exe;  // the copy, its Info.plist text and program once the job has run
    } cases[] = {
        {"an app install beside a start", {"install", "studio", "app"}, start, appsDir() + "/Studio.app",
         "Studio 2.0.0", "Studio"},
        {"another copy's update of itself beside a start", {"self", "manager", "app"}, start, bundle,
         "manager 2.0.0", "manager"},
        {"a plug-in install beside another data folder's job", {"install", "synth", "vst3"}, secondsJob,
         vst3() + "/Synth.vst3", "vst3 2.0.0", "Synth"},
        {"a plug-in update beside another data folder's job", {"install", "synth", "vst3"}, secondsJob,
         vst3() + "/Synth.vst3", "vst3 2.0.0", "Synth"},
    };
    writeFile(bundle + "/Contents/Info.plist", "manager 1.0.0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const pid_t job = spawn([&] {
            tqm::detail::renameFault = [](tqm::detail::RenameStep step) {
                if (step == tqm::detail::RenameStep::In) ::raise(SIGSTOP);
                return 0;
            };
            tqm::Engine e = engine;
            e.catalog = &versions[1].catalog;
            e.program = bundle;
            std::string error;
            _exit(e.loadReceipt(error) && tqm::runTask(e, c.task, nullptr, error) ? 0 : 1);
        });
        ASSERT_TRUE(awaitTrue([&] { return stopped(job); }));
        c.sweep();
        ::kill(job, SIGCONT);
        int status = 0;
        ASSERT_EQ(waitpid(job, &status, 0), job);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the job did not report ok";
        EXPECT_EQ(readFile(c.copy + "/Contents/Info.plist"), c.marker);
        EXPECT_TRUE(exists(c.copy + "/Contents/MacOS/" + c.exe));
    }
}

// A job killed after moving its copy in and before recording it leaves its note in an install
// folder that another data folder's settings name too, as another format or as the same one: that
// data folder's job and start leave the note alone and record nothing of it, and the killed job's
// own data folder's next start records the copy.
TEST_F(SharedFolder, AKilledJobsNoteIsRecordedByItsOwnDataFolderOnly) {
    tqm::Layout sameFormat = secondDataFolder();
    sameFormat.folders.erase("clap");
    sameFormat.folders["vst3"] = engine.layout.formatRoot("vst3");
    const auto recorded = [](const tqm::Layout& layout) {
        tqm::Engine e;
        e.layout = layout;
        std::string error;
        EXPECT_TRUE(e.loadReceipt(error)) << error;
        const auto it = e.receipt.plugins.find("synth");
        return it == e.receipt.plugins.end() || !it->second.formats.count("vst3") ? std::string()
                                                                                 : it->second.formats.at("vst3").version;
    };
    const auto notes = [&] {
        int n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(vst3()))
            n += entry.path().filename().string().rfind(".tqm-record-", 0) == 0;
        return n;
    };
    for (const tqm::Layout& second : {secondDataFolder(), sameFormat}) {
        SCOPED_TRACE(second.folders.count("vst3") ? "the same format" : "another format");
        std::string error;
        if (!recorded(engine.layout).empty()) {
            ASSERT_TRUE(engine.loadReceipt(error) && tqm::runTask(engine, {"remove", "synth", "vst3"}, nullptr, error))
                << error;
        }
        {
            // The receipt's lock is held, so the job stops where it would record, and is killed there.
            const tqm::FileLock receipt(engine.layout.receiptFile() + ".lock", std::chrono::milliseconds(0));
            ASSERT_TRUE(receipt.held());
            const pid_t job = spawn([&] {
                tqm::Engine e = engine;
                e.catalog = &versions[1].catalog;
                e.waiting = [](const std::string&) { return ::raise(SIGSTOP) == 0; };
                std::string failed;
                _exit(tqm::runTask(e, {"install", "synth", "vst3"}, nullptr, failed) ? 0 : 1);
            });
            ASSERT_TRUE(awaitTrue([&] { return stopped(job); }));
            ::kill(job, SIGKILL);
            ASSERT_EQ(waitpid(job, nullptr, 0), job);
        }
        ASSERT_EQ(notes(), 1);
        ASSERT_EQ(readFile(vst3() + "/Synth.vst3/Contents/Info.plist"), "vst3 2.0.0");

        startOf(second, appsDir() + "/Manager.app");
        tqm::Engine other;
        other.layout = second;
        {
            std::string error;
            ASSERT_TRUE(tqm::beginJob(other, second.userData(), error)) << error;
        }
        EXPECT_EQ(notes(), 1) << "another data folder's sweep took the note";
        EXPECT_EQ(recorded(second), "") << "another data folder recorded the copy";
        EXPECT_EQ(recorded(engine.layout), "");

        startOf(engine.layout, appsDir() + "/Manager.app");
        EXPECT_EQ(recorded(engine.layout), "2.0.0");
        EXPECT_EQ(notes(), 0);
    }
}

// Two data folders whose settings name one install folder, each with its own jobs (the first's
// killed at random moments), a manager whose bundle lies in the first's applications folder
// updated by another copy over and over, and its start run over and over beside them all.
TEST_F(SharedFolder, TwoDataFoldersStartsAndSelfUpdatesOnSharedFoldersKeepRecordsAndDiskInStep) {
    const tqm::Layout second = secondDataFolder();
    const std::string bundle = appsDir() + "/Manager.app";
    writeFile(bundle + "/Contents/Info.plist", "manager 1.0.0");
    writeFile(bundle + "/Contents/MacOS/manager", "manager 1.0.0");
    int copies = 0;
    const auto startCopy = [&] {
        const int n = copies++;
        return spawn([&, n] { jobs(engine.layout, path("figures-" + std::to_string(n)), 2000u + unsigned(n)); });
    };
    const pid_t others = spawn([&] { jobs(second, path("figures-second"), 3000u); }),
                updater = spawn([&] { selfUpdates(bundle, path("figures-self")); }),
                starter = spawn([&] {
                    for (;;) startOf(engine.layout, bundle);
                });
    pid_t killed = startCopy();

    // The second data folder's jobs go on all the while: the notes a killed job leaves name its own
    // data folder's receipt, so their sweeps leave them for the killed copy's next start or job.
    std::mt19937 random(20261209);
    int kills = 0;
    const auto files = [&] {
        std::vector<std::string> all = figureFiles(copies);
        all.push_back(path("figures-second"));
        return all;
    };
    for (const auto end = Clock::now() + std::chrono::seconds(8); running(end, files, 20); ++kills) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 200));
        ::kill(killed, SIGKILL);
        ASSERT_EQ(waitpid(killed, nullptr, 0), killed);
        killed = startCopy();
    }
    for (const pid_t pid : {killed, others, updater, starter}) {
        ::kill(pid, SIGKILL);
        ::kill(pid, SIGCONT);
        ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
    }

    // Each data folder's next start, then each one's next job's sweep and the last look.
    startOf(engine.layout, bundle);
    startOf(second, bundle);
    const long atTheEnd = lastLook(engine.layout) + lastLook(second);
    const std::array<long, 3> jobFigures = sumFigures(files()), self = sumFigures({path("figures-self")});
    std::cout << "tasks " << jobFigures[0] << ", waits given up " << jobFigures[1] << ", kills " << kills
              << ", self-updates " << self[0] << ", mismatches " << jobFigures[2] + self[2] << " during and "
              << atTheEnd << " at the end\n";
    EXPECT_EQ(jobFigures[2] + self[2], 0);
    EXPECT_EQ(atTheEnd, 0);
    EXPECT_TRUE(wholeBundle(bundle, "1.0.0") || wholeBundle(bundle, "2.0.0"));
    EXPECT_GE(jobFigures[0], 20);
    EXPECT_GE(self[0], 10);
}

}  // namespace

// A start records an install whose recording a held receipt lock cut off, before a job opens: that
// job goes on from the record, and its removal of the copy works.
TEST_F(SharedFolder, AJobGoesOnFromWhatAStartRecordedBeforeItsSweep) {
    std::string error;
    {
        const tqm::FileLock held(engine.layout.receiptFile() + ".lock", std::chrono::milliseconds(0));
        ASSERT_TRUE(held.held());
        tqm::Engine cut = engine;
        cut.catalog = &versions[1].catalog;
        cut.waiting = [](const std::string&) { return false; };
        EXPECT_FALSE(cut.loadReceipt(error) && tqm::runTask(cut, {"install", "synth", "vst3"}, nullptr, error));
        EXPECT_NE(error.find("the next start records it"), std::string::npos) << error;
    }
    tqm::Engine job = engine;
    startOf(engine.layout, appsDir() + "/Manager.app");
    const auto lock = tqm::beginJob(job, engine.layout.userData(), error);
    ASSERT_TRUE(lock) << error;
    EXPECT_TRUE(tqm::runTask(job, {"remove", "synth", "vst3"}, nullptr, error)) << error;
    EXPECT_FALSE(exists(vst3() + "/Synth.vst3"));
    tqm::Engine after;
    after.layout = engine.layout;
    ASSERT_TRUE(after.loadReceipt(error)) << error;
    EXPECT_EQ(disagreements(after), 0);
}
