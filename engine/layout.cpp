#include "engine/layout.h"

#include <cctype>
#include <cstdlib>

#include "engine/util.h"

namespace tqm {

namespace {

const char kMaker[] = "Ardune Systems";

std::string systemFolderName(const std::string& format) {
    if (format == "vst3") return "VST3";
    if (format == "clap") return "CLAP";
    return "Components";
}

std::string managerDataUnder(const std::string& base) {
    return joinPath(joinPath(joinPath(base, "Application Support"), kMaker), "Manager");
}

struct DataRoot {
    const char* word;
    const char* underRoot;
};

const DataRoot kDataRoots[] = {
    {"%LOCALAPPDATA%", "LocalAppData"},
    {"%APPDATA%", "AppData"},
    {"%DOCUMENTS%", "Documents"},
    {"%PROGRAMDATA%", "ProgramData"},
};

bool splitDataPath(const std::string& text, std::string& root, std::string& rest) {
    for (const DataRoot& r : kDataRoots) {
        std::string prefix = std::string(r.word) + "\\" + kMaker + "\\";
        if (text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0) {
            root = r.word;
            rest = text.substr(prefix.size());
            return true;
        }
    }
    return false;
}

std::vector<std::string> splitSegments(const std::string& rest) {
    std::vector<std::string> out = splitAt(rest, '\\');
    // One trailing backslash is allowed: it leaves an empty last piece.
    if (out.size() > 1 && out.back().empty()) out.pop_back();
    return out;
}

}  // namespace

const char* thisPlatform() { return "mac"; }

const std::vector<std::string>& formatsHere() {
    static const std::vector<std::string> formats{"vst3", "clap"};
    return formats;
}

Scope defaultScope() { return Scope::User; }

const char* scopeName(Scope scope) { return scope == Scope::System ? "system" : "user"; }

std::string joinPath(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (a.back() == '/') return a + b;
    return a + "/" + b;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    return home ? std::string(home) : std::string("/tmp");
}

std::string Layout::formatRoot(const std::string& format) const {
    if (format == "app") return appsDir();
    auto it = folders.find(format);
    if (it != folders.end() && !it->second.empty()) return it->second;
    if (!root.empty()) return joinPath(root, systemFolderName(format));
    if (scope == Scope::System) return joinPath("/Library/Audio/Plug-Ins", systemFolderName(format));
    return joinPath(joinPath(joinPath(joinPath(homeFolder(), "Library"), "Audio"), "Plug-Ins"),
                    systemFolderName(format));
}

std::string Layout::formatDir(const std::string& format) const {
    if (format == "au" || format == "app") return formatRoot(format);
    return joinPath(formatRoot(format), kMaker);
}

std::string Layout::appsDir() const {
    if (!root.empty()) return joinPath(joinPath(root, "Programs"), kMaker);
    return "/Applications";
}

std::string Layout::receiptFile() const {
    if (!root.empty()) return joinPath(joinPath(root, "data"), "installed.json");
    if (scope == Scope::System)
        return joinPath(joinPath(joinPath("/Library/Application Support", kMaker), "Manager"), "installed.json");
    return joinPath(managerDataUnder(joinPath(homeFolder(), "Library")), "installed.json");
}

std::string Layout::userData() const {
    if (!root.empty()) return joinPath(root, "data");
    return managerDataUnder(joinPath(homeFolder(), "Library"));
}

std::string Layout::appsReceiptFile() const { return joinPath(userData(), "apps.json"); }

bool dataPathOk(const std::string& text) {
    std::string root, rest;
    if (!splitDataPath(text, root, rest)) return false;
    if (rest.find_first_of("\"%*/:<>?|") != std::string::npos) return false;
    // Control bytes (a NUL above all) would cut the path short on its way to the file system.
    for (unsigned char c : rest)
        if (c < 0x20 || c == 0x7F) return false;
    std::vector<std::string> segments = splitSegments(rest);
    if (segments.empty()) return false;
    for (const std::string& s : segments)
        if (s.empty() || s == "." || s == "..") return false;
    std::string first = segments.front();
    for (char& c : first) c = char(std::tolower((unsigned char)c));
    return first != "manager";
}

std::string dataPath(const Layout& layout, const std::string& text) {
    if (!dataPathOk(text)) return std::string();
    std::string word, rest;
    splitDataPath(text, word, rest);
    std::string base;
    if (!layout.root.empty()) {
        for (const DataRoot& r : kDataRoots)
            if (word == r.word) base = joinPath(layout.root, r.underRoot);
    } else if (word == "%PROGRAMDATA%") {
        base = "/Library/Application Support";
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return std::string();
        base = std::string(home);
        base = word == "%DOCUMENTS%" ? joinPath(base, "Documents")
                                     : joinPath(joinPath(base, "Library"), "Application Support");
    }
    std::string out = joinPath(base, kMaker);
    for (const std::string& s : splitSegments(rest)) out = joinPath(out, s);
    return out;
}

}  // namespace tqm
