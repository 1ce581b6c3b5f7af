// PNG encoding. The encoder is built here, once, without its file functions: callers get bytes.
#include "gui/draw/png_write.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#include <climits>

namespace lumo::gui {

namespace {

void append(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), size_t(size));
}

}  // namespace

std::string encodePng(int w, int h, const std::vector<uint32_t>& argb) {
    // The encoder counts in int: the filtered picture ((4w + 1) x h bytes) and the compressed copy,
    // whose buffer grows by doubling, must stay well inside it. Checked before anything is sized.
    constexpr size_t kLargestFiltered = size_t(INT_MAX) / 4;
    if (w < 1 || h < 1 || size_t(w) > (kLargestFiltered - 1) / 4 ||
        size_t(w) * 4 + 1 > kLargestFiltered / size_t(h) || argb.size() != size_t(w) * size_t(h))
        return {};
    std::vector<unsigned char> rgba(argb.size() * 4);
    for (size_t i = 0; i < argb.size(); ++i) {
        const uint32_t p = argb[i];
        rgba[i * 4 + 0] = uint8_t(p >> 16);
        rgba[i * 4 + 1] = uint8_t(p >> 8);
        rgba[i * 4 + 2] = uint8_t(p);
        rgba[i * 4 + 3] = uint8_t(p >> 24);
    }
    std::string png;
    if (!stbi_write_png_to_func(append, &png, w, h, 4, rgba.data(), w * 4)) return {};
    return png;
}

std::string encodePng(const Canvas& canvas) { return encodePng(canvas.width, canvas.height, canvas.pixels); }

}  // namespace lumo::gui
