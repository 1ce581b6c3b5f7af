// UPDATE ALL: one plan for every pending update, with a tick box per format and per app it carries.
#include <algorithm>

#include "manager/model/model.h"
#include "manager/model/row_formats.h"
#include "manager/view/view.h"

namespace tqapp {

namespace {

// "3 plugins", "1 app", "2 items".
std::string countText(int n, int apps) {
    if (apps != 0 && apps != n) return std::to_string(n) + " items";
    if (apps != 0) return std::to_string(apps) + (apps == 1 ? " app" : " apps");
    return std::to_string(n) + (n == 1 ? " plugin" : " plugins");
}

}  // namespace

void ManagerView::updateAll() {
    if (showsRunningJob()) return;
    // Only rows that give at least one task count: the count and the title name what will run.
    JobPlan plan;
    int n = 0, apps = 0;
    for (const tqm::Row& row : model_->rows) {
        if (!rowUpdatable(row)) continue;
        for (const auto& [key, f] : row.formats)
            if (formatUpdatable(f)) plan.tasks.push_back({"install", row.id, key});
        ++n;
        apps += row.kind == 1;
        plan.title += (plan.title.empty() ? "" : ", ") + row.name;
    }
    if (plan.tasks.empty()) {
        model_->say("Everything is up to date");
        return;
    }
    const std::string what = countText(n, apps);
    plan.jobTitle = "Updating " + what;
    plan.doneText = what + " updated";
    plan.verb = "UPDATE";
    auto carries = [&plan](const std::string& format) {
        return std::any_of(plan.tasks.begin(), plan.tasks.end(), [&](const tqm::Task& t) { return t.format == format; });
    };
    for (const char* key : {"vst3", "clap", "au"})
        if (carries(key)) plan.choices.push_back({key, formatTitle(key), true, model_->config.layout.formatDir(key), ""});
    for (const tqm::Task& t : plan.tasks) {
        if (t.format != "app") continue;
        for (const tqm::Row& row : model_->rows)
            if (row.id == t.id) {
                plan.choices.push_back({row.id, upper(row.name), true, appDir(row).string(), row.name});
                break;
            }
    }
    plan.appChoices = apps != 0 && apps == n &&
                      std::all_of(plan.tasks.begin(), plan.tasks.end(), [](const tqm::Task& t) { return t.format == "app"; });
    if (plan.appChoices) {
        plan.titleVerb = "Updating";
        plan.doneVerb = "updated";
    }
    openJob(std::move(plan), false, {});
}

}  // namespace tqapp
