#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>

#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/file_lock.h"
#include "engine/install_folder.h"
#include "engine/install.h"
#include "engine/package.h"
#include "engine/sha256.h"
#include "engine/source.h"
#include "engine/util.h"
#include "tests/support/at_step.h"
#include "tests/support/lock_holder.h"
#include "tests/support/running_copy.h"
#include "tests/support/temp_home.h"
#include "tests/support/zip_maker.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

std::vector<std::string> tempNames(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(dir, ec))
        if (leftover(e.path().filename().string())) names.push_back(e.path().filename().string());
    return names;
}

tqm::FileRef packageRef(const std::string& path, const std::string& zip, const std::string& item,
                        const std::string& exe = "") {
    tqm::FileRef ref;
    ref.path = path;
    ref.size = zip.size();
    ref.sha256 = tqm::sha256Hex(zip.data(), zip.size());
    ref.item = item;
    ref.exe = exe;
    return ref;
}

class InstallTest : public TempHomeTest {
protected:
    void SetUp() override {
        engine.layout.root = path("root");
        engine.catalog = &catalog;
        engine.log = [this](const std::string& line) { logLines.push_back(line); };
        catalog.sequence = 42;
    }

    // A plug-in entry whose vst3 package is the given zip.
    tqm::Plugin& plugin(const std::string& zip, const std::string& version = "1.0.0") {
        tqm::Plugin p;
        p.id = "vendor.foo";
        p.name = "Foo";
        p.version = version;
        p.packages["vst3"]["mac"] = packageRef("plugins/Foo-" + version + ".zip", zip, "Foo.vst3");
        catalog.plugins = {p};
        return catalog.plugins[0];
    }

    static std::string bundle(const std::string& marker) {
        return makeZip({zipDir("Foo.vst3/"), zipFile("Foo.vst3/Contents/Info.plist", marker),
                        zipFile("Foo.vst3/Contents/MacOS/Foo", "bin", 0755, true)});
    }

    std::string vst3() const { return engine.layout.formatDir("vst3"); }

    tqm::Catalog catalog;
    tqm::Engine engine;
    std::vector<std::string> logLines;
};

TEST(EngineState, TagsAndNames) {
    const std::regex hex8("[0-9a-f]{8}");
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(std::regex_match(tqm::detail::tag(), hex8));
    EXPECT_TRUE(std::regex_match(tqm::detail::asideName("/A/B/Foo.vst3"),
                                 std::regex("/A/B/\\.tqm-old-[0-9a-f]{8}-Foo\\.vst3")));
    EXPECT_TRUE(std::regex_match(tqm::detail::stagingDir("/A/B"), std::regex("/A/B/\\.tqm-staging-[0-9a-f]{8}")));
    EXPECT_EQ(tqm::detail::asideFor("/A/B/.tqm-staging-0123abcd", "/A/B/Foo.vst3"), "/A/B/.tqm-old-0123abcd-Foo.vst3");
}

TEST_F(InstallTest, CanWriteMakesTheFolderAndLeavesNoProbe) {
    EXPECT_TRUE(engine.canWrite("vst3"));
    EXPECT_TRUE(fs::is_directory(vst3()));
    EXPECT_TRUE(tempNames(vst3()).empty());
    // A file where the folder should be.
    ASSERT_TRUE(writeFile(path("root/CLAP"), "not a folder"));
    EXPECT_FALSE(engine.canWrite("clap"));
}

TEST_F(InstallTest, SweepRemovesLeftoversOnly) {
    engine.sweep();  // no folders at all: nothing happens
    ASSERT_TRUE(writeFile(vst3() + "/.tqm-staging-1234abcd/Foo.vst3/x", "x"));
    ASSERT_TRUE(writeFile(vst3() + "/.tqm-old-0badf00d-Foo.vst3/Contents/x", "old"));
    ASSERT_TRUE(writeFile(vst3() + "/Foo.vst3/Contents/x", "current"));
    ASSERT_TRUE(writeFile(vst3() + "/tqm-old/x", "x"));
    ASSERT_TRUE(writeFile(engine.layout.appsDir() + "/.tqm-probe-00000001", ""));
    // A planted link among the leftovers is never followed.
    ASSERT_TRUE(writeFile(path("elsewhere/keep"), "keep"));
    fs::create_directory_symlink(path("elsewhere"), vst3() + "/.tqm-old-00000000-Foo.vst3");
    engine.sweep();
    EXPECT_EQ(tempNames(vst3()).size(), 2u);  // the aside copies: no note vouches for them
    EXPECT_TRUE(tempNames(engine.layout.appsDir()).empty());
    EXPECT_EQ(readFile(vst3() + "/Foo.vst3/Contents/x"), "current");
    EXPECT_TRUE(exists(vst3() + "/tqm-old/x"));
    EXPECT_EQ(readFile(path("elsewhere/keep")), "keep");
}

// A writer stopped between its renames leaves its old copy aside: the next sweep leaves the old or
// the new copy in place, never neither and never a copy aside, unless the writer noted it was
// removing the copy.
TEST_F(InstallTest, SweepRecoversInterruptedInstalls) {
    const std::string target = vst3() + "/Foo.vst3";
    enum Aside { None, OfThatStaging, OfARemoval };
    struct Case {
        const char* what;
        bool staging;
        Aside aside;
        bool newInPlace, noted;  // noted: a removal note of the aside copy's tag
        std::string expect;      // content at target afterwards; empty = nothing there
        bool leftAside = false;  // the aside copy stays (no note vouches for it)
    } cases[] = {
        {"stopped before the new copy moved in", true, OfThatStaging, false, false, "old"},
        {"moved in with no note", true, OfThatStaging, true, false, "new", true},
        {"its staging folder removed by hand meanwhile", false, OfThatStaging, false, false, "old"},
        {"removal stopped before deleting the aside copy", false, OfARemoval, false, true, ""},
        {"the same beside another install's staging folder", true, OfARemoval, false, true, ""},
        {"an aside copy no note says was removed", false, OfARemoval, false, false, "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(vst3());
        const std::string staging = tqm::detail::stagingDir(vst3());
        if (c.staging) {
            ASSERT_TRUE(writeFile(staging + "/Foo.vst3/Contents/x", "new"));
        }
        const std::string aside =
            c.aside == OfThatStaging ? tqm::detail::asideFor(staging, target) : tqm::detail::asideName(target);
        if (c.aside != None) {
            ASSERT_TRUE(writeFile(aside + "/Contents/x", "old"));
        }
        if (c.noted) {
            const std::string tag = tqm::detail::parseEntry(fs::path(aside).filename().string()).tag;
            ASSERT_TRUE(writeFile(vst3() + "/" + tqm::detail::noteName(tag),
                                  "{\"op\": \"remove\", \"id\": \"foo\", \"format\": \"vst3\", \"path\": \"" + target +
                                      "\", \"recorded\": \"" + target + "\"}\n"));
        }
        if (c.newInPlace) fs::rename(staging + "/Foo.vst3", target);
        engine.sweep();
        EXPECT_EQ(tempNames(vst3()).size(), c.leftAside ? 1u : 0u);
        EXPECT_EQ(readFile(target + "/Contents/x"), c.expect);
    }
}

TEST_F(InstallTest, FirstInstallThenUpdate) {
    const std::string v1 = bundle("one");
    std::string error;
    ASSERT_TRUE(engine.install(plugin(v1), "vst3", v1, error)) << error;
    const std::string target = vst3() + "/Foo.vst3";
    EXPECT_EQ(readFile(target + "/Contents/Info.plist"), "one");
    EXPECT_TRUE(tempNames(vst3()).empty());
    EXPECT_EQ(logLines.back(), "installed " + target);

    tqm::Receipt saved;
    ASSERT_TRUE(saved.load(engine.layout.receiptFile(), error)) << error;
    EXPECT_EQ(saved.catalog_sequence, 42);
    const tqm::InstalledFormat& rec = saved.plugins["vendor.foo"].formats["vst3"];
    EXPECT_EQ(rec.version, "1.0.0");
    EXPECT_EQ(rec.path, target);
    EXPECT_EQ(rec.package_sha256, tqm::sha256Hex(v1.data(), v1.size()));
    EXPECT_FALSE(rec.installed.empty());

    const std::string v2 = bundle("two");
    ASSERT_TRUE(engine.install(plugin(v2, "1.1.0"), "vst3", v2, error)) << error;
    EXPECT_EQ(readFile(target + "/Contents/Info.plist"), "two");
    EXPECT_TRUE(tempNames(vst3()).empty());
    ASSERT_TRUE(saved.load(engine.layout.receiptFile(), error)) << error;
    EXPECT_EQ(saved.plugins["vendor.foo"].formats["vst3"].version, "1.1.0");
}

TEST_F(InstallTest, BadBytesChangeNothing) {
    const std::string v1 = bundle("one");
    std::string error;
    ASSERT_TRUE(engine.install(plugin(v1), "vst3", v1, error)) << error;
    const std::string receiptBefore = readFile(engine.layout.receiptFile());

    const std::string v2 = bundle("two");
    const tqm::Plugin& entry = plugin(v2, "2.0.0");
    std::string flipped = v2;
    flipped[flipped.size() / 2] ^= 1;
    for (const std::string& bytes : {v2.substr(0, v2.size() - 1), flipped}) {
        EXPECT_FALSE(engine.install(entry, "vst3", bytes, error));
        EXPECT_EQ(error, "plugins/Foo-2.0.0.zip does not match the catalog: not installed");
    }
    // A package that matches the catalog but holds a path outside its item.
    const std::string evil = makeZip({zipFile("Foo.vst3/Contents/Info.plist", "evil"), zipFile("Bar.vst3/x", "x")});
    EXPECT_FALSE(engine.install(plugin(evil, "3.0.0"), "vst3", evil, error));
    EXPECT_EQ(error, "the package holds an unexpected path: Bar.vst3/x");

    EXPECT_EQ(readFile(vst3() + "/Foo.vst3/Contents/Info.plist"), "one");
    EXPECT_TRUE(tempNames(vst3()).empty());
    EXPECT_EQ(readFile(engine.layout.receiptFile()), receiptBefore);
    EXPECT_EQ(engine.install(entry, "xyz", v2, error), false);
    EXPECT_EQ(error, "Foo has no xyz for mac");
}

TEST_F(InstallTest, FailedMoveInLeavesReceiptAlone) {
    // A dangling link at the target: nothing to move aside, and a folder cannot replace it.
    fs::create_directories(vst3());
    fs::create_symlink(path("nowhere"), vst3() + "/Foo.vst3");
    const std::string v1 = bundle("one");
    std::string error;
    EXPECT_FALSE(engine.install(plugin(v1), "vst3", v1, error));
    EXPECT_EQ(error.rfind("cannot move Foo.vst3 into " + vst3() + ": ", 0), 0u) << error;
    EXPECT_TRUE(tempNames(vst3()).empty());
    EXPECT_FALSE(exists(engine.layout.receiptFile()));
}

// The update's move of the new copy fails after the old copy went aside: the old copy is back
// under its name at once, or, when even that rename fails, by the next sweep.
std::vector<tqm::detail::RenameStep> g_failing;
int failListed(tqm::detail::RenameStep step) {
    return std::find(g_failing.begin(), g_failing.end(), step) != g_failing.end() ? EIO : 0;
}

TEST_F(InstallTest, FailedMoveInPutsTheOldCopyBack) {
    using Step = tqm::detail::RenameStep;
    const std::string target = vst3() + "/Foo.vst3";
    struct Case {
        const char* what;
        std::vector<Step> failing;
        bool backAtOnce;
    } cases[] = {
        {"move in fails", {Step::In}, true},
        {"move in and the way back fail", {Step::In, Step::Back}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string v1 = bundle("one"), v2 = bundle("two");
        std::string error;
        ASSERT_TRUE(engine.install(plugin(v1), "vst3", v1, error)) << error;
        const std::string receipt = readFile(engine.layout.receiptFile());
        g_failing = c.failing;
        tqm::detail::renameFault = failListed;
        EXPECT_FALSE(engine.install(plugin(v2, "2.0.0"), "vst3", v2, error));
        tqm::detail::renameFault = nullptr;
        EXPECT_EQ(error, "cannot move Foo.vst3 into " + vst3() + ": " + std::strerror(EIO));
        EXPECT_EQ(readFile(target + "/Contents/Info.plist"), c.backAtOnce ? "one" : "");
        EXPECT_EQ(tempNames(vst3()).empty(), c.backAtOnce);
        engine.sweep();
        EXPECT_EQ(readFile(target + "/Contents/Info.plist"), "one");
        EXPECT_EQ(readFile(target + "/Contents/MacOS/Foo"), "bin");
        EXPECT_TRUE(tempNames(vst3()).empty());
        EXPECT_EQ(readFile(engine.layout.receiptFile()), receipt);
        ASSERT_TRUE(engine.install(plugin(v2, "2.0.0"), "vst3", v2, error)) << error;
        EXPECT_EQ(readFile(target + "/Contents/Info.plist"), "two");
        fs::remove_all(path("root"));
        engine.receipt = tqm::Receipt();
    }
}

// Nothing moves that could not be recorded: a first install's note names its receipt, and an
// account that cannot replace or lock another account's receipt in a shared folder says why.
TEST_F(InstallTest, NothingMovesThatCannotBeRecorded) {
    const std::string v1 = bundle("one");
    std::string note, error;
    {
        const AtStep moving(tqm::detail::RenameStep::In, [&] {
            for (const std::string& name : tempNames(vst3()))
                if (name.rfind(".tqm-record-", 0) == 0) note = readFile(vst3() + "/" + name);
            return 0;
        });
        ASSERT_TRUE(engine.install(plugin(v1), "vst3", v1, error)) << error;
    }
    EXPECT_TRUE(std::regex_search(note, std::regex("\"receipt\": \"[^\"]"))) << note;
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another account";
    const std::string receipt = engine.layout.receiptFile();
    for (const std::string& open : {temp.dir(), path("root")}) ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
    for (const std::string& shared : {fs::path(receipt).parent_path().string(), vst3()})
        ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    fs::remove_all(vst3() + "/Foo.vst3");
    engine.waiting = [](const std::string&) { return false; };
    const auto refused = [&](const std::string& expected) {
        return asUser(65534, [&] {
            std::string why;
            return !engine.install(plugin(v1), "vst3", v1, why) && why == expected;
        });
    };
    EXPECT_TRUE(refused("cannot replace " + receipt + ": " + std::strerror(EPERM)));
    EXPECT_FALSE(exists(vst3() + "/Foo.vst3"));
    EXPECT_TRUE(tempNames(vst3()).empty());
    // With no receipt yet it could write one, but its note would not count for that folder's
    // receipt after a kill: nothing moves either.
    fs::remove(receipt);
    EXPECT_TRUE(refused(receipt + " belongs to another account: a change this account makes there could not be "
                                  "recorded after an interruption, so it is left to that account"));
    EXPECT_FALSE(exists(vst3() + "/Foo.vst3"));
}

TEST_F(InstallTest, CopyInThePreviousFolderIsRemoved) {
    const std::string v1 = bundle("one");
    tqm::Plugin& entry = plugin(v1);
    struct Case {
        std::string previous;
        bool removed;
    } cases[] = {
        {path("old/VST3/Ardune Systems/Foo.vst3"), true},
        {path("old/VST3/Other/Foo.vst3"), false},
        // Names the folder above the maker's: nothing there is touched.
        {path("old/VST3/Ardune Systems/.."), false},
    };
    ASSERT_TRUE(writeFile(path("old/VST3/Ardune Systems/Keep.vst3/x"), "keep"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.previous);
        ASSERT_TRUE(writeFile(c.previous + "/Contents/x", "x"));
        engine.receipt.plugins["vendor.foo"].formats["vst3"].path = c.previous;
        logLines.clear();
        std::string error;
        ASSERT_TRUE(engine.install(entry, "vst3", v1, error)) << error;
        EXPECT_EQ(exists(c.previous), !c.removed);
        const bool logged =
            std::find(logLines.begin(), logLines.end(), "removed the copy in the previous folder " + c.previous) !=
            logLines.end();
        EXPECT_EQ(logged, c.removed);
        for (const std::string& line : logLines) {
            if (!c.removed) {
                EXPECT_EQ(line.find(c.previous), std::string::npos) << line;
            }
        }
        EXPECT_EQ(readFile(path("old/VST3/Ardune Systems/Keep.vst3/x")), "keep");
    }
}

// The recorded copy is the one at the target, reached under another spelling of the folder (a
// link to it, or a "." in the path): the update must not delete the copy it just moved in.
TEST_F(InstallTest, PreviousFolderUnderAnotherSpellingIsTheTarget) {
    fs::create_directories(path("plugins"));
    fs::create_directory_symlink(path("plugins"), path("alias"));
    for (const std::string& spelling : {path("alias"), path("./plugins")}) {
        SCOPED_TRACE(spelling);
        engine.layout.folders["vst3"] = path("plugins");
        const std::string v1 = bundle("one");
        std::string error;
        ASSERT_TRUE(engine.install(plugin(v1), "vst3", v1, error)) << error;
        engine.layout.folders["vst3"] = spelling;
        const std::string v2 = bundle("two");
        ASSERT_TRUE(engine.install(plugin(v2, "2.0.0"), "vst3", v2, error)) << error;
        EXPECT_EQ(readFile(path("plugins/Ardune Systems/Foo.vst3/Contents/Info.plist")), "two");
    }
}

class AppInstallTest : public InstallTest {
protected:
    tqm::Plugin& app(const std::string& zip, const std::string& version = "1.0.0") {
        tqm::Plugin p;
        p.id = "vendor.app";
        p.name = "Foo App";
        p.version = version;
        p.is_app = true;
        p.uninstall_key = "FooApp";
        p.packages["app"]["mac"] = packageRef("apps/Foo-" + version + ".zip", zip, "Foo.app", "Foo");
        catalog.apps = {p};
        return catalog.apps[0];
    }
    static std::string appZip(const std::string& marker) {
        return makeZip({zipFile("Foo.app/Contents/MacOS/Foo", "#!/bin/sh\n", 0755),
                        zipFile("Foo.app/Contents/Resources/marker", marker)});
    }
    std::string appsDir() const { return engine.layout.appsDir(); }
};

TEST_F(AppInstallTest, InstallsAndRecords) {
    const std::string zip = appZip("one");
    std::string error;
    // Reached through install with the format "app".
    ASSERT_TRUE(engine.install(app(zip), "app", zip, error)) << error;
    EXPECT_EQ(readFile(appsDir() + "/Foo.app/Contents/Resources/marker"), "one");
    EXPECT_TRUE(tempNames(appsDir()).empty());
    tqm::Receipt saved;
    ASSERT_TRUE(saved.load(engine.layout.appsReceiptFile(), error)) << error;
    EXPECT_EQ(saved.catalog_sequence, 42);
    const tqm::InstalledFormat& rec = saved.plugins["vendor.app"].formats["app"];
    EXPECT_EQ(rec.path, appsDir() + "/Foo.app");
    EXPECT_EQ(rec.exe, "Foo");
    EXPECT_EQ(rec.uninstall_key, "FooApp");
    EXPECT_EQ(rec.version, "1.0.0");
}

TEST_F(AppInstallTest, UpdatesWhereItIsOrRefuses) {
    // A plain copy recorded outside the apps folder is updated where it is.
    const std::string elsewhere = path("Other Apps/Foo.app");
    ASSERT_TRUE(writeFile(elsewhere + "/Contents/MacOS/Foo", "old"));
    engine.apps.plugins["vendor.app"].formats["app"].path = elsewhere;
    const std::string zip = appZip("two");
    std::string error;
    ASSERT_TRUE(engine.installApp(app(zip, "2.0.0"), zip, error)) << error;
    EXPECT_EQ(readFile(elsewhere + "/Contents/Resources/marker"), "two");
    EXPECT_FALSE(exists(appsDir() + "/Foo.app"));
    EXPECT_TRUE(tempNames(path("Other Apps")).empty());

    // A folder that is not plainly the app is never replaced.
    const std::string suite = path("Suite/Foo Suite");
    ASSERT_TRUE(writeFile(suite + "/Contents/MacOS/Foo", "installer's"));
    engine.apps.plugins["vendor.app"].formats["app"].path = suite;
    EXPECT_FALSE(engine.installApp(app(zip, "2.0.0"), zip, error));
    EXPECT_EQ(error, "Foo App is installed in " + suite +
                         ", not a folder the manager replaces: update it with its installer");
    EXPECT_EQ(readFile(suite + "/Contents/MacOS/Foo"), "installer's");
}

// An app recorded outside the applications folder is updated there, and the sweep settles an
// update cut off there: put back if cut between its renames, recorded if cut before its record.
TEST_F(AppInstallTest, AnUpdateCutOffOutsideTheApplicationsFolderIsSettled) {
    using Step = tqm::detail::RenameStep;
    const std::string elsewhere = path("Other Apps/Foo.app");
    const struct {
        const char* what;
        std::vector<Step> failing;  // else the receipt's lock is held
        const char *marker, *version;
    } cases[] = {{"killed between its renames", {Step::In, Step::Back}, "one", "1.0.0"},
                 {"cut off before its record", {}, "two", "2.0.0"}};
    engine.waiting = [](const std::string&) { return false; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string one = appZip("one"), two = appZip("two");
        std::string error;
        ASSERT_TRUE(engine.installApp(app(one), one, error)) << error;
        fs::create_directories(path("Other Apps"));
        fs::rename(appsDir() + "/Foo.app", elsewhere);
        ASSERT_TRUE(tqm::updateReceipt(engine.layout.appsReceiptFile(), engine.apps, [&](tqm::Receipt& r) {
            r.plugins["vendor.app"].formats["app"].path = elsewhere;
        }, error)) << error;
        {
            std::optional<tqm::FileLock> held;
            if (c.failing.empty()) held.emplace(engine.layout.appsReceiptFile() + ".lock", std::chrono::seconds(0));
            g_failing = c.failing;
            tqm::detail::renameFault = failListed;
            EXPECT_FALSE(engine.installApp(app(two, "2.0.0"), two, error));
            tqm::detail::renameFault = nullptr;
        }
        engine.sweep();
        EXPECT_EQ(readFile(elsewhere + "/Contents/Resources/marker"), c.marker);
        EXPECT_TRUE(tempNames(path("Other Apps")).empty());
        tqm::Receipt saved;
        ASSERT_TRUE(saved.load(engine.layout.appsReceiptFile(), error)) << error;
        EXPECT_EQ(saved.plugins["vendor.app"].formats["app"].version, c.version);
        fs::remove_all(path("root"));
        fs::remove_all(path("Other Apps"));
        engine.apps = tqm::Receipt();
    }
}

TEST_F(AppInstallTest, BadPackages) {
    const std::string good = appZip("one");
    tqm::Plugin& entry = app(good);
    std::string error;
    ASSERT_TRUE(engine.installApp(entry, good, error)) << error;
    // Packages whose program is missing, a folder, or a link (even to a file of the bundle): the
    // installed app stays as it was.
    struct Case {
        const char* what;
        std::string zip;
    } cases[] = {
        {"no program", makeZip({zipFile("Foo.app/Contents/Info.plist", "x")})},
        {"a folder", makeZip({zipFile("Foo.app/Contents/MacOS/Foo/Foo", "#!/bin/sh\n", 0755)})},
        {"a link", makeZip({zipFile("Foo.app/Contents/Resources/Foo", "#!/bin/sh\n", 0755),
                            zipLink("Foo.app/Contents/MacOS/Foo", "../Resources/Foo")})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(engine.installApp(app(c.zip, "2.0.0"), c.zip, error));
        EXPECT_EQ(error, "the package has no Foo.app/Contents/MacOS/Foo");
        EXPECT_TRUE(tempNames(appsDir()).empty());
        EXPECT_EQ(readFile(appsDir() + "/Foo.app/Contents/Resources/marker"), "one");
        EXPECT_EQ(readFile(appsDir() + "/Foo.app/Contents/MacOS/Foo"), "#!/bin/sh\n");
    }

    tqm::Plugin none = entry;
    none.packages.clear();
    EXPECT_FALSE(engine.installApp(none, good, error));
    EXPECT_EQ(error, "Foo App has no package for mac");
}

TEST_F(AppInstallTest, RefusedWhileRunning) {
    const std::string zip = appZip("two");
    std::string error;
    ASSERT_TRUE(engine.installApp(app(zip), zip, error)) << error;
    const std::string bundlePath = appsDir() + "/Foo.app";
    {
        RunningCopy running(bundlePath + "/Contents/MacOS/Foo");
        ASSERT_GT(running.pid, 0);
        EXPECT_EQ(tqm::appRunning(bundlePath), bundlePath + "/Contents/MacOS/Foo");
        EXPECT_FALSE(engine.installApp(app(zip, "2.0.0"), zip, error));
        EXPECT_EQ(error, "Foo App is running (Foo is in use): quit it and try again");
        EXPECT_TRUE(tempNames(appsDir()).empty());
        EXPECT_EQ(readFile(bundlePath + "/Contents/Resources/marker"), "two");
    }
    {
        // A program in Foo.app2 is not inside Foo.app.
        RunningCopy other(appsDir() + "/Foo.app2/Contents/MacOS/Foo");
        ASSERT_EQ(tqm::appRunning(appsDir() + "/Foo.app2"), appsDir() + "/Foo.app2/Contents/MacOS/Foo");
        EXPECT_EQ(tqm::appRunning(bundlePath), "");
        EXPECT_TRUE(engine.installApp(app(zip, "2.0.0"), zip, error)) << error;
    }
}

}  // namespace

namespace {

// Sizes handed to SHA-256 while a test watches.
std::vector<size_t>& hashed() {
    static std::vector<size_t> sizes;
    return sizes;
}

struct WatchHashes {
    WatchHashes() {
        hashed().clear();
        tqm::detail::sha256Watch = [](size_t size) { hashed().push_back(size); };
    }
    ~WatchHashes() { tqm::detail::sha256Watch = nullptr; }
};

}  // namespace

// A package checked at download is installed from what was checked, without hashing it again,
// whatever is put at the cache path meanwhile; from a fresh download and from the cache, for a
// plug-in and for an app. A package checked for another file is refused.
TEST_F(InstallTest, ACheckedPackageIsInstalledAsChecked) {
    const std::string zip = bundle("v1");
    tqm::Plugin& entry = plugin(zip);
    tqm::Plugin app;
    app.id = "vendor.studio";
    app.name = "Studio";
    app.version = "1.0.0";
    const std::string appZip = makeZip({zipFile("Studio.app/Contents/MacOS/Studio", "bin", 0755, true)});
    app.packages["app"]["mac"] = packageRef("apps/Studio.zip", appZip, "Studio.app", "Studio");
    writeFile(path("source/plugins/Foo-1.0.0.zip"), zip);
    writeFile(path("source/apps/Studio.zip"), appZip);
    const tqm::Source source(path("source"));
    engine.source = &source;
    const std::string cached = engine.layout.userData() + "/cache/packages/Foo-1.0.0.zip";

    for (const bool fromCache : {false, true}) {
        SCOPED_TRACE(fromCache ? "from the cache" : "downloaded");
        WatchHashes watch;
        tqm::Package package, appPackage;
        std::string error;
        ASSERT_TRUE(engine.download(entry, "vst3", package, error, {})) << error;
        ASSERT_TRUE(engine.download(app, "app", appPackage, error, {})) << error;
        EXPECT_EQ(hashed(), (std::vector<size_t>{zip.size(), appZip.size()}));

        // Someone puts another file at the cache path between the check and the install.
        writeFile(cached + ".other", bundle("swapped"));
        fs::rename(cached + ".other", cached);
        ASSERT_TRUE(engine.install(entry, "vst3", package, error)) << error;
        ASSERT_TRUE(engine.install(app, "app", appPackage, error)) << error;
        EXPECT_EQ(readFile(vst3() + "/Foo.vst3/Contents/Info.plist"), "v1");
        EXPECT_TRUE(fs::exists(engine.layout.appsDir() + "/Studio.app/Contents/MacOS/Studio"));
        EXPECT_EQ(hashed().size(), 2u) << "installs hashed again";
        writeFile(cached, zip);  // the next round finds the good copy in the cache
    }

    tqm::Package package;
    std::string error;
    ASSERT_TRUE(engine.download(entry, "vst3", package, error, {})) << error;
    tqm::Plugin other = entry;
    other.packages["vst3"]["mac"] = packageRef("plugins/Foo-1.0.0.zip", bundle("v2"), "Foo.vst3");
    EXPECT_FALSE(engine.install(other, "vst3", package, error));
    EXPECT_EQ(error, "plugins/Foo-1.0.0.zip does not match the catalog: not installed");
    EXPECT_FALSE(engine.install(entry, "vst3", tqm::Package(), error));
}

// A cached package that others may write is not held by its descriptor as checked: one written over
// in place after the check never reaches the install folder.
TEST_F(InstallTest, ACachedPackageOthersMayWriteIsInstalledAsChecked) {
    const std::string zip = bundle("v1"), other = bundle("v6");
    ASSERT_EQ(other.size(), zip.size());
    tqm::Plugin& entry = plugin(zip);
    const std::string cached = engine.layout.userData() + "/cache/packages/Foo-1.0.0.zip";
    for (const mode_t mode : {0666, 0664, 0646}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(writeFile(cached, zip) && ::chmod(cached.c_str(), mode) == 0);
        tqm::Package package;
        std::string error;
        ASSERT_TRUE(engine.download(entry, "vst3", package, error, {})) << error;
        const int fd = ::open(cached.c_str(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, other.data(), other.size(), 0), ssize_t(other.size()));
        ::close(fd);
        if (engine.install(entry, "vst3", package, error)) {
            EXPECT_EQ(readFile(vst3() + "/Foo.vst3/Contents/Info.plist"), "v1");
        }
        fs::remove_all(vst3());
    }
}
