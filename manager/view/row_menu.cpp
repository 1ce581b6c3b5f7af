// The row menu: the "more" menu of the selected row (install every format, update, reinstall,
// remove, open its folder), opened under the "more" button.
//
// The skin look asks the platform for a native menu; where there is none (popupMenu answers -1,
// as on this platform) the toolkit's own list opens in its place with the same entries and ids.
// The pixel look always uses the list, drawn in its own menu look.
#include <cmath>

#include "gui/list_popup.h"
#include "gui/menu.h"
#include "manager/model/model.h"
#include "manager/model/row_formats.h"
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

}  // namespace

void ManagerView::moreMenu(const tqm::Row& row) {
    if (!editor || !model_) return;
    // Reinstall needs a package of something installed: without one its action has nothing to do.
    bool canInstall = false, canUpdate = false, canReinstall = false, anyInstalled = false;
    for (const auto& [key, f] : row.formats) {
        canInstall = canInstall || (f.available && !formatHere(f));
        canUpdate = canUpdate || formatUpdatable(f);
        canReinstall = canReinstall || (f.installed && f.available);
        anyInstalled = anyInstalled || f.installed;
    }
    const bool idle = !model_->busy;
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
    const lumo::gui::Rect anchor = partRect(mainPart(MainPart::More));
    showMenu(std::move(items), anchor, [this, id = row.id, token = std::weak_ptr<bool>(alive_)](int picked) {
        if (!token.expired()) moreChoice(id, picked);
    });
}

void ManagerView::moreChoice(const std::string& rowId, int id) {
    if (!model_) return;
    const tqm::Row* row = nullptr;
    for (const tqm::Row& r : model_->rows)
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
        click(mainPart(MainPart::Open));
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
    if (look_->nativeMenu()) {
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
    int width = 0;  // below 1: openMenu measures with the look
    lumo::gui::MenuLook menuLook = look_->menuLook(items, s, width);
    auto popup = std::make_unique<lumo::gui::ListPopup>(std::move(menuLook), std::move(items), lumo::gui::Rect{0, 0, width, 0});
    popup->onPick = std::move(onPick);
    lumo::gui::openMenu(*editor, std::move(popup), {at.x + anchor.x, at.y + anchor.y, anchor.w, anchor.h});
}

}  // namespace tqapp
