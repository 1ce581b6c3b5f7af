#pragma once
// The processes a test started, found by their ids, as /proc shows them.
#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <thread>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

struct ProcessStat {
    char state = '?';  // R, S, D, Z, ...
    pid_t parent = -1;
};

// False when the process is gone (or was never there).
inline bool processStat(pid_t pid, ProcessStat& out) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    const size_t close = std::getline(in, line) ? line.rfind(')') : std::string::npos;  // the name may hold ')'
    if (close == std::string::npos) return false;
    std::istringstream rest(line.substr(close + 1));
    long parent = -1;
    rest >> out.state >> parent;
    out.parent = pid_t(parent);
    return bool(rest);
}

// The processes whose parent is this one, ended ones not yet waited for included.
inline std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename().string();
        ProcessStat s;
        if (name.find_first_not_of("0123456789") == std::string::npos && processStat(pid_t(std::stol(name)), s) &&
            s.parent == parent)
            out.push_back(pid_t(std::stol(name)));
    }
    return out;
}

// True when the process has a descriptor open on the file that has the name path now.
inline bool holdsOpen(pid_t pid, const std::string& path) {
    std::error_code ec;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& e : std::filesystem::directory_iterator(fds, ec))
        if (std::filesystem::read_symlink(e.path(), ec).string() == path) return true;
    return false;
}

// Polls until done answers true; false after limit (a test that fails rather than hangs).
inline bool awaitTrue(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// True while the process is stopped (by SIGSTOP or a stop it raised itself).
inline bool stopped(pid_t pid) {
    ProcessStat s;
    return processStat(pid, s) && s.state == 'T';
}

// True once the child has ended (it is then waited for; status holds how).
inline bool ended(pid_t child, int& status) { return ::waitpid(child, &status, WNOHANG) == child; }

}  // namespace testsupport
