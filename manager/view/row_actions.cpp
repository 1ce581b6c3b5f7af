// Row actions: what the inspector's tick boxes stand for on each kind of row, the main button, the
// row's pill, and runAction, which turns an action into a job plan and opens the job window.
//
// Three kinds of row give the slots "vst3", "clap", "au" three meanings: on a plug-in row each is
// its format; on an app that carries plug-ins "au" is the app itself when the row has no "au"; on
// an app without plug-ins the first two slots are its first two companion apps. The painters ask
// the same questions as the actions, so what is drawn and what runs agree.
//
// A refused action never opens a window: it becomes the model's note in the status line.
#include <algorithm>

#include "engine/util.h"
#include "manager/model/model.h"
#include "manager/model/row_formats.h"
#include "manager/view/view.h"

namespace tqapp {

namespace fs = std::filesystem;

namespace {

bool plainApp(const tqm::Row* row) { return row && row->kind == 1 && !row->appPlugin(); }

const tqm::FormatRow* formatOf(const tqm::Row& row, const std::string& key) {
    auto it = row.formats.find(key);
    return it == row.formats.end() ? nullptr : &it->second;
}

}  // namespace

void ManagerView::forgetTicks() {
    wants_.clear();
    companionTicks_.clear();
    repaint();
}

std::map<std::string, bool>& ManagerView::wanted(const tqm::Row& row) {
    auto found = wants_.find(row.id);
    if (found != wants_.end()) return found->second;
    const bool anyInstalled =
        std::any_of(row.formats.begin(), row.formats.end(), [](const auto& kv) { return kv.second.installed; });
    std::map<std::string, bool>& w = wants_[row.id];
    // A format that a cut-off job left uninstalled is offered again.
    for (const auto& [key, f] : row.formats)
        w[key] = (anyInstalled ? f.installed : f.available) || (f.available && model_ && model_->leftUndone(row.id, key));
    return w;
}

std::string ManagerView::slotFormat(const tqm::Row* row, const std::string& slot) const {
    if (row && row->appPlugin() && slot == "au") return row->formats.count("au") ? "au" : "app";
    return slot;
}

int ManagerView::companionIndex(const tqm::Row* row, const std::string& slot) const {
    if (!plainApp(row) || !row->entry) return -1;
    const int index = slot == "vst3" ? 0 : slot == "clap" ? 1 : -1;
    if (index < 0 || size_t(index) >= row->entry->companions.size()) return -1;
    return index;
}

const tqm::Row* ManagerView::companionRow(const tqm::Row* row, const std::string& slot) const {
    const int index = companionIndex(row, slot);
    if (index < 0 || !model_) return nullptr;
    const std::string& id = row->entry->companions[size_t(index)].id;
    // Only an app goes along with an app: a plug-in named there has no slot and no task.
    for (const tqm::Row& r : model_->rows)
        if (r.id == id && r.kind == 1) return &r;
    return nullptr;
}

bool ManagerView::offered(const tqm::Row* row, const std::string& slot) const {
    if (!row) return false;
    if (plainApp(row)) {
        const tqm::Row* c = companionRow(row, slot);
        return c && c->entry && c->state != tqm::State::Installed && c->state != tqm::State::NeedsManager &&
               c->state != tqm::State::Unavailable;
    }
    const tqm::FormatRow* f = formatOf(*row, slotFormat(row, slot));
    return f && (f->available || f->installed);
}

bool ManagerView::ticked(const tqm::Row* row, const std::string& slot) {
    if (!offered(row, slot)) return false;
    if (plainApp(row)) return companionTicked(*row, *companionRow(row, slot));
    return wanted(*row)[slotFormat(row, slot)];
}

bool ManagerView::installedHere(const tqm::Row* row, const std::string& slot) const {
    if (!row) return false;
    const tqm::FormatRow* f = nullptr;
    if (plainApp(row)) {
        const tqm::Row* c = companionRow(row, slot);
        f = c ? formatOf(*c, "app") : nullptr;
    } else {
        f = formatOf(*row, slotFormat(row, slot));
    }
    return f && formatHere(*f);
}

std::string ManagerView::slotTitle(const tqm::Row* row, const std::string& slot) const {
    if (plainApp(row)) {
        const tqm::Row* c = companionRow(row, slot);
        return c ? upper(c->name) : std::string();
    }
    const std::string format = slotFormat(row, slot);
    return format == "app" ? "APP" : formatTitle(format);
}

std::string ManagerView::pathFormat() const {
    if (!shownFormat_.empty()) return shownFormat_;
    const std::vector<std::string>& keys = tqm::formatsHere();
    const tqm::Row* row = selected();
    for (const std::string& key : keys)
        if (offered(row, key)) return key;
    return keys.empty() ? std::string() : keys.front();
}

fs::path ManagerView::shownDir() const {
    if (!model_) return {};
    const std::string format = pathFormat();
    const tqm::Row* row = selected();
    if (row && row->kind == 1 && (!row->appPlugin() || format == "app")) return appDir(*row);
    return model_->config.layout.formatDir(format);
}

bool ManagerView::companionTicked(const tqm::Row& app, const tqm::Row& companion) const {
    auto it = companionTicks_.find(app.id + "|" + companion.id);
    if (it != companionTicks_.end()) return it->second;
    return companion.state != tqm::State::Installed;
}

void ManagerView::toggleCompanion(const tqm::Row& row, const std::string& slot) {
    const int index = companionIndex(&row, slot);
    const tqm::Row* c = companionRow(&row, slot);
    if (index < 0 || !c || !offered(&row, slot)) return;
    const bool was = companionTicked(row, *c);
    companionTicks_[row.id + "|" + c->id] = !was;
    if (!was) {
        model_->say("");
        return;
    }
    // The untick stands; the note only warns when the app needs a newer companion than is here.
    const std::string& min = row.entry->companions[size_t(index)].min_version;
    const std::string& have = c->version;
    if (tqm::compareVersions(have, min) < 0)
        model_->say(row.name + " needs " + c->name + " " + min + " or later" +
                   (have.empty() ? std::string(": it is not installed") : ": " + have + " is installed"));
}

fs::path ManagerView::appDir(const tqm::Row& row) const {
    if (const tqm::FormatRow* app = formatOf(row, "app"); app && app->installed) return app->path;
    if (!model_) return {};
    std::string item;
    if (row.entry)
        if (const tqm::FileRef* pkg = row.entry->package("app", tqm::thisPlatform())) item = pkg->item;
    return fs::path(model_->config.layout.appsDir()) / item;
}

ManagerView::Action ManagerView::appAction(const tqm::Row& row, bool allowRemove) const {
    Action a;
    const tqm::FormatRow* app = formatOf(row, "app");
    const bool isHere = app && formatHere(*app);
    for (const char* slot : {"vst3", "clap"}) {
        const tqm::Row* c = companionRow(&row, slot);
        if (c && offered(&row, slot) && companionTicked(row, *c)) a.companions.push_back(c->id);
    }
    // An app with no package for this platform is never installed, whatever else holds.
    if (row.entry && !isHere && app && app->available) {
        a = {"install", "install", {"app"}, std::move(a.companions)};
    } else if (isHere && app->update && app->available) {
        a = {"install", "update", {"app"}, std::move(a.companions)};
    } else if (!a.companions.empty()) {
        a.op = "install";
        a.verb = "install";
    } else {
        a.verb = "install";
        if (allowRemove && app && app->installed) a = {"remove", "remove", {"app"}, {}};
    }
    return a;
}

ManagerView::Action ManagerView::mainAction() {
    const tqm::Row* row = selected();
    if (!row) return {};
    if (plainApp(row)) return appAction(*row, true);
    // Four walks in order of precedence: newly ticked formats to install, unticked installed ones
    // to remove, updates, and whatever is installed to remove; the first that finds a format wins.
    std::map<std::string, bool>& w = wanted(*row);
    static const char* const kWalks[4][2] = {{"install", "install"}, {"remove", "remove"}, {"install", "update"},
                                             {"remove", "remove"}};
    for (int walk = 0; walk < 4; ++walk) {
        std::vector<std::string> keys = formatsWhere(*row, [&](const std::string& k, const tqm::FormatRow& f) {
            switch (walk) {
                case 0: return row->entry && w[k] && f.available && !formatHere(f);
                case 1: return !w[k] && f.installed;
                case 2: return formatUpdatable(f);
                default: return f.installed;
            }
        });
        if (!keys.empty()) return {kWalks[walk][0], kWalks[walk][1], std::move(keys), {}};
    }
    return {"", "install", {}, {}};
}

std::string ManagerView::buttonWord(const tqm::Row& row, const Action& action) {
    // Installing only an installed app's companions reinstalls nothing: that stays "install".
    if (action.verb == "install" && action.op == "install" && row.state == tqm::State::Installed &&
        !action.formats.empty())
        return "reinstall";
    return action.verb;
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
        model_->say(row.name + " needs a newer manager: update the manager first");
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
            for (const tqm::Row& r : model_->rows)
                if (r.id == id) {
                    companions.push_back(&r);
                    break;
                }
        // The app itself goes along only where it can: installed to remove, or packaged for here.
        const tqm::FormatRow* app = formatOf(row, "app");
        const bool withApp = !action.formats.empty() && app &&
                             (action.op == "remove" ? app->installed : app->available);
        if (withApp) plan.choices.push_back({row.id, upper(row.name), true, appDir(row).string(), row.name});
        for (const tqm::Row* c : companions) {
            plan.choices.push_back({c->id, upper(c->name), true, appDir(*c).string(), c->name});
            // A companion not here yet is installed, whatever the app's own verb.
            const tqm::FormatRow* its = formatOf(*c, "app");
            if (action.op == "install" && !(its && formatHere(*its))) plan.installedAnew.insert(c->id);
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
                                    isApp ? appDir(row).string() : model_->config.layout.formatDir(key), ""});
            plan.tasks.push_back({action.op, row.id, key});
        }
    }
    // Nothing to do (no operation, or no choice ticked) is told, never opened as an empty job.
    const bool anyOn = std::any_of(plan.choices.begin(), plan.choices.end(), [](const JobChoice& c) { return c.on; });
    if (action.op.empty() || !anyOn) {
        model_->say(row.name + ": nothing to " + (action.verb.empty() ? "install" : action.verb) + " here");
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
        for (const tqm::Row& c : model_->rows)
            if (c.id == id) {
                plan.title += (plan.title.empty() ? "" : ", ") + c.name + (c.entry ? " " + c.entry->version : "");
                break;
            }
    plan.removal = removal;
    openJob(std::move(plan), false, {});
}

}  // namespace tqapp
