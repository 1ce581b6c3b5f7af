// The record an install makes once its new copy is in place, noted beforehand beside its staging
// folder: a kill between the move in and the saving of the receipt leaves the note, and the next
// sweep records what is on disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <vector>

#include "engine/atomic_write.h"
#include "engine/engine.h"
#include "engine/engine_state.h"
#include "engine/fileread.h"
#include "engine/safe_path.h"
#include "engine/util.h"
#include "json/json.h"

namespace fs = std::filesystem;

namespace tqm {

namespace {

const char kNotePrefix[] = ".tqm-record-";
constexpr size_t kMaxNote = 64 * 1024;

std::string tagOf(const std::string& staging) {
    const std::string leaf = fs::path(staging).filename().string();
    const size_t dash = leaf.rfind('-');
    return dash == std::string::npos ? leaf : leaf.substr(dash + 1);
}

bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

namespace detail {

std::string notePending(const std::string& staging, const std::string& item, const std::string& id,
                        const std::string& format, const InstalledFormat& rec, int64_t sequence) {
    struct stat st {};
    if (::lstat(joinPath(staging, item).c_str(), &st) != 0) return {};
    const std::string note = joinPath(fs::path(staging).parent_path().string(), kNotePrefix + tagOf(staging));
    // Device and inode say which copy the note is for: a rename keeps them, so the copy at the
    // target is this install's exactly when they match.
    const std::string text = "{\"id\": " + jsonQuote(id) + ", \"format\": " + jsonQuote(format) +
                             ", \"item\": " + jsonQuote(item) + ", \"dev\": \"" + std::to_string(st.st_dev) +
                             "\", \"ino\": \"" + std::to_string(st.st_ino) + "\", \"sequence\": \"" +
                             std::to_string(sequence) + "\", \"version\": " + jsonQuote(rec.version) +
                             ", \"path\": " + jsonQuote(rec.path) + ", \"package_sha256\": " +
                             jsonQuote(rec.package_sha256) + ", \"installed\": " + jsonQuote(rec.installed) +
                             ", \"exe\": " + jsonQuote(rec.exe) + ", \"uninstall_key\": " +
                             jsonQuote(rec.uninstall_key) + "}\n";
    WriteFailure failure;
    return writeFileAtomic(note, text, 0644, false, failure) ? note : std::string();
}

void dropNote(const std::string& note) {
    if (!note.empty()) removeAll(note);
}

}  // namespace detail

void Engine::settleInstalls(const std::string& format) {
    const std::string dir = layout.formatDir(format);
    detail::DirFd fd;
    std::vector<std::string> names;
    if (detail::openDir(dir, fd) != 0 || !detail::folderNames(fd.get(), names)) return;
    for (const std::string& name : names) {
        if (name.rfind(kNotePrefix, 0) != 0) continue;
        std::string text;
        int err = 0;
        if (!readRegularFile(joinPath(dir, name), kMaxNote, text, err)) continue;
        const lumo::Json note = lumo::Json::parse(text);
        const std::string item = note["item"].string(), id = note["id"].string();
        struct stat st {};
        // Not this format's, not a plain item, or not (yet) moved in: the job sweep clears it.
        if (note["format"].string() != format || id.empty() || !plainName(item) ||
            note["path"].string() != joinPath(dir, item) ||
            ::fstatat(fd.get(), item.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            note["dev"].string() != std::to_string(st.st_dev) || note["ino"].string() != std::to_string(st.st_ino))
            continue;
        const bool app = format == "app";
        const std::string file = app ? layout.appsReceiptFile() : layout.receiptFile();
        InstalledFormat rec;
        rec.version = note["version"].string();
        rec.path = note["path"].string();
        rec.package_sha256 = note["package_sha256"].string();
        rec.installed = note["installed"].string();
        rec.exe = note["exe"].string();
        rec.uninstall_key = note["uninstall_key"].string();
        const std::string& sequence = note["sequence"].string();
        int64_t seq = -1;
        std::from_chars(sequence.data(), sequence.data() + sequence.size(), seq);
        std::string error;
        // A receipt that cannot be read is never rewritten.
        if (!updateReceipt(file, app ? apps : receipt,
                           [&](Receipt& r) {
                               r.plugins[id].formats[format] = rec;
                               if (seq >= 0) r.catalog_sequence = seq;
                           },
                           error))
            continue;
        if (log) log("recorded " + rec.path + " (its install was cut off before recording it)");
        ::unlinkat(fd.get(), name.c_str(), 0);
    }
}

void Engine::startSweep() {
    std::vector<std::string> formats = formatsHere();
    formats.push_back("app");
    for (const std::string& format : formats) settleInstalls(format);
    const std::string data = layout.userData();
    for (const std::string& dir :
         {data, joinPath(data, "cache"), joinPath(data, "cache/packages"),
          fs::path(layout.receiptFile()).parent_path().string(), fs::path(layout.appsReceiptFile()).parent_path().string()})
        detail::sweepTemporaries(dir);
}

}  // namespace tqm
