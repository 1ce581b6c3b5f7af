#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "engine/tqm.h"

namespace {

TEST(RunningProgram, IsThisTestProgram) {
    const std::string self = tqm::runningProgram();
    ASSERT_FALSE(self.empty());
    EXPECT_EQ(self, std::filesystem::canonical("/proc/self/exe").string());
    EXPECT_EQ(::access(self.c_str(), X_OK), 0);
}

TEST(SelfItem, FindsTheEnclosingBundle) {
    const std::pair<const char*, const char*> cases[] = {
        {"/Applications/Manager.app/Contents/MacOS/Manager", "/Applications/Manager.app"},
        {"/usr/local/bin/manager", "/usr/local/bin/manager"},
        {"/A/Manager.App/Contents/MacOS/Manager", "/A/Manager.App/Contents/MacOS/Manager"},  // compared exactly
        {"/A/Manager.app/Contents/Resources/Manager", "/A/Manager.app/Contents/Resources/Manager"},
        {"Manager.app/Contents/MacOS/m", "Manager.app"},
        {"manager", "manager"},
        {"", ""},
    };
    for (const auto& [program, item] : cases) EXPECT_EQ(tqm::selfItem(program), item) << program;
}

}  // namespace
