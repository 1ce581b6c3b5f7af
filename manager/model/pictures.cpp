#include "manager/model/pictures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <set>
#include <string_view>
#include <tuple>
#include <unordered_set>

#include "engine/atomic_write.h"
#include "engine/layout.h"
#include "engine/safe_path.h"
#include "engine/util.h"

namespace tqapp::art {

namespace {

// A picture file is small; a larger file in the cache is simply not used.
constexpr size_t kMaxPicture = size_t(64) << 20;

size_t bytesOf(const lumo::gui::Bitmap& b) { return b.pixels.size() * sizeof(uint32_t); }

// Opens the folder that holds rel below dir, one name at a time and never through a link; with make,
// missing folders are made. name gets rel's last segment.
bool openFolderOf(const std::string& dir, const std::string& rel, bool make, tqm::detail::DirFd& out,
                  std::string& name) {
    if (tqm::detail::openDir(dir, out, make) != 0) return false;
    size_t begin = 0;
    for (size_t slash; (slash = rel.find('/', begin)) != std::string::npos; begin = slash + 1) {
        const std::string part = rel.substr(begin, slash - begin);
        if (make && ::mkdirat(out.get(), part.c_str(), 0777) != 0 && errno != EEXIST) return false;
        const int fd = ::openat(out.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return false;
        out = tqm::detail::DirFd(fd);
    }
    name = rel.substr(begin);
    return true;
}

}  // namespace

std::string cacheDir(const std::string& userData) { return tqm::joinPath(tqm::joinPath(userData, "cache"), "art"); }

bool safePath(const std::string& path) {
    if (path.empty() || path.front() == '/') return false;
    size_t begin = 0;
    for (;;) {
        const size_t end = std::min(path.find('/', begin), path.size());
        const std::string_view part(path.data() + begin, end - begin);
        if (part.empty() || part == "." || part == "..") return false;
        for (unsigned char c : part)
            if (c < 0x20 || c == 0x7F || c == '\\' || c == ':') return false;
        if (end == path.size()) return true;
        begin = end + 1;
    }
}

bool matches(const std::string& bytes, const tqm::FileRef& ref) {
    return bytes.size() == ref.size && tqm::sha256Hex(bytes.data(), bytes.size()) == ref.sha256;
}

namespace {

enum class Cached { Good, Missing, Bad };

// Opens what stands at ref's name: Missing (nothing), Bad (no regular file of ref's size: a link, a
// pipe, another size) or Good, with file open on it. Never blocks on what it opens.
Cached openCached(const std::string& dir, const tqm::FileRef& ref, tqm::detail::DirFd& file) {
    if (!safePath(ref.path) || ref.size > kMaxPicture) return Cached::Missing;
    tqm::detail::DirFd folder;
    std::string name;
    if (!openFolderOf(dir, ref.path, false, folder, name)) return Cached::Missing;
    // Non-blocking and without following a link: a pipe or a link planted at the name is refused
    // (and replaced when the picture is fetched again).
    const int fd = ::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? Cached::Missing : Cached::Bad;
    file = tqm::detail::DirFd(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) != ref.size) return Cached::Bad;
    return Cached::Good;
}

// The cached file of ref as openCached finds it; Good only when bytes hold exactly the picture (Bad
// when other bytes of its size stand there).
Cached readChecked(const std::string& dir, const tqm::FileRef& ref, std::string& bytes) {
    bytes.clear();
    tqm::detail::DirFd file;
    if (const Cached opened = openCached(dir, ref, file); opened != Cached::Good) return opened;
    const int fd = file.get();
    bytes.resize(size_t(ref.size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    char more;
    if (done != bytes.size() || ::read(fd, &more, 1) != 0 || !matches(bytes, ref)) {
        bytes.clear();
        return Cached::Bad;
    }
    return Cached::Good;
}

// The cache's folders, each opened once (made when asked and missing), never through a link.
class Folders {
public:
    // rel's name is in its folder: one listing of each folder, looking at no file. A start asks this
    // of every picture in the catalog, so the asking itself makes no strings.
    bool listed(const std::string& rel) {
        const size_t slash = rel.rfind('/');
        const std::string_view whole(rel);
        const std::string_view folder = slash == std::string::npos ? std::string_view() : whole.substr(0, slash);
        auto it = names_.find(folder);
        if (it == names_.end()) {
            std::string ignored;
            const int fd = of(rel, false, ignored);
            if (fd < 0) return false;
            it = names_.try_emplace(std::string(folder)).first;
            Listing& listing = it->second;
            tqm::detail::folderNames(fd, listing.names);
            listing.index.reserve(listing.names.size());
            for (const std::string& n : listing.names) listing.index.insert(n);
        }
        return it->second.index.count(slash == std::string::npos ? whole : whole.substr(slash + 1)) > 0;
    }

    explicit Folders(std::string dir) : dir_(std::move(dir)) {}

    // The open folder that holds rel (-1 when it cannot be had), with rel's last segment in name.
    int of(const std::string& rel, bool make, std::string& name) {
        const size_t slash = rel.rfind('/');
        name = slash == std::string::npos ? rel : rel.substr(slash + 1);
        const std::string folder = slash == std::string::npos ? std::string() : rel.substr(0, slash);
        Open& o = open_[folder];
        if (o.fd.get() >= 0 || (o.tried && !make)) return o.fd.get();  // a folder missing is not looked for again
        o.tried = true;
        tqm::detail::DirFd opened;
        std::string ignored;
        if (openFolderOf(dir_, rel, make, opened, ignored)) o.fd = std::move(opened);
        return o.fd.get();
    }
    // The path of rel's folder.
    std::string pathOf(const std::string& rel) const {
        const size_t slash = rel.rfind('/');
        return slash == std::string::npos ? dir_ : dir_ + "/" + rel.substr(0, slash);
    }

private:
    std::string dir_;
    struct Open {
        tqm::detail::DirFd fd;
        bool tried = false;
    };
    std::map<std::string, Open> open_;  // by the folder's path below dir_
    struct Listing {
        std::vector<std::string> names;
        std::unordered_set<std::string_view> index;  // of names
    };
    std::map<std::string, Listing, std::less<>> names_;  // listings, by the same path
};

// The cache has something at ref's name. Whether that is the picture is checked where it is read
// (readChecked), which has it removed and fetched again when it is not: a start opens no picture.
bool present(Folders& folders, const tqm::FileRef& ref) {
    return safePath(ref.path) && ref.size <= kMaxPicture && folders.listed(ref.path);
}

// Fetches ref from the source, checks it, and writes it as a new file renamed into place (a link or
// pipe at the name is replaced, never written through). The cache can be filled again at any time,
// so nothing is flushed to disk: a file a power cut leaves short fails its check where it is read.
bool store(const tqm::Source& source, Folders& folders, const tqm::FileRef& ref) {
    if (!safePath(ref.path) || ref.size > kMaxPicture) return false;
    std::string bytes, error;
    // A server that sends more than the picture holds is left at once: nothing beyond it is gathered.
    const uint64_t most = ref.size;
    const tqm::Progress bounded = [most](uint64_t done, uint64_t) { return done <= most; };
    if (!source.fetch(ref.path, bytes, error, bounded, most) || !matches(bytes, ref)) return false;
    std::string name;
    const int fd = folders.of(ref.path, true, name);
    tqm::WriteFailure failure;
    return fd >= 0 && tqm::writeUnflushedAt(fd, name, bytes, 0644, failure);
}

// Stores each of refs; a folder is cleared of dead writers' temporaries (writes cut off) once, before
// its first write. The number stored.
size_t storeAll(const tqm::Source& source, const std::string& dir, const std::vector<const tqm::FileRef*>& refs) {
    Folders folders(dir);
    std::set<std::string> swept;
    size_t stored = 0;
    for (const tqm::FileRef* ref : refs) {
        if (!safePath(ref->path)) continue;
        // Opened as the write opens it: a linked folder is neither swept nor written.
        std::string name;
        if (swept.insert(folders.pathOf(ref->path)).second) {
            if (const int fd = folders.of(ref->path, false, name); fd >= 0) tqm::detail::sweepTemporaries(fd);
        }
        stored += store(source, folders, *ref);
    }
    return stored;
}

}  // namespace

bool readCached(const std::string& dir, const tqm::FileRef& ref, std::string& bytes) {
    return readChecked(dir, ref, bytes) == Cached::Good;
}

bool cache(const tqm::Source& source, const std::string& dir, const tqm::FileRef& ref) {
    std::string bytes;
    if (readCached(dir, ref, bytes)) return true;
    Folders folders(dir);
    return store(source, folders, ref);
}

bool fetchAgain(const tqm::Source& source, const std::string& dir, const tqm::FileRef& ref) {
    std::string bytes, name;
    if (readChecked(dir, ref, bytes) == Cached::Good) return true;  // put right since it was read
    // What stands at the name stays while the fetch runs, so a fill meanwhile (a reload's) counts
    // the picture as held and does not fetch it too; the new file is renamed over it.
    if (storeAll(source, dir, {&ref}) == 1) return true;
    // Failed: whatever stands at the name goes (a link itself, never its target), so a fill at the
    // next start takes the picture.
    tqm::detail::DirFd folder;
    if (safePath(ref.path) && openFolderOf(dir, ref.path, false, folder, name)) ::unlinkat(folder.get(), name.c_str(), 0);
    return false;
}

std::string fileKey(const tqm::FileRef& ref) { return ref.sha256 + "/" + std::to_string(ref.size) + "/" + ref.path; }

size_t fetchMissing(const tqm::Source& source, const std::string& dir, const tqm::Catalog& catalog) {
    const auto sameFile = [](const tqm::FileRef* a, const tqm::FileRef* b) {
        return std::tie(a->path, a->sha256, a->size) == std::tie(b->path, b->sha256, b->size);
    };
    const auto hashOf = [](const tqm::FileRef* a) { return std::hash<std::string>()(a->path) ^ size_t(a->size); };
    std::unordered_set<const tqm::FileRef*, decltype(hashOf), decltype(sameFile)> seen(0, hashOf, sameFile);
    std::vector<const tqm::FileRef*> missing;
    Folders folders(dir);
    // The row pictures first, in the catalog's order: the list shows them from the first paint on.
    for (const bool rows : {true, false})
        for (const auto* list : {&catalog.plugins, &catalog.apps})
            for (const tqm::Plugin& entry : *list)
                for (const auto& [key, ref] : rows ? entry.art_row : entry.art_logo)
                    if (!present(folders, ref) && seen.insert(&ref).second) missing.push_back(&ref);
    return storeAll(source, dir, missing);
}

bool pngSize(const std::string& bytes, int32_t& w, int32_t& h) {
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 24 || bytes.compare(0, 8, reinterpret_cast<const char*>(kSignature), 8) != 0 ||
        bytes.compare(12, 4, "IHDR") != 0)
        return false;
    auto word = [&](size_t at) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
    };
    const uint32_t pw = word(16), ph = word(20);
    if (pw < 1 || ph < 1 || pw > 0x7FFFFFFFu || ph > 0x7FFFFFFFu) return false;
    w = int32_t(pw);
    h = int32_t(ph);
    return true;
}

// ---- PictureCache

const lumo::gui::Bitmap* PictureCache::find(const std::string& key) {
    const auto it = items_.find(key);
    if (it == items_.end()) return nullptr;
    uses_.splice(uses_.begin(), uses_, it->second.use);
    return &it->second.bitmap;
}

const lumo::gui::Bitmap* PictureCache::put(const std::string& key, lumo::gui::Bitmap bitmap) {
    const size_t need = bytesOf(bitmap);
    auto drop = [&](std::map<std::string, Item>::iterator it) {
        bytes_ -= bytesOf(it->second.bitmap);
        uses_.erase(it->second.use);
        items_.erase(it);
        ++drops_;
    };
    if (const auto old = items_.find(key); old != items_.end()) drop(old);
    if (need > budget_) return nullptr;
    while (bytes_ + need > budget_ && !uses_.empty()) drop(items_.find(uses_.back()));
    uses_.push_front(key);
    Item& item = items_[key];
    item.bitmap = std::move(bitmap);
    item.use = uses_.begin();
    bytes_ += need;
    return &item.bitmap;
}

void PictureCache::clear() {
    ++drops_;
    items_.clear();
    uses_.clear();
    bytes_ = 0;
}

// ---- Pictures

namespace {

std::string givenKey(const std::string& id, Kind kind, const std::string& key) {
    return id + (kind == Kind::Row ? "\nrow\n" : "\nlogo\n") + key;
}

}  // namespace

uint64_t Pictures::stamp() {
    static std::atomic<uint64_t> last{0};
    if (stamp_ == 0 || stampDrops_ != decoded_.drops()) {
        stamp_ = ++last;
        stampDrops_ = decoded_.drops();
    }
    return stamp_;
}

void Pictures::setCatalog(std::shared_ptr<const tqm::LoadedCatalog> catalog, std::string dir) {
    stamp_ = 0;
    catalog_ = std::move(catalog);
    dir_ = std::move(dir);
    files_.clear();  // decoded pictures stay: a file's key changes with its contents
}

void Pictures::arrived() {
    stamp_ = 0;
    for (auto it = files_.begin(); it != files_.end();)
        it = it->second.failed && it->second.missing ? files_.erase(it) : std::next(it);
}

void Pictures::arrived(const tqm::FileRef& ref) {
    stamp_ = 0;
    files_.erase(art::fileKey(ref));
}

const tqm::FileRef* Pictures::ref(const std::string& id, Kind kind, const std::string& key) const {
    if (!catalog_ || !catalog_->ok) return nullptr;
    const tqm::Plugin* entry = catalog_->catalog.find(id);
    if (!entry) return nullptr;
    const auto& art = kind == Kind::Row ? entry->art_row : entry->art_logo;
    const auto it = art.find(key);
    return it == art.end() ? nullptr : &it->second;
}

const lumo::gui::Bitmap* Pictures::given(const std::string& id, Kind kind, const std::string& key) const {
    if (given_.empty()) return nullptr;
    const auto it = given_.find(givenKey(id, kind, key));
    return it == given_.end() ? nullptr : &it->second;
}

std::vector<std::string> Pictures::keys(const std::string& id, Kind kind) const {
    std::set<std::string> out;
    if (catalog_ && catalog_->ok)
        if (const tqm::Plugin* entry = catalog_->catalog.find(id))
            for (const auto& [key, r] : kind == Kind::Row ? entry->art_row : entry->art_logo) out.insert(key);
    const std::string prefix = givenKey(id, kind, "");
    for (auto it = given_.lower_bound(prefix); it != given_.end() && it->first.rfind(prefix, 0) == 0; ++it)
        out.insert(it->first.substr(prefix.size()));
    return {out.begin(), out.end()};
}

std::string Pictures::fileKey(const std::string& id, Kind kind, const std::string& key) const {
    if (given(id, kind, key)) return "given\n" + givenKey(id, kind, key);
    const tqm::FileRef* r = ref(id, kind, key);
    return r ? art::fileKey(*r) : std::string();
}

bool Pictures::read(const tqm::FileRef& r, FileInfo& info, std::string& bytes) {
    Cached got = readChecked(dir_, r, bytes);
    // A file that failed its check is never shown; one fetched again at once is read again.
    if (got == Cached::Bad && refetch && refetch(r)) got = readChecked(dir_, r, bytes);
    if (got != Cached::Good || !pngSize(bytes, info.w, info.h)) {
        info.failed = true;
        info.missing = got == Cached::Missing;
        return false;
    }
    return true;
}

bool Pictures::size(const std::string& id, Kind kind, const std::string& key, int32_t& w, int32_t& h) {
    if (const lumo::gui::Bitmap* b = given(id, kind, key)) {
        w = b->w, h = b->h;
        return !b->empty();
    }
    const tqm::FileRef* r = ref(id, kind, key);
    if (!r) return false;
    const std::string file = fileKey(id, kind, key);
    const auto [it, fresh] = files_.try_emplace(file);
    FileInfo& info = it->second;
    std::string bytes;
    if (fresh && !read(*r, info, bytes)) return false;
    if (info.failed) return false;
    w = info.w, h = info.h;
    return true;
}

const lumo::gui::Bitmap* Pictures::get(const std::string& id, Kind kind, const std::string& key, int32_t maxW,
                                       int32_t maxH) {
    if (const lumo::gui::Bitmap* b = given(id, kind, key)) return b->empty() ? nullptr : b;
    const tqm::FileRef* r = ref(id, kind, key);
    if (!r) return nullptr;
    const std::string file = fileKey(id, kind, key);
    FileInfo& info = files_[file];
    if (info.failed) return nullptr;
    if (info.w > 0 && (info.w > maxW || info.h > maxH)) return nullptr;
    if (const lumo::gui::Bitmap* held = decoded_.find(file)) return held;
    std::string bytes;
    if (!read(*r, info, bytes)) return nullptr;
    // Larger than it can ever be drawn: refused from the header alone.
    if (info.w > maxW || info.h > maxH) return nullptr;
    ++decodes_;
    lumo::gui::Bitmap b = lumo::gui::Bitmap::loadMemory(bytes.data(), bytes.size());
    if (b.empty() || b.pixels.size() < size_t(b.w) * size_t(b.h)) {
        info.failed = true;
        return nullptr;
    }
    const lumo::gui::Bitmap* kept = decoded_.put(file, std::move(b));
    if (!kept) info.failed = true;  // larger than the whole budget
    return kept;
}

void Pictures::give(const std::string& id, Kind kind, const std::string& key, lumo::gui::Bitmap bitmap) {
    stamp_ = 0;
    given_[givenKey(id, kind, key)] = std::move(bitmap);
}

}  // namespace tqapp::art
