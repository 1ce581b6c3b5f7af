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

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/window_layer.h"

namespace {

// A display number no server uses, its lock taken as a server takes it, whose socket (in the
// abstract namespace, where Xlib looks first) takes connections and never answers them: a stopped
// X server as its clients meet it.
class SilentDisplay {
public:
    SilentDisplay() {
        for (int n = 600; n < 700 && name_.empty(); ++n) {
            const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            const int fd = ::open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0444);
            if (fd < 0) continue;
            ::close(fd);
            const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
            sockaddr_un a{};
            a.sun_family = AF_UNIX;
            path.copy(a.sun_path + 1, sizeof a.sun_path - 2);
            const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const socklen_t size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + path.size());
            if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), size) == 0 && ::listen(s, 8) == 0) {
                listener_ = s;
                lock_ = lock;
                name_ = ":" + std::to_string(n);
                break;
            }
            if (s >= 0) ::close(s);
            ::unlink(lock.c_str());
        }
    }
    ~SilentDisplay() {
        if (listener_ >= 0) ::close(listener_);
        if (!lock_.empty()) ::unlink(lock_.c_str());
    }
    const std::string& name() const { return name_; }

private:
    std::string name_, lock_;
    int listener_ = -1;
};

struct Probed {
    bool ended = false;  // the child ended within the guard
    bool reachable = false;
    std::string why;
    int status = 0;  // the child's wait status
};

// displayReachable() and videoError() in a child whose environment has `env` applied ("NAME=value"
// sets, "NAME" alone unsets). The guard only bounds a probe that never returns.
Probed probeIn(const std::vector<std::string>& env) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        for (const std::string& e : env) {
            const size_t eq = e.find('=');
            if (eq == std::string::npos)
                ::unsetenv(e.c_str());
            else
                ::setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
        }
        const bool reachable = lumo::platform::displayReachable();
        const std::string said = (reachable ? "1" : "0") + lumo::platform::videoError();
        const bool written = ::write(out[1], said.data(), said.size()) == ssize_t(said.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(out[1]);
    Probed p;
    std::string said;
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(guard - std::chrono::steady_clock::now());
        pollfd f{out[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&f, 1, int(left.count())) <= 0) break;
        char buf[512];
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0) {
            p.ended = true;
            break;
        }
        said.append(buf, size_t(n));
    }
    ::close(out[0]);
    if (!p.ended) ::kill(pid, SIGKILL);
    ::waitpid(pid, &p.status, 0);
    p.reachable = !said.empty() && said[0] == '1';
    p.why = said.empty() ? "" : said.substr(1);
    return p;
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
        const Probed p = probeIn(env);
        ASSERT_TRUE(p.ended) << "the probe did not return";
        EXPECT_EQ(p.status, 0);
        EXPECT_FALSE(p.reachable);
        EXPECT_NE(p.why.find(c.why), std::string::npos) << p.why;
    }
}

}  // namespace
