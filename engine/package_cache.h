#pragma once
// The package cache the unprivileged side fills and the elevated helper reads, and the one check
// that a package is the file the catalog describes.
#include <string>

#include "engine/catalog.h"
#include "engine/package.h"

namespace tqm::detail {

// <userData>/cache/packages/<the last name in ref.path>: one slot per file name ("a/Synth.zip" and
// "b/Synth.zip" share it; the check below tells them apart). A path ending in "/" uses the name
// before that slash.
std::string packageCacheFile(const std::string& userData, const FileRef& ref);

// True when data has the size and the SHA-256 the catalog gives for ref.
bool packageMatches(const std::string& data, const FileRef& ref);

// True when package was checked against a file of the same path, size and SHA-256 as ref: its
// bytes are then ref's without hashing them again.
bool samePackage(const Package& package, const FileRef& ref);

}  // namespace tqm::detail
