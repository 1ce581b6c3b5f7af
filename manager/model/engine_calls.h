#pragma once
// Every call of the manager into the install engine whose form differs from what the manager
// needs, adapted in one place: who keeps the downloaded bytes, what "failed" looks like, how the
// elevated road hands back its lines, the manager's own steps that the engine must never see.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/jobs.h"
#include "engine/package.h"
#include "engine/source.h"
#include "manager/model/config.h"

namespace tqapp::calls {

// A task's operation, read once from its text. The engine takes any operation it does not know
// for an install; the manager tells them apart (Other) so that it fetches nothing for them.
enum class Op { Install, Remove, Purge, Self, SetupInstall, SetupUninstall, Record, Other };
Op opOf(const std::string& op);

// One task of a job with its operation read, and the package its download checked.
struct Step {
    tqm::Task task;
    Op op = Op::Other;
    tqm::Package package;  // filled by download/downloadSelf; empty for other operations
};
Step stepOf(const tqm::Task& task);

// The engine's tasks of steps, in order, for the elevated helper.
std::vector<tqm::Task> tasksOf(const std::vector<Step>& steps);

// The outcome of one task, read once from the engine (in process) or from a line of the
// elevated helper. line is the text the log keeps: "op id format: ok" or the error after ": ".
struct Result {
    bool ok = false;
    std::string op;       // the task's operation; empty for a helper line that names no task of the job
    std::string id;       // the task's item; empty for a helper line that names no task of the job
    std::string format;   // its format key ("app" for the manager's own steps)
    std::string message;  // the error; empty when ok
    std::string line;
};

// The result of a task that the manager ran or failed itself; the line names op, id and format.
Result result(const std::string& op, const std::string& id, const std::string& format, bool ok,
              const std::string& error);

// A line of the elevated helper, attributed to the task of the job it names ("op id format"
// before its first ": "); it counts as done when it ends in ": ok".
Result readLine(const std::string& line, const std::vector<tqm::Task>& tasks);

// The manager's own steps ("setup-..." and the user's data): run by the job worker itself,
// never handed to the engine, which would take an unknown operation for an install.
bool ownStep(const tqm::Task& task);

// The engine of one job: the configuration's layout, the source, the catalog (may be null), the
// manager's own item and an optional log callback.
tqm::Engine jobEngine(const Config& config, const tqm::Source& source, const tqm::Catalog* catalog,
                      std::function<void(const std::string&)> log);

// The package size the catalog gives when a transfer reports no total (web transfers never do).
uint64_t transferTotal(uint64_t reported, const tqm::FileRef* ref);

// Downloads into the package cache and checks the package, keeping it in step.package for the
// install of the same job, which then does not hash it again.
bool download(const tqm::Engine& engine, const tqm::Plugin& entry, Step& step, std::string& error,
              const tqm::Progress& progress);
bool downloadSelf(const tqm::Engine& engine, Step& step, std::string& error, const tqm::Progress& progress);

// Runs the steps in this process with the packages their downloads checked, one result each;
// true when every task succeeded.
bool runHere(tqm::Engine& engine, const std::vector<Step>& steps, std::vector<Result>& results);

// Runs the steps' tasks in the elevated helper (the configuration's program behind its prompt),
// which checks the cached packages itself; appends one result per line of the helper. True when
// it ran the whole job. watch hears the helper's wait for another job's lock (engine/jobs.h).
bool runElevated(const Config& config, const std::vector<Step>& steps, std::vector<Result>& results,
                 std::string& error, const tqm::HelperWatch& watch = {});

// What the manager does first as it starts: what an earlier self-update left beside its own item
// goes, installs a kill cut off before their record are recorded, and temporaries of writers that
// died go from its data folders. Answers the changes on disk it could not record, by id, with why;
// log hears what it recorded or dropped of a job that was cut off.
std::map<std::string, std::string> sweepOnStart(const Config& config, std::function<void(const std::string&)> log);

}  // namespace tqapp::calls
