// The entry's options and number parsing, the words a restart passes on, the demo server's
// request paths and answers, and the demo's version step.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/harness.h"
#include "app/host.h"
#include "app/options.h"
#include "manager/view/view.h"
#include "platform/platform.h"
#include "support/temp_dir.h"
#include "tests/app/app_support.h"
#include "tests/support/temp_home.h"
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

TEST(EntryOptions, EveryWordIsCheckedBeforeAnythingStarts) {
    struct Case {
        std::vector<std::string> words;
        const char* refusal;  // nullptr: accepted; else a part of the message
    };
    const Case cases[] = {
        {{"--root", "/r", "--source", "http://h/", "--pub", "ab", "--scope", "user", "--offline", "--look", "tq",
          "--select", "2", "--uninstall", "--offer-install", "--data-dir", "/d", "--dump-tree"},
         nullptr},
        {{"--bogus"}, "unknown option --bogus"},
        {{"--root", "/r", "stray"}, "unexpected word stray"},
        {{"--steps", "steps.json"}, "--steps is not supported"},
        {{"--frames", "3", "--screenshot", "a.png"}, "--frames is not supported"},
        {{"--screenshot", "--size", "100x100"}, "--screenshot needs a value"},
        {{"--root"}, "--root needs a value"},
        {{"--source", ""}, "--source needs a value"},
        // The manager reads one value of each: a second is refused, never dropped.
        {{"--root", "/a", "--look", "tq", "--root", "/b"}, "--root is given twice (/a, then /b): give it once"},
        {{"--offline", "--offline"}, "--offline is given twice: give it once"},
        // The painted size, in device pixels: each side and in all.
        {{"--size", "16384x16384", "--scale", "3"}, "49152x49152 pixels"},
        {{"--size", "8192x8192", "--zoom", "2"}, "16384x16384 pixels"},
        {{"--size", "16384x4097"}, "16384x4097 pixels"},
        {{"--size", "16384x4096"}, nullptr},
        {{"--size", "5461x1000", "--scale", "3"}, nullptr},
    };
    for (const Case& c : cases) {
        tqapp::EntryOptions o;
        std::string error;
        const bool ok = tqapp::parseEntryOptions(c.words, o, error);
        EXPECT_EQ(ok, c.refusal == nullptr) << c.words[0] << ": " << error;
        EXPECT_TRUE(ok || error.find(c.refusal) != std::string::npos) << error;
    }
    // --help wins over whatever else is there.
    tqapp::EntryOptions o;
    std::string error;
    ASSERT_TRUE(tqapp::parseEntryOptions({"--bogus", "--help"}, o, error));
    EXPECT_TRUE(o.help);
    EXPECT_NE(tqapp::usageText().find("--screenshot FILE"), std::string::npos);
}

// The scale asked for reaches the window layer, not the environment the manager's programs get.
TEST(EntryOptions, ScaleStaysInTheProcess) {
    ::unsetenv("GDK_SCALE");
    tqapp::EntryOptions o;
    std::string error;
    ASSERT_TRUE(tqapp::parseEntryOptions({"--scale", "2"}, o, error)) << error;
    tqapp::applyToProcess(o);
    EXPECT_EQ(std::getenv("GDK_SCALE"), nullptr);
    EXPECT_EQ(lumo::displayScaleOverride(), 2.0);
    lumo::setDisplayScaleOverride(0);
}

// What --help says of the scale, what is refused and what is drawn agree: every scale taken is drawn
// at itself, and one above the largest drawn is refused with a message naming that one.
TEST(EntryOptions, ScalesTakenAreTheScalesDrawn) {
    const double largest = lumo::gui::Editor::kScales.back();
    const std::string named = "from 0.5 to " + std::to_string(int(largest));
    EXPECT_NE(tqapp::usageText().find("display scale, " + named + "; drawn at the nearest of 1, 1.5, 2 and 3"),
              std::string::npos)
        << tqapp::usageText();
    // Each scale and the scale it is drawn at; 0: refused.
    for (const auto& [scale, drawn] : std::vector<std::pair<std::string, double>>{
             {"1", 1.0}, {"1.5", 1.5}, {"2", 2.0}, {"3", 3.0}, {"3.5", 0}, {"4", 0}, {"7", 0}, {"8", 0}}) {
        SCOPED_TRACE(scale);
        tqapp::EntryOptions o;
        std::string error;
        ASSERT_EQ(tqapp::parseEntryOptions({"--scale", scale, "--dump-tree"}, o, error), drawn > 0) << error;
        if (drawn == 0) {
            EXPECT_NE(error.find(named), std::string::npos) << error;
            continue;
        }
        tqapp::StandaloneHost host;
        lumo::gui::Editor editor(host, 100, 100);
        tqapp::applyEntryOptions(editor, o);
        EXPECT_EQ(editor.scale(), drawn);
    }
}

// The same for the zoom: every zoom taken draws a picture of its own at some scale, and one that
// would draw the same as another is refused with the range the help states.
TEST(EntryOptions, ZoomsTakenAreTheZoomsDrawn) {
    const std::string drawn = "scale x zoom rounded to the nearest scale drawn, so at scale 1 every zoom up to 1 "
                              "draws the same";
    EXPECT_NE(tqapp::usageText().find("zoom, from 0.5 to 3; the body is drawn at " + drawn + "\n"), std::string::npos)
        << tqapp::usageText();
    // Each zoom and scale, and the scale the body is drawn at; 0: refused.
    for (const auto& [zoom, scale, body] : std::vector<std::tuple<std::string, std::string, double>>{
             {"0.5", "1", 1.0}, {"0.75", "1", 1.0}, {"1", "1", 1.0},  {"1.5", "1", 1.5},
             {"2", "1", 2.0},   {"3", "1", 3.0},    {"0.5", "2", 1.0}, {"0.5", "3", 1.5},
             {"3.5", "1", 0}, {"4", "1", 0}, {"8", "1", 0}, {"0.4", "3", 0}, {"0.25", "1", 0}}) {
        SCOPED_TRACE(zoom + " at " + scale);
        tqapp::EntryOptions o;
        std::string error;
        ASSERT_EQ(tqapp::parseEntryOptions({"--zoom", zoom, "--scale", scale, "--dump-tree"}, o, error), body > 0) << error;
        if (body == 0) {
            EXPECT_NE(error.find("--zoom wants a number from 0.5 to 3 (the body is drawn at " + drawn + "): " + zoom),
                      std::string::npos)
                << error;
            continue;
        }
        tqapp::StandaloneHost host;
        lumo::gui::Editor editor(host, 100, 100);
        tqapp::applyEntryOptions(editor, o);
        EXPECT_EQ(editor.bodyScale(), body);
    }
}

TEST(Restart, PassesOnOnlyWhereAndHowToRun) {
    struct Case {
        std::vector<std::string> words, kept;
    };
    const Case cases[] = {
        {{"--root", "/r", "--uninstall", "--screenshot", "s.png", "--select", "3", "--source", "S", "--dump-tree",
          "--scale", "2", "--offline", "--look", "tq"},
         {"--root", "/r", "--source", "S", "--scale", "2", "--offline", "--look", "tq"}},
        {{"--scope", "user", "--data-dir", "/d", "--pub", "k", "--size", "700x400", "--zoom", "1.5", "--offer-install"},
         {"--scope", "user", "--data-dir", "/d", "--pub", "k", "--size", "700x400", "--zoom", "1.5"}},
        {{"--steps", "x.json", "--root"}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(tqapp::restartWords(c.words), c.kept) << c.words[0];
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
    EXPECT_EQ(demo::requestTarget("GET /a/b?x HTTP/1.1\r\nHost: h\r\n\r\n"), "/a/b?x");
    EXPECT_EQ(demo::requestTarget("POST /a HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(demo::requestTarget("GET /a\r\nX: y z\r\n\r\n"), "");
}

// A demo server on a thread of the test, stopped when it goes.
struct ServedFolder {
    demo::Server server;
    std::thread thread;
    bool ok = false;

    ServedFolder(const std::string& dir, const demo::ServeOptions& options) {
        std::string error;
        ok = server.listen(dir, options, error);
        if (ok) thread = std::thread([this] { server.run(); });
    }
    ~ServedFolder() {
        server.stop();
        if (thread.joinable()) thread.join();
    }
    int connect() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(server.port()));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    // The whole answer to GET target ("" when the connection failed).
    std::string get(const std::string& target) const {
        const int fd = connect();
        if (fd < 0) return {};
        const std::string request = "GET " + target + " HTTP/1.0\r\n\r\n";
        std::string out;
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
            char buf[65536];
            for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) out.append(buf, size_t(n));
        }
        ::close(fd);
        return out;
    }
};

TEST(DemoServer, ServesOnlyRegularFilesBelowTheFolder) {
    support::TempDir tmp("demo-serve");
    namespace fs = std::filesystem;
    const std::string dir = tmp.path() + "/served";
    fs::create_directories(dir + "/art");
    std::string big(3 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7 + i / 4096);
    std::ofstream(dir + "/catalog.json") << "{}";
    std::ofstream(dir + "/art/a.png") << "png";
    std::ofstream(dir + "/big.bin", std::ios::binary) << big;
    std::ofstream(tmp.path() + "/secret") << "secret";
    fs::create_symlink(tmp.path() + "/secret", dir + "/link-out");
    fs::create_symlink("catalog.json", dir + "/link-in");
    fs::create_directory_symlink(tmp.path(), dir + "/up");
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);

    ServedFolder served(dir, {});
    ASSERT_TRUE(served.ok);
    const std::string found = "HTTP/1.0 200 OK\r\n", missing = "HTTP/1.0 404 Not Found\r\n";
    struct Case {
        const char* target;
        std::string body;  // empty: 404
    };
    const Case cases[] = {
        {"/catalog.json", "{}"}, {"/art/a.png", "png"}, {"/art", ""},      {"/art/", ""},     {"/link-out", ""},
        {"/link-in", ""},        {"/up/secret", ""},    {"/fifo", ""},     {"/nothing", ""}, {"/big.bin", big},
        {"/catalog.json", "{}"},  // still up after all of the above
    };
    for (const Case& c : cases) {
        const std::string answer = served.get(c.target);
        const size_t body = answer.find("\r\n\r\n");
        ASSERT_NE(body, std::string::npos) << c.target << ": no answer";
        EXPECT_EQ(answer.rfind(c.body.empty() ? missing : found, 0), 0u) << c.target;
        EXPECT_TRUE(answer.substr(body + 4) == c.body) << c.target << ": " << answer.size() << " bytes";
    }
}

// A folder of only an empty catalog, served.
struct EmptyCatalog {
    support::TempDir tmp;
    explicit EmptyCatalog(const char* name) : tmp(name) { std::ofstream(tmp.path() + "/catalog.json") << "{}"; }
};
struct ServedCatalog : EmptyCatalog, ServedFolder {
    ServedCatalog(const char* name, const demo::ServeOptions& o) : EmptyCatalog(name), ServedFolder(tmp.path(), o) {}
};

TEST(DemoServer, IdleConnectionsAreBoundedAndClosed) {
    ServedCatalog served("demo-idle", {.connections = 2, .idle = std::chrono::milliseconds(300)});
    ASSERT_TRUE(served.ok);
    std::vector<int> idle;
    for (int i = 0; i < 6; ++i) idle.push_back(served.connect());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LE(served.server.serving(), 2);
    // The silent ones are closed, and a real request is answered all the same.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(served.get("/catalog.json").find("\r\n\r\n{}"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    for (int fd : idle) {
        char c;
        EXPECT_EQ(::recv(fd, &c, 1, 0), 0);  // closed by the server, nothing sent
        ::close(fd);
    }
}

// Clients that send their request heads a byte at a time hold their own connections and nothing
// more: with twice as many of them as answering threads, a whole request is answered while they
// all still wait, and each slow head is closed when its time is up (long before silence would).
TEST(DemoServer, SlowRequestHeadsHoldOnlyTheirOwnConnections) {
    const demo::ServeOptions options{
        .connections = 4, .idle = std::chrono::minutes(10), .head = std::chrono::seconds(3)};
    ServedCatalog served("demo-slow", options);
    ASSERT_TRUE(served.ok);
    struct Fds : std::vector<pollfd> {
        ~Fds() { for (const pollfd& p : *this) ::close(p.fd); }
    } fds;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 2 * options.connections; ++i) {
        fds.push_back({served.connect(), POLLIN, 0});
        ASSERT_GE(fds.back().fd, 0);
        ASSERT_EQ(::send(fds.back().fd, "G", 1, MSG_NOSIGNAL), 1);
    }
    fds.insert(fds.begin(), {served.connect(), POLLIN, 0});  // connected after all the slow ones
    ASSERT_GE(fds[0].fd, 0);
    const std::string request = "GET /catalog.json HTTP/1.0\r\n\r\n";
    ASSERT_EQ(::send(fds[0].fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));

    // The first connection to hear anything is the whole request's, with its answer.
    ASSERT_GT(::poll(fds.data(), fds.size(), 30000), 0) << "no answer while slow heads wait";
    for (size_t i = 1; i < fds.size(); ++i) EXPECT_EQ(fds[i].revents, 0) << "slow head " << i << " went first";
    std::string answer;
    char buf[4096];
    for (ssize_t n; (n = ::recv(fds[0].fd, buf, sizeof buf, 0)) > 0;) answer.append(buf, size_t(n));
    EXPECT_NE(answer.find("\r\n\r\n{}"), std::string::npos) << answer;

    // Then each slow head is closed with nothing sent, once its time is up.
    for (size_t i = 1; i < fds.size(); ++i) {
        pollfd one{fds[i].fd, POLLIN, 0};
        ASSERT_EQ(::poll(&one, 1, 30000), 1) << "slow head " << i << " still open";
        EXPECT_EQ(::recv(fds[i].fd, buf, sizeof buf, 0), 0);
        EXPECT_GE(std::chrono::steady_clock::now() - start, options.head);
    }
}

// The head's time limit runs from the connection's start, not from its last byte: a client that
// keeps trickling a byte well within the silence limit is still closed once its head is due.
TEST(DemoServer, ATricklingHeadIsClosedAtItsDeadline) {
    const demo::ServeOptions options{.idle = std::chrono::minutes(10), .head = std::chrono::seconds(1)};
    ServedCatalog served("demo-trickle", options);
    ASSERT_TRUE(served.ok);
    const int fd = served.connect();
    ASSERT_GE(fd, 0);
    const auto start = std::chrono::steady_clock::now();
    const std::string head = "GET /catalog.json HTTP/1.0\r\nX-Slow: ";
    size_t sent = 0;  // a byte each 200 ms until the server speaks; a deadline per read would never come
    for (pollfd one{fd, POLLIN, 0}; ::poll(&one, 1, 200) == 0 && std::chrono::steady_clock::now() < start + 5 * options.head; ++sent)
        ASSERT_EQ(::send(fd, sent < head.size() ? &head[sent] : "a", 1, MSG_NOSIGNAL), 1);
    char c;
    const ssize_t n = ::recv(fd, &c, 1, MSG_DONTWAIT);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == ECONNRESET)) << "not closed (" << n << ") after " << sent << " bytes";
    ::close(fd);
    EXPECT_GE(std::chrono::steady_clock::now() - start, options.head);
}

TEST(DemoServer, RefusesARateBelowItsPace) {
    support::TempDir tmp("demo-rate");
    for (const char* rate : {"1", "20479", "abc", "-5"}) {
        std::string out;
        EXPECT_EQ(apptest::run({LUMO_DEMO_TOOL, "serve", tmp.path(), "--rate", rate}, tmp.path(), out), 2) << rate;
        EXPECT_NE(out.find("--rate wants 0 (as fast as it goes) or at least 20480"), std::string::npos) << out;
    }
}

// The run script's help names the script's own words and builds nothing: a cmake it would run
// first says so and fails.
TEST(RunScript, HelpNamesItsWordsAndBuildsNothing) {
    support::TempDir dir("run-help");
    const std::string cmake = dir.path() + "/cmake";
    std::ofstream(cmake) << "#!/bin/sh\necho cmake was run\nexit 1\n";
    ::chmod(cmake.c_str(), 0755);
    const std::string root = std::filesystem::path(LUMO_APP_SHOTS_FILE).parent_path().parent_path().parent_path();
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    for (const char* word : {"--help", "-h"}) {
        SCOPED_TRACE(word);
        const std::string command =
            "PATH='" + dir.path() + ":" + path + "' '" + root + "/scripts/run.sh' " + word + " 2>&1";
        FILE* p = ::popen(command.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string out;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        EXPECT_EQ(::pclose(p), 0) << out;
        EXPECT_NE(out.find("usage: scripts/run.sh [--serve]"), std::string::npos) << out;
        EXPECT_NE(out.find("\n  --serve   the catalog comes over HTTP"), std::string::npos) << out;
        EXPECT_EQ(out.find("building"), std::string::npos) << out;
        EXPECT_EQ(out.find("cmake was run"), std::string::npos) << out;
    }
}

// The user's --root, --source and --pub take the place of the demo's, and the demo's key goes
// with the demo's catalog alone; --serve is taken once. run.sh in a tree already built, its
// program a stand-in that writes down its words.
TEST(RunScript, TheUsersOptionsTakeThePlaceOfTheDemos) {
    support::TempDir dir("run-options");
    const std::string tree = dir.path(), program = "build/run/Ardune Systems Manager.app/Contents/MacOS/ardune-manager";
    for (const auto& [name, text] : std::map<std::string, std::string>{
             {"scripts/install-deps.sh", ""}, {"bin/cmake", ""}, {"build/run/demo/catalog/catalog.json.sig", ""},
             {"build/run/demo/keys/public.hex", "key"}, {program, "#!/bin/sh\necho \"$*\" > said.txt\n"}}) {
        ASSERT_TRUE(testsupport::writeFile(tree + "/" + name, text));
        ::chmod((tree + "/" + name).c_str(), 0755);
    }
    const std::filesystem::path source = std::filesystem::path(LUMO_APP_SHOTS_FILE).parent_path().parent_path().parent_path();
    std::filesystem::copy_file(source / "scripts/run.sh", tree + "/scripts/run.sh");
    const std::string run = "DISPLAY=:0 PATH=" + tree + "/bin:/usr/bin:/bin " + tree + "/scripts/run.sh";
    const std::string demo = "--root " + tree + "/build/run/demo/root --source build/run/demo/catalog";
    // The words given, and those the program got (none: refused before anything ran).
    for (const auto& [words, said] : std::vector<std::pair<std::string, std::string>>{
             {"--root /mine --look tq --source /cat", "--root /mine --look tq --source /cat\n"},
             {"--pub mine", demo + " --pub mine\n"},
             {"", demo + " --pub key\n"},
             {"--serve --look tq --serve", ""}}) {
        std::filesystem::remove(tree + "/said.txt");
        EXPECT_EQ(WEXITSTATUS(std::system((run + " " + words + " >/dev/null 2>&1").c_str())), said.empty() ? 2 : 0)
            << words;
        EXPECT_EQ(testsupport::readFile(tree + "/said.txt"), said) << words;
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
