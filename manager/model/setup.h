#pragma once
// The manager's hooks for its own installation. The manager is placed, not installed (as an
// application bundle is): it always counts as installed and running from its place, install and
// uninstall are refused with "not on this platform", and the other hooks do nothing.
#include <filesystem>
#include <string>
#include <utility>

namespace tqapp::setup {

// Where the manager is, or would be, installed.
struct Where {
    Where() = default;
    explicit Where(std::filesystem::path root_) : root(std::move(root_)) {}

    std::filesystem::path root;  // empty: the platform default

    std::filesystem::path dir() const;        // the install folder
    std::filesystem::path exe() const;        // the installed program
    std::filesystem::path startMenu() const;  // the start-menu shortcut
    std::filesystem::path desktop() const;    // the desktop shortcut
    std::string entryKey() const;             // the system's entry for the installed manager
};

bool installed(const Where& where);
bool runningInstalled(const Where& where, const std::filesystem::path& program);
bool install(const Where& where, const std::filesystem::path& program, const std::string& version, bool startMenu,
             bool desktop, std::string& error);
bool uninstall(const Where& where, std::string& error);
// False, with uninstall's refusal, where uninstall cannot run at all: a job that would end in it
// asks first and removes nothing.
bool canUninstall(const Where& where, std::string& error);
void refreshEntry(const Where& where, const std::string& version);
void removeAfterExit(const std::filesystem::path& path);
void launch(const std::filesystem::path& program);

}  // namespace tqapp::setup
