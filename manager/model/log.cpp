#include "manager/model/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>

#include "manager/model/model.h"

namespace fs = std::filesystem;

namespace tqapp {

namespace {

std::mutex& logMutex() {
    static std::mutex m;
    return m;
}

int openForAppend(const fs::path& file) {
    return ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

}  // namespace

fs::path logPath(const std::string& userData) { return fs::path(userData) / "logs" / "manager.log"; }

void appendLog(const fs::path& file, const std::string& text) { appendLog(file, std::vector<std::string>{text}); }

void appendLog(const fs::path& file, const std::vector<std::string>& texts) {
    std::lock_guard<std::mutex> lock(logMutex());  // stamps in the file's order too
    std::string block;
    for (const std::string& text : texts) {
        char stamp[32] = "";
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        block += stamp;
        block += "  ";
        block += text;
        block += '\n';
    }
    // The folder is made only when the file cannot be opened for want of it.
    int fd = openForAppend(file);
    if (fd < 0 && errno == ENOENT) {
        std::error_code ec;
        fs::create_directories(file.parent_path(), ec);
        fd = openForAppend(file);
    }
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && uintmax_t(st.st_size) > kLogLimit) {
        ::close(fd);
        fs::path old = file;
        old.replace_extension(".old.log");
        std::error_code ec;
        fs::rename(file, old, ec);
        fd = openForAppend(file);
        if (fd < 0) return;
    }
    for (size_t done = 0; done < block.size();) {
        const ssize_t n = ::write(fd, block.data() + done, block.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    ::close(fd);
}

fs::path Model::logFile() const { return logPath(config.layout.userData()); }

void Model::log(const std::string& text) const {
    if (!config.harness) appendLog(logFile(), text);
}

}  // namespace tqapp
