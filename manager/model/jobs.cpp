// Jobs: a list of tasks run as one unit on a detached worker thread.
//
// The worker splits the tasks into the engine's list (downloads, then the install engine in this
// process or in the elevated helper) and the manager's own steps (its setup hooks and the user's
// data), which run afterwards and only when everything before them succeeded. It reads and
// writes no model field: progress and the outcome travel back as closures posted to the UI
// queue. A job can be stopped while it downloads; once the downloads are done it runs to its end.
// The model can wait for a worker's end (the window's close): the worker says so once its outcome
// is logged and posted, its last touch of anything shared.
#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/atomic_write.h"
#include "engine/file_lock.h"
#include "engine/install_folder.h"
#include "engine/layout.h"
#include "engine/signature.h"
#include "engine/source.h"
#include "gui/ui_queue.h"
#include "manager/model/engine_calls.h"
#include "manager/model/log.h"
#include "manager/model/model.h"
#include "manager/model/setup.h"

namespace fs = std::filesystem;

namespace tqapp {

namespace {

const char kNothingToDo[] = "Nothing to do: no operation was chosen";
// Short enough for the job window's status box: the helper verifies only the built-in keys.
const char kOtherKeys[] = "Needs admin rights: not with --pub";

struct Outcome {
    bool ok = false;
    bool cancelled = false;
    bool retryable = true;  // the same job run again may succeed
    std::string error;
    std::vector<calls::Result> results;
};

// A job that has begun notes its installs and removals in the data folder until they have run: a
// note found by a start while no job holds the data folder tells of a job cut off before its end (a
// second signal, a kill). The job's title, then a line a task: "op id format version" (the
// catalog's version of an install, "-" for a removal).
fs::path unfinishedFile(const Config& config) { return fs::path(config.layout.userData()) / "job-unfinished.txt"; }

// Whether a job may be stopped until it begins: one that downloads.
bool stoppableBeforeItBegins(const std::vector<tqm::Task>& tasks) {
    return std::any_of(tasks.begin(), tasks.end(), [](const tqm::Task& t) {
        const calls::Op op = calls::opOf(t.op);
        return op == calls::Op::Install || op == calls::Op::Self;
    });
}

// The worker's own copy of everything it needs.
struct Worker {
    Config config;
    std::shared_ptr<tqm::LoadedCatalog> catalog;
    std::shared_ptr<lumo::gui::UiQueue> queue;
    Model* model = nullptr;  // used only inside posted closures
    std::vector<tqm::Task> tasks;
    std::string title, doneText;
    uint32_t generation = 0;
    std::shared_ptr<std::atomic<bool>> cancel;
    fs::path logFile;
    bool writeLog = false;
    std::shared_ptr<Model::WorkerEnd> end;

    std::vector<calls::Step> engineList, ownList;
    std::string waitShown;  // the wait for a lock last shown
    bool begun = false;     // the job lock is had: from here the job runs to its end
    int steps = 1;
    int downloadsDone = 0;

    void post(std::function<void(Model&)> f) const {
        if (queue) queue->post([m = model, f = std::move(f)] { f(*m); });
    }

    // waiting: the text says what the job waits for (permission, another copy's job).
    void postProgress(std::string text, double fraction, bool waiting = false) const {
        // Within a job the figure only grows: a new package's download starts from the share done.
        post([text = std::move(text), fraction, waiting](Model& m) {
            m.progressText = text;
            m.waiting = waiting;
            m.fraction = std::max(m.fraction, fraction);
            if (m.onChange) m.onChange();
        });
    }

    double installFraction() const { return double(steps - 1) / steps; }

    // The note of unfinishedFile, written once the job has begun and dropped once its tasks ran
    // (both under the job lock, so that another copy's job never drops this one's).
    void noteBegun() const {
        if (!writeLog) return;  // the harness leaves no trace
        std::string lines;
        for (const calls::Step& step : engineList) {
            if (step.op != calls::Op::Install && step.op != calls::Op::Remove) continue;
            const tqm::Plugin* entry = step.op == calls::Op::Install && catalog && catalog->ok
                                           ? catalog->catalog.find(step.task.id) : nullptr;
            lines += step.task.op + " " + step.task.id + " " + step.task.format + " " + (entry ? entry->version : "-") + "\n";
        }
        std::string error;
        if (!lines.empty()) tqm::writeFileAtomic(unfinishedFile(config).string(), title + "\n" + lines, 0644, false, error);
    }
    void noteRan() const {
        std::error_code ec;
        if (writeLog) fs::remove(unfinishedFile(config), ec);
    }

    // The progress callback of one download: the job's share done in whole percents, each posted
    // once. The text says the figure the bar shows, the job's, not the package's.
    tqm::Progress onDownload(const tqm::FileRef* ref) {
        return [this, ref, last = -1](uint64_t done, uint64_t total) mutable {
            total = calls::transferTotal(total, ref);
            const double share = total ? double(std::min(done, total)) / double(total) : 0.0;
            const double fraction = (share + downloadsDone) / steps;
            if (const int pct = int(std::lround(fraction * 100)); pct != last) {
                last = pct;
                post([fraction](Model& m) {
                    m.fraction = std::max(m.fraction, fraction);
                    m.progressText = "Downloading " + std::to_string(std::lround(m.fraction * 100)) + " %";
                    m.waiting = false;
                    if (m.onChange) m.onChange();
                });
            }
            return !cancel->load();
        };
    }

    // Downloads every package of the engine's list; false with out's error (and maybe a result).
    bool downloads(const tqm::Engine& engine, Outcome& out) {
        for (calls::Step& step : engineList) {
            const tqm::Task& task = step.task;
            std::string error;
            if (step.op == calls::Op::Install) {
                const tqm::Plugin* entry = engine.catalog ? engine.catalog->find(task.id) : nullptr;
                if (!entry) {
                    out.error = task.id + " is not in the catalog";
                    return false;
                }
                const bool got = calls::download(engine, *entry, step, error,
                                                 onDownload(entry->package(task.format, tqm::thisPlatform())));
                ++downloadsDone;
                if (!got) {
                    out.results.push_back(calls::result(task.op, task.id, task.format, false, error));
                    out.error = error;
                    return false;
                }
            } else if (step.op == calls::Op::Self) {
                const bool got = calls::downloadSelf(
                    engine, step, error, onDownload(engine.catalog ? engine.catalog->managerPackage() : nullptr));
                ++downloadsDone;
                if (!got) {
                    out.results.push_back(calls::result("self", "manager", "app", false, error));
                    out.error = error;
                    return false;
                }
            }
        }
        return true;
    }

    bool helperTrustsCatalog() const {
        std::string why;
        return !catalog || !catalog->ok || tqm::verifySignature(catalog->text, catalog->signature, tqm::helperKeys(), why);
    }

    // making: folders are made as the job would (canWrite), else only looked at (couldWrite).
    bool needsElevation(const tqm::Engine& engine, bool making = true) const {
        bool needed = false;
        std::map<std::string, bool> folders;  // one probe per format's folder
        for (const calls::Step& step : engineList) {  // every task is tested: canWrite makes folders
            const tqm::Task& task = step.task;
            bool can;
            if (step.op == calls::Op::Self) {
                can = engine.canWriteSelf();
            } else if (step.op == calls::Op::Purge) {
                can = engine.canPurge(task.id, task.format);
            } else {
                auto [it, fresh] = folders.try_emplace(task.format, false);
                if (fresh) it->second = making ? engine.canWrite(task.format) : engine.couldWrite(task.format);
                can = it->second;
            }
            needed = needed || !can;
        }
        return needed;
    }

    // The helper takes only a catalog its own keys verify (the built-in ones): a job that needs it
    // with one signed with other keys (--pub) would fail there as if no catalog were cached, and
    // fails here as often as it is run. Said before anything is fetched or asked.
    bool refusedByTheHelper(Outcome& out) {
        out.error = kOtherKeys;
        out.retryable = false;
        return true;
    }

    // Downloads, then the install engine here or in the elevated helper. False when it ended
    // before the install began (the only part of a job that a stop can end).
    bool runEngineList(tqm::Engine& engine, Outcome& out) {
        std::string error;
        if (!engine.loadReceipt(error)) {
            out.error = error;
            return false;
        }
        // Whether the job needs the helper is known for sure only once folders are made, which a
        // job stopped during its downloads must not leave behind: before them it is only looked at.
        const bool trusted = helperTrustsCatalog();
        if (!trusted && needsElevation(engine, false)) return refusedByTheHelper(out);
        if (!downloads(engine, out) || cancel->load()) return false;
        if (engineList.empty()) {
            out.ok = true;
            return true;
        }
        const auto unstoppable = [this] {
            post([](Model& m) {
                m.stoppable = false;
                if (m.onChange) m.onChange();
            });
        };
        const calls::Op first = engineList.front().op;
        const std::string working = first == calls::Op::Remove   ? "Removing"
                                    : first == calls::Op::Record ? "Recording"
                                                                 : "Installing";
        if (needsElevation(engine)) {
            if (!trusted) return refusedByTheHelper(out);
            unstoppable();
            postProgress("Waiting for permission", installFraction(), true);
            // The helper's wait for another copy's job is shown, and may be stopped, as the wait
            // here is: a stopped helper gives up before it changes anything. Its waits once it
            // has begun (for a receipt) are shown but not stopped.
            tqm::HelperWatch watch;
            watch.waiting = [this, stoppable = stoppableBeforeItBegins(tasks)](const std::string& why) {
                if (why != waitShown) {
                    if (!begun) post([stoppable](Model& m) { m.stoppable = stoppable; });
                    postProgress(waitShown = why, installFraction(), true);
                }
                return !cancel->load();
            };
            watch.begun = [&, this] {
                begun = true;
                noteBegun();
                if (waitShown.empty()) return;
                unstoppable();
                postProgress(working, installFraction());
            };
            out.ok = calls::runElevated(config, engineList, out.results, out.error, watch);
            if (begun) noteRan();
            return begun || !cancel->load();
        }
        // A job of another copy of the manager on this data folder, and another's sweep of a folder
        // this job changes, are waited for, saying so: until this job has begun it may still be stopped; after that a wait (for a receipt) is shown
        // but not stopped. The receipts are read again once the lock is had (beginJob).
        engine.waiting = [this](const std::string& why) {
            if (why != waitShown) postProgress(waitShown = why, installFraction(), true);
            return begun || !cancel->load();
        };
        const std::vector<tqm::Task> engineTasks = calls::tasksOf(engineList);
        const auto job = tqm::beginJob(engine, config.layout.userData(), error, [&] {
            if (cancel->load()) return false;
            begun = true;
            noteBegun();
            unstoppable();
            postProgress(working, installFraction());
            return true;
        }, &engineTasks);
        if (!job) {
            if (begun) noteRan();
            if (!begun && cancel->load()) return false;
            out.error = error;
            return true;
        }
        out.ok = calls::runHere(engine, engineList, out.results);
        noteRan();
        for (const calls::Result& r : out.results)
            if (!r.ok) {
                out.error = r.message;
                break;
            }
        if (!out.ok && out.error.empty()) out.error = "a task failed";
        return true;
    }

    // The manager's own removal comes last but is asked about first: where it cannot run, nothing
    // of the job runs (no plug-in is removed, the cache stays) and the job fails with the reason.
    bool ownRemovalRefused(Outcome& out) const {
        const bool removal = std::any_of(ownList.begin(), ownList.end(),
                                         [](const calls::Step& s) { return s.op == calls::Op::SetupUninstall; });
        if (!removal || setup::canUninstall(setup::Where{config.layout.root}, out.error)) return false;
        out.results.push_back(calls::result("setup-uninstall", "manager", "app", false, out.error));
        return true;
    }

    // The manager's own steps, in order, while everything succeeds.
    void runOwnList(tqm::Engine& engine, Outcome& out) {
        const setup::Where where{config.layout.root};
        const std::string userData = config.layout.userData();
        for (const calls::Step& step : ownList) {
            if (!out.ok) return;
            const tqm::Task& task = step.task;
            std::string& error = out.error;
            if (step.op == calls::Op::SetupUninstall) {
                postProgress("Removing the manager", installFraction());
                out.ok = setup::uninstall(where, error);
                std::error_code ec;
                fs::remove_all(fs::path(userData) / "cache", ec);
                if (out.ok && task.id == "plugins") setup::removeAfterExit(userData);
                out.results.push_back(calls::result(task.op, "manager", "app", out.ok, error));
            } else if (step.op == calls::Op::SetupInstall) {
                postProgress("Installing the manager", installFraction());
                const bool startMenu = task.id.find("startmenu") != std::string::npos;
                const bool desktop = task.id.find("desktop") != std::string::npos;
                out.ok = setup::install(where, config.program, config.version, startMenu, desktop, error);
                out.results.push_back(calls::result(task.op, "manager", "app", out.ok, error));
            } else {  // the user's data of an item
                postProgress("Deleting its data", installFraction());
                std::string ignored;
                engine.loadReceipt(ignored);
                out.ok = engine.purge(task.id, "user", error);
                out.results.push_back(calls::result("purge", task.id, "user", out.ok, error));
            }
        }
    }

    // The tasks of a job stopped before it began: none of them ran.
    std::string notRun() const {
        std::string list;
        for (const tqm::Task& t : tasks) list += (list.empty() ? "" : ", ") + t.op + " " + t.id + " " + t.format;
        return list;
    }

    void operator()() {
        for (const tqm::Task& task : tasks) (calls::ownStep(task) ? ownList : engineList).push_back(calls::stepOf(task));
        for (const calls::Step& step : engineList) steps += step.op == calls::Op::Install || step.op == calls::Op::Self;

        const tqm::Source source(config.source);
        std::function<void(const std::string&)> engineLog;
        if (writeLog) engineLog = [file = logFile](const std::string& line) { appendLog(file, "  " + line); };
        const tqm::Catalog* parsed = catalog && catalog->ok ? &catalog->catalog : nullptr;
        tqm::Engine engine = calls::jobEngine(config, source, parsed, std::move(engineLog));

        Outcome out;
        if (!ownRemovalRefused(out)) {
            const bool ran = runEngineList(engine, out);
            if (!ran && cancel->load()) {
                out.error = "Cancelled";
                out.results.clear();
                out.cancelled = true;
            }
            runOwnList(engine, out);
        }

        if (writeLog) {
            std::vector<std::string> texts;
            for (const calls::Result& r : out.results) texts.push_back("  " + r.line);
            if (out.cancelled) texts.push_back("  not run: " + notRun());
            texts.push_back(out.ok ? "  done" : out.cancelled ? "  cancelled" : "  failed: " + out.error);
            appendLog(logFile, texts);
        }
        post([out = std::move(out), doneText = doneText, generation = generation](Model& m) {
            m.retryable = out.retryable;
            m.finishJob(out.ok, out.error, out.results, doneText, generation, out.cancelled);
        });
        if (end) {
            std::lock_guard<std::mutex> lock(end->mutex);
            end->done = true;
            end->ended.notify_all();
        }
    }
};

}  // namespace

void Model::run(std::vector<tqm::Task> tasks, std::string title, std::string doneText) {
    if (busy || tasks.empty()) return;
    // A task without an operation does nothing (the engine would take it for an install).
    std::erase_if(tasks, [](const tqm::Task& t) { return t.op.empty(); });
    jobTitle = std::move(title);
    retryable = true;
    log("job: " + jobTitle);
    if (tasks.empty()) {  // ends at once, as a job that failed with nothing done
        ++jobGeneration;
        finishJob(false, kNothingToDo, {}, {}, jobGeneration, false);
        log("  failed: " + std::string(kNothingToDo));
        return;
    }
    busy = true;
    jobIds.clear();
    // A change on disk whose record failed is recorded, not downloaded and made again.
    for (tqm::Task& task : tasks) {
        const auto it = recordOnRetry_.find(task.id + " " + task.format);
        if (it != recordOnRetry_.end() && it->second == task.op) task.op = "record";
    }
    for (const tqm::Task& task : tasks) {
        jobIds[task.id] = 1;
        failed.erase(task.id);
        failedRecords_.erase(task.id);
        std::erase_if(leftUndone_, [&](const tqm::Task& t) { return t.id == task.id; });
    }
    progressText = calls::opOf(tasks.front().op) == calls::Op::Remove ? "Removing" : "Starting";
    waiting = false;
    fraction = 0;
    ++jobGeneration;
    cancel = std::make_shared<std::atomic<bool>>(false);
    stoppable = stoppableBeforeItBegins(tasks);
    note.clear();
    if (onChange) onChange();

    Worker worker;
    worker.config = config;
    worker.catalog = catalog;
    worker.queue = queue;
    worker.model = this;
    worker.tasks = std::move(tasks);
    worker.title = jobTitle;
    worker.doneText = std::move(doneText);
    worker.generation = jobGeneration;
    worker.cancel = cancel;
    worker.logFile = logFile();
    worker.writeLog = !config.harness;
    workerEnd_ = std::make_shared<WorkerEnd>();
    worker.end = workerEnd_;
    try {
        startWorker([w = std::make_shared<Worker>(std::move(worker))] { (*w)(); }, AtExit::Finish);
    } catch (const std::exception& e) {
        // No thread (the system's limit on threads, no memory): the job ends here, failed.
        workerEnd_.reset();
        const std::string error = std::string("Could not start the job: ") + e.what();
        log("  failed: " + error);
        finishJob(false, error, {}, {}, jobGeneration, false);
    }
}

void Model::endJob() {
    if (busy && stoppable && cancel) cancel->store(true);
    if (!workerEnd_) return;
    std::unique_lock<std::mutex> lock(workerEnd_->mutex);
    workerEnd_->ended.wait(lock, [this] { return workerEnd_->done; });
}

void Model::closeAfterJob() {
    if (!busy || closing) return;
    closing = true;
    closeStops = stoppable && cancel;
    if (closeStops) cancel->store(true);
    log(closeStops ? "  the window's close stops the job"
                   : "  the window's close waits for the job's end: it can no longer be stopped");
    if (onChange) onChange();
}

void Model::readCutOffJob() {
    const fs::path file = unfinishedFile(config);
    std::ifstream in(file);
    std::string title;
    if (!in || !std::getline(in, title)) return;
    // A job that holds the data folder now is another copy's, still at work.
    const tqm::FileLock free((fs::path(config.layout.userData()) / "job.lock").string(), std::chrono::milliseconds(0));
    if (!free.held()) return;
    // What is recorded now, after the start's sweep recorded what the job had put on disk.
    tqm::Receipt plugins, apps;
    std::string why;
    plugins.load(config.layout.receiptFile(), why);
    apps.load(config.layout.appsReceiptFile(), why);
    std::string undone;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string op, id, format, version;
        if (!(words >> op >> id >> format >> version)) continue;
        const tqm::Receipt& r = format == "app" ? apps : plugins;
        const tqm::InstalledFormat* rec = nullptr;
        if (const auto item = r.plugins.find(id); item != r.plugins.end())
            if (const auto f = item->second.formats.find(format); f != item->second.formats.end()) rec = &f->second;
        if (op == "remove" ? !rec : rec && rec->version == version) continue;
        leftUndone_.push_back({op == "install" && rec ? "update" : op, id, format});  // an older copy stays
        if (op == "install") failed[id] = 1;  // its row offers the install again
        undone += (undone.empty() ? "" : ", ") + op + " " + id + " " + format;
    }
    log("The last job (" + title + ") was cut off before its end" +
        (undone.empty() ? ", with its tasks done" : "; left undone: " + undone));
    if (!leftUndone_.empty()) note = failedNote_ = cutOffNote_ = cutOffNote();
    std::error_code ec;
    if (!config.harness) fs::remove(file, ec);
}

std::string Model::cutOffNote() const {
    std::string what;
    for (const tqm::Task& t : leftUndone_) {
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const tqm::Row& r) { return r.id == t.id; });
        std::string format = t.format == "app" ? "" : " " + t.format;
        std::transform(format.begin(), format.end(), format.begin(), [](unsigned char c) { return char(std::toupper(c)); });
        what += (what.empty() ? "" : ", ") + (row != rows.end() ? row->name : t.id) + format +
                " not " + (t.op == "remove" ? "removed" : t.op == "update" ? "updated" : "installed");
    }
    return "The last job was cut off: " + what;
}

bool Model::leftUndone(const std::string& id, const std::string& format) const {
    return std::any_of(leftUndone_.begin(), leftUndone_.end(),
                       [&](const tqm::Task& t) { return t.op == "install" && t.id == id && t.format == format; });
}

std::string Model::closingNote() const {
    return closeStops ? "stopping the job, then the window closes" : "the window closes when the job ends";
}

void Model::finishJob(bool jobOk, const std::string& error, const std::vector<calls::Result>& results,
                      const std::string& doneText, uint32_t generation, bool jobCancelled) {
    busy = false;
    stoppable = false;
    cancelled = jobCancelled;
    // A close asked during the job waits no longer, unless the job failed: its failure stays
    // shown until the user closes the window again.
    if (closing && !jobOk && !jobCancelled) {
        closing = false;
        log("  the window stays open to show the failure");
    }
    progressText.clear();
    waiting = false;
    fraction = 1.0;
    doneGeneration = generation;
    ok = jobOk;
    bool attributed = false;
    std::map<std::string, std::string> unrecorded;  // of this job: id -> why
    for (const calls::Result& r : results) {
        if (r.id.empty()) continue;
        const std::string key = r.id + " " + r.format;
        std::string why;
        const bool onDisk = !r.ok && tqm::unrecordedChange(r.message, why);
        // A record that failed again is still the change of the task it stands for.
        if (onDisk && r.op != "record") recordOnRetry_[key] = r.op;
        if (!onDisk) recordOnRetry_.erase(key);
        if (r.ok) continue;
        failed[r.id] = 1;
        attributed = true;
        if (onDisk) unrecorded[r.id] = why;
    }
    if (!jobOk && !attributed && !jobCancelled)
        for (const auto& [id, one] : jobIds) failed[id] = 1;
    jobIds.clear();
    refresh();
    // A change made but not recorded reads as a start says it; the log has the job's whole text.
    std::string why;
    note = jobOk ? doneText : !unrecorded.empty() && tqm::unrecordedChange(error, why) ? unrecordedNote(unrecorded) : error;
    failedNote_ = jobOk ? std::string() : note;
    if (onChange) onChange();
}

void Model::markUnrecorded(const std::map<std::string, std::string>& unrecorded) {
    if (unrecorded.empty()) return;
    for (const auto& [id, why] : unrecorded) {
        failed[id] = 1;
        unrecorded_[id] = why;
        log("The last change to " + id + " is on disk but not recorded: " + why);
    }
    note = failedNote_ = unrecordedNote_ = unrecordedNote(unrecorded_);
}

std::string Model::unrecordedNote(const std::map<std::string, std::string>& unrecorded) const {
    std::string names;
    for (const auto& entry : unrecorded) {
        const std::string& id = entry.first;
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const tqm::Row& r) { return r.id == id; });
        names += (names.empty() ? "" : ", ") + (row != rows.end() ? row->name : id);
    }
    // The reason's first words, the receipts by their file names ("cannot read installed.json"):
    // the line holds them in the narrowest window.
    std::string why = unrecorded.begin()->second;
    for (const std::string& file : {config.layout.receiptFile(), config.layout.appsReceiptFile()})
        for (size_t at; (at = why.find(file)) != std::string::npos;)
            why.replace(at, file.size(), std::filesystem::path(file).filename().string());
    why = why.substr(0, std::min(why.find(": "), why.find(" (")));
    if (const std::string lock = "cannot record the change in "; why.rfind(lock, 0) == 0)
        why.replace(0, lock.size(), "cannot lock ");
    return names + ": change not recorded (" + why + ")";
}

}  // namespace tqapp
