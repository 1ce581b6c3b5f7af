// The manager's own update. The running bundle keeps its files open, so it is moved aside
// under a ".tqm-old-" name and left there; the new bundle takes its path, and the next start
// sweeps the aside copy away.
#include <stdio.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/engine_state.h"
#include "engine/package.h"
#include "engine/package_cache.h"
#include "engine/safe_path.h"
#include "engine/unpack.h"
#include "engine/util.h"

namespace fs = std::filesystem;

namespace tqm {

namespace {

// Only a bundle folder is replaced: outside a bundle the program's item is the executable
// itself, and putting a folder in its place would leave no program at all.
bool bundleFolder(const std::string& path) {
    std::error_code ec;
    const fs::path p(path);
    return p.extension() == ".app" && fs::is_directory(fs::symlink_status(p, ec));
}

const std::string kOld = ".tqm-old-", kStaging = ".tqm-staging-";

bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

bool Engine::canWriteSelf() const {
    if (program.empty()) return false;
    // replaceSelf refuses anything but a bundle folder, and needs no rights to say so.
    if (!bundleFolder(program)) return true;
    return detail::writable(fs::path(program).parent_path().string());
}

namespace {

// The manager's package of the catalog when the running program is a bundle that can be
// replaced; null with the error said.
const FileRef* replaceable(const Engine& engine, std::string& error) {
    const FileRef* package = engine.catalog ? engine.catalog->managerPackage() : nullptr;
    if (!package) {
        error = std::string("the catalog has no manager for ") + thisPlatform();
        return nullptr;
    }
    if (engine.program.empty()) {
        error = "no program to replace";
        return nullptr;
    }
    if (!bundleFolder(engine.program)) {
        error = engine.program + " is not an app bundle: not updated";
        return nullptr;
    }
    return package;
}

}  // namespace

bool Engine::replaceSelf(const std::string& data, std::string& error) {
    const FileRef* package = replaceable(*this, error);
    if (!package) return false;
    if (!detail::packageMatches(data, *package)) {
        error = package->path + " does not match the catalog: not updated";
        return false;
    }
    return placeSelf(*package, data, error);
}

bool Engine::replaceSelf(const Package& checked, std::string& error) {
    const FileRef* package = replaceable(*this, error);
    if (!package) return false;
    if (!detail::samePackage(checked, *package)) {
        error = package->path + " does not match the catalog: not updated";
        return false;
    }
    std::string data;
    return checked.read(data, error) && placeSelf(*package, data, error);
}

bool Engine::placeSelf(const FileRef& ref, const std::string& data, std::string& error) {
    const FileRef* package = &ref;
    const std::string dir = fs::path(program).parent_path().string();
    detail::StagingLock staging;  // its folder goes last, on every return
    if (!staging.make(dir, error)) return false;
    if (log) log("unpack " + package->item + " -> " + staging.path());
    if (!detail::unpack(data, staging.path(), package->item, error)) return false;
    const std::string unpacked = joinPath(staging.path(), package->item);
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(unpacked, ec))) {
        error = package->item + " in " + package->path + " is not an app bundle: not updated";
        return false;
    }

    // Both renames work in the open folders, whatever happens to the paths meanwhile.
    detail::DirFd folder, from;
    std::string name, itemName;
    int err = detail::openParent(program, folder, name);
    if (err == 0) err = detail::openParent(unpacked, from, itemName);
    const std::string aside = staging.asideOf(name);
    if (err == 0 && !detail::renameStep(detail::RenameStep::Aside, folder.get(), name, folder.get(), aside)) err = errno;
    if (err != 0) {
        error = err == detail::kLinkRefused ? detail::refusedText(program)
                                            : "cannot move the running manager aside: " + detail::systemText(err);
        return false;
    }
    if (!detail::renameStep(detail::RenameStep::In, from.get(), itemName, folder.get(), name)) {
        const std::string why = detail::systemText(errno);
        detail::renameStep(detail::RenameStep::Back, folder.get(), aside, folder.get(), name);
        error = "cannot move the new manager into " + dir + ": " + why;
        return false;
    }
    if (log) log("updated " + program);
    return true;
}

void Engine::sweepSelf(const std::string& item) {
    detail::DirFd dir;
    std::string name;
    std::vector<std::string> entries;
    std::vector<detail::StagingLock> held;  // the staging folders of gone writers, locked until the sweep ends
    // The folder is often the applications folder, where other jobs stage their installs: only
    // what sweepable answers (no writer of it runs) is looked at.
    if (!fs::path(item).has_parent_path() || detail::openParent(item, dir, name) != 0 ||
        !detail::sweepable(dir.get(), entries, held))
        return;
    // ".tqm-old-" + tag + "-" + name: only this bundle's aside copies go, not another app's. A
    // staging folder whose tag another app's old copy carries is that app's update, stopped
    // between its renames: it stays, so that the next job's sweep puts the old copy back.
    std::set<std::string> othersTags;
    for (const std::string& entry : entries)
        if (startsWith(entry, kOld) && !endsWith(entry, "-" + name))
            othersTags.insert(entry.substr(kOld.size(), entry.find('-', kOld.size()) - kOld.size()));
    // Their staging folders' locks go at once: a job's sweep that meets one held would leave that
    // app aside, missing, until its next job.
    std::vector<detail::StagingLock> ownLocks;
    for (detail::StagingLock& lock : held)
        if (!othersTags.count(lock.tag())) ownLocks.push_back(std::move(lock));
    held.clear();
    // An update of this bundle stopped between its renames left the bundle's name free: its old
    // copy goes back (the new one, still staged, goes with its staging folder).
    for (const std::string& entry : entries) {
        if (!startsWith(entry, kOld) || !endsWith(entry, "-" + name)) continue;
        const bool restored = !detail::lexistsAt(dir.get(), name) &&
                              detail::renameStep(detail::RenameStep::Restore, dir.get(), entry, dir.get(), name);
        if (!restored) detail::removeAllAt(dir.get(), entry);
    }
    for (const std::string& entry : entries)
        if (startsWith(entry, kStaging) && !othersTags.count(entry.substr(kStaging.size())))
            detail::removeAllAt(dir.get(), entry);
}

}  // namespace tqm
