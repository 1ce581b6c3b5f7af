// tqapp::art::safePath on any text, held against what a safe path must be: relative, made of plain
// names, and never leaving its folder however it is read; and the PNG header reader on the same bytes.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "manager/model/pictures.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);
    if (tqapp::art::safePath(path)) {
        if (path.empty() || path.front() == '/' || path.back() == '/' || path.find("//") != std::string::npos)
            fuzzsupport::fail("a safe path with an empty segment or a leading slash");
        for (unsigned char c : path)
            if (c < 0x20 || c == 0x7F || c == '\\' || c == ':') fuzzsupport::fail("a safe path with a refused byte");
        const std::filesystem::path normal = std::filesystem::path(path).lexically_normal();
        if (normal.is_absolute() || normal.empty() || *normal.begin() == ".." || normal.string() != path)
            fuzzsupport::fail("a safe path that is not already plain names below its folder");
    }
    int32_t w = 0, h = 0;
    if (tqapp::art::pngSize(path, w, h) && (w < 1 || h < 1)) fuzzsupport::fail("a PNG size below one pixel");
    return 0;
}
