// The settings window's parts, hits, clicks and pointer handling. Every answer comes from the host at
// the moment it is needed, so what is hit always agrees with what the next paint shows.
#include "manager/windows/settings_window.h"

#include <algorithm>
#include <utility>

#include "gui/editor.h"
#include "manager/pixel_look/primitives_internal.h"

namespace tqapp {

namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool contains(const lumo::gui::Rect& r, int x, int y) { return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h; }

}  // namespace

AccountWindow::AccountWindow(Host h, std::weak_ptr<bool> aliveToken) : host(std::move(h)), alive(std::move(aliveToken)) {
    name = "account";
    bounds = {0, 0, kWidth, kHeight};
}

AccountWindow::~AccountWindow() {
    if (onClosed && live()) onClosed();
}

std::vector<AccountWindow::Part> AccountWindow::parts() const {
    std::vector<Part> out;
    out.push_back({"x", "", kClose, true});
    if (!live()) return out;
    const bool busy = host.busy();
    const tqm::Layout layout = host.layout();
    out.push_back({"scope:user", "FOR ME", {8, 97, 284, 13}, !busy});
    out.push_back({"scope:system", "ALL USERS", {8, 111, 284, 13}, !busy});
    const std::vector<std::string>& formats = tqm::formatsHere();
    for (size_t k = 0; k < formats.size(); ++k) {
        const std::string& f = formats[k];
        const int y = 129 + 18 * int(k);
        const auto over = layout.folders.find(f);
        const bool overridden = over != layout.folders.end() && !over->second.empty();
        out.push_back({"change:" + f, "CHANGE", {188, y, 52, 15}, !busy});
        out.push_back({"reset:" + f, "RESET", {244, y, 48, 15}, !busy && overridden});
    }
    const bool update = !host.managerUpdate().empty();
    out.push_back({update ? "update" : "check", update ? "UPDATE" : "CHECK NOW", {214, 200, 78, 15},
                   !busy && !host.loading()});
    out.push_back({"logs", "OPEN LOG FOLDER", {8, 241, 139, 15}, true});
    out.push_back({"notices", "LICENSES", {153, 241, 139, 15}, true});
    return out;
}

std::string AccountWindow::hit(int x, int y) const {
    for (const Part& part : parts())
        if (contains(part.rect, x, y)) return part.enabled ? part.id : std::string();
    return {};
}

void AccountWindow::press(const std::string& id) {
    if (id == "x") {
        // The editor retires the window: nothing of it is touched after this.
        if (editor) editor->closePopup(this);
        return;
    }
    if (!live()) return;
    if (id == "scope:user") {
        host.setScope(tqm::Scope::User);
    } else if (id == "scope:system") {
        host.setScope(tqm::Scope::System);
    } else if (startsWith(id, "change:")) {
        host.setFolder(id.substr(7));
    } else if (startsWith(id, "reset:")) {
        host.resetFolder(id.substr(6));
    } else if (id == "check") {
        host.reload();
    } else if (id == "update") {
        host.openSelfUpdate();
    } else if (id == "logs") {
        host.openLog();
    } else if (id == "notices") {
        host.openNotices();
    }
    repaint();
}

bool AccountWindow::onMouseDown(const lumo::gui::MouseEvent& e) {
    pressed = hit(e.x, e.y);
    if (e.y < kBarHeight && pressed.empty()) {
        moving = true;
        pressX = e.x;
        pressY = e.y;
    }
    repaint();
    return true;
}

void AccountWindow::onMouseDrag(const lumo::gui::MouseEvent& e) {
    if (moving) {
        // The press point stays under the pointer, and the bar inside the main window: dragged as far
        // as the pointer goes, the window can still be taken back.
        if (!editor) return;
        const int x = std::max(kGrip - bounds.w, std::min(bounds.x + e.x - pressX, editor->logicalWidth() - kGrip));
        const int y = std::max(0, std::min(bounds.y + e.y - pressY, editor->logicalHeight() - kBarHeight));
        editor->movePopup(this, x, y);
        return;
    }
    if (dev::hoverDuringPress(hover, pressed, hit(e.x, e.y))) repaint();
}

void AccountWindow::onMouseUp(const lumo::gui::MouseEvent& e) {
    const std::string was = std::move(pressed);
    pressed.clear();
    moving = false;
    if (!was.empty() && hit(e.x, e.y) == was) {
        press(was);  // "x" retires the window: nothing of it is touched after this
        return;
    }
    hover = hit(e.x, e.y);
    repaint();
}

void AccountWindow::onMouseMove(const lumo::gui::MouseEvent& e) {
    if (dev::hoverTo(hover, hit(e.x, e.y))) repaint();
}

void AccountWindow::onMouseLeave() {
    if (dev::hoverTo(hover, {})) repaint();
}

void AccountWindow::describe(lumo::gui::WidgetInfo& info) const {
    for (const Part& part : parts())
        if (part.enabled) info.parts.push_back({"acct:" + part.id, part.rect, true, false});
}

}  // namespace tqapp
