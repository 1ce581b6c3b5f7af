// The user's documents and application-data folders, and the override that moves both.
#include <cstdlib>
#include <mutex>

#include "platform/platform.h"

namespace lumo {

namespace {

std::mutex g_mutex;
std::string g_override;

std::string home() {
    const char* h = std::getenv("HOME");
    return h && *h ? std::string(h) : std::string("/tmp");
}

// base + "/" + rest without doubling a trailing slash of the base.
std::string under(std::string base, const char* rest) {
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    if (base != "/") base += '/';
    return base + rest;
}

}  // namespace

void setDataFolderOverride(const std::string& folder) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_override = folder;
}

std::string dataFolderOverride() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_override;
}

std::string documentsFolder() {
    std::string o = dataFolderOverride();
    return under(o.empty() ? home() : o, "Documents");
}

std::string appDataFolder() {
    std::string o = dataFolderOverride();
    return o.empty() ? under(home(), "Library/Application Support") : under(o, "AppData");
}

}  // namespace lumo
