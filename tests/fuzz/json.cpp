// lumo::Json::parse on any bytes; the result is walked whole so every value is touched. parseTop
// takes every text parse takes and agrees with it on the top level's plain members.
#include <cstddef>
#include <cstdint>

#include "json/json.h"

namespace {

size_t walk(const lumo::Json& j, int depth) {
    if (depth > 200) __builtin_trap();  // the parser bounds nesting
    size_t n = 1 + j.text.size();
    for (const lumo::Json& item : j.array()) n += walk(item, depth + 1);
    for (const auto& [key, value] : j.object()) n += key.size() + walk(value, depth + 1);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const lumo::Json j = lumo::Json::parse(data, size);
    volatile size_t n = walk(j, 0);
    (void)n;
    (void)j["key"][size_t(3)]["x"].string();

    const lumo::Json top = lumo::Json::parseTop(data, size);
    if (!j.isNull() && top.kind != j.kind) __builtin_trap();
    if (j.isObject())
        for (const auto& [key, value] : j.object()) {
            const lumo::Json& mine = top[key];
            if (mine.kind != value.kind || mine.text != value.text || mine.number != value.number) __builtin_trap();
        }
    return 0;
}
