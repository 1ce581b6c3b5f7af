#include "manager/model/settings_file.h"

#include <charconv>
#include <chrono>
#include <vector>

#include "engine/atomic_write.h"
#include "engine/file_lock.h"
#include "engine/fileread.h"

namespace tqapp {
namespace {

// Far more than any settings file holds; a larger one is not ours.
constexpr size_t kMaxFile = 1 << 20;
// A setting is written in a moment: another writer holding the lock longer is not coming back.
constexpr std::chrono::milliseconds kLockWait{2000};

// The file's lines as they are, each without its "\n". `readable` is false when the file is there
// but cannot be read: too large, not a regular file, or refused; a missing file simply has no lines.
std::vector<std::string> rawLines(const std::string& path, bool& readable) {
    std::vector<std::string> out;
    std::string text;
    int err = 0;
    readable = tqm::readRegularFile(path, kMaxFile, text, err) || err == ENOENT;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

// A line without the one "\r" before its end (a file written with CRLF line ends reads the same).
std::string content(const std::string& raw) {
    return !raw.empty() && raw.back() == '\r' ? raw.substr(0, raw.size() - 1) : raw;
}

std::vector<std::string> fileLines(const std::string& path) {
    bool readable = true;
    std::vector<std::string> lines = rawLines(path, readable);
    for (std::string& line : lines) line = content(line);
    return lines;
}

bool hasBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

bool readInt(const std::string& text, size_t& at, int& out) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
        ++at;
    const char* first = text.data() + at;
    const char* last = text.data() + text.size();
    if (first < last && *first == '+') ++first;
    const auto [p, ec] = std::from_chars(first, last, out);
    if (ec != std::errc()) return false;
    at = size_t(p - text.data());
    return true;
}

}  // namespace

std::string settingsPath(const tqm::Layout& layout) { return tqm::joinPath(layout.userData(), "settings.txt"); }
std::string sizePath(const tqm::Layout& layout) { return tqm::joinPath(layout.userData(), "window.txt"); }

void readSettings(const std::string& path, const std::function<void(const std::string&, const std::string&)>& fn) {
    for (const std::string& line : fileLines(path)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) fn(line.substr(0, eq), line.substr(eq + 1));
    }
}

std::string settingValue(const std::string& path, const std::string& key) {
    const std::string prefix = key + "=";
    for (const std::string& line : fileLines(path))
        if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    return {};
}

bool writeSetting(const std::string& path, const std::string& key, const std::string& value) {
    if (hasBreak(key) || hasBreak(value) || key.find('=') != std::string::npos) return false;
    const std::string prefix = key + "=";
    // Writers in other processes read and rewrite the file one at a time, or one would put back
    // what it read before another's change. Without the lock in time nothing is written.
    const tqm::FileLock lock(path + ".lock", kLockWait);
    if (!lock.held()) return false;
    // A file that is there but cannot be read is left as it is: rewriting it would lose every
    // other setting in it.
    bool readable = true;
    const std::vector<std::string> lines = rawLines(path, readable);
    if (!readable) return false;
    std::string text;
    for (const std::string& line : lines) {
        const std::string kept = content(line);
        if (!kept.empty() && kept.rfind(prefix, 0) != 0) text += line + "\n";  // other lines byte for byte
    }
    text += prefix + value + "\n";
    return writeWhole(path, text);
}

bool holdsControlByte(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

tqm::Scope scopeOf(const std::string& word) {
    if (word == tqm::scopeName(tqm::Scope::User)) return tqm::Scope::User;
    if (word == tqm::scopeName(tqm::Scope::System)) return tqm::Scope::System;
    return tqm::defaultScope();
}

std::vector<std::string> applySettings(const std::string& path, tqm::Layout& layout, bool keepScope) {
    std::vector<std::string> notes;
    readSettings(path, [&](const std::string& key, const std::string& value) {
        if (key == "scope" && !keepScope) {
            layout.scope = scopeOf(value);
        } else if (key.rfind("folder.", 0) == 0 && !value.empty()) {
            // Joined into every install path: a relative one would install below wherever the
            // manager was started, and a control byte has no place in a folder name.
            const std::string format = key.substr(7);
            if (holdsControlByte(value) || holdsControlByte(format))
                notes.push_back("The stored folder for " + (holdsControlByte(format) ? "a format" : format) +
                                " holds a control character: not used");
            else if (value.front() != '/')
                notes.push_back("The stored folder for " + format + " (" + value + ") is not a full path: not used");
            else
                layout.folders[format] = value;
        }
    });
    return notes;
}

std::string notSavedText(const std::string& path) {
    return "Cannot save the setting in " + path + ": it holds until the manager quits";
}

bool readSize(const std::string& path, int& w, int& h) {
    std::string text;
    int err = 0;
    if (!tqm::readRegularFile(path, kMaxFile, text, err)) return false;
    size_t at = 0;
    int a = 0, b = 0;
    if (!readInt(text, at, a) || !readInt(text, at, b)) return false;
    w = a;
    h = b;
    return true;
}

bool writeSize(const std::string& path, int w, int h) {
    return writeWhole(path, std::to_string(w) + " " + std::to_string(h) + "\n");
}

bool writeWhole(const std::string& path, const std::string& text) {
    tqm::WriteFailure failure;
    return tqm::writeFileAtomic(path, text, 0644, true, failure);
}

}  // namespace tqapp
