// The manager's setup hooks and the notices text.
#include <gtest/gtest.h>

#include "manager/model/notices.h"
#include "manager/model/setup.h"

namespace {

TEST(Setup, AnswersAsAPlacedApplication) {
    for (const char* root : {"", "/tmp/somewhere"}) {
        const tqapp::setup::Where where{root};
        EXPECT_TRUE(tqapp::setup::installed(where));
        EXPECT_TRUE(tqapp::setup::runningInstalled(where, "/x/y"));
        EXPECT_TRUE(where.dir().empty());
        EXPECT_TRUE(where.exe().empty());
        EXPECT_TRUE(where.entryKey().empty());
        std::string error = "stale";
        EXPECT_FALSE(tqapp::setup::install(where, "/x/y", "0.3.0", true, true, error));
        EXPECT_EQ(error, "not on this platform");
        error.clear();
        EXPECT_FALSE(tqapp::setup::uninstall(where, error));
        EXPECT_EQ(error, "not on this platform");
    }
}

TEST(Notices, NamesEveryLinkedLibraryWithItsLicence) {
    const std::string& text = tqapp::thirdPartyNotices();
    EXPECT_EQ(&text, &tqapp::thirdPartyNotices());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.rfind("Ardune Systems Manager includes the following software", 0), 0u);
    EXPECT_NE(text.find("The pixel font and the Ardune Systems marks are Ardune Systems' own.\n"), std::string::npos);
    const std::string rule(78, '=');
    // Each title framed by rules, followed by a line of its own licence file.
    struct Case {
        const char* title;
        const char* licenceLine;
    } cases[] = {
        {"libsodium", "ISC"},
        {"libzip", "Dieter Baron and Thomas Klausner"},
        {"libcurl", "Daniel Stenberg"},
        {"OpenSSL", "Apache"},
        {"zlib", "Jean-loup Gailly"},
        {"libplist", "LGPL"},
        {"stb", "Sean Barrett"},
        {"SDL2", "Sam Lantinga"},
        {"DejaVu fonts", "Bitstream"},
    };
    size_t last = 0;
    for (const Case& c : cases) {
        const size_t at = text.find(rule + "\n" + c.title + " (");
        ASSERT_NE(at, std::string::npos) << c.title;
        EXPECT_GT(at, last) << c.title;
        const size_t end = text.find("\n", at + 79);  // the end of the title line
        EXPECT_EQ(text.substr(end + 1, 79), rule + "\n") << c.title;
        const size_t next = text.find(rule, end + 80);
        EXPECT_NE(text.substr(end, next - end).find(c.licenceLine), std::string::npos) << c.title;
        last = at;
    }
}

}  // namespace
