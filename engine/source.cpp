#include "engine/source.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "engine/fileread.h"
#include "engine/layout.h"

namespace tqm {

namespace {

constexpr uint64_t kMaxFetch = 0x40000000;  // 1 GiB
const char* const kUserAgent = "VI Dazizi Dereriv";

bool isUrl(const std::string& text) { return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0; }

// The last name of a path or address: messages name the file, not the whole address, so that
// the reason still shows where the line is cut.
std::string fileName(const std::string& name) {
    std::string s = name;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s.substr(s.rfind('/') + 1);
}

std::string largerText(const std::string& name, uint64_t most) {
    if (most >= kMaxFetch) return fileName(name) + " is too large (over 1 GiB)";
    return fileName(name) + " is larger than the catalog says (over " + std::to_string(most) + " bytes)";
}

using Clock = std::chrono::steady_clock;

struct Transfer {
    std::string* out = nullptr;
    const Progress* progress = nullptr;
    uint64_t total = 0;  // always 0 for a download
    uint64_t most = 0;   // the size the catalog gives, or more than the 1 GiB cap
    bool cancelled = false;
    bool stalled = false;
    bool slow = false;
    bool tooLarge = false;
    CURL* curl = nullptr;
    std::chrono::milliseconds stallLimit{0};
    size_t seen = 0;              // bytes received when data last arrived
    Clock::time_point lastData;   // when data last arrived (or the transfer began)
    uint64_t minRate = 0;
    std::chrono::milliseconds rateWindow{0};
    size_t windowBytes = 0;       // bytes received when the current rate window began
    Clock::time_point windowStart;

    uint64_t limit() const { return std::min(most, kMaxFetch); }
};

size_t curlWrite(char* data, size_t size, size_t count, void* user) {
    Transfer& t = *static_cast<Transfer*>(user);
    const size_t n = size * count;
    // A body announced as larger than the cap is refused before it is gathered. (Against the
    // catalog's size only what arrives counts: a wrong announcement alone costs nothing.)
    curl_off_t announced = -1;
    if (curl_easy_getinfo(t.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
        announced > curl_off_t(kMaxFetch)) {
        t.tooLarge = true;
        return 0;
    }
    // One that sends more is left at once; the caller sees the whole size arrive, never more.
    const bool over = t.out->size() + n > t.limit();
    t.out->append(data, over ? size_t(t.limit() - t.out->size()) : n);
    if (t.progress && *t.progress && !(*t.progress)(t.out->size(), t.total) && !over) {
        t.cancelled = true;
        return 0;
    }
    if (over) {
        t.tooLarge = true;
        return 0;
    }
    return n;
}

// Called by libcurl about once a second while the transfer waits too, so that a caller can
// cancel, and a server that stopped sending, or sends too slowly, is left.
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
    if (t.minRate && t.rateWindow.count() > 0 && now - t.windowStart >= t.rateWindow) {
        const double seconds = std::chrono::duration<double>(now - t.windowStart).count();
        if (double(t.out->size() - t.windowBytes) < double(t.minRate) * seconds) {
            t.slow = true;
            return 1;
        }
        t.windowBytes = t.out->size();
        t.windowStart = now;
    }
    return 0;
}

std::string durationText(std::chrono::milliseconds limit) {
    const auto ms = limit.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string rateText(uint64_t bytes) {
    return bytes % 1024 == 0 ? std::to_string(bytes / 1024) + " KB/s" : std::to_string(bytes) + " bytes/s";
}

std::string statusText(long status) {
    const std::string code = " (" + std::to_string(status) + ")";
    if (status == 404 || status == 410) return "the server does not have it" + code;
    if (status == 401 || status == 403) return "the server refused access to it" + code;
    if (status == 429 || status == 503) return "the server is busy: try again later" + code;
    if (status >= 500) return "the server failed" + code;
    return "the server refused the request" + code;
}

// What went wrong, in plain words, for a transfer that libcurl ended with code.
std::string transferText(CURLcode code, long status) {
    switch (code) {
        case CURLE_HTTP_RETURNED_ERROR: return statusText(status);
        case CURLE_PARTIAL_FILE: return "the server closed the connection part-way through";
        case CURLE_GOT_NOTHING: return "the server closed the connection without answering";
        case CURLE_OPERATION_TIMEDOUT: return "the server did not answer";
        case CURLE_COULDNT_CONNECT: return "the server could not be reached";
        case CURLE_COULDNT_RESOLVE_HOST: return "the server's name is unknown (is this computer online?)";
        case CURLE_COULDNT_RESOLVE_PROXY: return "the proxy's name is unknown";
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR: return "the connection broke off";
        case CURLE_TOO_MANY_REDIRECTS: return "the server sends it round in circles (too many redirects)";
        case CURLE_SSL_CONNECT_ERROR: return "the secure connection could not be set up";
        case CURLE_PEER_FAILED_VERIFICATION: return "the server's certificate is not trusted";
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT: return "the address is not valid";
        case CURLE_WEIRD_SERVER_REPLY: return "the server's answer made no sense";
        case CURLE_BAD_CONTENT_ENCODING: return "the server sent data that could not be unpacked";
        case CURLE_OUT_OF_MEMORY: return "out of memory";
        default: break;
    }
    std::string text = curl_easy_strerror(code);
    if (!text.empty()) text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
    return "the transfer failed: " + text;
}

bool fetchUrl(const Source& source, const std::string& name, std::string& out, std::string& error,
              const Progress& progress, uint64_t most) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) {
        error = "no network (curl)";
        return false;
    }
    const std::string address = source.base + name;
    out.clear();
    Transfer t;
    t.out = &out;
    t.progress = &progress;
    t.most = most;
    t.curl = curl;
    t.stallLimit = source.stallLimit;
    t.minRate = source.minRate;
    t.rateWindow = source.rateWindow;
    t.lastData = t.windowStart = Clock::now();
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
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    if (t.cancelled) {
        error = "cancelled";
        return false;
    }
    if (t.tooLarge) {
        error = largerText(name, most);
        return false;
    }
    if (t.stalled) {
        error = fileName(name) + ": the server sent nothing for " + durationText(t.stallLimit);
        return false;
    }
    if (t.slow) {
        error = fileName(name) + ": the server sent it too slowly (under " + rateText(t.minRate) + " for " +
                durationText(t.rateWindow) + ")";
        return false;
    }
    if (code != CURLE_OK) {
        error = fileName(name) + ": " + transferText(code, status);
        return false;
    }
    return true;
}

// A folder's file is measured before it is read: a pipe or device is refused without waiting
// on it, and a file larger than expected is never read at all.
bool fetchFile(const std::string& name, const std::string& path, std::string& out, std::string& error,
               const Progress& progress, uint64_t most) {
    int err = 0;
    if (!readRegularFile(path, size_t(std::min(most, kMaxFetch)), out, err)) {
        if (err == EISDIR)
            error = "cannot read " + path + ": it is a folder";
        else if (err == EINVAL)
            error = "cannot read " + path + ": it is not a plain file";
        else if (err == EFBIG)
            error = most < kMaxFetch ? largerText(name, most) : path + " is too large";
        else
            error = "cannot read " + path;
        return false;
    }
    if (progress && !progress(out.size(), out.size())) {
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

bool Source::fetch(const std::string& name, std::string& out, std::string& error, const Progress& progress,
                   uint64_t most) const {
    if (base.empty()) {
        error = "no catalog source";
        return false;
    }
    if (isUrl(base)) return fetchUrl(*this, name, out, error, progress, most);
    return fetchFile(name, joinPath(base, name), out, error, progress, most);
}

}  // namespace tqm
