#pragma once
// The install engine of one job. A plain aggregate: the caller fills the fields.
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/layout.h"
#include "engine/lock_waits.h"
#include "engine/receipt.h"

namespace tqm {

struct Source;
struct Task;
struct Catalog;
struct Plugin;
struct FileRef;
class Package;

struct Engine {
    Layout layout;
    const Source* source = nullptr;    // not owned; null when this engine must not download
    const Catalog* catalog = nullptr;  // not owned; null when none is loaded
    Receipt receipt;                   // "installed.json" of the layout's scope
    std::function<void(const std::string&)> log;  // may be empty
    Receipt apps;                      // "apps.json"
    std::string program;               // the item a self-update replaces (its old copy a job's
                                       // sweep leaves to the next start); empty when unknown
    // Changes a sweep found made on disk but could not record (their receipt could not be had or
    // read), by id, with why; their notes stay for a later sweep.
    std::map<std::string, std::string> unrecorded;
    // Ids whose change a job's "record" task asks to record (set by its sweep): their notes are
    // records that failed, not jobs cut off.
    std::set<std::string> recording;
    // Asked while another process holds a lock this job needs, with the sentence to show ("Waiting
    // for another copy of the manager to finish its job"); answers false to give up. May be empty.
    std::function<bool(const std::string&)> waiting;

    // Loads `receipt`, then (only if that worked) `apps`; the result of the last load tried.
    bool loadReceipt(std::string& error);

    // Folder probing, downloads and installs (install_folder.cpp, download.cpp, install.cpp,
    // install_app.cpp). Progress callbacks get (bytes done, total) and answer false to stop.
    bool canWrite(const std::string& format) const;  // creates the format's folder when allowed
    // The same asked without making anything: a missing folder by the rights on the nearest folder
    // above it that is there.
    bool couldWrite(const std::string& format) const;
    // Leftovers of interrupted jobs (engine/install_folder.h): the caller holds the job lock, and
    // opens its job with beginJob, which sweeps and then reads the receipts. The folders the tasks
    // change (every folder without tasks) are waited for, together at most kReceiptLockWait; any
    // other is swept only when its claim is free and it can be read, else left with a log line.
    // False, with why in error when given, when a folder the tasks change was not swept: "cannot
    // read <folder>: <system text>", or why its claim was not had.
    bool sweep(std::string* error = nullptr, const std::vector<Task>* tasks = nullptr);
    // The install folders the tasks stage in: the format's folder of a plug-in and the maker's
    // folder installed.json records it in, the applications folder and the folder apps.json records
    // an app in, the running manager's folder.
    std::set<std::string> changedFolders(const std::vector<Task>& tasks) const;
    // Brings the receipt in line with an install of the format whose new copy went in, or a
    // removal whose copy went, but whose record a kill (or a receipt lock not had) cut off, from
    // the notes it left that count for this receipt; the receipt's lock is waited for `wait`.
    // The notes are those of `folder` (by default the format's folder).
    void settleInstalls(const std::string& format, std::chrono::milliseconds wait = kReceiptLockWait,
                        const std::string& folder = {});
    // The same for the one note `name` of the format's open folder dirFd (its path `folder`, by
    // default the format's); answers whether it may go (recorded, or, once writerGone, its own
    // writer's and of nothing to record).
    bool settleNote(const std::string& format, int dirFd, const std::string& name, std::chrono::milliseconds wait,
                    bool writerGone, const std::string& folder = {});
    // Every folder a writer stages in, with the format whose receipt its notes are for: each
    // format's folder, the applications folder, then every maker's folder of an earlier install
    // folder that holds a plug-in installed.json records and every other folder that holds an app
    // apps.json records (as they are on disk), where a copy is updated or removed where it lies.
    // What a job's sweep and a start read.
    std::vector<std::pair<std::string, std::string>> stagingFolders() const;
    // What the manager does as it starts, safe beside a job another manager may be running: the
    // installs above are recorded, and temporaries of writers that died go from its data folders.
    void startSweep();
    bool download(const Plugin& entry, const std::string& format, std::string& data, std::string& error,
                  const std::function<bool(uint64_t, uint64_t)>& progress) const;
    bool downloadSelf(std::string& data, std::string& error,
                      const std::function<bool(uint64_t, uint64_t)>& progress) const;
    bool install(const Plugin& entry, const std::string& format, const std::string& data, std::string& error);
    bool installApp(const Plugin& entry, const std::string& data, std::string& error);

    // The same for a package this job downloaded and checked (engine/package.h): it is kept
    // where no one else can change it, so the install does not hash it again.
    bool download(const Plugin& entry, const std::string& format, Package& package, std::string& error,
                  const std::function<bool(uint64_t, uint64_t)>& progress) const;
    bool downloadSelf(Package& package, std::string& error,
                      const std::function<bool(uint64_t, uint64_t)>& progress) const;
    bool install(const Plugin& entry, const std::string& format, const Package& package, std::string& error);
    bool replaceSelf(const Package& package, std::string& error);

    // Saves one change of the receipt file (updateReceipt, waiting as `waiting` allows) and then
    // drops the change's note. When it cannot be saved the note stays, and error says so after
    // `done` ("installed <path>"), promising the next start's record only when that start counts
    // the note (detail::notesCount). The caller asked receiptWritable before anything moved.
    bool recordChange(const std::string& file, Receipt& mine, const std::function<void(Receipt&)>& change,
                      const std::string& note, const std::string& done, std::string& error);
    // What a wait for a lock asks: false once `limit` has passed or `waiting` gives up.
    std::function<bool()> keepWaiting(const std::string& why, std::chrono::milliseconds limit) const;

    // Removal, data purge and self-update (remove.cpp, purge.cpp, self_update.cpp).
    // Only what the receipts record as the manager's own, in folders it recognises, is removed.
    bool remove(const std::string& id, const std::string& format, std::string& error);
    bool removeApp(const std::string& id, std::string& error);
    // scope: "machine" for the machine's data, any other word for the user's.
    bool canPurge(const std::string& id, const std::string& scope) const;
    bool purge(const std::string& id, const std::string& scope, std::string& error);
    bool canWriteSelf() const;
    bool replaceSelf(const std::string& data, std::string& error);
    void sweepSelf(const std::string& item);

    // What follows the check of the bytes against ref: unpack, move in, record.
    bool placePlugin(const Plugin& entry, const std::string& format, const FileRef& ref, const std::string& data,
                     std::string& error);
    bool placeApp(const Plugin& entry, const FileRef& ref, const std::string& data, std::string& error);
    bool placeSelf(const FileRef& ref, const std::string& data, std::string& error);
};

// A task's error that says its change is on disk but not recorded (recordChange's sentence, a
// "record" task's, also as the elevated helper hands it back): true, with why set to why the record
// failed.
bool unrecordedChange(const std::string& error, std::string& why);
// A "record" task's error: the item (what) is changed on disk, but why it is still not recorded.
std::string unrecordedText(const std::string& what, const std::string& why);

}  // namespace tqm
