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

#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../gui/fakes.h"
#include "platform/linux/window_layer.h"

namespace {

// A display whose socket (in the abstract namespace, where Xlib looks first) takes connections and
// never answers them: a stopped X server as its clients meet it. Numbers from 600 on, far from
// those servers are given. With answerFirst, the first connection is served (a screen, and an empty
// reply to each request) as by a server that stops after the probe has met it.
class SilentDisplay {
public:
    explicit SilentDisplay(bool answerFirst = false) {
        for (int n = 600; n < 700 && name_.empty(); ++n) {
            const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
            sockaddr_un a{};
            a.sun_family = AF_UNIX;
            path.copy(a.sun_path + 1, sizeof a.sun_path - 2);
            const socklen_t size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + path.size());
            if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), size) == 0 && ::listen(listener_, 8) == 0)
                name_ = ":" + std::to_string(n);
        }
        if (answerFirst && !name_.empty()) server_ = std::thread([this] { serveFirst(); });
    }
    ~SilentDisplay() {
        ::shutdown(listener_, SHUT_RDWR);
        if (server_.joinable()) server_.join();
        ::close(listener_);
        for (const int fd : held_) ::close(fd);
    }
    const std::string& name() const { return name_; }
    // Waits until `n` connections were taken (the one served included).
    void waitForConnections(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        taken_.wait(lock, [&] { return held_.size() >= n; });
    }

private:
    void serveFirst() {
        std::vector<int> fds;
        for (;;) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                held_.push_back(fd);
            }
            taken_.notify_all();
            if (held_.size() == 1) std::thread([fd] { serve(fd); }).detach();
        }
    }
    // A little-endian server with one 24-bit screen; every request gets an empty reply.
    static void serve(int fd) {
        unsigned char hello[12];
        if (!readAll(fd, hello, sizeof hello)) return;
        std::vector<unsigned char> skip(size_t((hello[6] | hello[7] << 8) + 3) / 4 * 4 +
                                        size_t((hello[8] | hello[9] << 8) + 3) / 4 * 4);
        if (!readAll(fd, skip.data(), skip.size())) return;
        std::vector<unsigned char> r(8 + 116);
        auto put = [&](size_t at, uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i) r[at + size_t(i)] = (v >> (8 * i)) & 0xff;
        };
        put(0, 1, 1), put(2, 11, 2), put(6, 116 / 4, 2);             // success, 11.0, length
        put(12, 0x200000, 4), put(16, 0x1fffff, 4), put(24, 4, 2);  // ids, vendor length
        put(26, 0xffff, 2), put(28, 1, 1), put(29, 1, 1);           // request size, screens, formats
        put(32, 32, 1), put(33, 32, 1), put(34, 8, 1), put(35, 255, 1);
        std::memcpy(&r[40], "fake", 4);
        put(44, 24, 1), put(45, 32, 1), put(46, 32, 1);                          // format
        put(52, 0x100, 4), put(56, 0x20, 4), put(60, 0xffffff, 4);               // root, colormap, white
        put(72, 1280, 2), put(74, 1024, 2), put(76, 340, 2), put(78, 270, 2);    // size
        put(80, 1, 2), put(82, 1, 2), put(84, 0x21, 4), put(90, 24, 1), put(91, 1, 1);
        put(92, 24, 1), put(94, 1, 2);                                           // depth 24, one visual
        put(100, 0x21, 4), put(104, 4, 1), put(105, 8, 1), put(106, 256, 2);     // TrueColor
        put(108, 0xff0000, 4), put(112, 0xff00, 4), put(116, 0xff, 4);
        if (::send(fd, r.data(), r.size(), MSG_NOSIGNAL) != ssize_t(r.size())) return;
        for (uint16_t seq = 1;; ++seq) {
            unsigned char head[4];
            if (!readAll(fd, head, 4)) return;
            std::vector<unsigned char> rest(size_t(head[2] | head[3] << 8) * 4 - 4);
            if (!readAll(fd, rest.data(), rest.size())) return;
            unsigned char reply[32] = {1, 0, uint8_t(seq), uint8_t(seq >> 8)};
            if (::send(fd, reply, sizeof reply, MSG_NOSIGNAL) != ssize_t(sizeof reply)) return;
        }
    }
    static bool readAll(int fd, unsigned char* to, size_t n) {
        for (ssize_t got; n > 0; to += got, n -= size_t(got))
            if ((got = ::read(fd, to, n)) <= 0) return false;
        return true;
    }

    int listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::string name_;
    std::thread server_;
    std::mutex mutex_;
    std::condition_variable taken_;
    std::vector<int> held_;
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
    const int ready = ::poll(&f, 1, 8000);
    const ssize_t n = ready == 1 ? ::read(out[0], buf, sizeof buf) : -1;
    ::close(out[0]);
    if (ready != 1) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (n > 0) return std::string(buf, size_t(n));
    return ready == 1 && WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "no answer";
}

// No display named (unset or empty), or one that takes the connection and never answers: the
// probe returns, saying why, naming the display.
TEST(DisplayProbe, SaysWhyNoDisplayIsReachable) {
    SilentDisplay silent;
    ASSERT_FALSE(silent.name().empty()) << "no free display number from 600 to 699";
    const std::string neither = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    const struct {
        const char* what;
        std::vector<std::string> env;
        std::string why;
    } cases[] = {
        {"neither set", {"DISPLAY", "WAYLAND_DISPLAY"}, neither},
        {"both empty", {"DISPLAY=", "WAYLAND_DISPLAY="}, neither},
        {"a display that never answers",
         {"DISPLAY=" + silent.name(), "WAYLAND_DISPLAY="},
         "the X display \"" + silent.name() + "\" took the connection but gave no answer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> env = c.env;
        env.push_back("SDL_VIDEODRIVER");
        EXPECT_EQ(probeIn(env).substr(0, c.why.size() + 1), "0" + c.why);
    }
}


// A display that serves the probe and then stops answering: SDL's own connection is given the same
// deadline, and SIGTERM ends the program while SDL waits there, instead of queueing a quit that
// nobody reads.
TEST(DisplayProbe, ADisplayThatStopsAfterTheProbeHoldsNothingForGood) {
    const std::vector<std::string> env{"WAYLAND_DISPLAY=", "SDL_VIDEODRIVER"};
    {
        SilentDisplay display(true);
        ASSERT_FALSE(display.name().empty()) << "no free display number from 600 to 699";
        std::vector<std::string> named = env;
        named.push_back("DISPLAY=" + display.name());
        EXPECT_EQ(probeIn(named, true), "0the X display \"" + display.name() +
                                            "\" answered once, then gave SDL's connection no answer in 4 s, as a "
                                            "stopped server does");
    }
    SilentDisplay display(true);
    std::vector<std::string> named = env;
    named.push_back("DISPLAY=" + display.name());
    EXPECT_EQ(probeIn(named, true,
                      [&](pid_t child) {
                          display.waitForConnections(2);  // the probe's, then SDL's
                          ::kill(child, SIGTERM);
                      }),
              "signal 15");
}

}  // namespace
