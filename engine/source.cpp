#include "engine/source.h"

#include <curl/curl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "engine/layout.h"

namespace tqm {

namespace {

constexpr uint64_t kMaxFetch = 0x40000000;  // 1 GiB
const char* const kUserAgent = "VI Dazizi Dereriv";

bool isUrl(const std::string& text) { return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0; }

using Clock = std::chrono::steady_clock;

struct Transfer {
    std::string* out = nullptr;
    const Progress* progress = nullptr;
    uint64_t total = 0;  // always 0 for a download
    bool cancelled = false;
    bool stalled = false;
    CURL* curl = nullptr;
    std::chrono::milliseconds stallLimit{0};
    size_t seen = 0;              // bytes received when data last arrived
    Clock::time_point lastData;   // when data last arrived (or the transfer began)
};

size_t curlWrite(char* data, size_t size, size_t count, void* user) {
    Transfer& t = *static_cast<Transfer*>(user);
    const size_t n = size * count;
    // A body announced as larger than the cap is refused before it is gathered.
    curl_off_t announced = -1;
    if (curl_easy_getinfo(t.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
        announced > curl_off_t(kMaxFetch))
        return 0;
    if (t.out->size() + n > kMaxFetch) return 0;
    t.out->append(data, n);
    if (t.progress && *t.progress && !(*t.progress)(t.out->size(), t.total)) {
        t.cancelled = true;
        return 0;
    }
    return n;
}

// Called by libcurl about once a second while the transfer waits too, so that a caller can
// cancel and a server that stopped sending is left after the stall limit.
int curlInfo(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    Transfer& t = *static_cast<Transfer*>(user);
    if (t.progress && *t.progress && !(*t.progress)(t.out->size(), t.total)) {
        t.cancelled = true;
        return 1;
    }
    const Clock::time_point now = Clock::now();
    if (t.out->size() != t.seen) {
        t.seen = t.out->size();
        t.lastData = now;
    } else if (now - t.lastData >= t.stallLimit) {
        t.stalled = true;
        return 1;
    }
    return 0;
}

std::string stallText(std::chrono::milliseconds limit) {
    const auto ms = limit.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

bool fetchUrl(const std::string& address, std::string& out, std::string& error, const Progress& progress,
              std::chrono::milliseconds stallLimit) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) {
        error = "no network (curl)";
        return false;
    }
    out.clear();
    Transfer t;
    t.out = &out;
    t.progress = &progress;
    t.curl = curl;
    t.stallLimit = stallLimit;
    t.lastData = Clock::now();
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 30L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, curlWrite);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, curlInfo);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (t.cancelled) {
        error = "cancelled";
        return false;
    }
    if (t.stalled) {
        error = address + ": the server sent nothing for " + stallText(stallLimit);
        return false;
    }
    if (code != CURLE_OK) {
        error = address + ": " + curl_easy_strerror(code);
        return false;
    }
    return true;
}

bool fetchFile(const std::string& path, std::string& out, std::string& error, const Progress& progress) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "cannot read " + path + ": it is a folder";
        return false;
    }
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    const std::streamoff end = in.tellg();
    if (end < 0) {
        error = "cannot read " + path;
        return false;
    }
    const uint64_t size = uint64_t(end);
    if (size > kMaxFetch) {
        error = path + " is too large";
        return false;
    }
    in.seekg(0);
    out.assign(size_t(size), '\0');
    if (size && !in.read(out.data(), std::streamsize(size))) {
        error = "cannot read " + path;
        return false;
    }
    if (progress && !progress(size, size)) {
        error = "cancelled";
        return false;
    }
    return true;
}

}  // namespace

Source::Source(std::string text) {
    if (text.rfind("file://", 0) == 0) {
        text.erase(0, 7);
        if (text.size() >= 3 && text[0] == '/' && text[2] == ':') text.erase(0, 1);
    }
    if (isUrl(text) && text.back() != '/') text += '/';
    base = std::move(text);
}

bool Source::fetch(const std::string& name, std::string& out, std::string& error, const Progress& progress) const {
    if (base.empty()) {
        error = "no catalog source";
        return false;
    }
    if (isUrl(base)) return fetchUrl(base + name, out, error, progress, stallLimit);
    return fetchFile(joinPath(base, name), out, error, progress);
}

}  // namespace tqm
