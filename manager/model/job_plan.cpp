#include "manager/model/job_plan.h"

#include <algorithm>

#include "manager/model/engine_calls.h"

namespace tqapp {

bool JobPlan::allTicked() const {
    return std::all_of(choices.begin(), choices.end(), [](const JobChoice& c) { return c.on; });
}

std::vector<tqm::Task> JobPlan::tickedTasks() const {
    auto ticked = [this](const std::string& id) {
        return std::any_of(choices.begin(), choices.end(), [&](const JobChoice& c) { return c.on && c.id == id; });
    };
    std::vector<tqm::Task> out;
    const bool all = allTicked();
    for (const tqm::Task& task : tasks) {
        const bool purge = calls::opOf(task.op) == calls::Op::Purge;
        const bool userData = purge && task.format == "user";
        if (userData && (!deleteData || (dataNeedsAll && !all))) continue;
        const bool byId = task.format == "app" || purge;
        if (choices.empty() || ticked(byId ? task.id : task.format)) out.push_back(task);
    }
    if (selfInstall) {
        std::string shortcuts;
        for (const JobChoice& c : choices)
            if (c.on) shortcuts += (shortcuts.empty() ? "" : ",") + c.id;
        out = {{"setup-install", shortcuts, ""}};
    }
    if (selfRemoval) {
        const bool plugins = ticked("plugins");
        out = plugins ? tasks : std::vector<tqm::Task>{};
        out.push_back({"setup-uninstall", plugins ? "plugins" : "", ""});
    }
    return out;
}

}  // namespace tqapp
