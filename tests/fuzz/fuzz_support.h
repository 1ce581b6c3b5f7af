#pragma once
// Small helpers shared by the libFuzzer harnesses: splitting one input into parts and private
// temporary folders that are checked and removed after every run.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace fuzzsupport {

// The input cut at its first count - 1 NUL bytes; missing parts are empty.
inline std::vector<std::string> splitNul(const uint8_t* data, size_t size, size_t count) {
    std::vector<std::string> parts;
    const char* p = reinterpret_cast<const char*>(data);
    const char* end = p + size;
    while (parts.size() + 1 < count) {
        const char* nul = p;
        while (nul < end && *nul != '\0') ++nul;
        parts.emplace_back(p, nul);
        if (nul == end) {
            p = end;
            break;
        }
        p = nul + 1;
    }
    parts.emplace_back(p, end);
    parts.resize(count);
    return parts;
}

// A fresh folder under the temporary directory, named after the harness's tag.
class TempDir : public testsupport::TempDir {
public:
    explicit TempDir(const char* tag) : testsupport::TempDir(std::string("lumo-fuzz-") + tag) {}
};

// Every entry below root (links not followed), as paths relative to root.
inline std::vector<std::string> treeBelow(const std::string& root) {
    std::vector<std::string> out;
    std::error_code ec;
    namespace fs = std::filesystem;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end; !ec && it != end;
         it.increment(ec))
        out.push_back(it->path().lexically_relative(root).string());
    std::sort(out.begin(), out.end());
    return out;
}

// The first entry below root that is neither on the way to inside (a path relative to root)
// nor below it; empty when there is none.
inline std::string strayEntry(const std::string& root, const std::string& inside) {
    for (const std::string& rel : treeBelow(root)) {
        const bool onWay = inside.compare(0, rel.size(), rel) == 0 &&
                           (rel.size() == inside.size() || inside[rel.size()] == '/');
        const bool below = rel.compare(0, inside.size() + 1, inside + "/") == 0;
        if (!onWay && !below) return rel;
    }
    return std::string();
}

// The first link below dir that leads outside within (both absolute); empty when there is none.
inline std::string escapingLink(const std::string& dir, const std::string& within) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path top = fs::weakly_canonical(within, ec);
    for (const std::string& rel : treeBelow(dir)) {
        const fs::path p = fs::path(dir) / rel;
        if (!fs::is_symlink(fs::symlink_status(p, ec))) continue;
        const fs::path to = fs::weakly_canonical(p, ec);
        if (ec) return rel;
        const std::string t = to.string(), w = top.string();
        if (t != w && t.compare(0, w.size() + 1, w + "/") != 0) return rel;
    }
    return std::string();
}

// Aborts (a finding for libFuzzer) with a message.
[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzzsupport
