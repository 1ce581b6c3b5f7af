#include "engine/atomic_write.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "engine/safe_path.h"

namespace tqm {

namespace detail {

int (*flushFd)(int fd) = ::fsync;

std::string tempNameFor(const std::string& name) {
    static std::atomic<uint32_t> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    char tag[48];
    std::snprintf(tag, sizeof tag, ".%d-%u-%08x.tmp", int(::getpid()), unsigned(counter++), unsigned(random()));
    // Long names are cut so that the temporary name stays within the system's limit.
    return name.substr(0, 200) + tag;
}

bool writeNewFile(int dirFd, const std::string& name, const std::string& text, unsigned mode, int& err,
                  const std::function<void(int fd)>& beforeClose, bool flush) {
    const int fd = ::openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        err = errno;  // what stands at the name is not ours: it stays
        return false;
    }
    err = 0;
    errno = 0;
    if (!writeAll(fd, text) || (flush && flushFd(fd) != 0)) err = errno ? errno : EIO;
    if (err == 0 && beforeClose) beforeClose(fd);
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0) return true;
    ::unlinkat(dirFd, name.c_str(), 0);
    return false;
}

int syncFolder(int dirFd) {
    const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int err = flushFd(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err == EINVAL ? 0 : err;  // a file system that cannot flush folders has nothing to flush
}

bool replaceVia(int dirFd, const std::string& name, const std::string& tempName, const std::string& text,
                unsigned mode, WriteFailure& failure, const std::function<void(int fd)>& beforeRename, bool flush) {
    failure = WriteFailure{};
    if (!writeNewFile(dirFd, tempName, text, mode, failure.err, beforeRename, flush)) return false;
    if (::renameat(dirFd, tempName.c_str(), dirFd, name.c_str()) != 0) {
        failure = {errno, true};
        ::unlinkat(dirFd, tempName.c_str(), 0);
        return false;
    }
    // The new file is in place, so the write succeeded whatever the folder flush answers: a caller
    // told otherwise would act on a failure that did not happen (a finished install shown as
    // failed). A folder that cannot be flushed may still lose the rename in a power cut.
    if (flush) syncFolder(dirFd);
    return true;
}

namespace {

// The writer's process id in a tempNameFor name ("<name>.<pid>-<n>-<8 hex>.tmp"); 0 for any other.
pid_t writerOf(const std::string& entry) {
    const std::string tail = ".tmp";
    if (entry.size() < 20 || entry.compare(entry.size() - tail.size(), tail.size(), tail) != 0) return 0;
    size_t at = entry.size() - tail.size() - 8;
    for (size_t i = at; i < at + 8; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(entry[i]))) return 0;
    auto digitsBack = [&](char before) {
        size_t start = at;
        while (start > 0 && std::isdigit(static_cast<unsigned char>(entry[start - 1]))) --start;
        if (start == at || start == 0 || entry[start - 1] != before) return std::string::npos;
        return start;
    };
    if (entry[--at] != '-') return 0;
    const size_t counter = digitsBack('-');
    if (counter == std::string::npos) return 0;
    at = counter - 1;
    const size_t pidAt = digitsBack('.');
    if (pidAt == std::string::npos || at - pidAt > 9) return 0;
    return pid_t(std::stol(entry.substr(pidAt, at - pidAt)));
}

}  // namespace

void sweepTemporaries(int dirFd) {
    constexpr time_t kDay = 24 * 60 * 60;
    std::vector<std::string> names;
    if (!folderNames(dirFd, names)) return;
    const time_t now = std::time(nullptr);
    for (const std::string& name : names) {
        const pid_t pid = writerOf(name);
        struct stat st {};
        if (pid <= 0 || ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        const time_t age = now - st.st_mtime;  // a writer at work moves it with every write
        const bool gone = ::kill(pid, 0) != 0 && errno == ESRCH;
        if ((gone && age > kOrphanAge) || age > kDay) ::unlinkat(dirFd, name.c_str(), 0);
    }
}

void sweepTemporaries(const std::string& dir) {
    DirFd fd;
    if (openDir(dir, fd) == 0) sweepTemporaries(fd.get());
}

}  // namespace detail

bool writeFileAtomicAt(int dirFd, const std::string& name, const std::string& text, unsigned mode,
                       WriteFailure& failure, const std::function<void(int fd)>& beforeRename) {
    return detail::replaceVia(dirFd, name, detail::tempNameFor(name), text, mode, failure, beforeRename);
}

bool writeUnflushedAt(int dirFd, const std::string& name, const std::string& text, unsigned mode,
                      WriteFailure& failure) {
    return detail::replaceVia(dirFd, name, detail::tempNameFor(name), text, mode, failure, nullptr, false);
}

bool writeFileAtomic(const std::string& path, const std::string& text, unsigned mode, bool makeFolder,
                     WriteFailure& failure) {
    detail::DirFd dir;
    std::string name;
    failure = WriteFailure{};
    failure.err = detail::openParent(path, dir, name, makeFolder);
    if (failure.err != 0) return false;
    return writeFileAtomicAt(dir.get(), name, text, mode, failure);
}

bool writeFileAtomic(const std::string& path, const std::string& text, unsigned mode, bool makeFolder,
                     std::string& error) {
    WriteFailure failure;
    if (writeFileAtomic(path, text, mode, makeFolder, failure)) return true;
    error = failure.err == detail::kLinkRefused ? detail::refusedText(path)
                                                : "cannot write " + path + ": " + detail::systemText(failure.err);
    return false;
}

}  // namespace tqm
