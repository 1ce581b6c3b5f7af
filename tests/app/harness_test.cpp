// The program without a display: screenshots of both looks at three scales against the pixel
// hashes kept in tests/app/screenshots.txt, the tree dump at a given size and scale, and options
// it refuses. Set LUMO_UPDATE_SHOTS=1 to write the hashes anew after a deliberate change of look.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "gui/draw/canvas.h"
#include "json/json.h"
#include "tests/app/app_support.h"

namespace {

using apptest::Demo;

// FNV-1a over the decoded pixels, with the size.
std::string pixelHash(const lumo::gui::Bitmap& b) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) h = (h ^ ((v >> (8 * i)) & 0xFF)) * 1099511628211ull;
    };
    mix(uint32_t(b.w));
    mix(uint32_t(b.h));
    for (uint32_t p : b.pixels) mix(p);
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

std::map<std::string, std::string> readHashes(const std::string& file) {
    std::map<std::string, std::string> out;
    std::ifstream in(file);
    std::string name, hash;
    while (in >> name >> hash) out[name] = hash;
    return out;
}

TEST(Harness, ScreenshotsOfBothLooksMatchTheirPixelHashes) {
    Demo demo("shots");
    ASSERT_TRUE(demo.ok()) << demo.error;
    const std::string shots = std::string(LUMO_PICTURE_DIR) + "/app";
    std::filesystem::create_directories(shots);
    const std::map<std::string, std::string> kept = readHashes(LUMO_APP_SHOTS_FILE);
    std::map<std::string, std::string> now;
    for (const char* look : {"pixel", "tq"})
        for (const char* scale : {"1", "1.5", "2"}) {
            const std::string name = std::string(look) + "@" + scale;
            const std::string png = shots + "/" + name + ".png";
            std::vector<std::string> args = demo.args();
            if (std::string(look) == "tq") args.insert(args.end(), {"--look", "tq"});
            args.insert(args.end(), {"--scale", scale, "--screenshot", png});
            std::string out;
            ASSERT_EQ(apptest::run(args, demo.home(), out), 0) << name << ": " << out;
            const lumo::gui::Bitmap b = lumo::gui::Bitmap::loadFile(png);
            ASSERT_FALSE(b.empty()) << name;
            now[name] = pixelHash(b);
            if (std::getenv("LUMO_UPDATE_SHOTS")) continue;
            auto it = kept.find(name);
            EXPECT_TRUE(it != kept.end() && it->second == now[name])
                << name << " paints differently from its kept hash; look at " << png
                << " and run with LUMO_UPDATE_SHOTS=1 when the change is meant";
        }
    if (std::getenv("LUMO_UPDATE_SHOTS")) {
        std::ofstream out(LUMO_APP_SHOTS_FILE);
        for (const auto& [name, hash] : now) out << name << " " << hash << "\n";
    }
}

TEST(Harness, TreeDumpFollowsSizeZoomAndScale) {
    Demo demo("tree");
    ASSERT_TRUE(demo.ok()) << demo.error;
    struct Case {
        std::vector<std::string> options;
        int width, height;
        double scale, zoom;
    };
    // The pixel look's least width is 496 units; the skin look's zoom is 1.2 unless one is given.
    const Case cases[] = {
        {{}, 564, 344, 1.0, 1.0},
        {{"--size", "700x420"}, 700, 420, 1.0, 1.0},
        {{"--size", "700x420", "--scale", "2"}, 1400, 840, 2.0, 1.0},
        {{"--size", "700x420", "--scale", "1.5", "--zoom", "1"}, 1050, 630, 1.5, 1.0},
        {{"--look", "tq", "--zoom", "1"}, 473, 344, 1.0, 1.0},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = demo.args();
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back("--dump-tree");
        std::string out;
        ASSERT_EQ(apptest::run(args, demo.home(), out), 0) << out;
        const lumo::Json tree = lumo::Json::parse(out);
        SCOPED_TRACE(out.substr(0, 200));
        EXPECT_EQ(tree["width"].number, c.width);
        EXPECT_EQ(tree["height"].number, c.height);
        EXPECT_EQ(tree["dpi"].number, c.scale);
        EXPECT_EQ(tree["zoom"].number, c.zoom);
        const lumo::Json& view = tree["body"]["children"][0];
        EXPECT_EQ(view["name"].string(), "manager");
        // Loaded inline: the rows are listed before the dump.
        bool rows = false;
        for (const lumo::Json& item : view["items"].array()) rows = rows || item["label"].string() == "row:1";
        EXPECT_TRUE(rows);
    }
    // Nothing of a harness run is written under the root: no log, no window size.
    EXPECT_FALSE(std::filesystem::exists(demo.root() + "/data/window.txt"));
}

TEST(Harness, RefusesOptionsThatAreNotNumbers) {
    Demo demo("refuse");
    ASSERT_TRUE(demo.ok()) << demo.error;
    const std::vector<std::vector<std::string>> bad = {
        {"--size", "700"}, {"--size", "0x300"}, {"--size", "-5x300"}, {"--size", "700x300x2"},
        {"--zoom", "abc"}, {"--zoom", "1e3"},   {"--scale", "0"},     {"--scale", "-1"},
        {"--scale"},
    };
    for (const auto& options : bad) {
        std::vector<std::string> args = demo.args();
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("--dump-tree");
        std::string out;
        EXPECT_EQ(apptest::run(args, demo.home(), out), 2) << options[0] << ": " << out;
        EXPECT_NE(out.find(options[0]), std::string::npos) << out;
    }
    // A screenshot that cannot be written is a failure, not a silent success.
    std::vector<std::string> args = demo.args();
    args.insert(args.end(), {"--screenshot", demo.dir + "/no/such/folder/shot.png"});
    std::string out;
    EXPECT_EQ(apptest::run(args, demo.home(), out), 1);
    EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
}

}  // namespace

namespace {

// The demo's web server: the manager loads the same catalog over HTTP as from the folder.
TEST(Harness, LoadsTheDemoCatalogOverHttp) {
    Demo demo("http");
    ASSERT_TRUE(demo.ok()) << demo.error;
    apptest::Child server({LUMO_DEMO_TOOL, "serve", demo.source()}, demo.home(), demo.dir + "/server.txt");
    std::string base;
    for (int i = 0; i < 100 && base.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::string out = server.output();
        if (out.find('\n') != std::string::npos) base = out.substr(0, out.find('\n'));
    }
    ASSERT_EQ(base.rfind("http://127.0.0.1:", 0), 0u) << base;
    std::vector<std::string> args = demo.args();
    args[4] = base;  // --source
    args.push_back("--dump-tree");
    std::string out;
    ASSERT_EQ(apptest::run(args, demo.home(), out), 0) << out;
    const lumo::Json tree = lumo::Json::parse(out);
    EXPECT_EQ(tree["body"]["children"][0]["value"].string(), "Catalog 2  -  12 plugins, 2 apps  -  3 updates") << out;
}

}  // namespace

namespace {

// The program carries the elevated helper's entry, which ends the process before main when asked:
// without a job it answers status 2 and never reaches the window or the tree dump.
TEST(Harness, ElevatedHelperEntryRunsBeforeMain) {
    Demo demo("helper");
    ASSERT_TRUE(demo.ok()) << demo.error;
    std::string out;
    EXPECT_EQ(apptest::run({apptest::kProgram, "--tqm-apply", "--dump-tree"}, demo.home(), out), 2);
    EXPECT_EQ(out.find("\"width\""), std::string::npos) << out;
}

}  // namespace
