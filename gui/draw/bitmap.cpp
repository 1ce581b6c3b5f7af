// PNG decoding for bitmaps. The decoder is built here, once, with PNG as its only format, so any
// other kind of file fails to load like a broken PNG does.
#include <climits>
#include <cstring>

#include "gui/draw/canvas.h"

namespace {

// The decoder copies zero bytes into a null buffer for an empty data chunk that comes before any
// data; memcpy does not allow a null pointer even then, so the decoder's copies come here.
void* decoderCopy(void* to, const void* from, size_t n) { return n == 0 ? to : std::memcpy(to, from, n); }

}  // namespace

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#define STBI_MAX_DIMENSIONS 16384
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define memcpy decoderCopy
#include <stb/stb_image.h>
#undef memcpy
#pragma GCC diagnostic pop

#include <cstdio>
#include <vector>

namespace lumo::gui {

namespace {

// Pictures here are window-sized at most. A larger claim in the header is refused before decoding, so
// a few kilobytes of hostile file cannot make the decoder and the copy allocate gigabytes.
constexpr int64_t kMaxPixels = int64_t(1) << 25;

Bitmap fromRgba(const unsigned char* rgba, int w, int h) {
    Bitmap bm;
    bm.w = w;
    bm.h = h;
    bm.pixels.resize(size_t(w) * size_t(h));
    for (size_t i = 0; i < bm.pixels.size(); ++i) {
        const unsigned char* p = rgba + i * 4;
        bm.pixels[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[2]);
    }
    return bm;
}

// The decoder grows its buffer to a chunk's declared length before reading the chunk, so a few
// bytes claiming a 2 GiB chunk would allocate that much. Every chunk's data must be in the file.
bool chunksFit(const unsigned char* bytes, size_t size) {
    size_t at = 8;  // the signature
    while (at <= size && size - at >= 8) {
        const uint32_t length = uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 |
                                uint32_t(bytes[at + 2]) << 8 | uint32_t(bytes[at + 3]);
        if (std::memcmp(bytes + at + 4, "IEND", 4) == 0) return true;  // the decoder stops there
        if (length > size - at - 8) return false;
        at += 8 + size_t(length) + 4;  // header, data, checksum
    }
    return true;
}

}  // namespace

Bitmap Bitmap::loadMemory(const void* data, size_t size) {
    // The decoder takes a 32-bit length: a larger buffer is refused rather than cut short.
    if (data == nullptr || size == 0 || size > size_t(INT_MAX)) return Bitmap{};
    int w = 0, h = 0, channels = 0;
    const auto* bytes = static_cast<const stbi_uc*>(data);
    if (!stbi_info_from_memory(bytes, int(size), &w, &h, &channels) || w < 1 || h < 1 ||
        int64_t(w) * int64_t(h) > kMaxPixels || !chunksFit(bytes, size))
        return Bitmap{};
    unsigned char* rgba = stbi_load_from_memory(bytes, int(size), &w, &h, &channels, 4);
    if (rgba == nullptr) return Bitmap{};
    Bitmap bm = (w > 0 && h > 0) ? fromRgba(rgba, w, h) : Bitmap{};
    stbi_image_free(rgba);
    return bm;
}

Bitmap Bitmap::loadFile(const std::string& path) {
    // Plain stdio: a folder or unreadable file simply gives no bytes (streams would throw).
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return Bitmap{};
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > size_t(INT_MAX)) break;
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return Bitmap{};
    return loadMemory(bytes.data(), bytes.size());
}

}  // namespace lumo::gui
