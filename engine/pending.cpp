// The record a change makes once it is on disk, noted beforehand in the install folder: an
// install notes the copy it is about to move in, a removal the copy it is about to delete. A kill
// between the change on disk and the saving of the receipt leaves the note, and the next sweep
// (or start) brings the receipt in line with what is on disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <set>
#include <vector>

#include "engine/atomic_write.h"
#include "engine/engine.h"
#include "engine/install_folder.h"
#include "engine/install_folder_steps.h"
#include "engine/fileread.h"
#include "engine/safe_path.h"
#include "engine/util.h"
#include "json/json.h"

namespace fs = std::filesystem;

namespace tqm {

namespace {

constexpr size_t kMaxNote = 64 * 1024;
// Between what a task did on disk and why it is not recorded.
constexpr char kUnrecordedJoin[] = ", but ";

bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string identity(const struct stat& st) {
    return "\"dev\": \"" + std::to_string(st.st_dev) + "\", \"ino\": \"" + std::to_string(st.st_ino) + "\"";
}

// Whether the entry name of dirFd is the copy of that device, inode and birth time (a note of no
// birth time: of that device and inode).
bool isCopy(int dirFd, const std::string& name, const std::string& dev, const std::string& ino,
            const std::string& birth) {
    detail::CopyId id;
    return detail::copyIdAt(dirFd, name, id) && dev == id.dev && ino == id.ino && (birth.empty() || birth == id.birth);
}

// Which receipt a note is for: the device and inode of the receipt file's folder (the data
// folder's), so that a job of another data folder on the same install folder leaves the note to
// the one it belongs to, however either names its folders. Empty when that folder cannot be seen.
std::string receiptOwner(const std::string& receiptFile) {
    struct stat st {};
    if (::stat(fs::path(receiptFile).parent_path().c_str(), &st) != 0) return {};
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string ownerField(const std::string& receiptFile) {
    return ", \"receipt\": " + jsonQuote(receiptOwner(receiptFile));
}

// The account the receipt file is for: the owner of its folder, this process's user while that
// folder is not there yet.
uid_t receiptAccount(const std::string& receiptFile) {
    struct stat st {};
    return ::stat(fs::path(receiptFile).parent_path().c_str(), &st) == 0 ? st.st_uid : ::geteuid();
}

// Whose notes count for the receipt file: those of its account, and root's.
bool counts(uid_t writer, const std::string& receiptFile) { return writer == 0 || writer == receiptAccount(receiptFile); }

// Writes the note of the staging folder's tag beside it, in the folder it was made in; the path,
// or empty with error said.
std::string writeNote(const detail::StagingLock& staging, const std::string& text, std::string& error) {
    const std::string path = joinPath(fs::path(staging.path()).parent_path().string(), detail::noteName(staging.tag()));
    WriteFailure failure;
    if (!staging.held()) {
        failure.err = EBADF;
    } else if (detail::renameFault) {
        failure.err = detail::renameFault(detail::RenameStep::Note);
    }
    if (failure.err == 0 && writeFileAtomicAt(staging.folder(), detail::noteName(staging.tag()), text, 0644, failure))
        return path;
    error = "cannot write " + path + ": " + detail::systemText(failure.err);
    return {};
}

// A note of the folder, opened in it (never through a link) and read whole, with its writer; false
// when it is not a small regular file.
bool readNote(int dirFd, const std::string& name, std::string& text, uid_t& writer) {
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    const detail::DirFd file(fd);
    struct stat st {};
    int err = 0;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    writer = st.st_uid;
    return readRegularFile(fd, kMaxNote, text, err);
}

// What a note asks, and whether the disk shows its change made.
struct Note {
    bool removal = false;
    std::string id, item;
    InstalledFormat rec;
    int64_t sequence = -1;
    std::string dev, ino, birth;
    std::string recorded;  // a removal's: the path its record named
    std::string leaf;      // a removal's copy when it lies in the note's folder: its name there
    std::string format, owner;  // the format and receipt (receiptOwner) it is for
    std::string earlier;   // an install's: the copy in an earlier install folder it replaces

    // Whether the note is another format's or another receipt's, which is left where it is for
    // the job it belongs to. A note of no receipt (its writer could not see its data folder yet)
    // is its writer's account's alone, root's for root's: another account settling it would take
    // that change into its own receipt. What is no note at all (a temporary cut off by a kill) is
    // nobody's.
    static bool othersNote(const std::string& text, uid_t writer, const std::string& format, const std::string& owner) {
        const lumo::Json note = lumo::Json::parse(text);
        const std::string& of = note["receipt"].string();
        if (note["id"].string().empty() || note["format"].string().empty()) return false;
        if (of.empty() && writer != ::geteuid()) return true;
        return note["format"].string() != format || (!of.empty() && !owner.empty() && of != owner);
    }

    // The note read from text: false when it is not a note for format in dir. Root takes a
    // removal only of the recorded copy in the note's own folder, looked at from there.
    bool read(const std::string& text, const std::string& dir, const std::string& format) {
        const lumo::Json note = lumo::Json::parse(text);
        removal = note["op"].string() == "remove";
        id = note["id"].string();
        item = note["item"].string();
        rec.version = note["version"].string();
        rec.path = note["path"].string();
        rec.package_sha256 = note["package_sha256"].string();
        rec.installed = note["installed"].string();
        rec.exe = note["exe"].string();
        rec.uninstall_key = note["uninstall_key"].string();
        dev = note["dev"].string();
        ino = note["ino"].string();
        birth = note["birth"].string();
        recorded = note["recorded"].string();
        earlier = note["earlier"].string();
        const std::string& seq = note["sequence"].string();
        std::from_chars(seq.data(), seq.data() + seq.size(), sequence);
        if (note["format"].string() != format || id.empty()) return false;
        if (!removal) return plainName(item) && rec.path == joinPath(dir, item);
        const std::string name = fs::path(rec.path).filename().string();
        if (plainName(name) && rec.path == joinPath(dir, name)) leaf = name;
        if (detail::runningAsRoot()) return !leaf.empty() && rec.path == recorded;
        return !rec.path.empty() && fs::path(rec.path).is_absolute();
    }

    // An install's copy is in place (the very copy it noted: a rename keeps device, inode and
    // birth time); a removal's copy is gone from its place.
    bool madeOnDisk(int dirFd) const {
        struct stat st {};
        if (removal) {
            const int there = leaf.empty() ? ::lstat(rec.path.c_str(), &st)
                                           : ::fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW);
            return there != 0 && errno == ENOENT;
        }
        return isCopy(dirFd, item, dev, ino, birth);
    }

    // Changes the receipt; answers the record it added or dropped ("<id> <format> <version> at
    // <path>"), or "" when the receipt is left as it was.
    std::string apply(Receipt& r, const std::string& format) const {
        if (!removal) {
            r.plugins[id].formats[format] = rec;
            if (sequence >= 0) r.catalog_sequence = sequence;
            // The copy it replaced may still lie in its earlier folder, aside or at its name.
            if (!earlier.empty() && earlier != rec.path) r.left[earlier] = {format, id};
            return id + " " + format + " " + rec.version + " at " + rec.path;
        }
        const auto product = r.plugins.find(id);
        if (product == r.plugins.end()) return {};
        const auto f = product->second.formats.find(format);
        if (f == product->second.formats.end() || f->second.path != recorded) return {};  // since installed elsewhere
        const std::string dropped = id + " " + format + " " + f->second.version + " at " + f->second.path;
        product->second.formats.erase(f);
        if (product->second.formats.empty()) r.plugins.erase(product);
        return dropped;
    }
};

}  // namespace

namespace detail {

std::string notePending(const StagingLock& staging, const std::string& item, const std::string& id,
                        const std::string& format, const InstalledFormat& rec, int64_t sequence,
                        const std::string& receiptFile, std::string& error, const std::string& earlier) {
    // Device, inode and birth time say which copy the note is for: a rename keeps them, and no other
    // copy has them while the note is on disk (whoever deletes the copy removes the note first).
    // The copy it replaces at that name beside the staging folder, likewise: a sweep deletes the
    // aside copy of its tag only while that is the copy its writer moved aside (none noted: none).
    CopyId copy, old;
    if (!copyIdAt(staging.handle(), item, copy)) {
        error = "cannot find " + joinPath(staging.path(), item) + ": " + systemText(errno);
        return {};
    }
    if (!copyIdAt(staging.folder(), item, old)) old = {};
    return writeNote(staging,
                     "{\"id\": " + jsonQuote(id) + ", \"format\": " + jsonQuote(format) + ", \"item\": " +
                         jsonQuote(item) + ", \"dev\": " + jsonQuote(copy.dev) + ", \"ino\": " + jsonQuote(copy.ino) +
                         ", \"birth\": " + jsonQuote(copy.birth) + ", \"old_dev\": " + jsonQuote(old.dev) +
                         ", \"old_ino\": " + jsonQuote(old.ino) + ", \"old_birth\": " + jsonQuote(old.birth) +
                         ", \"sequence\": \"" + std::to_string(sequence) +
                         "\", \"version\": " + jsonQuote(rec.version) + ", \"path\": " + jsonQuote(rec.path) +
                         ", \"package_sha256\": " + jsonQuote(rec.package_sha256) + ", \"installed\": " +
                         jsonQuote(rec.installed) + ", \"exe\": " + jsonQuote(rec.exe) + ", \"uninstall_key\": " +
                         jsonQuote(rec.uninstall_key) + ownerField(receiptFile) +
                         (earlier.empty() ? "" : ", \"earlier\": " + jsonQuote(earlier)) + "}\n",
                     error);
}

std::string noteRemoval(const StagingLock& guard, const std::string& id, const std::string& format,
                        const std::string& path, const std::string& recorded, const std::string& receiptFile,
                        std::string& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) st = {};
    return writeNote(guard,
                     "{\"op\": \"remove\", \"id\": " + jsonQuote(id) + ", \"format\": " + jsonQuote(format) +
                         ", \"path\": " + jsonQuote(path) + ", \"recorded\": " + jsonQuote(recorded) + ", " +
                         identity(st) + ownerField(receiptFile) + "}\n",
                     error);
}

bool notesCount(const std::string& receiptFile) { return counts(::geteuid(), receiptFile); }

bool mayChange(const std::string& receiptFile, const std::string& path, const std::string& named,
               std::string& error) {
    const uid_t account = receiptAccount(receiptFile);
    if (!notesCount(receiptFile)) {
        error = receiptFile + " belongs to another account: a change this account makes there could not be "
                "recorded after an interruption, so it is left to that account";
        return false;
    }
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || st.st_uid == account) return true;
    const std::string file = fs::path(receiptFile).filename().string();
    if (st.st_uid != 0) {
        error = path + " belongs to another account than the one " + file + " is for: left alone";
        return false;
    }
    // Root's, named by a receipt an account may rewrite: only the copy the task names in the folder
    // the manager installs into, never what that account's records point at elsewhere.
    if (named.empty() || fs::path(path).lexically_normal() != fs::path(named).lexically_normal()) {
        error = path + " belongs to root and is not the copy the manager installs there, so " + file +
                " cannot have it changed: left alone";
        return false;
    }
    return true;
}

CopyId (*identityFault)(const CopyId& real) = nullptr;

bool copyIdAt(int dirFd, const std::string& name, CopyId& id) {
    struct statx st {};
    if (::statx(dirFd, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_BTIME, &st) != 0) return false;
    id.dev = std::to_string(makedev(st.stx_dev_major, st.stx_dev_minor));
    id.ino = std::to_string(st.stx_ino);
    // "<seconds>.<nanoseconds>": a rename keeps it.
    id.birth = st.stx_mask & STATX_BTIME ? std::to_string(st.stx_btime.tv_sec) + "." + std::to_string(st.stx_btime.tv_nsec)
                                         : std::string();
    if (identityFault) id = identityFault(id);
    return true;
}

bool voidUnmovedNote(int dirFd, const std::string& tag) {
    const std::string name = noteName(tag);
    std::string text;
    uid_t writer = 0;
    if (!readNote(dirFd, name, text, writer)) return true;
    const lumo::Json note = lumo::Json::parse(text);
    const std::string& item = note["item"].string();
    if (!note["op"].string().empty() || !plainName(item)) return true;
    const DirFd staging(::openat(dirFd, stagingName(tag).c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (staging.get() < 0 || ::fstatat(staging.get(), item.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
    return ::unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT;
}

bool voidNotesNaming(int dirFd, const std::string& copy, const std::string& tag, const std::vector<std::string>& names) {
    CopyId id;
    if (!copyIdAt(dirFd, copy, id)) return true;
    bool all = true;
    for (const std::string& name : names) {
        const Entry e = parseEntry(name);
        std::string text;
        uid_t writer = 0;
        if (e.kind != Entry::Note || e.tag == tag || name != noteName(e.tag) || !readNote(dirFd, name, text, writer))
            continue;
        // A note of another device and inode, or a removal's (it names its copy by name), stays.
        const lumo::Json note = lumo::Json::parse(text);
        if (!note["op"].string().empty() || note["dev"].string() != id.dev || note["ino"].string() != id.ino) continue;
        if (::unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT) all = false;
    }
    return all;
}

void dropNote(const std::string& note) {
    if (!note.empty()) removeAll(note);
}

bool readOwnNote(int dirFd, const std::string& name, uid_t alsoBy, NoteSays& says) {
    std::string text;
    uid_t writer = 0;
    if (!readNote(dirFd, name, text, writer) || (writer != 0 && writer != ::geteuid() && writer != alsoBy))
        return false;
    const lumo::Json note = lumo::Json::parse(text);
    says.removal = note["op"].string() == "remove";
    says.copyName = says.removal ? fs::path(note["path"].string()).filename().string() : note["item"].string();
    if (!plainName(says.copyName) || (!says.removal && !note["op"].string().empty())) return false;
    says.isCopy = !says.removal && isCopy(dirFd, says.copyName, note["dev"].string(), note["ino"].string(),
                                          note["birth"].string());
    // A note of no old copy's identity (written before they were noted) vouches for its aside copy.
    const std::string& oldDev = note["old_dev"].string();
    // A removal's note names by its identity the copy it moves aside.
    if (says.removal)
        says.isOld = note["dev"].isNull() || isCopy(dirFd, asideName(parseEntry(name).tag, says.copyName),
                                                    note["dev"].string(), note["ino"].string(), note["birth"].string());
    else
        says.isOld = (note["old_dev"].isNull() ||
                  (!oldDev.empty() && isCopy(dirFd, asideName(parseEntry(name).tag, says.copyName), oldDev,
                                             note["old_ino"].string(), note["old_birth"].string())));
    return true;
}

}  // namespace detail

bool Engine::settleNote(const std::string& format, int dirFd, const std::string& name,
                        std::chrono::milliseconds wait, bool writerGone, const std::string& folder) {
    const bool app = format == "app";
    const std::string file = app ? layout.appsReceiptFile() : layout.receiptFile();
    const std::string dir = folder.empty() ? layout.formatDir(format) : folder;
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    // Only its writer removes what does not count, or is no note at all (a temporary cut off by a
    // kill), once that writer is gone.
    const bool ownGone = writerGone && st.st_uid == ::geteuid();
    std::string text;
    uid_t writer = 0;
    Note note;
    if (!readNote(dirFd, name, text, writer)) return ownGone;
    // Another format's or another data folder's (the folder may be shared): it stays for the
    // one it is for, whose sweep or start records it.
    if (Note::othersNote(text, writer, format, receiptOwner(file))) return false;
    if (!counts(writer, file) || !note.read(text, dir, format)) return ownGone;
    // Not made on disk: its writer is gone without the change, or still at work.
    if (!note.madeOnDisk(dirFd)) return ownGone;
    // Under the receipt's lock the note and the disk are looked at again: the job that wrote it
    // may have recorded its change meanwhile and dropped the note, and a later job may have
    // undone that change.
    bool applied = false;
    std::string changed, error;
    const bool saved = updateReceipt(file, app ? apps : receipt, [&](Receipt& r) {
        std::string again;
        uid_t by = 0;
        if (!readNote(dirFd, name, again, by) || again != text || by != writer || !note.madeOnDisk(dirFd)) return;
        changed = note.apply(r, format);
        applied = true;
    }, error, keepWaiting(waitingSentence(file), wait));
    if (!saved) {  // a receipt that cannot be read or had is never rewritten: the note stays
        unrecorded[note.id] = error;
        return false;
    }
    if (!changed.empty() && log)
        log((note.removal ? "dropped the record of " : "recorded ") + changed + " (its " +
            (note.removal ? "removal" : "install") +
            (recording.count(note.id) ? " was on disk, its record had failed)" : " was cut off before recording it)"));
    return applied;
}

void Engine::settleInstalls(const std::string& format, std::chrono::milliseconds wait, const std::string& folder) {
    const std::string dir = folder.empty() ? layout.formatDir(format) : folder;
    detail::DirFd fd;
    std::vector<std::string> names;
    if (detail::openDir(dir, fd) != 0 || !detail::folderNames(fd.get(), names)) return;
    // A note stays while an aside copy of its tag does: the job's sweep that removes the copy reads
    // there that it was removed, and does not put it back. The folder is looked at again for that
    // once the note is settled: the change on disk came after the aside copy was made.
    const auto left = [&](const std::string& tag, bool orStaging) {
        std::vector<std::string> now;
        if (!detail::folderNames(fd.get(), now)) return true;
        for (const std::string& name : now) {
            const detail::Entry e = detail::parseEntry(name);
            if (e.tag == tag && (e.kind == detail::Entry::Aside || e.kind == detail::Entry::Gone ||
                                 (orStaging && e.kind == detail::Entry::Staging)))
                return true;
        }
        return false;
    };
    // A folder other than the format's is swept only while a record names a copy in it: a removal
    // whose aside copy or staging folder is left there keeps its record until a job's sweep has
    // removed them.
    const bool keptByRecord = dir != layout.formatDir(format);
    for (const std::string& name : names) {
        const detail::Entry e = detail::parseEntry(name);
        if (e.kind != detail::Entry::Note) continue;
        detail::NoteSays says;
        if (keptByRecord && detail::readOwnNote(fd.get(), name, ::geteuid(), says) && says.removal &&
            left(e.tag, true))
            continue;
        if (settleNote(format, fd.get(), name, wait, false, dir) && !left(e.tag, false))
            ::unlinkat(fd.get(), name.c_str(), 0);
    }
}

void Engine::startSweep() {
    detail::keepRootUmask();
    std::string unread;  // a receipt that cannot be read names no folder beyond the layout's own
    loadReceipt(unread);
    for (const auto& [format, folder] : stagingFolders()) settleInstalls(format, kStartLockWait, folder);
    const std::string data = layout.userData();
    for (const std::string& dir :
         {data, joinPath(data, "cache"), joinPath(data, "cache/packages"),
          fs::path(layout.receiptFile()).parent_path().string(), fs::path(layout.appsReceiptFile()).parent_path().string()})
        detail::sweepTemporaries(dir);
}

bool Engine::recordChange(const std::string& file, Receipt& mine, const std::function<void(Receipt&)>& change,
                          const std::string& note, const std::string& done, std::string& error) {
    // A note outside the folders every sweep reads: the change names its copy in `left` until the
    // note is gone, so that a kill between the record and the note's drop leaves it read.
    std::string away, format;
    if (const fs::path dir = fs::path(note).parent_path(); !note.empty() && !layoutFolder(dir.string())) {
        std::string text;
        int err = 0;
        if (readRegularFile(note, kMaxNote, text, err)) {
            const lumo::Json noted = lumo::Json::parse(text);
            away = noted["path"].string();
            format = noted["format"].string();
        }
    }
    std::string why;
    if (updateReceipt(file, mine, [&](Receipt& r) {
            change(r);
            if (!away.empty()) r.left.emplace(away, LeftCopy{format, ""});
        }, why, keepWaiting(waitingSentence(file), kReceiptLockWait))) {
        if (detail::renameFault && !note.empty()) detail::renameFault(detail::RenameStep::Recorded);
        detail::dropNote(note);
        if (!away.empty() && mine.left.count(away) && mine.left.at(away).id.empty())
            updateReceipt(file, mine, [&](Receipt& r) {
                if (r.left.count(away) && r.left.at(away).id.empty()) r.left.erase(away);
            }, why, keepWaiting(waitingSentence(file), kReceiptLockWait));
        return true;
    }
    error = note.empty() ? why
                         : done + kUnrecordedJoin + why + (detail::notesCount(file) ? "; the next start records it" : "");
    return false;
}

namespace {
constexpr char kChangedWord[] = "changed on disk: ";
}  // namespace

std::string unrecordedText(const std::string& what, const std::string& why) {
    return kChangedWord + what + kUnrecordedJoin + why;
}

bool unrecordedChange(const std::string& error, std::string& why) {
    if (error.rfind("installed ", 0) != 0 && error.rfind("removed ", 0) != 0 && error.rfind(kChangedWord, 0) != 0)
        return false;
    const size_t at = error.find(kUnrecordedJoin);
    if (at == std::string::npos) return false;
    why = error.substr(at + sizeof kUnrecordedJoin - 1);
    return true;
}

bool Engine::layoutFolder(const std::string& dir) const {
    const fs::path d = fs::path(dir).lexically_normal();
    if (d == fs::path(layout.appsDir()).lexically_normal()) return true;
    for (const std::string& format : formatsHere())
        if (d == fs::path(layout.formatDir(format)).lexically_normal()) return true;
    return false;
}

std::string Engine::receiptsSeen() const {
    std::string seen;
    for (const std::string& file : {layout.receiptFile(), layout.appsReceiptFile()}) {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) st = {};
        for (const auto n : {uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(st.st_size),
                             uint64_t(st.st_mtim.tv_sec), uint64_t(st.st_mtim.tv_nsec), uint64_t(st.st_ctim.tv_sec),
                             uint64_t(st.st_ctim.tv_nsec)})
            seen += std::to_string(n) + ":";
    }
    return seen;
}

bool Engine::loadReceipt(std::string& error) {
    if (!receipt.load(layout.receiptFile(), error)) return false;
    return apps.load(layout.appsReceiptFile(), error);
}

std::function<bool()> Engine::keepWaiting(const std::string& why, std::chrono::milliseconds limit) const {
    return [until = std::chrono::steady_clock::now() + limit, why, ask = waiting] {
        return std::chrono::steady_clock::now() < until && (!ask || ask(why));
    };
}

}  // namespace tqm
