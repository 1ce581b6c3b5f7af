#include "engine/engine_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
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
const char kNotePrefix[] = ".tqm-record-";
constexpr size_t kTagSize = 8;

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

std::string leaf(const std::string& path) { return fs::path(path).filename().string(); }

// The tag of a staging folder, an aside copy or a note (and its temporary); empty for any other name.
std::string tagOfEntry(const std::string& name) {
    for (const char* prefix : {kStagingPrefix, kOldPrefix, kNotePrefix}) {
        const size_t at = std::strlen(prefix);
        if (startsWith(name, prefix) && name.size() >= at + kTagSize) return name.substr(at, kTagSize);
    }
    return {};
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Splits an aside name ".tqm-old-<tag>-<name>" into its tag and name; false for any other name.
bool oldCopyParts(const std::string& entry, std::string& tagText, std::string& name) {
    const size_t tagAt = sizeof kOldPrefix - 1, tagEnd = tagAt + 8;
    if (!startsWith(entry, kOldPrefix) || entry.size() <= tagEnd + 1 || entry[tagEnd] != '-') return false;
    tagText = entry.substr(tagAt, 8);
    name = entry.substr(tagEnd + 1);
    return true;
}

}  // namespace

bool lexistsAt(int dirFd, const std::string& name) {
    struct stat st;
    return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

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

StagingLock::~StagingLock() {
    // The staging folder is the last entry of its tag to go: whoever takes its lock next finds
    // nothing of this writer's left but what keep() leaves on purpose.
    if (folder_.get() >= 0 && lock_.get() >= 0 && !keep_) removeAllAt(folder_.get(), kStagingPrefix + tag_);
}

int StagingLock::lockAt(int dirFd, const std::string& name) {
    // Opened without following a link, locked, and still the folder of that name: a sweep may
    // have taken and removed it between its making and the lock (ESTALE).
    DirFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0 || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return errno;
    struct stat held {}, named {};
    if (::fstat(fd.get(), &held) != 0 || ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameFile(held, named))
        return ESTALE;
    lock_ = std::move(fd);
    tag_ = name.substr(sizeof kStagingPrefix - 1);
    return 0;
}

int StagingLock::makeAt(int dirFd) {
    folder_ = DirFd(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    if (folder_.get() < 0) return errno;
    for (int tries = 0; tries < 16; ++tries) {
        const std::string name = leaf(stagingDir(""));
        if (::mkdirat(dirFd, name.c_str(), 0700) != 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        // Taken by a sweep meanwhile: a new name is tried. A folder that cannot be locked at all goes.
        const int err = lockAt(dirFd, name);
        if (err == 0) return 0;
        if (err != EWOULDBLOCK && err != ESTALE && err != ENOENT) {
            ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
            return err;
        }
    }
    return EAGAIN;
}

bool StagingLock::make(const std::string& dir, std::string& error) {
    DirFd fd;
    int err = openDir(dir, fd);
    if (err == 0) err = makeAt(fd.get());
    path_ = err == 0 ? joinPath(dir, kStagingPrefix + tag_) : stagingDir(dir);  // the latter names it in the error
    if (err != 0) error = err == kLinkRefused ? refusedText(path_) : "cannot create " + path_ + ": " + systemText(err);
    return err == 0;
}

bool StagingLock::take(int dirFd, const std::string& name) { return lockAt(dirFd, name) == 0; }

bool StagingLock::in(int dirFd) const {
    struct stat a {}, b {};
    return folder_.get() >= 0 && ::fstat(folder_.get(), &a) == 0 && ::fstat(dirFd, &b) == 0 && sameFile(a, b);
}

std::string StagingLock::asideOf(const std::string& name) const { return kOldPrefix + tag_ + "-" + name; }

bool sweepable(int dirFd, std::vector<std::string>& names, std::vector<StagingLock>& held) {
    // Per tag: 1 its staging folder is locked here, 0 it has none, -1 another holds it. A tag's
    // entries are taken from a listing made after its staging folder was looked at: a writer that
    // dies between a listing and the lock may have added an entry (its old copy aside) that the
    // listing missed. So the folder is listed until a listing shows no tag not looked at before;
    // tags that still turn up new after a few listings are left alone.
    constexpr int kListings = 4;
    std::map<std::string, int> tags;
    std::vector<std::string> all;
    for (int listing = 1;; ++listing) {
        if (!folderNames(dirFd, all)) return false;
        bool fresh = false;
        for (const std::string& name : all) {
            const std::string t = startsWith(name, kPrefix) ? tagOfEntry(name) : std::string();
            if (t.empty() || tags.count(t)) continue;
            fresh = true;
            const std::string staging = kStagingPrefix + t;
            StagingLock lock;
            if (listing == kListings) {
                tags[t] = -1;
            } else if (!lexistsAt(dirFd, staging)) {
                tags[t] = 0;
            } else if (lock.take(dirFd, staging)) {
                tags[t] = 1;
                held.push_back(std::move(lock));
            } else {
                tags[t] = -1;
            }
        }
        if (!fresh || listing == kListings) break;
    }
    names.clear();
    for (const std::string& name : all) {
        if (!startsWith(name, kPrefix)) continue;
        const std::string t = tagOfEntry(name);
        if (t.empty() || tags[t] >= 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return true;
}

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

MoveResult moveIn(StagingLock& staging, const std::string& item, const std::string& target, bool hasOld,
                  std::string& text) {
    // The folder of the target and the staging folder, opened once: every rename below works in
    // them, whatever happens to the paths meanwhile.
    DirFd dir, from;
    std::string name, itemName;
    int err = openParent(target, dir, name);
    if (err == 0) err = openParent(joinPath(staging.path(), item), from, itemName);
    if (err != 0) {
        text = err == kLinkRefused ? refusedText(target) : systemText(err);
        return err == kLinkRefused ? MoveResult::Refused : hasOld ? MoveResult::AsideFailed : MoveResult::MoveInFailed;
    }
    std::string aside;
    if (hasOld) {
        aside = staging.asideOf(name);
        if (!renameStep(RenameStep::Aside, dir.get(), name, dir.get(), aside)) {
            text = systemText(errno);
            return MoveResult::AsideFailed;
        }
    }
    if (!renameStep(RenameStep::In, from.get(), itemName, dir.get(), name)) {
        text = systemText(errno);
        if (!aside.empty() && !renameStep(RenameStep::Back, dir.get(), aside, dir.get(), name)) staging.keep();
        return MoveResult::MoveInFailed;
    }
    if (!aside.empty()) removeAllAt(dir.get(), aside);
    return MoveResult::Done;
}

bool moveInOrSay(StagingLock& staging, const std::string& item, const std::string& target, bool hasOld,
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
    std::vector<StagingLock> held;  // the staging folders of gone writers, locked until the sweep ends
    if (openDir(dir, fd) != 0 || !sweepable(fd.get(), names, held)) return;
    std::vector<std::string> olds, others;
    std::set<std::string> stagingTags;  // of the staging folders that still hold a new copy
    for (const std::string& name : names) {
        if (keep.count(name)) continue;
        std::vector<std::string> inside;
        DirFd staging(startsWith(name, kStagingPrefix)
                          ? ::openat(fd.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                          : -1);
        if (staging.get() >= 0 && folderNames(staging.get(), inside) && !inside.empty())
            stagingTags.insert(name.substr(sizeof kStagingPrefix - 1));
        (startsWith(name, kOldPrefix) ? olds : others).push_back(name);
    }
    // An old copy beside the staging folder of its own tag that still holds the new copy, under a
    // name that is free, means an install stopped between moving the old copy aside and moving the
    // new one in: the old copy goes back. Any other old copy belongs to a removal (whose staging
    // folder is empty), or to an install that finished, and goes.
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
    // A start runs outside the job lock and records the notes it finds: one may have done so
    // between the job's read of the receipts and this sweep, which then found no note to read.
    // The job goes on from the receipts as they are now. One that cannot be read now keeps what
    // was read: the job's own change reads it again under its lock and says why it cannot.
    const Receipt plugins = receipt, installedApps = apps;
    std::string ignored;
    if (!loadReceipt(ignored)) {
        receipt = plugins;
        apps = installedApps;
    }
}

}  // namespace tqm
