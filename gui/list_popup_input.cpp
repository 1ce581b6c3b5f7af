// ListPopup's answers to the pointer, the wheel, the keys and the editor's 30 Hz tick.
#include <algorithm>
#include <cmath>

#include "gui/editor.h"
#include "gui/list_popup.h"

namespace lumo::gui {

namespace {

constexpr int kSubmenuDelayTicks = 3;  // a settled hover switches submenus on the fourth tick
constexpr int kAutoScrollEvery = 3;    // a held scroll arrow moves one row every third tick

}  // namespace

void ListPopup::moveHover(int step) {
    pendingRow = -1;
    const int count = int(items.size());
    if (count == 0) return;
    int pos = hover >= 0 ? hover : (step < 1 ? count : -1);
    for (int n = 0; n < count; ++n) {
        pos += step;
        if (pos < 0 || pos >= count) return;  // no wrap-around
        if (selectable(pos)) {
            hover = pos;
            ensureVisible(pos);
            repaint();
            return;
        }
    }
}

void ListPopup::pick(int row) {
    if (!selectable(row) || items[size_t(row)].slider) return;
    if (!items[size_t(row)].children.empty()) {
        openSub(row, true);
        return;
    }
    // The menu is closed before the caller hears of the pick; nothing of this popup is used after.
    auto picked = onPick;
    const int id = items[size_t(row)].id;
    closeMenuChain();
    if (picked) picked(id);
}

void ListPopup::onMouseMove(const MouseEvent& e) {
    const int row = itemAt(e.x, e.y);
    const int action = inAction(row, e.x) ? row : -1;
    if (action != actionHover) {
        actionHover = action;
        repaint();
    }
    const int strip = scrollbarShown() && e.x >= bounds.w - kStrip ? scrollbarPart(e.y) : 0;
    if (row != hover || strip != stripHover) {
        hover = row;
        stripHover = strip;
        repaint();
    }
    if (row < 0) {
        pendingRow = -1;
        return;
    }
    if (row == submenuRow && subOpen()) {
        pendingRow = -1;
        return;
    }
    if (row != pendingRow) {
        pendingRow = row;
        pendingTicks = 0;
    }
    if (subOpen()) return;  // switching waits for tick()
    if (hasKids(row)) openSub(row, false);
}

void ListPopup::tick() {
    if (pendingRow >= 0 && pendingTicks++ >= kSubmenuDelayTicks) {
        const int row = pendingRow;
        pendingRow = -1;
        if (hasKids(row)) {
            std::weak_ptr<bool> self = alive;  // closing the old submenu may end the editor
            openSub(row, false);
            if (self.expired()) return;
        } else {
            if (subOpen()) {
                if (!closeAbove()) return;
                repaint();
            }
            submenuRow = -1;
            submenu = nullptr;
        }
    }
    if (autoScroll != 0 && scrollbarShown()) {
        if (++autoScrollTicks % kAutoScrollEvery == 0) {
            const int t = clampedTop(top + autoScroll);
            if (t != top) {
                top = t;
                repaint();
            }
        }
    }
}

bool ListPopup::onMouseDown(const MouseEvent& e) {
    if (scrollbarShown() && e.x >= bounds.w - kStrip) {
        const int a = std::max(6, look->rowHeight / 2);
        if (e.y > a && e.y < bounds.h - a - 1) {
            thumbDrag = true;
            const int t = thumbTop(), k = thumbLength();
            thumbGrab = (e.y >= t + 1 && e.y < t + k + 1) ? e.y - (t + 1) : k / 2;
            dragThumb(e.y);
        } else {
            autoScroll = e.y <= a ? -1 : 1;
            top = clampedTop(top + autoScroll);
            autoScrollTicks = 0;
        }
        repaint();
        return true;
    }
    const int row = itemAt(e.x, e.y);
    hover = row;
    if (row >= 0 && row < int(items.size())) {
        const MenuItem& it = items[size_t(row)];
        armedRow = selectable(row) && !it.slider && it.children.empty() && !inAction(row, e.x) ? row : -1;
        if (hasKids(row)) {
            std::weak_ptr<bool> self = alive;
            openSub(row, false);
            if (self.expired()) return true;
        }
    }
    int x0 = 0, x1 = 0;
    if (selectable(row) && items[size_t(row)].slider && sliderTrack(row, x0, x1)) {
        std::shared_ptr<MenuSlider> s = items[size_t(row)].slider;
        sliderRow = row;
        if (e.x >= x0 && e.x <= x1)
            slideTo(row, s->min + double(e.x - x0) * (s->max - s->min) / std::max(x1 - x0, 1), false);
        sliderStartX = e.x;
        sliderStartValue = s->value;
        sliderStartFine = e.shift ? 1.0 : 0.0;
    }
    repaint();
    return true;
}

void ListPopup::onMouseDrag(const MouseEvent& e) {
    if (thumbDrag) {
        dragThumb(e.y);
        return;
    }
    int x0 = 0, x1 = 0;
    if (sliderRow >= 0 && sliderTrack(sliderRow, x0, x1)) {
        std::shared_ptr<MenuSlider> s = items[size_t(sliderRow)].slider;
        const double fine = e.shift ? 1.0 : 0.0;
        if (fine != sliderStartFine) {  // restart so the value does not jump
            sliderStartX = e.x;
            sliderStartValue = s->value;
            sliderStartFine = fine;
        }
        const double v = sliderStartValue +
                         double(e.x - sliderStartX) * (e.shift ? 0.1 : 1.0) * (s->max - s->min) / std::max(x1 - x0, 1);
        slideTo(sliderRow, v, false);
        return;
    }
    if (autoScroll != 0) return;
    const bool inside = e.x >= 0 && e.y >= 0 && e.x < bounds.w && e.y < bounds.h;
    const int row = inside ? itemAt(e.x, e.y) : -1;
    if (row != hover) {
        hover = row;
        repaint();
    }
}

void ListPopup::onMouseUp(const MouseEvent& e) {
    if (armedRow >= 0) {
        armedRow = -1;
        repaint();
    }
    if (thumbDrag || autoScroll != 0) {
        autoScroll = 0;
        thumbDrag = false;
        repaint();
        return;
    }
    if (sliderRow >= 0) {
        const int row = sliderRow;
        sliderRow = -1;
        if (row < int(items.size()) && items[size_t(row)].slider)
            slideTo(row, items[size_t(row)].slider->value, true);
        return;
    }
    const bool inside = e.x >= 0 && e.y >= 0 && e.x < bounds.w && e.y < bounds.h;
    if (inside && scrollbarShown() && e.x >= bounds.w - kStrip) return;
    if (inside) {
        const int row = itemAt(e.y);
        if (row < 0) return;
        if (inAction(row, e.x) && selectable(row)) {
            if (onAction) onAction(items[size_t(row)].id);
        } else if (items[size_t(row)].children.empty()) {
            pick(row);
        }
        return;
    }
    closeMenuChain();
}

bool ListPopup::onMouseWheel(const MouseEvent& e) {
    if (scrollbarShown()) {
        const int t = clampedTop(top + (e.wheelSteps > 0 ? -1 : 1));
        if (t != top) {
            top = t;
            repaint();
        }
    }
    return true;
}

void ListPopup::onMouseLeave() {
    hover = -1;
    actionHover = -1;
    stripHover = 0;
    autoScroll = 0;
    pendingRow = -1;
    repaint();
}

bool ListPopup::onKey(const KeyEvent& e) {
    if ((e.key == Key::Left || e.key == Key::Right) && selectable(hover) && items[size_t(hover)].slider) {
        const MenuSlider& s = *items[size_t(hover)].slider;
        double step = s.step > 0 ? s.step : std::abs(s.max - s.min) / 100;
        if (e.shift) step *= 10;
        slideTo(hover, s.value + (e.key == Key::Left ? -step : step), true);
        return true;
    }
    switch (e.key) {
    case Key::Enter:
        if (selectable(hover)) pick(hover);
        return true;
    case Key::Escape:
        if (isSubmenuOfParent()) {
            closeSelf();
        } else if (editor && editor->isOverlay(this)) {
            Editor& ed = *editor;
            if (closeAbove()) ed.closeOverlay();
        }
        return true;
    case Key::Left:
        if (isSubmenuOfParent())
            closeSelf();
        else if (onSide)
            onSide(-1);
        return true;
    case Key::Right:
        if (hasKids(hover))
            openSub(hover, true);
        else if (onSide)
            onSide(1);
        return true;
    case Key::Up:
        moveHover(-1);
        return true;
    case Key::Down:
        moveHover(1);
        return true;
    default:
        return false;
    }
}

}  // namespace lumo::gui
