#pragma once
// A small signed catalog with real packages in a folder source, for job tests: one plug-in in
// two formats, two companion apps with data folders, shared data and the manager's own package.
// Header-only; the programs that use it link libsodium and libzip through the engine.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/load.h"
#include "engine/source.h"
#include "engine/util.h"
#include "tests/support/temp_home.h"
#include "tests/support/zip_maker.h"
#include "tools/catalog_signing.h"

namespace testsupport {

class JobCatalog {
public:
    // The packages and the signed catalog are written into sourceDir.
    explicit JobCatalog(std::string sourceDir) : source_(std::move(sourceDir)), keys_(catalogsign::makeKeyPair()) {}

    const std::string& source() const { return source_; }
    std::string publicKeyHex() const { return catalogsign::toHex(keys_.publicKey); }

    // The program's entry lets everyone write: root must not keep that.
    static std::string pluginZip(const std::string& item, const std::string& marker) {
        return makeZip({zipDir(item + "/"), zipFile(item + "/Contents/Info.plist", marker),
                        zipFile(item + "/Contents/MacOS/Synth", "bin", 0777)});
    }
    static std::string appZip(const std::string& item, const std::string& exe, const std::string& marker) {
        return makeZip({zipDir(item + "/"), zipFile(item + "/Contents/Info.plist", marker),
                        zipFile(item + "/Contents/MacOS/" + exe, marker, 0755)});
    }

    // Writes the package into the source; answers its file object.
    std::string file(const std::string& path, const std::string& zip, const std::string& item,
                     const std::string& exe = "") const {
        writeFile(source_ + "/" + path, zip);
        std::string out = "{\"path\": \"" + path + "\", \"sha256\": \"" + tqm::sha256Hex(zip.data(), zip.size()) +
                          "\", \"size\": " + std::to_string(zip.size()) + ", \"item\": \"" + item + "\"";
        if (!exe.empty()) out += ", \"exe\": \"" + exe + "\"";
        return out + "}";
    }

    // The catalog text for the given version of everything, with its packages written.
    std::string text(const std::string& version, int sequence = 1) const {
        const std::string v = version;
        return "{\"schema\": 1, \"sequence\": " + std::to_string(sequence) +
               ", \"manager\": {\"latest\": \"" + v + "\", \"packages\": {\"mac\": " +
               file("manager/Manager-" + v + ".zip", appZip("Manager.app", "manager", "manager " + v), "Manager.app") +
               "}},"
               " \"plugins\": [{\"id\": \"synth\", \"name\": \"Synth\", \"version\": \"" + v +
               "\", \"packages\": {\"vst3\": {\"mac\": " +
               file("plugins/Synth-" + v + ".vst3.zip", pluginZip("Synth.vst3", "vst3 " + v), "Synth.vst3") +
               "}, \"clap\": {\"mac\": " +
               file("plugins/Synth-" + v + ".clap.zip", pluginZip("Synth.clap", "clap " + v), "Synth.clap") + "}}}],"
               " \"shared_data\": {\"mac\": {\"user\": [\"%APPDATA%\\\\Ardune Systems\\\\Shared\"],"
               " \"machine\": [\"%PROGRAMDATA%\\\\Ardune Systems\\\\Shared\"]}},"
               " \"apps\": [" +
               app("studio", "Studio", "Studio.app", "Studio", v) + ", " + app("tuner", "Tuner", "Tuner.app", "Tuner", v) +
               "]}";
    }

    // Signs text and puts it into the source as "catalog.json" and "catalog.json.sig".
    void publish(const std::string& text) const {
        writeFile(source_ + "/catalog.json", text);
        writeFile(source_ + "/catalog.json.sig", catalogsign::signBase64(keys_.secretKey, text));
    }

private:
    std::string app(const std::string& id, const std::string& name, const std::string& item, const std::string& exe,
                    const std::string& v) const {
        return "{\"id\": \"" + id + "\", \"name\": \"" + name + "\", \"version\": \"" + v +
               "\", \"uninstall_key\": \"" + name + "\", \"packages\": {\"mac\": " +
               file("apps/" + name + "-" + v + ".zip", appZip(item, exe, name + " " + v), item, exe) +
               "}, \"data\": {\"paths\": {\"mac\": {\"user\": [\"%APPDATA%\\\\Ardune Systems\\\\" + name +
               "\"], \"machine\": [\"%PROGRAMDATA%\\\\Ardune Systems\\\\" + name + "\"]}}}}";
    }

    std::string source_;
    catalogsign::KeyPair keys_;
};

// An engine on a private root with the catalog above loaded from its folder source.
class JobTest : public TempHomeTest {
protected:
    void SetUp() override {
        engine.layout.root = path("root");
        engine.source = &source;
        engine.log = [this](const std::string& line) { logLines.push_back(line); };
        publish("1.0.0", 1);
    }

    // Publishes and loads everything at version v (the cache for the helper is written too).
    void publish(const std::string& v, int sequence) {
        catalog.publish(catalog.text(v, sequence));
        loaded = tqm::loadCatalog(source, catalog.publicKeyHex(), engine.layout.userData(), false);
        ASSERT_TRUE(loaded.ok) << loaded.note;
        engine.catalog = &loaded.catalog;
    }

    // Loads versions 1.0.0 and 2.0.0 into versions (the engine keeps the later one).
    void publishTwoVersions() {
        versions[0] = loaded;
        publish("2.0.0", 2);
        versions[1] = loaded;
    }
    std::string vst3() const { return engine.layout.formatDir("vst3"); }
    // What an install of synth's VST3 made (and the receipt) that other accounts may write.
    std::vector<std::string> othersMayWrite() const {
        std::vector<std::string> made{engine.layout.receiptFile(), vst3() + "/Synth.vst3"}, open;
        std::error_code ec;
        for (const auto& e : std::filesystem::recursive_directory_iterator(vst3() + "/Synth.vst3", ec))
            made.push_back(e.path());
        for (const std::string& p : made) {
            struct stat st {};
            if (::lstat(p.c_str(), &st) != 0 || (st.st_mode & 022)) open.push_back(p);
        }
        return open;
    }
    std::string appsDir() const { return engine.layout.appsDir(); }
    std::string data(const std::string& root, const std::string& name) const {
        return path("root/" + root + "/Ardune Systems/" + name);
    }

    JobCatalog catalog{path("source")};
    tqm::Source source{path("source")};
    tqm::LoadedCatalog loaded;
    tqm::LoadedCatalog versions[2];  // publishTwoVersions
    tqm::Engine engine;
    std::vector<std::string> logLines;
};

}  // namespace testsupport
