// Package download into memory, checked against the catalog, with a package cache.
#include <string>

#include "engine/atomic_write.h"
#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/engine_state.h"
#include "engine/fileread.h"
#include "engine/package_cache.h"
#include "engine/safe_path.h"
#include "engine/source.h"
#include "engine/util.h"

namespace tqm {

namespace {

using Log = std::function<void(const std::string&)>;

// Writes the cache file through a temporary name, so that a reader never sees half a package.
void writeCache(const std::string& file, const std::string& data) {
    WriteFailure failed;  // a cache that cannot be written costs only the next download
    writeFileAtomic(file, data, 0644, true, failed);
}

bool fetchPackage(const Layout& layout, const Source* source, const FileRef* ref, std::string& data,
                  std::string& error, const Progress& progress, const Log& log) {
    const std::string cacheFile = detail::packageCacheFile(layout.userData(), *ref);
    int err = 0;
    if (readRegularFile(cacheFile, size_t(ref->size), data, err) && detail::packageMatches(data, *ref)) {
        if (progress) progress(data.size(), data.size());
        return true;
    }
    if (!source) {
        error = "no source to download from";
        return false;
    }
    if (log) log("download " + ref->path);
    // A server that sends more than the package holds is left at once: nothing beyond it is gathered,
    // and no stall after it holds the job. The caller sees the whole size arrive, never more.
    bool over = false;
    const Progress bounded = [&](uint64_t done, uint64_t total) {
        if (done > ref->size) {
            over = true;
            if (progress) progress(ref->size, total);
            return false;
        }
        return !progress || progress(done, total);
    };
    if (!source->fetch(ref->path, data, error, bounded)) {
        if (over)
            error = ref->path + " is larger than the catalog says (over " + std::to_string(ref->size) +
                    " bytes): not installed";
        return false;
    }
    if (!detail::packageMatches(data, *ref)) {
        error = ref->path + " does not match the catalog (" + std::to_string(data.size()) + " bytes, expected " +
                std::to_string(ref->size) + "): not installed";
        return false;
    }
    writeCache(cacheFile, data);
    return true;
}

}  // namespace

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

}  // namespace detail

bool Engine::download(const Plugin& entry, const std::string& format, std::string& data, std::string& error,
                      const Progress& progress) const {
    const FileRef* ref = entry.package(format, thisPlatform());
    if (!ref) {
        error = entry.name + " has no " + format + " for " + thisPlatform();
        return false;
    }
    return fetchPackage(layout, source, ref, data, error, progress, log);
}

bool Engine::downloadSelf(std::string& data, std::string& error, const Progress& progress) const {
    const FileRef* ref = catalog ? catalog->managerPackage() : nullptr;
    if (!ref) {
        error = std::string("the catalog has no manager for ") + thisPlatform();
        return false;
    }
    return fetchPackage(layout, source, ref, data, error, progress, log);
}

}  // namespace tqm
