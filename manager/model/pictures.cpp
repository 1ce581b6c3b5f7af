#include "manager/model/pictures.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>
#include <vector>

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
    const std::string file = dir + "/" + ref.path;
    std::string bytes;
    int err = 0;
    // A cached file longer than the picture is not read at all.
    const size_t most = size_t(std::min<uint64_t>(ref.size, kMaxPicture));
    if (tqm::readRegularFile(file, most, bytes, err) && matches(bytes, ref)) return decode(bytes);

    std::string error;
    bytes.clear();
    // A server that sends more than the picture holds is left at once: nothing beyond it is gathered.
    const tqm::Progress bounded = [most](uint64_t done, uint64_t) { return done <= most; };
    if (!source.fetch(ref.path, bytes, error, bounded, most) || !matches(bytes, ref)) return {};
    std::error_code ec;
    fs::create_directories(fs::path(file).parent_path(), ec);
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
    return decode(bytes);
}

std::map<std::string, Art> catalogPictures(const tqm::Source& source, const std::string& dir,
                                           const tqm::Catalog& catalog) {
    // Where each picture goes, in catalog order, and the distinct files behind them.
    struct Slot {
        const std::string* id;
        bool logo;
        const std::string* key;
        size_t file;
    };
    std::map<std::string, Art> out;
    std::vector<Slot> slots;
    std::vector<const tqm::FileRef*> files;
    std::map<std::tuple<std::string, std::string, uint64_t>, size_t> seen;
    for (const auto* list : {&catalog.plugins, &catalog.apps})
        for (const tqm::Plugin& entry : *list) {
            out[entry.id];
            for (const bool logo : {false, true})
                for (const auto& [key, ref] : logo ? entry.art_logo : entry.art_row) {
                    auto [it, fresh] = seen.try_emplace({ref.path, ref.sha256, ref.size}, files.size());
                    if (fresh) files.push_back(&ref);
                    slots.push_back({&entry.id, logo, &key, it->second});
                }
        }

    // Reading, checking and decoding dominate a load from the cache: a few threads share them.
    // One file is only ever handled by one thread.
    std::vector<lumo::gui::Bitmap> bitmaps(files.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < files.size();) bitmaps[i] = picture(source, dir, *files[i]);
    };
    const unsigned helpers = files.size() < 32 ? 0 : std::min(3u, std::max(1u, std::thread::hardware_concurrency()) - 1);
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < helpers; ++t) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer threads: the others take the work
        }
    }
    work();
    for (std::thread& t : pool) t.join();

    std::vector<size_t> uses(files.size(), 0);
    for (const Slot& s : slots) ++uses[s.file];
    for (const Slot& s : slots) {
        Art& art = out[*s.id];
        lumo::gui::Bitmap& bitmap = bitmaps[s.file];
        (s.logo ? art.logo : art.row)[*s.key] = --uses[s.file] ? bitmap : std::move(bitmap);
    }
    return out;
}

}  // namespace tqapp::art
