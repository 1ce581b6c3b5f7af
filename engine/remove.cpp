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

// What a removal notes beside its copy before anything moves, once the receipt is known to take
// the change: nothing goes that would stay recorded.
detail::RemovalNote removalNote(const std::string& receiptFile, const std::string& id, const std::string& format,
                                const std::string& path, const std::string& recorded) {
    return [=](const detail::StagingLock& guard, std::string& error) {
        if (!receiptWritable(receiptFile, error)) return std::string();
        const std::string note = detail::noteRemoval(guard, id, format, path, recorded, receiptFile, error);
        if (note.empty()) error = "cannot remove " + path + ": " + error;
        return note;
    };
}

}  // namespace

namespace detail {

int removeRecorded(const std::string& managed, const std::string& path, bool inMakersFolder, const RemovalNote& noteFor,
                   std::string& note, std::string& error) {
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
    // The note and the aside copy carry the tag of one staging folder made beside the copy, whose
    // lock guards both: whichever sweep finds the aside copy reads its note there. It goes through
    // the one move-in, with no new copy to move in.
    StagingLock guard;
    if (err == 0) err = guard.makeAt(dir.get(), p.parent_path().string());
    if (err == 0 && noteFor) {
        note = noteFor(guard, error);
        if (note.empty()) return EIO;
    }
    std::string text;
    if (err == 0 && moveInAt(guard, dir.get(), name, "", true, OldCopy::Goes, text) != MoveResult::Done) {
        err = errno ? errno : EIO;
        dropNote(note);
        note.clear();
    }
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
    // Noted first, beside the copy: a kill between the delete and the record leaves the note for
    // the next start, and no copy goes unnoted. Nothing goes that stays recorded.
    std::string note;
    if (there) {
        const Plugin* entry = catalog ? catalog->find(id) : nullptr;
        const FileRef* ref = entry ? entry->package(format, thisPlatform()) : nullptr;
        if (!detail::mayChange(layout.receiptFile(), path, ref ? joinPath(layout.formatDir(format), ref->item) : "",
                               error))
            return false;
        const bool inMakersFolder = fs::path(path).parent_path().filename() == kVendorDir;
        if (detail::removeRecorded(layout.formatRoot(format), path, inMakersFolder,
                                   removalNote(layout.receiptFile(), id, format, path, path), note, error) != 0)
            return false;
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
    std::string note;
    if (existsHere(place.path)) {
        if (!detail::mayChange(layout.appsReceiptFile(), place.path,
                               package ? joinPath(layout.appsDir(), package->item) : "", error))
            return false;
        if (detail::removeRecorded(fs::path(layout.appsDir()).parent_path().string(), place.path, false,
                                   removalNote(layout.appsReceiptFile(), id, "app", place.path,
                                               record ? record->path : ""),
                                   note, error) != 0)
            return false;
    }

    if (log) log("removed " + place.path);
    return recordChange(layout.appsReceiptFile(), apps, [&](Receipt& r) { r.plugins.erase(id); }, note,
                        "removed " + place.path, error);
}

}  // namespace tqm
