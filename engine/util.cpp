#include "engine/util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tqm {

std::string findOnPath(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return {};
    std::string path;
    if (const char* env = std::getenv("PATH")) {
        path = env;
    } else {
        path.resize(::confstr(_CS_PATH, nullptr, 0));
        if (!path.empty()) path.resize(::confstr(_CS_PATH, path.data(), path.size()) - 1);
    }
    for (const std::string& dir : splitAt(path, ':')) {
        if (dir.empty() || dir[0] != '/') continue;
        const std::string file = dir + (dir.back() == '/' ? "" : "/") + name;
        struct stat st {};
        if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0) return file;
    }
    return {};
}

std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

namespace {

struct VersionParts {
    uint64_t v[3] = {0, 0, 0};
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

VersionParts readVersion(const std::string& s) {
    VersionParts out;
    size_t i = 0;
    const size_t n = s.size();
    auto run = [&](uint64_t& part) {
        while (i < n && isDigit(s[i])) part = part * 10 + uint64_t(s[i++] - '0');
    };
    run(out.v[0]);
    if (i >= n || s[i] != '.') return out;
    ++i;
    run(out.v[1]);
    if (i >= n || s[i] != '.' || i + 1 >= n) return out;
    ++i;
    run(out.v[2]);
    return out;
}

}  // namespace

int32_t compareVersions(const std::string& a, const std::string& b) {
    VersionParts va = readVersion(a), vb = readVersion(b);
    for (int i = 0; i < 3; ++i) {
        // Unsigned: components of 2^63 and more are large numbers, not negative ones.
        if (va.v[i] != vb.v[i]) return va.v[i] < vb.v[i] ? -1 : 1;
    }
    return 0;
}

std::string nowUtc() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return std::string(buf, n);
}

}  // namespace tqm
