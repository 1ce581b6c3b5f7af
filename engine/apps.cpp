#include "engine/apps.h"

#include <filesystem>
#include <plist/plist.h>

#include "engine/fileread.h"

namespace fs = std::filesystem;

namespace tqm {

namespace {

// An information dictionary is a few kilobytes; anything far larger is not one.
constexpr size_t kMaxInfoBytes = size_t(4) << 20;
// The version must fit 128 bytes with its terminator.
constexpr uint64_t kMaxVersionBytes = 127;

// libplist reads nested containers recursively, so a file nested deeply enough would exhaust the
// stack. The depth is at most the number of containers (XML) or of objects (binary); real
// information dictionaries have a few hundred at most.
constexpr uint64_t kMaxContainers = 10000;

bool shallowEnough(const std::string& data) {
    if (data.compare(0, 6, "bplist") == 0) {
        if (data.size() < 40) return false;
        uint64_t objects = 0;
        for (size_t i = data.size() - 24; i < data.size() - 16; ++i) objects = objects << 8 | uint8_t(data[i]);
        return objects <= kMaxContainers;
    }
    uint64_t opened = 0;
    for (size_t p = data.find('<'); p != std::string::npos; p = data.find('<', p + 1)) {
        if (data.compare(p + 1, 4, "dict") == 0 || data.compare(p + 1, 5, "array") == 0)
            if (++opened > kMaxContainers) return false;
    }
    return true;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

}  // namespace

std::string bundleVersion(const std::string& bundle) {
    std::string data;
    int err = 0;
    if (!readRegularFile(joinPath(joinPath(bundle, "Contents"), "Info.plist"), kMaxInfoBytes, data, err))
        return {};
    if (!shallowEnough(data)) return {};
    plist_t root = nullptr;
    plist_from_memory(data.data(), uint32_t(data.size()), &root);
    if (!root) return {};
    std::string version;
    if (plist_get_node_type(root) == PLIST_DICT) {
        plist_t node = plist_dict_get_item(root, "CFBundleShortVersionString");
        if (node && plist_get_node_type(node) == PLIST_STRING) {
            uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            if (text && length <= kMaxVersionBytes) version.assign(text, size_t(length));
        }
    }
    plist_free(root);
    return version;
}

std::string appProgram(const std::string& bundle, const std::string& exe) {
    return joinPath(joinPath(joinPath(bundle, "Contents"), "MacOS"), exe);
}

AppPlace findApp(const Layout& layout, const std::string& /*key*/, const std::string& item, const std::string& exe,
                 const InstalledFormat* installed) {
    AppPlace place;
    place.path = installed ? installed->path : item.empty() ? layout.appsDir() : joinPath(layout.appsDir(), item);
    if (item.empty()) {
        place.installed = installed != nullptr;
    } else {
        std::error_code ec;
        place.present = exe.empty() ? fs::is_directory(place.path, ec) : fs::exists(appProgram(place.path, exe), ec);
        place.installed = installed || place.present;
        place.unrecorded = !installed && place.present;
        if (place.present) place.version = bundleVersion(place.path);
    }
    if (installed && place.version.empty()) place.version = installed->version;
    return place;
}

bool plainlyApp(const std::string& path, const std::string& item) {
    // A NUL byte would make the system act on a shorter path than the one checked here.
    if (item.empty() || path.find('\0') != std::string::npos) return false;
    fs::path p(path);
    if (!p.has_parent_path()) return false;
    for (const fs::path& part : p)
        if (part == "." || part == "..") return false;
    if (lower(p.filename().string()) != lower(item)) return false;
    return p.parent_path() != p.root_path();
}

}  // namespace tqm
