#include "manager/args.h"

#include <algorithm>
#include <mutex>

namespace tqapp {
namespace {

std::mutex& argsMutex() {
    static std::mutex m;
    return m;
}

std::vector<std::string>& words() {
    static std::vector<std::string> w;
    return w;
}

}  // namespace

bool hasArg(const char* name) {
    std::lock_guard<std::mutex> lock(argsMutex());
    return std::find(words().begin(), words().end(), name) != words().end();
}

std::string argValue(const char* name) {
    std::lock_guard<std::mutex> lock(argsMutex());
    auto it = std::find(words().begin(), words().end(), name);
    if (it == words().end() || it + 1 == words().end()) return {};
    return *(it + 1);
}

void storeArgs(std::vector<std::string> w) {
    std::lock_guard<std::mutex> lock(argsMutex());
    words() = std::move(w);
}

}  // namespace tqapp
