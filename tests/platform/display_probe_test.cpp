// What the window layer says before any window: the display probe under the environments a user
// may start the program in, each asked in a child process of its own (the probe keeps what it
// opened for the life of the process, and a probe that hangs holds only the child).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../gui/fakes.h"
#include "platform/linux/window_layer.h"
#include "tests/support/processes.h"

namespace {

// A display whose socket (in the abstract namespace, where Xlib looks first) takes connections and
// never answers them: a stopped X server as its clients meet it. Numbers from 600 on, far from
// those servers are given. With answerFirst, the first connection is served (a screen, and an empty
// reply to each request) as by a server that stops after the probe has met it; with a latency, every
// connection is, each reply that many ms late, as over a slow link.
class SilentDisplay {
public:
    explicit SilentDisplay(bool answerFirst = false, int latencyMs = -1) : latencyMs_(latencyMs) {
        for (int n = 600; n < 700 && name_.empty(); ++n) {
            const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
            sockaddr_un a{};
            a.sun_family = AF_UNIX;
            path.copy(a.sun_path + 1, sizeof a.sun_path - 2);
            const socklen_t size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + path.size());
            if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), size) == 0 && ::listen(listener_, 8) == 0)
                name_ = ":" + std::to_string(n);
        }
        if (answerFirst && !name_.empty()) {
            server_ = std::thread([this] { serveFirst(); });
            // The probes fork: no thread may then be inside the allocator, whose lock the child would
            // wait on for good. The server allocates nothing until it takes a connection.
            testsupport::awaitTrue([&] { return accepting_.load(); });
        }
    }
    ~SilentDisplay() {
        ::shutdown(listener_, SHUT_RDWR);
        if (server_.joinable()) server_.join();
        ::close(listener_);
        for (const int fd : held_) ::close(fd);
    }
    const std::string& name() const { return name_; }
    // Waits until `n` connections were taken (the one served included), for 8 s at most.
    void waitForConnections(size_t n) {
        testsupport::awaitTrue([&] { return taken_ >= n; }, std::chrono::seconds(8));
    }

private:
    void serveFirst() {
        accepting_ = true;
        for (int fd; (fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ++taken_) {
            held_.push_back(fd);
            if (held_.size() == 1 || latencyMs_ >= 0) std::thread([fd, ms = latencyMs_] { serve(fd, ms); }).detach();
        }
    }
    // Xlib's start, then an empty reply to each request. The setup: little-endian X11.0, vendor
    // "fake", one 24-bit format, one 1280x1024 screen with one TrueColor visual.
    static void serve(int fd, int latencyMs) {
        std::string in, reply;
        const auto le16 = [&in](size_t at) { return size_t(uint8_t(in[at]) | uint8_t(in[at + 1]) << 8); };
        if (!take(fd, 12, in) || !take(fd, (le16(6) + 3) / 4 * 4 + (le16(8) + 3) / 4 * 4, in)) return;
        const std::string hex =
            "01000b0000001d000000000000002000ffff1f00000000000400ffff01010000202008ff0000000066616b6518202000"
            "000000000001000020000000ffffff0000000000000000000005000454010e0101000100210000000000180118000100"
            "0000000021000000040800010000ff0000ff0000ff00000000000000";
        for (size_t i = 0; i < hex.size(); i += 2) reply += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        for (uint16_t seq = 1; ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) == ssize_t(reply.size()); ++seq) {
            if (!take(fd, 4, in) || !take(fd, le16(2) * 4 - 4, in)) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(latencyMs));
            reply = std::string{1, 0, char(seq & 0xff), char(seq >> 8)} + std::string(28, '\0');
        }
    }
    // The next n bytes of fd into out; false when it closed first.
    static bool take(int fd, size_t n, std::string& out) {
        out.assign(n, '\0');
        for (ssize_t got, at = 0; size_t(at) < n; at += got)
            if ((got = ::read(fd, &out[size_t(at)], n - size_t(at))) <= 0) return false;
        return true;
    }

    int listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int latencyMs_;
    std::string name_;
    std::thread server_;
    std::vector<int> held_;  // the server thread's alone until it has ended
    std::atomic<size_t> taken_ = 0;
    std::atomic<bool> accepting_ = false;
};

// displayReachable() (then, with `window`, the start of SDL's video for a window) and videoError()
// in a child whose environment has `env` applied ("NAME=value" sets, "NAME" alone unsets): "1" or
// "0", then the reason; "signal N" when a signal ended the child; "no answer" when it did not end
// within a bound well past the display deadlines. `meanwhile` runs while the child works.
std::string probeIn(const std::vector<std::string>& env, bool window = false,
                    const std::function<void(pid_t)>& meanwhile = {}) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const std::string& e : env) {
            const size_t eq = e.find('=');
            if (eq == std::string::npos)
                ::unsetenv(e.c_str());
            else
                ::setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
        }
        bool reachable = lumo::platform::displayReachable();
        fakes::Host host;
        lumo::gui::Editor editor(host, 100, 100);
        if (reachable && window) reachable = lumo::platform::makeSdlWindow(editor) != nullptr;
        const std::string said = (reachable ? "1" : "0") + lumo::platform::videoError();
        ::_exit(::write(out[1], said.data(), said.size()) == ssize_t(said.size()) ? 0 : 1);
    }
    ::close(out[1]);
    if (meanwhile) meanwhile(pid);
    pollfd f{out[0], POLLIN, 0};
    char buf[512];
    const int ready = ::poll(&f, 1, 30000);
    const ssize_t n = ready == 1 ? ::read(out[0], buf, sizeof buf) : -1;
    ::close(out[0]);
    if (ready != 1) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (n > 0) return std::string(buf, size_t(n));
    return ready == 1 && WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "no answer";
}

// No display, a bad name, or one that never answers: the probe says why, naming the display. One that
// stops after the probe: SDL gets the same deadline and SIGTERM still ends it. A slow one opens,
// though SDL's start (some 300 round trips) outlasts that deadline.
TEST(DisplayProbe, SaysWhyNoDisplayIsReachable) {
    SilentDisplay silent, stops(true), stopsAgain(true), slow(true, 20);
    for (const SilentDisplay* d : {&silent, &stops, &stopsAgain, &slow})
        ASSERT_FALSE(d->name().empty()) << "no free display number from 600 to 699";
    const std::string neither = "0neither DISPLAY nor WAYLAND_DISPLAY is set";
    const auto terminate = [&](pid_t child) {
        stopsAgain.waitForConnections(2);  // the probe's, then SDL's
        ::kill(child, SIGTERM);
    };
    const struct {
        const char* what;
        std::vector<std::string> env;
        std::string said;
        bool window = false;
        std::function<void(pid_t)> meanwhile = {};
    } cases[] = {
        {"neither set", {"DISPLAY", "WAYLAND_DISPLAY"}, neither},
        {"both empty", {"DISPLAY=", "WAYLAND_DISPLAY="}, neither},
        {"no display name", {"DISPLAY=bogus", "WAYLAND_DISPLAY="},
         "0the X display \"bogus\" is not a display name such as \":0\" or \"host:0\""},
        {"a display that never answers",
         {"DISPLAY=" + silent.name(), "WAYLAND_DISPLAY="},
         "0the X display \"" + silent.name() + "\" took the connection but gave no answer"},
        {"a display that stops after the probe",
         {"DISPLAY=" + stops.name(), "WAYLAND_DISPLAY="},
         "0the X display \"" + stops.name() +
             "\" answered once, then gave SDL's connection no answer in 4 s, as a stopped server does",
         true},
        {"SIGTERM while SDL waits", {"DISPLAY=" + stopsAgain.name(), "WAYLAND_DISPLAY="}, "signal 15", true, terminate},
        {"a slow link", {"DISPLAY=" + slow.name(), "WAYLAND_DISPLAY="}, "1", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> env = c.env;
        env.push_back("SDL_VIDEODRIVER");
        EXPECT_EQ(probeIn(env, c.window, c.meanwhile).substr(0, c.said.size()), c.said);
    }
}

}  // namespace
