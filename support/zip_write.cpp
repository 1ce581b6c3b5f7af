#include "support/zip_write.h"

#include <zip.h>

namespace support {

std::string makeZip(const std::vector<ZipItem>& items) {
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
    for (const ZipItem& it : items) {
        zip_int64_t idx;
        if (!it.name.empty() && it.name.back() == '/') {
            idx = zip_dir_add(z, it.name.substr(0, it.name.size() - 1).c_str(), ZIP_FL_ENC_GUESS);
        } else {
            zip_source_t* data = zip_source_buffer(z, it.data.data(), it.data.size(), 0);
            idx = data ? zip_file_add(z, it.name.c_str(), data, ZIP_FL_ENC_GUESS) : -1;
            if (idx < 0 && data) zip_source_free(data);
            const int32_t method = it.method ? *it.method : it.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
            if (idx >= 0 && zip_set_file_compression(z, zip_uint64_t(idx), method, 0) != 0) idx = -1;
        }
        if (idx < 0) {
            ok = false;
            break;
        }
        zip_file_set_external_attributes(z, zip_uint64_t(idx), 0, ZIP_OPSYS_UNIX, it.attr);
    }
    if (!ok || zip_close(z) != 0) {
        zip_discard(z);  // zip_close keeps the archive open when it fails
        zip_source_free(src);
        return {};
    }
    std::string out;
    zip_stat_t st;
    if (zip_source_stat(src, &st) == 0 && zip_source_open(src) == 0) {
        out.resize(st.size);
        zip_int64_t n = zip_source_read(src, out.data(), st.size);
        if (n < 0 || zip_uint64_t(n) != st.size) out.clear();
        zip_source_close(src);
    }
    zip_source_free(src);
    return out;
}

}  // namespace support
