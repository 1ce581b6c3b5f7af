#include "app/png.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace tqapp {
namespace {

void append(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), size_t(size));
}

}  // namespace

std::string encodePng(const lumo::gui::Canvas& canvas) {
    if (canvas.width < 1 || canvas.height < 1) return {};
    std::vector<unsigned char> rgba(size_t(canvas.width) * size_t(canvas.height) * 4);
    for (size_t i = 0; i < canvas.pixels.size() && i * 4 < rgba.size(); ++i) {
        const uint32_t p = canvas.pixels[i];
        rgba[i * 4 + 0] = uint8_t(p >> 16);
        rgba[i * 4 + 1] = uint8_t(p >> 8);
        rgba[i * 4 + 2] = uint8_t(p);
        rgba[i * 4 + 3] = uint8_t(p >> 24);
    }
    std::string png;
    if (!stbi_write_png_to_func(append, &png, canvas.width, canvas.height, 4, rgba.data(), canvas.width * 4))
        return {};
    return png;
}

bool writeFileAtomic(const std::string& path, const std::string& bytes, std::string& error) {
    const std::string temp = path + ".part";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    int why = errno;
    if (std::fclose(f) != 0 && ok) ok = false, why = errno;
    std::error_code ec;
    if (ok) std::filesystem::rename(temp, path, ec);
    if (!ok || ec) {
        std::filesystem::remove(temp, ec);
        error = "cannot write " + path + ": " + (ok ? ec.message() : std::strerror(why));
        return false;
    }
    return true;
}

}  // namespace tqapp
