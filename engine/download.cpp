// Package download into memory, checked against the catalog, with a package cache.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "engine/atomic_write.h"
#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/install_folder.h"
#include "engine/package.h"
#include "engine/package_cache.h"
#include "engine/safe_path.h"
#include "engine/source.h"
#include "engine/util.h"

namespace tqm {

namespace {

using Log = std::function<void(const std::string&)>;

// Reads the whole of the file behind fd, from its start, when it is a regular file of at most
// max bytes; false otherwise.
bool readAll(int fd, size_t max, std::string& out) {
    out.clear();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) > max) return false;
    out.resize(size_t(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + done, out.size() - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    char more;
    while (true) {  // a file that grew since fstat is not the one that was measured
        const ssize_t n = ::pread(fd, &more, 1, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (done != out.size() || n != 0) {
            out.clear();
            return false;
        }
        return true;
    }
}

// True when no one but this user can change the file behind fd: the descriptor then stands for
// the checked bytes until it is closed.
bool onlyMine(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

// Writes the cache file through a temporary name, so that a reader never sees half a package.
// Answers a descriptor of the written file (read and write), or -1 when it was not written.
int writeCache(const std::string& file, const std::string& data) {
    detail::DirFd dir;
    std::string name;
    if (detail::openParent(file, dir, name, true) != 0) return -1;
    int kept = -1;
    WriteFailure failed;  // a cache that cannot be written costs only the next download
    const bool written = writeFileAtomicAt(dir.get(), name, data, 0644, failed,
                                           [&](int fd) { kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0); });
    if (!written && kept >= 0) ::close(kept);
    return written ? kept : -1;
}

// The package of ref, checked, in data. With kept, *kept receives a descriptor of the cached
// file that holds exactly these bytes and that only this user can change, or -1.
bool fetchPackage(const Layout& layout, const Source* source, const FileRef* ref, std::string& data,
                  std::string& error, const Progress& progress, const Log& log, int* kept = nullptr) {
    if (kept) *kept = -1;
    const std::string cacheFile = detail::packageCacheFile(layout.userData(), *ref);
    const int cached = ::open(cacheFile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (cached >= 0) {
        const bool good = readAll(cached, size_t(ref->size), data) && detail::packageMatches(data, *ref);
        if (good && kept && onlyMine(cached))
            *kept = cached;
        else
            ::close(cached);
        if (good) {
            if (progress) progress(data.size(), data.size());
            return true;
        }
    }
    if (!source) {
        error = "no source to download from";
        return false;
    }
    if (log) log("download " + ref->path);
    // A package larger than the catalog says is refused as soon as that shows: nothing beyond
    // it is gathered, and no stall after it holds the job.
    if (!source->fetch(ref->path, data, error, progress, ref->size)) return false;
    if (!detail::packageMatches(data, *ref)) {
        error = ref->path + " does not match the catalog (" + std::to_string(data.size()) + " bytes, expected " +
                std::to_string(ref->size) + "): not installed";
        return false;
    }
    const int written = writeCache(cacheFile, data);
    if (written >= 0 && kept && onlyMine(written))
        *kept = written;
    else if (written >= 0)
        ::close(written);
    return true;
}

// The same, kept as a Package: behind the cached file when it can be, else in memory.
bool fetchPackage(const Layout& layout, const Source* source, const FileRef* ref, Package& out,
                  std::string& error, const Progress& progress, const Log& log) {
    std::string data;
    int fd = -1;
    if (!fetchPackage(layout, source, ref, data, error, progress, log, &fd)) return false;
    if (fd >= 0) data.clear();
    out = Package::checked(*ref, fd, std::move(data));
    return true;
}

}  // namespace

Package::~Package() {
    if (fd_ >= 0) ::close(fd_);
}

Package::Package(Package&& other) noexcept
    : ref_(std::exchange(other.ref_, nullptr)), fd_(std::exchange(other.fd_, -1)), bytes_(std::move(other.bytes_)) {}

Package& Package::operator=(Package&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        ref_ = std::exchange(other.ref_, nullptr);
        fd_ = std::exchange(other.fd_, -1);
        bytes_ = std::move(other.bytes_);
    }
    return *this;
}

Package Package::checked(const FileRef& ref, int fd, std::string bytes) {
    Package p;
    p.ref_ = &ref;
    p.fd_ = fd;
    p.bytes_ = std::move(bytes);
    return p;
}

bool Package::read(std::string& out, std::string& error) const {
    if (!ref_) {
        error = "no package";
        return false;
    }
    if (fd_ < 0) {
        out = bytes_;
        return true;
    }
    if (!readAll(fd_, size_t(ref_->size), out) || out.size() != ref_->size) {
        out.clear();
        error = "cannot read " + ref_->path + " again: not installed";
        return false;
    }
    return true;
}

namespace detail {

std::string packageCacheFile(const std::string& userData, const FileRef& ref) {
    std::string name = ref.path;
    if (!name.empty() && name.back() == '/') name.pop_back();
    name = name.substr(name.rfind('/') + 1);
    return joinPath(joinPath(joinPath(userData, "cache"), "packages"), name);
}

bool packageMatches(const std::string& data, const FileRef& ref) {
    return data.size() == ref.size && sha256Hex(data.data(), data.size()) == ref.sha256;
}

bool samePackage(const Package& package, const FileRef& ref) {
    const FileRef* checked = package.ref();
    return checked && checked->size == ref.size && checked->sha256 == ref.sha256 && checked->path == ref.path;
}

}  // namespace detail

namespace {

// The entry's package of the format here, or null with the error said.
const FileRef* packageOf(const Plugin& entry, const std::string& format, std::string& error) {
    const FileRef* ref = entry.package(format, thisPlatform());
    if (!ref) error = entry.name + " has no " + format + " for " + thisPlatform();
    return ref;
}

const FileRef* managerPackageOf(const Catalog* catalog, std::string& error) {
    const FileRef* ref = catalog ? catalog->managerPackage() : nullptr;
    if (!ref) error = std::string("the catalog has no manager for ") + thisPlatform();
    return ref;
}

}  // namespace

bool Engine::download(const Plugin& entry, const std::string& format, std::string& data, std::string& error,
                      const Progress& progress) const {
    const FileRef* ref = packageOf(entry, format, error);
    return ref && fetchPackage(layout, source, ref, data, error, progress, log);
}

bool Engine::download(const Plugin& entry, const std::string& format, Package& package, std::string& error,
                      const Progress& progress) const {
    const FileRef* ref = packageOf(entry, format, error);
    return ref && fetchPackage(layout, source, ref, package, error, progress, log);
}

bool Engine::downloadSelf(std::string& data, std::string& error, const Progress& progress) const {
    const FileRef* ref = managerPackageOf(catalog, error);
    return ref && fetchPackage(layout, source, ref, data, error, progress, log);
}

bool Engine::downloadSelf(Package& package, std::string& error, const Progress& progress) const {
    const FileRef* ref = managerPackageOf(catalog, error);
    return ref && fetchPackage(layout, source, ref, package, error, progress, log);
}

}  // namespace tqm
