// The model's catalog loading, receipts, rows and queries.
//
// A catalog load runs on a detached worker (inline in harness mode): it fetches and verifies the
// catalog through the engine, which keeps the cache and falls back to it. The result reaches the
// model only through a closure posted to the UI queue; the rows go up first, and the same worker then
// fetches the pictures the art cache lacks and says when they are there (pictures never hold back
// the rows). Pictures are decoded only when drawn (art::Pictures).
// A failed load replaces the last good one: the rows then show the installed items only.
#include "manager/model/model.h"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "engine/layout.h"
#include "engine/load.h"
#include "engine/source.h"
#include "engine/util.h"
#include "gui/ui_queue.h"
#include "manager/model/engine_calls.h"
#include "manager/model/pictures.h"
#include "manager/model/row_formats.h"

namespace tqapp {

Model::Model(Config config_, std::shared_ptr<lumo::gui::UiQueue> queue_, std::function<void()> onChange_)
    : config(std::move(config_)),
      queue(std::move(queue_)),
      onChange(std::move(onChange_)),
      cancel(std::make_shared<std::atomic<bool>>(false)) {
    pictures.refetch = [this](const tqm::FileRef& ref) { return fetchPictureAgain(ref); };
}

void Model::start() {
    markUnrecorded(calls::sweepOnStart(config, [this](const std::string& line) { log(line); }));
    readCutOffJob();
    startLoad();
}

void Model::reload() {
    if (busy || loading) return;
    loading = true;
    if (onChange) onChange();
    startLoad();
}

namespace {

// The art files the cache lacks, fetched after the rows went up; true when any arrived.
bool fetchPictures(const Config& config, const tqm::LoadedCatalog& loaded) {
    if (!loaded.ok) return false;
    return art::fetchMissing(tqm::Source(config.source), art::cacheDir(config.layout.userData()), loaded.catalog) > 0;
}

}  // namespace

void Model::startLoad() {
    if (config.harness) {  // inline, pictures included: the first paint shows them
        std::shared_ptr<Loaded> loaded = fetch(config);
        fetchPictures(config, *loaded->catalog);
        apply(loaded);
        return;
    }
    ++pictureFetches_;
    fetchingPictures = true;
    // The worker's words may come after the model has gone (tests replace models on one queue): they
    // reach the model only while the model's token lives.
    startWorker(
        [copy = config, q = queue, model = this, token = std::weak_ptr<const bool>(alive_)] {
            std::shared_ptr<Loaded> loaded = fetch(copy);
            if (q)
                q->post([model, token, loaded] {
                    if (token.lock()) model->apply(loaded);
                });
            const bool arrived = fetchPictures(copy, *loaded->catalog);
            if (q)
                q->post([model, token, arrived] {
                    if (token.lock()) model->picturesFetched(arrived);
                });
        },
        AtExit::MayAbandon);
}

bool Model::fetchPictureAgain(const tqm::FileRef& ref) {
    // One fetch at a time per picture, and none again for one that failed until the next catalog.
    const std::string key = art::fileKey(ref);
    if (picturesInFlight_.count(key) || picturesFailed_.count(key)) return false;
    std::string dir = art::cacheDir(config.layout.userData());
    if (config.harness) {
        const bool got = art::fetchAgain(tqm::Source(config.source), dir, ref);
        if (!got) picturesFailed_.insert(key);
        return got;
    }
    try {
        startWorker(
            [source = config.source, dir = std::move(dir), ref, q = queue, model = this,
             token = std::weak_ptr<const bool>(alive_)] {
                const bool got = art::fetchAgain(tqm::Source(source), dir, ref);
                if (q)
                    q->post([model, token, ref, got] {
                        if (token.lock()) model->pictureFetched(ref, got);
                    });
            },
            AtExit::MayAbandon);
    } catch (const std::system_error&) {
        return false;  // no thread: it is fetched again at the next load
    }
    picturesInFlight_.insert(key);
    ++pictureFetches_;
    fetchingPictures = true;
    return false;
}

void Model::pictureFetched(const tqm::FileRef& ref, bool got) {
    const std::string key = art::fileKey(ref);
    picturesInFlight_.erase(key);
    if (!got) picturesFailed_.insert(key);
    pictureFetches_ = std::max(pictureFetches_ - 1, 0);
    fetchingPictures = pictureFetches_ > 0;
    if (!got) return;
    pictures.arrived(ref);
    if (onChange) onChange();
}

namespace {

// The workers kept and not yet joined. Never destroyed: a load left running at the program's end
// must not have its joinable thread destroyed under it.
struct Workers {
    struct One {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended;
        Model::AtExit atExit;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<One> running;
    std::atomic<bool> kept{false};
};

Workers& workers() {
    static Workers* all = new Workers;
    return *all;
}

}  // namespace

void Model::keepWorkers() { workers().kept = true; }

void Model::startWorker(std::function<void()> work, AtExit atExit) {
    Workers& all = workers();
    if (!all.kept) {
        std::thread(std::move(work)).detach();
        return;
    }
    // Threads that ended are joined here, so a long session keeps no stacks of old workers.
    std::vector<std::thread> done;
    {
        std::lock_guard<std::mutex> lock(all.mutex);
        std::erase_if(all.running, [&](Workers::One& one) {
            if (!*one.ended) return false;
            done.push_back(std::move(one.thread));
            return true;
        });
    }
    for (std::thread& t : done) t.join();

    auto ended = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> lock(all.mutex);
    all.running.reserve(all.running.size() + 1);  // once the thread runs, keeping it cannot fail
    std::thread thread([work = std::move(work), ended]() mutable {
        work();
        work = nullptr;  // what the work holds goes before the thread counts as ended
        Workers& w = workers();
        std::lock_guard<std::mutex> inner(w.mutex);
        *ended = true;
        w.changed.notify_all();
    });
    all.running.push_back({std::move(thread), std::move(ended), atExit});
}

bool Model::waitForWorkers(std::chrono::milliseconds grace) {
    Workers& all = workers();
    const auto until = std::chrono::steady_clock::now() + grace;
    std::vector<std::thread> join;
    bool abandoned = false;
    {
        std::unique_lock<std::mutex> lock(all.mutex);
        auto mustWait = [&] {
            for (const Workers::One& one : all.running)
                if (!*one.ended && (one.atExit == AtExit::Finish || std::chrono::steady_clock::now() < until))
                    return true;
            return false;
        };
        while (mustWait()) {
            const bool finishing = std::any_of(all.running.begin(), all.running.end(), [](const Workers::One& one) {
                return !*one.ended && one.atExit == AtExit::Finish;
            });
            if (finishing)
                all.changed.wait(lock);
            else
                all.changed.wait_until(lock, until);
        }
        std::erase_if(all.running, [&](Workers::One& one) {
            if (!*one.ended) {
                abandoned = true;
                return false;
            }
            join.push_back(std::move(one.thread));
            return true;
        });
    }
    for (std::thread& t : join) t.join();
    return !abandoned;
}

void Model::picturesFetched(bool arrived) {
    pictureFetches_ = std::max(pictureFetches_ - 1, 0);
    fetchingPictures = pictureFetches_ > 0;
    if (!arrived) return;
    pictures.arrived();
    if (onChange) onChange();
}

std::shared_ptr<Model::Loaded> Model::fetch(const Config& config) {
    auto out = std::make_shared<Loaded>();
    const tqm::Source source(config.source);
    const std::string userData = config.layout.userData();
    out->catalog =
        std::make_shared<tqm::LoadedCatalog>(tqm::loadCatalog(source, config.pub, userData, config.offline));
    return out;
}

void Model::apply(const std::shared_ptr<Loaded>& loaded) {
    loading = false;
    catalog = loaded->catalog;
    if (catalog) {
        if (catalog->ok)
            log("catalog " + std::to_string(catalog->catalog.sequence) +
                (!catalog->fromCache ? ""
                 : catalog->refused  ? " from the cache: the server's catalog was refused: " + catalog->note
                                     : " (offline, from the cache)"));
        else
            log("catalog: " + catalog->note);
    }
    pictures.setCatalog(catalog, art::cacheDir(config.layout.userData()));
    picturesFailed_.clear();  // a new catalog may fetch them again
    refresh();
    if (!unrecorded_.empty() && note == unrecordedNote_) note = failedNote_ = unrecordedNote_ = unrecordedNote(unrecorded_);
    if (!leftUndone_.empty() && note == cutOffNote_) note = failedNote_ = cutOffNote_ = cutOffNote();
    if (onChange) onChange();
}

namespace {

// Reads one receipt file into kept. The last good receipt stays when the same file fails to read
// again; a failed read of another file (a new scope or root) leaves an empty receipt, so no item
// of the old scope stands as installed in the new one.
void readReceipt(const std::string& file, tqm::Receipt& kept, std::string& keptFrom, std::string& error) {
    tqm::Receipt fresh;
    std::string why;
    if (fresh.load(file, why)) {
        kept = std::move(fresh);
        keptFrom = file;
        return;
    }
    if (error.empty()) error = why;
    if (keptFrom != file) {
        kept = tqm::Receipt{};
        keptFrom = file;
    }
}

// What stat says of the receipt files: a change of any (a rename over one, a write, a removal)
// changes the stamp. Taken before the files are read, so a write in between costs one more read.
std::string receiptStamp(const tqm::Layout& layout) {
    std::string out;
    for (const std::string& file : {layout.receiptFile(), layout.appsReceiptFile()}) {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) {
            out += "-;";
            continue;
        }
        for (const int64_t v : {int64_t(st.st_dev), int64_t(st.st_ino), int64_t(st.st_size), int64_t(st.st_mtim.tv_sec),
                                int64_t(st.st_mtim.tv_nsec), int64_t(st.st_ctim.tv_sec), int64_t(st.st_ctim.tv_nsec)})
            out += std::to_string(v) + ",";
        out += ";";
    }
    return out;
}

}  // namespace

void Model::refresh() {
    receiptStamp_ = receiptStamp(config.layout);
    receiptError.clear();
    readReceipt(config.layout.receiptFile(), receipt, receiptFrom_, receiptError);
    readReceipt(config.layout.appsReceiptFile(), appsReceipt, appsReceiptFrom_, receiptError);
    forgetFailuresRecordedSince();
    const tqm::Catalog* parsed = catalog && catalog->ok ? &catalog->catalog : nullptr;
    rows = tqm::deriveRows(parsed, receipt, config.layout, config.version, appsReceipt);
    ++rowsGeneration;
    if (!receiptError.empty()) note = receiptError;
}

namespace {

// What the receipts record of one id (plug-in and app records both), as the files would hold it.
std::string recordOf(const std::string& id, const tqm::Receipt& plugins, const tqm::Receipt& apps) {
    std::string out;
    for (const tqm::Receipt* r : {&plugins, &apps}) {
        tqm::Receipt one;
        if (const auto it = r->plugins.find(id); it != r->plugins.end()) one.plugins.insert(*it);
        out += tqm::receiptText(one);
    }
    return out;
}

}  // namespace

void Model::forgetFailuresRecordedSince() {
    // A failed id's record is kept as the first refresh after the failure reads it (the one at the
    // job's end). Once that record changes (another copy installed, updated or removed the item),
    // the error is old news.
    std::erase_if(failedRecords_, [&](const auto& kept) { return !failed.count(kept.first); });
    bool forgot = false;
    for (auto it = failed.begin(); it != failed.end();) {
        const std::string now = recordOf(it->first, receipt, appsReceipt);
        const auto [kept, fresh] = failedRecords_.emplace(it->first, now);
        if (!fresh && kept->second != now) {
            failedRecords_.erase(kept);
            it = failed.erase(it);
            forgot = true;
        } else {
            ++it;
        }
    }
    // The status line's error goes with the last error mark it explains.
    if (forgot && failed.empty() && !failedNote_.empty() && note == failedNote_) note.clear();
}

void Model::refreshIfChanged() {
    if (busy || loading || receiptStamp(config.layout) == receiptStamp_) return;
    refresh();
    if (onChange) onChange();
}

bool Model::setLayout(const tqm::Layout& layout) {
    if (busy) return false;
    config.layout = layout;
    log(std::string("install scope ") + tqm::scopeName(layout.scope) + ", folders: " + layout.formatDir("vst3") +
        " / " + layout.formatDir("clap"));
    refresh();
    if (onChange) onChange();
    return true;
}

int Model::updates() const {
    int n = 0;
    for (const tqm::Row& row : rows) n += rowUpdatable(row);
    return n;
}

bool Model::busyWith(const std::string& id) const { return busy && jobIds.count(id); }

std::string Model::managerUpdate() const {
    if (!catalog || !catalog->ok) return {};
    const tqm::Catalog& c = catalog->catalog;
    if (!c.managerPackage() || c.manager_latest.empty()) return {};
    return tqm::compareVersions(c.manager_latest, config.version) > 0 ? c.manager_latest : std::string();
}

bool Model::managerRequired() const {
    if (!catalog || !catalog->ok) return false;
    const std::string& minimum = catalog->catalog.manager_minimum;
    return !minimum.empty() && tqm::compareVersions(config.version, minimum) < 0;
}

void Model::say(std::string text) {
    note = std::move(text);
    if (onChange) onChange();
}

}  // namespace tqapp
