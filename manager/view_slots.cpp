// The inspector's three slots ("vst3", "clap", "au"): which format or companion each stands for on
// the selected row, whether it can be ticked and is ticked, its lamp and its label, the shown
// folder, and the action the main button offers.
//
//   plug-in row                 vst3, clap, au
//   app row with plug-ins       vst3, clap, and "au" when the row has it, else the app itself
//   app row without plug-ins    its first and second companion; the third slot stands for nothing
#include <filesystem>

#include "engine/layout.h"
#include "manager/model.h"
#include "manager/view.h"

namespace tqapp {
namespace {

bool appWithoutPlugins(const tqm::Row* row) { return row && row->kind == 1 && !row->appPlugin(); }

const tqm::FormatRow* formatOf(const tqm::Row* row, const std::string& format) {
    if (!row) return nullptr;
    const auto it = row->formats.find(format);
    return it == row->formats.end() ? nullptr : &it->second;
}

}  // namespace

std::map<std::string, bool>& ManagerView::wanted(const tqm::Row& row) {
    const auto found = wants.find(row.id);
    if (found != wants.end()) return found->second;
    bool anyInstalled = false;
    for (const auto& [f, fr] : row.formats) anyInstalled = anyInstalled || fr.installed;
    std::map<std::string, bool>& w = wants[row.id];
    for (const auto& [f, fr] : row.formats) w[f] = anyInstalled ? fr.installed : fr.available;
    return w;
}

std::string ManagerView::slotFormat(const tqm::Row* row, const std::string& slot) const {
    if (row && row->appPlugin() && slot == "au") return row->formats.count("au") ? "au" : "app";
    return slot;
}

int ManagerView::companionIndex(const tqm::Row* row, const std::string& slot) const {
    if (!appWithoutPlugins(row) || !row->entry) return -1;
    const int index = slot == "vst3" ? 0 : slot == "clap" ? 1 : -1;
    if (index < 0 || size_t(index) >= row->entry->companions.size()) return -1;
    return index;
}

const tqm::Row* ManagerView::companionRow(const tqm::Row* row, const std::string& slot) const {
    const int index = companionIndex(row, slot);
    if (index < 0 || !model) return nullptr;
    const std::string& id = row->entry->companions[size_t(index)].id;
    for (const tqm::Row& r : model->rows)
        if (r.id == id) return &r;
    return nullptr;
}

bool ManagerView::offered(const tqm::Row* row, const std::string& slot) const {
    if (appWithoutPlugins(row)) {
        const tqm::Row* c = companionRow(row, slot);
        return c && c->entry && c->state != tqm::State::Installed && c->state != tqm::State::NeedsManager &&
               c->state != tqm::State::Unavailable;
    }
    const tqm::FormatRow* f = formatOf(row, slotFormat(row, slot));
    return f && (f->available || f->installed);
}

bool ManagerView::ticked(const tqm::Row* row, const std::string& slot) {
    if (!offered(row, slot)) return false;
    if (appWithoutPlugins(row)) return companionTicked(*row, *companionRow(row, slot));
    return wanted(*row)[slotFormat(row, slot)];
}

bool ManagerView::installedHere(const tqm::Row* row, const std::string& slot) const {
    if (appWithoutPlugins(row)) {
        const tqm::FormatRow* app = formatOf(companionRow(row, slot), "app");
        return app && app->installed && app->present;
    }
    const tqm::FormatRow* f = formatOf(row, slotFormat(row, slot));
    return f && f->installed && f->present;
}

std::string ManagerView::slotTitle(const tqm::Row* row, const std::string& slot) const {
    if (appWithoutPlugins(row)) {
        const tqm::Row* c = companionRow(row, slot);
        return c ? upper(c->name) : std::string();
    }
    const std::string format = slotFormat(row, slot);
    return format == "app" ? "APP" : formatTitle(format);
}

std::string ManagerView::pathFormat() const {
    if (!shownFormat.empty()) return shownFormat;
    const std::vector<std::string>& here = tqm::formatsHere();
    const tqm::Row* row = selected();
    for (const std::string& key : here)
        if (offered(row, key)) return key;
    return here.empty() ? std::string() : here.front();
}

bool ManagerView::companionTicked(const tqm::Row& app, const tqm::Row& companion) const {
    const auto it = companionTicks.find(app.id + "|" + companion.id);
    if (it != companionTicks.end()) return it->second;
    return companion.state != tqm::State::Installed;
}

std::string ManagerView::appDir(const tqm::Row& row) const {
    const tqm::FormatRow* app = formatOf(&row, "app");
    if (app && app->installed) return app->path;
    const tqm::FileRef* package = row.entry ? row.entry->package("app", tqm::thisPlatform()) : nullptr;
    const std::string apps = model ? model->config.layout.appsDir() : std::string();
    return (std::filesystem::path(apps) / (package ? package->item : std::string())).string();
}

ManagerView::Action ManagerView::appAction(const tqm::Row& row, bool allowRemove) const {
    Action a;
    const tqm::FormatRow* app = formatOf(&row, "app");
    const bool here = app && app->installed && app->present;
    for (const char* slot : {"vst3", "clap"}) {
        const tqm::Row* c = companionRow(&row, slot);
        if (c && offered(&row, slot) && companionTicked(row, *c)) a.companions.push_back(c->id);
    }
    // An app with no package for this platform is never installed, whatever else holds.
    if (row.entry && !here && app && app->available) {
        a = {"install", "install", {"app"}, a.companions};
    } else if (here && app->update && app->available) {
        a = {"install", "update", {"app"}, a.companions};
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
    if (appWithoutPlugins(row)) return appAction(*row, true);
    std::map<std::string, bool>& w = wanted(*row);
    struct Walk {
        const char* op;
        const char* verb;
        bool (*pass)(bool want, const tqm::FormatRow& f);
    };
    static const Walk kWalks[] = {
        {"install", "install", [](bool want, const tqm::FormatRow& f) { return want && f.available && !(f.installed && f.present); }},
        {"remove", "remove", [](bool want, const tqm::FormatRow& f) { return !want && f.installed; }},
        {"install", "update", [](bool, const tqm::FormatRow& f) { return f.installed && f.update && f.available; }},
        {"remove", "remove", [](bool, const tqm::FormatRow& f) { return f.installed; }},
    };
    for (size_t k = 0; k < std::size(kWalks); ++k) {
        if (k == 0 && !row->entry) continue;
        Action a{kWalks[k].op, kWalks[k].verb, {}, {}};
        for (const auto& [f, fr] : row->formats)
            if (kWalks[k].pass(w[f], fr)) a.formats.push_back(f);
        if (!a.formats.empty()) return a;
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

std::string ManagerView::shownDir() const {
    const tqm::Row* row = selected();
    const std::string format = pathFormat();
    if (row && row->kind == 1 && (!row->appPlugin() || format == "app")) return appDir(*row);
    return model ? model->config.layout.formatDir(format) : std::string();
}

}  // namespace tqapp
