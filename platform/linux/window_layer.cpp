#include "platform/linux/window_layer.h"

#include <SDL2/SDL.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/linux/sdl_window.h"

namespace lumo::platform {

namespace {

// Only a desktop's display counts: SDL would otherwise fall back to drawing off screen or to
// taking over the console.
bool desktopDriver() {
    const char* d = SDL_GetCurrentVideoDriver();
    return d && (SDL_strcmp(d, "x11") == 0 || SDL_strcmp(d, "wayland") == 0);
}

// The display probe's connection, held until SDL's own is open: on a server with no other client
// the last one to leave resets the server, and SDL's connection would wait through that.
Display* probe = nullptr;

// A server resetting after its last client left refuses the connections made meanwhile: the probe
// tries a few times, waiting longer each time, well under a second in all.
constexpr int kProbeTries = 4;
constexpr int kProbeFirstWaitMs = 50;

// Why no connection to the X display `name` was made, in one sentence, as far as its local socket
// tells: ":N", ":N.S" and "unix:N" are /tmp/.X11-unix/XN; "host:N" is a server elsewhere, and a
// name without a colon names no display at all.
std::string whyNoConnection(const std::string& name) {
    const std::string display = "the X display \"" + name + "\"";
    const size_t colon = name.find(':');
    if (colon == std::string::npos) return display + " is not a display name such as \":0\" or \"host:0\"";
    const bool local = colon == 0 || name.compare(0, colon, "unix") == 0;
    const std::string number = local ? name.substr(colon + 1, name.find('.', colon) - colon - 1) : "";
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        return display + " did not take a connection in " + std::to_string(kProbeTries) + " tries";
    const std::string path = "/tmp/.X11-unix/X" + number;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool reached = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (reached)
        return display + " closed the program's connections though " + path +
               " takes them (its access list, or a reset)";
    return display + " did not take a connection: nothing answers at " + path + ": " + std::strerror(error);
}

// A stopped server, or a socket nothing serves, takes the connection and never answers it: Xlib
// would wait for that answer without end. The tries run on a thread of their own, and the probe
// gives up on them after this long.
constexpr std::chrono::seconds kProbeDeadline{4};

// The tries: a connection, or null when every one was refused. A server that closes a connection
// while its start is being written (as one resetting does) raises SIGPIPE, which would end the
// program before the next try: the thread holds it back, and it goes with the thread.
Display* tryOpen(const std::string& name) {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &held, nullptr);
    int waitMs = kProbeFirstWaitMs;
    for (int i = 1;; ++i, waitMs *= 2) {
        if (Display* d = XOpenDisplay(name.c_str())) return d;
        if (i == kProbeTries) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    }
}

// The tries' thread and the probe meet here. A thread given up on closes a connection that comes
// after all.
struct ProbeRun {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false, givenUp = false;
    Display* display = nullptr;
};

// The probe's connection to the display `name`; null, with the reason as SDL's error, when none was
// made after every try or none answered in time.
Display* openProbe(const std::string& name) {
    auto run = std::make_shared<ProbeRun>();
    std::thread tries([run, name] {
        Display* d = tryOpen(name);
        const std::lock_guard<std::mutex> lock(run->mutex);
        if (run->givenUp) {
            if (d) XCloseDisplay(d);
            return;
        }
        run->display = d;
        run->done = true;
        run->ended.notify_all();
    });
    std::unique_lock<std::mutex> lock(run->mutex);
    if (!run->ended.wait_for(lock, kProbeDeadline, [&] { return run->done; })) {
        run->givenUp = true;
        lock.unlock();
        tries.detach();  // waits on the server still; the process may end meanwhile
        SDL_SetError("the X display \"%s\" took the connection but gave no answer in %d s, as a stopped server does",
                     name.c_str(), int(kProbeDeadline.count()));
        return nullptr;
    }
    lock.unlock();
    tries.join();
    if (!run->display)
        SDL_SetError("%s", whyNoConnection(name).c_str());
    return run->display;
}

void closeProbe() {
    if (probe) XCloseDisplay(probe);
    probe = nullptr;
}

// The sockets of this process connected to an X server: a local one's socket, or TCP ports 6000 on.
std::set<int> displaySockets() {
    std::set<int> fds;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
        const int fd = std::atoi(it->path().filename().c_str());
        struct stat st {};
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode) ||
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0)
            continue;
        bool x = false;
        if (peer.ss_family == AF_UNIX) {
            const auto* u = reinterpret_cast<const sockaddr_un*>(&peer);
            const size_t len = size > offsetof(sockaddr_un, sun_path) ? size - offsetof(sockaddr_un, sun_path) : 0;
            x = std::string(u->sun_path, len).find("/.X11-unix/X") != std::string::npos;  // abstract or a path
        } else if (peer.ss_family == AF_INET || peer.ss_family == AF_INET6) {
            const in_port_t port = ntohs(peer.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&peer)->sin_port
                                                                   : reinterpret_cast<sockaddr_in6*>(&peer)->sin6_port);
            x = port >= 6000 && port < 6100;
        }
        if (x) fds.insert(fd);
    }
    return fds;
}

// How much the thread `tid` of this process has run, as a text that changes whenever it does: its
// time on the processor and the times it was put on it.
std::string runOf(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    std::string run;
    std::getline(in, run);
    return run;
}

// SDL opens its own connections to the X server inside its start, and nothing bounds their wait
// there: a server that answered the probe and stopped since would hold the program for good. The
// start takes many round trips, slow ones over a slow link, so the watch bounds the wait for each
// answer, not the start: once the starting thread has not run for the probe's deadline (nothing
// woke it, no answer came), the connections to the display made since the watch began are shut,
// so that the start fails instead of waiting.
class StartWatch {
public:
    StartWatch() : before_(displaySockets()), thread_([this, tid = ::gettid()] { watch(tid); }) {}
    ~StartWatch() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            over_ = true;
        }
        ended_.notify_all();
        thread_.join();
    }
    bool cut() const { return cut_; }

private:
    void watch(pid_t tid) {
        std::unique_lock<std::mutex> lock(mutex_);
        std::string last = runOf(tid);
        auto still = std::chrono::steady_clock::now();
        while (!ended_.wait_for(lock, std::chrono::milliseconds(100), [this] { return over_; })) {
            const auto now = std::chrono::steady_clock::now();
            if (std::string run = runOf(tid); run != last) {
                last = std::move(run);
                still = now;
            } else if (now - still >= kProbeDeadline) {
                cut_ = true;
                for (const int fd : displaySockets())
                    if (!before_.count(fd)) ::shutdown(fd, SHUT_RDWR);
                return;
            }
        }
    }

    const std::set<int> before_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool over_ = false;
    std::atomic<bool> cut_{false};
    std::thread thread_;
};

std::atomic<bool> up{false};

// SIGTERM and SIGINT end the program at any moment. With the window up, the first asks it to
// close as its own close button does (its files are written whole either way). While the program
// holds the window open to end a job first, that close waits for it; otherwise, if the program has
// not ended a little later (its loop held by a display that stopped answering), the signal ends it
// as it would without a handler. So does a second signal, and any signal before the window is up
// (SDL's start waiting on the display). SDL's own handlers would only queue a quit that a loop
// held in the display never reads.
constexpr std::chrono::seconds kSignalGrace{10};
// Tests shorten it (LUMO_SIGNAL_GRACE_MS) to see a grace end within their time.
std::chrono::milliseconds signalGrace() {
    const char* ms = std::getenv("LUMO_SIGNAL_GRACE_MS");
    return ms && *ms ? std::chrono::milliseconds(std::atoi(ms)) : std::chrono::milliseconds(kSignalGrace);
}
int signalPipe[2] = {-1, -1};
std::atomic<int> signalled{0};
// Whether the program holds its window open (closeHeld). Never destroyed: the signal watcher
// may still wait on it while the process ends.
struct Hold {
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    std::string says;  // closeHeldSays
};
Hold& hold = *new Hold;

void endBySignal(int sig) {
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void onEndSignal(int sig) {
    int none = 0;
    if (!signalled.compare_exchange_strong(none, sig)) endBySignal(sig);
    const char byte = 1;
    if (::write(signalPipe[1], &byte, 1) < 0) endBySignal(sig);
}

void watchSignals() {
    char byte = 0;
    while (::read(signalPipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
    const int sig = signalled.load();
    if (up) {
        SDL_Event quit{};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
        // The grace runs while nothing holds the window, from the signal or from the hold's end.
        const std::chrono::milliseconds grace = signalGrace();
        std::unique_lock<std::mutex> lock(hold.mutex);
        for (bool told = false; hold.changed.wait_for(lock, grace, [] { return hold.held; }); told = true) {
            if (!told && !hold.says.empty()) std::fprintf(stderr, "%s\n", hold.says.c_str());
            hold.changed.wait(lock, [] { return !hold.held; });
        }
    }
    endBySignal(sig);
}

void takeEndSignals() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC) != 0) return;
    std::thread(watchSignals).detach();
    struct sigaction end {};
    end.sa_handler = onEndSignal;
    sigemptyset(&end.sa_mask);
    sigaction(SIGTERM, &end, nullptr);
    sigaction(SIGINT, &end, nullptr);
}

// SDL's video, once up, stays up for the life of the process (UI thread only): the display
// connection is made once, however many windows come and go. Quitting it would unload the X
// libraries and leave what they keep for the process behind as unattributable leaks.
bool videoUp() {
    if (up) return true;
    takeEndSignals();
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,wayland");  // SDL_VIDEODRIVER in the environment still wins
    // A click that activates the window also reaches the widget under it.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    // The close handshake answers the window's own close request; SDL_QUIT stays for signals.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // The canvas is drawn in software: the window's surface goes straight to the server (shared
    // memory where it can), without a GL driver and its threads in between.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    bool started = false, cut = false;
    {
        StartWatch watch;
        started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        if (!started && probe && !watch.cut()) {
            // The X server answered a moment ago: SDL's start on it failed once and fell through to
            // Wayland. X11 is tried once more, alone.
            SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
            started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        }
        cut = watch.cut();
    }
    closeProbe();
    if (cut && started) SDL_QuitSubSystem(SDL_INIT_VIDEO);  // on connections that were shut
    if (cut) {
        const char* name = SDL_getenv("DISPLAY");
        SDL_SetError("the X display \"%s\" answered once, then gave SDL's connection no answer in %d s, as a "
                     "stopped server does", name ? name : "", int(kProbeDeadline.count()));
        return false;
    }
    if (!started) return false;
    if (!desktopDriver()) {
        const std::string driver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        SDL_SetError("the video driver \"%s\" shows no window on a desktop", driver.c_str());
        return false;
    }
    up = true;
    return true;
}

// SDL links to the session bus as it starts (for the screensaver and input methods). Where no
// session bus is known, libdbus would start one on the X display (autolaunch), a daemon that
// outlives the program, and where it cannot it loses a buffer. SDL makes that link here, once,
// while the program runs no other thread, told that there is no bus; the environment is put back
// for the programs this one starts.
void linkSessionBus() {
    static bool linked = false;
    if (linked) return;
    linked = true;
    const char* given = SDL_getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = SDL_getenv("XDG_RUNTIME_DIR");
    const std::string address = given ? given : "", bus = std::string(runtime ? runtime : "") + "/bus";
    struct stat st {};
    const bool known =
        !address.empty() || (runtime && *runtime && ::stat(bus.c_str(), &st) == 0 && S_ISSOCK(st.st_mode));
    if (!known) ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    SDL_InitSubSystem(0);
    if (known) return;
    if (given)
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    else
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace

bool displayReachable() {
    linkSessionBus();
    // An X server answers: a connection opened (and held until SDL's video opens its own), a
    // fraction of what SDL's video costs. A driver named in the environment, or no X server
    // (Wayland alone), is asked of SDL itself.
    if (!SDL_getenv("SDL_VIDEODRIVER")) {
        const char* name = SDL_getenv("DISPLAY");
        if (name && *name && (probe || (probe = openProbe(name)))) return true;
        const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
        if (!wayland || !*wayland) {  // empty counts as unset, as for DISPLAY
            if (!name || !*name) SDL_SetError("neither DISPLAY nor WAYLAND_DISPLAY is set");
            return false;
        }
    }
    return videoUp();
}

void closeHeld(bool held) {
    {
        const std::lock_guard<std::mutex> lock(hold.mutex);
        hold.held = held;
    }
    hold.changed.notify_all();
}

void closeHeldSays(const std::string& sentence) {
    const std::lock_guard<std::mutex> lock(hold.mutex);
    hold.says = sentence;
}

std::unique_ptr<gui::PlatformWindow> makeSdlWindow(gui::Editor& editor) {
    if (!videoUp()) return nullptr;
    return std::make_unique<SdlWindow>(editor);
}

std::string videoError() {
    const char* e = SDL_GetError();
    return e ? e : "";
}

void installWindowLayer() { gui::PlatformWindow::setFactory(makeSdlWindow); }

}  // namespace lumo::platform
