#pragma once
// What the job window and the settings window share: their parts in one table behind the pointer
// rule, and a title bar that moves the window about inside the main window.
//
// A window lays its parts out in layParts() and carries out a click in press(); the pointer
// handlers here do the rest: hover and press through Pointer, a click on release over the part that
// was pressed, and a press on the bar outside every part dragging the window. A press that comes
// within a moment of the window's opening is not taken: it was aimed at what lay there before (a
// window that opens by itself, under a click already on its way).
#include <algorithm>
#include <cstdint>
#include <optional>

#include "gui/editor.h"
#include "gui/widget.h"
#include "manager/parts.h"

namespace tqapp {

template <class Id>
class PopupWindow : public lumo::gui::Widget {
public:
    static constexpr int kBarHeight = 22;
    static constexpr int kGrip = 40;  // width of the bar that a drag keeps inside the main window
    static constexpr double kPressGuard = 0.3;  // seconds after the opening in which presses are not taken

    PopupWindow() : openedAt(lumo::gui::Editor::now()) {}

    // The parts of the current state, as layParts() lays them out.
    PartTable<Id> parts() const { return layParts(); }
    // The part that takes the pointer at a window point: none where there is no part or that part is
    // disabled (a disabled part also hides whatever lies behind it).
    std::optional<Id> hit(int x, int y) const { return parts().hit(x, y); }
    // Carries out a click on a part; it may close and retire the window.
    virtual void press(const Id& id) = 0;

    bool onMouseDown(const lumo::gui::MouseEvent& e) override {
        if (e.time > 0.0 && e.time < openedAt + kPressGuard) {
            pointer.down(std::nullopt);  // held, so its release clicks nothing either
            return true;
        }
        pointer.down(hit(e.x, e.y));
        if (e.y < kBarHeight && !pointer.pressed) {
            moving = true;
            pressX = e.x;
            pressY = e.y;
        }
        repaint();
        return true;
    }

    void onMouseDrag(const lumo::gui::MouseEvent& e) override {
        if (moving) {
            // The press point stays under the pointer, and the bar inside the main window: dragged as
            // far as the pointer goes, the window can still be taken back.
            if (!editor) return;
            const int x = std::max(kGrip - bounds.w, std::min(bounds.x + e.x - pressX, editor->logicalWidth() - kGrip));
            const int y = std::max(0, std::min(bounds.y + e.y - pressY, editor->logicalHeight() - kBarHeight));
            editor->movePopup(this, x, y);
            return;
        }
        if (pointer.drag(hit(e.x, e.y))) repaint();
    }

    void onMouseUp(const lumo::gui::MouseEvent& e) override {
        moving = false;
        if (const std::optional<Id> clicked = pointer.up(hit(e.x, e.y))) {
            press(*clicked);  // may close and retire the window: nothing of it is touched after this
            return;
        }
        pointer.move(hit(e.x, e.y));
        repaint();
    }

    void onMouseMove(const lumo::gui::MouseEvent& e) override {
        if (pointer.move(hit(e.x, e.y))) repaint();
    }

    void onMouseLeave() override {
        if (pointer.leave()) repaint();
    }

    // Moves the window back inside the main window (after it shrank): wholly inside where it fits,
    // else with its bar at the top-left.
    void keepInside() {
        if (!editor) return;
        const int x = std::max(0, std::min(bounds.x, editor->logicalWidth() - bounds.w));
        const int y = std::max(0, std::min(bounds.y, editor->logicalHeight() - bounds.h));
        editor->movePopup(this, x, y);
    }

    double openedAt;  // when the window was made, on the editor's clock (the time of press events)
    Pointer<Id> pointer;
    bool moving = false;  // the bar is being dragged
    int32_t pressX = 0;   // where the bar was pressed, in window units
    int32_t pressY = 0;

protected:
    // The one place that lays the parts out for the window's current state.
    virtual PartTable<Id> layParts() const = 0;
};

}  // namespace tqapp
