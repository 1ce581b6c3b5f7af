// The X display a test was given. The test command starts several virtual X servers and lets CTest
// hand each real-window test one of them ("display" resource, id = the display number); the test
// then opens its windows, and starts its programs, on that display alone. Built into every test
// program (not into the support library, from which a program that calls none of it would drop
// it), it sets DISPLAY before any test runs. Given no display (a plain `ctest`, or the build's own
// one-display spec whose id is not a number), the environment's DISPLAY stays as it is.
#include "tests/support/ctest_display.h"

#include <cstdlib>
#include <string>

namespace testsupport {

namespace {

// "id:101,slots:1" -> ":101"; empty when the id is not a display number.
std::string displayOf(const std::string& allocation) {
    const size_t at = allocation.find("id:");
    if (at == std::string::npos) return {};
    const std::string id = allocation.substr(at + 3, allocation.find(',', at) - (at + 3));
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) return {};
    return ":" + id;
}

// ":101.0" -> ":101": the screen does not change the server.
std::string serverOf(const std::string& display) { return display.substr(0, display.find('.', display.find(':'))); }

[[maybe_unused]] const bool kDisplaySet = [] {
    const std::string display = givenDisplay();
    return !display.empty() && ::setenv("DISPLAY", display.c_str(), 1) == 0;
}();

}  // namespace

std::string givenDisplay() {
    const char* count = std::getenv("CTEST_RESOURCE_GROUP_COUNT");
    for (int i = 0, n = count ? std::atoi(count) : 0; i < n; ++i) {
        const std::string group = "CTEST_RESOURCE_GROUP_" + std::to_string(i);
        const char* type = std::getenv(group.c_str());
        const char* given = std::getenv((group + "_DISPLAY").c_str());
        if (type && std::string(type) == "display" && given) return displayOf(given);
    }
    return {};
}

std::string displayTrouble(const std::string& opened) {
    const std::string given = givenDisplay();
    const char* env = std::getenv("DISPLAY");
    const std::string set = env ? "DISPLAY is \"" + std::string(env) + "\"" : "DISPLAY is not set";
    if (opened.empty())
        return given.empty() ? "no X display to open (" + set + ")"
                             : "cannot open the X display " + given + " the test was given (" + set + ")";
    if (!given.empty() && serverOf(opened) != given)
        return "the test drew on the X display " + opened + ", not on " + given + " that it was given";
    return {};
}

}  // namespace testsupport
