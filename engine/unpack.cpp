#include "engine/unpack.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "engine/folder_chain.h"
#include "engine/safe_path.h"
#include "engine/util.h"

namespace tqm::detail {

namespace {

constexpr uint64_t kMaxTotal = 0x40000000;  // 1 GiB unpacked, all entries together
constexpr int kMaxLinkHops = 40;
constexpr uint64_t kMaxDeflateRatio = 1100;  // deflate cannot expand more than about 1032:1

struct ZipArchive {
    zip_t* z = nullptr;
    ~ZipArchive() {
        if (z) zip_discard(z);
    }
};

struct ZipEntryFile {
    zip_file_t* f = nullptr;
    ~ZipEntryFile() {
        if (f) zip_fclose(f);
    }
};

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

std::vector<std::string> splitSlash(const std::string& s) { return splitAt(s, '/'); }

bool nameOk(const std::vector<std::string>& parts, const std::string& name, const std::string& item) {
    if (name.empty() || name[0] == '/') return false;
    if (name.find('\\') != std::string::npos || name.find(':') != std::string::npos) return false;
    if (parts[0] != item) return false;
    for (size_t i = 1; i < parts.size(); ++i)
        if (parts[i].empty() || parts[i] == "." || parts[i] == "..") return false;
    return true;
}

// The link text, taken from the link's folder inside the package and resolved without the disk,
// must name something below the item's top folder.
bool linkTextOk(const std::vector<std::string>& parts, const std::string& text, const std::string& item) {
    if (text.empty() || text[0] == '/') return false;
    if (text.find('\\') != std::string::npos || text.find('\0') != std::string::npos) return false;
    std::vector<std::string> stack(parts.begin(), parts.end() - 1);
    for (const std::string& c : splitSlash(text)) {
        if (c.empty() || c == ".") continue;
        if (c == "..") {
            if (stack.empty()) return false;
            stack.pop_back();
        } else {
            stack.push_back(c);
        }
    }
    return stack.size() >= 2 && stack[0] == item;
}

std::string joinParts(const std::vector<std::string>& parts, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out;
}

bool isLinkAt(int dir, const std::string& name) {
    struct stat st;
    return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// Opens (making it) the folder everything is unpacked into. Root makes it owner-only, so that
// nobody can change what is below it while it is being filled; nobody else may write it either way.
int openDest(const std::string& dest, DirFd& out) {
    DirFd parent;
    std::string name;
    if (int err = openParent(dest, parent, name, true)) return err;
    if (::mkdirat(parent.get(), name.c_str(), runningAsRoot() ? 0700 : kUnpackedFolder) != 0 && errno != EEXIST)
        return errno;
    out = DirFd(::openat(parent.get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | rootNoFollow()));
    return out.get() < 0 ? errno : 0;
}

// Whether the path `names` below dest is a link on disk: 1 with its text, 0 when it is something
// else or nothing (the system finds no link there either), -1 when that cannot be told or the
// text leaves the tree.
int linkOnDisk(FolderChain& tree, const std::vector<std::string>& names, std::string& text) {
    int dir = -1;
    const int err = tree.open(names, names.size() - 1, false, dir);
    if (err == ENOENT || err == ENOTDIR) return 0;
    if (err != 0) return -1;
    struct stat st;
    if (::fstatat(dir, names.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? 0 : -1;
    if (!S_ISLNK(st.st_mode)) return 0;
    char buf[PATH_MAX];
    const ssize_t n = ::readlinkat(dir, names.back().c_str(), buf, sizeof buf);
    if (n <= 0 || size_t(n) >= sizeof buf || buf[0] == '/') return -1;
    text.assign(buf, size_t(n));
    return 1;
}

// Follows the link made at parts the way the system would, links on disk included, and answers
// whether it ends below the item without ever leaving dest (the base of tree).
bool linkStaysInside(FolderChain& tree, const std::vector<std::string>& parts, const std::string& item) {
    std::vector<std::string> stack(parts);
    std::deque<std::string> todo;
    std::string text;
    for (int hops = 0;;) {
        // stack names a link: its text takes the place of its name.
        if (++hops > kMaxLinkHops || linkOnDisk(tree, stack, text) != 1) return false;
        stack.pop_back();
        std::vector<std::string> comps = splitSlash(text);
        todo.insert(todo.begin(), comps.begin(), comps.end());
        int found = 0;
        while (!todo.empty() && found == 0) {
            std::string c = std::move(todo.front());
            todo.pop_front();
            if (c.empty() || c == ".") continue;
            if (c == "..") {
                if (stack.empty()) return false;
                stack.pop_back();
                continue;
            }
            stack.push_back(std::move(c));
            found = linkOnDisk(tree, stack, text);
            if (found < 0) return false;
        }
        if (found == 0) return stack.size() >= 2 && stack[0] == item;
    }
}

// Reads an entry whole. libzip does not hold an entry to its declared size, and reports a CRC
// error only on the read past the end, so exactly size bytes must come and then nothing more.
bool readEntry(zip_t* z, zip_uint64_t index, uint64_t size, std::unique_ptr<char[]>& buf, uint64_t& cap) {
    ZipEntryFile file;
    file.f = zip_fopen_index(z, index, 0);
    if (!file.f) return false;
    if (size > cap) {
        buf.reset(new (std::nothrow) char[size]);
        cap = buf ? size : 0;
        if (!buf) return false;
    }
    uint64_t got = 0;
    while (got < size) {
        zip_int64_t n = zip_fread(file.f, buf.get() + got, size - got);
        if (n < 0) return false;
        if (n == 0) break;
        got += uint64_t(n);
    }
    if (got != size) return false;
    char extra;
    return zip_fread(file.f, &extra, 1) == 0;
}

bool writeAll(int fd, const char* data, uint64_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size > (1u << 30) ? (1u << 30) : size_t(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= uint64_t(n);
    }
    return true;
}

}  // namespace

bool unpack(const std::string& zipBytes, const std::string& dest, const std::string& item, std::string& error) {
    return unpackAt(zipBytes, -1, dest, item, error);
}

bool unpackAt(const std::string& zipBytes, int destFd, const std::string& dest, const std::string& item,
              std::string& error) {
    // libzip opens an empty buffer as an empty archive; a zip is at least its 22-byte end record.
    if (zipBytes.size() < 22) {
        error = "the package is not a zip";
        return false;
    }
    ZipArchive archive;
    {
        zip_error_t zerr;
        zip_error_init(&zerr);
        zip_source_t* src = zip_source_buffer_create(zipBytes.data(), zipBytes.size(), 0, &zerr);
        if (src) {
            archive.z = zip_open_from_source(src, 0, &zerr);
            if (!archive.z) zip_source_free(src);
        }
        zip_error_fini(&zerr);
        if (!archive.z) {
            error = "the package is not a zip";
            return false;
        }
    }
    zip_int64_t count = zip_get_num_entries(archive.z, 0);
    if (count <= 0) {
        error = "the package is empty";
        return false;
    }

    // Everything is written relative to the open folder: what happens to the path of dest
    // meanwhile cannot redirect a write.
    DirFd opened;
    int at = destFd;
    if (at < 0) {
        if (int err = openDest(dest, opened)) {
            error = err == kLinkRefused ? refusedText(dest) : "cannot create " + dest + ": " + systemText(err);
            return false;
        }
        at = opened.get();
    }

    uint64_t total = 0;
    bool itemSeen = false;
    std::unique_ptr<char[]> buf;
    uint64_t cap = 0;
    FolderChain folders(at);
    std::vector<std::vector<std::string>> links;

    for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        zip_uint32_t attr = 0;
        zip_uint8_t opsys = 0;
        if (zip_stat_index(archive.z, i, ZIP_FL_ENC_RAW, &st) != 0 || !(st.valid & ZIP_STAT_NAME) ||
            !(st.valid & ZIP_STAT_SIZE) || !(st.valid & ZIP_STAT_COMP_METHOD) ||
            zip_file_get_external_attributes(archive.z, i, 0, &opsys, &attr) != 0) {
            error = "the package's zip is damaged";
            return false;
        }
        std::string name = st.name;
        const bool isDir = (!name.empty() && name.back() == '/') || (attr & 0x10);
        if (isDir && !name.empty() && name.back() == '/') name.pop_back();

        std::vector<std::string> parts = splitSlash(name);
        if (!nameOk(parts, name, item)) {
            error = "the package holds an unexpected path: " + name;
            return false;
        }
        if (st.size > kMaxTotal || total + st.size > kMaxTotal) {
            error = "the package unpacks too large";
            return false;
        }
        total += st.size;
        if (parts[0] == item) itemSeen = true;

        const std::string target = dest + "/" + name;
        const bool isLink = (attr & 0xF0000000u) == 0xA0000000u;
        // The entry's folder, opened one name at a time from dest (the previous entry's folders
        // are reused) and made where missing; a link on the way, or where the entry goes, is
        // never passed: nothing is ever written through a link.
        const std::string& leaf = parts.back();
        int dir = -1;
        int err = folders.open(parts, isDir && !isLink ? parts.size() : parts.size() - 1, true, dir);
        if (err == 0 && !(isDir && !isLink) && isLinkAt(dir, leaf)) err = kLinkRefused;
        if (err == kLinkRefused) {
            error = "the package holds a path through a symbolic link: " + name;
            return false;
        }
        if (err != 0) {
            error = isLink  ? "cannot make the link " + target + ": " + systemText(err)
                    : isDir ? "cannot create " + target + ": " + systemText(err)
                            : "cannot write " + target;
            return false;
        }
        // Only stored and deflated entries, unencrypted; a declared size that its compressed data
        // cannot hold is refused before any memory is taken for it.
        const bool stored = st.comp_method == ZIP_CM_STORE, deflated = st.comp_method == ZIP_CM_DEFLATE;
        if (!isDir && !stored && !deflated) {
            error = "cannot unpack " + name + ": the compression method is not supported";
            return false;
        }
        const bool sizePlausible =
            (st.valid & ZIP_STAT_COMP_SIZE) &&
            (stored ? st.comp_size == st.size : st.size / kMaxDeflateRatio <= st.comp_size);
        const bool supported =
            sizePlausible && (!(st.valid & ZIP_STAT_ENCRYPTION_METHOD) || st.encryption_method == ZIP_EM_NONE);

        if (isLink) {
            if (!supported || !readEntry(archive.z, i, st.size, buf, cap)) {
                error = "cannot unpack " + name;
                return false;
            }
            std::string text(buf.get(), st.size);
            if (isDir || !linkTextOk(parts, text, item)) {
                error = "the package holds a symbolic link out of " + item + ": " + name;
                return false;
            }
            if (::symlinkat(text.c_str(), dir, leaf.c_str()) != 0) {
                error = "cannot make the link " + target + ": " + systemText(errno);
                return false;
            }
            links.push_back(std::move(parts));
        } else if (!isDir) {
            if (!supported || !readEntry(archive.z, i, st.size, buf, cap)) {
                error = "cannot unpack " + name;
                return false;
            }
            // Every file is made new: a name the zip gave before is replaced, never written through
            // (what stands there could be a hard link to a file elsewhere).
            ::unlinkat(dir, leaf.c_str(), 0);
            Fd out;
            // No other account may write what is unpacked, whatever the package or the umask says:
            // a plug-in's file open to their writes would let any of them change what a host loads.
            out.fd = ::openat(dir, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (out.fd < 0 || !writeAll(out.fd, buf.get(), st.size)) {
                error = "cannot write " + target;
                return false;
            }
            const mode_t mode = (attr >> 16) & 0x1FF;
            if (mode != 0) ::fchmod(out.fd, mode & ~mode_t(022));
        }
        if (cap > (64u << 20)) {  // keep no large buffer beyond the entry that needed it
            buf.reset();
            cap = 0;
        }
    }
    if (!itemSeen) {
        error = "the package is empty";
        return false;
    }
    // Each link was checked on its own; links through links are checked once all are made.
    FolderChain tree(at);
    for (const auto& parts : links) {
        if (!linkStaysInside(tree, parts, item)) {
            error = "the package holds a symbolic link out of " + item + ": " + joinParts(parts, parts.size());
            return false;
        }
    }
    return true;
}

}  // namespace tqm::detail
