#pragma once
// Zips written through libzip, for the demo catalog's packages, the tests and the benchmarks.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace support {

constexpr uint32_t kFileMode = 0100000, kDirMode = 0040000, kLinkMode = 0120000;

// Unix mode in the upper 16 bits of the external attributes, as zip tools on Unix write it.
inline uint32_t unixAttr(uint32_t mode) { return mode << 16; }

struct ZipItem {
    std::string name;
    std::string data;         // file bytes, or a link's target text
    uint32_t attr = unixAttr(kFileMode | 0644);
    bool deflate = false;
    // A ZIP_CM_ compression method in place of deflate's choice; ZIP_CM_DEFAULT leaves it to libzip
    // (deflate where it makes the entry smaller).
    std::optional<int32_t> method = std::nullopt;
};

inline ZipItem zipFile(std::string name, std::string data, uint32_t perms = 0644, bool deflate = false) {
    return {std::move(name), std::move(data), unixAttr(kFileMode | perms), deflate};
}
inline ZipItem zipDir(std::string name) { return {std::move(name), "", unixAttr(kDirMode | 0755), false}; }
inline ZipItem zipLink(std::string name, std::string target) {
    return {std::move(name), std::move(target), unixAttr(kLinkMode | 0777), false};
}

// A real zip written by libzip, entries in the order given (a name ending in "/" is a folder);
// empty on failure.
std::string makeZip(const std::vector<ZipItem>& items);

}  // namespace support
