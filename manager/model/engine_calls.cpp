#include "manager/model/engine_calls.h"

#include "engine/running.h"

namespace tqapp::calls {

namespace {

bool endsOk(const std::string& line) { return line.size() >= 4 && line.compare(line.size() - 4, 4, ": ok") == 0; }

}  // namespace

Op opOf(const std::string& op) {
    static const std::pair<const char*, Op> kOps[] = {
        {"install", Op::Install}, {"remove", Op::Remove},           {"purge", Op::Purge},
        {"self", Op::Self},       {"setup-install", Op::SetupInstall}, {"setup-uninstall", Op::SetupUninstall},
        {"record", Op::Record}};
    for (const auto& [text, value] : kOps)
        if (op == text) return value;
    return Op::Other;
}

Step stepOf(const tqm::Task& task) {
    Step step;
    step.task = task;
    step.op = opOf(task.op);
    return step;
}

std::vector<tqm::Task> tasksOf(const std::vector<Step>& steps) {
    std::vector<tqm::Task> tasks;
    for (const Step& step : steps) tasks.push_back(step.task);
    return tasks;
}

Result result(const std::string& op, const std::string& id, const std::string& format, bool ok,
              const std::string& error) {
    return Result{ok, op, id, format, ok ? std::string() : error, tqm::resultLine({op, id, format}, ok, error)};
}

Result readLine(const std::string& line, const std::vector<tqm::Task>& tasks) {
    Result r;
    r.ok = endsOk(line);
    r.line = line;
    const size_t at = line.find(": ");
    if (!r.ok) r.message = at == std::string::npos ? line : line.substr(at + 2);
    const std::string head = line.substr(0, at);
    for (const tqm::Task& task : tasks)
        if (head == task.op + " " + task.id + " " + task.format) {
            r.op = task.op;
            r.id = task.id;
            r.format = task.format;
            break;
        }
    return r;
}

bool ownStep(const tqm::Task& task) {
    return task.op.rfind("setup-", 0) == 0 || (opOf(task.op) == Op::Purge && task.format == "user");
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

bool download(const tqm::Engine& engine, const tqm::Plugin& entry, Step& step, std::string& error,
              const tqm::Progress& progress) {
    return engine.download(entry, step.task.format, step.package, error, progress);
}

bool downloadSelf(const tqm::Engine& engine, Step& step, std::string& error, const tqm::Progress& progress) {
    return engine.downloadSelf(step.package, error, progress);
}

bool runHere(tqm::Engine& engine, const std::vector<Step>& steps, std::vector<Result>& results) {
    bool all = true;
    for (const Step& step : steps) {
        std::string error;
        const bool ok = tqm::runTask(engine, step.task, step.package.ref() ? &step.package : nullptr, error);
        results.push_back(result(step.task.op, step.task.id, step.task.format, ok, error));
        all = all && ok;
    }
    return all;
}

bool runElevated(const Config& config, const std::vector<Step>& steps, std::vector<Result>& results,
                 std::string& error, const tqm::HelperWatch& watch) {
    const std::vector<tqm::Task> tasks = tasksOf(steps);
    std::vector<std::string> lines;  // the engine replaces what it is given
    const bool ok = tqm::runElevated(config.layout, tasks, config.program, config.applySwitch, lines, error, config.prompt, watch);
    for (const std::string& line : lines) results.push_back(readLine(line, tasks));
    return ok;
}

std::map<std::string, std::string> sweepOnStart(const Config& config, std::function<void(const std::string&)> log) {
    tqm::Engine engine;
    engine.layout = config.layout;
    engine.log = std::move(log);
    if (!config.program.empty()) engine.sweepSelf(tqm::selfItem(config.program));
    engine.startSweep();
    return engine.unrecorded;
}

}  // namespace tqapp::calls
