// Plug-in install and update: unpack beside the target, move the old copy aside, move the new
// one in, and record it. Every move is a rename within the install folder.
#include <filesystem>

#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/install_folder.h"
#include "engine/install.h"
#include "engine/package.h"
#include "engine/package_cache.h"
#include "engine/safe_path.h"
#include "engine/unpack.h"
#include "engine/util.h"

namespace fs = std::filesystem;

namespace tqm {

namespace {

// The entry's package of the format here, or null with the error said.
const FileRef* installable(const Plugin& entry, const std::string& format, std::string& error) {
    const FileRef* ref = entry.package(format, thisPlatform());
    if (!ref)
        error = format == "app" ? entry.name + " has no package for " + thisPlatform()
                                : entry.name + " has no " + format + " for " + thisPlatform();
    return ref;
}

}  // namespace

bool Engine::install(const Plugin& entry, const std::string& format, const std::string& data, std::string& error) {
    if (format == "app") return installApp(entry, data, error);
    const FileRef* ref = installable(entry, format, error);
    if (!ref) return false;
    if (!detail::packageMatches(data, *ref)) {
        error = ref->path + " does not match the catalog: not installed";
        return false;
    }
    return placePlugin(entry, format, *ref, data, error);
}

bool Engine::install(const Plugin& entry, const std::string& format, const Package& package, std::string& error) {
    const FileRef* ref = installable(entry, format, error);
    if (!ref) return false;
    std::string data;
    if (!detail::samePackage(package, *ref)) {
        error = ref->path + " does not match the catalog: not installed";
        return false;
    }
    if (!package.read(data, error)) return false;
    return format == "app" ? placeApp(entry, *ref, data, error) : placePlugin(entry, format, *ref, data, error);
}

bool Engine::placePlugin(const Plugin& entry, const std::string& format, const FileRef& package,
                         const std::string& data, std::string& error) {
    const FileRef* ref = &package;
    const std::string dir = layout.formatDir(format);
    const std::string target = joinPath(dir, ref->item);
    if (!detail::createFolder(dir, error)) return false;
    std::error_code ec;
    const bool hasOld = fs::exists(target, ec);

    // A copy recorded in another install folder of ours (the user moved the format's folder).
    std::string previous;
    auto product = receipt.plugins.find(entry.id);
    if (product != receipt.plugins.end()) {
        auto rec = product->second.formats.find(format);
        if (rec != product->second.formats.end()) {
            // Only a plain path names a copy: ".../Ardune Systems/.." is the maker's folder's parent.
            const fs::path p(rec->second.path);
            if (!rec->second.path.empty() && rec->second.path.find('\0') == std::string::npos &&
                p.is_absolute() && p.lexically_normal() == p && p != fs::path(target) &&
                p.parent_path().filename() == kVendorDir && fs::exists(p, ec))
                previous = rec->second.path;
        }
    }

    detail::StagingLock staging;  // its folder goes last, on every return
    if (!staging.make(dir, error)) return false;
    if (log) log("unpack " + ref->item + " -> " + staging.path());
    if (!detail::unpackAt(data, staging.handle(), staging.path(), ref->item, error)) return false;
    InstalledFormat record;
    record.version = entry.version;
    record.path = target;
    record.package_sha256 = ref->sha256;
    record.installed = nowUtc();
    // No move without its note: a copy moved in unnoted could never be recorded after a kill. And
    // none that could not be recorded: the receipt's folder is made first, and the note names it.
    if (!receiptWritable(layout.receiptFile(), error) ||
        !detail::mayChange(layout.receiptFile(), hasOld ? target : "", target, error))
        return false;
    // The note names the copy it replaces in an earlier folder: recorded from it after a kill, that
    // copy is left to the next job (Receipt::left).
    const std::string note = detail::notePending(staging, ref->item, entry.id, format, record,
                                                 catalog ? catalog->sequence : -1, layout.receiptFile(), error,
                                                 previous);
    if (note.empty()) return false;
    if (!detail::moveInOrSay(staging, ref->item, target, hasOld, ref->item, dir, "is a host using it?", error)) {
        if (!staging.kept()) detail::dropNote(note);  // else the next sweep reads it
        return false;
    }
    // The recorded path may name the target itself under another spelling of the folder (a
    // link, a "." part): then it is the copy just moved in, not a previous one.
    if (!previous.empty() && !fs::equivalent(previous, target, ec)) removeReplaced(entry.id, format, previous);

    if (log) log("installed " + target);
    // An old copy left aside keeps the note, which tells the next sweep it is the one to delete.
    return recordChange(layout.receiptFile(), receipt, [&](Receipt& r) {
        r.plugins[entry.id].formats[format] = record;
        if (catalog) r.catalog_sequence = catalog->sequence;
    }, staging.kept() ? std::string() : note, "installed " + target, error);
}

void Engine::removeReplaced(const std::string& id, const std::string& format, const std::string& earlier) {
    // The new copy is in place either way; a copy that cannot go stays, and the log says so.
    // It goes as a removal's does: no link on its way is passed.
    // Noted beside it, so that a sweep that meets its aside copy finishes the removal.
    std::string why, removalNote;
    if (!detail::mayChange(layout.receiptFile(), earlier, "", why)) {  // not this receipt's account's copy
        if (log) log(why);
        return;
    }
    const int err = detail::removeRecorded(
        layout.formatRoot(format), earlier, true,
        [&](const detail::StagingLock& guard, std::string& e) {
            return detail::noteRemoval(guard, id, format, earlier, earlier, layout.receiptFile(), e);
        },
        removalNote, why);
    detail::dropNote(removalNote);
    if (log)
        log(err == detail::kLinkRefused ? why
            : err == 0 ? "removed the copy in the previous folder " + earlier
                       : "cannot remove the copy in the previous folder " + earlier);
}

}  // namespace tqm
