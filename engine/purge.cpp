// Deleting an application's data folders, and the suite's shared data once no catalog
// application is left on disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/apps.h"
#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/install_folder.h"
#include "engine/safe_path.h"

namespace fs = std::filesystem;

namespace tqm {

namespace {

// A path whose status cannot be read counts as there, so that it is reported, not skipped.
bool existsHere(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
}

const std::vector<std::string>* platformGroup(const std::map<std::string, std::vector<std::string>>& groups) {
    auto it = groups.find(thisPlatform());
    return it == groups.end() ? nullptr : &it->second;
}

// The data path texts a purge of id in scope deletes.
bool purgePaths(const Engine& engine, const std::string& id, const std::string& scope,
                std::vector<std::string>& paths, std::string& error) {
    const Plugin* entry = engine.catalog ? engine.catalog->find(id) : nullptr;
    if (!entry || !entry->is_app) {
        error = id + " is not an app in the catalog: its data is unknown";
        return false;
    }
    const bool machine = scope == "machine";
    paths.clear();
    if (const auto* own = platformGroup(machine ? entry->paths_machine : entry->paths_user)) paths = *own;

    // Shared data goes only with the last catalog application on disk.
    for (const Plugin& app : engine.catalog->apps) {
        const InstalledFormat* record = nullptr;
        auto known = engine.apps.plugins.find(app.id);
        if (known != engine.apps.plugins.end()) {
            auto f = known->second.formats.find("app");
            if (f != known->second.formats.end()) record = &f->second;
        }
        const FileRef* package = app.package("app", thisPlatform());
        const AppPlace place = findApp(engine.layout, app.uninstall_key, package ? package->item : std::string(),
                                       package ? package->exe : std::string(), record);
        if (place.installed && place.present) return true;
    }
    const auto& shared = machine ? engine.catalog->shared_machine : engine.catalog->shared_user;
    if (const auto* group = platformGroup(shared)) paths.insert(paths.end(), group->begin(), group->end());
    return true;
}

bool writableHere(const fs::path& path) { return ::access(path.c_str(), W_OK) == 0; }

}  // namespace

bool Engine::canPurge(const std::string& id, const std::string& scope) const {
    std::vector<std::string> texts;
    std::string error;
    if (!purgePaths(*this, id, scope, texts, error)) return true;  // the purge reports it without rights
    for (const std::string& text : texts) {
        const std::string path = dataPath(layout, text);
        if (path.empty() || !existsHere(path)) continue;
        const fs::path p(path);
        if (!writableHere(p.parent_path())) return false;
        std::error_code ec;
        if (!fs::is_directory(fs::symlink_status(p, ec))) continue;  // a file or a link goes with its parent
        if (!writableHere(p)) return false;
        for (auto it = fs::recursive_directory_iterator(p, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            std::error_code sec;
            if (fs::is_directory(it->symlink_status(sec)) && !writableHere(it->path())) return false;
        }
    }
    return true;
}

bool Engine::purge(const std::string& id, const std::string& scope, std::string& error) {
    std::vector<std::string> texts;
    if (!purgePaths(*this, id, scope, texts, error)) return false;
    std::string failed, refused;
    auto fail = [&](const std::string& what) { failed += (failed.empty() ? "" : ", ") + what; };
    for (const std::string& text : texts) {
        const std::string path = dataPath(layout, text);
        if (path.empty()) {
            fail(text);
            continue;
        }
        if (!existsHere(path)) continue;
        const int err = detail::removeAll(path);
        if (err == detail::kLinkRefused) {
            refused += (refused.empty() ? "" : "; ") + detail::refusedText(path);
            continue;
        }
        if (err == 0) {
            if (log) log("deleted " + path);
        } else {
            fail(path);
        }
    }
    if (!failed.empty()) error = "cannot delete " + failed + " (in use?)";
    if (!refused.empty()) error = failed.empty() ? refused : error + "; " + refused;
    if (!failed.empty() || !refused.empty()) return false;
    return true;
}

}  // namespace tqm
