#include "manager/model/engine_calls.h"

#include "engine/running.h"

namespace tqapp::calls {

bool lineOk(const std::string& line) { return line.size() >= 4 && line.compare(line.size() - 4, 4, ": ok") == 0; }

bool ownStep(const tqm::Task& task) {
    return task.op.rfind("setup-", 0) == 0 || (task.op == "purge" && task.format == "user");
}

tqm::Engine jobEngine(const Config& config, const tqm::Source& source, const tqm::Catalog* catalog,
                      std::function<void(const std::string&)> log) {
    tqm::Engine engine;
    engine.layout = config.layout;
    engine.source = &source;
    engine.catalog = catalog;
    engine.log = std::move(log);
    if (!config.program.empty()) engine.program = tqm::selfItem(config.program);
    return engine;
}

uint64_t transferTotal(uint64_t reported, const tqm::FileRef* ref) {
    if (reported) return reported;
    return ref ? ref->size : 0;
}

bool download(const tqm::Engine& engine, const tqm::Plugin& entry, const std::string& format, std::string& error,
              const tqm::Progress& progress) {
    std::string bytes;
    return engine.download(entry, format, bytes, error, progress);
}

bool downloadSelf(const tqm::Engine& engine, std::string& error, const tqm::Progress& progress) {
    std::string bytes;
    return engine.downloadSelf(bytes, error, progress);
}

bool runHere(tqm::Engine& engine, const std::vector<tqm::Task>& tasks, std::vector<std::string>& lines) {
    return !tqm::runTasks(engine, tasks, lines);  // the engine answers true when a task failed
}

bool runElevated(const Config& config, const std::vector<tqm::Task>& tasks, std::vector<std::string>& lines,
                 std::string& error) {
    std::vector<std::string> helperLines;  // the engine replaces what it is given
    const bool ok =
        tqm::runElevated(config.layout, tasks, config.program, config.applySwitch, helperLines, error, config.prompt);
    lines.insert(lines.end(), helperLines.begin(), helperLines.end());
    return ok;
}

void sweepSelf(const std::string& program) {
    tqm::Engine engine;
    engine.sweepSelf(tqm::selfItem(program));
}

}  // namespace tqapp::calls
