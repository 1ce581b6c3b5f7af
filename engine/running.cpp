#include "engine/running.h"

#include <filesystem>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace tqm {

std::string runningProgram() {
    std::vector<char> buf(256);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (size_t(n) < buf.size()) {
            std::string raw(buf.data(), size_t(n));
            std::error_code ec;
            fs::path canonical = fs::weakly_canonical(raw, ec);
            return ec ? raw : canonical.string();
        }
        if (buf.size() >= (size_t(1) << 20)) return {};
        buf.resize(buf.size() * 2);  // truncated: ask again with room to spare
    }
}

std::string selfItem(const std::string& program) {
    fs::path p(program);
    fs::path d = p.parent_path(), c = d.parent_path(), b = c.parent_path();
    if (d.filename() == "MacOS" && c.filename() == "Contents" && b.extension() == ".app") return b.string();
    return program;
}

}  // namespace tqm
