#include "engine/safe_path.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace tqm::detail {

namespace {

constexpr int kMaxHops = 40;  // links followed in one walk, and tries at one folder
constexpr int kDirOpen = O_PATH | O_DIRECTORY | O_CLOEXEC;

void splitInto(const std::string& path, std::deque<std::string>& parts, bool front) {
    std::deque<std::string> out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(start, slash - start);
        if (!part.empty() && part != ".") out.push_back(std::move(part));
        start = slash + 1;
    }
    parts.insert(front ? parts.begin() : parts.end(), out.begin(), out.end());
}

// Root may pass the link `name` of the folder `dir` only when no one else can change it.
bool fixedLink(int dir, const struct stat& link) {
    struct stat st;
    if (::fstat(dir, &st) != 0) return false;
    const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX);
    return link.st_uid == 0 && st.st_uid == 0 && !othersWrite;
}

// Walks path one folder at a time from "/" (or the working folder), never letting the system
// follow a link on its own.
int walkAsRoot(const std::string& path, bool make, DirFd& out) {
    if (path.empty()) return ENOENT;
    DirFd cur(::open(!path.empty() && path[0] == '/' ? "/" : ".", kDirOpen));
    if (cur.get() < 0) return errno;
    std::deque<std::string> todo;
    splitInto(path, todo, false);
    int hops = 0, tries = 0;  // tries: looks at the same folder again, after making it or a race
    while (!todo.empty()) {
        const std::string part = std::move(todo.front());
        todo.pop_front();
        const char* name = part.c_str();
        struct stat st;
        if (part != ".." && ::fstatat(cur.get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
            if (!fixedLink(cur.get(), st)) return kLinkRefused;
            if (++hops > kMaxHops) return ELOOP;
            char text[PATH_MAX];
            const ssize_t n = ::readlinkat(cur.get(), name, text, sizeof text);
            if (n < 0) return errno;
            if (size_t(n) >= sizeof text) return ENAMETOOLONG;
            if (n > 0 && text[0] == '/') {
                cur = DirFd(::open("/", kDirOpen));
                if (cur.get() < 0) return errno;
            }
            splitInto(std::string(text, size_t(n)), todo, true);
            continue;
        }
        const int next = ::openat(cur.get(), name, kDirOpen | O_NOFOLLOW);
        if (next >= 0) {
            cur = DirFd(next);
            tries = 0;
            continue;
        }
        const int err = errno;
        if (make && err == ENOENT) {
            // Made here: look again at what stands there now.
            if (::mkdirat(cur.get(), name, 0777) != 0 && errno != EEXIST) return errno;
        } else if (!((err == ENOTDIR || err == ELOOP) && ::fstatat(cur.get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                     S_ISLNK(st.st_mode))) {
            return err;  // not a link swapped in since it was looked at
        }
        if (++tries > kMaxHops) return ELOOP;
        todo.push_front(part);
    }
    out = std::move(cur);
    return 0;
}

}  // namespace

DirFd::~DirFd() {
    if (fd_ >= 0) ::close(fd_);
}

DirFd& DirFd::operator=(DirFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool runningAsRoot() { return ::geteuid() == 0; }

void keepRootUmask(bool helper) {
    if (helper || runningAsRoot()) ::umask(022);
}

int rootNoFollow() { return runningAsRoot() ? O_NOFOLLOW : 0; }

int openDir(const std::string& dir, DirFd& out, bool make) {
    if (runningAsRoot()) return walkAsRoot(dir, make, out);
    if (make) {
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (ec) return ec.value();
    }
    out = DirFd(::open(dir.c_str(), kDirOpen));
    return out.get() < 0 ? errno : 0;
}

int openParent(const std::string& path, DirFd& out, std::string& name, bool make) {
    const fs::path p(path);
    name = p.filename().string();
    if (name.empty() || name == "." || name == "..") return EINVAL;
    const std::string parent = p.has_parent_path() ? p.parent_path().string() : std::string(".");
    return openDir(parent, out, make);
}

int openParentBelow(const std::string& base, const std::string& path, DirFd& out, std::string& name) {
    const fs::path p = fs::path(path).lexically_normal();
    name = p.filename().string();
    if (name.empty() || name == "." || name == "..") return EINVAL;
    const fs::path rel = p.parent_path().lexically_relative(fs::path(base).lexically_normal());
    if (rel.empty() || *rel.begin() == "..") return EINVAL;
    DirFd cur;
    if (const int err = openDir(base, cur)) return err;
    for (const fs::path& part : rel) {
        if (part == "." || part.empty()) continue;
        const int next = ::openat(cur.get(), part.c_str(), kDirOpen | O_NOFOLLOW);
        if (next < 0) {
            const int err = errno;
            struct stat st;
            if (::fstatat(cur.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                return kLinkRefused;
            return err;
        }
        cur = DirFd(next);
    }
    out = std::move(cur);
    return 0;
}

std::string refusedText(const std::string& path) {
    return path + ": a folder on the way is a link the user can change; not touched";
}

std::string systemText(int err) { return std::error_code(err, std::generic_category()).message(); }

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

bool folderNames(int dirFd, std::vector<std::string>& names) {
    names.clear();
    const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return false;
    }
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(std::move(n));
    }
    ::closedir(d);
    return true;
}

}  // namespace tqm::detail
