// The entry's number parsing, the demo server's request paths and the demo's version step.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/options.h"
#include "tools/demo/demo_catalog.h"
#include "tools/demo/demo_serve.h"

namespace {

TEST(EntryOptions, SizesAndNumbers) {
    struct SizeCase {
        const char* text;
        bool ok;
        int w, h;
    };
    for (const SizeCase& c : std::initializer_list<SizeCase>{{"760x420", true, 760, 420},
                                                             {"1x1", true, 1, 1},
                                                             {"760X420", false, 0, 0},
                                                             {"760x", false, 0, 0},
                                                             {"x420", false, 0, 0},
                                                             {"0x420", false, 0, 0},
                                                             {"760x420 ", false, 0, 0},
                                                             {"+760x420", false, 0, 0},
                                                             {"99999x420", false, 0, 0},
                                                             {"99999999999x1", false, 0, 0}}) {
        int w = 0, h = 0;
        EXPECT_EQ(tqapp::parseSize(c.text, w, h), c.ok) << c.text;
        if (c.ok) {
            EXPECT_TRUE(w == c.w && h == c.h) << c.text;
        }
    }
    struct NumberCase {
        const char* text;
        bool ok;
        double value;
    };
    for (const NumberCase& c : std::initializer_list<NumberCase>{{"1.5", true, 1.5},
                                                                 {"2", true, 2.0},
                                                                 {"1,5", false, 0},
                                                                 {"-1", false, 0},
                                                                 {"1e2", false, 0},
                                                                 {"nan", false, 0},
                                                                 {"", false, 0},
                                                                 {"1.", true, 1.0},
                                                                 {"1.2.3", false, 0}}) {
        double v = 0;
        EXPECT_EQ(tqapp::parseNumber(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(DemoServer, RequestPathsStayInsideTheFolder) {
    struct Case {
        const char* target;
        const char* file;  // empty: refused
    };
    for (const Case& c : std::initializer_list<Case>{{"/catalog.json", "/d/catalog.json"},
                                                     {"/plugins/a.zip?x=1", "/d/plugins/a.zip"},
                                                     {"/art/a.png#top", "/d/art/a.png"},
                                                     {"/../secret", ""},
                                                     {"/plugins/../../secret", ""},
                                                     {"/./catalog.json", ""},
                                                     {"//etc/passwd", ""},
                                                     {"/plugins/", ""},
                                                     {"/", ""},
                                                     {"catalog.json", ""},
                                                     {"/%2e%2e/secret", ""},
                                                     {"/a\\..\\b", ""},
                                                     {"/a\x01", ""}}) {
        EXPECT_EQ(demo::servedPath("/d", c.target), c.file) << c.target;
    }
}

TEST(DemoCatalog, NextVersionRaisesTheMinorNumber) {
    EXPECT_EQ(demo::nextVersion("0.3.0"), "0.4.0");
    EXPECT_EQ(demo::nextVersion("1.9.7"), "1.10.0");
    EXPECT_EQ(demo::nextVersion("2"), "2.1");
}

}  // namespace

namespace {

TEST(DemoCatalog, RefusesAFolderThatIsNotEmpty) {
    const std::string dir = std::string(LUMO_APP_TEST_DIR) + "/not-empty";
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir + "/keys", ec);
    demo::Options o;
    o.out = dir;
    std::string error;
    EXPECT_FALSE(demo::makeDemo(o, error));
    EXPECT_NE(error.find("is not empty"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir + "/catalog"));
}

}  // namespace
