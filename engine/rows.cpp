#include "engine/rows.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "engine/apps.h"
#include "engine/util.h"

namespace fs = std::filesystem;

namespace tqm {

namespace {

// Something (a link included) is at path. One lstat, no path object: rows check thousands.
bool existsAt(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

// The last component of a path as std::filesystem names it ("" after a trailing slash).
std::string lastName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folders of one format in the layout, worked out once for all rows.
struct FormatPlace {
    const std::string* format;
    std::string root;  // the format's root folder
    bool ownFolder;    // the manager installs into a maker folder below the root
};

std::vector<FormatPlace> placesOf(const Layout& layout) {
    std::vector<FormatPlace> out;
    for (const std::string& f : formatsHere()) {
        std::string root = layout.formatRoot(f);
        const bool own = fs::path(layout.formatDir(f)) != fs::path(root);
        out.push_back({&f, std::move(root), own});
    }
    return out;
}

// The name of an id no longer in the catalog: the part after its last ".".
// The last part of a dotted id ("synth" for "vendor.synth"), or the whole id when that part is empty.
std::string nameFromId(const std::string& id) {
    size_t dot = id.rfind('.');
    return dot == std::string::npos || dot + 1 == id.size() ? id : id.substr(dot + 1);
}

// A component that names an item inside a folder (not "", "." or "..").
bool itemName(const std::string& name) { return !name.empty() && name != "." && name != ".."; }

const InstalledPlugin* product(const Receipt& receipt, const std::string& id) {
    auto it = receipt.plugins.find(id);
    return it == receipt.plugins.end() ? nullptr : &it->second;
}

void pluginFormats(Row& row, const Receipt& receipt, const std::vector<FormatPlace>& places) {
    const InstalledPlugin* recorded = product(receipt, row.id);
    for (const FormatPlace& place : places) {
        const std::string& f = *place.format;
        FormatRow fr;
        std::string item;
        if (row.entry) {
            if (const FileRef* pkg = row.entry->package(f, thisPlatform())) {
                fr.available = true;
                item = pkg->item;
            }
        }
        if (recorded) {
            auto it = recorded->formats.find(f);
            if (it != recorded->formats.end()) {
                fr.installed = true;
                fr.version = it->second.version;
                fr.path = it->second.path;
                fr.present = existsAt(fr.path);
                fr.update = row.entry && compareVersions(fr.version, row.entry->version) < 0;
                item = lastName(fr.path);
            }
        }
        // The manager installs into a maker folder; a copy straight in the root is another copy.
        if (itemName(item) && place.ownFolder) {
            std::string other = joinPath(place.root, item);
            if (existsAt(other)) fr.copies.push_back(other);
        }
        if (fr.available || fr.installed) row.formats[f] = std::move(fr);
    }
    if (recorded) row.version = recorded->version();
}

bool hasOtherThanApp(const Plugin* entry) {
    if (!entry) return false;
    for (const auto& [key, platforms] : entry->packages)
        if (key != "app") return true;
    return false;
}

bool hasAppRecord(const Receipt& appsReceipt, const std::string& id) {
    const InstalledPlugin* p = product(appsReceipt, id);
    return p && p->formats.count("app");
}

void appFormats(Row& row, const Receipt& receipt, const Layout& layout, const std::vector<FormatPlace>& places,
                const Receipt& appsReceipt) {
    row.kind = 1;
    const InstalledFormat* recorded = nullptr;
    if (const InstalledPlugin* p = product(appsReceipt, row.id)) {
        auto it = p->formats.find("app");
        if (it != p->formats.end()) recorded = &it->second;
    }
    const std::string key = row.entry ? row.entry->uninstall_key : recorded ? recorded->uninstall_key : std::string();

    bool available = false;
    std::string item, exe;
    const FileRef* pkg = row.entry ? row.entry->package("app", thisPlatform()) : nullptr;
    if (pkg) {
        available = true;
        item = pkg->item;
        exe = pkg->exe;
    } else if (recorded) {
        item = lastName(recorded->path);
        exe = recorded->exe;
    }
    const AppPlace place = findApp(layout, key, item, exe, recorded);

    std::string pluginVersion;
    if (hasOtherThanApp(row.entry) || product(receipt, row.id)) {
        pluginFormats(row, receipt, places);
        pluginVersion = row.version;
    }

    FormatRow app;
    app.available = available;
    app.installed = place.installed;
    app.present = place.present;
    app.version = place.version;
    app.path = place.path;
    app.update = place.installed && row.entry && compareVersions(place.version, row.entry->version) < 0;
    row.unrecorded = place.unrecorded;
    if (place.installed) row.version = place.version;
    // The row shows the lower of the application's and its plug-ins' versions.
    if (!pluginVersion.empty() && (row.version.empty() || compareVersions(row.version, pluginVersion) > 0))
        row.version = pluginVersion;
    if (app.available || app.installed) row.formats["app"] = std::move(app);
}

State stateOf(const Row& row, const std::string& managerVersion) {
    if (!row.entry) return State::Delisted;
    const bool needs =
        !row.entry->min_manager.empty() && compareVersions(managerVersion, row.entry->min_manager) < 0;
    bool update = false, here = false, available = false;
    for (const auto& [key, f] : row.formats) {
        if (f.installed && f.present) {
            here = true;
            if (f.update) update = true;
        }
        if (f.available) available = true;
    }
    if (update) return needs ? State::NeedsManager : State::Update;
    if (!here) {
        if (!available) return State::Unavailable;
        return needs ? State::NeedsManager : State::Absent;
    }
    return State::Installed;
}

Row fromEntry(const Plugin& entry) {
    Row row;
    row.id = entry.id;
    // A name with nothing to see is shown as the product's id is when it has left the catalog.
    const bool blank =
        std::all_of(entry.name.begin(), entry.name.end(), [](char c) { return uint8_t(c) <= 32 || c == 127; });
    row.name = blank ? nameFromId(entry.id) : entry.name;
    row.entry = &entry;
    return row;
}

Row fromId(const std::string& id) {
    Row row;
    row.id = id;
    row.name = nameFromId(id);
    return row;
}

}  // namespace

const char* stateName(State state) {
    switch (state) {
        case State::Absent: return "absent";
        case State::Installed: return "installed";
        case State::Update: return "update";
        case State::NeedsManager: return "needs-manager";
        case State::Unavailable: return "unavailable";
        case State::Delisted: return "delisted";
    }
    return "?";
}

bool Row::appPlugin() const {
    if (kind != 1) return false;
    for (const auto& [key, f] : formats)
        if (key != "app") return true;
    return hasOtherThanApp(entry);
}

std::vector<Row> deriveRows(const Catalog* catalog, const Receipt& receipt, const Layout& layout,
                            const std::string& managerVersion, const Receipt& appsReceipt) {
    std::vector<Row> rows;
    const std::vector<FormatPlace> places = placesOf(layout);
    if (catalog) {
        for (const Plugin& entry : catalog->plugins) {
            Row row = fromEntry(entry);
            pluginFormats(row, receipt, places);
            row.state = stateOf(row, managerVersion);
            rows.push_back(std::move(row));
        }
    }
    for (const auto& [id, recorded] : receipt.plugins) {
        // An id with an application record is listed with the applications below; one whose
        // apps.json entry records no application is a plug-in like any other.
        if ((catalog && catalog->find(id)) || hasAppRecord(appsReceipt, id)) continue;
        Row row = fromId(id);
        pluginFormats(row, receipt, places);
        row.state = State::Delisted;
        rows.push_back(std::move(row));
    }
    if (catalog) {
        for (const Plugin& entry : catalog->apps) {
            Row row = fromEntry(entry);
            appFormats(row, receipt, layout, places, appsReceipt);
            row.state = stateOf(row, managerVersion);
            rows.push_back(std::move(row));
        }
    }
    for (const auto& [id, recorded] : appsReceipt.plugins) {
        if (catalog && catalog->find(id)) continue;
        Row row = fromId(id);
        appFormats(row, receipt, layout, places, appsReceipt);
        if (!row.formats.count("app")) continue;
        row.state = State::Delisted;
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace tqm
