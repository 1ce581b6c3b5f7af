#include "engine/folder_chain.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tqm::detail {

namespace {

// The deepest folders of the chain are all kept open, and above them every 256th one: a chain
// thousands of folders deep holds a few dozen handles, and going back up reopens at most 256.
constexpr size_t kRecent = 64;
constexpr size_t kStride = 256;

// Opens the folder name in dir, never following a link; with make, a missing one is made.
int openOne(int dir, const std::string& name, bool make, DirFd& out) {
    for (bool made = false;; made = true) {
        out = DirFd(::openat(dir, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (out.get() >= 0) return 0;
        const int err = errno;
        if (err == ENOENT && make && !made) {
            if (::mkdirat(dir, name.c_str(), kUnpackedFolder) != 0 && errno != EEXIST) return errno;
            continue;
        }
        struct stat st;
        if ((err == ENOTDIR || err == ELOOP) && ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode))
            return kLinkRefused;
        return err;
    }
}

}  // namespace

bool FolderChain::keep(size_t index, size_t top) const {
    return index + kRecent >= top || index % kStride == kStride - 1;
}

int FolderChain::open(const std::vector<std::string>& names, size_t count, bool make, int& fd) {
    size_t common = 0;
    while (common < names_.size() && common < count && names_[common] == names[common]) ++common;
    names_.resize(common);
    fds_.resize(common);

    // The folders between the deepest one still open and the end of the shared part were let go
    // when the chain was deeper: open them again.
    size_t from = common;
    while (from > 0 && fds_[from - 1].get() < 0) --from;
    for (size_t i = from; i < common; ++i) {
        if (int err = openOne(at(i), names_[i], false, fds_[i])) {
            names_.resize(i);
            fds_.resize(i);
            return err;
        }
        if (i > 0 && !keep(i - 1, common)) fds_[i - 1] = DirFd();
    }
    for (size_t i = common; i < count; ++i) {
        DirFd next;
        if (int err = openOne(at(i), names[i], make, next)) return err;
        names_.push_back(names[i]);
        fds_.push_back(std::move(next));
        const size_t top = fds_.size();
        if (top > kRecent && !keep(top - kRecent - 1, top)) fds_[top - kRecent - 1] = DirFd();
    }
    fd = at(count);
    return 0;
}

}  // namespace tqm::detail
