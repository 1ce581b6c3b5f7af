// The program without a display: screenshots of both looks at three scales against the pixel
// hashes kept in tests/app/screenshots.txt, the tree dump at a given size and scale, and options
// it refuses. Set LUMO_UPDATE_SHOTS=1 to write the hashes anew after a deliberate change of look.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "gui/draw/canvas.h"
#include "json/json.h"
#include "manager/model/config.h"
#include "tests/app/app_support.h"
#include "tests/app/x11_probe.h"
#include "tests/support/ctest_display.h"
#include "tests/support/temp_home.h"

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
    const std::string base = apptest::serverBase(server);
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

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;

// No sanitizer report and no crash report in a run's output.
bool clean(const std::string& out) {
    return out.find("Sanitizer") == std::string::npos && out.find("runtime error") == std::string::npos;
}

// Every quick way out of the program, many times over, on a catalog over HTTP (so the web and TLS
// libraries are set up): without a display, with a refused word, with --help with and without one.
// None may end by a signal or with a sanitizer's report.
TEST(Harness, EveryWayOutEndsCleanly) {
    Demo demo("exits");
    ASSERT_TRUE(demo.ok()) << demo.error;
    apptest::Child server({LUMO_DEMO_TOOL, "serve", demo.source()}, demo.home(), demo.dir + "/server.txt");
    const std::string base = apptest::serverBase(server);
    ASSERT_EQ(base.rfind("http://127.0.0.1:", 0), 0u) << base;
    std::vector<std::string> web = demo.args();
    web[4] = base;  // --source
    const char* shown = std::getenv("DISPLAY");
    const std::string display = shown ? shown : "";
    struct Case {
        const char* name;
        std::vector<std::string> more;
        bool display;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"no display", {}, false, 1, "no display to open a window on"},
        {"a refused word", {"--frames", "2"}, true, 2, "--frames is not supported"},
        {"an unknown word", {"--frobnicate"}, true, 2, "unknown option --frobnicate"},
        {"help without a display", {"--bogus", "--help"}, false, 0, "usage: ardune-manager"},
        {"help", {"--help"}, true, 0, "--dump-tree"},
    };
    for (int round = 0; round < 15; ++round)
        for (const Case& c : cases) {
            if (!c.display) ::unsetenv("DISPLAY");
            std::vector<std::string> args = web;
            args.insert(args.end(), c.more.begin(), c.more.end());
            std::string out;
            const int status = apptest::run(args, demo.home(), out);
            if (!display.empty()) ::setenv("DISPLAY", display.c_str(), 1);
            EXPECT_TRUE(status == c.status && out.find(c.says) != std::string::npos && clean(out))
                << c.name << ", run " << round << ", status " << status << ": " << out;
        }
}

// The window closed while the catalog load waits on a server that takes the connection and never
// answers: the program ends at once, cleanly, without waiting for the load.
TEST(Harness, ClosingTheWindowDuringALoadEndsCleanly) {
    apptest::X11Probe probe;
    LUMO_NEED_DISPLAY(probe.name());
    Demo demo("close-loading");
    ASSERT_TRUE(demo.ok()) << demo.error;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_TRUE(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(listener, 16) == 0 &&
                ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
    std::vector<std::string> words = demo.args();
    words[4] = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/";
    for (int round = 0; round < 3; ++round) {
        apptest::Child child(words, demo.home(), demo.dir + "/close-" + std::to_string(round) + ".txt");
        ASSERT_NE(probe.windowOf(child.pid, 20), 0u) << child.output();
        const auto closed = std::chrono::steady_clock::now();
        ::kill(child.pid, SIGTERM);  // the window layer takes it as the window's close
        EXPECT_EQ(child.wait(20), 0) << "run " << round << ": " << child.output();
        EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::seconds(10));
        EXPECT_TRUE(clean(child.output())) << child.output();
    }
    ::close(listener);
}

// A screenshot is written beside its target and renamed over it: only over a regular file (or
// nothing), other links to the old file keep its bytes, and a write that fails part-way leaves the
// old file whole and nothing else behind. A picture too large to paint is refused before any paint.
TEST(Harness, AScreenshotReplacesOnlyARegularFileAndThatWhole) {
    Demo demo("shot-target");
    ASSERT_TRUE(demo.ok()) << demo.error;
    const std::string dir = demo.dir + "/shots";
    fs::create_directories(dir + "/folder");
    std::ofstream(dir + "/shot.png") << "old";
    fs::create_hard_link(dir + "/shot.png", dir + "/other-link.png");
    std::ofstream(dir + "/limited.png") << "old bytes";
    std::ofstream(dir + "/mine.txt") << "mine";
    fs::create_symlink(dir + "/mine.txt", dir + "/link.png");
    ASSERT_EQ(::mkfifo((dir + "/fifo.png").c_str(), 0600), 0);
    ASSERT_TRUE(fs::exists("/usr/bin/prlimit")) << "util-linux's prlimit is needed for the file-size limit";

    struct Case {
        std::vector<std::string> words;  // after the demo's
        std::string target;
        int status;
        const char* says;  // a part of the output
        std::vector<std::string> before;  // the command before the program (a resource limit)
    };
    const Case cases[] = {
        {{}, "shot.png", 0, "", {}},
        {{}, "limited.png", 1, "cannot write", {"/usr/bin/prlimit", "--fsize=4096"}},
        {{}, "folder", 1, "folder is a folder", {}},
        {{}, "fifo.png", 1, "fifo.png is not a regular file", {}},
        {{}, "link.png", 1, "link.png is not a regular file", {}},
        {{"--size", "16384x16384", "--scale", "3"}, "huge.png", 2, "49152x49152 pixels", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.before;
        const std::vector<std::string> program = demo.args();
        args.insert(args.end(), program.begin(), program.end());
        args.insert(args.end(), c.words.begin(), c.words.end());
        args.insert(args.end(), {"--screenshot", dir + "/" + c.target});
        std::string out;
        const int status = apptest::run(args, demo.home(), out);
        EXPECT_TRUE(status == c.status && out.find(c.says) != std::string::npos && clean(out))
            << c.target << ", status " << status << ": " << out;
    }
    EXPECT_FALSE(lumo::gui::Bitmap::loadFile(dir + "/shot.png").empty());
    EXPECT_EQ(readFile(dir + "/other-link.png"), "old");
    EXPECT_EQ(readFile(dir + "/limited.png"), "old bytes");
    EXPECT_TRUE(fs::is_directory(dir + "/folder") && fs::is_empty(dir + "/folder"));
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(dir + "/fifo.png")));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir + "/link.png")));
    EXPECT_EQ(readFile(dir + "/mine.txt"), "mine");
    const std::vector<std::string> want = {"fifo.png", "folder", "limited.png", "link.png", "mine.txt", "other-link.png",
                                           "shot.png"};
    EXPECT_EQ(testsupport::entryNames(dir), want);  // no temporary left, no huge.png
}

// A screenshot or a tree dump records nothing: the manager's update offered in the picture is
// still offered in the real window that follows. Only the offer counts here, never the package: the
// bundle packed as the update is a small one of the program's name and version.
TEST(Harness, PicturesAndTreeDumpsRecordNoSettings) {
    const std::string bundle = std::string(LUMO_APP_TEST_DIR) + "/record-bundle/" +
                               fs::path(apptest::kBundle).filename().string();
    ASSERT_TRUE(testsupport::writeFile(bundle + "/Contents/Info.plist",
                          demo::infoPlist("Ardune Systems Manager", "ardune-manager", tqapp::kVersion)) &&
                testsupport::writeFile(bundle + "/Contents/MacOS/ardune-manager", "#!/bin/sh\n"));
    Demo demo("record", bundle);
    ASSERT_TRUE(demo.ok()) << demo.error;
    for (const std::vector<std::string>& more :
         {std::vector<std::string>{"--dump-tree"}, std::vector<std::string>{"--screenshot", demo.dir + "/shot.png"}}) {
        std::vector<std::string> args = demo.args();
        args.insert(args.end(), more.begin(), more.end());
        std::string out;
        ASSERT_EQ(apptest::run(args, demo.home(), out), 0) << out;
        if (more[0] == "--dump-tree") {
            EXPECT_NE(out.find("\"job\""), std::string::npos) << "the update was not offered: " << out.substr(0, 300);
        }
    }
    std::error_code ec;
    for (fs::recursive_directory_iterator it(demo.dir, ec), end; !ec && it != end; it.increment(ec))
        EXPECT_NE(it->path().filename(), "settings.txt") << it->path();
}

}  // namespace
