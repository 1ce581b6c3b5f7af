// UPDATE ALL and the row menu: one plan for every pending update, and the "more" menu of the
// selected row (install every format, update, reinstall, remove, open its folder).
//
// The skin look asks the platform for a native menu; where there is none (popupMenu answers -1,
// as on this platform) the toolkit's own list opens in its place with the same entries and ids.
// The pixel look always uses the list, drawn in the pixel menu look.
#include <algorithm>
#include <cmath>

#include "gui/fonts.h"
#include "gui/list_popup.h"
#include "gui/menu.h"
#include "gui/menu_look.h"
#include "manager/pixel_look/primitives.h"
#include "manager/model/model.h"
#include "manager/view/row_formats.h"
#include "manager/view/view.h"

namespace tqapp {

namespace {

enum MoreId : int { kInstall = 1, kUpdate = 2, kReinstall = 3, kRemove = 4, kOpen = 5 };

lumo::gui::MenuItem entry(std::string label, int id, bool enabled) {
    lumo::gui::MenuItem it;
    it.label = std::move(label);
    it.id = id;
    it.enabled = enabled;
    return it;
}

// "3 plugins", "1 app", "2 items".
std::string countText(int n, int apps) {
    if (apps != 0 && apps != n) return std::to_string(n) + " items";
    if (apps != 0) return std::to_string(apps) + (apps == 1 ? " app" : " apps");
    return std::to_string(n) + (n == 1 ? " plugin" : " plugins");
}

// The list look of the skin look where no native menu exists: the toolkit's plain font and colours.
const lumo::gui::MenuLook& plainMenuLook() {
    static const lumo::gui::MenuLook look = [] {
        lumo::gui::ListSkin skin;
        skin.font = "tahoma7";
        skin.rowHeight = 16;
        skin.textInset = 8;
        skin.padding = 3;
        skin.background = 0xFF1E1E1Eu;
        skin.border = 0xFF5A5A5Au;
        skin.text = 0xFFE1E1E1u;
        skin.hoverFill = 0xFF3A5A8Au;
        skin.disabledText = 0xFF6E6E6Eu;
        return lumo::gui::menuLook(lumo::gui::lumoFonts(), skin);
    }();
    return look;
}

}  // namespace

void ManagerView::updateAll() {
    if (showsRunningJob()) return;
    // Only rows that give at least one task count: the count and the title name what will run.
    JobPlan plan;
    int n = 0, apps = 0;
    for (const tqm::Row& row : model->rows) {
        if (!rowUpdatable(row)) continue;
        for (const auto& [key, f] : row.formats)
            if (formatUpdatable(f)) plan.tasks.push_back({"install", row.id, key});
        ++n;
        apps += row.kind == 1;
        plan.title += (plan.title.empty() ? "" : ", ") + row.name;
    }
    if (plan.tasks.empty()) {
        model->say("Everything is up to date");
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
        if (carries(key)) plan.choices.push_back({key, formatTitle(key), true, model->config.layout.formatDir(key), ""});
    for (const tqm::Task& t : plan.tasks) {
        if (t.format != "app") continue;
        for (const tqm::Row& row : model->rows)
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

void ManagerView::moreMenu(const tqm::Row& row) {
    if (!editor || !model) return;
    // Reinstall needs a package of something installed: without one its action has nothing to do.
    bool canInstall = false, canUpdate = false, canReinstall = false, anyInstalled = false;
    for (const auto& [key, f] : row.formats) {
        canInstall = canInstall || (f.available && !formatHere(f));
        canUpdate = canUpdate || formatUpdatable(f);
        canReinstall = canReinstall || (f.installed && f.available);
        anyInstalled = anyInstalled || f.installed;
    }
    const bool idle = !model->busy;
    const bool app = row.kind == 1, plain = app && !row.appPlugin();
    lumo::gui::MenuItem separator = entry("", 0, false);
    separator.separator = true;
    std::vector<lumo::gui::MenuItem> items = {
        entry(plain ? "Install" : "Install every format", kInstall, idle && row.entry && canInstall),
        entry("Update", kUpdate, idle && canUpdate),
        entry("Reinstall", kReinstall, idle && row.entry && canReinstall),
        entry("Remove", kRemove, idle && anyInstalled),
        separator,
        entry(!app ? "Open the plugin folder" : plain ? "Open its folder" : "Open the folder", kOpen, true),
    };
    const lumo::gui::Rect anchor = look == 1 && hasDevBox("more") ? devBox("more") : spriteRect("more_up");
    showMenu(std::move(items), anchor, [this, id = row.id, token = std::weak_ptr<bool>(alive)](int picked) {
        if (!token.expired()) moreChoice(id, picked);
    });
}

void ManagerView::moreChoice(const std::string& rowId, int id) {
    if (!model) return;
    const tqm::Row* row = nullptr;
    for (const tqm::Row& r : model->rows)
        if (r.id == rowId) row = &r;
    if (!row) return;
    // Ticks are not consulted: each entry takes every format its test lets through.
    using Test = bool (*)(const tqm::FormatRow&);
    static const Test kTests[4] = {
        [](const tqm::FormatRow& f) { return f.available && !formatHere(f); },
        [](const tqm::FormatRow& f) { return formatUpdatable(f); },
        [](const tqm::FormatRow& f) { return f.installed && f.available; },
        [](const tqm::FormatRow& f) { return f.installed; },
    };
    if (id == kOpen) {
        click("open");
        return;
    }
    if (id < kInstall || id > kRemove) return;
    const Test test = kTests[id - kInstall];
    Action a;
    a.op = id == kRemove ? "remove" : "install";
    a.verb = id == kRemove ? "remove" : id == kUpdate ? "update" : "install";
    a.formats = formatsWhere(*row, [test](const std::string&, const tqm::FormatRow& f) { return test(f); });
    runAction(*row, std::move(a));
}

void ManagerView::showMenu(std::vector<lumo::gui::MenuItem> items, lumo::gui::Rect anchor,
                           std::function<void(int)> onPick) {
    if (!editor) return;
    const double s = editor->bodyScale();
    const lumo::gui::Rect at = absoluteBounds();
    if (look != 1) {
        const int x = int(std::lround((at.x + anchor.x) * s));
        const int y = int(std::lround((at.y + anchor.y + anchor.h) * s));
        const std::weak_ptr<bool> editorAlive = editor->aliveToken();
        const int picked = editor->popupMenu(items, x, y);
        if (editorAlive.expired()) return;
        if (picked != -1) {
            if (picked != 0 && onPick) onPick(picked);
            return;
        }
    }
    lumo::gui::MenuLook menuLook;
    int width = 0;  // below 1: openMenu measures with the look
    if (look == 1) {
        for (lumo::gui::MenuItem& it : items)
            if (it.checked) {
                it.label.insert(it.label.begin(), '\x01');
                it.checked = false;
            }
        menuLook = dev::menuLook();
        width = menuLook.measureWidth ? menuLook.measureWidth(items, s) : 140;
    } else {
        menuLook = plainMenuLook();
    }
    auto popup = std::make_unique<lumo::gui::ListPopup>(std::move(menuLook), std::move(items), lumo::gui::Rect{0, 0, width, 0});
    popup->onPick = std::move(onPick);
    lumo::gui::openMenu(*editor, std::move(popup), {at.x + anchor.x, at.y + anchor.y, anchor.w, anchor.h});
}

}  // namespace tqapp
