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
#include "engine/safe_path.h"
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

// Whether path is an app placeApp would stage beside: a plain path of an app.
bool appFolder(const fs::path& p) { return p.is_absolute() && plainlyApp(p.string(), p.filename().string()); }

// Whether path names a copy in a maker's folder: plain, so ".../Ardune Systems/.." is not one.
bool inMakersFolder(const fs::path& p) {
    return p.is_absolute() && p.lexically_normal() == p && p.has_filename() && p.parent_path().filename() == kVendorDir;
}

// The folders of the apps the apps receipt records outside the applications folder, by id.
std::map<std::string, std::string> recordedAppFolders(const Receipt& recorded) {
    std::map<std::string, std::string> folders;
    for (const auto& [id, product] : recorded.plugins) {
        const auto app = product.formats.find("app");
        if (app != product.formats.end() && appFolder(app->second.path))
            folders[id] = fs::path(app->second.path).parent_path().string();
    }
    return folders;
}

// The maker's folders that hold the plug-ins the receipt records, by id and format: a copy in an
// earlier install folder is removed where it lies.
std::map<std::pair<std::string, std::string>, std::string> recordedPluginFolders(const Receipt& recorded) {
    std::map<std::pair<std::string, std::string>, std::string> folders;
    for (const auto& [id, product] : recorded.plugins) {
        for (const std::string& format : formatsHere()) {
            const auto f = product.formats.find(format);
            if (f != product.formats.end() && inMakersFolder(f->second.path))
                folders[{id, format}] = fs::path(f->second.path).parent_path().string();
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
    for (const auto& [copy, dir] : recordedPluginFolders(receipt)) add(copy.second, dir);
    for (const auto& [id, dir] : recordedAppFolders(apps)) add("app", dir);
    for (const auto& [copy, left] : receipt.left)
        if (inMakersFolder(copy) && std::count(formatsHere().begin(), formatsHere().end(), left.format))
            add(left.format, fs::path(copy).parent_path().string());
    for (const auto& [copy, left] : apps.left)
        if (appFolder(copy)) add("app", fs::path(copy).parent_path().string());
    return folders;
}

std::set<std::string> Engine::changedFolders(const std::vector<Task>& tasks) const {
    std::set<std::string> folders;
    const std::map<std::string, std::string> appFolders = recordedAppFolders(apps);
    const auto plugins = recordedPluginFolders(receipt);
    for (const Task& t : tasks) {
        if (t.op == "purge") continue;  // the data folders only
        if (t.op != "self" && t.format != "app") {
            folders.insert(layout.formatDir(t.format));
            const auto recorded = plugins.find({t.id, t.format});
            if (recorded != plugins.end()) folders.insert(recorded->second);
            continue;
        }
        folders.insert(layout.appsDir());
        const auto recorded = appFolders.find(t.id);
        if (t.op != "self" && recorded != appFolders.end()) folders.insert(recorded->second);
        if (t.op == "self" && !program.empty()) folders.insert(fs::path(program).parent_path().string());
    }
    return folders;
}

void Engine::endLeftChanges() {
    for (const bool app : {false, true}) {
        Receipt& mine = app ? apps : receipt;
        const std::string file = app ? layout.appsReceiptFile() : layout.receiptFile();
        struct stat owner {};
        // Root ends only what a receipt of its own names: another account's may name anything.
        if (mine.left.empty() || (detail::runningAsRoot() && (::lstat(file.c_str(), &owner) != 0 || owner.st_uid != 0)))
            continue;
        std::vector<std::string> ended;
        for (const auto& [copy, left] : mine.left) {
            const fs::path p(copy);
            const bool format = std::count(formatsHere().begin(), formatsHere().end(), left.format) > 0;
            if (!(app ? appFolder(p) : inMakersFolder(p) && format)) {  // names nothing to end
                ended.push_back(copy);
                continue;
            }
            const bool recorded = std::any_of(mine.plugins.begin(), mine.plugins.end(), [&](const auto& product) {
                return std::any_of(product.second.formats.begin(), product.second.formats.end(),
                                   [&](const auto& f) { return f.second.path == p.string(); });
            });
            std::error_code ec;
            std::string refused;
            if (!app && !left.id.empty() && !recorded && fs::exists(fs::symlink_status(p, ec)) &&
                detail::mayChange(file, copy, "", refused))
                removeReplaced(left.id, left.format, copy);
            detail::DirFd dir;
            std::vector<std::string> names;
            const int err = detail::openDir(p.parent_path().string(), dir);
            if (err == ENOENT || (err == 0 && detail::folderNames(dir.get(), names) &&
                                  std::none_of(names.begin(), names.end(), [](const std::string& name) {
                                      const detail::Entry::Kind kind = detail::parseEntry(name).kind;
                                      return kind == detail::Entry::Staging || kind == detail::Entry::Aside ||
                                             kind == detail::Entry::Note;
                                  })))
                ended.push_back(copy);
        }
        std::string error;
        if (!ended.empty() && !updateReceipt(file, mine, [&](Receipt& r) {
                for (const std::string& copy : ended) r.left.erase(copy);
            }, error, keepWaiting(waitingSentence(file), kReceiptLockWait)) && log)
            log(error);
    }
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
        if (!staging.kept()) detail::dropNote(note);  // else the next sweep reads it
        return false;
    }

    if (log) log("installed " + target);
    // An old copy left aside keeps the note, which tells the next sweep it is the one to delete.
    return recordChange(layout.appsReceiptFile(), apps, [&](Receipt& r) {
        r.plugins[entry.id].formats["app"] = rec;
        if (catalog) r.catalog_sequence = catalog->sequence;
    }, staging.kept() ? std::string() : note, "installed " + target, error);
}

}  // namespace tqm
