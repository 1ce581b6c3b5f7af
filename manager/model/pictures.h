#pragma once
// The catalog's row and logo pictures. Files live in their own folder under the user-data cache
// ("cache/art/<art path>"), apart from the engine's cached catalog and packages, so no art path can
// overwrite those. A cached file is trusted only when its size and SHA-256 match the catalog.
//
// Two halves: a worker fills the folder (fetchMissing: fetch, check, write) after the rows are up,
// and the UI thread decodes a picture only when a row or the inspector first draws it, for the
// scale being painted, within a fixed budget of decoded pixels (Pictures). A file that several
// entries share is decoded once.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/source.h"
#include "gui/draw/canvas.h"

namespace tqapp::art {

// The folder pictures are cached in: userData/"cache"/"art".
std::string cacheDir(const std::string& userData);

// A relative path of plain names below its folder: no empty, "." or ".." segment, no leading
// slash, no backslash, colon or control byte.
bool safePath(const std::string& path);

// The bytes are exactly the referenced file: its size and its lower-case hexadecimal SHA-256.
bool matches(const std::string& bytes, const tqm::FileRef& ref);

// The cached file of ref when it matches; false for anything else (missing, a link on the way, a
// pipe or other non-regular file, longer or different). Never blocks on what it opens.
bool readCached(const std::string& dir, const tqm::FileRef& ref, std::string& bytes);

// Makes sure the cache holds ref: fetched from the source, checked, and written as a new file that
// is renamed into place: a link or pipe at the name is replaced, never written through, and a
// folder on the way that is a link is not entered. True when the cache holds it afterwards.
bool cache(const tqm::Source& source, const std::string& dir, const tqm::FileRef& ref);

// Every art file of the catalog (each distinct one once) that the cache lacks, fetched into it, the
// row pictures first. A name in the cache's folder counts as held: what it is is checked where it is
// read. Any thread; the number of files fetched.
size_t fetchMissing(const tqm::Source& source, const std::string& dir, const tqm::Catalog& catalog);

// Fetches ref into the cache in place of what its name holds (something that failed its check where
// it was read), which stays until the new file replaces it: a fill meanwhile does not fetch it too.
// A fetch that fails removes what stands at the name, leaving it to the next start's fill.
// Any thread; true when the cache holds it afterwards.
bool fetchAgain(const tqm::Source& source, const std::string& dir, const tqm::FileRef& ref);

// A name for ref's file that changes when the file does (path, size and hash).
std::string fileKey(const tqm::FileRef& ref);

// The width and height a PNG's header declares; false when the bytes are no PNG header.
bool pngSize(const std::string& bytes, int32_t& w, int32_t& h);

// Bitmaps under a byte budget: adding one drops the least recently used others until it fits.
class PictureCache {
public:
    explicit PictureCache(size_t budget) : budget_(budget) {}

    // The bitmap under key, now the most recently used; null when none.
    const lumo::gui::Bitmap* find(const std::string& key);
    // Keeps bitmap under key; null (nothing kept) when it alone exceeds the budget.
    const lumo::gui::Bitmap* put(const std::string& key, lumo::gui::Bitmap bitmap);
    void clear();
    // Grows whenever a bitmap handed out may have gone (one dropped, or all).
    uint64_t drops() const { return drops_; }
    size_t bytes() const { return bytes_; }
    size_t size() const { return items_.size(); }
    size_t budget() const { return budget_; }

private:
    struct Item {
        lumo::gui::Bitmap bitmap;
        std::list<std::string>::iterator use;  // its place in uses_
    };
    std::map<std::string, Item> items_;
    std::list<std::string> uses_;  // keys, the most recently used first
    size_t budget_;
    size_t bytes_ = 0;
    uint64_t drops_ = 0;
};

enum class Kind { Row, Logo };

// The pictures of the loaded catalog, decoded on demand. UI thread only.
class Pictures {
public:
    static constexpr size_t kBudget = size_t(24) << 20;  // decoded pixels held at once, in bytes

    explicit Pictures(size_t budget = kBudget) : decoded_(budget) {}

    // The catalog whose pictures are asked for, and the folder they are cached in. Nothing decodes.
    void setCatalog(std::shared_ptr<const tqm::LoadedCatalog> catalog, std::string dir);
    // Files may have arrived in the cache where there were none: those found missing are read again.
    void arrived();
    // ref's file has arrived in the cache: it alone is read again.
    void arrived(const tqm::FileRef& ref);

    // The keys ("1x", "2x", ...) of an entry's pictures of a kind, in order.
    std::vector<std::string> keys(const std::string& id, Kind kind) const;
    // The size a picture declares, without decoding; false when it cannot be had. The whole file is
    // checked, as get checks it: a damaged one is not passed over for its header's size.
    bool size(const std::string& id, Kind kind, const std::string& key, int32_t& w, int32_t& h);
    // The decoded picture, decoded now when it is not held. Null when it cannot be had, does not
    // decode, or declares more than maxW x maxH (refused from its header, never decoded). The
    // pointer holds until the next call.
    const lumo::gui::Bitmap* get(const std::string& id, Kind kind, const std::string& key, int32_t maxW,
                                 int32_t maxH);
    // A name of the file behind a picture that changes when the file does; empty when there is none.
    std::string fileKey(const std::string& id, Kind kind, const std::string& key) const;

    // A picture handed over whole rather than read from the cache (made-up rows of tests and
    // benchmarks); it is kept outside the budget.
    void give(const std::string& id, Kind kind, const std::string& key, lumo::gui::Bitmap bitmap);

    // A stamp no other state of any Pictures has had: it changes whenever what get, size or keys
    // would answer may have changed, or a bitmap get handed out may have gone.
    uint64_t stamp();

    // Told of a cached file that failed its check where it was read; true when it was fetched again
    // at once (it is then read again), false when it may arrive later (arrived).
    std::function<bool(const tqm::FileRef&)> refetch;

    size_t decodes() const { return decodes_; }  // pictures decoded so far
    size_t heldBytes() const { return decoded_.bytes(); }

private:
    // What is known of one file without holding its pixels.
    struct FileInfo {
        bool failed = false;
        bool missing = false;  // failed for nothing at its name (yet)
        int32_t w = 0, h = 0;
    };
    const tqm::FileRef* ref(const std::string& id, Kind kind, const std::string& key) const;
    const lumo::gui::Bitmap* given(const std::string& id, Kind kind, const std::string& key) const;
    // Reads and checks the cached file; false (and the file marked) when it cannot be had.
    bool read(const tqm::FileRef& r, FileInfo& info, std::string& bytes);

    std::shared_ptr<const tqm::LoadedCatalog> catalog_;
    std::string dir_;
    std::map<std::string, FileInfo> files_;  // by fileKey
    PictureCache decoded_;                   // by fileKey
    std::map<std::string, lumo::gui::Bitmap> given_;  // by id, kind and key
    size_t decodes_ = 0;
    uint64_t stamp_ = 0;      // 0: a new one is due
    uint64_t stampDrops_ = 0;  // decoded_.drops() when stamp_ was taken
};

}  // namespace tqapp::art
