// The model's receipts across layout changes, and its questions about the manager's own updates.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>

#include "manager/model/settings_file.h"
#include "tests/manager/model_fixture.h"
#include "tests/support/running_copy.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class ModelState : public ModelTest {
protected:
    // A receipt recording synth's VST3 at root, with the item on disk.
    void installSynth(const tqm::Layout& layout) {
        const std::string item = layout.formatDir("vst3") + "/Synth.vst3";
        fs::create_directories(item);
        tqm::Receipt r;
        r.plugins["synth"].formats["vst3"] = {"1.0.0", item, "", "", "", ""};
        writeFile(layout.receiptFile(), tqm::receiptText(r));
    }
    static tqm::State stateOf(const tqapp::Model& m, const std::string& id) {
        for (const tqm::Row& row : m.rows)
            if (row.id == id) return row.state;
        return tqm::State(-1);
    }
};

// A receipt that cannot be read in a new layout must not leave the old layout's items standing
// as installed there; in the same layout the last good receipt stays.
TEST_F(ModelState, AnUnreadableReceiptAfterALayoutChange) {
    catalog.publish(catalogText("1.0.0"));
    tqapp::Config c = config();
    installSynth(c.layout);
    tqapp::Model& m = make(c);
    m.start();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(stateOf(m, "synth"), tqm::State::Installed);
    EXPECT_EQ(m.receipt.plugins.count("synth"), 1u);

    tqm::Layout other = c.layout;
    other.root = path("other");
    writeFile(other.receiptFile(), "{ not a receipt");
    ASSERT_TRUE(m.setLayout(other));
    EXPECT_TRUE(m.receipt.plugins.empty());
    EXPECT_EQ(stateOf(m, "synth"), tqm::State::Absent);
    EXPECT_FALSE(m.receiptError.empty());
    EXPECT_EQ(m.note, m.receiptError);
    EXPECT_NE(m.note.find(other.receiptFile()), std::string::npos) << m.note;

    // Back in the first layout, whose receipt now breaks: the last good one of that file stays.
    ASSERT_TRUE(m.setLayout(c.layout));
    EXPECT_EQ(stateOf(m, "synth"), tqm::State::Installed);
    writeFile(c.layout.receiptFile(), "[]");
    m.refresh();
    EXPECT_EQ(m.receipt.plugins.count("synth"), 1u);
    EXPECT_EQ(stateOf(m, "synth"), tqm::State::Installed);
    EXPECT_FALSE(m.receiptError.empty());
}

// A change on disk that no receipt records: the status line names the item and a short reason, the
// log keeps the reason whole; said before the catalog came, the names come with it.
TEST_F(ModelState, AnUnrecordedChangeIsSaidByName) {
    catalog.publish(catalogText("1.0.0"));
    const tqapp::Config c = config();
    const std::string file = c.layout.receiptFile();
    const std::string left = " (left as it is; nothing will be installed until it is fixed)";
    const struct {
        bool beforeTheCatalog;
        std::string why, said;
    } cases[] = {
        {false, "cannot read " + file + ": Permission denied" + left, "cannot read installed.json"},
        {true, "cannot read " + file + ": Permission denied" + left, "cannot read installed.json"},
        {false, file + " does not parse" + left, "installed.json does not parse"},
        {false, "cannot record the change in " + file + ": another copy of the manager holds " + file + ".lock",
         "cannot lock installed.json"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.why);
        tqapp::Model& m = make(c);
        if (k.beforeTheCatalog) m.markUnrecorded({{"synth", k.why}});
        m.start();
        ASSERT_TRUE(loaded());
        if (!k.beforeTheCatalog) m.markUnrecorded({{"synth", k.why}});
        EXPECT_EQ(m.note, "Synth: change not recorded (" + k.said + ")");
        EXPECT_NE(logText().find("The last change to synth is on disk but not recorded: " + k.why), std::string::npos);
    }
}

TEST_F(ModelState, SetLayoutLogsAndRefusesWhileBusy) {
    catalog.publish(catalogText("1.0.0"));
    tqapp::Model& m = make(config());
    m.start();
    ASSERT_TRUE(loaded());
    tqm::Layout other = m.config.layout;
    other.folders["vst3"] = path("mine");
    m.busy = true;
    EXPECT_FALSE(m.setLayout(other));
    EXPECT_TRUE(m.config.layout.folders.empty());
    m.busy = false;
    const int before = changes;
    EXPECT_TRUE(m.setLayout(other));
    EXPECT_EQ(changes, before + 1);
    EXPECT_NE(logText().find("  install scope user, folders: " + path("mine") + "/Ardune Systems / " +
                             other.formatDir("clap") + "\n"),
              std::string::npos)
        << logText();
}

TEST_F(ModelState, ManagerUpdateQuestions) {
    struct Case {
        std::string latest, minimum;
        bool package;
        std::string update;
        bool required;
    } cases[] = {
        {"0.4.0", "", true, "0.4.0", false},   // a newer manager
        {"0.3.0", "", true, "", false},        // this one
        {"0.2.9", "", true, "", false},        // an older one
        {"0.4.0", "", false, "", false},       // newer, but no package for this platform
        {"0.4.0", "0.3.1", true, "0.4.0", true},
        {"0.4.0", "0.3.1", false, "", true},   // the minimum holds without a package
        {"0.4.0", "0.3.0", true, "0.4.0", false},
    };
    tqapp::Model& m = make(config());
    for (const Case& c : cases) {
        auto loaded = std::make_shared<tqm::LoadedCatalog>();
        loaded->ok = true;
        loaded->catalog.manager_latest = c.latest;
        loaded->catalog.manager_minimum = c.minimum;
        if (c.package) loaded->catalog.manager_packages["mac"] = {"m.zip", std::string(64, '0'), 1, "M.app", ""};
        m.catalog = loaded;
        EXPECT_EQ(m.managerUpdate(), c.update) << c.latest << " " << c.minimum << " " << c.package;
        EXPECT_EQ(m.managerRequired(), c.required) << c.latest << " " << c.minimum << " " << c.package;
        loaded->ok = false;  // a failed load answers nothing
        EXPECT_EQ(m.managerUpdate(), "");
        EXPECT_FALSE(m.managerRequired());
    }
}

// The running manager's version is its bundle's: after a self-update that replaced the bundle, the
// version the catalog offered is the one running, and nothing more is offered.
TEST_F(ModelState, TheManagersVersionIsItsBundles) {
    const std::string bundle = path("Applications/Ardune Systems Manager.app");
    const std::string program = bundle + "/Contents/MacOS/ardune-manager";
    const auto info = [](const std::string& v) {
        return "<plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key><string>" + v +
               "</string></dict></plist>";
    };
    const struct {
        const char* what;
        std::string program, plist;  // no plist written when empty
        std::string want;
    } cases[] = {
        {"the bundle's", program, info("0.4.0"), "0.4.0"},
        {"no Info.plist", program, "", tqapp::kVersion},
        {"not a plain version", program, info("0.4.0&#10;Exec=x"), tqapp::kVersion},
        {"outside a bundle", path("bin/ardune-manager"), info("0.4.0"), tqapp::kVersion},
        {"unknown program", "", "", tqapp::kVersion},
    };
    for (const auto& c : cases) {
        fs::remove_all(bundle + "/Contents/Info.plist");
        if (!c.plist.empty()) writeFile(bundle + "/Contents/Info.plist", c.plist);
        EXPECT_EQ(tqapp::ownVersion(c.program), c.want) << c.what;
    }

    writeFile(bundle + "/Contents/Info.plist", info("0.4.0"));
    catalog.publish(catalogText("1.0.0", 1, "0.4.0"));
    tqapp::Config c = config();
    c.version = tqapp::ownVersion(program);
    tqapp::Model& m = ready(c);
    EXPECT_EQ(m.managerUpdate(), "");
}

// Through a real load: a catalog with a newer manager and a required minimum.
TEST_F(ModelState, ManagerUpdateFromTheCatalog) {
    catalog.publish(catalogText("1.0.0", 1, "0.5.0", "0.4.0"));
    tqapp::Model& m = make(config());
    m.start();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(m.managerUpdate(), "0.5.0");
    EXPECT_TRUE(m.managerRequired());
}

TEST_F(ModelState, UpdatesAndBusyWith) {
    catalog.publish(catalogText("1.0.0"));
    tqapp::Config c = config();
    installSynth(c.layout);
    catalog.publish(catalogText("1.1.0", 2));
    tqapp::Model& m = make(c);
    m.start();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(m.updates(), 1);
    m.jobIds["synth"] = 1;
    EXPECT_FALSE(m.busyWith("synth"));
    m.busy = true;
    EXPECT_TRUE(m.busyWith("synth"));
    EXPECT_FALSE(m.busyWith("delay"));
    m.say("hello");
    EXPECT_EQ(m.note, "hello");
}

// A removal with the user's data ticked whose remove task fails (the app runs): the data stays,
// no purge is logged, and the job ends failed.
TEST_F(ModelState, AFailedRemovalKeepsTheUsersData) {
    catalog.publish(catalogText("1.0.0"));
    tqapp::Model& m = ready(config());
    ASSERT_TRUE(runJob({{"install", "studio", "app"}}));
    ASSERT_TRUE(m.ok) << m.note;
    const std::string data = path("root/AppData/Ardune Systems/Studio");
    writeFile(data + "/settings.txt", "mine");
    RunningCopy running(path("root/Programs/Ardune Systems/Studio.app/Contents/MacOS/Studio"));
    ASSERT_GT(running.pid, 0);
    ASSERT_TRUE(runJob({{"purge", "studio", "user"}, {"remove", "studio", "app"}}, "Removing Studio", "removed"));
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.failed.count("studio"), 1u);
    EXPECT_EQ(readFile(data + "/settings.txt"), "mine");
    const std::string log = logText();
    EXPECT_NE(log.find("  remove studio app: Studio is running"), std::string::npos) << log;
    EXPECT_EQ(log.find("purge studio"), std::string::npos) << log;
}

// Writers of the settings file in several processes (threads here: each has its own lock open) each
// keep setting their own key: every write succeeds and no one's last value is lost.
TEST(SettingsFile, WritersAtOnceLoseNoSetting) {
    TempHome temp;
    const std::string file = temp.path("data/settings.txt");
    ASSERT_TRUE(tqapp::writeSetting(file, "scope", "user"));
    const int kWriters = 3, kWrites = 100;
    std::vector<int> refused(kWriters, 0);
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < kWrites; ++i)
                if (!tqapp::writeSetting(file, "folder.w" + std::to_string(w), "/v" + std::to_string(i))) ++refused[w];
        });
    for (std::thread& t : writers) t.join();
    std::map<std::string, std::string> read;
    tqapp::readSettings(file, [&](const std::string& k, const std::string& v) { read[k] = v; });
    EXPECT_EQ(read["scope"], "user");
    for (int w = 0; w < kWriters; ++w) {
        EXPECT_EQ(refused[w], 0) << "writer " << w;
        EXPECT_EQ(read["folder.w" + std::to_string(w)], "/v" + std::to_string(kWrites - 1)) << "writer " << w;
    }
    for (const std::string& n : entryNames(temp.path("data")))
        EXPECT_TRUE(n == "settings.txt" || n == "settings.txt.lock") << n;
}

// Rewriting the file for one key keeps every other line byte for byte, whatever carriage returns
// it ends in, however many rewrites follow.
TEST(SettingsFile, RewritesKeepOtherLinesByteForByte) {
    TempHome temp;
    const std::string file = temp.path("settings.txt");
    for (const std::string other : {"a=b\r\r", "a=b\r", "a=\r\rb\r\r\r", "\rx", "not a setting\r\r"}) {
        ASSERT_TRUE(writeFile(file, other + "\n"));
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(tqapp::writeSetting(file, "scope", "user"));
        EXPECT_EQ(readFile(file), other + "\nscope=user\n") << ::testing::PrintToString(other);
    }
}

}  // namespace
