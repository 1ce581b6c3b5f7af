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
}  // namespace

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
