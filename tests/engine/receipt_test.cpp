#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "engine/tqm.h"
#include "tests/support/temp_home.h"

namespace fs = std::filesystem;
using testsupport::entryNames;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

class ReceiptTest : public testsupport::TempHomeTest {};

tqm::InstalledFormat rec(const std::string& version, const std::string& path, const std::string& exe = "",
                         const std::string& key = "") {
    return {version, path, std::string(64, 'a'), "2024-05-01T10:00:00Z", exe, key};
}

uid_t ownerOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return uid_t(-1);
    return st.st_uid;
}

TEST_F(ReceiptTest, SavesTheExactText) {
    tqm::Receipt r;
    r.catalog_sequence = -7;
    r.plugins["vendor.synth"].formats["vst3"] = rec("1.10.0", "/L/VST3/Synth \"x\".vst3");
    r.plugins["vendor.synth"].formats["clap"] = rec("1.2.0", "/L/CLAP/Synth.clap");
    r.plugins["vendor.app"].formats["app"] = rec("2.0", "/A/App.app", "App", "app-key");
    r.plugins["vendor.empty"];  // no formats: never written
    std::string error;
    ASSERT_TRUE(r.save(path("data/sub/installed.json"), error)) << error;
    const std::string sha(64, 'a');
    EXPECT_EQ(readFile(path("data/sub/installed.json")),
              "{\n \"schema\": 1,\n \"catalog_sequence\": -7,\n \"plugins\": {"
              "\n  \"vendor.app\": {\"formats\": {"
              "\n   \"app\": {\"version\": \"2.0\", \"path\": \"/A/App.app\", \"package_sha256\": \"" + sha +
                  "\", \"installed\": \"2024-05-01T10:00:00Z\", \"exe\": \"App\", \"uninstall_key\": \"app-key\"}"
              "\n  }},"
              "\n  \"vendor.synth\": {\"formats\": {"
              "\n   \"clap\": {\"version\": \"1.2.0\", \"path\": \"/L/CLAP/Synth.clap\", \"package_sha256\": \"" + sha +
                  "\", \"installed\": \"2024-05-01T10:00:00Z\"},"
              "\n   \"vst3\": {\"version\": \"1.10.0\", \"path\": \"/L/VST3/Synth \\\"x\\\".vst3\", \"package_sha256\": \"" +
                  sha + "\", \"installed\": \"2024-05-01T10:00:00Z\"}"
              "\n  }}"
              "\n }\n}\n");
    EXPECT_EQ(entryNames(path("data/sub")), std::vector<std::string>{"installed.json"});  // no temporary left

    tqm::Receipt back;
    ASSERT_TRUE(back.load(path("data/sub/installed.json"), error)) << error;
    EXPECT_EQ(back.catalog_sequence, -7);
    ASSERT_EQ(back.plugins.size(), 2u);  // the empty product is gone
    EXPECT_EQ(back.plugins["vendor.app"].formats["app"].uninstall_key, "app-key");
    EXPECT_EQ(back.plugins["vendor.synth"].formats["vst3"].path, "/L/VST3/Synth \"x\".vst3");
    EXPECT_EQ(back.plugins["vendor.synth"].formats["clap"].exe, "");
    EXPECT_EQ(tqm::receiptText(back), tqm::receiptText(r));

    tqm::Receipt empty;
    empty.plugins["only.empty"];
    ASSERT_TRUE(empty.save(path("empty.json"), error));
    EXPECT_EQ(readFile(path("empty.json")), "{\n \"schema\": 1,\n \"catalog_sequence\": 0,\n \"plugins\": {\n }\n}\n");
}

TEST_F(ReceiptTest, ReadsWhatIsAReceiptAndRefusesTheRest) {
    struct Case {
        const char* text;
        bool ok;
        int64_t sequence;
        size_t products;
    };
    const Case cases[] = {
        {R"({"schema": 1.4, "catalog_sequence": 12.9})", true, 12, 0},
        {R"({"schema": 0.5, "catalog_sequence": -3.7})", true, -3, 0},
        {R"({"schema": 1, "catalog_sequence": "5"})", true, 0, 0},
        {R"({"schema": 1, "catalog_sequence": 1e300})", true, INT64_MAX, 0},
        {R"({"schema": 1})", true, 0, 0},
        {R"({"schema": 1, "plugins": {"a": {"formats": []}, "b": {}, "c": {"formats": {}}}})", true, 0, 0},
        {R"({"schema": 1, "plugins": []})", true, 0, 0},
        {R"({"schema": 1, "plugins": {"a": {"formats": {"vst3": {"version": 3, "path": "/p"}}}}})", true, 0, 1},
        {R"({"schema": 1.5})", false, 0, 0},
        {R"({"schema": "1"})", false, 0, 0},
        {R"({"schema": 1e12})", false, 0, 0},
        {R"({"catalog_sequence": 1})", false, 0, 0},
        {R"([1])", false, 0, 0},
        {R"({"schema": 1,)", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(writeFile(path("r.json"), c.text));
        tqm::Receipt r;
        r.catalog_sequence = 99;
        r.plugins["stale"].formats["vst3"] = rec("1", "/x");
        std::string error;
        EXPECT_EQ(r.load(path("r.json"), error), c.ok);
        EXPECT_EQ(r.catalog_sequence, c.sequence);
        EXPECT_EQ(r.plugins.size(), c.products);
        if (!c.ok) {
            EXPECT_EQ(error, path("r.json") + " does not parse (left as it is; nothing will be installed until it is fixed)");
            EXPECT_EQ(readFile(path("r.json")), c.text);
        }
    }
    tqm::Receipt r;
    std::string error;
    ASSERT_TRUE(writeFile(path("r.json"), R"({"schema": 1, "plugins": {"a": {"formats": {"vst3": {"version": 3, "path": "/p"}}}}})"));
    ASSERT_TRUE(r.load(path("r.json"), error));
    EXPECT_EQ(r.plugins["a"].formats["vst3"].version, "");
    EXPECT_EQ(r.plugins["a"].formats["vst3"].path, "/p");
}

TEST_F(ReceiptTest, OnlyAMissingFileIsAnEmptyReceipt) {
    std::string error;
    tqm::Receipt r;
    EXPECT_TRUE(r.load(path("none/installed.json"), error));
    EXPECT_TRUE(r.plugins.empty());

    // A folder where the file should be: it exists but cannot be read.
    fs::create_directories(path("dir/installed.json"));
    r.plugins["x"].formats["vst3"] = rec("1", "/x");
    EXPECT_FALSE(r.load(path("dir/installed.json"), error));
    EXPECT_NE(error.find("cannot read " + path("dir/installed.json")), std::string::npos) << error;
    EXPECT_TRUE(r.plugins.empty());
}

TEST_F(ReceiptTest, AnUnreadableReceiptIsReportedAndLeftAsItWas) {
    const std::string file = path("data/installed.json");
    const std::string text = R"({"schema": 1, "plugins": {"a": {"formats": {"vst3": {"version": "1"}}}}})";
    ASSERT_TRUE(writeFile(file, text));
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    ::chmod(temp.dir().c_str(), 0755);
    ::chmod(path("data").c_str(), 0755);

    // In a child that cannot read the file (root drops to an unprivileged user first).
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        std::string error;
        tqm::Receipt r;
        if (r.load(file, error) || error.find("cannot read") != 0) ::_exit(1);
        if (!r.plugins.empty()) ::_exit(2);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ::chmod(file.c_str(), 0644);
    EXPECT_EQ(readFile(file), text);
}

TEST_F(ReceiptTest, EngineLoadsAppsOnlyAfterThePluginReceipt) {
    tqm::Engine engine;
    engine.layout.root = path("root");
    std::string error;
    ASSERT_TRUE(writeFile(engine.layout.appsReceiptFile(),
                          R"({"schema": 1, "plugins": {"v.app": {"formats": {"app": {"version": "2"}}}}})"));
    ASSERT_TRUE(engine.loadReceipt(error)) << error;  // no installed.json yet
    EXPECT_TRUE(engine.receipt.plugins.empty());
    EXPECT_EQ(engine.apps.plugins.count("v.app"), 1u);

    ASSERT_TRUE(writeFile(engine.layout.receiptFile(), "not json"));
    engine.apps.plugins["kept"];
    EXPECT_FALSE(engine.loadReceipt(error));
    EXPECT_EQ(error, engine.layout.receiptFile() + " does not parse (left as it is; nothing will be installed until it is fixed)");
    EXPECT_EQ(engine.apps.plugins.count("kept"), 1u);  // apps untouched

    ASSERT_TRUE(writeFile(engine.layout.receiptFile(), "{\"schema\": 1}"));
    ASSERT_TRUE(writeFile(engine.layout.appsReceiptFile(), "{}"));
    EXPECT_FALSE(engine.loadReceipt(error));
    EXPECT_EQ(error, engine.layout.appsReceiptFile() + " does not parse (left as it is; nothing will be installed until it is fixed)");
}

TEST_F(ReceiptTest, WriteFailuresLeaveTheOldFile) {
    std::string error;
    tqm::Receipt r;
    r.plugins["a"].formats["vst3"] = rec("1", "/x");
    // A file where the folder should be.
    ASSERT_TRUE(writeFile(path("blocked"), "x"));
    EXPECT_FALSE(r.save(path("blocked/installed.json"), error));
    EXPECT_EQ(error, "cannot write " + path("blocked/installed.json.tmp"));

    // A folder in the target's place cannot be replaced by a file.
    fs::create_directories(path("d/installed.json/inner"));
    EXPECT_FALSE(r.save(path("d/installed.json"), error));
    EXPECT_EQ(error.rfind("cannot replace " + path("d/installed.json") + ": ", 0), 0u) << error;
    EXPECT_TRUE(fs::is_directory(path("d/installed.json/inner")));
    EXPECT_EQ(entryNames(path("d")), std::vector<std::string>{"installed.json"});
}

TEST_F(ReceiptTest, LinksBesideTheReceiptAreNotWrittenThrough) {
    // Links at the old fixed temporary name and at the target: neither is followed, the target
    // becomes a plain file and the folder holds no temporary afterwards.
    const std::string victim = path("victim");
    ASSERT_TRUE(writeFile(victim, "precious"));
    fs::create_directories(path("data"));
    fs::create_symlink(victim, path("data/installed.json.tmp"));
    fs::create_symlink(victim, path("data/installed.json"));
    tqm::Receipt r;
    std::string error;
    ASSERT_TRUE(r.save(path("data/installed.json"), error)) << error;
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(path("data/installed.json")));
    EXPECT_EQ(readFile(path("data/installed.json")), tqm::receiptText(r));
    EXPECT_EQ(entryNames(path("data")), (std::vector<std::string>{"installed.json", "installed.json.tmp"}));
}

// Root saving into a user's home (the elevated helper): the new file and the folders up to
// the home go to the home's owner; links in the user's folders are not followed.
TEST_F(ReceiptTest, RootHandsTheFileToTheHomesOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    const uid_t user = 54321;
    const gid_t group = 54322;
    ASSERT_EQ(::chown(temp.home().c_str(), user, group), 0);
    tqm::Receipt r;
    r.plugins["a"].formats["vst3"] = rec("1", "/x");
    std::string error;

    const std::string file = temp.home() + "/Library/Application Support/Ardune Systems/Manager/installed.json";
    ASSERT_TRUE(r.save(file, error)) << error;
    for (std::string p = file; p.size() > temp.home().size(); p = fs::path(p).parent_path().string()) {
        SCOPED_TRACE(p);
        EXPECT_EQ(ownerOf(p), user);
    }
    EXPECT_EQ(readFile(file), tqm::receiptText(r));

    // Outside the home, root keeps the file.
    ASSERT_TRUE(r.save(path("elsewhere/installed.json"), error)) << error;
    EXPECT_EQ(ownerOf(path("elsewhere/installed.json")), 0u);
    EXPECT_EQ(ownerOf(path("elsewhere")), 0u);

    // A folder of the user's linked elsewhere: neither the write nor the change of owner follows it.
    fs::create_directories(path("rootonly"));
    fs::create_symlink(path("rootonly"), temp.home() + "/Linked");
    EXPECT_FALSE(r.save(temp.home() + "/Linked/installed.json", error));
    EXPECT_EQ(error,
              temp.home() + "/Linked/installed.json: a folder on the way is a link the user can change; not touched");
    EXPECT_TRUE(entryNames(path("rootonly")).empty());
    EXPECT_EQ(ownerOf(path("rootonly")), 0u);

    // A planted link at the file itself is replaced, and the target keeps its owner.
    ASSERT_TRUE(writeFile(path("rootfile"), "root's"));
    const std::string dir = temp.home() + "/Library/Application Support/Ardune Systems/Manager";
    fs::remove(dir + "/apps.json");
    fs::create_symlink(path("rootfile"), dir + "/apps.json");
    ASSERT_TRUE(r.save(dir + "/apps.json", error)) << error;
    EXPECT_EQ(readFile(path("rootfile")), "root's");
    EXPECT_EQ(ownerOf(path("rootfile")), 0u);
    EXPECT_EQ(ownerOf(dir + "/apps.json"), user);
}

// HOME and the file's path are compared with their slashes folded: a HOME ending in "/" (or a
// path with a doubled one) keeps the hand-over to the home's owner.
TEST_F(ReceiptTest, TheOwnerFixUpIgnoresExtraSlashes) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    const uid_t user = 54321;
    const gid_t group = 54322;
    const std::string home = temp.home();
    ASSERT_EQ(::chown(home.c_str(), user, group), 0);
    const struct {
        std::string homeVar, file, firstMade;
    } table[] = {
        {home + "/", home + "/A/installed.json", home + "/A"},
        {home + "//", home + "/B/sub/installed.json", home + "/B"},
        {home, home + "//C//installed.json", home + "/C"},
    };
    tqm::Receipt r;
    r.plugins["a"].formats["vst3"] = rec("1", "/x");
    for (const auto& row : table) {
        ASSERT_EQ(::setenv("HOME", row.homeVar.c_str(), 1), 0);
        std::string error;
        ASSERT_TRUE(r.save(row.file, error)) << row.file << ": " << error;
        EXPECT_EQ(ownerOf(row.file), user) << "HOME=" << row.homeVar << " " << row.file;
        EXPECT_EQ(ownerOf(row.firstMade), user) << "HOME=" << row.homeVar << " " << row.file;
    }
    ::setenv("HOME", home.c_str(), 1);
}

TEST(InstalledPluginVersion, IsTheLowestNonEmptyVersion) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> formats;  // key, version
        std::string expected;
    };
    const Case cases[] = {
        {{{"clap", "1.2.0"}, {"vst3", "1.10.0"}}, "1.2.0"},
        {{{"clap", "2.0"}, {"vst3", "1.9"}}, "1.9"},
        {{{"clap", ""}, {"vst3", "1.9"}}, "1.9"},   // an empty result is replaced
        {{{"clap", "1.9"}, {"vst3", ""}}, "1.9"},   // an empty later version is not taken
        {{{"app", "1.0"}, {"clap", "1.0.0"}}, "1.0"},  // equal: the first in key order
        {{}, ""},
    };
    for (const Case& c : cases) {
        tqm::InstalledPlugin p;
        for (const auto& [key, version] : c.formats) p.formats[key].version = version;
        EXPECT_EQ(p.version(), c.expected);
    }
}

}  // namespace
