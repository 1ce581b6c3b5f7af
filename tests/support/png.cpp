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

}  // namespace

std::string encodeBlankPng(int w, int h) {
    if (w < 1 || h < 1) return std::string();
    std::string header;
    putBe32(header, uint32_t(w));
    putBe32(header, uint32_t(h));
    header += std::string("\x01\x00\x00\x00\x00", 5);  // depth 1, grey, deflate, no filter, no interlace
    // Each row: filter byte 0 and (w + 7) / 8 zero bytes.
    const std::vector<unsigned char> raw(size_t(h) * (1 + (size_t(w) + 7) / 8), 0);
    std::string idat(size_t(::compressBound(uLong(raw.size()))), '\0');
    uLongf zlen = uLongf(idat.size());
    if (::compress2(reinterpret_cast<Bytef*>(idat.data()), &zlen, raw.data(), uLong(raw.size()), 9) != Z_OK)
        return std::string();
    idat.resize(size_t(zlen));
    std::string out("\x89PNG\r\n\x1a\n", 8);
    putChunk(out, "IHDR", header);
    putChunk(out, "IDAT", idat);
    putChunk(out, "IEND", std::string());
    return out;
}

}  // namespace testsupport
