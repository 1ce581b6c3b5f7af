#include "app/options.h"

#include <charconv>
#include <cmath>

#include "platform/platform.h"

namespace tqapp {
namespace {

bool parseInt(const char* begin, const char* end, int& value) {
    auto [at, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && at == end && value > 0;
}

}  // namespace

bool parseSize(const std::string& text, int& w, int& h) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return false;
    const char* s = text.data();
    return parseInt(s, s + x, w) && parseInt(s + x + 1, s + text.size(), h) && w <= 16384 && h <= 16384;
}

bool parseNumber(const std::string& text, double& value) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
    auto [at, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && at == text.data() + text.size() && std::isfinite(value);
}

bool readEntryOptions(EntryOptions& o, std::string& error) {
    auto valueOf = [&](const char* name, std::string& out) {
        out = lumo::standaloneArgValue(name);
        if (!out.empty() || !lumo::hasStandaloneArg(name)) return true;
        error = std::string(name) + " needs a value";
        return false;
    };
    std::string size, zoom, scale;
    if (!valueOf("--size", size) || !valueOf("--zoom", zoom) || !valueOf("--scale", scale) ||
        !valueOf("--screenshot", o.screenshot))
        return false;
    if (!size.empty() && !parseSize(size, o.width, o.height)) {
        error = "--size wants WxH in whole units, such as 760x420: " + size;
        return false;
    }
    // The editor keeps zoom and scale within its own limits; these only keep out nonsense.
    if (!zoom.empty() && (!parseNumber(zoom, o.zoom) || o.zoom < 0.25 || o.zoom > 8.0)) {
        error = "--zoom wants a number from 0.25 to 8: " + zoom;
        return false;
    }
    if (!scale.empty() && (!parseNumber(scale, o.scale) || o.scale < 0.5 || o.scale > 8.0)) {
        error = "--scale wants a number from 0.5 to 8: " + scale;
        return false;
    }
    o.dumpTree = lumo::hasStandaloneArg("--dump-tree");
    return true;
}

}  // namespace tqapp
