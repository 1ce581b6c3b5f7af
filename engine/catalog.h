#pragma once
// The catalog model: everything the maker publishes, read from "catalog.json".
// Every path, item name and key that later reaches the disk is checked once, in parseCatalog.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace tqm {

// One downloadable file.
struct FileRef {
    std::string path;    // relative to the catalog's base, forward slashes
    std::string sha256;  // 64 hexadecimal digits
    uint64_t size = 0;   // bytes
    std::string item;    // the one file or bundle folder the package places into its target folder
    std::string exe;     // an app's program name (single path component)
};

// Another app that an app works with.
struct Companion {
    std::string id;
    std::string min_version;  // may be empty
};

// One catalog entry: a plug-in or an app.
struct Plugin {
    std::string id;
    std::string name;
    std::string version;
    std::string license;
    std::string description;
    std::string min_manager;
    // format key ("vst3", "clap", "au", or "app" for an app's own package) -> platform key -> file
    std::map<std::string, std::map<std::string, FileRef>> packages;
    std::map<std::string, FileRef> art_row;
    std::map<std::string, FileRef> art_logo;
    bool is_app = false;
    // Apps only.
    std::string uninstall_key;
    std::vector<Companion> companions;
    std::string note;
    std::string kept;
    std::map<std::string, std::vector<std::string>> paths_user;
    std::map<std::string, std::vector<std::string>> paths_machine;

    // The package of a format ("app" for an app's own) for a platform; null when either key is missing.
    const FileRef* package(const std::string& format, const std::string& platform) const;
};

struct Catalog {
    int32_t schema = 0;
    int64_t sequence = 0;
    std::string published;
    std::string base_url;
    std::string manager_latest;
    std::string manager_minimum;
    std::map<std::string, FileRef> manager_packages;  // platform key -> file
    std::vector<Plugin> plugins;
    std::vector<Plugin> apps;
    std::map<std::string, std::vector<std::string>> shared_user;
    std::map<std::string, std::vector<std::string>> shared_machine;

    // The first entry with this id, plug-ins first, then apps; null when none.
    const Plugin* find(const std::string& id) const;
    // The manager's package for this platform when it has a path; otherwise null.
    const FileRef* managerPackage() const;

    // The entries' places by id for find, made on first use and brought up to date when the lists
    // grow or shrink; a copy starts without one. Any thread.
    class Index {
    public:
        Index() = default;
        Index(const Index&) {}
        Index& operator=(const Index&) {
            std::lock_guard<std::mutex> lock(mutex_);
            reset();
            return *this;
        }
        const Plugin* find(const Catalog& catalog, const std::string& id) const;

    private:
        void reset() const;
        void update(const Catalog& catalog) const;
        mutable std::mutex mutex_;
        mutable std::unordered_map<std::string, std::pair<bool, size_t>> places_;  // (app, position)
        mutable size_t plugins_ = 0, apps_ = 0;
    };
    Index index;
};

// The result of loading a catalog (see loadCatalog in engine/load.h).
struct LoadedCatalog {
    bool ok = false;         // a catalog was loaded
    bool fromCache = false;  // it is the cached copy, not a fresh one
    bool refused = false;    // the source's catalog arrived but was refused (note says why)
    std::string note;        // why the fresh catalog was not used, or why nothing was loaded
    std::string text;        // the accepted catalog text
    std::string signature;   // and its signature
    Catalog catalog;         // empty when ok is false
};

// Reads "catalog.json" text into catalog. False with one message in error; when the text is
// not a JSON object the catalog is left untouched, otherwise it holds what was read so far.
bool parseCatalog(const std::string& text, Catalog& catalog, std::string& error);

}  // namespace tqm
