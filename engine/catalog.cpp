#include "engine/catalog.h"

#include <cmath>
#include <limits>
#include <string_view>

#include "engine/catalog_numbers.h"
#include "engine/layout.h"
#include "json/json.h"

namespace tqm {

namespace {

using lumo::Json;

FileRef fileRef(const Json& v) {
    FileRef f;
    // One walk over the members rather than a look-up for each field: a catalog holds thousands.
    for (const auto& [key, value] : v.object()) {
        if (key == "path") f.path = value.string();
        else if (key == "sha256") f.sha256 = value.string();
        else if (key == "size") f.size = jsonUint64(value);
        else if (key == "item") f.item = value.string();
        else if (key == "exe") f.exe = value.string();
    }
    // Digests compare as the lower-case digits sha256Hex gives.
    for (char& c : f.sha256)
        if (c >= 'A' && c <= 'F') c = char(c - 'A' + 'a');
    return f;
}

// Control bytes (a NUL above all, which "\u0000" yields) would cut a name short on its way to the
// file system: "..\u0000x" passes as a name and arrives as "..".
bool hasControl(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

// A relative path that cannot leave its base.
bool safeRel(const std::string& path) {
    if (path.empty() || path[0] == '/' || hasControl(path)) return false;
    if (path.find_first_of("\\:") != std::string::npos) return false;
    size_t start = 0;
    while (start < path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        const std::string_view segment = std::string_view(path).substr(start, slash - start);
        if (segment.empty() || segment == "." || segment == "..") return false;
        start = slash + 1;  // a single slash at the very end ends the loop here
    }
    return true;
}

// A single path component.
bool safeItem(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || hasControl(name)) return false;
    return name.find_first_of("/:\\") == std::string::npos;
}

// Exactly 64 hexadecimal digits (fileRef has lowered the letters).
bool sha256Ok(const std::string& hex) {
    if (hex.size() != 64) return false;
    for (char c : hex)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

bool refOk(const FileRef& f) { return safeRel(f.path) && sha256Ok(f.sha256) && safeItem(f.item); }

void readArt(const Json& entry, Plugin& p) {
    // The keys come in order and once each: every one goes at the end.
    for (const auto& [key, value] : entry["art"]["row"].object())
        p.art_row.emplace_hint(p.art_row.end(), key, fileRef(value));
    for (const auto& [key, value] : entry["art"]["logo"].object())
        p.art_logo.emplace_hint(p.art_logo.end(), key, fileRef(value));
}

bool artOk(const Plugin& p, std::string& error) {
    for (const auto* art : {&p.art_row, &p.art_logo})
        for (const auto& [key, ref] : *art)
            if (!safeRel(ref.path)) {
                error = p.id + ": an art path that is not safe";
                return false;
            }
    return true;
}

void readCommon(const Json& entry, Plugin& p) {
    p.id = entry["id"].string();
    p.name = entry["name"].string();
    p.version = entry["version"].string();
    p.license = entry["license"].string();
    p.description = entry["description"].string();
    p.min_manager = entry["min_manager"].string();
}

// Data path groups: group key -> {"user": [...], "machine": [...]}; prefix starts the message.
bool readPaths(const Json& groups, std::map<std::string, std::vector<std::string>>& user,
               std::map<std::string, std::vector<std::string>>& machine, const std::string& prefix,
               std::string& error) {
    for (const auto& [group, value] : groups.object()) {
        for (const char* scope : {"user", "machine"}) {
            auto& out = scope[0] == 'u' ? user : machine;
            for (const Json& item : value[scope].array()) {
                const std::string& path = item.string();
                if (!dataPathOk(path)) {
                    error = prefix + path;
                    return false;
                }
                out[group].push_back(path);
            }
        }
    }
    return true;
}

// Packages of the form format -> platform -> file object; an app's carried plug-ins may not use "app".
bool readFormatPackages(const Json& formats, Plugin& p, bool carried, std::string& error) {
    for (const auto& [format, platforms] : formats.object()) {
        if (carried && format == "app") {
            error = p.id + ": plugin_packages cannot hold the app's own package";
            return false;
        }
        for (const auto& [platform, value] : platforms.object()) {
            FileRef f = fileRef(value);
            if (!refOk(f)) {
                error = p.id + " " + format + ": a package entry without a safe path, sha256 and item";
                return false;
            }
            p.packages[format][platform] = std::move(f);
        }
    }
    return true;
}

bool readPlugin(const Json& entry, Plugin& p, std::string& error) {
    readCommon(entry, p);
    if (p.id.empty() || p.version.empty()) {
        error = "a catalog entry has no id or version";
        return false;
    }
    readArt(entry, p);
    if (!readFormatPackages(entry["packages"], p, false, error)) return false;
    if (!artOk(p, error)) return false;
    p.is_app = false;
    return true;
}

bool readApp(const Json& entry, const Catalog& catalog, Plugin& p, std::string& error) {
    p.is_app = true;
    readCommon(entry, p);
    p.uninstall_key = entry["uninstall_key"].string();
    if (p.id.empty() || p.version.empty() || !safeItem(p.uninstall_key)) {
        error = "an app entry has no id, version or uninstall key";
        return false;
    }
    readArt(entry, p);
    for (const auto& [platform, value] : entry["packages"].object()) {
        FileRef f = fileRef(value);
        if (!refOk(f) || !safeItem(f.exe)) {
            error = p.id + " " + platform + ": a package entry without a safe path, sha256, item and exe";
            return false;
        }
        p.packages["app"][platform] = std::move(f);
    }
    if (!readFormatPackages(entry["plugin_packages"], p, true, error)) return false;
    const Json& data = entry["data"];
    p.note = data["note"].string();
    p.kept = data["kept"].string();
    if (!readPaths(data["paths"], p.paths_user, p.paths_machine, p.id + ": a data path that is not an app's: ", error))
        return false;
    for (const Json& c : entry["companions"].array()) {
        Companion companion{c["id"].string(), c["min_version"].string()};
        if (companion.id.empty() || companion.id == p.id) {
            error = p.id + ": a companion without an id";
            return false;
        }
        p.companions.push_back(std::move(companion));
    }
    if (!artOk(p, error)) return false;
    if (catalog.find(p.id)) {
        error = p.id + " is listed twice";
        return false;
    }
    return true;
}

}  // namespace

const FileRef* Plugin::package(const std::string& format, const std::string& platform) const {
    auto f = packages.find(format);
    if (f == packages.end()) return nullptr;
    auto p = f->second.find(platform);
    return p == f->second.end() ? nullptr : &p->second;
}

const Plugin* Catalog::find(const std::string& id) const { return index.find(*this, id); }

void Catalog::Index::reset() const {
    places_.clear();
    plugins_ = apps_ = 0;
}

void Catalog::Index::update(const Catalog& catalog) const {
    if (catalog.plugins.size() < plugins_ || catalog.apps.size() < apps_) reset();
    // A plug-in goes before an app of the same id; among equals the first stays.
    for (; plugins_ < catalog.plugins.size(); ++plugins_) {
        auto [it, fresh] = places_.try_emplace(catalog.plugins[plugins_].id, false, plugins_);
        if (!fresh && it->second.first) it->second = {false, plugins_};
    }
    for (; apps_ < catalog.apps.size(); ++apps_) places_.try_emplace(catalog.apps[apps_].id, true, apps_);
}

const Plugin* Catalog::Index::find(const Catalog& catalog, const std::string& id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    update(catalog);
    if (const auto it = places_.find(id); it != places_.end()) {
        const auto& list = it->second.first ? catalog.apps : catalog.plugins;
        if (list[it->second.second].id == id) return &list[it->second.second];
    }
    // Not where the index says: an id that is not there, or entries changed in place since the index
    // was made, which a look through the lists tells apart.
    for (const auto* list : {&catalog.plugins, &catalog.apps})
        for (const Plugin& p : *list)
            if (p.id == id) {
                reset();
                return &p;
            }
    return nullptr;
}

const FileRef* Catalog::managerPackage() const {
    auto it = manager_packages.find(thisPlatform());
    if (it == manager_packages.end() || it->second.path.empty()) return nullptr;
    return &it->second;
}

bool parseCatalog(const std::string& text, Catalog& catalog, std::string& error) {
    // The plug-ins, by far the most of a catalog, are read as the text is: no entry's tree stands
    // beside the others. A "plugins" given again starts them over, as it replaces the first.
    std::vector<Plugin> plugins;
    std::string pluginError;
    bool pluginFailed = false;
    const Json doc = Json::parse(text, [&](const std::string& key, Json* entry) {
        if (key != "plugins") return false;
        if (!entry) {
            plugins.clear();
            pluginFailed = false;
        } else if (!pluginFailed) {
            Plugin p;
            pluginFailed = !readPlugin(*entry, p, pluginError);
            if (!pluginFailed) plugins.push_back(std::move(p));
        }
        return true;
    });
    if (!doc.isObject()) {
        error = "the catalog is not JSON";
        return false;
    }
    catalog = Catalog();
    catalog.schema = jsonRoundInt32(doc["schema"]);
    if (catalog.schema != 1) {
        error =
            "the catalog is schema " + std::to_string(catalog.schema) + " (this manager reads 1): update the manager";
        return false;
    }
    catalog.sequence = jsonInt64(doc["sequence"]);
    catalog.published = doc["published"].string();
    catalog.base_url = doc["base_url"].string();
    const Json& manager = doc["manager"];
    catalog.manager_latest = manager["latest"].string();
    catalog.manager_minimum = manager["minimum"].string();
    for (const auto& [platform, value] : manager["packages"].object()) {
        FileRef f = fileRef(value);
        if (!refOk(f)) {
            error = "the manager's " + platform + " package has no safe path, sha256 and item";
            return false;
        }
        catalog.manager_packages[platform] = std::move(f);
    }
    if (doc["plugins"].isArray()) {
        catalog.plugins = std::move(plugins);
        if (pluginFailed) {
            error = pluginError;
            return false;
        }
    }
    if (!readPaths(doc["shared_data"], catalog.shared_user, catalog.shared_machine,
                   "a shared data path that is not the suite's: ", error))
        return false;
    for (const Json& entry : doc["apps"].array()) {
        Plugin p;
        if (!readApp(entry, catalog, p, error)) return false;
        catalog.apps.push_back(std::move(p));
    }
    return true;
}

int32_t jsonRoundInt32(const lumo::Json& v) {
    if (!v.isNumber() || std::isnan(v.number)) return 0;
    const double r = std::round(v.number);  // half away from zero
    if (r <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    if (r >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    return int32_t(r);
}

int64_t jsonInt64(const lumo::Json& v) {
    if (!v.isNumber() || std::isnan(v.number)) return 0;
    const double t = std::trunc(v.number);
    // 2^63 is exactly representable; everything at or above it saturates.
    if (t >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (t <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return int64_t(t);
}

uint64_t jsonUint64(const lumo::Json& v) {
    if (!v.isNumber() || std::isnan(v.number)) return 0;
    const double t = std::trunc(v.number);
    if (t <= 0) return 0;
    if (t >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    return uint64_t(t);
}

}  // namespace tqm
