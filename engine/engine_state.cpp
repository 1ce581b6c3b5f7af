#include "engine/engine_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <vector>

#include "engine/engine.h"
#include "engine/layout.h"
#include "engine/safe_path.h"

namespace fs = std::filesystem;

namespace tqm {

namespace detail {

namespace {

const char kPrefix[] = ".tqm-";
const char kOldPrefix[] = ".tqm-old-";
const char kStagingPrefix[] = ".tqm-staging-";

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool lexistsAt(int dirFd, const std::string& name) {
    struct stat st;
    return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

std::string leaf(const std::string& path) { return fs::path(path).filename().string(); }

// Splits an aside name ".tqm-old-<tag>-<name>" into its tag and name; false for any other name.
bool oldCopyParts(const std::string& entry, std::string& tagText, std::string& name) {
    const size_t tagAt = sizeof kOldPrefix - 1, tagEnd = tagAt + 8;
    if (!startsWith(entry, kOldPrefix) || entry.size() <= tagEnd + 1 || entry[tagEnd] != '-') return false;
    tagText = entry.substr(tagAt, 8);
    name = entry.substr(tagEnd + 1);
    return true;
}

}  // namespace

int (*renameFault)(RenameStep step) = nullptr;

bool renameStep(RenameStep step, int fromDir, const std::string& from, int toDir, const std::string& to) {
    if (renameFault) {
        if (const int err = renameFault(step)) {
            errno = err;
            return false;
        }
    }
    return ::renameat(fromDir, from.c_str(), toDir, to.c_str()) == 0;
}

void removeAllAt(int parentFd, const std::string& name) {
    if (::unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT) return;
    DirFd dir(::openat(parentFd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    std::vector<std::string> names;
    if (dir.get() < 0 || !folderNames(dir.get(), names)) return;
    for (const std::string& n : names) removeAllAt(dir.get(), n);
    ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
}

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

namespace {

std::string asideTagged(const std::string& path, const std::string& tag) {
    fs::path p(path);
    return (p.parent_path() / (kOldPrefix + tag + "-" + p.filename().string())).string();
}

}  // namespace

std::string asideName(const std::string& path) { return asideTagged(path, tag()); }

std::string asideFor(const std::string& staging, const std::string& path) {
    return asideTagged(path, leaf(staging).substr(sizeof kStagingPrefix - 1));
}

int removeAll(const std::string& path) {
    DirFd dir;
    std::string name;
    const int err = openParent(path, dir, name);
    if (err == 0) removeAllAt(dir.get(), name);
    return err;
}

bool writable(const std::string& dir) {
    DirFd fd;
    if (openDir(dir, fd, true) != 0) return false;
    const std::string probe = ".tqm-probe-" + tag();
    const int file = ::openat(fd.get(), probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (file < 0) return false;
    ::close(file);
    ::unlinkat(fd.get(), probe.c_str(), 0);
    return true;
}

bool createFolder(const std::string& dir, std::string& error) {
    DirFd fd;
    const int err = openDir(dir, fd, true);
    if (err == 0) return true;
    error = err == kLinkRefused ? refusedText(dir) : "cannot create " + dir + ": " + systemText(err);
    return false;
}

MoveResult moveIn(const std::string& staging, const std::string& item, const std::string& target, bool hasOld,
                  std::string& text) {
    // The folder of the target and the staging folder, opened once: every rename below works in
    // them, whatever happens to the paths meanwhile.
    DirFd dir, from;
    std::string name, itemName;
    int err = openParent(target, dir, name);
    if (err == 0) err = openParent(joinPath(staging, item), from, itemName);
    if (err != 0) {
        text = err == kLinkRefused ? refusedText(target) : systemText(err);
        removeAll(staging);
        return err == kLinkRefused ? MoveResult::Refused : hasOld ? MoveResult::AsideFailed : MoveResult::MoveInFailed;
    }
    std::string aside;
    if (hasOld) {
        aside = leaf(asideFor(staging, target));
        if (!renameStep(RenameStep::Aside, dir.get(), name, dir.get(), aside)) {
            text = systemText(errno);
            removeAll(staging);
            return MoveResult::AsideFailed;
        }
    }
    if (!renameStep(RenameStep::In, from.get(), itemName, dir.get(), name)) {
        text = systemText(errno);
        if (aside.empty() || renameStep(RenameStep::Back, dir.get(), aside, dir.get(), name)) removeAll(staging);
        return MoveResult::MoveInFailed;
    }
    removeAll(staging);
    if (!aside.empty()) removeAllAt(dir.get(), aside);
    return MoveResult::Done;
}

bool moveInOrSay(const std::string& staging, const std::string& item, const std::string& target, bool hasOld,
                 const std::string& what, const std::string& dir, const std::string& busyHint, std::string& error) {
    std::string text;
    switch (moveIn(staging, item, target, hasOld, text)) {
    case MoveResult::AsideFailed:
        error = "cannot move the old " + what + " aside (" + text + "): " + busyHint;
        return false;
    case MoveResult::MoveInFailed:
        error = "cannot move " + what + " into " + dir + ": " + text;
        return false;
    case MoveResult::Refused:
        error = text;
        return false;
    case MoveResult::Done:
        break;
    }
    return true;
}

void sweepFolder(const std::string& dir, const std::set<std::string>& keep) {
    DirFd fd;
    std::vector<std::string> names;
    if (openDir(dir, fd) != 0 || !folderNames(fd.get(), names)) return;
    std::vector<std::string> olds, others;
    std::set<std::string> stagingTags;
    for (const std::string& name : names) {
        if (!startsWith(name, kPrefix) || keep.count(name)) continue;
        if (startsWith(name, kStagingPrefix)) stagingTags.insert(name.substr(sizeof kStagingPrefix - 1));
        (startsWith(name, kOldPrefix) ? olds : others).push_back(name);
    }
    // An old copy beside the staging folder of its own tag, under a name that is free, means an
    // install stopped between moving the old copy aside and moving the new one in: the old copy
    // goes back. Any other old copy belongs to a removal, or to an install that finished, and
    // goes.
    for (const std::string& name : olds) {
        std::string tagText, target;
        if (oldCopyParts(name, tagText, target) && stagingTags.count(tagText) && !lexistsAt(fd.get(), target) &&
            renameStep(RenameStep::Restore, fd.get(), name, fd.get(), target))
            continue;
        others.push_back(name);
    }
    for (const std::string& name : others) removeAllAt(fd.get(), name);
}

}  // namespace detail

bool Engine::canWrite(const std::string& format) const { return detail::writable(layout.formatDir(format)); }

void Engine::sweep() {
    std::vector<std::string> formats = formatsHere();
    formats.push_back("app");
    for (const std::string& format : formats) detail::sweepFolder(layout.formatDir(format), settleInstalls(format));
}

}  // namespace tqm
