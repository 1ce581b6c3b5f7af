// The manager's setup hooks, the notices text, and the stored settings a start takes.
#include <gtest/gtest.h>

#include "manager/model/notices.h"
#include "manager/model/settings_file.h"
#include "manager/model/setup.h"
#include "tests/manager/view_fixture.h"

namespace {

using namespace testsupport;

class StartSettings : public ViewTest {
protected:
    std::string settings() const {
        tqm::Layout layout;
        layout.root = path("root");
        return tqapp::settingsPath(layout);
    }
};

// A stored folder that is not a full path, or holds a control byte, is not used (and a note says
// so in the log); an unknown scope word means the default scope.
TEST_F(StartSettings, OnlyPlainStoredValuesAreUsed) {
    catalog.publish(catalogText("1.0.0"));
    const struct {
        std::string line, format;
        bool used;
        tqm::Scope scope;
        std::string note;
    } cases[] = {
        {"folder.vst3=relative/dir", "vst3", false, tqm::Scope::User,
         "The stored folder for vst3 (relative/dir) is not a full path: not used"},
        {"folder.clap=/a\tb", "clap", false, tqm::Scope::User, "The stored folder for clap holds a control character: not used"},
        {"folder.au=/plain/dir", "au", true, tqm::Scope::User, ""},
        {"scope=banana", "", false, tqm::defaultScope(), ""},
        {"scope=system", "", false, tqm::Scope::System, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_TRUE(writeFile(settings(), c.line + "\n"));
        open();
        ASSERT_TRUE(viewLoaded());
        const tqm::Layout& layout = view->model()->config.layout;
        EXPECT_EQ(layout.scope, c.scope);
        EXPECT_EQ(layout.folders.count(c.format), c.used ? 1u : 0u);
        const std::string log = readFile(view->model()->logFile().string());
        EXPECT_NE(log.find(c.note), std::string::npos) << log;
        close();
    }
}

// A setting that cannot be saved (a file that cannot be read whole is never rewritten) still holds
// for the session, and the status line says it was not saved.
TEST_F(StartSettings, AFailedSaveIsSaid) {
    catalog.publish(catalogText("1.0.0"));
    open();
    ASSERT_TRUE(viewLoaded());
    ASSERT_TRUE(writeFile(settings(), std::string(2 << 20, 'x')));
    EXPECT_TRUE(view->applyScope(tqm::Scope::System));
    EXPECT_EQ(view->model()->config.layout.scope, tqm::Scope::System);
    EXPECT_EQ(view->statusText(), tqapp::notSavedText(settings()));
    EXPECT_TRUE(view->setFolderOverride("vst3", path("plugins")));
    EXPECT_EQ(view->statusText(), tqapp::notSavedText(settings()));
}

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
