#pragma once
// Install scope and layout: every folder the engine reads or writes is derived here.
// Nothing in this file touches the disk.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tqm {

enum class Scope : int32_t { User = 0, System = 1 };

const char* thisPlatform();
const std::vector<std::string>& formatsHere();
Scope defaultScope();
const char* scopeName(Scope scope);

// Joins two path parts with "/"; joining onto an empty path gives the second part alone.
std::string joinPath(const std::string& a, const std::string& b);

// $HOME, or "/tmp" when it is not set (an empty value is used as it is).
std::string homeFolder();

struct Layout {
    Scope scope = Scope::User;
    std::string root;                            // when set, every folder lies under it
    std::map<std::string, std::string> folders;  // per-format root overrides; empty = none

    std::string formatRoot(const std::string& format) const;
    std::string formatDir(const std::string& format) const;
    std::string appsDir() const;
    std::string receiptFile() const;
    std::string appsReceiptFile() const;
    std::string userData() const;
};

// Data path texts of the catalog: "%APPDATA%\Ardune Systems\Synth\Presets" and the like.
bool dataPathOk(const std::string& text);
std::string dataPath(const Layout& layout, const std::string& text);

}  // namespace tqm
