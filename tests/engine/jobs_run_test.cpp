// runTasks end to end on a private root: install, update, remove, purge and the manager's
// own update, each reported by one result line.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <signal.h>

#include "engine/install_folder.h"
#include "engine/jobs.h"
#include "tests/support/job_fixture.h"
#include "tests/support/lock_holder.h"
#include "tests/support/processes.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class RunTasksTest : public JobTest {
protected:
    // The plug-in receipt as the next start leaves it.
    tqm::Receipt afterAStart() {
        tqm::Engine next;
        next.layout = engine.layout;
        next.startSweep();
        tqm::Receipt r;
        std::string error;
        EXPECT_TRUE(r.load(engine.layout.receiptFile(), error)) << error;
        return r;
    }

    // Installs synth's VST3 and leaves the note that install wrote, as it stays until the install
    // has saved its record (a kill or a receipt lock not had cut it off); answers the note.
    std::string installWithItsNote() {
        std::vector<std::string> results;
        EXPECT_FALSE(tqm::runTasks(engine, {{"install", "synth", "vst3"}}, results));
        const std::string target = vst3() + "/Synth.vst3";
        std::string error;
        tqm::detail::StagingLock staging;
        EXPECT_TRUE(staging.make(vst3(), error)) << error;
        fs::rename(target, staging.path() + "/Synth.vst3");
        const std::string note = tqm::detail::notePending(staging, "Synth.vst3", "synth", "vst3",
                                                          engine.receipt.plugins["synth"].formats["vst3"], 1,
                                                          engine.layout.receiptFile(), error);
        fs::rename(staging.path() + "/Synth.vst3", target);
        EXPECT_FALSE(note.empty()) << error;
        return note;
    }
};

bool recorded(const tqm::Receipt& r, const std::string& id, const std::string& format) {
    const auto product = r.plugins.find(id);
    return product != r.plugins.end() && product->second.formats.count(format) == 1;
}


TEST_F(RunTasksTest, WholeLifeOfAJob) {
    // The manager's own bundle, as the self-update finds it.
    const std::string manager = path("root/Apps/Manager.app");
    writeFile(manager + "/Contents/MacOS/manager", "manager 0.9");
    engine.program = manager;
    for (const char* d : {"AppData/Ardune Systems/Studio/x", "AppData/Ardune Systems/Tuner/x",
                          "AppData/Ardune Systems/Shared/x"})
        writeFile(path(std::string("root/") + d), "data");

    struct Step {
        const char* version;  // publish this version first, when set
        std::vector<tqm::Task> tasks;
        std::vector<std::string> lines;
        std::vector<std::string> dataLeft;  // data folders still there afterwards
    } steps[] = {
        {nullptr,
         {{"install", "synth", "vst3"}, {"install", "synth", "clap"}, {"install", "studio", "app"},
          {"install", "tuner", "app"}, {"install", "nothing", "vst3"}, {"install", "synth", "au"}},
         {"install synth vst3: ok", "install synth clap: ok", "install studio app: ok", "install tuner app: ok",
          "install nothing vst3: nothing is not in the catalog", "install synth au: Synth has no au for mac"},
         {"Studio", "Tuner", "Shared"}},
        {"2.0.0",
         {{"install", "synth", "vst3"}, {"self", "manager", "app"}},
         {"install synth vst3: ok", "self manager app: ok"},
         {"Studio", "Tuner", "Shared"}},
        {nullptr,
         {{"remove", "synth", "clap"}, {"remove", "synth", "au"}, {"remove", "studio", "app"},
          {"purge", "studio", "user"}},
         {"remove synth clap: ok", "remove synth au: synth au is not installed by the manager",
          "remove studio app: ok", "purge studio user: ok"},
         {"Tuner", "Shared"}},  // the tuner is still there: the shared data stays
        {nullptr,
         {{"remove", "tuner", "app"}, {"purge", "tuner", "user"}, {"purge", "synth", "user"}},
         {"remove tuner app: ok", "purge tuner user: ok",
          "purge synth user: synth is not an app in the catalog: its data is unknown"},
         {}},
    };
    int sequence = 1;
    for (const Step& s : steps) {
        if (s.version) publish(s.version, ++sequence);
        std::vector<std::string> results{"earlier line"};
        const bool anyFailed = tqm::runTasks(engine, s.tasks, results);
        std::vector<std::string> expected{"earlier line"};
        expected.insert(expected.end(), s.lines.begin(), s.lines.end());
        EXPECT_EQ(results, expected);
        bool failing = false;
        for (const std::string& l : s.lines) failing |= l.size() < 4 || l.compare(l.size() - 4, 4, ": ok") != 0;
        EXPECT_EQ(anyFailed, failing);
        if (::testing::Test::HasFailure()) return;
        for (const char* name : {"Studio", "Tuner", "Shared"}) {
            bool left = std::find(s.dataLeft.begin(), s.dataLeft.end(), name) != s.dataLeft.end();
            EXPECT_EQ(exists(data("AppData", name)), left) << name;
        }

        if (s.version) {
            // Updated in place: new content, no leftovers but the running manager's own old copy.
            EXPECT_EQ(readFile(vst3() + "/Synth.vst3/Contents/Info.plist"), "vst3 2.0.0");
            EXPECT_EQ(engine.receipt.plugins["synth"].formats["vst3"].version, "2.0.0");
            EXPECT_EQ(readFile(manager + "/Contents/MacOS/manager"), "manager 2.0.0");
            EXPECT_EQ(entryNames(path("root/Apps")).size(), 2u);  // the running copy stays aside
            engine.sweepSelf(manager);
            EXPECT_EQ(entryNames(path("root/Apps")), std::vector<std::string>{"Manager.app"});
        }
    }
    // Everything removed is gone; the vst3 copy was never removed.
    EXPECT_EQ(readFile(vst3() + "/Synth.vst3/Contents/Info.plist"), "vst3 2.0.0");
    EXPECT_FALSE(exists(engine.layout.formatDir("clap") + "/Synth.clap"));
    EXPECT_FALSE(exists(appsDir() + "/Studio.app"));
    EXPECT_FALSE(exists(appsDir() + "/Tuner.app"));
    EXPECT_TRUE(engine.apps.plugins.empty());
    EXPECT_EQ(engine.receipt.plugins.size(), 1u);  // synth keeps its vst3
    EXPECT_EQ(readFile(engine.layout.receiptFile()), tqm::receiptText(engine.receipt));

    std::vector<std::string> results;
    EXPECT_FALSE(tqm::runTasks(engine, {}, results));
    EXPECT_TRUE(results.empty());
}

// Two managers on one data folder, each with its own engine that read the receipts before the
// other wrote them, run at once: every install and removal of both stays recorded.
TEST_F(RunTasksTest, TwoProcessesOnOneDataFolderKeepEachOthersRecords) {
    std::vector<std::string> results;
    std::string error;
    ASSERT_FALSE(tqm::runTasks(engine, {{"install", "synth", "clap"}, {"install", "studio", "app"}}, results));
    const std::vector<tqm::Task> jobs[] = {{{"install", "synth", "vst3"}, {"remove", "studio", "app"}},
                                           {{"remove", "synth", "clap"}, {"install", "tuner", "app"}}};
    tqm::Engine engines[] = {engine, engine};
    pid_t children[2];
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(engines[i].loadReceipt(error)) << error;
    for (int i = 0; i < 2; ++i) {
        if ((children[i] = fork()) == 0) _exit(tqm::runTasks(engines[i], jobs[i], results) ? 1 : 0);
    }
    for (int i = 0; i < 2; ++i) {
        int status = 0;
        ASSERT_EQ(waitpid(children[i], &status, 0), children[i]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "job " << i;
    }
    tqm::Receipt plugins, apps;
    ASSERT_TRUE(plugins.load(engine.layout.receiptFile(), error) && apps.load(engine.layout.appsReceiptFile(), error))
        << error;
    const struct {
        const tqm::Receipt& in;
        const char *id, *format;
        std::string item;  // on disk
        bool recorded;
    } records[] = {
        {plugins, "synth", "vst3", vst3() + "/Synth.vst3", true},
        {plugins, "synth", "clap", engine.layout.formatDir("clap") + "/Synth.clap", false},
        {apps, "studio", "app", appsDir() + "/Studio.app", false},
        {apps, "tuner", "app", appsDir() + "/Tuner.app", true},
    };
    for (const auto& r : records) {
        SCOPED_TRACE(std::string(r.id) + " " + r.format);
        EXPECT_EQ(exists(r.item), r.recorded);
        EXPECT_EQ(recorded(r.in, r.id, r.format), r.recorded);
    }
}

// Another writer of the receipt stopped between its read and its save (a suspended laptop, a
// debugger) holds its lock: an install beside it gives up its record rather than write without
// the lock, says so, and the next start records it (a job's sweep meanwhile leaves its note); the
// stopped writer's change is kept too.
TEST_F(RunTasksTest, AWriterStoppedBetweenItsReadAndItsSaveLosesNoRecord) {
    const std::string file = engine.layout.receiptFile();
    const pid_t writer = fork();
    if (writer == 0) {
        tqm::Receipt r;
        std::string error;
        _exit(tqm::updateReceipt(file, r, [](tqm::Receipt& fresh) {
            ::raise(SIGSTOP);
            fresh.plugins["other"].formats["clap"].path = "/elsewhere/Other.clap";
        }, error) ? 0 : 1);
    }
    ProcessStat st;
    ASSERT_TRUE(awaitTrue([&] { return processStat(writer, st) && st.state == 'T'; }));
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    engine.waiting = [&](const std::string&) { return std::chrono::steady_clock::now() < until; };
    std::vector<std::string> results;
    const bool failed = tqm::runTasks(engine, {{"install", "synth", "vst3"}}, results);
    engine.sweep();  // a job's sweep meanwhile keeps the note it cannot record
    ::kill(writer, SIGCONT);
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(failed) << "reported installed and recorded while another held the receipt";
    EXPECT_NE(results.at(0).find("the next start records it"), std::string::npos) << results[0];
    EXPECT_EQ(readFile(vst3() + "/Synth.vst3/Contents/Info.plist"), "vst3 1.0.0");
    const tqm::Receipt r = afterAStart();
    EXPECT_TRUE(recorded(r, "synth", "vst3") && recorded(r, "other", "clap"));
}

// A start that read an install's note while the install was still recording itself looks at the
// note and the disk again under the receipt's lock. Meanwhile the install may have recorded itself
// and dropped its note (a later catalog's job then saved a higher sequence, which the note must not
// lower), or a later job may have removed the plug-in (nothing is written back), or both.
TEST_F(RunTasksTest, AStartLooksAtTheNoteAndTheDiskAgainUnderTheLock) {
    const std::string file = engine.layout.receiptFile(), target = vst3() + "/Synth.vst3";
    const struct {
        const char* what;
        bool recordedMeanwhile, removedMeanwhile;
    } cases[] = {{"recorded and removed", true, true}, {"recorded", true, false}, {"removed", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string note = installWithItsNote();
        tqm::Receipt meanwhile;
        meanwhile.catalog_sequence = 5;
        if (c.recordedMeanwhile && !c.removedMeanwhile) meanwhile.plugins = engine.receipt.plugins;
        std::string error;
        ASSERT_TRUE(tqm::Receipt().save(file, error)) << error;

        LockHolder writer(file + ".lock", ::geteuid());
        ASSERT_TRUE(writer.took());
        const pid_t start = fork();
        if (start == 0) {
            afterAStart();
            _exit(0);
        }
        ASSERT_TRUE(awaitTrue([&] { return holdsOpen(start, file + ".lock"); }));
        if (c.recordedMeanwhile) fs::remove(note);
        if (c.removedMeanwhile) fs::remove_all(target);
        ASSERT_TRUE(meanwhile.save(file, error)) << error;
        writer.release();
        ASSERT_EQ(waitpid(start, nullptr, 0), start);
        const tqm::Receipt after = afterAStart();
        EXPECT_EQ(recorded(after, "synth", "vst3"), exists(target)) << "the record does not follow the disk";
        EXPECT_EQ(after.catalog_sequence, 5);
        fs::remove_all(vst3());
    }
}

}  // namespace
