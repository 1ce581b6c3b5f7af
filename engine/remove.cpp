// Removal of an installed plug-in format or a companion application. Only what the receipts
// record, in folders the manager recognises as its own, is removed; an item is first moved
// aside and then deleted, so an item in use goes whole or not at all.
#include <stdio.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "engine/apps.h"
#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/install_folder.h"
#include "engine/install.h"
#include "engine/safe_path.h"

namespace fs = std::filesystem;

namespace tqm {

namespace {

std::string lastComponent(const std::string& path) { return fs::path(path).filename().string(); }

// "<name>.app", in any case.
bool appBundleName(const std::string& name) {
    if (name.size() <= 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext == ".app";
}

// A path whose status cannot be read counts as there: the move aside then says why it fails,
// instead of the record being dropped for an item that may well exist.
bool existsHere(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
}

// A recorded path the manager may delete: absolute, without "." or ".." parts, and lying
// straight in the format's install folder or in a folder of the maker's name. A NUL byte (a
// "\u0000" in the receipt) would make the system act on a shorter path than the one checked.
bool ownFolder(const Layout& layout, const std::string& format, const std::string& path) {
    if (path.find('\0') != std::string::npos) return false;
    const fs::path p(path);
    if (!p.is_absolute() || p.lexically_normal() != p || !p.has_filename()) return false;
    fs::path dir = fs::path(layout.formatDir(format)).lexically_normal();
    if (!dir.has_filename() && dir.has_relative_path()) dir = dir.parent_path();  // a final "/"
    const fs::path parent = p.parent_path();
    return parent == dir ||
           parent.filename() == kVendorDir;
}

}  // namespace

namespace detail {

int removeRecorded(const std::string& managed, const std::string& path, bool inMakersFolder, std::string& error,
                   StagingLock* guard) {
    // The folder it starts from: `managed` when path lies below it, else the folder that holds
    // path's own folder (a maker's folder in an earlier install folder) or path's folder.
    std::string base = managed;
    const fs::path p = fs::path(path).lexically_normal();
    const fs::path rel = p.parent_path().lexically_relative(fs::path(managed).lexically_normal());
    if (rel.empty() || *rel.begin() == "..")
        base = (inMakersFolder ? p.parent_path().parent_path() : p.parent_path()).string();

    DirFd dir;
    std::string name;
    int err = openParentBelow(base, path, dir, name);
    if (err == kLinkRefused) {
        error = refusedText(path);
        return err;
    }
    // The aside copy is guarded by a staging folder's lock in its own folder, as an install's is,
    // and goes through the one move-in, with no new copy to move in.
    StagingLock own;
    StagingLock* staging = guard;
    if (err == 0 && !(guard && guard->in(dir.get()))) {
        err = own.makeAt(dir.get());
        staging = &own;
    }
    std::string text;
    if (err == 0 && moveInAt(*staging, dir.get(), name, "", true, OldCopy::Goes, text) != MoveResult::Done)
        err = errno ? errno : EIO;
    if (err != 0) {
        error = "cannot remove " + path + ": " + (text.empty() ? systemText(err) : text);
        return err;
    }
    return 0;
}

}  // namespace detail

bool Engine::remove(const std::string& id, const std::string& format, std::string& error) {
    if (format == "app") return removeApp(id, error);
    auto product = receipt.plugins.find(id);
    if (product == receipt.plugins.end() || !product->second.formats.count(format)) {
        error = id + " " + format + " is not installed by the manager";
        return false;
    }
    const std::string path = product->second.formats[format].path;
    const bool there = existsHere(path);
    if (there && !ownFolder(layout, format, path)) {
        error = path + " is outside the manager's folder: left alone";
        return false;
    }
    // Noted first: a kill between the delete and the record leaves the note for the next start, and
    // no copy goes unnoted. The note and the aside copy carry the tag of an empty staging folder
    // whose lock guards them.
    // (A format folder that is not there takes no note: the copy then lies in an earlier one.)
    detail::StagingLock guard;
    std::string note, ignored;
    if (there) {
        if (!detail::mayChange(layout.receiptFile(), path, error)) return false;
        if (guard.make(layout.formatDir(format), ignored)) {
            if (!receiptWritable(layout.receiptFile(), error)) return false;  // nothing goes that stays recorded
            note = detail::noteRemoval(guard, id, format, path, path, layout.receiptFile(), error);
            if (note.empty()) {
                error = "cannot remove " + path + ": " + error;
                return false;
            }
        }
        const bool inMakersFolder = fs::path(path).parent_path().filename() == kVendorDir;
        if (detail::removeRecorded(layout.formatRoot(format), path, inMakersFolder, error, &guard) != 0) {
            detail::dropNote(note);
            return false;
        }
    }
    if (log) log("removed " + path);
    return recordChange(layout.receiptFile(), receipt, [&](Receipt& r) {
        auto recorded = r.plugins.find(id);
        if (recorded == r.plugins.end()) return;
        recorded->second.formats.erase(format);
        if (recorded->second.formats.empty()) r.plugins.erase(recorded);
    }, note, "removed " + path, error);
}

bool Engine::removeApp(const std::string& id, std::string& error) {
    const Plugin* entry = catalog ? catalog->find(id) : nullptr;
    const Plugin* app = entry && entry->is_app ? entry : nullptr;
    const std::string name = entry ? entry->name : id;
    const FileRef* package = app ? app->package("app", thisPlatform()) : nullptr;

    const InstalledFormat* record = nullptr;
    auto known = apps.plugins.find(id);
    if (known != apps.plugins.end()) {
        auto f = known->second.formats.find("app");
        if (f != known->second.formats.end()) record = &f->second;
    }

    std::string key = app ? app->uninstall_key : record ? record->uninstall_key : std::string();
    std::string item, exe;
    if (package) {
        item = package->item;
        exe = package->exe;
    } else if (record) {
        item = lastComponent(record->path);
        exe = record->exe;
    }
    if (item.empty() || exe.empty()) {
        error = name + " is not an app the manager knows how to remove";
        return false;
    }

    const AppPlace place = findApp(layout, key, item, exe, record);
    if (!place.installed) {
        error = name + " is not installed";
        return false;
    }
    if (!plainlyApp(place.path, item)) {
        error = place.path + " is not a folder the manager removes: left alone";
        return false;
    }
    // A damaged or hand-edited record may name any folder: only an application bundle goes.
    if (!appBundleName(lastComponent(place.path))) {
        error = place.path + " is not an application (its name does not end in \".app\"): left alone";
        return false;
    }
    const std::string running = appRunning(place.path);
    if (!running.empty()) {
        error = name + " is running (" + lastComponent(running) + " is in use): quit it and try again";
        return false;
    }
    detail::StagingLock guard;
    std::string note, ignored;
    if (existsHere(place.path)) {
        if (!detail::mayChange(layout.appsReceiptFile(), place.path, error)) return false;
        if (guard.make(layout.appsDir(), ignored)) {
            if (!receiptWritable(layout.appsReceiptFile(), error)) return false;
            note = detail::noteRemoval(guard, id, "app", place.path, record ? record->path : "",
                                       layout.appsReceiptFile(), error);
            if (note.empty()) {
                error = "cannot remove " + place.path + ": " + error;
                return false;
            }
        }
        if (detail::removeRecorded(fs::path(layout.appsDir()).parent_path().string(), place.path, false, error,
                                   &guard) != 0) {
            detail::dropNote(note);
            return false;
        }
    }

    if (log) log("removed " + place.path);
    return recordChange(layout.appsReceiptFile(), apps, [&](Receipt& r) { r.plugins.erase(id); }, note,
                        "removed " + place.path, error);
}

}  // namespace tqm
