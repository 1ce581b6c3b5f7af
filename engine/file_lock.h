#pragma once
// An exclusive lock between the processes that rewrite the same files: a flock on a lock file, and
// a wait that ends. A lock not had is not held: the caller then leaves out the work it guards and
// says why (`failure`); nothing guarded is ever done without it.
//
// Who may use which lock file: owner-only where only the folder's owner writes; where others may
// write, readable by all (0644), or for a lock of the folder's writers only (LockAccess::Writers,
// the install folders' sweep claim) 0660 of the folder's group where only that group writes and
// 0666 (any group) where others write. Root uses only a file of the folder's owner. A new lock file
// gets its owner and mode and its lock under a temporary name, and arrives at the name held; a file
// found there is never changed. One that may not be used is replaced only under its own lock (a
// mere reader's lock on it is not waited for), one this process cannot open once the system shows
// no lock on it; what was replaced stays under the temporary name until no lock shows on it. A
// lock counts only while its file has the name (holdsName).
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

namespace tqm {

// How often a wait for a lock asks whether to go on (a Stop is heard within it); between the asks
// it sleeps, and wakes early when a process closes the lock file, as a holder does to let go.
constexpr std::chrono::milliseconds kLockAskInterval{250};

// Who besides the folder's owner may open a lock file in a folder others may write: every account
// (Readers) or only the accounts that may write the folder (Writers).
enum class LockAccess { Readers, Writers };

class FileLock {
public:
    // Opens (or makes) the lock file at path, never through a link nor blocking on a pipe, and
    // waits at most `wait` for the lock. Whatever else holds the name (a link, a socket, a pipe, a
    // device, a file of the wrong owner or mode, or one with a second name) is replaced by a new
    // file, never opened through nor written; a folder there is not touched and fails the lock,
    // saying so. The new lock counts only once no process holds the file it replaced.
    FileLock(const std::string& path, std::chrono::milliseconds wait);
    // The same, waiting as long as keepWaiting answers true: it is asked at once and then every
    // kLockAskInterval while another process holds the lock, or while other processes keep
    // changing what has the lock file's name.
    FileLock(const std::string& path, const std::function<bool()>& keepWaiting);
    // The same for the lock file `name` of the open folder dirFd (path names it in messages).
    FileLock(int dirFd, const std::string& name, const std::string& path, const std::function<bool()>& keepWaiting,
             LockAccess access = LockAccess::Readers);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return fd_ >= 0; }
    // Whether the held lock's file still has its name: a lock counts only while it does (another
    // process may have removed or replaced it, and may then hold the file at the name).
    bool holdsName() const;
    // Not held because another process held the lock for the whole wait.
    bool busy() const { return busy_; }
    // Why the lock is not held: "<path> is held by another process" ("... by process <pid> of
    // <account>" for another account's lock file this process cannot open), "<path> is a folder,
    // not a lock file: remove it and try again", "<path> is <account>'s, which only that user or an
    // administrator can remove" (an entry at the name in a sticky folder, waited for until it
    // goes), or "cannot open <path>: <reason>".
    const std::string& failure() const { return failure_; }

private:
    void take(int dirFd, const std::string& name, const std::string& path, const std::function<bool()>& keepWaiting,
              LockAccess access);

    int fd_ = -1, dir_ = -1;  // dir_: the folder of name_, while held
    std::string name_;
    bool busy_ = false;
    std::string failure_;
};

namespace detail {
// The name of the account uid, or its number when it has none.
std::string accountName(uid_t uid);
// Removes the entry `name` of the open folder dirFd, a lock file's temporary that a taker killed
// part-way left, when it is this user's file and no process holds its lock.
void removeUnheldTemporary(int dirFd, const std::string& name);
// A seam for tests: called, when set, at each try of the lock file's name, before it is made
// (Make) and before what has the name is looked at (Look).
enum class LockFileStep { Make, Look };
extern void (*lockFileRace)(LockFileStep step);
// A seam for tests: called, when set, after each sleep of a wait with the longest it could have
// lasted (until the next ask) and whether a close of the lock file ended it early.
extern void (*lockSlept)(std::chrono::milliseconds upTo, bool woken);
}  // namespace detail

}  // namespace tqm
