// The manager's own update: a replace and sweep cycle on a bundle folder, and refusals.
#include <filesystem>
#include <functional>

#include "engine/catalog.h"
#include "engine/install_folder.h"
#include "tests/support/job_fixture.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class SelfUpdateTest : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        publish("2.0.0", 2);
        bundle = path("apps/My Manager.app");
        writeFile(bundle + "/Contents/MacOS/manager", "manager 1.0.0");
        engine.program = bundle;
        std::string error;
        ASSERT_TRUE(engine.downloadSelf(package, error, {})) << error;
        logLines.clear();
    }
    std::string bundle, package;
};

TEST_F(SelfUpdateTest, ReplaceThenSweepAtNextStart) {
    EXPECT_TRUE(engine.canWriteSelf());
    // Leftovers of earlier runs: this bundle's, another app's, and a staging folder.
    writeFile(path("apps/.tqm-old-0000beef-Other.app/x"), "other");
    writeFile(path("apps/.tqm-staging-12345678/x"), "x");
    writeFile(path("apps/.tqm-old-0000dead-XMy Manager.app/x"), "not ours");

    std::string error;
    ASSERT_TRUE(engine.replaceSelf(package, error)) << error;
    // The package calls its bundle Manager.app; it takes the running bundle's own name.
    EXPECT_EQ(readFile(bundle + "/Contents/MacOS/manager"), "manager 2.0.0");
    EXPECT_EQ(logLines.back(), "updated " + bundle);
    // The running copy, kept aside until the next start.
    std::vector<std::string> aside;
    for (const std::string& n : entryNames(path("apps")))
        if (n.rfind(".tqm-old-", 0) == 0 && n.size() == 9 + 8 + 1 + 14 && n.substr(17) == "-My Manager.app")
            aside.push_back(n);
    ASSERT_EQ(aside.size(), 1u) << ::testing::PrintToString(entryNames(path("apps")));
    EXPECT_EQ(readFile(path("apps/" + aside[0] + "/Contents/MacOS/manager")), "manager 1.0.0");
    EXPECT_EQ(entryNames(path("apps")).size(), 5u);

    engine.sweepSelf(bundle);
    EXPECT_EQ(entryNames(path("apps")), (std::vector<std::string>{".tqm-old-0000beef-Other.app",
                                                             ".tqm-old-0000dead-XMy Manager.app", "My Manager.app"}));
}

// A job in the manager that just updated itself leaves its old bundle aside, as the next start
// does not find it yet; that start removes it.
TEST_F(SelfUpdateTest, AJobLeavesTheRunningCopyToTheNextStart) {
    bundle = appsDir() + "/My Manager.app";
    engine.program = bundle;
    writeFile(bundle + "/Contents/MacOS/manager", "manager 1.0.0");
    std::string error;
    ASSERT_TRUE(engine.replaceSelf(package, error)) << error;
    ASSERT_TRUE(engine.sweep());
    const std::vector<std::string> names = entryNames(appsDir());
    ASSERT_EQ(names.size(), 2u) << ::testing::PrintToString(names);
    EXPECT_EQ(readFile(appsDir() + "/" + names[0] + "/Contents/MacOS/manager"), "manager 1.0.0");
    engine.sweepSelf(bundle);
    EXPECT_EQ(entryNames(appsDir()), std::vector<std::string>{"My Manager.app"});
}

TEST_F(SelfUpdateTest, Refusals) {
    std::string error;
    const std::string bare = path("bin/manager");
    writeFile(bare, "a program outside any bundle");
    struct Case {
        const char* what;
        const tqm::Catalog* catalog;
        std::string program;
        std::string data;
        std::string error;
    } cases[] = {
        {"no catalog", nullptr, "", package, "the catalog has no manager for mac"},
        {"no program", &loaded.catalog, "", package, "no program to replace"},
        {"a bare program file", &loaded.catalog, bare, package, bare + " is not an app bundle: not updated"},
        {"wrong bytes", &loaded.catalog, bundle, package + "x",
         "manager/Manager-2.0.0.zip does not match the catalog: not updated"},
    };
    for (const Case& c : cases) {
        engine.catalog = c.catalog;
        engine.program = c.program;
        EXPECT_FALSE(engine.replaceSelf(c.data, error)) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
    }
    EXPECT_EQ(readFile(bare), "a program outside any bundle");
    EXPECT_EQ(entryNames(path("bin")), std::vector<std::string>{"manager"});
    EXPECT_EQ(entryNames(path("apps")), std::vector<std::string>{"My Manager.app"});

    engine.program = "";
    EXPECT_FALSE(engine.canWriteSelf());
    // Outside a bundle the update is refused without rights, so no prompt is needed.
    engine.program = bare;
    EXPECT_TRUE(engine.canWriteSelf());
}

TEST_F(SelfUpdateTest, PackageWithoutABundleIsRefused) {
    // A package whose item is a file, not a bundle: nothing is moved.
    const std::string zip = makeZip({zipFile("Manager.app", "just a file")});
    tqm::Catalog changed = loaded.catalog;
    tqm::FileRef& ref = changed.manager_packages["mac"];
    ref.size = zip.size();
    ref.sha256 = tqm::sha256Hex(zip.data(), zip.size());
    engine.catalog = &changed;
    std::string error;
    EXPECT_FALSE(engine.replaceSelf(zip, error));
    EXPECT_EQ(error, "Manager.app in manager/Manager-2.0.0.zip is not an app bundle: not updated");
    EXPECT_EQ(entryNames(path("apps")), std::vector<std::string>{"My Manager.app"});
    EXPECT_EQ(readFile(bundle + "/Contents/MacOS/manager"), "manager 1.0.0");
}

// An update whose new copy could not move in nor the old one back leaves the running copy aside,
// its name free: the next start, or the next job's sweep of the folder, puts it back rather than
// sweeping the last copy away.
TEST_F(SelfUpdateTest, TheNextStartOrJobPutsBackACopyLeftAside) {
    bundle = appsDir() + "/My Manager.app";
    engine.program = bundle;
    const struct {
        const char* what;
        std::function<void()> sweep;
    } cases[] = {{"a start", [&] { engine.sweepSelf(bundle); }}, {"a job", [&] { engine.sweep(); }}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(bundle + "/Contents/MacOS/manager", "manager 1.0.0");
        tqm::detail::renameFault = [](tqm::detail::RenameStep step) {
            return step == tqm::detail::RenameStep::In || step == tqm::detail::RenameStep::Back ? EIO : 0;
        };
        std::string error;
        EXPECT_FALSE(engine.replaceSelf(package, error));
        tqm::detail::renameFault = nullptr;
        ASSERT_FALSE(fs::exists(bundle));
        c.sweep();
        EXPECT_EQ(readFile(bundle + "/Contents/MacOS/manager"), "manager 1.0.0");
        engine.sweep();
        EXPECT_EQ(entryNames(appsDir()), std::vector<std::string>{"My Manager.app"});
    }
}

// Another app whose name ends in the manager's, stopped between its renames: a start takes none of
// its entries for the manager's, whether the manager is in place or its own copy is aside too.
TEST_F(SelfUpdateTest, AStartTakesNoOtherAppsEntriesForItsOwn) {
    const std::string other = path("apps/.tqm-old-00000001-Foo-My Manager.app");
    for (const bool managerAside : {false, true}) {
        SCOPED_TRACE(managerAside ? "the manager aside too" : "the manager in place");
        fs::remove_all(path("apps"));
        writeFile(path("apps/.tqm-staging-00000001/Foo-My Manager.app/x"), "Foo 2");
        writeFile(other + "/x", "Foo 1");
        writeFile(bundle + "/Contents/MacOS/manager", "manager 1.0.0");
        if (managerAside) {  // the manager's own update stopped between its renames
            writeFile(path("apps/.tqm-staging-00000002/My Manager.app/Contents/MacOS/manager"), "manager 2.0.0");
            fs::rename(bundle, path("apps/.tqm-old-00000002-My Manager.app"));
        }
        engine.sweepSelf(bundle);
        EXPECT_EQ(readFile(bundle + "/Contents/MacOS/manager"), "manager 1.0.0");
        EXPECT_EQ(readFile(other + "/x"), "Foo 1");
    }
}

}  // namespace
