#include "engine/receipt.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "engine/atomic_write.h"
#include "engine/file_lock.h"
#include "engine/fileread.h"
#include "engine/lock_waits.h"
#include "engine/safe_path.h"
#include "engine/util.h"
#include "json/json.h"

namespace fs = std::filesystem;

namespace tqm {

namespace {

// Far above any real receipt; a larger file is not read into memory.
constexpr size_t kMaxReceiptBytes = size_t(64) << 20;

const std::string& member(const lumo::Json& object, const char* key) {
    static const std::string empty;
    const lumo::Json& v = object[key];
    return v.isString() ? v.text : empty;
}

int64_t truncateToInt64(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 9223372036854775807.0) return INT64_MAX;
    if (x <= -9223372036854775808.0) return INT64_MIN;
    return int64_t(x);
}

struct FdList {
    std::vector<int> fds;
    ~FdList() {
        for (int fd : fds) ::close(fd);
    }
};

// When root saves into a user's home (the elevated helper), the written file and the folders
// made for it are handed to the home's owner.
struct OwnerFix {
    bool active = false;
    std::string home;  // both without repeated or final slashes
    std::string path;
    uid_t uid = 0;
    gid_t gid = 0;
};

// The path with repeated slashes folded and no final one ("/home/u/" and "/home/u//x" compare
// as "/home/u" and "/home/u/x"); ".." is left for the walk below to refuse.
std::string foldSlashes(const std::string& path) {
    std::string out;
    for (char c : path)
        if (c != '/' || out.empty() || out.back() != '/') out += c;
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

OwnerFix ownerFixFor(const std::string& path) {
    OwnerFix fix;
    if (::geteuid() != 0) return fix;
    const char* homeVar = std::getenv("HOME");
    if (!homeVar || !*homeVar) return fix;
    const std::string home = foldSlashes(homeVar);
    struct stat st {};
    if (home == "/" || ::stat(home.c_str(), &st) != 0 || st.st_uid == 0) return fix;
    const std::string file = foldSlashes(path);
    if (file.compare(0, home.size() + 1, home + "/") != 0) return fix;
    fix.active = true;
    fix.home = home;
    fix.path = file;
    fix.uid = st.st_uid;
    fix.gid = st.st_gid;
    return fix;
}

// Opens every folder from the home down to the file's folder without following links,
// making the missing ones. fds[0] is the home; the last is the file's folder. Answers 0, a
// system error number, or kLinkRefused.
int openBelowHome(const std::string& home, const std::string& path, FdList& dirs, std::string& name) {
    detail::DirFd homeFd;
    if (int err = detail::openDir(home, homeFd)) return err;
    int fd = ::openat(homeFd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    dirs.fds.push_back(fd);
    std::vector<std::string> parts;
    const std::string rest = path.substr(home.size() + 1);
    size_t start = 0;
    while (start <= rest.size()) {
        size_t slash = rest.find('/', start);
        if (slash == std::string::npos) slash = rest.size();
        std::string part = rest.substr(start, slash - start);
        if (part == "..") return EINVAL;
        if (!part.empty() && part != ".") parts.push_back(part);
        start = slash + 1;
    }
    if (parts.empty()) return EINVAL;
    name = parts.back();
    parts.pop_back();
    for (const std::string& part : parts) {
        int at = dirs.fds.back();
        if (::mkdirat(at, part.c_str(), 0777) != 0 && errno != EEXIST) return errno;
        int next = ::openat(at, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            const int err = errno;
            struct stat st;
            const bool link = ::fstatat(at, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            return link ? detail::kLinkRefused : err;
        }
        dirs.fds.push_back(next);
    }
    return 0;
}

}  // namespace

std::string InstalledPlugin::version() const {
    std::string result;
    for (const auto& [key, f] : formats) {
        if (result.empty() || (!f.version.empty() && compareVersions(f.version, result) < 0)) result = f.version;
    }
    return result;
}

std::string receiptText(const Receipt& receipt) {
    std::string out = "{\n \"schema\": 1,\n \"catalog_sequence\": ";
    out += std::to_string(receipt.catalog_sequence);
    out += ",\n \"plugins\": {";
    bool firstProduct = true;
    for (const auto& [id, plugin] : receipt.plugins) {
        if (plugin.formats.empty()) continue;
        if (!firstProduct) out += ',';
        firstProduct = false;
        out += "\n  " + jsonQuote(id) + ": {\"formats\": {";
        bool firstFormat = true;
        for (const auto& [key, f] : plugin.formats) {
            if (!firstFormat) out += ',';
            firstFormat = false;
            out += "\n   " + jsonQuote(key) + ": {\"version\": " + jsonQuote(f.version);
            out += ", \"path\": " + jsonQuote(f.path);
            out += ", \"package_sha256\": " + jsonQuote(f.package_sha256);
            out += ", \"installed\": " + jsonQuote(f.installed);
            if (!f.exe.empty()) out += ", \"exe\": " + jsonQuote(f.exe);
            if (!f.uninstall_key.empty()) out += ", \"uninstall_key\": " + jsonQuote(f.uninstall_key);
            out += '}';
        }
        out += "\n  }}";
    }
    out += "\n }";
    if (!receipt.left.empty()) {
        out += ",\n \"left\": {";
        for (auto it = receipt.left.begin(); it != receipt.left.end(); ++it)
            out += std::string(it == receipt.left.begin() ? "" : ",") + "\n  " + jsonQuote(it->first) +
                   ": {\"format\": " + jsonQuote(it->second.format) + ", \"id\": " + jsonQuote(it->second.id) + "}";
        out += "\n }";
    }
    out += "\n}\n";
    return out;
}

bool Receipt::load(const std::string& path, std::string& error) {
    catalog_sequence = 0;
    plugins.clear();
    left.clear();

    std::string text;
    int err = 0;
    if (!readRegularFile(path, kMaxReceiptBytes, text, err)) {
        if (err == ENOENT) return true;  // no receipt yet
        // Anything else must stop the job: the next save would overwrite the records.
        error = "cannot read " + path + ": " + std::strerror(err) +
                " (left as it is; nothing will be installed until it is fixed)";
        return false;
    }

    lumo::Json doc = lumo::Json::parse(text);
    const lumo::Json& schema = doc["schema"];
    if (!doc.isObject() || !schema.isNumber() || std::round(schema.number) != 1.0) {
        error = path + " does not parse (left as it is; nothing will be installed until it is fixed)";
        return false;
    }
    const lumo::Json& seq = doc["catalog_sequence"];
    catalog_sequence = seq.isNumber() ? truncateToInt64(seq.number) : 0;

    const lumo::Json& leftCopies = doc["left"];
    if (leftCopies.isObject())
        for (const auto& [copy, what] : leftCopies.members) left[copy] = {member(what, "format"), member(what, "id")};
    const lumo::Json& products = doc["plugins"];
    if (!products.isObject()) return true;
    for (const auto& [id, product] : products.members) {
        const lumo::Json& formats = product["formats"];
        if (!formats.isObject()) continue;
        for (const auto& [key, f] : formats.members) {
            InstalledFormat& rec = plugins[id].formats[key];
            rec.version = member(f, "version");
            rec.path = member(f, "path");
            rec.package_sha256 = member(f, "package_sha256");
            rec.installed = member(f, "installed");
            rec.exe = member(f, "exe");
            rec.uninstall_key = member(f, "uninstall_key");
        }
    }
    return true;
}

namespace {

// Opens the receipt file's folder, making it and its parents (dirs.fds.back()), with the file's
// name there; false with error said.
bool openReceiptFolder(const std::string& path, const OwnerFix& fix, FdList& dirs, std::string& name,
                       std::string& error) {
    // Everything below happens relative to the open folder, so a link swapped in for a
    // folder midway cannot redirect the write.
    // Root writing into a folder the user owns: no link on the way is followed. Elsewhere root
    // passes only links that no one else can change (engine/safe_path.h).
    int err = 0;
    if (fix.active) {
        err = openBelowHome(fix.home, fix.path, dirs, name);
    } else {
        detail::DirFd parent;
        err = detail::openParent(path, parent, name, true);
        const int fd = err ? -1 : ::openat(parent.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0)
            dirs.fds.push_back(fd);
        else if (!err)
            err = errno;
    }
    if (err != 0) error = err == detail::kLinkRefused ? detail::refusedText(path) : "cannot write " + path + ".tmp";
    return err == 0;
}

// Hands each folder up to (not including) the home to its owner; stops at the first failure.
void handOverFolders(const FdList& dirs, const OwnerFix& fix) {
    for (size_t i = dirs.fds.size() - 1; i >= 1; --i)
        if (::fchown(dirs.fds[i], fix.uid, fix.gid) != 0) break;
}

}  // namespace

bool receiptWritable(const std::string& path, std::string& error) {
    const OwnerFix fix = ownerFixFor(path);
    FdList dirs;
    std::string name;
    if (!openReceiptFolder(path, fix, dirs, name, error)) return false;
    if (fix.active) handOverFolders(dirs, fix);
    const int dir = dirs.fds.back();
    struct stat folder {}, file {};
    if (::faccessat(dir, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        error = "cannot write " + path + ": " + detail::systemText(errno);
        return false;
    }
    // In a folder with the sticky bit only the file's owner (or the folder's) may replace it.
    const uid_t me = ::geteuid();
    if (me != 0 && ::fstat(dir, &folder) == 0 && (folder.st_mode & S_ISVTX) && folder.st_uid != me &&
        ::fstatat(dir, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0 && file.st_uid != me) {
        error = "cannot replace " + path + ": " + std::strerror(EPERM);
        return false;
    }
    return true;
}

bool Receipt::save(const std::string& path, std::string& error) const {
    const std::string text = receiptText(*this);
    const OwnerFix fix = ownerFixFor(path);
    FdList dirs;
    std::string name;
    if (!openReceiptFolder(path, fix, dirs, name, error)) return false;
    const int dir = dirs.fds.back();

    // The new file changes owner through its own descriptor, before it takes the target's name:
    // once renamed, the user could swap another file in under that name before root reached it.
    bool owned = false;
    const auto handOver = [&](int fd) { owned = fix.active && ::fchown(fd, fix.uid, fix.gid) == 0; };
    WriteFailure failure;
    if (!writeFileAtomicAt(dir, name, text, 0666, failure, handOver)) {
        error = failure.placing ? "cannot replace " + path + ": " + std::strerror(failure.err)
                                : "cannot write " + path + ".tmp";
        return false;
    }
    if (owned) handOverFolders(dirs, fix);  // then the folders
    return true;
}

bool updateReceipt(const std::string& path, Receipt& mine, const std::function<void(Receipt&)>& change,
                   std::string& error, const std::function<bool()>& keepWaiting) {
    // A writer holds the lock for one read and one write. Without it nothing is read or written: a
    // change applied to a read made outside the lock would undo another writer's.
    const FileLock lock = keepWaiting ? FileLock(path + ".lock", keepWaiting) : FileLock(path + ".lock", kReceiptLockWait);
    if (!lock.held()) {
        error = "cannot record the change in " + path + ": " + lock.failure();
        return false;
    }
    Receipt fresh;
    if (!fresh.load(path, error)) return false;
    change(fresh);
    if (!fresh.save(path, error)) return false;
    mine = std::move(fresh);
    return true;
}

std::string waitingSentence(const std::string& receiptFile, const std::string& sweptFolder) {
    const std::string what = !sweptFolder.empty()  ? "sweeping " + sweptFolder
                             : receiptFile.empty() ? "its job"
                                                   : "writing " + fs::path(receiptFile).filename().string();
    return "Waiting for another copy of the manager to finish " + what;
}

}  // namespace tqm
