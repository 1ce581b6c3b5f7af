#include "engine/file_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <thread>

#include "engine/atomic_write.h"
#include "engine/safe_path.h"

namespace tqm {

namespace {

constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// Tries of the lock file's name that found it changed, before further tries wait as a lock does.
constexpr int kQuickTries = 8;

using Clock = std::chrono::steady_clock;

// The folder a lock file lies in, as far as it decides who may use which file.
struct Folder {
    int fd = -1;
    uid_t owner = 0;
    gid_t group = 0;
    bool shared = false;    // others may write in it: its lock files are open to more than its owner
    bool writers = false;   // only the accounts that may write it may open its lock files
    mode_t mode = 0600;     // the lock files' mode
    bool sticky = false;    // only an entry's owner (or the folder's, or root) may replace it
    bool handOver = false;  // root in a user's folder: the files root makes are the owner's
};

Folder folderOf(int dirFd, LockAccess access) {
    Folder f;
    f.fd = dirFd;
    f.writers = access == LockAccess::Writers;
    struct stat st {};
    if (::fstat(dirFd, &st) != 0) return f;
    f.owner = st.st_uid;
    f.group = st.st_gid;
    f.shared = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (f.shared) f.mode = !f.writers ? 0644 : (st.st_mode & S_IWOTH) ? 0666 : 0660;
    f.sticky = (st.st_mode & S_ISVTX) != 0 && !detail::runningAsRoot() && st.st_uid != ::geteuid();
    f.handOver = detail::runningAsRoot() && st.st_uid != 0;
    return f;
}

// A file this process has just made, given the owner and mode the folder asks for.
void giveOut(int fd, const Folder& f) {
    // A writers' lock goes to the folder's group, whose members may write it; one that cannot be
    // given that group stays owner-only (the others replace it once it is free).
    const bool grouped = f.handOver ? ::fchown(fd, f.owner, f.group) == 0
                                    : !f.writers || !(f.mode & 070) || ::fchown(fd, uid_t(-1), f.group) == 0;
    if (f.shared) ::fchmod(fd, grouped ? f.mode : 0600);  // the umask would have cut it
}

// Whether a lock file found at the name may be used as it is.
bool usable(const struct stat& st, const Folder& f) {
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1) return false;
    if (detail::runningAsRoot() && st.st_uid != f.owner) return false;
    if (f.writers) return (st.st_mode & 0777 & ~f.mode) == 0 && (!(st.st_mode & 070) || st.st_gid == f.group);
    return f.shared || (st.st_mode & 077) == 0;
}

// Whether the system shows a lock on the file: 1 yes (holder: the holding process, 0 when not
// shown), 0 no, -1 it cannot tell. "/proc/locks" names each file as "major:minor:inode" (the
// device numbers in hexadecimal) after the holder's process id; a line with "->" is a process
// waiting for a lock, not one holding it.
int lockedNow(const struct stat& st, pid_t* holder = nullptr) {
    const int fd = ::open("/proc/locks", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    std::string all;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return -1;
        }
        if (n == 0) break;
        all.append(buf, size_t(n));
    }
    ::close(fd);
    std::istringstream lines(all);
    std::string line, word;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        bool match = false, waiter = false;
        std::string before;
        pid_t pid = 0;
        while (words >> word) {
            unsigned maj = 0, min = 0;
            unsigned long long ino = 0;
            int used = 0;
            if (word == "->") {
                waiter = true;
            } else if (!match && std::sscanf(word.c_str(), "%x:%x:%llu%n", &maj, &min, &ino, &used) == 3 &&
                       size_t(used) == word.size()) {
                match = maj == major(st.st_dev) && min == minor(st.st_dev) && ino == st.st_ino;
                pid = pid_t(std::atol(before.c_str()));
            }
            before = word;
        }
        if (match && !waiter) {
            if (holder) *holder = pid > 0 ? pid : 0;
            return 1;
        }
    }
    return 0;
}

// A new lock file put in the place of name (never written through whatever stood there): made
// under a temporary name, then exchanged with what has the name, so that what it replaced is
// known (replaced; st_ino 0 when the name was free), whatever came there after it was looked at.
// Its descriptor, or -1 with errno.
int replaceLockFile(const Folder& f, const std::string& name, struct stat& replaced) {
    replaced = {};
    int kept = -1, err = 0;
    const std::string temp = detail::tempNameFor(name);
    if (!detail::writeNewFile(f.fd, temp, "", 0600, err, [&](int fd) {
            giveOut(fd, f);
            kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        }, false) || kept < 0) {
        if (kept >= 0) ::close(kept);
        errno = err > 0 ? err : EACCES;
        return -1;
    }
    bool swapped = ::renameat2(f.fd, temp.c_str(), f.fd, name.c_str(), RENAME_EXCHANGE) == 0;
    err = swapped ? 0 : errno;
    if (swapped && ::fstatat(f.fd, temp.c_str(), &replaced, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(replaced.st_mode)) {
        // A folder came to the name meanwhile: it goes back, and stays.
        ::renameat2(f.fd, temp.c_str(), f.fd, name.c_str(), RENAME_EXCHANGE);
        swapped = false;
        err = EISDIR;
    } else if (!swapped && (err == ENOENT || err == EINVAL || err == ENOSYS)) {
        // The name was free, or the file system cannot exchange: a plain rename.
        replaced = {};
        err = ::renameat(f.fd, temp.c_str(), f.fd, name.c_str()) == 0 ? 0 : errno;
    }
    if (err != 0) {
        ::unlinkat(f.fd, temp.c_str(), 0);
        ::close(kept);
        errno = err;
        return -1;
    }
    if (swapped) ::unlinkat(f.fd, temp.c_str(), 0);  // what stood at the name (never a folder), unfollowed
    return kept;
}

// The calling thread's inotify instance, made at its first wait and kept until the thread ends:
// closing one waits for the system to let go of its watches, milliseconds a lock would be late.
int threadNotify() {
    struct Notify {
        int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ~Notify() {
            if (fd >= 0) ::close(fd);
        }
    };
    thread_local const Notify notify;
    return notify.fd;
}

// Wakes a sleeper when a process closes the file: a holder lets go of its lock by closing it (or
// by ending). fd() is -1 when the system cannot watch it; the sleeper then wakes only at its asks.
class Closes {
public:
    explicit Closes(int file) {
        const int notify = threadNotify();
        const std::string self = "/proc/self/fd/" + std::to_string(file);
        watch_ = notify >= 0 ? ::inotify_add_watch(notify, self.c_str(), IN_CLOSE) : -1;
        if (watch_ >= 0) fd_ = notify;
        drain();
    }
    ~Closes() {
        if (fd_ < 0) return;
        ::inotify_rm_watch(fd_, watch_);
        drain();
    }
    Closes(const Closes&) = delete;
    Closes& operator=(const Closes&) = delete;

    int fd() const { return fd_; }
    void drain() const {
        char buf[4096];
        while (fd_ >= 0 && ::read(fd_, buf, sizeof buf) > 0) {
        }
    }

private:
    int fd_ = -1, watch_ = -1;
};

}  // namespace

namespace detail {
std::string accountName(uid_t uid) {
    struct passwd pw {}, *found = nullptr;
    char buf[4096];
    if (::getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found && found->pw_name) return found->pw_name;
    return "user " + std::to_string(uid);
}

void (*lockFileRace)(LockFileStep step) = nullptr;
void (*lockSlept)(std::chrono::milliseconds upTo, bool woken) = nullptr;
}  // namespace detail

namespace {

// A wait: keepWaiting is asked when it begins and then once every kLockAskInterval, and the waiter
// sleeps between the asks (woken early by a close of the file it waits on), so that a wait of
// minutes costs a few wake-ups a second, not hundreds.
class Waiter {
public:
    explicit Waiter(const std::function<bool()>& keepWaiting) : keepWaiting_(keepWaiting) {}

    // Whether to go on; keepWaiting is asked when an ask is due.
    bool goOn() {
        if (Clock::now() < nextAsk_) return true;
        slept_ = false;
        if (!keepWaiting_()) return false;
        nextAsk_ = Clock::now() + kLockAskInterval;
        return true;
    }
    // goOn, then a sleep until the next ask or, with closes, until a process closes the file.
    bool pause(const Closes* closes = nullptr) {
        woken_ = false;
        if (!goOn()) return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(nextAsk_ - Clock::now());
        if (left.count() <= 0) return true;
        bool woken = false;
        if (!closes || closes->fd() < 0) {
            std::this_thread::sleep_for(left);
        } else {
            // A close heard by the time the caller answered needs no sleep, nor a second ask.
            pollfd p{closes->fd(), POLLIN, 0};
            if (::poll(&p, 1, 0) > 0) {
                closes->drain();
                return woken_ = true;
            }
            woken = ::poll(&p, 1, int(left.count())) > 0;
            if (woken) closes->drain();
        }
        woken_ = woken;
        slept_ = true;
        if (detail::lockSlept) detail::lockSlept(left, woken);
        return true;
    }
    // Whether the last sleep ended on a close.
    bool woken() const { return woken_; }
    // Sleeps for nap when that ends before the next ask is due; false (no sleep) otherwise.
    bool napBeforeAsk(std::chrono::milliseconds nap) {
        if (Clock::now() + nap >= nextAsk_) return false;
        std::this_thread::sleep_for(nap);
        slept_ = true;
        return true;
    }
    // Whether what a wait has come to may be taken: a caller that has slept since its last ask
    // is asked again (it may have been stopped meanwhile), so that nothing begins after a no.
    bool stillWanted() {
        if (!slept_) return true;
        nextAsk_ = Clock::now();
        return goOn();
    }

private:
    const std::function<bool()>& keepWaiting_;
    Clock::time_point nextAsk_ = Clock::now();
    bool slept_ = false, woken_ = false;
};

// What opening the lock file came to.
struct Opened {
    int fd = -1;
    int err = 0;          // without fd: the system's error, unless why says more
    std::string why;      // without fd: a sentence of its own
    bool inUse = false;   // without fd: another user's file, which a process holds
    pid_t holder = 0;     // with inUse: that process, when the system shows it
    bool stuck = false;   // without fd: another user's entry this process may not replace
    bool aside = false;   // with fd: another user's file was replaced, which a process may hold
    struct stat old {};   // that file (with stuck: the entry that stays)
};

Opened failed(int err) {
    Opened o;
    o.err = err;
    return o;
}

// The lock file of the name, made new when there is none or what is there may not be used. A
// file another user made and this process cannot open is replaced only when no lock is on it.
Opened openLockFile(const Folder& f, const std::string& name, const std::string& path, Waiter& wait) {
    // The name changed between two looks (another process replaced or removed the file): tried
    // again at once a few times, then as a wait, while the caller lets it go on.
    for (int tries = 0;; ++tries) {
        if (tries >= kQuickTries && !wait.pause()) return failed(EAGAIN);
        if (detail::lockFileRace) detail::lockFileRace(detail::LockFileStep::Make);
        int fd = ::openat(f.fd, name.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            giveOut(fd, f);
            Opened o;
            o.fd = fd;
            return o;
        }
        if (errno != EEXIST) return failed(errno);
        // Only a regular file is opened: a device or a pipe is replaced unopened.
        struct stat st {};
        if (detail::lockFileRace) detail::lockFileRace(detail::LockFileStep::Look);
        if (::fstatat(f.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            return failed(errno);
        }
        if (S_ISDIR(st.st_mode)) {
            Opened o;
            o.why = path + " is a folder, not a lock file: remove it and try again";
            return o;
        }
        fd = S_ISREG(st.st_mode) ? ::openat(f.fd, name.c_str(), kOpenFlags) : -1;
        const int err = S_ISREG(st.st_mode) ? errno : 0;
        if (fd < 0 && err == ENOENT) continue;
        if (fd >= 0 && ::fstat(fd, &st) == 0 && usable(st, f)) {
            // One's own file narrower than the folder asks is opened to the others who may use it.
            if (f.shared && st.st_uid == ::geteuid() && (f.writers ? (st.st_mode & 0777) != f.mode : (st.st_mode & 077) == 0))
                ::fchmod(fd, f.mode);
            Opened o;
            o.fd = fd;
            return o;
        }
        if (fd >= 0) ::close(fd);
        Opened o;
        if (fd < 0 && S_ISREG(st.st_mode)) {
            // Left by another user's job, which may still be running: never taken from it.
            const int held = err == EACCES ? lockedNow(st, &o.holder) : -1;
            if (held < 0) return failed(err);
            if (held > 0) {
                o.inUse = true;
                return o;
            }
            o.aside = true;
            o.old = st;
        }
        struct stat replaced {};
        o.fd = replaceLockFile(f, name, replaced);
        if (o.fd < 0) {
            o.err = errno;
            // In a sticky folder only that user or an administrator can remove it: it is waited
            // for as a held lock is, and the name is tried again once it has gone.
            o.stuck = f.sticky && st.st_uid != ::geteuid() && (o.err == EPERM || o.err == EACCES);
            o.old = st;
            return o;
        }
        // What was replaced is not what was looked at: another process put its lock file there
        // meanwhile, and may hold it. Its lock is waited for as any holder's.
        if (S_ISREG(replaced.st_mode) && (replaced.st_dev != st.st_dev || replaced.st_ino != st.st_ino)) {
            o.aside = true;
            o.old = replaced;
        }
        return o;
    }
}

// True when fd is still the file named name in the folder.
bool stillNamed(int dirFd, const std::string& name, int fd) {
    struct stat held {}, named {};
    return ::fstat(fd, &held) == 0 && ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

FileLock::FileLock(const std::string& path, std::chrono::milliseconds wait)
    : FileLock(path, [until = Clock::now() + wait] { return Clock::now() < until; }) {}

FileLock::FileLock(const std::string& path, const std::function<bool()>& keepWaiting) {
    detail::DirFd dir;
    std::string name;
    if (const int err = detail::openParent(path, dir, name, true)) {
        failure_ = "cannot open " + path + ": " +
                   (err == detail::kLinkRefused ? detail::refusedText(path) : detail::systemText(err));
        return;
    }
    take(dir.get(), name, path, keepWaiting, LockAccess::Readers);
}

FileLock::FileLock(int dirFd, const std::string& name, const std::string& path,
                   const std::function<bool()>& keepWaiting, LockAccess access) {
    take(dirFd, name, path, keepWaiting, access);
}

namespace {

// Who holds a lock this process cannot look at: the process the system shows, and its account.
std::string heldBy(const std::string& path, pid_t pid) {
    struct stat st {};
    if (pid <= 0 || ::stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0)
        return path + " is held by another process";
    return path + " is held by process " + std::to_string(pid) + " of " + detail::accountName(st.st_uid);
}

}  // namespace

void FileLock::take(int dirFd, const std::string& name, const std::string& path,
                    const std::function<bool()>& keepWaiting, LockAccess access) {
    const Folder folder = folderOf(dirFd, access);
    const std::string busy = path + " is held by another process";
    Waiter wait(keepWaiting);
    for (;;) {
        const Opened got = openLockFile(folder, name, path, wait);
        if (got.inUse || got.stuck) {  // another user's lock file that is held, or its entry: waited for
            if (wait.pause()) continue;
            busy_ = got.inUse;
            failure_ = got.inUse ? heldBy(path, got.holder)
                                 : path + " is " + detail::accountName(got.old.st_uid) +
                                       "'s, which only that user or an administrator can remove";
            return;
        }
        if (got.fd < 0) {
            failure_ = got.why.empty() ? "cannot open " + path + ": " + detail::systemText(got.err) : got.why;
            return;
        }
        const int fd = got.fd;
        bool locked = false;
        int lockErr = 0;
        {
            std::optional<Closes> closes;  // watched only once the lock has to be waited for
            for (std::chrono::milliseconds nap{0};;) {
                if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                    locked = true;
                    break;
                }
                lockErr = errno;
                if (lockErr != EWOULDBLOCK && lockErr != EINTR) break;
                if (!closes) closes.emplace(fd);
                // The system tells of a close a moment before it lets go of that file's locks: a
                // waiter woken by one tries again after short, growing naps until its next ask.
                if (nap.count() > 0 && wait.napBeforeAsk(nap)) {
                    nap *= 2;
                    continue;
                }
                if (!wait.pause(&*closes)) break;
                nap = std::chrono::milliseconds(wait.woken() ? 1 : 0);
            }
        }
        // A job that opened the file this one replaced may hold that file's lock: it is waited
        // for as any holder. And the file may have been replaced meanwhile (by another process
        // that found it open to others): the lock counts only on the file that has the name.
        if (locked) {
            bool free = true;
            while (free && got.aside && lockedNow(got.old) > 0) free = wait.pause();
            const bool named = free && stillNamed(dirFd, name, fd);
            if (named && wait.stillWanted()) {
                fd_ = fd;
                failure_.clear();
                return;
            }
            ::close(fd);
            // Another file has the name now: it is tried while the caller lets the wait go on.
            if (free && !named && wait.goOn()) continue;
            lockErr = EWOULDBLOCK;
        } else {
            ::close(fd);
        }
        busy_ = lockErr == EWOULDBLOCK || lockErr == EINTR;
        failure_ = busy_ ? busy : "cannot lock " + path + ": " + detail::systemText(lockErr);
        return;
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace tqm
