// The manager's own update. The running bundle keeps its files open, so it is moved aside
// under a ".tqm-old-" name and left there; the new bundle takes its path, and the next start
// sweeps the aside copy away.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/install_folder.h"
#include "engine/install_folder_steps.h"
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
    if (!detail::unpackAt(data, staging.handle(), staging.path(), package->item, error)) return false;
    struct stat unpacked {};
    if (::fstatat(staging.handle(), package->item.c_str(), &unpacked, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(unpacked.st_mode)) {
        error = package->item + " in " + package->path + " is not an app bundle: not updated";
        return false;
    }
    // The running bundle keeps its files open: it stays aside, and the next start's sweep removes it.
    std::string text;
    switch (detail::moveIn(staging, package->item, program, true, text, detail::OldCopy::StaysAside)) {
    case detail::MoveResult::Refused:
        error = text;
        return false;
    case detail::MoveResult::AsideFailed:
        error = "cannot move the running manager aside: " + text;
        return false;
    case detail::MoveResult::MoveInFailed:
        error = "cannot move the new manager into " + dir + ": " + text;
        return false;
    case detail::MoveResult::OldCopyLeft:  // not answered when the old copy stays aside
    case detail::MoveResult::Done:
        break;
    }
    if (log) log("updated " + program);
    return true;
}

void Engine::sweepSelf(const std::string& item) {
    detail::DirFd dir;
    std::string name;
    if (!fs::path(item).has_parent_path() || detail::openParent(item, dir, name) != 0) return;
    // The folder is often the applications folder, where other jobs stage their installs: only
    // what sweepable answers (no writer of it runs) is looked at, under the folder's sweep claim.
    // A start waits for that claim briefly and, not had, leaves the sweep to the next start.
    detail::SweepClaim claim;
    const auto until = std::chrono::steady_clock::now() + kStartLockWait;
    detail::Sweepable folder;  // the staging folders of gone writers, locked until the sweep ends
    if (!claim.take(dir.get(), fs::path(item).parent_path().string(),
                    [&] { return std::chrono::steady_clock::now() < until; }) ||
        !detail::sweepable(dir.get(), claim, folder))
        return;
    // Only this bundle's aside copies are its own, not another app's. A staging folder whose tag
    // another app's aside copy carries is that app's update or removal: it stays, with its note,
    // for the job's sweep of the folder that reads them.
    std::set<std::string> othersTags;
    for (const std::string& entry : folder.names) {
        const detail::Entry e = detail::parseEntry(entry);
        if ((e.kind == detail::Entry::Aside || e.kind == detail::Entry::Gone) && e.name != name)
            othersTags.insert(e.tag);
    }
    // Their staging folders' locks go at once: a job's sweep that meets one held would leave that
    // app aside, missing, until its next job.
    std::vector<detail::StagingLock> ownLocks;
    for (detail::StagingLock& lock : folder.held)
        if (!othersTags.count(lock.tag())) ownLocks.push_back(std::move(lock));
    folder.held.clear();
    // Each change only while the claim counts (its file may have been taken away meanwhile).
    const auto lost = [&] {
        if (claim.held()) return false;
        if (log) log("not swept: " + claim.failure());
        return true;
    };
    for (const std::string& entry : folder.names) {
        const detail::Entry e = detail::parseEntry(entry);
        if ((e.kind != detail::Entry::Aside && e.kind != detail::Entry::Gone) || e.name != name) continue;
        if (lost()) return;
        detail::restoreOrRemove(dir.get(), folder, entry, true);  // the running copy's own, noteless
    }
    for (const std::string& entry : folder.names) {
        const detail::Entry e = detail::parseEntry(entry);
        if (e.kind != detail::Entry::Staging || othersTags.count(e.tag)) continue;
        if (lost()) return;
        detail::removeStagingAt(dir.get(), entry);
    }
}

}  // namespace tqm
