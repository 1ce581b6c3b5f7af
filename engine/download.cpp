// Package download into memory, checked against the catalog, with a package cache.
#include <string>

#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/engine_state.h"
#include "engine/fileread.h"
#include "engine/safe_path.h"
#include "engine/source.h"
#include "engine/util.h"

namespace tqm {

namespace {

using Log = std::function<void(const std::string&)>;

bool matches(const std::string& data, const FileRef& ref) {
    return data.size() == ref.size && sha256Hex(data.data(), data.size()) == ref.sha256;
}

// Writes the cache file through a temporary name, so that a reader never sees half a package.
void writeCache(const std::string& file, const std::string& data) {
    detail::replaceFile(file, ".tqm-cache-" + detail::tag(), data);
}

bool fetchPackage(const Layout& layout, const Source* source, const FileRef* ref, std::string& data,
                  std::string& error, const Progress& progress, const Log& log) {
    // One cache slot per file name; a path ending in "/" has no file name and is not cached.
    const std::string cacheDir = joinPath(joinPath(layout.userData(), "cache"), "packages");
    const std::string name = ref->path.substr(ref->path.rfind('/') + 1);
    const std::string cacheFile = name.empty() ? std::string() : joinPath(cacheDir, name);

    int err = 0;
    if (!cacheFile.empty() && readRegularFile(cacheFile, size_t(ref->size), data, err) && matches(data, *ref)) {
        if (progress) progress(data.size(), data.size());
        return true;
    }
    if (!source) {
        error = "no source to download from";
        return false;
    }
    if (log) log("download " + ref->path);
    if (!source->fetch(ref->path, data, error, progress)) return false;
    if (!matches(data, *ref)) {
        error = ref->path + " does not match the catalog (" + std::to_string(data.size()) + " bytes, expected " +
                std::to_string(ref->size) + "): not installed";
        return false;
    }
    if (!cacheFile.empty()) writeCache(cacheFile, data);
    return true;
}

}  // namespace

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
