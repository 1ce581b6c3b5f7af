#include "manager/model/setup.h"

namespace tqapp::setup {

namespace {
const char kRefused[] = "not on this platform";
}

std::filesystem::path Where::dir() const { return {}; }
std::filesystem::path Where::exe() const { return {}; }
std::filesystem::path Where::startMenu() const { return {}; }
std::filesystem::path Where::desktop() const { return {}; }
std::string Where::entryKey() const { return {}; }

bool installed(const Where&) { return true; }
bool runningInstalled(const Where&, const std::filesystem::path&) { return true; }

bool install(const Where&, const std::filesystem::path&, const std::string&, bool, bool, std::string& error) {
    error = kRefused;
    return false;
}

bool uninstall(const Where&, std::string& error) {
    error = kRefused;
    return false;
}

bool canUninstall(const Where&, std::string& error) {
    error = kRefused;
    return false;
}

void refreshEntry(const Where&, const std::string&) {}
void removeAfterExit(const std::filesystem::path&) {}
void launch(const std::filesystem::path&) {}

}  // namespace tqapp::setup
