#pragma once
// Helpers shared by the engine's operations that change install folders: temporary names,
// removal that never follows links, the staging folders' locks, and the writability probe.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engine/receipt.h"
#include "engine/safe_path.h"

namespace tqm::detail {

// Whether the entry name of the open folder dirFd exists (a link is not followed); true when
// that cannot be told.
bool lexistsAt(int dirFd, const std::string& name);

// 32 random bits from /dev/urandom as exactly eight lower-case hexadecimal digits.
std::string tag();

// dir/.tqm-staging-<tag>; nothing is created.
std::string stagingDir(const std::string& dir);

// A writer's staging folder ".tqm-staging-<tag>" in an install folder, and its lock (an flock on
// the folder), which guards every entry of that tag there: the staging folder, the aside copy
// ".tqm-old-<tag>-<name>" and the note ".tqm-record-<tag>" with its temporary. A writer makes it
// before the first of them and holds it until the last is gone; the object removes the staging
// folder last, then lets the lock go. A sweep removes or restores the entries of a tag only while
// it holds that lock, and never enters those of a tag whose lock another process holds. The lock
// follows the install folder, whichever data folder, user or helper the writer and sweep run for.
class StagingLock {
public:
    StagingLock() = default;
    StagingLock(StagingLock&&) = default;
    StagingLock& operator=(StagingLock&&) = delete;
    ~StagingLock();

    // A writer's: makes a new staging folder (owner-only) in the folder dir under a fresh tag and
    // locks it; false with "cannot create <dir>/.tqm-staging-...: <system text>" or the refusal.
    bool make(const std::string& dir, std::string& error);
    // The same in an open folder; 0 or a system error number.
    int makeAt(int dirFd);
    // A sweep's: locks the staging folder `name` of the open folder dirFd without waiting; false
    // when another process holds it, or it cannot be opened, or is no longer the folder of that name.
    bool take(int dirFd, const std::string& name);

    bool held() const { return lock_.get() >= 0; }
    const std::string& tag() const { return tag_; }
    // The writer's staging folder, dir/.tqm-staging-<tag>.
    const std::string& path() const { return path_; }
    // Whether the staging folder lies in the open folder dirFd.
    bool in(int dirFd) const;
    // The aside name of the entry `name` of the staging folder's folder: ".tqm-old-<tag>-<name>".
    std::string asideOf(const std::string& name) const;
    // The writer's staging folder stays on disk when the lock goes (for the next sweep).
    void keep() { keep_ = true; }

private:
    int lockAt(int dirFd, const std::string& name);  // 0 or a system error number

    DirFd folder_, lock_;  // folder_: the folder that holds a writer's staging folder
    std::string tag_, path_;
    bool keep_ = false;
};

// The ".tqm-" entries of the open folder dirFd that a sweep may touch: those of a tag whose
// staging folder is gone (its writer finished or died), the staging folders it could lock (held
// keeps their locks) and the entries of their tags, and entries of no tag. The entries of a tag
// whose staging folder it cannot lock are left out. False when the folder cannot be listed.
bool sweepable(int dirFd, std::vector<std::string>& names, std::vector<StagingLock>& held);

// <parent>/.tqm-old-<tag>-<name> for <parent>/<name>; nothing is created.
std::string asideName(const std::string& path);

// The same with the tag of the staging folder (a stagingDir name) whose copy replaces path: the
// sweep puts such an old copy back only while its own staging folder is there.
std::string asideFor(const std::string& staging, const std::string& path);

// Removes path and everything below it without following any link; errors are ignored. Answers
// how its folder opened: 0, a system error number, or kLinkRefused (engine/safe_path.h).
int removeAll(const std::string& path);

// The same for the entry name of an open folder.
void removeAllAt(int parentFd, const std::string& name);

// Removes an item a receipt records (remove.cpp): it is moved aside, then deleted, within its
// folder, reached from `managed` (the folder that holds the maker's folder) when path lies below
// it, else from the folder that holds path's maker's folder (inMakersFolder) or path's folder; no
// folder after that one is passed through a link, so a damaged record cannot reach what lies
// outside. The aside name carries the tag of guard when guard lies in that folder, else of a
// staging folder of its own made there. Answers 0, a system error number, or kLinkRefused, with
// error said.
int removeRecorded(const std::string& managed, const std::string& path, bool inMakersFolder, std::string& error,
                   const StagingLock* guard = nullptr);

// True when files can be created in dir (made with its parents when missing); leaves no probe.
bool writable(const std::string& dir);

// Creates dir with its parents; false with "cannot create <dir>: <system text>".
bool createFolder(const std::string& dir, std::string& error);

// The renames that replace or remove an item: the old copy moved aside, the new copy moved in,
// the old copy put back when the new one cannot move in, and the sweep's restoring of an old
// copy an interrupted install left aside.
enum class RenameStep { Aside, In, Back, Restore };

// Fault seam for tests: when set, it is asked before each of those renames, and a non-zero
// answer fails the rename with that error number instead of doing it.
extern int (*renameFault)(RenameStep step);

// renameat for one of those steps; false with errno set.
bool renameStep(RenameStep step, int fromDir, const std::string& from, int toDir, const std::string& to);

enum class MoveResult { Done, AsideFailed, MoveInFailed, Refused };

// Puts the unpacked staging/item at target: an old copy there (hasOld) is first renamed to an
// aside name (asideFor) and renamed back when the new copy cannot move in. On success the aside
// copy is removed (the staging folder goes with its lock, last). On failure text holds the
// system's error text; when the old copy could not be put back, the staging folder is kept beside
// the aside copy so that the next sweep restores the old copy instead of deleting it. Refused:
// root would have passed a link the user can change (text says so).
MoveResult moveIn(StagingLock& staging, const std::string& item, const std::string& target, bool hasOld,
                  std::string& text);

// moveIn with its failure put in words for the user: "cannot move the old <what> aside (<system
// text>): <busyHint>", "cannot move <what> into <dir>: <system text>", or the refusal. True when
// the new copy is in place.
bool moveInOrSay(StagingLock& staging, const std::string& item, const std::string& target, bool hasOld,
                 const std::string& what, const std::string& dir, const std::string& busyHint, std::string& error);

// Notes, beside the staging folder (".tqm-record-<tag>"), what the install of staging/item records
// once that copy is in place; answers the note's path, empty when it could not be written. The
// install drops the note once its receipt is saved (or it failed); a note left by a kill is read by
// Engine::settleInstalls of the data folder whose receipt is receiptFile (the note names it).
std::string notePending(const std::string& staging, const std::string& item, const std::string& id,
                        const std::string& format, const InstalledFormat& rec, int64_t sequence,
                        const std::string& receiptFile);
void dropNote(const std::string& note);

// Notes, beside the removal's staging folder guard in the format's folder, that the removal of the
// copy at path (of id and format, whose record names `recorded`) is about to start; answers the
// note's path, empty when it could not be written. The removal drops it once its receipt is saved;
// a note left by a kill is read by Engine::settleInstalls.
std::string noteRemoval(const StagingLock& guard, const std::string& id, const std::string& format,
                        const std::string& path, const std::string& recorded, const std::string& receiptFile);

// One sweep of a folder: leftovers of interrupted jobs (the ".tqm-" names sweepable answers) are
// removed, except that an old copy moved aside for an install that never moved its new copy in
// (its staging folder, of the same tag, still holds the new copy, and its name is free) is put
// back under its own name. The notes named in keep stay (their record is still to be made).
void sweepFolder(const std::string& dir, const std::set<std::string>& keep = {});

}  // namespace tqm::detail
