#include "engine/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "engine/atomic_write.h"
#include "engine/safe_path.h"

namespace tqm {

namespace {

int openLockFile(int dirFd, const std::string& name) {
    return ::openat(dirFd, name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
}

// A new owner-only lock file put in the place of name; its descriptor, or -1.
int replaceLockFile(int dirFd, const std::string& name) {
    int kept = -1;
    WriteFailure failed;
    if (!writeFileAtomicAt(dirFd, name, "", 0600, failed, [&](int fd) { kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0); })) {
        if (kept >= 0) ::close(kept);
        return -1;
    }
    return kept;
}

// True when fd is still the file named name in the folder.
bool stillNamed(int dirFd, const std::string& name, int fd) {
    struct stat held {}, named {};
    return ::fstat(fd, &held) == 0 && ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

FileLock::FileLock(const std::string& path, std::chrono::milliseconds wait) {
    detail::DirFd dir;
    std::string name;
    if (detail::openParent(path, dir, name, true) != 0) return;
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        int fd = openLockFile(dir.get(), name);
        // A lock file this user cannot open (root's, left by a run under sudo) stands in the user's
        // own folder: it is replaced by one of the user's.
        if (fd < 0 && (errno == EACCES || errno == EPERM) && ::unlinkat(dir.get(), name.c_str(), 0) == 0)
            fd = openLockFile(dir.get(), name);
        if (fd < 0) return;
        // One that others could open (made so by an older manager) is never used: whoever opened it
        // then may hold its lock for good. A new owner-only file takes its name.
        struct stat st {};
        if (::fstat(fd, &st) != 0 || (st.st_mode & 077) != 0) {
            ::close(fd);
            fd = replaceLockFile(dir.get(), name);
            if (fd < 0) return;
        }
        // Root's lock file in a folder a user owns (the elevated helper in the user's data folder)
        // is that user's, so that the user's own processes take the same lock instead of
        // replacing a file they cannot open.
        struct stat folder {};
        if (detail::runningAsRoot() && ::fstat(fd, &st) == 0 && st.st_uid == 0 && ::fstat(dir.get(), &folder) == 0 &&
            folder.st_uid != 0)
            ::fchown(fd, folder.st_uid, folder.st_gid);
        bool locked = false;
        for (;;) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                locked = true;
                break;
            }
            if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= until) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        // The file may have been replaced meanwhile (by another process of this user that found it
        // open to others): the lock counts only on the file that has the name.
        if (locked && stillNamed(dir.get(), name, fd)) {
            fd_ = fd;
            return;
        }
        ::close(fd);
        if (!locked || std::chrono::steady_clock::now() >= until) return;
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace tqm
