// Plug-in install and update: unpack beside the target, move the old copy aside, move the new
// one in, and record it. Every move is a rename within the install folder.
#include <cstdio>
#include <filesystem>

#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/engine_state.h"
#include "engine/install.h"
#include "engine/unpack.h"
#include "engine/util.h"

namespace fs = std::filesystem;

namespace tqm {

namespace {

std::string systemText(int err) { return std::error_code(err, std::generic_category()).message(); }

bool renamePath(const std::string& from, const std::string& to, std::string& text) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    text = systemText(errno);
    return false;
}

}  // namespace

bool Engine::install(const Plugin& entry, const std::string& format, const std::string& data, std::string& error) {
    if (format == "app") return installApp(entry, data, error);
    const FileRef* ref = entry.package(format, thisPlatform());
    if (!ref) {
        error = entry.name + " has no " + format + " for " + thisPlatform();
        return false;
    }
    if (data.size() != ref->size || sha256Hex(data.data(), data.size()) != ref->sha256) {
        error = ref->path + " does not match the catalog: not installed";
        return false;
    }
    const std::string dir = layout.formatDir(format);
    const std::string target = joinPath(dir, ref->item);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        error = "cannot create " + dir + ": " + ec.message();
        return false;
    }
    const bool hasOld = fs::exists(target, ec);

    // A copy recorded in another install folder of ours (the user moved the format's folder).
    std::string previous;
    auto product = receipt.plugins.find(entry.id);
    if (product != receipt.plugins.end()) {
        auto rec = product->second.formats.find(format);
        if (rec != product->second.formats.end()) {
            const fs::path p(rec->second.path);
            if (!rec->second.path.empty() && p != fs::path(target) && p.parent_path().filename() == kVendorDir &&
                fs::exists(p, ec))
                previous = rec->second.path;
        }
    }

    const std::string staging = detail::stagingDir(dir);
    if (log) log("unpack " + ref->item + " -> " + staging);
    if (!detail::unpack(data, staging, ref->item, error)) {
        detail::removeAll(staging);
        return false;
    }
    std::string aside, text;
    if (hasOld) {
        aside = detail::asideName(target);
        if (!renamePath(target, aside, text)) {
            detail::removeAll(staging);
            error = "cannot move the old " + ref->item + " aside (" + text + "): is a host using it?";
            return false;
        }
    }
    if (!renamePath(joinPath(staging, ref->item), target, text)) {
        // When the old copy cannot go back either, the staging folder stays beside it so that
        // the next sweep puts it back rather than deleting it.
        if (aside.empty() || std::rename(aside.c_str(), target.c_str()) == 0) detail::removeAll(staging);
        error = "cannot move " + ref->item + " into " + dir + ": " + text;
        return false;
    }
    detail::removeAll(staging);
    if (!aside.empty()) detail::removeAll(aside);
    if (!previous.empty()) {
        detail::removeAll(previous);
        if (log) log("removed the copy in the previous folder " + previous);
    }

    InstalledFormat record;
    record.version = entry.version;
    record.path = target;
    record.package_sha256 = ref->sha256;
    record.installed = nowUtc();
    receipt.plugins[entry.id].formats[format] = record;
    if (catalog) receipt.catalog_sequence = catalog->sequence;
    if (log) log("installed " + target);
    return receipt.save(layout.receiptFile(), error);
}

}  // namespace tqm
