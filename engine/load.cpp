#include "engine/load.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/atomic_write.h"
#include "engine/catalog_numbers.h"
#include "engine/file_lock.h"
#include "engine/fileread.h"
#include "engine/safe_path.h"
#include "engine/signature.h"
#include "json/json.h"

namespace tqm {

namespace fs = std::filesystem;

std::chrono::milliseconds detail::stateLockWait{5000};

namespace {

// The cache and "state.json" lie in the user's folder, also when the elevated helper reads them:
// only regular files, and no more than a catalog may be (a planted pipe never blocks the reader).
constexpr size_t kMaxCacheFile = size_t(1) << 30;

bool readFile(const fs::path& path, std::string& out) {
    int err = 0;
    return readRegularFile(path.string(), kMaxCacheFile, out, err);
}

// Puts the catalog and its signature into the cache as a pair: both are written to fresh
// siblings first and renamed only when both are whole, so a write that fails half-way (a full
// disk) leaves the cached pair as it was and nothing beside it.
bool cacheCatalog(const fs::path& cache, const std::string& text, const std::string& signature) {
    detail::DirFd dir;
    if (detail::openDir(cache.string(), dir, true) != 0) return false;
    const std::string names[2] = {"catalog.json", "catalog.json.sig"};
    const std::string temps[2] = {detail::tempNameFor(names[0]), detail::tempNameFor(names[1])};
    int err = 0;
    if (!detail::writeNewFile(dir.get(), temps[0], text, 0644, err)) return false;
    bool ok = detail::writeNewFile(dir.get(), temps[1], signature, 0644, err);
    for (int i = 0; i < 2; ++i)
        if (ok && ::renameat(dir.get(), temps[i].c_str(), dir.get(), names[i].c_str()) != 0) ok = false;
    for (int i = 0; i < 2; ++i) ::unlinkat(dir.get(), temps[i].c_str(), 0);
    if (ok) detail::syncFolder(dir.get());  // the pair is in place either way
    return ok;
}

// The regular file at path holds exactly text; read a piece at a time, so that a big catalog costs
// no second copy in memory.
bool holdsExactly(const fs::path& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const detail::DirFd closer(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) != text.size()) return false;
    char piece[65536];
    for (size_t done = 0;;) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0 && done == text.size();
        if (size_t(n) > text.size() - done || std::memcmp(piece, text.data() + done, size_t(n)) != 0) return false;
        done += size_t(n);
    }
}

// The cache holds exactly this catalog and signature.
bool cachedAlready(const fs::path& cache, const std::string& text, const std::string& signature) {
    return holdsExactly(cache / "catalog.json.sig", signature) && holdsExactly(cache / "catalog.json", text);
}

int64_t readMaxSequence(const fs::path& dir) {
    std::string text;
    if (!readFile(dir / "state.json", text)) return 0;
    return jsonInt64(lumo::Json::parse(text)["max_sequence"]);
}

// Caches a catalog fetched and accepted in this run and raises the sequence record to it. Another
// loader may have recorded a newer catalog since this one read the record: then both stay.
void keepLoaded(const fs::path& dir, const std::string& text, const std::string& signature, int64_t sequence) {
    // Loaders in other processes read, compare and write the record one at a time. A lock not had
    // in time (held by someone who never lets go) costs only this run's caching, never the load.
    const FileLock lock((dir / "state.lock").string(), detail::stateLockWait);
    if (!lock.held()) return;
    const int64_t recorded = readMaxSequence(dir);
    if (sequence < recorded) return;
    // Failures to write are not the load's: they cost only the offline fallback. The sequence is
    // recorded once the cache holds its catalog, so that the cached catalog always passes the
    // record it is read against. Most loads fetch the very pair cached by the last one: that stays.
    WriteFailure failed;
    if ((cachedAlready(dir / "cache", text, signature) || cacheCatalog(dir / "cache", text, signature)) &&
        sequence > recorded)
        writeFileAtomic((dir / "state.json").string(), "{\"max_sequence\": " + std::to_string(sequence) + "}\n",
                        0644, true, failed);
}

// Verify, parse and apply the sequence rule; on success the catalog and text (moved) go into result.
bool accept(std::string& text, const std::string& signature, const std::string& keys, int64_t maxSeq,
            LoadedCatalog& result, std::string& error) {
    if (!verifySignature(text, signature, keys, error)) return false;
    Catalog catalog;
    if (!parseCatalog(text, catalog, error)) return false;
    if (catalog.sequence < maxSeq) {
        error = "the catalog is older than one already seen (sequence " + std::to_string(catalog.sequence) + " < " +
                std::to_string(maxSeq) + ")";
        return false;
    }
    result.catalog = std::move(catalog);
    result.text = std::move(text);
    result.signature = signature;
    return true;
}

}  // namespace

LoadedCatalog loadCatalog(const Source& source, const std::string& keys, const fs::path& dir, bool offline) {
    LoadedCatalog result;
    const int64_t maxSeq = readMaxSequence(dir);
    const fs::path cache = dir / "cache";
    std::string reason;
    if (offline) {
        reason = "offline";
    } else {
        std::string text, signature;
        if (source.fetch("catalog.json", text, reason) && source.fetch("catalog.json.sig", signature, reason)) {
            if (accept(text, signature, keys, maxSeq, result, reason)) {
                result.ok = true;
                keepLoaded(dir, result.text, signature, result.catalog.sequence);
                return result;
            }
            result.refused = true;  // the source answered: not an offline fallback
        }
    }
    std::string text, signature, cacheError;
    if (readFile(cache / "catalog.json", text) && readFile(cache / "catalog.json.sig", signature) &&
        accept(text, signature, keys, maxSeq, result, cacheError)) {
        result.ok = true;
        result.fromCache = true;
        result.note = reason;
        return result;
    }
    std::error_code ec;
    if (!fs::exists(cache / "catalog.json", ec))
        result.note = reason + "; no cached catalog";
    else
        result.note = reason + "; the cached catalog failed too: " + cacheError;
    return result;
}

}  // namespace tqm
