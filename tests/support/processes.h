#pragma once
// The processes a test started, found by their ids: a process's parent and state from
// /proc/<pid>/stat, the children of a process.
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
    if (!std::getline(in, line)) return false;
    const size_t close = line.rfind(')');  // the program's name may hold spaces and brackets
    if (close == std::string::npos || close + 2 > line.size()) return false;
    std::istringstream rest(line.substr(close + 2));
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
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        ProcessStat s;
        const pid_t pid = pid_t(std::stol(name));
        if (processStat(pid, s) && s.parent == parent) out.push_back(pid);
    }
    return out;
}

}  // namespace testsupport
