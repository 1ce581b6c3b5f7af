#include "engine/fileread.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tqm {

bool readRegularFile(const std::string& path, size_t maxBytes, std::string& out, int& err) {
    out.clear();
    // Non-blocking so that opening a pipe planted at the path does not hang.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        err = errno;
        return false;
    }
    const bool ok = readRegularFile(fd, maxBytes, out, err);
    ::close(fd);
    return ok;
}

bool readRegularFile(int fd, size_t maxBytes, std::string& out, int& err) {
    out.clear();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    if (st.st_size > 0 && uint64_t(st.st_size) > maxBytes) {
        err = EFBIG;
        return false;
    }
    out.reserve(size_t(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            out.clear();
            return false;
        }
        if (n == 0) break;
        if (out.size() + size_t(n) > maxBytes) {
            err = EFBIG;
            out.clear();
            return false;
        }
        out.append(buf, size_t(n));
    }
    return true;
}

}  // namespace tqm
