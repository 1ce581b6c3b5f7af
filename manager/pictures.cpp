#include "manager/pictures.h"

#include <filesystem>
#include <fstream>

#include "engine/fileread.h"
#include "engine/util.h"

namespace fs = std::filesystem;

namespace tqapp::art {

namespace {

// A picture file is small; a larger file in the cache is simply not used.
constexpr size_t kMaxPicture = size_t(64) << 20;

lumo::gui::Bitmap decode(const std::string& bytes) { return lumo::gui::Bitmap::loadMemory(bytes.data(), bytes.size()); }

}  // namespace

std::string cacheDir(const std::string& userData) { return (fs::path(userData) / "cache" / "art").string(); }

bool safePath(const std::string& path) {
    if (path.empty() || path.front() == '/') return false;
    size_t begin = 0;
    for (;;) {
        const size_t end = std::min(path.find('/', begin), path.size());
        const std::string_view part(path.data() + begin, end - begin);
        if (part.empty() || part == "." || part == "..") return false;
        for (unsigned char c : part)
            if (c < 0x20 || c == 0x7F || c == '\\' || c == ':') return false;
        if (end == path.size()) return true;
        begin = end + 1;
    }
}

bool matches(const std::string& bytes, const tqm::FileRef& ref) {
    return bytes.size() == ref.size && tqm::sha256Hex(bytes.data(), bytes.size()) == ref.sha256;
}

lumo::gui::Bitmap picture(const tqm::Source& source, const std::string& dir, const tqm::FileRef& ref) {
    if (!safePath(ref.path)) return {};
    const fs::path file = fs::path(dir) / ref.path;
    std::string bytes;
    int err = 0;
    if (tqm::readRegularFile(file.string(), kMaxPicture, bytes, err) && matches(bytes, ref)) return decode(bytes);

    std::string error;
    bytes.clear();
    if (!source.fetch(ref.path, bytes, error) || !matches(bytes, ref)) return {};
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
    return decode(bytes);
}

}  // namespace tqapp::art
