#include "tools/demo/demo_zip.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace demo {

std::string makeZip(const std::vector<ZipEntry>& entries) {
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t* src = zip_source_buffer_create(nullptr, 0, 0, &err);
    zip_error_fini(&err);
    if (!src) return {};
    zip_source_keep(src);
    zip_t* z = zip_open_from_source(src, ZIP_TRUNCATE, nullptr);
    if (!z) {
        zip_source_free(src);
        return {};
    }
    bool ok = true;
    for (const ZipEntry& e : entries) {
        const bool folder = !e.name.empty() && e.name.back() == '/';
        zip_int64_t idx;
        if (folder) {
            idx = zip_dir_add(z, e.name.substr(0, e.name.size() - 1).c_str(), ZIP_FL_ENC_UTF_8);
        } else {
            zip_source_t* data = zip_source_buffer(z, e.data.data(), e.data.size(), 0);
            idx = data ? zip_file_add(z, e.name.c_str(), data, ZIP_FL_ENC_UTF_8) : -1;
            if (idx < 0 && data) zip_source_free(data);
        }
        if (idx < 0) {
            ok = false;
            break;
        }
        const uint32_t type = folder ? S_IFDIR : S_IFREG;
        zip_file_set_external_attributes(z, zip_uint64_t(idx), 0, ZIP_OPSYS_UNIX, (type | (e.mode & 07777)) << 16);
    }
    if (!ok || zip_close(z) != 0) {
        zip_discard(z);
        zip_source_free(src);
        return {};
    }
    std::string out;
    zip_stat_t st;
    if (zip_source_stat(src, &st) == 0 && zip_source_open(src) == 0) {
        out.resize(st.size);
        const zip_int64_t n = zip_source_read(src, out.data(), st.size);
        if (n < 0 || zip_uint64_t(n) != st.size) out.clear();
        zip_source_close(src);
    }
    zip_source_free(src);
    return out;
}

bool folderEntries(const std::string& dir, const std::string& prefix, std::vector<ZipEntry>& out) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> paths;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        paths.push_back(it->path());
    if (ec) return false;
    std::sort(paths.begin(), paths.end());  // a folder sorts before what it holds
    out.push_back({prefix + "/", "", 0755});
    for (const fs::path& p : paths) {
        const std::string rel = prefix + "/" + fs::relative(p, dir, ec).generic_string();
        const fs::file_status st = fs::symlink_status(p, ec);
        if (ec) return false;
        if (fs::is_directory(st)) {
            out.push_back({rel + "/", "", 0755});
        } else if (fs::is_regular_file(st)) {
            std::ifstream in(p, std::ios::binary);
            std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (in.bad()) return false;
            out.push_back({rel, std::move(data), uint32_t(st.permissions()) & 0777});
        }
    }
    return true;
}

}  // namespace demo
