// Row actions: a click on a companion's tick box, the row's pill, and runAction, which turns an
// action (from the main button, the pill or the row menu) into a job plan and opens the job window.
// What the slots stand for and what the main button offers are the slot queries (view_slots.cpp),
// which the painters ask too, so what is drawn and what runs agree.
//
// A refused action never opens a window: it becomes the model's note in the status line.
#include <algorithm>

#include "engine/util.h"
#include "manager/model.h"
#include "manager/row_formats.h"
#include "manager/view.h"

namespace tqapp {

namespace {

bool plainApp(const tqm::Row* row) { return row && row->kind == 1 && !row->appPlugin(); }

const tqm::FormatRow* formatOf(const tqm::Row& row, const std::string& key) {
    auto it = row.formats.find(key);
    return it == row.formats.end() ? nullptr : &it->second;
}


}  // namespace

void ManagerView::toggleCompanion(const tqm::Row& row, const std::string& slot) {
    const int index = companionIndex(&row, slot);
    const tqm::Row* c = companionRow(&row, slot);
    if (index < 0 || !c || !offered(&row, slot)) return;
    const bool was = companionTicked(row, *c);
    companionTicks[row.id + "|" + c->id] = !was;
    if (!was) {
        model->say("");
        return;
    }
    // The untick stands; the note only warns when the app needs a newer companion than is here.
    const std::string& min = row.entry->companions[size_t(index)].min_version;
    const std::string& have = c->version;
    if (tqm::compareVersions(have, min) < 0)
        model->say(row.name + " needs " + c->name + " " + min + " or later" +
                   (have.empty() ? std::string(": it is not installed") : ": " + have + " is installed"));
}

void ManagerView::rowAction(const tqm::Row& row) {
    if (plainApp(&row)) {
        Action a = appAction(row, false);
        if (!a.op.empty()) runAction(row, std::move(a));
        return;
    }
    Action a;
    a.op = "install";
    if (row.state == tqm::State::Update) {
        a.verb = "update";
        a.formats = formatsWhere(row, [](const std::string&, const tqm::FormatRow& f) { return formatUpdatable(f); });
    } else {
        a.verb = "install";
        std::map<std::string, bool>& w = wanted(row);
        a.formats = formatsWhere(
            row, [&w](const std::string& k, const tqm::FormatRow& f) { return f.available && w[k] && !formatHere(f); });
    }
    runAction(row, std::move(a));
}

void ManagerView::runAction(const tqm::Row& row, Action action) {
    if (showsRunningJob()) return;
    if (row.state == tqm::State::NeedsManager && action.op == "install") {
        model->say(row.name + " needs a newer manager: update the manager first");
        return;
    }
    auto inFormats = [&action](const std::string& k) {
        return std::find(action.formats.begin(), action.formats.end(), k) != action.formats.end();
    };

    JobPlan plan;
    if (plainApp(&row)) {
        plan.appChoices = true;
        std::vector<const tqm::Row*> companions;
        for (const std::string& id : action.companions)
            for (const tqm::Row& r : model->rows)
                if (r.id == id) {
                    companions.push_back(&r);
                    break;
                }
        // The app itself goes along only where it can: installed to remove, or packaged for here.
        const tqm::FormatRow* app = formatOf(row, "app");
        const bool withApp = !action.formats.empty() && app &&
                             (action.op == "remove" ? app->installed : app->available);
        if (withApp) plan.choices.push_back({row.id, upper(row.name), true, appDir(row), row.name});
        for (const tqm::Row* c : companions) {
            plan.choices.push_back({c->id, upper(c->name), true, appDir(*c), c->name});
            plan.tasks.push_back({action.op, c->id, "app"});
        }
        if (withApp) plan.tasks.push_back({action.op, row.id, "app"});
    } else {
        for (const char* key : {"vst3", "clap", "au", "app"}) {
            const tqm::FormatRow* f = formatOf(row, key);
            if (!f) continue;
            const bool takes = action.op == "remove"    ? f->installed
                               : action.verb == "update" ? formatUpdatable(*f)
                                                         : f->available;
            if (!takes) continue;
            const bool isApp = std::string(key) == "app";
            plan.choices.push_back({isApp ? row.id : key, formatTitle(key), inFormats(key),
                                    isApp ? appDir(row) : model->config.layout.formatDir(key), ""});
            plan.tasks.push_back({action.op, row.id, key});
        }
    }
    // Nothing to do (no operation, or no choice ticked) is told, never opened as an empty job.
    const bool anyOn = std::any_of(plan.choices.begin(), plan.choices.end(), [](const JobChoice& c) { return c.on; });
    if (action.op.empty() || !anyOn) {
        model->say(row.name + ": nothing to " + (action.verb.empty() ? "install" : action.verb) + " here");
        return;
    }

    const bool removesApp = std::any_of(plan.tasks.begin(), plan.tasks.end(), [&](const tqm::Task& t) {
        return t.op == "remove" && t.id == row.id && t.format == "app";
    });
    if (removesApp && row.entry) {
        plan.tasks.push_back({"purge", row.id, "machine"});
        auto user = row.entry->paths_user.find(tqm::thisPlatform());
        if (user != row.entry->paths_user.end() && !user->second.empty()) {
            plan.tasks.push_back({"purge", row.id, "user"});
            plan.offersData = true;
            plan.dataLabel = upper(row.name) + "'S DATA";
            plan.dataNote = row.entry->note.empty() ? "settings" : row.entry->note;
            plan.dataKept = row.entry->kept;
            plan.dataNeedsAll = row.appPlugin();
        }
    }

    const bool update = action.verb == "update", removal = action.op == "remove";
    const std::string first = update ? "Updating" : removal ? "Removing" : "Installing";
    const std::string done = update ? "updated" : removal ? "removed" : "installed";
    plan.jobTitle = first + " " + row.name;
    plan.doneText = row.name + " " + done;
    if (plan.appChoices) {
        plan.titleVerb = first;
        plan.doneVerb = done;
    }
    plan.verb = upper(buttonWord(row, action));

    const std::string version = removal || !row.entry ? row.version : row.entry->version;
    if (!(plainApp(&row) && action.formats.empty())) plan.title = row.name + (version.empty() ? "" : " " + version);
    for (const std::string& id : action.companions)
        for (const tqm::Row& c : model->rows)
            if (c.id == id) {
                plan.title += (plan.title.empty() ? "" : ", ") + c.name + (c.entry ? " " + c.entry->version : "");
                break;
            }
    plan.removal = removal;
    openJob(std::move(plan), false, {});
}

}  // namespace tqapp
