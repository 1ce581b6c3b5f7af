#include "engine/install_folder.h"

#include <fcntl.h>
#include <stdio.h>
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
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/file_lock.h"
#include "engine/install_folder_steps.h"
#include "engine/jobs.h"
#include "engine/layout.h"
#include "engine/safe_path.h"

namespace fs = std::filesystem;

namespace tqm {

namespace detail {

namespace {

std::string leaf(const std::string& path) { return fs::path(path).filename().string(); }

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

Entry parseEntry(const std::string& name) {
    Entry e;
    const auto tagAfter = [&](std::string_view prefix) {
        return name.compare(0, prefix.size(), prefix) == 0 && name.size() >= prefix.size() + kTagSize;
    };
    // "<prefix><tag>-<name>"
    const auto copyAfter = [&](std::string_view prefix, Entry::Kind kind) {
        if (!tagAfter(prefix) || name.size() <= prefix.size() + kTagSize + 1 || name[prefix.size() + kTagSize] != '-')
            return false;
        e.kind = kind;
        e.tag = name.substr(prefix.size(), kTagSize);
        e.name = name.substr(prefix.size() + kTagSize + 1);
        return true;
    };
    if (copyAfter(kAsidePrefix, Entry::Aside) || copyAfter(kGonePrefix, Entry::Gone)) return e;
    if (name.compare(0, kClaimName.size(), kClaimName) == 0) {
        e.kind = Entry::Claim;  // the claim, or a temporary that replaces it
    } else if (tagAfter(kStagingPrefix) && name.size() == kStagingPrefix.size() + kTagSize) {
        e.kind = Entry::Staging;
        e.tag = name.substr(kStagingPrefix.size());
    } else if (name.compare(0, kNotePrefix.size(), kNotePrefix) == 0 && name.size() > kNotePrefix.size()) {
        e.kind = Entry::Note;  // the note itself, or its temporary
        e.tag = name.substr(kNotePrefix.size(), kTagSize);
    }
    return e;
}

std::string stagingName(const std::string& tag) { return std::string(kStagingPrefix) + tag; }
std::string asideName(const std::string& tag, const std::string& name) { return std::string(kAsidePrefix) + tag + "-" + name; }
std::string noteName(const std::string& tag) { return std::string(kNotePrefix) + tag; }

bool lexistsAt(int dirFd, const std::string& name) {
    struct stat st;
    return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

int (*renameFault)(RenameStep step) = nullptr;
std::chrono::steady_clock::time_point (*sweepClock)() = nullptr;

namespace {

// A step where a test may only stop (its answer is not asked for).
void pause(RenameStep step) {
    if (renameFault) renameFault(step);
}

}  // namespace

bool renameStep(RenameStep step, int fromDir, const std::string& from, int toDir, const std::string& to) {
    if (renameFault) {
        if (const int err = renameFault(step)) {
            errno = err;
            return false;
        }
    }
    if (::renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    // A file system (or system) without the flag: a look at the name stands in for it.
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (lexistsAt(toDir, to)) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(fromDir, from.c_str(), toDir, to.c_str()) == 0;
}

namespace {

// Empties the open folder `top` (of the status held), walking down with only the folder at hand
// open, whatever the depth; the way back up reopens each parent by "..", which must still be the
// folder of the remembered device and inode (a folder moved meanwhile stops the walk), and removes a
// folder's name only while it holds that folder. No link is followed. 0 or the first system error
// number met; `removed` says whether anything went.
int emptyFolder(DirFd top, const struct stat& held, bool& removed) {
    struct Level {
        std::string name;  // in the level above
        struct stat st;
        std::vector<std::string> names;
        size_t next = 0;
    };
    std::vector<Level> levels;
    DirFd cur;
    const auto enter = [&](DirFd fd, const std::string& name, const struct stat* st) {
        Level level{name, {}, {}, 0};
        if (st) level.st = *st;
        if (fd.get() < 0 || (!st && ::fstat(fd.get(), &level.st) != 0)) return errno;
        if (!folderNames(fd.get(), level.names)) return errno ? errno : EIO;
        levels.push_back(std::move(level));
        cur = std::move(fd);
        return 0;
    };
    if (const int err = enter(std::move(top), {}, &held)) return err;
    int first = 0;  // the first failure; the walk goes on past it
    for (;;) {
        Level& at = levels.back();
        if (at.next < at.names.size()) {
            const std::string entry = at.names[at.next++];
            if (::unlinkat(cur.get(), entry.c_str(), 0) == 0) {
                removed = true;
                continue;
            }
            if (errno == ENOENT) continue;
            const int err = errno;
            const int entered =
                enter(DirFd(::openat(cur.get(), entry.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)), entry,
                      nullptr);
            // Not a folder: the unlink's own failure is the one to tell.
            if (entered != 0 && !first) first = entered == ENOTDIR || entered == ELOOP ? err : entered;
            continue;
        }
        if (levels.size() == 1) return first;
        const Level done = std::move(at);
        levels.pop_back();
        pause(RenameStep::Up);
        struct stat up {}, named {};
        DirFd parent(::openat(cur.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (parent.get() < 0 || ::fstat(parent.get(), &up) != 0 || !sameFile(up, levels.back().st))
            return first ? first : ESTALE;
        if (::fstatat(parent.get(), done.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(named, done.st)) {
            if (::unlinkat(parent.get(), done.name.c_str(), AT_REMOVEDIR) == 0)
                removed = true;
            else if (errno != ENOENT && !first)
                first = errno;
        }
        cur = std::move(parent);
    }
}

// Empties the folder `top` (of the status held) and removes it at parentFd/name while that name holds it.
int removeFolderAt(int parentFd, const std::string& name, DirFd top, const struct stat& held, bool& removed) {
    int err = emptyFolder(std::move(top), held, removed);
    struct stat named {};
    if (::fstatat(parentFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
        return err ? err : errno == ENOENT ? 0 : errno;
    if (!sameFile(named, held)) return err ? err : ESTALE;
    if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0)
        removed = true;
    else if (errno != ENOENT && !err)
        err = errno;
    return err;
}

// Renames `from` of dirFd to the free name `to` while it holds `copy`; a rename that took another
// entry (moved there meanwhile) is undone. True when `copy` is at `to`.
bool putBack(RenameStep step, int dirFd, const std::string& from, const std::string& to, const struct stat& copy) {
    struct stat st {};
    if (::fstatat(dirFd, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !sameFile(st, copy) ||
        !renameStep(step, dirFd, from, dirFd, to))
        return false;
    if (::fstatat(dirFd, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(st, copy)) return true;
    renameStep(step, dirFd, to, dirFd, from);
    return false;
}

// An entry of dirFd opened without following a link, with its status; false when it cannot be.
bool openEntry(int dirFd, const std::string& name, DirFd& fd, struct stat& st) {
    fd = DirFd(::openat(dirFd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    return fd.get() >= 0 && ::fstat(fd.get(), &st) == 0;
}

}  // namespace

int removeAllAt(int parentFd, const std::string& name) {
    if (::unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT) return 0;
    const int unlinkErr = errno;
    DirFd top(::openat(parentFd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat held {};
    if (top.get() < 0 || ::fstat(top.get(), &held) != 0) return errno == ENOTDIR || errno == ELOOP ? unlinkErr : errno;
    bool removed = false;
    return removeFolderAt(parentFd, name, std::move(top), held, removed);
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

std::string stagingDir(const std::string& dir) { return joinPath(dir, stagingName(tag())); }

StagingLock::~StagingLock() {
    // The staging folder is the last entry of its tag to go: whoever takes its lock next finds
    // nothing of this writer's left but what keep() leaves on purpose.
    struct stat held {};
    if (folder_.get() >= 0 && lock_.get() >= 0 && !keep_ && ::fstat(lock_.get(), &held) == 0)
        removeStagingAt(folder_.get(), stagingName(tag_), &held);
}

int StagingLock::lockAt(int dirFd, const std::string& name, bool made) {
    // Opened without following a link, locked, and still the folder of that name: a sweep may
    // have taken and removed it between its making and the lock, or someone put another folder at
    // its name (ESTALE). A writer's own is also the owner-only folder of this process's user that
    // it made, never one put at its name before the lock. A sweep takes only its own account's:
    // another account's writer, gone or not, is that account's to sweep.
    DirFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat held {}, named {};
    if (fd.get() < 0 || ::fstat(fd.get(), &held) != 0) return errno;
    if (held.st_uid != ::geteuid()) return ESTALE;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return errno;
    pause(RenameStep::Locked);
    if (::fstat(fd.get(), &held) != 0 || ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameFile(held, named))
        return ESTALE;
    if (held.st_uid != ::geteuid() || (made && (held.st_mode & 077) != 0)) return ESTALE;
    lock_ = std::move(fd);
    tag_ = parseEntry(name).tag;
    return 0;
}

int StagingLock::makeAt(int dirFd, const std::string& dir) {
    folder_ = DirFd(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    if (folder_.get() < 0) return errno;
    for (int tries = 0; tries < 16; ++tries) {
        const std::string name = stagingName(detail::tag());
        if (::mkdirat(dirFd, name.c_str(), 0700) != 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        pause(RenameStep::Made);
        // Taken by a sweep or replaced meanwhile: a new name is tried (what stands at the old one
        // is left alone). A folder that cannot be locked at all goes.
        const int err = lockAt(dirFd, name, true);
        if (err == 0) {
            path_ = joinPath(dir, name);
            return 0;
        }
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
    if (err == 0) err = makeAt(fd.get(), dir);
    if (err != 0) path_ = stagingDir(dir);  // names it in the error
    if (err != 0) error = err == kLinkRefused ? refusedText(path_) : "cannot create " + path_ + ": " + systemText(err);
    return err == 0;
}

bool StagingLock::take(int dirFd, const std::string& name) { return lockAt(dirFd, name, false) == 0; }

bool StagingLock::in(int dirFd) const {
    struct stat a {}, b {};
    return folder_.get() >= 0 && ::fstat(folder_.get(), &a) == 0 && ::fstat(dirFd, &b) == 0 && sameFile(a, b);
}

bool sweepable(int dirFd, const SweepClaim& claim, Sweepable& out) {
    // Per tag: 1 its staging folder is locked here, 0 it has none, -1 another holds it. A tag's
    // entries are taken from a listing made after its staging folder was looked at: a writer that
    // dies between a listing and the lock may have added an entry (its old copy aside) that the
    // listing missed. So the folder is listed until a listing shows no tag not looked at before;
    // tags that still turn up new after a few listings are left alone.
    constexpr int kListings = 4;
    std::map<std::string, int> tags;
    std::map<std::string, uid_t> others;  // the owner of each staging folder not taken
    std::vector<std::string> all;
    out = Sweepable();
    if (!claim.held()) {
        errno = ENOLCK;
        return false;
    }
    for (int listing = 1;; ++listing) {
        if (!folderNames(dirFd, all)) return false;
        pause(RenameStep::Listed);
        bool fresh = false;
        for (const std::string& name : all) {
            const std::string t = parseEntry(name).tag;
            if (t.empty() || tags.count(t)) continue;
            fresh = true;
            const std::string staging = stagingName(t);
            StagingLock lock;
            if (listing == kListings) {
                tags[t] = -1;
            } else if (!lexistsAt(dirFd, staging)) {
                tags[t] = 0;
            } else if (lock.take(dirFd, staging)) {
                tags[t] = 1;
                out.held.push_back(std::move(lock));
            } else {
                tags[t] = -1;
                struct stat st {};
                if (::fstatat(dirFd, staging.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) others[t] = st.st_uid;
            }
        }
        if (!fresh || listing == kListings) break;
    }
    // Of those a sweep takes only what its own account made or moved: its entries, and the aside
    // copies of a tag whose staging folder it took or whose note is its own (a writer moves aside a
    // copy of another account's it was let replace). A staging folder it did not take, of its own
    // account or root's, keeps its whole tag (a live writer, or root's); another account's keeps
    // what that account has and the aside copies its note names, never a gone writer's entries
    // of this account, whatever was put at that name.
    const uid_t self = ::geteuid();
    const auto ownerOf = [&](const std::string& name) {
        struct stat st {};
        return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? st.st_uid : uid_t(-1);
    };
    const auto takes = [&](const std::string& name, const Entry& e) {
        const bool own = ownerOf(name) == self;
        if (e.tag.empty()) return own || e.kind == Entry::Claim;
        if (tags[e.tag] > 0) return own || e.kind == Entry::Aside;
        const uid_t note = ownerOf(noteName(e.tag));
        if (tags[e.tag] == 0) return own || (e.kind == Entry::Aside && note == self);
        const auto staging = others.find(e.tag);
        return staging != others.end() && staging->second != self && staging->second != 0 && own &&
               e.kind != Entry::Staging && !(e.kind == Entry::Aside && note == staging->second);
    };
    std::sort(all.begin(), all.end());
    for (const std::string& name : all) {
        const Entry e = parseEntry(name);
        if (name.compare(0, kEntryPrefix.size(), kEntryPrefix) == 0 && takes(name, e)) out.names.push_back(name);
    }
    out.listed = std::move(all);  // sorted, so names is too
    return true;
}

void removeStagingAt(int dirFd, const std::string& name, const struct stat* held) {
    DirFd fd(::openat(dirFd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    bool removed = false;
    if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && (!held || sameFile(st, *held)) &&
        voidUnmovedNote(dirFd, parseEntry(name).tag))
        removeFolderAt(dirFd, name, std::move(fd), st, removed);
}

int deleteCopyAt(int dirFd, const std::string& name, const std::string& tag, const std::vector<std::string>& names,
                 const struct stat* copy) {
    // Worked on only while it is the copy: every step after the first look checks the name holds
    // what that look opened, and a folder is emptied through that descriptor.
    DirFd fd;
    struct stat st {}, there {};
    if (!openEntry(dirFd, name, fd, st)) return errno == ENOENT ? 0 : errno;
    if (copy && !sameFile(st, *copy)) return kNotTheCopy;
    const Entry e = parseEntry(name);
    const std::string gone = std::string(kGonePrefix) + e.tag + "-" + e.name;
    if (e.kind != Entry::Gone && !renameStep(RenameStep::Gone, dirFd, name, dirFd, gone)) return errno;
    const auto holds = [&] {
        return ::fstatat(dirFd, gone.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(there, st);
    };
    const auto giveBack = [&](int err) {  // nothing of it went: whole at its aside name again
        if (e.kind != Entry::Gone) putBack(RenameStep::Back, dirFd, gone, name, st);
        return err;
    };
    if (!holds()) {  // another entry was moved to the aside name meanwhile: this rename is undone
        if (e.kind != Entry::Gone) renameStep(RenameStep::Back, dirFd, gone, dirFd, name);
        return kNotTheCopy;
    }
    if (!voidNotesNaming(dirFd, gone, tag, names)) return giveBack(EPERM);
    if (!S_ISDIR(st.st_mode)) {
        if (!holds()) return kNotTheCopy;
        return ::unlinkat(dirFd, gone.c_str(), 0) == 0 ? 0 : giveBack(errno);
    }
    bool removed = false;
    const int err = removeFolderAt(dirFd, gone, std::move(fd), st, removed);
    return err && !removed ? giveBack(err) : err;
}

std::string asideName(const std::string& path) {
    const fs::path p(path);
    return (p.parent_path() / asideName(tag(), p.filename().string())).string();
}

std::string asideFor(const std::string& staging, const std::string& path) {
    const fs::path p(path);
    return (p.parent_path() / asideName(parseEntry(leaf(staging)).tag, p.filename().string())).string();
}

int removeAll(const std::string& path) {
    DirFd dir;
    std::string name;
    const int err = openParent(path, dir, name);
    return err != 0 ? err : removeAllAt(dir.get(), name);
}

bool writable(const std::string& dir) {
    DirFd fd;
    if (openDir(dir, fd, true) != 0) return false;
    const std::string probe = std::string(kProbePrefix) + tag();
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

MoveResult moveInAt(StagingLock& staging, int dir, const std::string& name, const std::string& item, bool hasOld,
                    OldCopy old, std::string& text) {
    std::string aside;
    struct stat copy {};  // the old copy, as it was before it moved aside
    if (hasOld) {
        aside = staging.asideOf(name);
        if (::fstatat(dir, name.c_str(), &copy, AT_SYMLINK_NOFOLLOW) != 0 ||
            !renameStep(RenameStep::Aside, dir, name, dir, aside)) {
            text = systemText(errno);
            return MoveResult::AsideFailed;
        }
    }
    // The old copy goes from aside after the notes of other writers that name it.
    const auto deleteAside = [&] {
        std::vector<std::string> notes;
        if (!folderNames(dir, notes)) return errno ? errno : EIO;
        notes.erase(std::remove_if(notes.begin(), notes.end(),
                                   [](const std::string& n) { return parseEntry(n).kind != Entry::Note; }),
                    notes.end());
        const int err = deleteCopyAt(dir, aside, staging.tag(), notes, &copy);
        if (err == kNotTheCopy) text = "another process put something else at " + aside + ": left alone";
        return err;
    };
    if (item.empty()) {  // a removal: the copy goes whole from aside, or back when none of it went
        const int err = aside.empty() ? 0 : deleteAside();
        if (err == 0) return MoveResult::Done;
        if (text.empty()) text = systemText(err);
        struct stat there {};  // the old copy, whole at its aside name: back to its own
        if (::fstatat(dir, aside.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(there, copy) &&
            !putBack(RenameStep::Back, dir, aside, name, copy))
            staging.keep();
        return MoveResult::MoveInFailed;
    }
    // From the staging folder this writer made and locked, by its handle: never from whatever
    // stands at its path now.
    if (!renameStep(RenameStep::In, staging.handle(), item, dir, name)) {
        text = systemText(errno);
        if (!aside.empty() && !putBack(RenameStep::Back, dir, aside, name, copy)) {
            staging.keep();
            // In a folder several accounts write, another one may have taken the name meanwhile.
            struct stat there {};
            if (::fstatat(dir, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && there.st_uid != ::geteuid())
                text += "; another account holds " + name + ", so the old copy stays aside as " + aside;
        }
        return MoveResult::MoveInFailed;
    }
    if (!aside.empty() && old == OldCopy::Goes) {
        // What is left aside keeps the note, whose old copy's identity tells the next sweep whether
        // that entry is the copy to delete (a copy this writer could not delete) or not (another's).
        const int err = deleteAside();
        if (err != 0) staging.keep();
        if (err == kNotTheCopy) return MoveResult::OldCopyLeft;
    }
    return MoveResult::Done;
}

MoveResult moveIn(StagingLock& staging, const std::string& item, const std::string& target, bool hasOld,
                  std::string& text, OldCopy old) {
    // The renames work in the folder the staging folder was made in, as it was opened then; the
    // target's folder is opened only to see that it is that one.
    DirFd dir;
    std::string name;
    const int err = openParent(target, dir, name);
    if (err != 0 || !staging.held() || !staging.in(dir.get())) {
        text = err == kLinkRefused ? refusedText(target) : systemText(err ? err : EXDEV);
        return err == kLinkRefused ? MoveResult::Refused : hasOld ? MoveResult::AsideFailed : MoveResult::MoveInFailed;
    }
    return moveInAt(staging, staging.folder(), name, item, hasOld, old, text);
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
    case MoveResult::OldCopyLeft:
        error = "moved " + what + " into " + dir + ", but the old copy is not deleted: " + text;
        return false;
    case MoveResult::Refused:
        error = text;
        return false;
    case MoveResult::Done:
        break;
    }
    return true;
}

void restoreOrRemove(int dirFd, const Sweepable& folder, const std::string& entry, bool unnoted) {
    const Entry e = parseEntry(entry);
    struct stat aside {}, there {};
    if (e.kind == Entry::Gone) {  // its deletion has begun: it is never put back, and goes by its own account
        if (::fstatat(dirFd, entry.c_str(), &aside, AT_SYMLINK_NOFOLLOW) == 0 && aside.st_uid == ::geteuid())
            deleteCopyAt(dirFd, entry, e.tag, folder.listed, &aside);
        return;
    }
    if (e.kind != Entry::Aside) {
        removeAllAt(dirFd, entry);
        return;
    }
    if (::fstatat(dirFd, entry.c_str(), &aside, AT_SYMLINK_NOFOLLOW) != 0) return;
    NoteSays note;
    const bool noted = readOwnNote(dirFd, noteName(e.tag), aside.st_uid, note) && note.copyName == e.name;
    if (noted && note.removal) {  // another entry swapped in at its aside name stays as it is
        if (note.isOld) deleteCopyAt(dirFd, entry, e.tag, folder.listed, &aside);
        return;
    }
    if (::fstatat(dirFd, e.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
        // Its name is taken: it goes only when that is its own writer's new copy (the one its note
        // names) and it is the copy that writer moved aside: another process may have swapped
        // another copy in at its aside name. With no note nothing says so, but for the manager's
        // own (unnoted), then of its owner's. Another account's entry at the name keeps it aside:
        // in a folder several accounts write, the name may have been taken from its owner.
        if (noted ? note.isCopy && note.isOld : unnoted && there.st_uid == aside.st_uid)
            deleteCopyAt(dirFd, entry, e.tag, folder.listed, &aside);
        return;
    }
    // Its name is free. A writer this sweep did not find dead is about to move its own copy in
    // there when the listing shows its aside copy of that name (live at the listing) or the name
    // taken (moved aside since by a writer that started after it): this one stays, and goes once
    // that copy is in. Else it goes back, whether its writer stopped between its renames (its
    // staging folder still holds the new copy) or its new copy went in and was removed since: no
    // leftover stays undecided. Nothing of another account's is put back.
    const auto listed = [&](const std::string& name) {
        return std::binary_search(folder.listed.begin(), folder.listed.end(), name);
    };
    if (listed(e.name)) return;
    // A live writer counts only when it may move this copy's owner's copy in: that owner's or
    // root's. Another account's would keep it aside as long as it likes.
    const auto writesFor = [&](const std::string& tag) {
        struct stat staging {};
        return ::fstatat(dirFd, stagingName(tag).c_str(), &staging, AT_SYMLINK_NOFOLLOW) != 0 ||
               staging.st_uid == aside.st_uid || staging.st_uid == 0;
    };
    for (const std::string& name : folder.listed) {
        const Entry other = parseEntry(name);
        if (other.kind == Entry::Aside && other.name == e.name && other.tag != e.tag &&
            !std::binary_search(folder.names.begin(), folder.names.end(), name) && writesFor(other.tag))
            return;
    }
    if (aside.st_uid == ::geteuid()) putBack(RenameStep::Restore, dirFd, entry, e.name, aside);
}

bool SweepClaim::take(int dirFd, const std::string& dir, const std::function<bool()>& keepWaiting) {
    path_ = joinPath(dir, std::string(kClaimName));
    lock_ = std::make_unique<FileLock>(dirFd, std::string(kClaimName), path_, keepWaiting, LockAccess::Writers);
    return lock_->held();
}

bool SweepClaim::held() const { return lock_ && lock_->held() && lock_->holdsName(); }

std::string SweepClaim::failure() const {
    if (!lock_ || !lock_->held()) return lock_ ? lock_->failure() : std::string();
    return held() ? std::string() : path_ + " was removed or replaced while this sweep held it";
}

SweepClaim::~SweepClaim() {
    if (lock_ && lock_->held()) pause(RenameStep::Unclaim);
}

bool sweepFolder(const std::string& dir, const NoteSettler& settle, const std::function<bool()>& keepWaiting,
                 std::string& error, const std::string& runningCopy) {
    DirFd fd;
    if (const int err = openDir(dir, fd)) {
        if (err == ENOENT || err == ENOTDIR) return true;  // no folder: nothing to sweep
        error = err == kLinkRefused ? refusedText(dir) : "cannot read " + dir + ": " + systemText(err);
        return false;
    }
    // A folder that cannot be listed cannot be swept: said so, before its claim is asked for.
    if (const int listed = ::openat(fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); listed >= 0) {
        ::close(listed);
    } else {
        error = "cannot read " + dir + ": " + systemText(errno);
        return false;
    }
    std::vector<std::string> notes;
    std::set<std::string> asideLeft;  // tags of aside copies still there after the sweep
    {
        SweepClaim claim;
        if (!claim.take(fd.get(), dir, keepWaiting)) {
            error = "cannot sweep " + dir + ": " + claim.failure();
            return false;
        }
        // Each change is made only while the claim counts: another writer of the folder may have
        // taken its file away, and another sweep may then hold the one at its name.
        const auto lost = [&] {
            if (claim.held()) return false;
            error = "cannot sweep " + dir + ": " + claim.failure();
            return true;
        };
        Sweepable folder;  // its held staging locks go before the claim does
        if (!sweepable(fd.get(), claim, folder)) {
            const int err = errno;
            if (!lost()) error = "cannot read " + dir + ": " + systemText(err);
            return false;
        }
        for (const std::string& name : folder.names) {
            const Entry e = parseEntry(name);
            if ((e.kind == Entry::Aside && !(e.name == runningCopy && lexistsAt(fd.get(), e.name))) ||
                e.kind == Entry::Gone) {
                if (lost()) return false;
                restoreOrRemove(fd.get(), folder, name);
            }
        }
        for (const std::string& name : folder.names) {
            const Entry e = parseEntry(name);
            if (e.kind != Entry::Note && e.kind != Entry::Aside && e.kind != Entry::Gone && name != kClaimName &&
                lost())
                return false;
            if (e.kind == Entry::Note) {
                notes.push_back(name);
            } else if (e.kind == Entry::Staging) {
                removeStagingAt(fd.get(), name);
            } else if (e.kind == Entry::Claim) {
                if (name != kClaimName) removeUnheldTemporary(fd.get(), name);
            } else if (e.kind != Entry::Aside && e.kind != Entry::Gone) {
                removeAllAt(fd.get(), name);
            } else if (lexistsAt(fd.get(), name)) {
                asideLeft.insert(e.tag);
            }
        }
    }
    // Settling waits for a receipt lock: no staging lock nor the claim is held meanwhile. Each note
    // is read by the one that decides on it, from the listing: a note written after it is never
    // removed unread. As at a start, a note stays while an aside copy of its tag does (one that
    // could not be deleted): the next sweep reads there that it was removed, and tries again.
    for (const std::string& name : notes)
        if (settle && settle(fd.get(), name) && !asideLeft.count(parseEntry(name).tag)) removeAllAt(fd.get(), name);
    return true;
}

}  // namespace detail

bool Engine::canWrite(const std::string& format) const { return detail::writable(layout.formatDir(format)); }

bool Engine::couldWrite(const std::string& format) const {
    const fs::path dir = layout.formatDir(format);
    std::error_code ec;
    fs::path there = dir;
    while (there.has_relative_path() && !fs::exists(there, ec)) there = there.parent_path();
    if (there == dir) return detail::writable(dir.string());
    return fs::is_directory(there, ec) && ::access(there.c_str(), W_OK | X_OK) == 0;
}

namespace {

// The owner of the folder path (not followed), or -1.
uid_t ownerOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_uid : uid_t(-1);
}

}  // namespace

bool Engine::sweep(std::string* error, const std::vector<Task>* tasks) {
    // The receipts are read once, the folders taken from them, and read again at the end only when
    // a start beside this job or its own settling replaced them meanwhile.
    const std::string seen = receiptsSeen();
    std::string unread;
    bool read = loadReceipt(unread);
    const std::set<std::string> changed = tasks ? changedFolders(*tasks) : std::set<std::string>{};
    recording.clear();
    if (tasks)
        for (const Task& t : *tasks)
            if (t.op == "record") recording.insert(t.id);
    // Root works only in folders of root's or of the account whose job it runs (the data folder's),
    // and beyond the layout's own folders only in those its own records or the job's tasks name:
    // another account's records may name anything.
    const bool root = detail::runningAsRoot();
    const uid_t asking = ownerOf(layout.userData());
    std::set<std::string> ownFolders{layout.appsDir()};
    for (const std::string& format : formatsHere()) ownFolders.insert(layout.formatDir(format));
    const bool ownApps = ownerOf(layout.appsReceiptFile()) == 0, ownPlugins = ownerOf(layout.receiptFile()) == 0;
    // One deadline for every claim the job waits for.
    const auto now = [] { return detail::sweepClock ? detail::sweepClock() : std::chrono::steady_clock::now(); };
    const auto until = now() + kReceiptLockWait;
    const fs::path self = fs::path(program).lexically_normal();
    const auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    for (const auto& [format, dir] : stagingFolders()) {
        const bool needed = !tasks || changed.count(dir);
        if (root) {
            const uid_t owner = ownerOf(dir);
            if (owner != 0 && owner != uid_t(-1) && owner != asking) {
                const std::string why = dir + " belongs to " + detail::accountName(owner) + ": not swept";
                if (needed) return fail(why);
                if (log) log(why);
                continue;
            }
            if (!needed && !(format == "app" ? ownApps : ownPlugins) && !ownFolders.count(dir)) continue;
        }
        const std::string sentence = waitingSentence({}, dir);
        std::function<bool()> keepOn = [] { return false; };  // a folder the job does not change: no wait
        if (needed)
            keepOn = [&, sentence] {
                return now() < until && (!waiting || waiting(sentence));
            };
        std::string why;
        // The running manager's old copy, aside since its update, stays until its next start.
        const std::string running =
            !program.empty() && self.parent_path() == fs::path(dir).lexically_normal() ? self.filename().string() : "";
        const bool swept = detail::sweepFolder(
            dir,
            // Named captures: clang 14 takes no structured binding into a lambda.
            [this, &format = format, &dir = dir](int dirFd, const std::string& name) {
                return settleNote(format, dirFd, name, kReceiptLockWait, true, dir);
            },
            keepOn, why, running);
        if (swept) continue;
        if (needed) return fail(why);
        if (log) log("not swept: " + why);
    }
    if (receiptsSeen() != seen) read = loadReceipt(unread);
    if (!read) return fail(unread);
    endLeftChanges();
    return true;
}

std::unique_ptr<JobLock> beginJob(Engine& engine, const std::string& userData, std::string& error,
                                  const std::function<bool()>& locked, const std::vector<Task>* tasks) {
    detail::keepRootUmask();
    auto lock = std::make_unique<JobLock>(engine, userData);
    if (!lock->held()) {
        error = lock->error();
        return nullptr;
    }
    // The sweep reads the receipts once, as the job's tasks start from them, and records what
    // killed jobs left noted under the receipts' own locks, which keeps them current. Until `locked` says yes the job
    // has changed nothing of its own: its waits so far may still be stopped.
    if (!engine.sweep(&error, tasks)) return nullptr;
    if (locked && !locked()) return nullptr;
    return lock;
}

}  // namespace tqm
