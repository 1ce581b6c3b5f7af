#pragma once
// The manager's state object, owned by the main window and touched only on the UI thread.
//
//   Model::Loaded          what one catalog load hands over
//   Model fields           configuration, catalog, receipts, rows, pictures, the job and its outcome
//   loading                start, reload, fetch (worker), apply, refresh, setLayout   (model.cpp)
//   queries                updates, busyWith, managerUpdate, managerRequired          (model.cpp)
//   log                    log, logFile                                               (log.cpp)
//   jobs                   run, finishJob                                              (jobs.cpp)
//
// Slow work (a catalog load, a job) runs on worker threads (startWorker) that hold copies of what
// they need and hand results back only by posting closures to the editor's UI queue; those closures
// carry the model's address and run on the UI thread. The editor kills the queue when it goes,
// so a closure posted after that is dropped unrun and the address is never used again. The program
// waits for its workers before it ends (waitForWorkers).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/jobs.h"
#include "engine/receipt.h"
#include "engine/rows.h"
#include "gui/draw/canvas.h"
#include "manager/model/config.h"
#include "manager/model/engine_calls.h"
#include "manager/model/pictures.h"

namespace lumo::gui {
class UiQueue;
}

namespace tqapp {

class Model {
public:
    // What one catalog load hands to the UI thread.
    struct Loaded {
        std::shared_ptr<tqm::LoadedCatalog> catalog;  // never null
    };

    Model(Config config, std::shared_ptr<lumo::gui::UiQueue> queue, std::function<void()> onChange);

    Config config;
    std::shared_ptr<lumo::gui::UiQueue> queue;
    std::function<void()> onChange;

    bool loading = true;                          // a catalog load is under way
    bool fetchingPictures = false;                // its worker still fetches pictures (after the rows)
    std::shared_ptr<tqm::LoadedCatalog> catalog;  // the last load applied, good or not; null before
    tqm::Receipt receipt;                         // "installed.json" of the layout's scope
    tqm::Receipt appsReceipt;                     // "apps.json" of the layout's scope
    std::string receiptError;                     // why the last receipt read in refresh failed
    std::vector<tqm::Row> rows;                   // as tqm::deriveRows orders them
    uint32_t rowsGeneration = 0;                  // counts every replacement of rows
    art::Pictures pictures;                       // of the applied catalog, decoded as rows draw them

    bool busy = false;                    // a job runs
    std::map<std::string, int32_t> jobIds;  // ids of the running job's tasks
    std::string progressText;
    bool waiting = false;                 // the running job waits (permission, another copy's job): progressText says for what
    std::string jobTitle;                 // of the running or last job
    std::string note;                     // the status note
    double fraction = 0;                  // the running job's progress; 1 once it ended
    uint32_t jobGeneration = 0;           // jobs started
    uint32_t doneGeneration = 0;          // generation of the last job that ended
    bool ok = false;                      // the last job that ended succeeded
    bool cancelled = false;               // the last job that ended was stopped
    bool retryable = true;                // the last job that failed may succeed when run again
    bool stoppable = false;               // the running job may still be stopped
    std::shared_ptr<std::atomic<bool>> cancel;  // the running job's stop flag
    bool closing = false;                 // the window's close waits for the running job's end
    bool closeStops = false;              // and asked it to stop
    std::map<std::string, int32_t> failed;      // ids whose last job failed, till their record changes

    // Sweeps self-update leftovers, then starts the first catalog load (inline in harness mode).
    void start();
    // Another catalog load, unless a load or a job runs.
    void reload();
    // The catalog load itself: catalog and signature. Any thread; touches no model.
    static std::shared_ptr<Loaded> fetch(const Config& config);
    // Takes a load's result.
    void apply(const std::shared_ptr<Loaded>& loaded);
    // The load's worker is done with the pictures the cache lacked; when some arrived, rows that had
    // none try again.
    void picturesFetched(bool arrived);
    // Reads both receipts again and derives the rows.
    void refresh();
    // refresh, when a receipt file changed on disk since it last read them (another copy's job, the
    // elevated helper); nothing while a job or a load runs, as their ends read them anyway.
    void refreshIfChanged();
    // Changes the install layout; false (nothing done) while a job runs.
    bool setLayout(const tqm::Layout& layout);

    int updates() const;
    bool busyWith(const std::string& id) const;
    std::string managerUpdate() const;  // the catalog's newer manager version, or empty
    bool managerRequired() const;       // this manager is older than the catalog's minimum
    void say(std::string text);

    // One time-stamped line in the log file (nothing in harness mode).
    void log(const std::string& text) const;
    std::filesystem::path logFile() const;

    // Starts a job on a worker; nothing when a job runs or there are no tasks.
    void run(std::vector<tqm::Task> tasks, std::string title, std::string doneText);
    // The job worker's last post: records the outcome.
    void finishJob(bool ok, const std::string& error, const std::vector<calls::Result>& results,
                   const std::string& doneText, uint32_t generation, bool cancelled);
    // Marks the items whose change is on disk but could not be recorded (id -> why) as failed, and
    // says why, as a failed job would.
    void markUnrecorded(const std::map<std::string, std::string>& unrecorded);
    // The last job of this data folder was cut off before its end (a second signal, a kill): the
    // tasks it left undone, read at the start. An install left undone is offered again (its format
    // ticked, the item marked as failed).
    bool leftUndone(const std::string& id, const std::string& format) const;
    // For the window's close: a running job is stopped as STOP stops it (one past its downloads
    // runs on), and this waits until its worker has logged the outcome and ended.
    void endJob();
    // The window's close during a job: the job is stopped as STOP stops it (one that can no longer
    // stop runs to its end), logged, and the window waits for its end, saying so (closingNote).
    void closeAfterJob();
    std::string closingNote() const;

    // Told by a job's worker once it has written its outcome and touches nothing more.
    struct WorkerEnd {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };

    // Runs work on a thread of its own; once keepWorkers was called, one that waitForWorkers
    // accounts for (else a detached one). A job must be let finish; a catalog load may be abandoned
    // when the program ends. Throws std::system_error, as std::thread does, when no thread can start.
    enum class AtExit { Finish, MayAbandon };
    static void startWorker(std::function<void()> work, AtExit atExit);
    // The program calls this first: from then on every worker is kept until waitForWorkers joins it.
    static void keepWorkers();
    // Waits for every kept worker that must finish, and up to grace for the others; false when one
    // of those still runs then, so the caller ends the process without the teardown of the
    // libraries that worker is using.
    static bool waitForWorkers(std::chrono::milliseconds grace);

private:
    void startLoad();
    // Fetches a cached picture that failed its check: inline in harness mode (true when it is there
    // now), else on a worker that says when it is done (pictureFetched). Nothing while the picture
    // is being fetched, or when its fetch failed for this catalog.
    bool fetchPictureAgain(const tqm::FileRef& ref);
    // A fetch of fetchPictureAgain has ended; the picture alone is read again when it arrived.
    void pictureFetched(const tqm::FileRef& ref, bool got);
    int pictureFetches_ = 0;  // picture workers not yet done
    std::set<std::string> picturesInFlight_;  // art::fileKey of pictures fetchPictureAgain fetches now
    std::set<std::string> picturesFailed_;    // and of those it failed to fetch for this catalog
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);  // gone with the model
    std::shared_ptr<WorkerEnd> workerEnd_;  // of the last job's worker; null before any
    // The receipt files the kept receipts were read from: a failed read of another file (a new
    // scope or root) must not leave the old scope's items standing as installed here.
    std::string receiptFrom_, appsReceiptFrom_;
    std::string receiptStamp_;  // the receipt files as refresh last found them (receiptStamp)
    // Of each id in failed, what the receipts recorded of it after the failure; refresh drops the
    // failure once that record changes.
    std::map<std::string, std::string> failedRecords_;
    std::string failedNote_;  // the note of the last job that failed, which goes with its last error mark
    // Changes on disk that no receipt records (id -> why), and the status note that says so: the
    // items by their names once the catalog gives them, and a reason short enough for the line
    // (the log has it whole). A job's end says its own the same way.
    std::map<std::string, std::string> unrecorded_;
    std::string unrecordedNote_;
    // The tasks of the jobs so far whose change is on disk but not recorded ("id format" -> the
    // task's op): run again, they only record it.
    std::map<std::string, std::string> recordOnRetry_;
    std::string unrecordedNote(const std::map<std::string, std::string>& unrecorded) const;
    // What the last job, cut off, left undone (readCutOffJob, at the start), and the note that says so.
    std::vector<tqm::Task> leftUndone_;
    std::string cutOffNote_;
    void readCutOffJob();
    std::string cutOffNote() const;
    void forgetFailuresRecordedSince();
};

}  // namespace tqapp
