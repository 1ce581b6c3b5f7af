#pragma once
// An exclusive lock between the processes that rewrite the same files: a flock on a lock file only
// its owner can open, so that no other account can take it and hold them up, and a wait that ends.
// A lock not had is not held: the caller then leaves out the work it guards and says why
// (`failure`); nothing guarded is ever done without it.
#include <chrono>
#include <functional>
#include <string>

namespace tqm {

class FileLock {
public:
    // Opens (or makes, owner-only) the lock file at path, never through a link nor blocking on a pipe,
    // and waits at most `wait` for the lock. A lock file others could open, or one with a second
    // name (a hard link), is replaced, not used. A lock file this process cannot open is left as it is.
    FileLock(const std::string& path, std::chrono::milliseconds wait);
    // The same, waiting as long as keepWaiting answers true; it is asked about every 50 ms while
    // another process holds the lock.
    FileLock(const std::string& path, const std::function<bool()>& keepWaiting);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return fd_ >= 0; }
    // Why the lock is not held: "<path> is held by another process" or "cannot open <path>: <reason>".
    const std::string& failure() const { return failure_; }

private:
    int fd_ = -1;
    std::string failure_;
};

}  // namespace tqm
