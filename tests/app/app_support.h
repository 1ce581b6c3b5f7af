#pragma once
// Running the manager's program from tests: the demo catalog in a fixed folder of the build (so
// what the window shows of its paths is the same in every run), a child process with its own
// HOME, its output and status.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/processes.h"
#include "tools/demo/demo_catalog.h"

extern char** environ;

namespace apptest {

namespace fs = std::filesystem;

inline const std::string kProgram = LUMO_APP_PROGRAM;
inline const std::string kBundle = LUMO_APP_BUNDLE;

// A fresh demo under <build>/app-test/<name>: catalog, keys, root and HOME. With a bundle the
// catalog offers that bundle at a newer version as the manager's update.
struct Demo {
    std::string dir;
    std::string error;

    explicit Demo(const std::string& name, const std::string& bundle = "", int paddingKb = 16) {
        dir = std::string(LUMO_APP_TEST_DIR) + "/" + name;
        std::error_code ec;
        fs::remove_all(dir, ec);
        demo::Options o;
        o.out = dir;
        o.bundle = bundle;
        o.paddingKb = paddingKb;
        if (!demo::makeDemo(o, error)) return;
        fs::create_directories(home(), ec);
    }
    bool ok() const { return error.empty(); }
    std::string root() const { return dir + "/root"; }
    std::string home() const { return dir + "/home"; }
    std::string source() const { return dir + "/catalog"; }
    std::string pub() const {
        std::ifstream in(dir + "/keys/public.hex");
        std::string key;
        in >> key;
        return key;
    }
    // The words that start the program on this demo.
    std::vector<std::string> args(const std::string& program = kProgram) const {
        return {program, "--root", root(), "--source", source(), "--pub", pub()};
    }
};

// A started child; its stdout (and stderr) go to a file.
struct Child {
    pid_t pid = -1;
    std::string log;

    Child(const std::vector<std::string>& words, const std::string& home, const std::string& logFile,
          const std::vector<std::string>& extraEnv = {}) {
        log = logFile;
        std::vector<std::string> env{"HOME=" + home, "LC_ALL=C"};
        // A variable of extraEnv (another DISPLAY) takes the place of the test's own.
        for (const std::string& e : extraEnv) env.push_back(e);
        for (const char* keep : {"DISPLAY", "XAUTHORITY", "PATH", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            const std::string prefix = std::string(keep) + "=";
            bool given = false;
            for (const std::string& e : extraEnv) given = given || e.rfind(prefix, 0) == 0;
            if (const char* v = std::getenv(keep); v && !given) env.push_back(prefix + v);
        }
        std::vector<char*> argv, envp;
        std::vector<std::string> w = words;
        for (std::string& s : w) argv.push_back(s.data());
        argv.push_back(nullptr);
        for (std::string& s : env) envp.push_back(s.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    // A child this process has taken on (see Reaper), stopped and waited for like one it started.
    explicit Child(pid_t adopted) : pid(adopted) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { stop(); }

    // The exit status, waiting at most the given time; -1 when it still runs or ended by a signal.
    int wait(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (pid > 0) {
            int st = 0;
            const pid_t r = ::waitpid(pid, &st, WNOHANG);
            if (r == pid) {
                pid = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            }
            if (std::chrono::steady_clock::now() > end) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    // Whether it still runs; one that ended is waited for here, and its id is never used again
    // (another process may be given it).
    bool running() {
        if (pid <= 0) return false;
        if (::waitpid(pid, nullptr, WNOHANG) == 0) return true;
        pid = -1;
        return false;
    }
    void stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        if (wait(5) == -1 && pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
    std::string output() const {
        std::ifstream in(log, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

// The base address the demo server prints once it listens; empty when it did not within 30 s (a
// sanitizer build on a busy machine starts slowly).
inline std::string serverBase(Child& server) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        const std::string out = server.output();
        if (out.find('\n') != std::string::npos) return out.substr(0, out.find('\n'));
        if (std::chrono::steady_clock::now() > end) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// For the length of a scope, this process is the reaper of what its children leave behind: a
// program that a child starts and leaves running when it ends becomes a child of this process.
class Reaper {
public:
    Reaper() : ok_(::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0) {}
    ~Reaper() { ::prctl(PR_SET_CHILD_SUBREAPER, 0); }
    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;
    bool ok() const { return ok_; }

    // A running child of this process started from the program; -1 when there is none.
    static pid_t childRunning(const std::string& program) {
        for (pid_t pid : testsupport::childrenOf(::getpid())) {
            std::error_code ec;
            const fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
            if (!ec && exe == fs::path(program)) return pid;
        }
        return -1;
    }

private:
    bool ok_;
};

// Runs the words to the end (at most 60 s); the status, with the output in out.
inline int run(const std::vector<std::string>& words, const std::string& home, std::string& out,
               const std::vector<std::string>& extraEnv = {}) {
    static int serial = 0;
    const std::string log = home + "/run-" + std::to_string(++serial) + ".txt";
    Child c(words, home, log, extraEnv);
    const int status = c.wait(60);
    out = c.output();
    return status;
}

}  // namespace apptest
