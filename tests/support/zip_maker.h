#pragma once
// Zips made at run time for tests and benchmarks: real ones through libzip, and hand-assembled
// ones whose every header field can be set, for hostile archives. Header-only: the programs that
// use it link libzip through the engine.
#include <zip.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

constexpr uint32_t kFileMode = 0100000, kDirMode = 0040000, kLinkMode = 0120000;

// Unix mode in the upper 16 bits of the external attributes, as zip tools on Unix write it.
inline uint32_t unixAttr(uint32_t mode) { return mode << 16; }

struct ZipItem {
    std::string name;
    std::string data;         // file bytes, or a link's target text
    uint32_t attr = unixAttr(kFileMode | 0644);
    bool deflate = false;
    int32_t method = -1;  // a ZIP_CM_ compression method, in place of deflate's choice
};

inline ZipItem zipFile(std::string name, std::string data, uint32_t perms = 0644, bool deflate = false) {
    return {std::move(name), std::move(data), unixAttr(kFileMode | perms), deflate};
}
inline ZipItem zipDir(std::string name) { return {std::move(name), "", unixAttr(kDirMode | 0755), false}; }
inline ZipItem zipLink(std::string name, std::string target) {
    return {std::move(name), std::move(target), unixAttr(kLinkMode | 0777), false};
}

// A real zip written by libzip, entries in the order given (empty string on failure).
inline std::string makeZip(const std::vector<ZipItem>& items) {
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t* src = zip_source_buffer_create(nullptr, 0, 0, &err);
    zip_error_fini(&err);
    if (!src) return {};
    zip_source_keep(src);
    zip_t* z = zip_open_from_source(src, ZIP_TRUNCATE, nullptr);
    if (!z) {
        zip_source_free(src);
        return {};
    }
    bool ok = true;
    for (const ZipItem& it : items) {
        zip_int64_t idx;
        if (!it.name.empty() && it.name.back() == '/') {
            idx = zip_dir_add(z, it.name.substr(0, it.name.size() - 1).c_str(), ZIP_FL_ENC_GUESS);
        } else {
            zip_source_t* data = zip_source_buffer(z, it.data.data(), it.data.size(), 0);
            idx = data ? zip_file_add(z, it.name.c_str(), data, ZIP_FL_ENC_GUESS) : -1;
            if (idx < 0 && data) zip_source_free(data);
            const int32_t method = it.method >= 0 ? it.method : it.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
            if (idx >= 0 && zip_set_file_compression(z, zip_uint64_t(idx), method, 0) != 0) idx = -1;
        }
        if (idx < 0) {
            ok = false;
            break;
        }
        zip_file_set_external_attributes(z, zip_uint64_t(idx), 0, ZIP_OPSYS_UNIX, it.attr);
    }
    if (!ok || zip_close(z) != 0) {
        zip_discard(z);  // zip_close keeps the archive open when it fails
        zip_source_free(src);
        return {};
    }
    std::string out;
    zip_stat_t st;
    if (zip_source_stat(src, &st) == 0 && zip_source_open(src) == 0) {
        out.resize(st.size);
        zip_int64_t n = zip_source_read(src, out.data(), st.size);
        if (n < 0 || zip_uint64_t(n) != st.size) out.clear();
        zip_source_close(src);
    }
    zip_source_free(src);
    return out;
}

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
