// The elevated helper's entry. The manager's own executable, started a second time with
// "--tqm-apply" behind the administrator prompt, must run its job and end before anything else
// of the program starts: a static initialiser reads the command line and, when the switch is
// there, ends the process with the job's status; main never runs.
//
// This file is built as an object of its own and linked into every program that links the
// engine. It leans on no other file's static objects: the command line is read with plain
// system calls, and the engine calls made from here use only function-local statics.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/jobs.h"

namespace tqm {

// The key list the helper verifies the cached catalog with: the built-in one. A test program
// may link a definition of its own to hand the helper a test key (no key from outside the
// program is ever taken in a shipped build).
__attribute__((weak)) const char* helperKeysOverride() { return nullptr; }

}  // namespace tqm

namespace {

// The words of this process's command line after the program name.
std::vector<std::string> commandWords() {
    std::vector<std::string> words;
    int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return words;
    std::string all;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        all.append(buf, size_t(n));
    }
    ::close(fd);
    size_t start = 0;
    bool first = true;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        if (!first) words.push_back(all.substr(start, end - start));
        first = false;
        start = end + 1;
    }
    return words;
}

bool applyIfRequested() {
    const tqm::jobs::HelperArgs args = tqm::jobs::parseHelperArgs(commandWords());
    if (!args.apply) return false;
    const int status = tqm::jobs::runHelper(args, tqm::helperKeys());
    std::_Exit(status);
}

// Built at the first priority open to programs: the check runs before every other static object
// of the executable, whatever the link order.
struct Applied {
    const bool value = applyIfRequested();
};
[[maybe_unused]] __attribute__((init_priority(101))) const Applied g_applied;

}  // namespace
