#pragma once
// An exclusive lock between the processes that rewrite the same files: a flock on a lock file, and
// a wait that ends. A lock not had is not held: the caller then leaves out the work it guards and
// says why (`failure`); nothing guarded is ever done without it.
//
// Who may use which lock file. In a folder only its owner may write, the lock file is owner-only,
// so that no other account can take it and hold them up. In a folder others may write (the group
// or other write bit), every user of the folder must be able to take the same lock: lock files
// there are readable by all (0644). Root (the elevated helper) uses only a lock file of the
// folder's owner; the one it makes in a user's folder it hands to that user, and no file that was
// already there ever changes owner. A lock that only the folder's writers may take (LockAccess::
// Writers, the install folders' sweep claim) is open to exactly them: owner-only in a folder only its
// owner writes, the folder's group's too (0660) when that group may write, everyone's (0666) when
// others may.
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
    // saying so. A lock file of another user's that this process cannot open is replaced only
    // once the system shows no lock on it, and the new lock counts only once no process holds the
    // old one any more (one that opened it just before may have taken it).
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
