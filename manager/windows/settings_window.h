#pragma once
// The settings window: a small pixel-look popup in which the user picks the install scope, moves or
// resets each format's folder, checks for or starts a manager update, opens the log folder and reads
// the licence notices.
//
//   AccountWindow::Host ..... the callbacks through which it reaches the main window (filled by the view)
//   AccountPartId ........... a part: close box, scope row, a format's change or reset, the manager's
//                             check or update, logs, notices
//   AccountWindow ........... the part table, hits, presses and the pointer (settings_window.cpp)
//   AccountWindow::draw ..... the pixel-look painting, read from the part table (settings_window_paint.cpp)
//   shortenPath ............. a long folder cut from the front to fit its box (settings_window_paint.cpp)
//
// The window keeps no state of the manager: every answer comes from the host, asked afresh. It calls
// the host only while the main window's alive token lives; after that it draws nothing and only its
// close box works. Coordinates are window units (300 x 272), mapped through the paint when drawn.
// Where each part lies and whether it takes the pointer is decided once, by layParts(); painting,
// hits and the description read that table.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/layout.h"
#include "gui/draw/bitmapfont.h"
#include "gui/widget.h"
#include "manager/parts.h"
#include "manager/windows/popup_window.h"

namespace tqapp {

// The kinds of parts; the index tells repeated parts apart: the scope row's tqm::Scope, the format's
// place in tqm::formatsHere() for a change or reset button.
enum class AccountPart : uint8_t { Close, Scope, Change, Reset, Check, Update, Logs, Notices };
using AccountPartId = PartId<AccountPart>;

inline AccountPartId accountPart(AccountPart kind, int32_t index = -1) { return {kind, index}; }

class AccountWindow : public PopupWindow<AccountPartId> {
public:
    // The main window's side. Moved in whole at construction and destroyed with the window.
    struct Host {
        std::function<tqm::Layout()> layout;
        std::function<bool(tqm::Scope)> setScope;  // false only when refused (a job runs)
        std::function<void(const std::string& format)> setFolder;
        std::function<void(const std::string& format)> resetFolder;
        std::function<std::string()> version;
        std::function<std::string()> managerUpdate;  // the newer manager version, or empty
        std::function<bool()> offersUpdate;          // whether that update can start now (a fresh catalog)
        std::function<bool()> loading;
        std::function<bool()> catalogLoaded;  // false when the last load brought no catalog
        std::function<bool()> busy;
        std::function<void()> reload;
        std::function<void()> openSelfUpdate;
        std::function<void()> openLog;
        std::function<void()> openNotices;
        std::function<std::string()> installState;
        std::function<bool()> canInstall;
        std::function<void()> openInstall;
        std::function<void()> openUninstall;
    };

    static constexpr int kWidth = 300;
    static constexpr int kHeight = 272;
    static constexpr lumo::gui::Rect kClose{280, 2, 18, 18};

    AccountWindow(Host host, std::weak_ptr<bool> alive);
    ~AccountWindow() override;

    void describe(lumo::gui::WidgetInfo& info) const override;
    void draw(const lumo::gui::Paint& p) override;

    // The name a part goes by ("x", "scope:user", "change:vst3", "check", ...).
    static std::string partName(const AccountPartId& id);
    // The text on a part ("FOR ME", "CHANGE", "CHECK NOW", ...); empty for the close box.
    static std::string label(const AccountPartId& id);
    // Carries out a click on a part.
    void press(const AccountPartId& id) override;

    std::function<void()> onClosed;  // run by the destructor while the alive token lives
    Host host;
    std::weak_ptr<bool> alive;

protected:
    // The one place that lays the parts out, from the host's answers of the moment: the close box,
    // the two scope rows (checked: the layout's scope), each format's change and reset buttons, the
    // manager's check or update button, logs and notices.
    // Rebuilt on every call from the host's current answers; only the close box once the main window is gone.
    PartTable<AccountPartId> layParts() const override;

private:
    bool live() const { return !alive.expired(); }
    // Hot: under the pointer with nothing pressed; down: pressed and under the pointer.
    bool hot(const Part<AccountPartId>& part) const { return pointer.isHover(part.id) && !pointer.pressed; }
    bool down(const Part<AccountPartId>& part) const { return pointer.isHeld(part.id); }
    void drawScopeRow(const lumo::gui::Paint& p, const Part<AccountPartId>& part, const char* caption);
    void drawFolderRow(const lumo::gui::Paint& p, const tqm::Layout& layout, const std::string& format, int y);
    void drawButton(const lumo::gui::Paint& p, const Part<AccountPartId>& part);
};

// The text cut from the front to fit maxWidth device pixels: whole characters are dropped from its start
// and "..." put in front until the rest fits. When not even "..." and one character fit, nothing more
// can be dropped: the answer is "..." alone (the box's own fitting then cuts what is left).
std::string shortenPath(const lumo::gui::BitmapFont& font, const std::string& text, int maxWidth);

}  // namespace tqapp
