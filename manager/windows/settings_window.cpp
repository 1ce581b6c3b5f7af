// The settings window's part table, the names and labels of its parts, hits, clicks and pointer
// handling. Every answer comes from the host at the moment it is needed, so what is hit always agrees
// with what the next paint shows.
#include "manager/windows/settings_window.h"

#include <algorithm>
#include <utility>

#include "gui/editor.h"

namespace tqapp {

AccountWindow::AccountWindow(Host h, std::weak_ptr<bool> aliveToken) : host(std::move(h)), alive(std::move(aliveToken)) {
    name = "account";
    bounds = {0, 0, kWidth, kHeight};
}

AccountWindow::~AccountWindow() {
    if (onClosed && live()) onClosed();
}

PartTable<AccountPartId> AccountWindow::layParts() const {
    PartTable<AccountPartId> t;
    t.add(accountPart(AccountPart::Close), kClose);
    if (!live()) return t;
    const bool busy = host.busy();
    const tqm::Layout layout = host.layout();
    t.add(accountPart(AccountPart::Scope, int32_t(tqm::Scope::User)), {8, 97, 284, 13}, !busy, layout.scope == tqm::Scope::User);
    t.add(accountPart(AccountPart::Scope, int32_t(tqm::Scope::System)), {8, 111, 284, 13}, !busy,
          layout.scope == tqm::Scope::System);
    const std::vector<std::string>& formats = tqm::formatsHere();
    for (size_t k = 0; k < formats.size(); ++k) {
        const int y = 129 + 18 * int(k);
        const auto over = layout.folders.find(formats[k]);
        const bool overridden = over != layout.folders.end() && !over->second.empty();
        t.add(accountPart(AccountPart::Change, int32_t(k)), {188, y, 52, 15}, !busy);
        t.add(accountPart(AccountPart::Reset, int32_t(k)), {244, y, 48, 15}, !busy && overridden);
    }
    // A newer manager known only from the cached catalog cannot be fetched: checking again is what helps.
    const bool update = !host.managerUpdate().empty() && host.offersUpdate();
    t.add(accountPart(update ? AccountPart::Update : AccountPart::Check), {214, 200, 78, 15}, !busy && !host.loading());
    t.add(accountPart(AccountPart::Logs), {8, 241, 139, 15});
    t.add(accountPart(AccountPart::Notices), {153, 241, 139, 15});
    return t;
}

namespace {

// The format of a change or reset button; empty for an index out of the list.
std::string formatOf(const AccountPartId& id) {
    const std::vector<std::string>& formats = tqm::formatsHere();
    return id.index >= 0 && size_t(id.index) < formats.size() ? formats[size_t(id.index)] : std::string();
}

}  // namespace

std::string AccountWindow::partName(const AccountPartId& id) {
    switch (id.kind) {
        case AccountPart::Close: return "x";
        case AccountPart::Scope: return id.index == int32_t(tqm::Scope::User) ? "scope:user" : "scope:system";
        case AccountPart::Change: return "change:" + formatOf(id);
        case AccountPart::Reset: return "reset:" + formatOf(id);
        case AccountPart::Check: return "check";
        case AccountPart::Update: return "update";
        case AccountPart::Logs: return "logs";
        case AccountPart::Notices: return "notices";
    }
    return {};
}

std::string AccountWindow::label(const AccountPartId& id) {
    switch (id.kind) {
        case AccountPart::Close: return {};
        case AccountPart::Scope: return id.index == int32_t(tqm::Scope::User) ? "FOR ME" : "ALL USERS";
        case AccountPart::Change: return "CHANGE";
        case AccountPart::Reset: return "RESET";
        case AccountPart::Check: return "CHECK NOW";
        case AccountPart::Update: return "UPDATE";
        case AccountPart::Logs: return "OPEN LOG FOLDER";
        case AccountPart::Notices: return "LICENSES";
    }
    return {};
}

void AccountWindow::press(const AccountPartId& id) {
    if (id.kind == AccountPart::Close) {
        // The editor retires the window: nothing of it is touched after this.
        if (editor) editor->closePopup(this);
        return;
    }
    if (!live()) return;
    switch (id.kind) {
        case AccountPart::Close: break;
        case AccountPart::Scope: host.setScope(id.index == int32_t(tqm::Scope::User) ? tqm::Scope::User : tqm::Scope::System); break;
        case AccountPart::Change:
            if (const std::string f = formatOf(id); !f.empty()) host.setFolder(f);
            break;
        case AccountPart::Reset:
            if (const std::string f = formatOf(id); !f.empty()) host.resetFolder(f);
            break;
        case AccountPart::Check: host.reload(); break;
        case AccountPart::Update: host.openSelfUpdate(); break;
        case AccountPart::Logs: host.openLog(); break;
        case AccountPart::Notices: host.openNotices(); break;
    }
    repaint();
}

// Only the parts that take the pointer are named, with no state but that.
void AccountWindow::describe(lumo::gui::WidgetInfo& info) const {
    const PartTable<AccountPartId> table = parts();
    for (const Part<AccountPartId>& part : table.parts())
        if (part.enabled) info.parts.push_back({"acct:" + partName(part.id), part.rect, true, false});
}

}  // namespace tqapp
