#pragma once
// The settings window: a small pixel-look popup in which the user picks the install scope, moves or
// resets each format's folder, checks for or starts a manager update, opens the log folder and reads
// the licence notices.
//
//   AccountWindow::Host ..... the callbacks through which it reaches the main window (filled by the view)
//   AccountWindow ........... parts, hits, presses and the pointer (settings_window.cpp)
//   AccountWindow::draw ..... the pixel-look painting (settings_window_paint.cpp)
//   shortenPath ............. a long folder cut from the front to fit its box (settings_window_paint.cpp)
//
// The window keeps no state of the manager: every answer comes from the host, asked afresh. It calls
// the host only while the main window's alive token lives; after that it draws nothing and only its
// close box works. Coordinates are window units (300 x 272), mapped through the paint when drawn.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/layout.h"
#include "gui/draw/bitmapfont.h"
#include "gui/widget.h"

namespace tqapp {

class AccountWindow : public lumo::gui::Widget {
public:
    // The main window's side. Moved in whole at construction and destroyed with the window.
    struct Host {
        std::function<tqm::Layout()> layout;
        std::function<bool(tqm::Scope)> setScope;  // false only when refused (a job runs)
        std::function<void(const std::string& format)> setFolder;
        std::function<void(const std::string& format)> resetFolder;
        std::function<std::string()> version;
        std::function<std::string()> managerUpdate;  // the newer manager version, or empty
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

    // One clickable part, in window units.
    struct Part {
        std::string id;
        std::string label;
        lumo::gui::Rect rect;
        bool enabled = true;
    };

    static constexpr int kWidth = 300;
    static constexpr int kHeight = 272;
    static constexpr int kBarHeight = 22;
    static constexpr int kGrip = 40;  // width of the bar that a drag keeps inside the main window
    static constexpr lumo::gui::Rect kClose{280, 2, 18, 18};

    AccountWindow(Host host, std::weak_ptr<bool> alive);
    ~AccountWindow() override;

    void describe(lumo::gui::WidgetInfo& info) const override;
    void draw(const lumo::gui::Paint& p) override;
    bool onMouseDown(const lumo::gui::MouseEvent& e) override;
    void onMouseDrag(const lumo::gui::MouseEvent& e) override;
    void onMouseUp(const lumo::gui::MouseEvent& e) override;
    void onMouseLeave() override;
    void onMouseMove(const lumo::gui::MouseEvent& e) override;

    // Rebuilt on every call from the host's current answers; only the close box once the main window is gone.
    std::vector<Part> parts() const;
    // The first part holding the point; empty when none does or that part is disabled.
    std::string hit(int x, int y) const;
    // Carries out a click on a part.
    void press(const std::string& id);

    std::function<void()> onClosed;  // run by the destructor while the alive token lives
    Host host;
    std::weak_ptr<bool> alive;
    std::string hover;
    std::string pressed;
    bool moving = false;
    int32_t pressX = 0;
    int32_t pressY = 0;

private:
    bool live() const { return !alive.expired(); }
    void drawScopeRow(const lumo::gui::Paint& p, const Part& part, const char* caption, bool on);
    void drawFolderRow(const lumo::gui::Paint& p, const tqm::Layout& layout, const std::string& format, int y);
    void drawButton(const lumo::gui::Paint& p, const Part& part);
};

// The text cut from the front to fit maxWidth device pixels: whole characters are dropped from its start
// and "..." put in front until the rest fits. When not even "..." and one character fit, nothing more
// can be dropped: the answer is "..." alone (the box's own fitting then cuts what is left).
std::string shortenPath(const lumo::gui::BitmapFont& font, const std::string& text, int maxWidth);

}  // namespace tqapp
