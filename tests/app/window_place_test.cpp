// Where the program's real window lies on screens of its own (an X server started per screen size,
// with no window manager to bring back a window that went off an edge): widened to fit a very long
// name, at every scale, the whole window stays on the screen. And what the program says when its
// window cannot start.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/app/app_support.h"
#include "tests/support/temp_home.h"
#include "tools/catalog_signing.h"
// Xlib's macros after GoogleTest's names.
#include "support/x11_watch.h"

namespace {

// An X server of one screen size, started for the test; its display number is read from the
// server itself once it listens.
class Server {
public:
    Server(int w, int h) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        const std::string screen = std::to_string(w) + "x" + std::to_string(h) + "x24";
        const std::string fd = std::to_string(fds[1]);
        // -noreset: the server stays up between one program and the next.
        const char* argv[] = {"Xvfb",    "-displayfd", fd.c_str(), "-screen",  "0",
                              screen.c_str(), "-nolisten",  "tcp",      "-noreset", nullptr};
        if (::posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
        ::close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (pid_ > 0 && ::poll(&p, 1, 10000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        if (!number.empty()) name_ = ":" + number;
    }
    ~Server() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

bool haveXvfb() { return std::system("command -v Xvfb >/dev/null 2>&1") == 0; }

// One product of the demo catalog gets a name of 300 characters; the catalog is signed again.
bool longName(const apptest::Demo& demo) {
    const std::string file = demo.source() + "/catalog.json";
    std::string text = testsupport::readFile(file), name;
    const std::string old = "\"name\": \"Cobalt Compressor\"";
    const size_t at = text.find(old);
    while (name.size() < 300) name += "Cobalt Compressor ";
    if (at != std::string::npos) text.replace(at, old.size(), "\"name\": \"" + name.substr(0, 300) + "\"");
    std::string hex;
    std::ifstream(demo.dir + "/keys/secret.hex") >> hex;
    const std::string sig = catalogsign::signBase64(catalogsign::fromHex(hex), text);
    return at != std::string::npos && !sig.empty() && testsupport::writeFile(file, text) &&
           testsupport::writeFile(file + ".sig", sig);
}

// Widened to fit a 300-character name, the window is as wide as the screen allows and lies wholly
// on it. A scale at which even the smallest window would be larger than the screen is drawn at the
// largest one at which it fits, and the program says so once. No window manager runs: what goes off
// an edge stays there.
TEST(AppWindowPlace, WidenedForALongNameTheWindowStaysOnTheScreen) {
    if (!haveXvfb()) GTEST_SKIP() << "skipped: Xvfb is not installed";
    apptest::Demo demo("place");
    ASSERT_TRUE(demo.ok()) << demo.error;
    ASSERT_TRUE(longName(demo)) << "no Cobalt Compressor in the demo catalog, or it cannot be signed again";
    struct Screen {
        int w, h;
        std::vector<std::pair<double, int>> scales;  // asked for, drawn at
    };
    const Screen screens[] = {{1600, 1200, {{1, 1}, {2, 2}, {3, 3}}},
                              {1024, 768, {{1, 1}, {2, 2}, {2.5, 2}, {3, 2}}}};
    for (const Screen& screen : screens) {
        Server server(screen.w, screen.h);
        ASSERT_FALSE(server.name().empty()) << "Xvfb did not start";
        for (const auto& [scale, drawn] : screen.scales) {
            std::ostringstream asked;
            asked << scale;
            SCOPED_TRACE(std::to_string(screen.w) + "x" + std::to_string(screen.h) + " at scale " + asked.str());
            support::X11Watch watch(server.name());
            ASSERT_TRUE(watch.ok());
            std::vector<std::string> words = demo.args();
            words.insert(words.end(), {"--scale", asked.str()});
            apptest::Child child(words, demo.home(), demo.dir + "/place-log.txt", {"DISPLAY=" + server.name()});
            // The widest a window of whole layout units can be on the screen.
            const int widest = screen.w / drawn * drawn;
            int x = 0, y = 0, w = 0, h = 0;
            const bool wide = watch.waitUntil(
                child.pid, std::chrono::steady_clock::now() + std::chrono::seconds(30),
                [&](Window window) { return watch.geometry(window, x, y, w, h) && w >= widest; });
            ASSERT_TRUE(wide) << "the window never became " << widest << " wide (" << w << "): " << child.output();
            EXPECT_TRUE(x >= 0 && x + w <= screen.w) << w << " wide at x " << x;
            EXPECT_TRUE(y >= 0 && y + h <= screen.h) << h << " high at y " << y;
            const std::string out = child.output();
            const size_t said = out.find("larger than the screen");
            EXPECT_EQ(said != std::string::npos, drawn != scale) << out;
            EXPECT_EQ(out.find("larger than the screen", said + 1), std::string::npos) << out;
            child.stop();
        }
    }
}

// A video driver that cannot start: the program says SDL's reason, which names the driver.
TEST(AppWindowPlace, AWindowThatCannotStartSaysWhy) {
    apptest::Demo demo("no-video");
    ASSERT_TRUE(demo.ok()) << demo.error;
    std::string out;
    EXPECT_EQ(apptest::run(demo.args(), demo.home(), out, {"SDL_VIDEODRIVER=no-such-driver"}), 1) << out;
    EXPECT_NE(out.find("no-such-driver"), std::string::npos) << out;
}

}  // namespace
