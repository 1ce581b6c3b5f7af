#pragma once
// The widget behind every drawn popup menu and drop-down list: rows of MenuItems drawn with a
// MenuLook, a scrollbar strip when the rows do not fit, submenus opened as further overlays, in-menu
// sliders and per-row action buttons. It lives as an editor overlay; openMenu() places and opens it.
#include <functional>
#include <memory>
#include <vector>

#include "gui/draw/assets.h"
#include "gui/menu_item.h"
#include "gui/menu_look.h"
#include "gui/widget.h"

namespace lumo::gui {

class ListPopup : public Widget {
public:
    static constexpr int kStrip = 10;  // scrollbar strip width, logical units

    // A bounds width below 1 asks openMenu to measure the width.
    ListPopup(std::shared_ptr<const MenuLook> look, std::vector<MenuItem> items, Rect bounds);
    ListPopup(MenuLook look, std::vector<MenuItem> items, Rect bounds);
    ListPopup(const Assets& assets, ListSkin skin, std::vector<MenuItem> items, Rect bounds);
    ~ListPopup() override;

    void describe(WidgetInfo& info) const override;
    void draw(const Paint& paint) override;
    void tick() override;
    bool onMouseDown(const MouseEvent& e) override;
    void onMouseDrag(const MouseEvent& e) override;
    void onMouseUp(const MouseEvent& e) override;
    bool onMouseWheel(const MouseEvent& e) override;
    void onMouseLeave() override;
    void onMouseMove(const MouseEvent& e) override;
    bool onKey(const KeyEvent& e) override;

    void setItems(std::vector<MenuItem> items);
    // Content height: paddings plus every row.
    static int heightOf(const MenuLook& look, const std::vector<MenuItem>& items);
    int yOf(int row) const;
    int visibleRows() const;
    int itemAt(int y) const;
    int itemAt(int x, int y) const;
    bool hasKids(int row) const;
    bool subOpen() const;
    void openSub(int row, bool byKeyboard);
    void closeSub();
    void closeSelf();
    void ensureVisible(int row);
    void moveHover(int step);
    void pick(int row);
    bool inAction(int row, int x) const;
    int scrollbarPart(int y) const;  // -1 upper arrow, 0 track, +1 lower arrow
    void dragThumb(int y);
    bool sliderTrack(int row, int& x0, int& x1) const;
    void slideTo(int row, double value, bool final);

    bool selectable(int row) const;
    bool scrollbarShown() const;
    int rowHeightOf(int row) const;
    int thumbTop() const;
    int thumbLength() const;

    std::function<void(int id)> onPick;
    std::function<void()> onClose;
    std::function<void(int id)> onAction;
    std::function<void(int side)> onSide;  // -1 left, +1 right
    int hover = -1;
    bool unzoomed = false;
    int top = 0;
    int sliderRow = -1;
    int sliderStartX = 0;
    double sliderStartValue = 0.0;
    double sliderStartFine = 0.0;
    std::shared_ptr<const MenuLook> look;
    std::vector<MenuItem> items;
    int stripHover = 0;
    int autoScroll = 0;
    bool thumbDrag = false;
    int thumbGrab = 0;
    int autoScrollTicks = 0;
    int actionHover = -1;
    int armedRow = -1;
    int submenuRow = -1;
    ListPopup* submenu = nullptr;  // owned by the editor as an overlay
    int pendingRow = -1;
    int pendingTicks = 0;
    ListPopup* parentList = nullptr;
    std::weak_ptr<bool> parentAlive;
    bool opensLeft = false;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

private:
    struct Unfiltered {};
    // Submenus take labels their parent already filtered.
    ListPopup(Unfiltered, std::shared_ptr<const MenuLook> look, std::vector<MenuItem> items, Rect bounds);

    int padTop() const;
    int padBottom() const;
    bool uniform() const;
    int lastTop() const;
    int clampedTop(int t) const;
    Rect rowRect(int row) const;  // logical, local
    void drawScrollbar(const Paint& p) const;
    void drawRowAt(const Paint& p, int row);
    bool isSubmenuOfParent() const;
    // Closes the overlays above this popup's; false when a closing handler destroyed the editor,
    // and this popup with it. Needs an editor.
    bool closeAbove();
    // Closes the overlays above this popup's and then the whole menu chain.
    void closeMenuChain();
};

}  // namespace lumo::gui
