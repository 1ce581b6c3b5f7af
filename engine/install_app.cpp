// Application install and update, and finding a running program inside an application folder.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "engine/apps.h"
#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/install_folder.h"
#include "engine/install.h"
#include "engine/jobs.h"
#include "engine/package_cache.h"
#include "engine/unpack.h"
#include "engine/util.h"

namespace fs = std::filesystem;

namespace tqm {

std::string appRunning(const std::string& path) {
    std::error_code ec;
    std::string prefix = fs::weakly_canonical(path, ec).string();
    if (ec) prefix = path;
    prefix += "/";
    DIR* proc = ::opendir("/proc");
    if (!proc) return {};
    std::string found;
    while (dirent* e = ::readdir(proc)) {
        const char* name = e->d_name;
        if (*name < '1' || *name > '9') continue;  // process ids only, and never 0
        bool digits = true;
        for (const char* c = name; *c; ++c) digits = digits && *c >= '0' && *c <= '9';
        if (!digits) continue;
        char exe[4096];
        ssize_t n = ::readlink((std::string("/proc/") + name + "/exe").c_str(), exe, sizeof exe);
        if (n <= 0 || size_t(n) >= sizeof exe) continue;  // gone, kernel thread or not ours to read
        std::string program(exe, size_t(n));
        if (program.rfind(prefix, 0) == 0) {
            found = std::move(program);
            break;
        }
    }
    ::closedir(proc);
    return found;
}

namespace {

// The folders of the apps apps.json (as it is on disk) records outside the applications folder, by
// id: only where placeApp would stage, a plain path of an app.
std::map<std::string, std::string> recordedAppFolders(const Layout& layout) {
    std::map<std::string, std::string> folders;
    Receipt recorded;
    std::string ignored;
    if (!recorded.load(layout.appsReceiptFile(), ignored)) return folders;
    for (const auto& [id, product] : recorded.plugins) {
        const auto app = product.formats.find("app");
        if (app == product.formats.end()) continue;
        const fs::path p(app->second.path);
        if (p.is_absolute() && plainlyApp(p.string(), p.filename().string())) folders[id] = p.parent_path().string();
    }
    return folders;
}

// The maker's folders that hold the plug-ins installed.json (as it is on disk) records, by id and
// format: a copy in an earlier install folder is removed where it lies.
std::map<std::pair<std::string, std::string>, std::string> recordedPluginFolders(const Layout& layout) {
    std::map<std::pair<std::string, std::string>, std::string> folders;
    Receipt recorded;
    std::string ignored;
    if (!recorded.load(layout.receiptFile(), ignored)) return folders;
    for (const auto& [id, product] : recorded.plugins) {
        for (const std::string& format : formatsHere()) {
            const auto f = product.formats.find(format);
            if (f == product.formats.end()) continue;
            const fs::path p(f->second.path);
            if (p.is_absolute() && p.lexically_normal() == p && p.has_filename() &&
                p.parent_path().filename() == kVendorDir)
                folders[{id, format}] = p.parent_path().string();
        }
    }
    return folders;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> Engine::stagingFolders() const {
    std::vector<std::pair<std::string, std::string>> folders;
    for (const std::string& format : formatsHere()) folders.emplace_back(format, layout.formatDir(format));
    folders.emplace_back("app", layout.appsDir());
    const auto add = [&](const std::string& format, const std::string& dir) {
        const std::pair<std::string, std::string> folder{format, dir};
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    };
    for (const auto& [copy, dir] : recordedPluginFolders(layout)) add(copy.second, dir);
    for (const auto& [id, dir] : recordedAppFolders(layout)) add("app", dir);
    return folders;
}

std::set<std::string> Engine::changedFolders(const std::vector<Task>& tasks) const {
    std::set<std::string> folders;
    const std::map<std::string, std::string> apps = recordedAppFolders(layout);
    const auto plugins = recordedPluginFolders(layout);
    for (const Task& t : tasks) {
        if (t.op == "purge") continue;  // the data folders only
        if (t.op != "self" && t.format != "app") {
            folders.insert(layout.formatDir(t.format));
            const auto recorded = plugins.find({t.id, t.format});
            if (recorded != plugins.end()) folders.insert(recorded->second);
            continue;
        }
        folders.insert(layout.appsDir());
        const auto recorded = apps.find(t.id);
        if (t.op != "self" && recorded != apps.end()) folders.insert(recorded->second);
        if (t.op == "self" && !program.empty()) folders.insert(fs::path(program).parent_path().string());
    }
    return folders;
}

bool Engine::installApp(const Plugin& entry, const std::string& data, std::string& error) {
    const FileRef* ref = entry.package("app", thisPlatform());
    if (!ref) {
        error = entry.name + " has no package for " + thisPlatform();
        return false;
    }
    if (!detail::packageMatches(data, *ref)) {
        error = ref->path + " does not match the catalog: not installed";
        return false;
    }
    return placeApp(entry, *ref, data, error);
}

bool Engine::placeApp(const Plugin& entry, const FileRef& package, const std::string& data, std::string& error) {
    const FileRef* ref = &package;
    const InstalledFormat* record = nullptr;
    auto product = apps.plugins.find(entry.id);
    if (product != apps.plugins.end()) {
        auto rec = product->second.formats.find("app");
        if (rec != product->second.formats.end()) record = &rec->second;
    }
    const AppPlace place = findApp(layout, entry.uninstall_key, ref->item, ref->exe, record);
    std::string target = joinPath(layout.appsDir(), ref->item);
    if (place.present) {
        if (!plainlyApp(place.path, ref->item)) {
            error = entry.name + " is installed in " + place.path +
                    ", not a folder the manager replaces: update it with its installer";
            return false;
        }
        target = place.path;
    }
    const std::string dir = fs::path(target).parent_path().string();
    if (!detail::createFolder(dir, error)) return false;
    std::error_code ec;
    const bool hasOld = fs::exists(target, ec);
    if (hasOld) {
        const std::string running = appRunning(target);
        if (!running.empty()) {
            error = entry.name + " is running (" + fs::path(running).filename().string() +
                    " is in use): quit it and try again";
            return false;
        }
    }
    detail::StagingLock staging;  // its folder goes last, on every return
    if (!staging.make(dir, error)) return false;
    if (log) log("unpack " + ref->item + " -> " + staging.path());
    if (!detail::unpackAt(data, staging.handle(), staging.path(), ref->item, error)) return false;
    // The program itself, not a folder or a link to something else.
    struct stat program {};
    if (::fstatat(staging.handle(), appProgram(ref->item, ref->exe).c_str(), &program, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(program.st_mode)) {
        error = "the package has no " + appProgram(ref->item, ref->exe);
        return false;
    }
    InstalledFormat rec;
    rec.version = entry.version;
    rec.path = target;
    rec.package_sha256 = ref->sha256;
    rec.installed = nowUtc();
    rec.exe = ref->exe;
    rec.uninstall_key = entry.uninstall_key;
    if (!receiptWritable(layout.appsReceiptFile(), error) ||  // as an install's (install.cpp)
        !detail::mayChange(layout.appsReceiptFile(), hasOld ? target : "", joinPath(layout.appsDir(), ref->item),
                           error))
        return false;
    const std::string note = detail::notePending(staging, ref->item, entry.id, "app", rec,
                                                 catalog ? catalog->sequence : -1, layout.appsReceiptFile(), error);
    if (note.empty()) return false;
    if (!detail::moveInOrSay(staging, ref->item, target, hasOld, entry.name, dir, "is it running?", error)) {
        detail::dropNote(note);
        return false;
    }

    if (log) log("installed " + target);
    return recordChange(layout.appsReceiptFile(), apps, [&](Receipt& r) {
        r.plugins[entry.id].formats["app"] = rec;
        if (catalog) r.catalog_sequence = catalog->sequence;
    }, note, "installed " + target, error);
}

}  // namespace tqm
