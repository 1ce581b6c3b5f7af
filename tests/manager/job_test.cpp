// Jobs through the model: downloads with progress from a folder and from the loopback server,
// result lines, failed ids, the log, stopping, and the manager's own steps.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "tests/manager/model_fixture.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class Job : public ModelTest {
protected:
    using ModelTest::ready;
    tqapp::Model& ready() {
        catalog.publish(catalogText("1.0.0"));
        return ready(config());
    }

    // The log after its "job: " line, without time stamps.
    std::vector<std::string> jobLog() const {
        std::vector<std::string> out;
        const std::string text = logText();
        const size_t at = text.rfind("  job: ");
        size_t begin = text.rfind('\n', at);
        begin = begin == std::string::npos ? 0 : begin + 1;
        for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
            out.push_back(text.substr(begin + 21, end - begin - 21));
        return out;
    }

    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const Progress& p : progress) out.push_back(p.text);
        return out;
    }

    // Each download's fractions rise from its first to its last slot; the install step stands
    // at (steps - 1) / steps.
    void expectRising(int steps) const {
        double last = 0;
        for (const Progress& p : progress) {
            EXPECT_GE(p.fraction, last) << p.text;
            EXPECT_LE(p.fraction, double(steps - 1) / steps + 1e-9) << p.text;
            last = p.fraction;
        }
    }
};

TEST_F(Job, InstallsFromAFolderSource) {
    tqapp::Model& m = ready();
    ASSERT_TRUE(runJob({{"install", "synth", "vst3"}, {"install", "synth", "clap"}, {"install", "studio", "app"}},
                       "Installing Synth", "Synth installed"));
    EXPECT_TRUE(m.ok);
    EXPECT_FALSE(m.cancelled);
    EXPECT_EQ(m.note, "Synth installed");
    EXPECT_EQ(m.fraction, 1.0);
    EXPECT_TRUE(m.failed.empty());
    EXPECT_TRUE(m.jobIds.empty());
    // A folder reports each package once, whole: a quarter of the job a download.
    EXPECT_EQ(texts(), (std::vector<std::string>{"Starting", "Downloading 25 %", "Downloading 50 %",
                                                "Downloading 75 %", "Installing"}));
    expectRising(4);
    EXPECT_DOUBLE_EQ(progress.back().fraction, 0.75);
    EXPECT_EQ(readFile(m.config.layout.formatDir("vst3") + "/Synth.vst3/Contents/Info.plist"), "vst3 1.0.0");
    EXPECT_TRUE(exists(m.config.layout.appsDir() + "/Studio.app"));
    for (const tqm::Row& row : m.rows)
        if (row.id == "synth" || row.id == "studio") {
            EXPECT_EQ(row.state, tqm::State::Installed) << row.id;
        }
    const std::vector<std::string> log = jobLog();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log.front(), "job: Installing Synth");
    EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()),
              (std::vector<std::string>{"  install synth vst3: ok", "  install synth clap: ok",
                                        "  install studio app: ok", "  done"}));
}

// The web reports no total: the catalog's size gives the fraction, which rises by the piece, from
// 0 to 1/3 for the first package and from 1/3 to 2/3 for the second, then 2/3 while installing.
TEST_F(Job, DownloadProgressFromTheWeb) {
    catalog.publish(catalogText("1.0.0"));
    LoopbackServer server;
    ASSERT_TRUE(server.ok());
    for (const char* rel : {"catalog.json", "catalog.json.sig", "plugins/Synth-1.0.0.vst3.zip",
                            "plugins/Synth-1.0.0.clap.zip"}) {
        LoopbackServer::Reply r;
        r.body = readFile(catalog.source() + "/" + rel);
        r.chunk = r.body.size() / 4 + 1;
        r.pauseMs = 40;  // long enough that a busy machine still reads each piece on its own
        server.serve(rel, r);
    }
    tqapp::Config c = config();
    c.source = server.url();
    tqapp::Model& m = ready(c);
    ASSERT_TRUE(runJob({{"install", "synth", "vst3"}, {"install", "synth", "clap"}}));
    EXPECT_TRUE(m.ok) << m.note;
    EXPECT_EQ(m.fraction, 1.0);
    expectRising(3);
    int inFirst = 0, inSecond = 0;
    for (const Progress& p : progress) {
        const int pct = p.text.rfind("Downloading ", 0) == 0 ? std::stoi(p.text.substr(12)) : -1;
        if (pct < 0) continue;
        EXPECT_EQ(pct, std::lround(p.fraction * 100)) << p.text;
        inFirst += pct > 0 && pct < 33;
        inSecond += pct > 33 && pct < 67;
    }
    EXPECT_GE(inFirst, 1);
    EXPECT_GE(inSecond, 1);
    EXPECT_EQ(progress.back().text, "Installing");
    EXPECT_DOUBLE_EQ(progress.back().fraction, 2.0 / 3);
}

// A server sending more than the catalog's size: the percentage stops at the package's whole share
// and the download is left there, refused.
TEST_F(Job, AnOversizedDownloadStaysAtAHundred) {
    catalog.publish(catalogText("1.0.0"));
    LoopbackServer server;
    ASSERT_TRUE(server.ok());
    for (const char* rel : {"catalog.json", "catalog.json.sig"}) server.serveFile(rel, readFile(catalog.source() + "/" + rel));
    LoopbackServer::Reply big;
    big.body = readFile(catalog.source() + "/plugins/Delay-1.0.0.vst3.zip") + std::string(4000, 'x');
    big.chunk = big.body.size() / 8 + 1;
    server.serve("plugins/Delay-1.0.0.vst3.zip", big);
    tqapp::Config c = config();
    c.source = server.url();
    tqapp::Model& m = ready(c);
    ASSERT_TRUE(runJob({{"install", "delay", "vst3"}}));
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.failed.count("delay"), 1u);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().text, "Downloading 50 %");
    expectRising(2);
}

TEST_F(Job, AFailedDownloadMarksItsIdAndInstallsNothing) {
    tqapp::Model& m = ready();
    writeFile(catalog.source() + "/plugins/Delay-1.0.0.vst3.zip", "not the package");
    ASSERT_TRUE(runJob({{"install", "synth", "vst3"}, {"install", "delay", "vst3"}, {"install", "studio", "app"}}));
    EXPECT_FALSE(m.ok);
    EXPECT_FALSE(m.cancelled);
    EXPECT_EQ(m.failed, (std::map<std::string, int32_t>{{"delay", 1}}));
    EXPECT_FALSE(m.note.empty());
    EXPECT_FALSE(exists(m.config.layout.formatDir("vst3") + "/Synth.vst3"));
    // The engine's lines, then the one failed line and the outcome; the later app is not fetched.
    EXPECT_EQ(jobLog(), (std::vector<std::string>{"job: Job", "  download plugins/Synth-1.0.0.vst3.zip",
                                                  "  download plugins/Delay-1.0.0.vst3.zip",
                                                  "  install delay vst3: " + m.note, "  failed: " + m.note}));
}

// Failures that no line names mark every id of the job.
TEST_F(Job, FailuresWithoutALine) {
    tqapp::Model& m = ready();
    m.failed["earlier"] = 1;
    ASSERT_TRUE(runJob({{"install", "synth", "vst3"}, {"install", "nosuch", "vst3"}, {"install", "delay", "vst3"}}));
    EXPECT_EQ(m.note, "nosuch is not in the catalog");
    EXPECT_EQ(m.failed, (std::map<std::string, int32_t>{{"delay", 1}, {"earlier", 1}, {"nosuch", 1}, {"synth", 1}}));
    EXPECT_EQ(jobLog().back(), "  failed: nosuch is not in the catalog");

    // A receipt that does not read fails the job with its text.
    writeFile(m.config.layout.receiptFile(), "{ broken");
    ASSERT_TRUE(runJob({{"remove", "synth", "vst3"}}));
    EXPECT_FALSE(m.ok);
    EXPECT_NE(m.note.find(m.config.layout.receiptFile()), std::string::npos) << m.note;
    EXPECT_EQ(m.failed.count("synth"), 1u);
}

// A failure's mark goes once another copy changes the item's record, but a retry that fails again
// is judged by the record after that failure, not the one the earlier failure saw.
TEST_F(Job, ARetryThatFailsAgainAfterAnotherCopysChangeKeepsItsMark) {
    tqapp::Model& m = ready();
    writeFile(catalog.source() + "/plugins/Delay-1.0.0.vst3.zip", "not the package");
    ASSERT_TRUE(runJob({{"install", "delay", "vst3"}}));
    ASSERT_EQ(m.failed.count("delay"), 1u);
    // Another copy records Delay meanwhile; this window reads the receipts again only at the retry's end.
    tqm::Receipt other;
    other.plugins["delay"].formats["vst3"] = {"0.9.0", m.config.layout.formatDir("vst3") + "/Delay.vst3", "", "", "", ""};
    writeFile(m.config.layout.receiptFile(), tqm::receiptText(other));
    ASSERT_TRUE(runJob({{"install", "delay", "vst3"}}));
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.failed.count("delay"), 1u);
    // The next change of its record by another copy is news that makes the mark old.
    writeFile(m.config.layout.receiptFile(), tqm::receiptText(tqm::Receipt{}));
    m.refreshIfChanged();
    EXPECT_EQ(m.failed.count("delay"), 0u);
}

// A task failing in the engine shows its whole error text (the first failed line's); the ids of
// every failed line are marked, the others not.
TEST_F(Job, AFailedTaskShowsItsWholeError) {
    tqapp::Model& m = ready();
    ASSERT_TRUE(runJob({{"install", "synth", "vst3"}, {"remove", "synth", "clap"}, {"remove", "delay", "vst3"}}));
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.note, "synth clap is not installed by the manager");
    EXPECT_EQ(m.failed, (std::map<std::string, int32_t>{{"delay", 1}, {"synth", 1}}));
    EXPECT_TRUE(exists(m.config.layout.formatDir("vst3") + "/Synth.vst3"));
    EXPECT_EQ(jobLog().back(), "  failed: synth clap is not installed by the manager");
}

// Installs whose records cannot be saved (a folder at the receipt lock's name) are said alike at
// the job's end and at the next start, every one by name with a short reason (the log has it whole),
// their rows marked until a start records them.
TEST_F(Job, InstallsThatCannotBeRecordedAreSaidUntilTheyAre) {
    tqapp::Model& m = ready();
    const std::string lock = m.config.layout.receiptFile() + ".lock";
    const std::string why = lock + " is a folder, not a lock file: remove it and try again";
    fs::create_directories(lock);
    ASSERT_TRUE(runJob({{"install", "synth", "vst3"}, {"install", "delay", "vst3"}}));
    EXPECT_TRUE(exists(m.config.layout.formatDir("vst3") + "/Synth.vst3"));
    for (const bool restarted : {false, true}) {
        SCOPED_TRACE(restarted ? "the next start" : "the job's end");
        if (restarted) ready(config());
        EXPECT_EQ(model->failed, (std::map<std::string, int32_t>{{"delay", 1}, {"synth", 1}}));
        EXPECT_EQ(model->note, "Delay, Synth: change not recorded (cannot lock installed.json)");
        EXPECT_NE(logText().find(why), std::string::npos) << logText();
    }
    fs::remove(lock);
    tqapp::Model& mended = ready(config());
    EXPECT_TRUE(mended.failed.empty());
    EXPECT_EQ(mended.note, "");
    EXPECT_EQ(mended.receipt.plugins["synth"].formats["vst3"].version, "1.0.0");
}

// A retry of installs that went in unrecorded fetches nothing again: unrecorded while the lock fails, then recorded.
TEST_F(Job, ARetryOfChangesNotRecordedRecordsThem) {
    tqapp::Model& m = ready();
    const std::string lock = m.config.layout.receiptFile() + ".lock";
    fs::create_directories(lock);
    const std::vector<tqm::Task> tasks{{"install", "synth", "vst3"}, {"install", "synth", "clap"}};
    ASSERT_TRUE(runJob(tasks));
    for (const bool lockGone : {false, true}) {
        HashCount count;
        if (lockGone) fs::remove(lock);
        ASSERT_TRUE(runJob(tasks, "Installing Synth", "Synth installed"));
        EXPECT_EQ(count.of(m.catalog->catalog.find("synth")->package("vst3", "mac")->size), 0);
        EXPECT_EQ(m.note, lockGone ? "Synth installed" : "Synth: change not recorded (cannot lock installed.json)");
    }
    EXPECT_EQ(m.receipt.plugins["synth"].formats.size(), 2u);
    EXPECT_EQ(logText().find("was cut off"), std::string::npos);
    EXPECT_NE(logText().find("its install was on disk, its record had failed"), std::string::npos);
}

// Each package is hashed once on its way in, at its download or its reading from the cache: the
// install of the same job takes what was checked.
TEST_F(Job, EachPackageIsHashedOnce) {
    tqapp::Model& m = ready();
    const std::vector<tqm::Task> tasks{{"install", "synth", "vst3"}, {"install", "synth", "clap"},
                                       {"install", "studio", "app"}, {"install", "delay", "vst3"}};
    std::map<size_t, int> want;  // packages by size (Synth's two are the same size)
    for (const tqm::Task& t : tasks) ++want[m.catalog->catalog.find(t.id)->package(t.format, "mac")->size];
    for (const char* road : {"downloaded", "from the cache"}) {
        HashCount count;
        ASSERT_TRUE(runJob(tasks)) << road;
        EXPECT_TRUE(m.ok) << road << ": " << m.note;
        for (const auto& [size, n] : want) EXPECT_EQ(count.of(size), n) << road << ", " << size << " bytes";
    }
}

TEST_F(Job, RemovalsAreNotStoppable) {
    tqapp::Model& m = ready();
    ASSERT_TRUE(runJob({{"install", "synth", "vst3"}}));
    progress.clear();
    m.run({{"remove", "synth", "vst3"}}, "Removing Synth", "Synth removed");
    EXPECT_TRUE(m.busy);
    EXPECT_FALSE(m.stoppable);
    EXPECT_EQ(m.progressText, "Removing");
    // One job at a time.
    const uint32_t generation = m.jobGeneration;
    m.run({{"install", "delay", "vst3"}}, "Another", "");
    EXPECT_EQ(m.jobGeneration, generation);
    ASSERT_TRUE(pumpUntil([&] { return !m.busy; }));
    EXPECT_TRUE(m.ok);
    EXPECT_FALSE(exists(m.config.layout.formatDir("vst3") + "/Synth.vst3"));
    for (const Progress& p : progress) EXPECT_EQ(p.fraction, 0.0) << p.text;
}

// A plan whose ticks chose no operation runs nothing, and says so.
TEST_F(Job, NothingToDo) {
    tqapp::Model& m = ready();
    const uint32_t generation = m.jobGeneration;
    m.run({{"", "synth", "vst3"}, {"", "synth", "clap"}}, "Installing Synth", "Synth installed");
    EXPECT_FALSE(m.busy);
    EXPECT_EQ(m.jobGeneration, generation + 1);
    EXPECT_EQ(m.doneGeneration, m.jobGeneration);
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.note, "Nothing to do: no operation was chosen");
    EXPECT_TRUE(m.failed.empty());
    EXPECT_FALSE(exists(m.config.layout.formatDir("vst3") + "/Synth.vst3"));
    // Nothing at all is no job.
    m.run({}, "Empty", "");
    EXPECT_EQ(m.jobGeneration, generation + 1);
}

// The manager's own steps run in the worker, never in the engine: refused here, as the manager
// is placed rather than installed. An uninstall that cannot run is refused before anything else
// of its job: the plug-ins and the cache stay.
TEST_F(Job, TheManagersOwnSteps) {
    tqapp::Model& m = ready();
    ASSERT_TRUE(runJob({{"install", "synth", "vst3"}}));
    const std::string cache = m.config.layout.userData() + "/cache";
    ASSERT_TRUE(exists(cache + "/catalog.json"));
    struct Case {
        std::vector<tqm::Task> tasks;
        std::vector<std::string> lines;
        bool cacheGone;
    } cases[] = {
        {{{"setup-install", "startmenu,desktop", ""}},
         {"  setup-install manager app: not on this platform"}, false},
        {{{"remove", "synth", "vst3"}, {"setup-uninstall", "plugins", ""}},
         {"  setup-uninstall manager app: not on this platform"}, false},
        {{{"setup-uninstall", "", ""}}, {"  setup-uninstall manager app: not on this platform"}, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(runJob(c.tasks));
        EXPECT_FALSE(m.ok);
        EXPECT_EQ(m.note, "not on this platform");
        EXPECT_EQ(m.failed.count("manager"), 1u);
        const std::vector<std::string> log = jobLog();
        EXPECT_EQ(std::vector<std::string>(log.end() - 1 - c.lines.size(), log.end() - 1), c.lines);
        EXPECT_EQ(exists(cache), !c.cacheGone);
        EXPECT_TRUE(exists(m.config.layout.formatDir("vst3") + "/Synth.vst3"));
    }
}

// The user's data goes after every engine task, even when it stands first.
TEST_F(Job, TheUsersDataGoesLast) {
    tqapp::Model& m = ready();
    ASSERT_TRUE(runJob({{"install", "studio", "app"}}));
    const std::string data = path("root/AppData/Ardune Systems/Studio");
    writeFile(data + "/settings.txt", "mine");
    ASSERT_TRUE(runJob({{"purge", "studio", "user"}, {"remove", "studio", "app"}}, "Removing Studio", "removed"));
    EXPECT_TRUE(m.ok) << m.note;
    EXPECT_FALSE(exists(data));
    std::vector<std::string> log = jobLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
              (std::vector<std::string>{"  remove studio app: ok", "  purge studio user: ok", "  done"}));
}

TEST_F(Job, HarnessJobsRunButWriteNoLog) {
    catalog.publish(catalogText("1.0.0"));
    tqapp::Config c = config();
    c.harness = true;
    tqapp::Model& m = make(c);
    m.start();
    ASSERT_TRUE(runJob({{"install", "synth", "vst3"}}));
    EXPECT_TRUE(m.ok);
    EXPECT_FALSE(exists(m.logFile().parent_path().string()));
}

}  // namespace
