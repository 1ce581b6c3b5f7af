#include "engine/engine_state.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "engine/engine.h"
#include "engine/layout.h"

namespace fs = std::filesystem;

namespace tqm {

namespace detail {

namespace {

const char kPrefix[] = ".tqm-";
const char kOldPrefix[] = ".tqm-old-";
const char kStagingPrefix[] = ".tqm-staging-";

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Removes the entry `name` of the folder open as parentFd. A link is removed as a link; a folder
// is opened without following links and emptied first.
void removeAt(int parentFd, const char* name) {
    if (::unlinkat(parentFd, name, 0) == 0 || errno == ENOENT) return;
    int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(std::move(n));
    }
    for (const std::string& n : names) removeAt(::dirfd(d), n.c_str());
    ::closedir(d);
    ::unlinkat(parentFd, name, AT_REMOVEDIR);
}

bool lexists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

}  // namespace

std::string tag() {
    uint32_t value = 0;
    bool ok = false;
    if (FILE* f = std::fopen("/dev/urandom", "rb")) {
        ok = std::fread(&value, sizeof value, 1, f) == 1;
        std::fclose(f);
    }
    if (!ok) value = std::random_device{}();
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::string stagingDir(const std::string& dir) { return joinPath(dir, kStagingPrefix + tag()); }

std::string asideName(const std::string& path) {
    fs::path p(path);
    return (p.parent_path() / (kOldPrefix + tag() + "-" + p.filename().string())).string();
}

void removeAll(const std::string& path) {
    fs::path p(path);
    std::string parent = p.has_parent_path() ? p.parent_path().string() : ".";
    std::string name = p.filename().string();
    if (name.empty() || name == "." || name == "..") return;
    int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    removeAt(fd, name.c_str());
    ::close(fd);
}

bool writable(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return false;
    const std::string probe = joinPath(dir, ".tqm-probe-" + tag());
    int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

bool createFolder(const std::string& dir, std::string& error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!ec) return true;
    error = "cannot create " + dir + ": " + ec.message();
    return false;
}

MoveResult moveIn(const std::string& staging, const std::string& item, const std::string& target, bool hasOld,
                  std::string& text) {
    std::string aside;
    if (hasOld) {
        aside = asideName(target);
        if (std::rename(target.c_str(), aside.c_str()) != 0) {
            text = std::error_code(errno, std::generic_category()).message();
            removeAll(staging);
            return MoveResult::AsideFailed;
        }
    }
    if (std::rename(joinPath(staging, item).c_str(), target.c_str()) != 0) {
        text = std::error_code(errno, std::generic_category()).message();
        if (aside.empty() || std::rename(aside.c_str(), target.c_str()) == 0) removeAll(staging);
        return MoveResult::MoveInFailed;
    }
    removeAll(staging);
    if (!aside.empty()) removeAll(aside);
    return MoveResult::Done;
}

void sweepFolder(const std::string& dir) {
    std::vector<std::string> olds, others;
    bool staging = false;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!startsWith(name, kPrefix)) continue;
        if (startsWith(name, kStagingPrefix)) staging = true;
        (startsWith(name, kOldPrefix) ? olds : others).push_back(name);
    }
    // A staging folder beside an old copy whose name is free means an install stopped between
    // moving the old copy aside and moving the new one in: the old copy goes back. Without one,
    // the old copy belongs to a removal and goes.
    const size_t kTagEnd = sizeof kOldPrefix - 1 + 8;
    for (const std::string& name : olds) {
        if (staging && name.size() > kTagEnd + 1 && name[kTagEnd] == '-') {
            const std::string target = joinPath(dir, name.substr(kTagEnd + 1));
            if (!lexists(target) && ::rename(joinPath(dir, name).c_str(), target.c_str()) == 0) continue;
        }
        others.push_back(name);
    }
    for (const std::string& name : others) removeAll(joinPath(dir, name));
}

}  // namespace detail

bool Engine::canWrite(const std::string& format) const { return detail::writable(layout.formatDir(format)); }

void Engine::sweep() {
    std::vector<std::string> formats = formatsHere();
    formats.push_back("app");
    for (const std::string& format : formats) detail::sweepFolder(layout.formatDir(format));
}

}  // namespace tqm
