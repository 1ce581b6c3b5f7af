// Data purge: an app's own data, and the shared data only once no catalog app is left.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "engine/catalog.h"
#include "engine/jobs.h"
#include "tests/support/job_fixture.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class PurgeTest : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        for (const char* name : {"Studio", "Tuner", "Shared"}) {
            writeFile(data("AppData", name) + "/presets/a", "user");
            writeFile(data("ProgramData", name) + "/b", "machine");
        }
    }
};

TEST_F(PurgeTest, SharedDataGoesWithTheLastApp) {
    std::vector<std::string> results;
    ASSERT_FALSE(tqm::runTasks(engine, {{"install", "studio", "app"}, {"install", "tuner", "app"}}, results));
    logLines.clear();
    std::string error;
    // The other app is still there: only the purged app's own data goes.
    ASSERT_TRUE(engine.purge("studio", "user", error)) << error;
    EXPECT_FALSE(exists(data("AppData", "Studio")));
    EXPECT_TRUE(exists(data("AppData", "Shared")));
    EXPECT_TRUE(exists(data("ProgramData", "Studio")));
    EXPECT_EQ(logLines, std::vector<std::string>{"deleted " + data("AppData", "Studio")});

    ASSERT_TRUE(engine.remove("studio", "app", error)) << error;
    ASSERT_TRUE(engine.remove("tuner", "app", error)) << error;
    ASSERT_TRUE(engine.purge("tuner", "machine", error)) << error;
    EXPECT_FALSE(exists(data("ProgramData", "Tuner")));
    EXPECT_FALSE(exists(data("ProgramData", "Shared")));
    EXPECT_TRUE(exists(data("AppData", "Shared")));
    // Already gone is not an error.
    EXPECT_TRUE(engine.purge("studio", "user", error)) << error;
    EXPECT_FALSE(exists(data("AppData", "Shared")));
}

TEST_F(PurgeTest, UnknownIdsAndUndeletablePaths) {
    std::string error;
    for (const char* id : {"nothing", "synth"}) {
        EXPECT_TRUE(engine.canPurge(id, "user"));  // the purge says why without rights
        EXPECT_FALSE(engine.purge(id, "user", error));
        EXPECT_EQ(error, std::string(id) + " is not an app in the catalog: its data is unknown");
    }
    // A text that maps to nothing is named; everything deletable is deleted all the same.
    tqm::Catalog changed = loaded.catalog;
    changed.apps[0].paths_user["mac"] = {"%APPDATA%\\Ardune Systems\\..\\x", "%APPDATA%\\Ardune Systems\\Studio"};
    engine.catalog = &changed;
    EXPECT_FALSE(engine.purge("studio", "user", error));
    EXPECT_EQ(error, "cannot delete %APPDATA%\\Ardune Systems\\..\\x (in use?)");
    EXPECT_FALSE(exists(data("AppData", "Studio")));
}

TEST_F(PurgeTest, CanPurgeAsAnotherUser) {
    EXPECT_TRUE(engine.canPurge("studio", "user"));
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
    // The folders are root's: nobody cannot delete them.
    fs::permissions(temp.dir(), fs::perms::all);
    pid_t child = fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(2);
        _exit(engine.canPurge("studio", "user") ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
