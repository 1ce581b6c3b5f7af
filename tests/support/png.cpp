#include "tests/support/png.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace testsupport {

namespace {
void append(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), size_t(size));
}
uint32_t crc32(const std::string& bytes) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void putBe32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += char((v >> shift) & 0xFF);
}

void putChunk(std::string& out, const char* type, const std::string& data) {
    putBe32(out, uint32_t(data.size()));
    const std::string body = std::string(type, 4) + data;
    out += body;
    putBe32(out, crc32(body));
}
}  // namespace

std::string encodeBlankPng(int w, int h) {
    if (w < 1 || h < 1) return std::string();
    std::string header;
    putBe32(header, uint32_t(w));
    putBe32(header, uint32_t(h));
    header += std::string("\x01\x00\x00\x00\x00", 5);  // depth 1, grey, deflate, no filter, no interlace
    // Each row: filter byte 0 and (w + 7) / 8 zero bytes.
    std::vector<unsigned char> raw(size_t(h) * (1 + (size_t(w) + 7) / 8), 0);
    int zlen = 0;
    unsigned char* z = stbi_zlib_compress(raw.data(), int(raw.size()), &zlen, 8);
    if (z == nullptr) return std::string();
    const std::string idat(reinterpret_cast<const char*>(z), size_t(zlen));
    STBIW_FREE(z);
    std::string out("\x89PNG\r\n\x1a\n", 8);
    putChunk(out, "IHDR", header);
    putChunk(out, "IDAT", idat);
    putChunk(out, "IEND", std::string());
    return out;
}

std::string encodePng(int w, int h, const std::vector<uint32_t>& argb) {
    if (w < 1 || h < 1 || argb.size() != size_t(w) * size_t(h)) return std::string();
    std::vector<unsigned char> rgba(argb.size() * 4);
    for (size_t i = 0; i < argb.size(); ++i) {
        const uint32_t p = argb[i];
        rgba[i * 4] = (p >> 16) & 0xFF;
        rgba[i * 4 + 1] = (p >> 8) & 0xFF;
        rgba[i * 4 + 2] = p & 0xFF;
        rgba[i * 4 + 3] = p >> 24;
    }
    std::string out;
    if (!stbi_write_png_to_func(append, &out, w, h, 4, rgba.data(), w * 4)) return std::string();
    return out;
}

}  // namespace testsupport
