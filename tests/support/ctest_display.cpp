// The X display a test was given. The test command starts several virtual X servers and lets CTest
// hand each real-window test one of them ("display" resource, id = the display number); the test
// then opens its windows, and starts its programs, on that display alone. Built into every test
// program (not into the support library, which would drop it: nothing calls it), it sets DISPLAY
// before any test runs. Given no display (a plain `ctest`, or the build's own one-display spec
// whose id is not a number), the environment's DISPLAY stays as it is.
#include <cstdlib>
#include <string>

namespace {

// "id:101,slots:1" -> ":101"; empty when the id is not a display number.
std::string displayOf(const std::string& allocation) {
    const size_t at = allocation.find("id:");
    if (at == std::string::npos) return {};
    const std::string id = allocation.substr(at + 3, allocation.find(',', at) - (at + 3));
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) return {};
    return ":" + id;
}

[[maybe_unused]] const bool kDisplaySet = [] {
    const char* count = std::getenv("CTEST_RESOURCE_GROUP_COUNT");
    for (int i = 0, n = count ? std::atoi(count) : 0; i < n; ++i) {
        const std::string group = "CTEST_RESOURCE_GROUP_" + std::to_string(i);
        const char* type = std::getenv(group.c_str());
        const char* given = std::getenv((group + "_DISPLAY").c_str());
        if (!type || std::string(type) != "display" || !given) continue;
        const std::string display = displayOf(given);
        if (display.empty()) return false;
        ::setenv("DISPLAY", display.c_str(), 1);
        return true;
    }
    return false;
}();

}  // namespace
