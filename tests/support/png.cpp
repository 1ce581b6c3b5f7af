#include "tests/support/png.h"

#include <zlib.h>

namespace testsupport {

namespace {

void putBe32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += char((v >> shift) & 0xFF);
}

void putChunk(std::string& out, const char* type, const std::string& data) {
    putBe32(out, uint32_t(data.size()));
    const std::string body = std::string(type, 4) + data;
    out += body;
    putBe32(out, uint32_t(::crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// A PNG of one IHDR (w x h, the given depth and colour type, no filter, no interlace) and one
// IDAT of the rows as given (each with its filter byte), compressed at `level`.
std::string pngOf(int w, int h, int depth, int colour, const std::vector<unsigned char>& rows, int level) {
    std::string header;
    putBe32(header, uint32_t(w));
    putBe32(header, uint32_t(h));
    header += char(depth);
    header += char(colour);
    header += std::string(3, '\0');  // deflate, no filter, no interlace
    std::string idat(size_t(::compressBound(uLong(rows.size()))), '\0');
    uLongf zlen = uLongf(idat.size());
    if (::compress2(reinterpret_cast<Bytef*>(idat.data()), &zlen, rows.data(), uLong(rows.size()), level) != Z_OK)
        return std::string();
    idat.resize(size_t(zlen));
    std::string out("\x89PNG\r\n\x1a\n", 8);
    putChunk(out, "IHDR", header);
    putChunk(out, "IDAT", idat);
    putChunk(out, "IEND", std::string());
    return out;
}

}  // namespace

std::string encodeBlankPng(int w, int h) {
    if (w < 1 || h < 1) return std::string();
    // Each row: filter byte 0 and (w + 7) / 8 zero bytes.
    return pngOf(w, h, 1, 0, std::vector<unsigned char>(size_t(h) * (1 + (size_t(w) + 7) / 8), 0), 9);
}

std::string encodeQuickPng(int w, int h, const std::vector<uint32_t>& argb) {
    if (w < 1 || h < 1 || argb.size() != size_t(w) * size_t(h)) return std::string();
    // Each row: filter byte 0 and the pixels as R, G, B, A.
    std::vector<unsigned char> rows(size_t(h) * (1 + 4 * size_t(w)));
    unsigned char* out = rows.data();
    for (size_t i = 0; i < argb.size(); ++i) {
        if (i % size_t(w) == 0) *out++ = 0;
        const uint32_t p = argb[i];
        *out++ = uint8_t(p >> 16);
        *out++ = uint8_t(p >> 8);
        *out++ = uint8_t(p);
        *out++ = uint8_t(p >> 24);
    }
    return pngOf(w, h, 8, 6, rows, 1);
}

}  // namespace testsupport
