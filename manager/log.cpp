#include "manager/log.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#include "manager/model.h"

namespace fs = std::filesystem;

namespace tqapp {

namespace {

std::mutex& logMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

fs::path logPath(const std::string& userData) { return fs::path(userData) / "logs" / "manager.log"; }

void appendLog(const fs::path& file, const std::string& text) { appendLog(file, std::vector<std::string>{text}); }

void appendLog(const fs::path& file, const std::vector<std::string>& texts) {
    std::lock_guard<std::mutex> lock(logMutex());
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const uintmax_t size = fs::file_size(file, ec);
    if (!ec && size > kLogLimit) {
        fs::path old = file;
        old.replace_extension(".old.log");
        fs::rename(file, old, ec);
    }
    std::FILE* f = std::fopen(file.c_str(), "ab");
    if (!f) return;
    for (const std::string& text : texts) {
        char stamp[32] = "";
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        std::fputs(stamp, f);
        std::fputs("  ", f);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fputc('\n', f);
    }
    std::fclose(f);
}

fs::path Model::logFile() const { return logPath(config.layout.userData()); }

void Model::log(const std::string& text) const {
    if (!config.harness) appendLog(logFile(), text);
}

}  // namespace tqapp
