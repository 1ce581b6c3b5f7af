#pragma once
// Every call of the manager into the install engine whose form differs from what the manager
// needs, adapted in one place: who keeps the downloaded bytes, what "failed" looks like, how the
// elevated road hands back its lines, the manager's own steps that the engine must never see.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/jobs.h"
#include "engine/source.h"
#include "manager/model/config.h"

namespace tqapp::calls {

// A line of a job counts as done when it ends in ": ok".
bool lineOk(const std::string& line);

// The manager's own steps ("setup-..." and the user's data): run by the job worker itself,
// never handed to the engine, which would take an unknown operation for an install.
bool ownStep(const tqm::Task& task);

// The engine of one job: the configuration's layout, the source, the catalog (may be null), the
// manager's own item and an optional log callback.
tqm::Engine jobEngine(const Config& config, const tqm::Source& source, const tqm::Catalog* catalog,
                      std::function<void(const std::string&)> log);

// The package size the catalog gives when a transfer reports no total (web transfers never do).
uint64_t transferTotal(uint64_t reported, const tqm::FileRef* ref);

// Downloads into the package cache and checks the package; the bytes are dropped at once, the
// install reads and checks them again from the cache.
bool download(const tqm::Engine& engine, const tqm::Plugin& entry, const std::string& format, std::string& error,
              const tqm::Progress& progress);
bool downloadSelf(const tqm::Engine& engine, std::string& error, const tqm::Progress& progress);

// Runs the tasks in this process, appending one line each; true when every task succeeded.
bool runHere(tqm::Engine& engine, const std::vector<tqm::Task>& tasks, std::vector<std::string>& lines);

// Runs the tasks in the elevated helper (the configuration's program behind its prompt),
// appending the helper's lines; true when it ran the whole job.
bool runElevated(const Config& config, const std::vector<tqm::Task>& tasks, std::vector<std::string>& lines,
                 std::string& error);

// Removes what an earlier self-update left beside the manager's own item; errors ignored.
void sweepSelf(const std::string& program);

}  // namespace tqapp::calls
