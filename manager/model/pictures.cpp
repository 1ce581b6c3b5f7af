#include "manager/model/pictures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <set>
#include <tuple>

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

bool readCached(const std::string& dir, const tqm::FileRef& ref, std::string& bytes) {
    bytes.clear();
    if (!safePath(ref.path) || ref.size > kMaxPicture) return false;
    tqm::detail::DirFd folder;
    std::string name;
    if (!openFolderOf(dir, ref.path, false, folder, name)) return false;
    // Non-blocking and without following a link: a pipe or a link planted at the name is refused.
    const int fd = ::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const tqm::detail::DirFd file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) != ref.size) return false;
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
        return false;
    }
    return true;
}

bool cache(const tqm::Source& source, const std::string& dir, const tqm::FileRef& ref) {
    if (!safePath(ref.path) || ref.size > kMaxPicture) return false;
    std::string bytes;
    if (readCached(dir, ref, bytes)) return true;
    std::string error;
    // A server that sends more than the picture holds is left at once: nothing beyond it is gathered.
    const uint64_t most = ref.size;
    const tqm::Progress bounded = [most](uint64_t done, uint64_t) { return done <= most; };
    if (!source.fetch(ref.path, bytes, error, bounded, most) || !matches(bytes, ref)) return false;
    tqm::detail::DirFd folder;
    std::string name;
    if (!openFolderOf(dir, ref.path, true, folder, name)) return false;
    // The rename replaces whatever name is there (a link or a pipe included) without writing into it.
    tqm::WriteFailure failure;
    return tqm::writeFileAtomicAt(folder.get(), name, bytes, 0644, failure);
}

size_t fetchMissing(const tqm::Source& source, const std::string& dir, const tqm::Catalog& catalog) {
    std::set<std::tuple<std::string, std::string, uint64_t>> seen;
    std::set<std::string> swept;
    size_t fetched = 0;
    std::string bytes;
    for (const auto* list : {&catalog.plugins, &catalog.apps})
        for (const tqm::Plugin& entry : *list)
            for (const auto* art : {&entry.art_row, &entry.art_logo})
                for (const auto& [key, ref] : *art) {
                    if (!seen.insert({ref.path, ref.sha256, ref.size}).second) continue;
                    if (readCached(dir, ref, bytes)) continue;
                    // A picture missing from the cache may be one whose write was cut off: its
                    // folder is cleared of dead writers' temporaries once before it is written, opened as
                    // the write opens it.
                    const size_t slash = ref.path.rfind('/');
                    const std::string folder = slash == std::string::npos ? "" : ref.path.substr(0, slash);
                    tqm::detail::DirFd folderFd;
                    std::string name;
                    if (safePath(ref.path) && swept.insert(folder).second &&
                        openFolderOf(dir, ref.path, false, folderFd, name))
                        tqm::detail::sweepTemporaries(folderFd.get());
                    fetched += cache(source, dir, ref);
                }
    return fetched;
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
        it = it->second.failed ? files_.erase(it) : std::next(it);
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
    return r ? r->sha256 + "/" + std::to_string(r->size) + "/" + r->path : std::string();
}

bool Pictures::read(const tqm::FileRef& r, FileInfo& info, std::string& bytes) {
    if (!readCached(dir_, r, bytes) || !pngSize(bytes, info.w, info.h)) {
        info.failed = true;
        return false;
    }
    return true;
}

bool Pictures::readSize(const tqm::FileRef& r, FileInfo& info) {
    tqm::detail::DirFd folder;
    std::string name, head(24, '\0');
    ssize_t n = -1;
    if (safePath(r.path) && openFolderOf(dir_, r.path, false, folder, name)) {
        const int fd = ::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const tqm::detail::DirFd file(fd);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) == r.size)
            n = ::read(fd, head.data(), head.size());
    }
    if (n != ssize_t(head.size()) || !pngSize(head, info.w, info.h)) info.failed = true;
    return !info.failed;
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
    if (fresh && !readSize(*r, info)) return false;
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
