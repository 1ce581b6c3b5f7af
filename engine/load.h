#pragma once
// Loading the catalog: fetch, verify, parse, refuse rollbacks, cache for offline use.
#include <chrono>
#include <filesystem>
#include <string>

#include "engine/catalog.h"
#include "engine/source.h"

namespace tqm {

// Fetches "catalog.json" and "catalog.json.sig" from source (unless offline), accepts them when
// signed by one of keys and not older than the highest sequence in dir/"state.json", caches them
// under dir/"cache", and otherwise falls back to the cached pair. Loaders of one dir in several
// processes record the sequence one at a time (a lock on dir/"state.lock", engine/file_lock.h), so
// the record never goes down; a lock not had within detail::stateLockWait leaves the cache and the
// record as they are. Never throws.
LoadedCatalog loadCatalog(const Source& source, const std::string& keys, const std::filesystem::path& dir,
                          bool offline);

namespace detail {
extern std::chrono::milliseconds stateLockWait;
}

}  // namespace tqm
