#pragma once
// The one whole-file write of the system. A file is replaced whole or not at all: the text goes to a
// temporary file of this writer's own beside the target (created new, never through a link), is
// written whole and flushed to disk, then renamed over the target, and the folder is flushed so the
// rename lasts (a folder that cannot be flushed does not undo a write already in place). On any failure the temporary file is removed and the target is as it was.
// Folders are opened as engine/safe_path.h says (root passes no link a user can change).
#include <functional>
#include <string>

namespace tqm {

// How a write failed: a system error number (detail::kLinkRefused for a folder on the way that root
// will not pass), and whether the new file was whole when putting it in place failed.
struct WriteFailure {
    int err = 0;
    bool placing = false;
};

// Replaces name in the open folder dirFd with text; the new file has mode (less the umask).
// beforeRename, when given, sees the new file's descriptor (open for reading and writing) while the
// file is still the writer's own; it may keep a duplicate of it.
bool writeFileAtomicAt(int dirFd, const std::string& name, const std::string& text, unsigned mode,
                       WriteFailure& failure, const std::function<void(int fd)>& beforeRename = nullptr);

// The same for a file that can be had again at any time (a cache), without flushing it or its folder
// to disk: the write is as safe (a new file of its own, no link followed, renamed into place), but a
// power cut may lose it or leave it short, so its reader checks it.
bool writeUnflushedAt(int dirFd, const std::string& name, const std::string& text, unsigned mode,
                      WriteFailure& failure);

// The same for a path; with makeFolder its folder is made (with its parents) when missing.
bool writeFileAtomic(const std::string& path, const std::string& text, unsigned mode, bool makeFolder,
                     WriteFailure& failure);

// The same with a message: "cannot write <path>: <reason>".
bool writeFileAtomic(const std::string& path, const std::string& text, unsigned mode, bool makeFolder,
                     std::string& error);

namespace detail {

// A temporary name beside name, of this process, thread and call only.
std::string tempNameFor(const std::string& name);

// Creates the file name in an open folder (O_EXCL, never through a link), writes all of text into it
// and, with flush, flushes it; on failure nothing is left and err says why. beforeClose sees the descriptor.
bool writeNewFile(int dirFd, const std::string& name, const std::string& text, unsigned mode, int& err,
                  const std::function<void(int fd)>& beforeClose = nullptr, bool flush = true);

// writeFileAtomicAt through the given temporary name; without flush, writeUnflushedAt.
bool replaceVia(int dirFd, const std::string& name, const std::string& tempName, const std::string& text,
                unsigned mode, WriteFailure& failure, const std::function<void(int fd)>& beforeRename = nullptr,
                bool flush = true);

// Flushes the folder's entries (a rename in it) to disk; 0 or a system error number.
int syncFolder(int dirFd);

// The flush the writes above call (fsync); tests put one in its place that fails or notes the order.
extern int (*flushFd)(int fd);

// Removes from the open folder dirFd the temporaries (tempNameFor names, regular files of this
// user) that writers killed part-way left: those of a process that is gone and untouched for
// kOrphanAge, and any a day old (its number since taken by another process). A writer sharing the
// folder from another process namespace has a number that means nothing here; what keeps its
// temporary is that a working writer touches it: a temporary is written whole and renamed right
// after one flush. Folders below dirFd are never entered.
constexpr int kOrphanAge = 10 * 60;  // seconds
void sweepTemporaries(int dirFd);

// The same for the folder dir, opened as the writes open it (engine/safe_path.h).
void sweepTemporaries(const std::string& dir);

}  // namespace detail

}  // namespace tqm
