// Where the program's real window lies on screens of its own (an X server started per screen size,
// with no window manager to bring back a window that went off an edge): widened to fit a very long
// name, at every scale, the whole window stays on the screen. And what the program says when its
// window cannot start.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/app/app_support.h"
#include "tests/support/ctest_display.h"
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
    pid_t pid() const { return pid_; }

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
// on it. A scale and zoom at which even the smallest window would be larger than the screen are
// lowered (the scale first, then the zoom at the smallest scale) until it fits, and the program
// says once what it draws. No window manager runs: what goes off an edge stays there.
TEST(AppWindowPlace, WidenedForALongNameTheWindowStaysOnTheScreen) {
    if (!haveXvfb()) GTEST_SKIP() << "skipped: Xvfb is not installed";
    apptest::Demo demo("place");
    ASSERT_TRUE(demo.ok()) << demo.error;
    ASSERT_TRUE(longName(demo)) << "no Cobalt Compressor in the demo catalog, or it cannot be signed again";
    struct Asked {
        const char *scale, *zoom;  // as given; zoom "": none
        int drawn;                 // the body's scale
        const char* said;          // what is drawn instead ("" when it is what was asked)
    };
    struct Screen {
        int w, h;
        std::vector<Asked> asked;
    };
    const Screen screens[] = {{1600, 1200, {{"1", "", 1, ""}, {"2", "", 2, ""}, {"3", "", 3, ""}}},
                              {1024, 768,
                               {{"1", "", 1, ""},
                                {"2", "", 2, ""},
                                {"2.5", "", 2, "at scale 2.5 (drawn at 3) and zoom 1"},
                                {"3", "", 2, "drawn at scale 2 and zoom 1"},
                                {"1", "3", 2, "drawn at scale 1 and zoom 2"},
                                {"1", "2.5", 2, "drawn at scale 1 and zoom 2"},
                                {"3", "3", 2, "drawn at scale 1 and zoom 2"}}}};
    for (const Screen& screen : screens) {
        Server server(screen.w, screen.h);
        ASSERT_FALSE(server.name().empty()) << "Xvfb did not start";
        for (const Asked& a : screen.asked) {
            SCOPED_TRACE(std::to_string(screen.w) + "x" + std::to_string(screen.h) + " at scale " + a.scale +
                         ", zoom " + a.zoom);
            support::X11Watch watch(server.name());
            ASSERT_TRUE(watch.ok());
            std::vector<std::string> words = demo.args();
            words.insert(words.end(), {"--scale", a.scale});
            if (*a.zoom) words.insert(words.end(), {"--zoom", a.zoom});
            apptest::Child child(words, demo.home(), demo.dir + "/place-log.txt", {"DISPLAY=" + server.name()});
            // The widest a window of whole layout units can be on the screen.
            const int widest = screen.w / a.drawn * a.drawn;
            int x = 0, y = 0, w = 0, h = 0;
            const bool wide = watch.waitUntil(
                child.pid, std::chrono::steady_clock::now() + std::chrono::seconds(30),
                [&](Window window) { return watch.geometry(window, x, y, w, h) && w >= widest; });
            ASSERT_TRUE(wide) << "the window never became " << widest << " wide (" << w << "): " << child.output();
            EXPECT_TRUE(x >= 0 && x + w <= screen.w) << w << " wide at x " << x;
            EXPECT_TRUE(y >= 0 && y + h <= screen.h) << h << " high at y " << y;
            const std::string out = child.output();
            const size_t said = out.find("larger than the screen");
            EXPECT_EQ(said != std::string::npos, *a.said != 0) << out;
            EXPECT_EQ(out.find("larger than the screen", said + 1), std::string::npos) << out;
            EXPECT_TRUE(!*a.said || out.find(a.said) != std::string::npos) << out;
            child.stop();
        }
    }
}

// An X display of a number no server uses (its lock taken, as a server takes it), where nothing
// answers; or, `refusingOnce`, one whose socket takes the first connection and closes it, as a
// server resetting after its last client left does, and then hands over to the test's own server:
// the socket becomes a link to that one's, whose key is given under the new name.
class FakeDisplay {
public:
    FakeDisplay(const std::string& dir, bool refusingOnce) {
        for (int n = 400; n < 500 && name_.empty(); ++n) {
            const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            const int fd = ::open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0444);
            if (fd < 0) continue;
            char pid[16];
            std::snprintf(pid, sizeof pid, "%10d\n", int(::getpid()));
            const bool written = ::write(fd, pid, 11) == 11;
            ::close(fd);
            if (!written) {
                ::unlink(lock.c_str());
                continue;
            }
            lock_ = lock;
            name_ = ":" + std::to_string(n);
        }
        path_ = "/tmp/.X11-unix/X" + name_.substr(std::min<size_t>(1, name_.size()));
        if (!refusingOnce || name_.empty()) return;
        const char* real = std::getenv("DISPLAY");
        if (!real || real[0] != ':') return;
        if (const char* keys = std::getenv("XAUTHORITY")) {
            auth_ = dir + "/fake-display.auth";
            const std::string copy = "xauth -f '" + std::string(keys) + "' list '" + real +
                                     "' | { read _ kind key && xauth -q -f '" + auth_ + "' add " + name_ +
                                     " \"$kind\" \"$key\" 2>/dev/null; }";
            if (std::system(copy.c_str()) != 0) return;
        }
        const std::string to = "/tmp/.X11-unix/X" + std::string(real + 1, std::strcspn(real + 1, "."));
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path_.c_str(), sizeof a.sun_path - 1);
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 4) != 0) return;
        handing_ = std::thread([this, to] {
            const int first = ::accept(listener_, nullptr, nullptr);
            if (first < 0) return;
            ::unlink(path_.c_str());
            refused_ = ::symlink(to.c_str(), path_.c_str()) == 0;
            ::close(first);  // only now: the next try finds the link
        });
        ready_ = true;
    }
    ~FakeDisplay() {
        if (handing_.joinable()) {
            ::shutdown(listener_, SHUT_RDWR);  // wakes an accept still waiting
            handing_.join();
        }
        if (listener_ >= 0) ::close(listener_);
        if (!name_.empty()) ::unlink(path_.c_str());
        if (!lock_.empty()) ::unlink(lock_.c_str());
        if (!auth_.empty()) ::unlink(auth_.c_str());
    }
    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }
    bool ready() const { return ready_; }
    // The first connection was closed, and the socket handed over.
    bool refused() const { return refused_; }
    std::vector<std::string> env() const {
        std::vector<std::string> e{"DISPLAY=" + name_};
        if (!auth_.empty()) e.push_back("XAUTHORITY=" + auth_);
        return e;
    }

private:
    std::string name_, path_, lock_, auth_;
    int listener_ = -1;
    bool ready_ = false;
    std::atomic<bool> refused_{false};
    std::thread handing_;
};

// A video driver that cannot start, or an X display that never answers: the program says why,
// naming the driver, or the display and what its socket said. A display that refuses the first
// connection, as a server does while it resets, still gets the window.
TEST(AppWindowPlace, AWindowThatCannotStartSaysWhy) {
    apptest::Demo demo("no-video");
    ASSERT_TRUE(demo.ok()) << demo.error;
    std::string out;
    EXPECT_EQ(apptest::run(demo.args(), demo.home(), out, {"SDL_VIDEODRIVER=no-such-driver"}), 1) << out;
    EXPECT_NE(out.find("no-such-driver"), std::string::npos) << out;
    for (const bool refusingOnce : {false, true}) {
        FakeDisplay fake(demo.dir, refusingOnce);
        ASSERT_FALSE(fake.name().empty()) << "no free display number from 400 to 499";
        if (!refusingOnce) {
            EXPECT_EQ(apptest::run(demo.args(), demo.home(), out, fake.env()), 1) << out;
            EXPECT_NE(out.find("no display to open a window on (the X display \"" + fake.name() + "\""),
                      std::string::npos) << out;
            EXPECT_NE(out.find("nothing answers at " + fake.path() + ": No such file"), std::string::npos) << out;
            continue;
        }
        support::X11Watch watch;
        LUMO_NEED_DISPLAY(watch.ok() ? DisplayString(watch.display()) : "");
        if (!fake.ready()) GTEST_SKIP() << "skipped: the display cannot be handed over (no xauth?)";
        apptest::Child child(demo.args(), demo.home(), demo.dir + "/refused-once.txt", fake.env());
        EXPECT_TRUE(watch.waitUntil(child.pid, std::chrono::steady_clock::now() + std::chrono::seconds(30),
                                    [](Window) { return true; }))
            << "no window after a refused connection: " << child.output();
        EXPECT_TRUE(fake.refused());
        child.stop();
    }
}

// SIGTERM with the display stopped under the window: the close waits on it, the signal still ends it.
TEST(AppWindowPlace, ASignalEndsAProgramWhoseDisplayStopped) {
    if (!haveXvfb()) GTEST_SKIP() << "skipped: Xvfb is not installed";
    apptest::Demo demo("stopped-display");
    Server server(1024, 768);
    support::X11Watch watch(server.name());
    apptest::Child child(demo.args(), demo.home(), demo.dir + "/log.txt", {"DISPLAY=" + server.name()});
    const auto shown = [](Window) { return true; };
    ASSERT_TRUE(watch.waitUntil(child.pid, std::chrono::steady_clock::now() + std::chrono::seconds(30), shown));
    ::kill(server.pid(), SIGSTOP);
    ::kill(child.pid, SIGTERM);
    EXPECT_TRUE(child.wait(30) == -1 && child.pid == -1) << "not ended by the signal";
    ::kill(server.pid(), SIGCONT);
}

}  // namespace
