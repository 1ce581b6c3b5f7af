#pragma once
// Zips of bundle-shaped folders for the demo catalog (written by support/zip_write.h).
#include <cstdint>
#include <string>
#include <vector>

#include "support/zip_write.h"

namespace demo {

// A file of a package: deflated where that makes it smaller.
support::ZipItem packed(std::string name, std::string data, uint32_t mode);

// Every folder and file below dir, named "<prefix>/<relative path>", folders first along each path;
// files are packed as packed() says. False when the folder cannot be read.
bool folderEntries(const std::string& dir, const std::string& prefix, std::vector<support::ZipItem>& out);

}  // namespace demo
