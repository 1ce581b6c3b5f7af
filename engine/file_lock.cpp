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
    mode_t dirMode = 0;     // its own mode
};

Folder folderOf(int dirFd, LockAccess access) {
    Folder f;
    f.fd = dirFd;
    f.writers = access == LockAccess::Writers;
    struct stat st {};
    if (::fstat(dirFd, &st) != 0) return f;
    f.owner = st.st_uid;
    f.group = st.st_gid;
    f.dirMode = st.st_mode;
    f.shared = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (f.shared) f.mode = !f.writers ? 0644 : (st.st_mode & S_IWOTH) ? 0666 : 0660;
    f.sticky = (st.st_mode & S_ISVTX) != 0 && !detail::runningAsRoot() && st.st_uid != ::geteuid();
    f.handOver = detail::runningAsRoot() && st.st_uid != 0;
    return f;
}

// A file this process has just made, given the owner and mode the folder asks for. Only a writers'
// lock open to the group alone needs the folder's group; one its maker cannot give that group
// stays owner-only (the others replace it once it is free).
void giveOut(int fd, const Folder& f) {
    const bool grouped = f.handOver ? ::fchown(fd, f.owner, f.group) == 0
                                    : f.mode != 0660 || ::fchown(fd, uid_t(-1), f.group) == 0;
    ::fchmod(fd, grouped ? f.mode : 0600);  // the umask would have cut it
}

// Whether a lock file found at the name may be used as it is: a file of its own (one name), of the
// folder's owner for root, and of exactly the folder's mode (a group-only one of its group).
bool usable(const struct stat& st, const Folder& f) {
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1) return false;
    if (detail::runningAsRoot() && st.st_uid != f.owner) return false;
    if (!f.shared) return (st.st_mode & 077) == 0;
    if (!f.writers) return (st.st_mode & 0444) == 0444;
    return (st.st_mode & 0777) == f.mode && (f.mode != 0660 || st.st_gid == f.group);
}

// The text of a file of /proc (whose size says nothing); false when it cannot be read.
bool readProc(const std::string& path, std::string& all) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return n == 0;
        }
        all.append(buf, size_t(n));
    }
}

// Whether the system shows the process pid to be of an account that may write the folder (its
// owner, root, a member of its group where the group may write, anyone where others may); true
// when that cannot be told.
bool mayWrite(pid_t pid, const Folder& f) {
    std::string status;
    if (pid <= 0 || !readProc("/proc/" + std::to_string(pid) + "/status", status)) return true;
    std::istringstream lines(status);
    std::string line, key;
    unsigned long real = 0, effective = 0;  // "Uid:" and "Gid:" list real, effective, saved and file ids
    bool uid = false, member = false;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        words >> key;
        if (key == "Uid:") {
            uid = bool(words >> real >> effective);
            if (uid && (effective == 0 || effective == f.owner)) return true;
        } else if (key == "Gid:" || key == "Groups:") {
            if (key == "Gid:") words >> real;  // the real group decides nothing
            for (unsigned long g; words >> g;) member = member || g == f.group;
        }
    }
    return !uid || (f.dirMode & S_IWOTH) || ((f.dirMode & S_IWGRP) && member);
}

// Whether the system shows a lock on the file: 1 yes (holder: the holding process, 0 when not
// shown), 0 no, -1 it cannot tell. "/proc/locks" names each file as "major:minor:inode" (the
// device numbers in hexadecimal) after the holder's process id; a line with "->" is a process
// waiting for a lock, not one holding it.
int lockedNow(const struct stat& st, pid_t* holder = nullptr) {
    std::string all;
    if (!readProc("/proc/locks", all)) return -1;
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

// Whether the system shows the file locked by a process that may not write the folder: a mere
// reader, which only a lock file more open than the folder asks let in. Its lock is not waited for.
bool readerHolds(const struct stat& st, const Folder& f) {
    pid_t holder = 0;
    return lockedNow(st, &holder) > 0 && !mayWrite(holder, f);
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

// Waits for the lock of fd as wait allows: 0 once held, else the system's error (EWOULDBLOCK:
// another process held it for the whole wait).
int lockWait(int fd, Waiter& wait) {
    std::optional<Closes> closes;  // watched only once the lock has to be waited for
    for (std::chrono::milliseconds nap{0};;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
        const int err = errno;
        if (err != EWOULDBLOCK && err != EINTR) return err;
        if (!closes) closes.emplace(fd);
        // The system tells of a close a moment before it lets go of that file's locks: a waiter
        // woken by one tries again after short, growing naps until its next ask.
        if (nap.count() > 0 && wait.napBeforeAsk(nap)) {
            nap *= 2;
            continue;
        }
        if (!wait.pause(&*closes)) return EWOULDBLOCK;
        nap = std::chrono::milliseconds(wait.woken() ? 1 : 0);
    }
}

// What a try of the lock file's name came to.
struct Opened {
    int fd = -1;
    bool made = false;     // fd: a new file this process put at the name, already locked
    bool replace = false;  // fd: the file at the name, which may be opened but not used
    int err = 0;           // without fd: the system's error (EISDIR: a folder has the name)
    bool inUse = false;    // without fd: another user's file, which a process holds
    pid_t holder = 0;      // with inUse: that process, when the system shows it
    bool stuck = false;    // without fd: another user's entry this process may not replace
    struct stat old {};    // with stuck: the entry that stays
};

Opened failed(int err) {
    Opened o;
    o.err = err;
    return o;
}

// A new lock file of the folder's owner and mode at a temporary name beside name, locked: it
// arrives at the name already held. Its descriptor, or -1 with errno.
int makeLocked(const Folder& f, const std::string& temp) {
    int kept = -1, err = 0;
    if (!detail::writeNewFile(f.fd, temp, "", 0600, err, [&](int fd) {
            giveOut(fd, f);
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        }, false) || kept < 0) {
        if (kept >= 0) ::close(kept);
        ::unlinkat(f.fd, temp.c_str(), 0);
        errno = err > 0 ? err : EAGAIN;  // a sweep took the new temporary: tried again
        return -1;
    }
    return kept;
}

// What an exchange put at the temporary name temp: removed once no process holds its lock. Until
// then it stays there, so that no other file takes its inode number, by which the system shows
// its lock; heldFd is the descriptor of it that this process holds, if any. False when the wait
// was given up: it stays for a later sweep of its owner.
bool retire(const Folder& f, const std::string& temp, int heldFd, Waiter& wait) {
    struct stat st {}, held {};
    if (::fstatat(f.fd, temp.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
    bool free = !S_ISREG(st.st_mode) || (heldFd >= 0 && ::fstat(heldFd, &held) == 0 && held.st_dev == st.st_dev &&
                                         held.st_ino == st.st_ino);
    if (!free && !readerHolds(st, f)) {
        const int fd = ::openat(f.fd, temp.c_str(), kOpenFlags);
        if (fd >= 0) {
            free = lockWait(fd, wait) == 0;
            if (free) ::unlinkat(f.fd, temp.c_str(), 0);
            ::close(fd);
            return free;
        }
        while (!(free = lockedNow(st) == 0))
            if (!wait.pause()) return false;
    }
    ::unlinkat(f.fd, temp.c_str(), 0);  // never a folder: that is exchanged back
    return true;
}

// Puts a new, locked lock file at the name, replacing what stands there (st, as looked at; heldFd
// when this process holds its lock) by an exchange, so that whatever had the name by then is known
// and retired; a free name is taken only while it is free.
Opened putNew(const Folder& f, const std::string& name, const struct stat& st, int heldFd, Waiter& wait) {
    const std::string temp = detail::tempNameFor(name);
    Opened o;
    o.fd = makeLocked(f, temp);
    if (o.fd < 0) return failed(errno);
    o.made = true;
    const bool free = st.st_ino == 0;
    int err = ::renameat2(f.fd, temp.c_str(), f.fd, name.c_str(), free ? RENAME_NOREPLACE : RENAME_EXCHANGE) == 0
                  ? 0
                  : errno;
    if (err == EINVAL && free) {  // the file system cannot: a link takes only a free name as well
        err = ::linkat(f.fd, temp.c_str(), f.fd, name.c_str(), 0) == 0 ? 0 : errno;
        ::unlinkat(f.fd, temp.c_str(), 0);
        if (err == 0) return o;
    } else if (err == EINVAL) {  // nor exchange: the one looked at is what is replaced
        err = ::renameat(f.fd, temp.c_str(), f.fd, name.c_str()) == 0 ? 0 : errno;
        if (err == 0) return o;
    } else if (err == 0 && free) {
        return o;
    }
    struct stat out {};
    if (err == 0 && ::fstatat(f.fd, temp.c_str(), &out, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(out.st_mode)) {
        // A folder came to the name meanwhile: it goes back, and stays.
        ::renameat2(f.fd, temp.c_str(), f.fd, name.c_str(), RENAME_EXCHANGE);
        err = EISDIR;
    }
    if (err == 0) {
        if (retire(f, temp, heldFd, wait)) return o;
        err = EWOULDBLOCK;
    } else {
        ::unlinkat(f.fd, temp.c_str(), 0);
    }
    ::close(o.fd);
    o = failed(err);
    // In a sticky folder only that user or an administrator can remove it: it is waited for as a
    // held lock is, and the name is tried again once it has gone.
    o.stuck = f.sticky && st.st_uid != ::geteuid() && (err == EPERM || err == EACCES);
    o.old = st;
    return o;
}

// The lock file of the name: a new one, locked, when the name is free or holds what may not be
// opened (a file of another user's only when the system shows no lock on it), else the file there.
Opened openLockFile(const Folder& f, const std::string& name, Waiter& wait) {
    // The name changed between two looks (another process replaced or removed the file): tried
    // again at once a few times, then as a wait, while the caller lets it go on.
    for (int tries = 0;; ++tries) {
        if (tries >= kQuickTries && !wait.pause()) return failed(EAGAIN);
        if (detail::lockFileRace) detail::lockFileRace(detail::LockFileStep::Make);
        struct stat st {};
        if (::fstatat(f.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) return failed(errno);
            Opened o = putNew(f, name, {}, -1, wait);  // a free name
            if (o.fd < 0 && (o.err == EEXIST || o.err == ENOENT || o.err == EAGAIN)) continue;
            return o;
        }
        // Only a regular file is opened: a device or a pipe is replaced unopened.
        if (detail::lockFileRace) detail::lockFileRace(detail::LockFileStep::Look);
        if (::fstatat(f.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            return failed(errno);
        }
        if (S_ISDIR(st.st_mode)) return failed(EISDIR);
        int fd = S_ISREG(st.st_mode) ? ::openat(f.fd, name.c_str(), kOpenFlags) : -1;
        const int err = S_ISREG(st.st_mode) ? errno : 0;
        if (fd < 0 && err == ENOENT) continue;
        if (fd >= 0) {
            Opened o;
            o.fd = fd;
            o.replace = ::fstat(fd, &st) != 0 || !usable(st, f);
            return o;
        }
        if (S_ISREG(st.st_mode)) {
            // Left by another user's job, which may still be running: never taken from it.
            pid_t holder = 0;
            const int held = err == EACCES ? lockedNow(st, &holder) : -1;
            if (held < 0) return failed(err);
            if (held > 0) {
                Opened o;
                o.inUse = true;
                o.holder = holder;
                return o;
            }
        }
        Opened o = putNew(f, name, st, -1, wait);
        if (o.fd < 0 && (o.err == ENOENT || o.err == EAGAIN)) continue;
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
    Waiter wait(keepWaiting);
    for (;;) {
        Opened got = openLockFile(folder, name, wait);
        int lockErr = 0;
        if (got.fd >= 0 && !got.made) {
            // A file at the name is locked first, as any holder's; one that may not be used is
            // replaced only then, under its own lock (a mere reader's lock on it is not waited for).
            struct stat st {};
            const bool reader = got.replace && ::fstat(got.fd, &st) == 0 && readerHolds(st, folder);
            lockErr = reader ? 0 : lockWait(got.fd, wait);
            if (lockErr == 0 && got.replace) {
                Opened put = putNew(folder, name, st, reader ? -1 : got.fd, wait);
                ::close(got.fd);
                if (put.fd < 0 && (put.err == ENOENT || put.err == EAGAIN) && wait.goOn()) continue;
                got = std::move(put);
                lockErr = got.err == EWOULDBLOCK ? EWOULDBLOCK : 0;
            }
        }
        if (got.inUse || got.stuck) {  // another user's lock file that is held, or its entry: waited for
            if (wait.pause()) continue;
            busy_ = got.inUse;
            failure_ = got.inUse ? heldBy(path, got.holder)
                                 : path + " is " + detail::accountName(got.old.st_uid) +
                                       "'s, which only that user or an administrator can remove";
            return;
        }
        if (got.fd < 0 && lockErr == 0) {
            failure_ = got.err == EISDIR ? path + " is a folder, not a lock file: remove it and try again"
                                         : "cannot open " + path + ": " + detail::systemText(got.err);
            return;
        }
        if (lockErr == 0) {
            // The lock counts only on the file that has the name: another process may have replaced
            // it meanwhile (found it open to others), and then holds the new one or will.
            const bool named = stillNamed(dirFd, name, got.fd);
            if (named && wait.stillWanted()) {
                fd_ = got.fd;
                dir_ = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
                name_ = name;
                failure_.clear();
                return;
            }
            ::close(got.fd);
            if (!named && wait.goOn()) continue;
            lockErr = EWOULDBLOCK;
        } else if (got.fd >= 0) {
            ::close(got.fd);
        }
        busy_ = lockErr == EWOULDBLOCK || lockErr == EINTR;
        failure_ = busy_ ? path + " is held by another process"
                         : "cannot lock " + path + ": " + detail::systemText(lockErr);
        return;
    }
}

namespace detail {
void removeUnheldTemporary(int dirFd, const std::string& name) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid())
        return;
    const int fd = ::openat(dirFd, name.c_str(), kOpenFlags);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && stillNamed(dirFd, name, fd)) ::unlinkat(dirFd, name.c_str(), 0);
    ::close(fd);
}
}  // namespace detail

bool FileLock::holdsName() const { return fd_ >= 0 && stillNamed(dir_, name_, fd_); }

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    if (dir_ >= 0) ::close(dir_);
}

}  // namespace tqm
