#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/temp_home.h"

namespace {

TEST(Folders, HomeOrTheOverride) {
    testsupport::TempHome temp;
    const std::string home = temp.home();
    struct Case {
        std::string override;
        std::string documents;
        std::string appData;
    };
    const std::vector<Case> cases = {
        {"", home + "/Documents", home + "/Library/Application Support"},
        {"/data/run", "/data/run/Documents", "/data/run/AppData"},
        {"/data/run/", "/data/run/Documents", "/data/run/AppData"},
        {"/", "/Documents", "/AppData"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.override);
        lumo::setDataFolderOverride(c.override);
        EXPECT_EQ(lumo::dataFolderOverride(), c.override);
        EXPECT_EQ(lumo::documentsFolder(), c.documents);
        EXPECT_EQ(lumo::appDataFolder(), c.appData);
    }
    lumo::setDataFolderOverride("");
}

}  // namespace
