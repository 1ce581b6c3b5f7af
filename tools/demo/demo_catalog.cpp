// The demo catalog. Two catalogs are published into the same folder source: first an older one
// (sequence 1), from which the engine installs a few products under the demo root, then the
// current one (sequence 2) with newer versions of some of them and without one (delisted). So the
// manager opens on rows that are installed, have updates, are delisted or are not installed.
#include "tools/demo/demo_catalog.h"

#include <cstdio>
#include <filesystem>
#include <random>

#include "engine/atomic_write.h"
#include "engine/engine.h"
#include "engine/load.h"
#include "engine/sha256.h"
#include "engine/util.h"
#include "gui/draw/png_write.h"
#include "engine/source.h"
#include "manager/model/config.h"
#include "tools/catalog_signing.h"
#include "tools/demo/demo_art.h"
#include "tools/demo/demo_zip.h"

namespace fs = std::filesystem;

namespace demo {
namespace {

struct Product {
    std::string id;
    std::string name;
    std::string oldVersion;  // in the older catalog
    std::string version;     // in the current catalog; empty: delisted
    std::string description;
    Motif motif;
    bool app = false;
    std::vector<std::string> companions = {};  // apps: ids that go along
    // Installed from the older catalog under the root.
    std::vector<std::string> installed = {};
};

std::vector<Product> products() {
    return {
        {"vellum-reverb", "Vellum Reverb", "1.2.0", "1.3.0", "A dense hall and plate reverb with a soft tail.",
         {210, 0}, false, {}, {"vst3", "clap"}},
        {"quartz-delay", "Quartz Delay", "2.0.1", "2.1.0", "Crystal-clean stereo delay with tempo sync.",
         {170, 1}, false, {}, {"vst3"}},
        {"ember-drive", "Ember Drive", "1.0.0", "1.0.0", "Warm saturation from a gentle push to full fuzz.",
         {15, 2}, false, {}, {"clap"}},
        {"tidal-chorus", "Tidal Chorus", "3.1.0", "3.1.0", "Slow, wide chorus with a moving stereo field.", {190, 0}},
        {"lattice-eq", "Lattice EQ", "1.4.2", "1.4.2", "Eight-band equaliser with linear-phase mode.", {95, 1}},
        {"nimbus-pad", "Nimbus Pad", "2.2.0", "2.2.0", "A pad synthesiser of slow-moving clouds.", {265, 2}},
        {"cobalt-compressor", "Cobalt Compressor", "1.1.0", "1.1.0", "A bus compressor that glues the mix.",
         {225, 1}},
        {"ferro-tape", "Ferro Tape", "0.9.5", "1.0.0", "Tape machine: wow, flutter and soft highs.", {35, 0}},
        {"prism-shifter", "Prism Shifter", "1.0.3", "1.0.3", "Pitch and frequency shifting with feedback.",
         {300, 2}},
        {"harbor-limiter", "Harbor Limiter", "2.0.0", "2.0.0", "A transparent true-peak limiter.", {200, 1}},
        {"juniper-keys", "Juniper Keys", "1.6.0", "1.6.0", "Electric piano with tines, bark and tremolo.",
         {140, 0}},
        {"orbit-phaser", "Orbit Phaser", "1.2.1", "1.2.1", "Twelve-stage phaser with an orbiting sweep.", {330, 2}},
        {"rust-flanger", "Rust Flanger", "0.8.0", "", "A flanger no longer offered.", {25, 1}, false, {}, {"vst3"}},
        {"ardune-studio", "Ardune Studio", "4.0.0", "4.1.0", "The workstation that hosts every Ardune instrument.",
         {250, 0}, true, {"ardune-tuner"}, {"app"}},
        {"ardune-tuner", "Ardune Tuner", "1.0.0", "1.0.0", "A strobe tuner for guitars, basses and voices.",
         {120, 2}, true},
    };
}

std::string initials(const std::string& name) {
    std::string out;
    bool start = true;
    for (char c : name) {
        if (start && c != ' ') out += c;
        start = c == ' ';
    }
    return out;
}

// The tail of a bundle-shaped package: a program stub and incompressible bytes so a download can
// be watched. Deterministic per seed.
std::string padding(size_t bytes, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string out(bytes, '\0');
    for (char& c : out) c = char(rng() & 0xFF);
    return out;
}

class Writer {
public:
    Writer(const Options& o, std::string& error) : o_(o), error_(error), dir_(fs::path(o.out) / "catalog") {}

    bool write(const std::string& rel, const std::string& bytes) {
        const fs::path p = dir_ / rel;
        std::error_code ec;
        fs::create_directories(p.parent_path(), ec);
        return !ec && tqm::writeFileAtomic(p.string(), bytes, 0666, false, error_);
    }

    // Writes the file and answers its catalog object.
    bool file(const std::string& rel, const std::string& bytes, const std::string& item, const std::string& exe,
              std::string& json) {
        if (bytes.empty()) {
            error_ = "cannot make " + rel;
            return false;
        }
        if (!write(rel, bytes)) return false;
        json = "{\"path\": " + lumo::jsonQuote(rel) + ", \"sha256\": \"" + tqm::sha256Hex(bytes.data(), bytes.size()) +
               "\", \"size\": " + std::to_string(bytes.size());
        if (!item.empty()) json += ", \"item\": " + lumo::jsonQuote(item);
        if (!exe.empty()) json += ", \"exe\": " + lumo::jsonQuote(exe);
        json += "}";
        return true;
    }

    // The bundle folder "<name><ext>" of a plug-in or app at a version, zipped.
    std::string bundleZip(const Product& p, const std::string& ext, const std::string& version, size_t pad) {
        const std::string item = p.name + ext, exe = p.name;
        using support::zipDir;
        std::vector<support::ZipItem> e{zipDir(item + "/"), zipDir(item + "/Contents/"),
                                        packed(item + "/Contents/Info.plist", infoPlist(p.name, exe, version), 0644),
                                        zipDir(item + "/Contents/MacOS/"),
                                        packed(item + "/Contents/MacOS/" + exe,
                                               "#!/bin/sh\necho '" + p.name + " " + version + "'\n", 0755)};
        if (pad) {
            e.push_back(zipDir(item + "/Contents/Resources/"));
            e.push_back(packed(item + "/Contents/Resources/data.bin",
                               padding(pad, uint32_t(p.id.size() * 131 + version.size())), 0644));
        }
        return support::makeZip(e);
    }

    // "art": row pictures at 1x and 2x, logos at every scale of the window's skin.
    bool art(const Product& p, std::string& json) {
        std::string row, logo;
        for (double s : {1.0, 2.0}) {
            std::string ref;
            char label[16];
            std::snprintf(label, sizeof label, "%gx", s);
            if (!file("art/" + p.id + "-row@" + label + ".png", lumo::gui::encodePng(rowPicture(p.motif, s)), "", "", ref))
                return false;
            row += std::string(row.empty() ? "" : ", ") + lumo::jsonQuote(label) + ": " + ref;
        }
        for (double s : {1.0, 1.2, 1.25, 1.5, 2.0, 3.0}) {
            std::string ref;
            char label[16];
            std::snprintf(label, sizeof label, "%gx", s);
            const std::string png = lumo::gui::encodePng(logoPicture(p.motif, initials(p.name), s));
            if (!file("art/" + p.id + "-logo@" + label + ".png", png, "", "", ref)) return false;
            logo += std::string(logo.empty() ? "" : ", ") + lumo::jsonQuote(label) + ": " + ref;
        }
        json = "\"art\": {\"row\": {" + row + "}, \"logo\": {" + logo + "}}";
        return true;
    }

    // One product's catalog object at a version.
    bool entry(const Product& p, const std::string& version, const std::string& artJson, std::string& json) {
        json = "{\"id\": " + lumo::jsonQuote(p.id) + ", \"name\": " + lumo::jsonQuote(p.name) + ", \"version\": " + lumo::jsonQuote(version) +
               ", \"license\": \"Ardune Systems licence\", \"description\": " + lumo::jsonQuote(p.description) + ", " +
               artJson;
        const std::string stem = p.id + "-" + version;
        if (p.app) {
            std::string ref;
            const std::string item = p.name + ".app";
            if (!file("apps/" + stem + ".zip", bundleZip(p, ".app", version, 0), item, p.name, ref)) return false;
            json += ", \"uninstall_key\": " + lumo::jsonQuote(p.name) + ", \"packages\": {\"mac\": " + ref + "}";
            json += ", \"data\": {\"paths\": {\"mac\": {\"user\": [" +
                    lumo::jsonQuote("%APPDATA%\\Ardune Systems\\" + p.name) + "]}}}, \"companions\": [";
            for (size_t i = 0; i < p.companions.size(); ++i)
                json += std::string(i ? ", " : "") + "{\"id\": " + lumo::jsonQuote(p.companions[i]) + "}";
            json += "]}";
            return true;
        }
        json += ", \"packages\": {";
        const char* formats[][2] = {{"vst3", ".vst3"}, {"clap", ".clap"}, {"au", ".component"}};
        for (size_t i = 0; i < 3; ++i) {
            std::string ref;
            const std::string item = p.name + formats[i][1];
            if (!file("plugins/" + stem + "." + formats[i][0] + ".zip",
                      bundleZip(p, formats[i][1], version, size_t(o_.paddingKb) * 1024), item, "", ref))
                return false;
            json += std::string(i ? ", " : "") + lumo::jsonQuote(formats[i][0]) + ": {\"mac\": " + ref + "}";
        }
        json += "}}";
        return true;
    }

    // The manager's own package: the running build's bundle with its version raised.
    bool manager(const std::string& version, std::string& json) {
        if (o_.bundle.empty()) {
            json = "\"manager\": {\"latest\": " + lumo::jsonQuote(tqapp::kVersion) + "}";
            return true;
        }
        const std::string item = fs::path(o_.bundle).filename().string();
        std::vector<support::ZipItem> e;
        if (!folderEntries(o_.bundle, item, e)) {
            error_ = "cannot read the bundle " + o_.bundle;
            return false;
        }
        for (support::ZipItem& z : e)
            if (z.name == item + "/Contents/Info.plist") z.data = infoPlist("Ardune Systems Manager", "ardune-manager", version);
        std::string ref;
        if (!file("manager/ardune-manager-" + version + ".zip", support::makeZip(e), item, "", ref)) return false;
        json = "\"manager\": {\"latest\": " + lumo::jsonQuote(version) + ", \"packages\": {\"mac\": " + ref + "}}";
        return true;
    }

private:
    const Options& o_;
    std::string& error_;
    fs::path dir_;
};

std::string catalogText(int sequence, const std::string& managerJson, const std::vector<std::string>& plugins,
                        const std::vector<std::string>& apps) {
    std::string t = "{\"schema\": 1, \"sequence\": " + std::to_string(sequence) +
                    ", \"published\": \"2026-12-07\", " + managerJson + ",\n\"plugins\": [\n";
    for (size_t i = 0; i < plugins.size(); ++i) t += plugins[i] + (i + 1 < plugins.size() ? ",\n" : "\n");
    t += "],\n\"apps\": [\n";
    for (size_t i = 0; i < apps.size(); ++i) t += apps[i] + (i + 1 < apps.size() ? ",\n" : "\n");
    return t + "]}\n";
}

// Installs what the older catalog's products list as installed, through the engine.
bool installOld(const fs::path& out, const std::string& publicHex, const std::vector<Product>& list,
                std::string& error) {
    tqm::Source source((out / "catalog").string());
    tqm::Engine engine;
    engine.layout.root = fs::absolute(out / "root").lexically_normal().string();  // receipts hold absolute paths, as the manager does
    engine.layout.scope = tqm::Scope::User;
    tqm::LoadedCatalog loaded = tqm::loadCatalog(source, publicHex, engine.layout.userData(), false);
    if (!loaded.ok) {
        error = "the older demo catalog does not load: " + loaded.note;
        return false;
    }
    engine.source = &source;
    engine.catalog = &loaded.catalog;
    if (!engine.loadReceipt(error)) return false;
    for (const Product& p : list)
        for (const std::string& format : p.installed) {
            const tqm::Plugin* entry = loaded.catalog.find(p.id);
            std::string data;
            if (!entry || !engine.download(*entry, format, data, error, {})) return false;
            const bool ok = format == "app" ? engine.installApp(*entry, data, error)
                                            : engine.canWrite(format) && engine.install(*entry, format, data, error);
            if (!ok) {
                error = p.id + " " + format + ": " + (error.empty() ? "cannot install" : error);
                return false;
            }
        }
    return true;
}

}  // namespace

std::string nextVersion(const std::string& version) {
    const size_t a = version.find('.');
    const size_t b = a == std::string::npos ? a : version.find('.', a + 1);
    if (b == std::string::npos) return version + ".1";
    return version.substr(0, a + 1) + std::to_string(std::atoi(version.c_str() + a + 1) + 1) + ".0";
}

std::string infoPlist(const std::string& name, const std::string& executable, const std::string& version) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>" + executable + "</string>\n"
           "\t<key>CFBundleName</key>\n\t<string>" + name + "</string>\n"
           "\t<key>CFBundleShortVersionString</key>\n\t<string>" + version + "</string>\n"
           "\t<key>CFBundleVersion</key>\n\t<string>" + version + "</string>\n"
           "</dict>\n</plist>\n";
}

bool makeDemo(const Options& o, std::string& error) {
    const fs::path out(o.out);
    std::error_code ec;
    // A second demo over a first would publish an older catalog than the one the root has seen.
    if (fs::exists(out, ec) && !fs::is_empty(out, ec)) {
        error = o.out + " is not empty: remove it first";
        return false;
    }
    fs::create_directories(out / "keys", ec);
    if (ec) {
        error = "cannot create " + (out / "keys").string() + ": " + ec.message();
        return false;
    }
    const catalogsign::KeyPair keys = catalogsign::makeKeyPair();
    const std::string publicHex = catalogsign::toHex(keys.publicKey);
    Writer w(o, error);
    if (keys.secretKey.empty() || !tqm::writeFileAtomic((out / "keys/secret.hex").string(),
                                                        catalogsign::toHex(keys.secretKey) + "\n", 0666, false, error) ||
        !tqm::writeFileAtomic((out / "keys/public.hex").string(), publicHex + "\n", 0666, false, error))
        return false;

    std::vector<Product> list = products();
    for (int i = 0; i < o.entries; ++i) {
        char id[32], name[48];
        std::snprintf(id, sizeof id, "bulk-%05d", i + 1);
        std::snprintf(name, sizeof name, "Bulk Plugin %05d", i + 1);
        list.push_back({id, name, "1.0.0", "1.0.0", "One of many.", {i * 37 % 360, i % 3}});
    }

    // Pictures for the named products only: bulk entries show their names.
    std::vector<std::string> artOf(list.size(), "\"art\": {}");
    for (size_t i = 0; i < products().size(); ++i)
        if (!w.art(list[i], artOf[i])) return false;

    // Publishes one catalog: each product at the version the getter gives, skipping empty ones.
    auto publish = [&](int sequence, const std::string& managerJson, auto versionOf) {
        std::vector<std::string> plugins, apps;
        for (size_t i = 0; i < list.size(); ++i) {
            const std::string v = versionOf(list[i]);
            if (v.empty()) continue;
            std::string json;
            if (!w.entry(list[i], v, artOf[i], json)) return false;
            (list[i].app ? apps : plugins).push_back(json);
        }
        const std::string text = catalogText(sequence, managerJson, plugins, apps);
        return w.write("catalog.json", text) && w.write("catalog.json.sig", catalogsign::signBase64(keys.secretKey, text));
    };
    const std::string current = std::string("\"manager\": {\"latest\": ") + lumo::jsonQuote(tqapp::kVersion) + "}";
    if (!publish(1, current, [](const Product& p) { return p.oldVersion; }) ||
        !installOld(out, publicHex, list, error))
        return false;
    std::string managerJson;
    return w.manager(nextVersion(tqapp::kVersion), managerJson) &&
           publish(2, managerJson, [](const Product& p) { return p.version; });
}

}  // namespace demo
