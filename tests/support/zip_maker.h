#pragma once
// Zips made at run time for tests: real ones through libzip (support/zip_write.h), and
// hand-assembled ones whose every header field can be set, for hostile archives. Tests also read
// zips back and name compression methods through libzip.
#include <zip.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/zip_write.h"

namespace testsupport {

using support::kDirMode;
using support::kFileMode;
using support::kLinkMode;
using support::makeZip;
using support::unixAttr;
using support::zipDir;
using support::zipFile;
using support::ZipItem;
using support::zipLink;

// One entry of a hand-assembled zip: data is stored as given; the other fields default to the
// true values and can be set to anything.
struct RawEntry {
    RawEntry(std::string n, std::string d, uint32_t a = unixAttr(kFileMode | 0644), uint16_t m = 0, uint16_t f = 0,
             std::optional<uint32_t> c = std::nullopt, std::optional<uint32_t> s = std::nullopt)
        : name(std::move(n)), data(std::move(d)), attr(a), method(m), flags(f), crc(c), size(s) {}
    std::string name;
    std::string data;
    uint32_t attr;
    uint16_t method;  // 0 stored; data is written as given whatever the method says
    uint16_t flags;   // bit 0: encrypted
    std::optional<uint32_t> crc;
    std::optional<uint32_t> size;  // declared uncompressed size
};

inline uint32_t crc32Of(const std::string& s) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : s) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

inline std::string rawZip(const std::vector<RawEntry>& entries) {
    auto u16 = [](std::string& o, uint32_t v) {
        o += char(v & 0xFF);
        o += char((v >> 8) & 0xFF);
    };
    auto u32 = [&](std::string& o, uint32_t v) {
        u16(o, v & 0xFFFF);
        u16(o, v >> 16);
    };
    std::string out, central;
    for (const RawEntry& e : entries) {
        const uint32_t offset = uint32_t(out.size());
        const uint32_t crc = e.crc ? *e.crc : crc32Of(e.data);
        const uint32_t size = e.size ? *e.size : uint32_t(e.data.size());
        // The fields the local and the central header share, from "needed to extract" on.
        auto common = [&](std::string& o) {
            u16(o, 20);
            u16(o, e.flags);
            u16(o, e.method);
            u16(o, 0);
            u16(o, 0x21);
            u32(o, crc);
            u32(o, uint32_t(e.data.size()));
            u32(o, size);
            u16(o, uint32_t(e.name.size()));
            u16(o, 0);
        };
        u32(out, 0x04034b50);
        common(out);
        out += e.name;
        out += e.data;

        u32(central, 0x02014b50);
        u16(central, (3u << 8) | 20);  // made on Unix
        common(central);
        u16(central, 0);  // comment length, disk, internal attributes
        u16(central, 0);
        u16(central, 0);
        u32(central, e.attr);
        u32(central, offset);
        central += e.name;
    }
    const uint32_t cdOffset = uint32_t(out.size());
    out += central;
    u32(out, 0x06054b50);
    u16(out, 0);
    u16(out, 0);
    u16(out, uint32_t(entries.size()));
    u16(out, uint32_t(entries.size()));
    u32(out, uint32_t(central.size()));
    u32(out, cdOffset);
    u16(out, 0);
    return out;
}

// The same items hand-assembled, all stored; repeated names are kept (libzip refuses them).
inline std::string rawZipOf(const std::vector<ZipItem>& items) {
    std::vector<RawEntry> entries;
    for (const ZipItem& it : items) entries.emplace_back(it.name, it.data, it.attr);
    return rawZip(entries);
}

}  // namespace testsupport
