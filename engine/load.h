#pragma once
// Loading the catalog: fetch, verify, parse, refuse rollbacks, cache for offline use.
#include <filesystem>
#include <string>

#include "engine/catalog.h"
#include "engine/source.h"

namespace tqm {

// Fetches "catalog.json" and "catalog.json.sig" from source (unless offline), accepts them when
// signed by one of keys and not older than the highest sequence in dir/"state.json", caches them
// under dir/"cache", and otherwise falls back to the cached pair. Loaders of one dir in several
// processes record the sequence one at a time (a flock on dir/"state.lock"), so the record never
// goes down. Never throws.
LoadedCatalog loadCatalog(const Source& source, const std::string& keys, const std::filesystem::path& dir,
                          bool offline);

}  // namespace tqm
