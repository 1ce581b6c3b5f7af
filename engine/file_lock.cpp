#include "engine/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "engine/safe_path.h"

namespace tqm {

namespace {

int openLockFile(int dirFd, const std::string& name) {
    return ::openat(dirFd, name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
}

}  // namespace

FileLock::FileLock(const std::string& path, std::chrono::milliseconds wait) {
    detail::DirFd dir;
    std::string name;
    if (detail::openParent(path, dir, name, true) != 0) return;
    int fd = openLockFile(dir.get(), name);
    // A lock file this user cannot open (root's, left by a run under sudo) stands in the user's own
    // folder: it is replaced by one of the user's.
    if (fd < 0 && (errno == EACCES || errno == EPERM) && ::unlinkat(dir.get(), name.c_str(), 0) == 0)
        fd = openLockFile(dir.get(), name);
    if (fd < 0) return;
    // One made open to others (by an older manager) is closed to them from now on; whoever opened
    // it before still can hold it, and the bounded wait below covers that.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) ::fchmod(fd, 0600);
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            fd_ = fd;
            return;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::close(fd);
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace tqm
