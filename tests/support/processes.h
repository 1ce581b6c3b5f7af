#pragma once
// The processes a test started, found by their ids, as /proc shows them.
#include <sys/types.h>

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

}  // namespace testsupport
