#pragma once
// Zips of bundle-shaped folders for the demo catalog, written through libzip.
#include <cstdint>
#include <string>
#include <vector>

namespace demo {

struct ZipEntry {
    std::string name;  // ends in "/" for a folder
    std::string data;
    uint32_t mode = 0644;  // Unix permission bits
};

// The archive bytes; empty on failure. Files are deflated.
std::string makeZip(const std::vector<ZipEntry>& entries);

// Every folder and file below dir, named "<prefix>/<relative path>", folders first along each path.
// False when the folder cannot be read.
bool folderEntries(const std::string& dir, const std::string& prefix, std::vector<ZipEntry>& out);

}  // namespace demo
