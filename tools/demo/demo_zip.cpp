#include "tools/demo/demo_zip.h"

#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace demo {

support::ZipItem packed(std::string name, std::string data, uint32_t mode) {
    support::ZipItem item = support::zipFile(std::move(name), std::move(data), mode);
    item.method = ZIP_CM_DEFAULT;
    return item;
}

bool folderEntries(const std::string& dir, const std::string& prefix, std::vector<support::ZipItem>& out) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> paths;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        paths.push_back(it->path());
    if (ec) return false;
    std::sort(paths.begin(), paths.end());  // a folder sorts before what it holds
    out.push_back(support::zipDir(prefix + "/"));
    for (const fs::path& p : paths) {
        const std::string rel = prefix + "/" + fs::relative(p, dir, ec).generic_string();
        const fs::file_status st = fs::symlink_status(p, ec);
        if (ec) return false;
        if (fs::is_directory(st)) {
            out.push_back(support::zipDir(rel + "/"));
        } else if (fs::is_regular_file(st)) {
            std::ifstream in(p, std::ios::binary);
            std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (in.bad()) return false;
            out.push_back(packed(rel, std::move(data), uint32_t(st.permissions()) & 0777));
        }
    }
    return true;
}

}  // namespace demo
