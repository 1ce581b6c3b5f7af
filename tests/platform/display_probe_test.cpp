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

#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/window_layer.h"

namespace {

// A display whose socket (in the abstract namespace, where Xlib looks first) takes connections and
// never answers them: a stopped X server as its clients meet it. Numbers from 600 on, far from
// those servers are given.
class SilentDisplay {
public:
    SilentDisplay() {
        for (int n = 600; n < 700 && name_.empty(); ++n) {
            const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
            sockaddr_un a{};
            a.sun_family = AF_UNIX;
            path.copy(a.sun_path + 1, sizeof a.sun_path - 2);
            const socklen_t size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + path.size());
            if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), size) == 0 && ::listen(listener_, 8) == 0)
                name_ = ":" + std::to_string(n);
        }
    }
    ~SilentDisplay() { ::close(listener_); }
    const std::string& name() const { return name_; }

private:
    int listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::string name_;
};

// displayReachable() and videoError() in a child whose environment has `env` applied ("NAME=value"
// sets, "NAME" alone unsets): "1" or "0", then the reason; "no answer" when the child did not
// answer within a guard that only bounds a probe that never returns.
std::string probeIn(const std::vector<std::string>& env) {
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
        const bool reachable = lumo::platform::displayReachable();
        const std::string said = (reachable ? "1" : "0") + lumo::platform::videoError();
        ::_exit(::write(out[1], said.data(), said.size()) == ssize_t(said.size()) ? 0 : 1);
    }
    ::close(out[1]);
    pollfd f{out[0], POLLIN, 0};
    char buf[512];
    const ssize_t n = ::poll(&f, 1, 30000) == 1 ? ::read(out[0], buf, sizeof buf) : -1;
    ::close(out[0]);
    if (n <= 0) ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return n > 0 ? std::string(buf, size_t(n)) : "no answer";
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

}  // namespace
