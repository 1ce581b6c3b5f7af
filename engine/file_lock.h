#pragma once
// An exclusive lock between the processes of this user that rewrite the same files: a flock on a
// lock file only its owner can open, so that no other account can take it and hold them up, and a
// wait that ends. A lock not had within the wait is not held: the caller then leaves out the work it
// guards (or does it unguarded, where that loses nothing).
#include <chrono>
#include <string>

namespace tqm {

class FileLock {
public:
    // Opens (or makes, owner-only) the lock file at path, never through a link nor blocking on a pipe,
    // and waits at most `wait` for the lock. A lock file others could open is replaced, not used.
    FileLock(const std::string& path, std::chrono::milliseconds wait);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace tqm
