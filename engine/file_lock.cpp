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

constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Root makes lock files in a folder a user owns (the elevated helper in the user's data folder) as
// that user's, so that the user's own processes take the same lock; -1 when the file stays root's.
uid_t handOverTo(int dirFd, gid_t& gid) {
    struct stat folder {};
    if (!detail::runningAsRoot() || ::fstat(dirFd, &folder) != 0 || folder.st_uid == 0) return uid_t(-1);
    gid = folder.st_gid;
    return folder.st_uid;
}

// A new owner-only lock file put in the place of name (never written through whatever stood
// there); its descriptor, or -1.
int replaceLockFile(int dirFd, const std::string& name, uid_t owner, gid_t group) {
    int kept = -1;
    WriteFailure failed;
    const bool made = writeFileAtomicAt(dirFd, name, "", 0600, failed, [&](int fd) {
        if (owner != uid_t(-1)) ::fchown(fd, owner, group);
        kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    });
    if (!made && kept >= 0) {
        ::close(kept);
        kept = -1;
    }
    return kept;
}

// The lock file of the name, made new when there is none. A file this process just made is the
// only one whose owner it changes; a file that others could open or that has another name, or
// root's own in a user's folder, is replaced. -1 with errno when it cannot be had.
int openLockFile(int dirFd, const std::string& name) {
    gid_t group = 0;
    const uid_t owner = handOverTo(dirFd, group);
    for (int tries = 0; tries < 8; ++tries) {
        int fd = ::openat(dirFd, name.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            if (owner != uid_t(-1)) ::fchown(fd, owner, group);
            return fd;
        }
        if (errno != EEXIST) return -1;
        fd = ::openat(dirFd, name.c_str(), kOpenFlags);
        if (fd < 0) {
            if (errno == ENOENT) continue;  // removed meanwhile: made anew
            return -1;
        }
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && (st.st_mode & 077) == 0 &&
            !(owner != uid_t(-1) && st.st_uid == 0))
            return fd;
        ::close(fd);
        return replaceLockFile(dirFd, name, owner, group);
    }
    errno = EAGAIN;
    return -1;
}

// True when fd is still the file named name in the folder.
bool stillNamed(int dirFd, const std::string& name, int fd) {
    struct stat held {}, named {};
    return ::fstat(fd, &held) == 0 && ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

FileLock::FileLock(const std::string& path, std::chrono::milliseconds wait)
    : FileLock(path, [until = std::chrono::steady_clock::now() + wait] {
          return std::chrono::steady_clock::now() < until;
      }) {}

FileLock::FileLock(const std::string& path, const std::function<bool()>& keepWaiting) {
    detail::DirFd dir;
    std::string name;
    if (const int err = detail::openParent(path, dir, name, true)) {
        failure_ = "cannot open " + path + ": " +
                   (err == detail::kLinkRefused ? detail::refusedText(path) : detail::systemText(err));
        return;
    }
    auto nextAsk = std::chrono::steady_clock::now();
    for (;;) {
        // A file this process cannot open (another user's in a folder both may write) is never
        // removed: whoever made it may be using it.
        const int fd = openLockFile(dir.get(), name);
        if (fd < 0) {
            failure_ = "cannot open " + path + ": " + detail::systemText(errno);
            return;
        }
        bool locked = false;
        for (;;) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                locked = true;
                break;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) break;
            const auto now = std::chrono::steady_clock::now();
            if (now >= nextAsk) {
                if (!keepWaiting()) break;
                nextAsk = now + std::chrono::milliseconds(50);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        // The file may have been replaced meanwhile (by another process that found it open to
        // others): the lock counts only on the file that has the name.
        if (locked && stillNamed(dir.get(), name, fd)) {
            fd_ = fd;
            failure_.clear();
            return;
        }
        ::close(fd);
        failure_ = path + " is held by another process";
        if (!locked) return;
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace tqm
