// ListPopup: construction, row geometry, scrolling, submenus, sliders and drawing.
#include "gui/list_popup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "gui/editor.h"
#include "gui/menu.h"

namespace lumo::gui {

namespace {

int rnd(double v) { return int(std::lround(v)); }

void filterLabels(std::vector<MenuItem>& items, const std::function<std::string(const std::string&)>& f) {
    for (MenuItem& it : items) {
        it.label = f(it.label);
        filterLabels(it.children, f);
    }
}

Color withAlpha(Color c, uint32_t a) { return (c & 0x00FFFFFFu) | (a << 24); }

}  // namespace

// ---- construction

ListPopup::ListPopup(Unfiltered, std::shared_ptr<const MenuLook> l, std::vector<MenuItem> its, Rect b)
    : look(l ? std::move(l) : std::make_shared<const MenuLook>()), items(std::move(its)) {
    bounds = b;
    visible = true;
    enabled = true;
}

ListPopup::ListPopup(std::shared_ptr<const MenuLook> l, std::vector<MenuItem> its, Rect b)
    : ListPopup(Unfiltered{}, std::move(l), std::move(its), b) {
    if (const auto& f = menuLabelFilter()) filterLabels(items, f);
}

ListPopup::ListPopup(MenuLook l, std::vector<MenuItem> its, Rect b)
    : ListPopup(std::make_shared<const MenuLook>(std::move(l)), std::move(its), b) {}

ListPopup::ListPopup(const Assets& assets, ListSkin skin, std::vector<MenuItem> its, Rect b)
    : ListPopup(menuLook(assets, skin), std::move(its), b) {}

ListPopup::~ListPopup() {
    *alive = false;
    if (sliderRow >= 0 && sliderRow < int(items.size()) && items[size_t(sliderRow)].slider) {
        std::shared_ptr<MenuSlider> s = items[size_t(sliderRow)].slider;
        sliderRow = -1;
        if (s->onChange) s->onChange(s->value, true);
    }
    if (isSubmenuOfParent()) {
        parentList->submenuRow = -1;
        parentList->submenu = nullptr;
        parentList->repaint();
    }
    if (onClose) onClose();
}

bool ListPopup::closeAbove() {
    std::weak_ptr<bool> editorAlive = editor->aliveToken();
    editor->closeOverlaysAbove(this);
    return !editorAlive.expired();
}

void ListPopup::closeMenuChain() {
    if (!editor || !editor->isOverlay(this)) return;
    Editor& ed = *editor;
    if (closeAbove()) ed.closeOverlayChain();
}

bool ListPopup::isSubmenuOfParent() const {
    return parentList && !parentAlive.expired() && *parentAlive.lock() && parentList->submenu == this;
}

// ---- geometry

int ListPopup::padTop() const { return look->padTop; }
int ListPopup::padBottom() const { return look->padBottom < 0 ? look->padTop : look->padBottom; }
bool ListPopup::uniform() const { return look->separatorsShown && look->separatorHeight <= 0; }

int ListPopup::heightOf(const MenuLook& look, const std::vector<MenuItem>& items) {
    const int pad = look.padTop + (look.padBottom < 0 ? look.padTop : look.padBottom);
    const int r = look.rowHeight;
    if (look.separatorsShown && look.separatorHeight <= 0) return int(items.size()) * r + pad;
    int h = pad;
    for (const MenuItem& it : items) h += it.separator ? (look.separatorsShown ? look.separatorHeight : 0) : r;
    return h;
}

int ListPopup::rowHeightOf(int row) const {
    if (row < 0 || row >= int(items.size())) return 0;
    if (uniform() || !items[size_t(row)].separator) return look->rowHeight;
    return look->separatorsShown ? look->separatorHeight : 0;
}

bool ListPopup::selectable(int row) const {
    return row >= 0 && row < int(items.size()) && items[size_t(row)].enabled && !items[size_t(row)].separator;
}

bool ListPopup::hasKids(int row) const { return selectable(row) && !items[size_t(row)].children.empty(); }

bool ListPopup::subOpen() const { return submenuRow >= 0 && submenu && editor && editor->isOverlay(submenu); }

bool ListPopup::scrollbarShown() const {
    const int pad = padTop() + padBottom();
    if (uniform()) {
        const int fit = std::max(0, (bounds.h - pad) / std::max(look->rowHeight, 1));
        return fit < int(items.size());
    }
    return heightOf(*look, items) > bounds.h;
}

int ListPopup::yOf(int row) const {
    int y = padTop();
    for (int i = top; i < row && i < int(items.size()); ++i) y += rowHeightOf(i);
    return y;
}

int ListPopup::visibleRows() const {
    const int count = int(items.size());
    if (uniform()) {
        const int n = (bounds.h - padTop() - padBottom()) / std::max(look->rowHeight, 1);
        if (std::max(n, 0) >= count) return count;
        return std::max(n, 1);
    }
    if (heightOf(*look, items) <= bounds.h) return count;
    int used = padBottom(), n = 0;
    for (int i = top; i < count; ++i) {
        if (used + rowHeightOf(i) > bounds.h - padTop()) break;
        used += rowHeightOf(i);
        ++n;
    }
    return std::max(n, 1);
}

int ListPopup::itemAt(int y) const {
    const int count = int(items.size());
    if (uniform()) {
        if (y < padTop()) return -1;
        const int row = (y - padTop()) / std::max(look->rowHeight, 1);
        if (row >= visibleRows() || top + row >= count) return -1;
        return top + row;
    }
    int y0 = padTop();
    const int end = std::min(count, top + visibleRows());
    for (int i = top; i < end; ++i) {
        const int h = rowHeightOf(i);
        if (y0 <= y && y < y0 + h) return i;
        y0 += h;
    }
    return -1;
}

int ListPopup::itemAt(int x, int y) const {
    if (scrollbarShown() && x >= bounds.w - kStrip) return -1;
    return itemAt(y);
}

bool ListPopup::inAction(int row, int x) const {
    if (row < 0 || row >= int(items.size()) || !items[size_t(row)].action) return false;
    const int right = bounds.w - std::max(look->rowInset, 1) - (scrollbarShown() ? kStrip : 0);
    return x >= right - look->rowHeight && x < right;
}

bool ListPopup::sliderTrack(int row, int& x0, int& x1) const {
    if (row < 0 || row >= int(items.size()) || !items[size_t(row)].slider) return false;
    const int i0 = look->rowInset < 0 ? 1 : look->rowInset;
    const int left = i0 + std::max(look->iconColumnWidth, 0);
    const int right = bounds.w - i0 - (scrollbarShown() ? kStrip : 0);
    const int label = look->sliderLabelWidth >= 1 ? look->sliderLabelWidth : (right - left) * 2 / 5;
    x0 = left + label;
    x1 = std::max(right - std::max(look->sliderValueWidth, 0), x0 + 10);
    return true;
}

int ListPopup::scrollbarPart(int y) const {
    const int a = std::max(6, look->rowHeight / 2);
    if (y <= a) return -1;
    if (y >= bounds.h - a - 1) return 1;
    return 0;
}

int ListPopup::thumbLength() const {
    const int a = std::max(6, look->rowHeight / 2);
    const int track = std::max(bounds.h - 2 * a - 2, 1);
    return std::max(6, visibleRows() * track / std::max(int(items.size()), 1));
}

int ListPopup::thumbTop() const {
    const int a = std::max(6, look->rowHeight / 2);
    const int track = std::max(bounds.h - 2 * a - 2, 1);
    const int hidden = std::max(int(items.size()) - visibleRows(), 1);
    return a + rnd(double(top) * (track - thumbLength()) / hidden);
}

void ListPopup::dragThumb(int y) {
    const int a = std::max(6, look->rowHeight / 2);
    const int track = std::max(bounds.h - 2 * a - 2, 1);
    const double f = double(y - a - 1 - thumbGrab) / std::max(track - thumbLength(), 1);
    const int hidden = lastTop();
    top = std::clamp(rnd(hidden * f), 0, hidden);
    repaint();
}

// The largest top: the rows from it to the end are the most that fit. Counted from the end, as the
// rows shown from a top near the end are fewer than the popup has room for.
int ListPopup::lastTop() const {
    const int count = int(items.size());
    if (uniform()) return std::max(count - visibleRows(), 0);
    if (heightOf(*look, items) <= bounds.h) return 0;
    int used = padBottom(), n = 0;
    for (int i = count - 1; i >= 0 && used + rowHeightOf(i) <= bounds.h - padTop(); --i) {
        used += rowHeightOf(i);
        ++n;
    }
    return std::max(count - std::max(n, 1), 0);
}

int ListPopup::clampedTop(int t) const { return std::clamp(t, 0, lastTop()); }

void ListPopup::ensureVisible(int row) {
    if (row < 0 || !scrollbarShown()) return;
    if (row < top) {
        top = row;
    } else if (row >= top + visibleRows()) {
        if (uniform()) {
            top = row - visibleRows() + 1;
        } else {
            while (top < row && row >= top + visibleRows()) ++top;
        }
    }
    top = clampedTop(top);
}

void ListPopup::setItems(std::vector<MenuItem> newItems) {
    // A slider drag on the old rows ends with its final report.
    std::shared_ptr<MenuSlider> dragged;
    if (sliderRow >= 0 && sliderRow < int(items.size())) dragged = items[size_t(sliderRow)].slider;
    items = std::move(newItems);
    hover = -1;
    armedRow = -1;
    sliderRow = -1;
    pendingRow = -1;
    actionHover = -1;
    if (submenuRow >= 0 && !hasKids(submenuRow)) closeSub();
    top = clampedTop(top);
    repaint();
    if (dragged && dragged->onChange) dragged->onChange(dragged->value, true);
}

// ---- submenus and sliders

void ListPopup::openSub(int row, bool byKeyboard) {
    if (!hasKids(row)) return;
    if (submenuRow == row && subOpen()) {
        if (byKeyboard && submenu->hover < 0) submenu->moveHover(1);
        return;
    }
    if (!editor) return;
    Editor& ed = *editor;
    if (!closeAbove()) return;
    const double scale = unzoomed ? ed.scale() : ed.bodyScale();
    const std::vector<MenuItem>& kids = items[size_t(row)].children;
    int w = look->measureWidth ? look->measureWidth(kids, scale) : bounds.w;
    const int h = heightOf(*look, kids);
    const int r = look->rowHeight;
    const Rect rowR{bounds.x, bounds.y + yOf(row), bounds.w, r};
    const Rect area = ed.popupArea(rowR, unzoomed);
    Rect rect = submenuRect(bounds, rowR, padTop(), w, h, area, look->submenuOverlap, opensLeft);
    if (h > area.h) {
        w += kStrip;
        rect.x = submenuRect(bounds, rowR, padTop(), w, h, area, look->submenuOverlap, opensLeft).x;
        rect.w = w;
        const int pad = padTop() + padBottom();
        rect.h = std::max(1, (rect.h - pad) / std::max(r, 1)) * r + pad;
    }
    auto child = std::unique_ptr<ListPopup>(new ListPopup(Unfiltered{}, look, kids, rect));
    child->unzoomed = unzoomed;
    child->onPick = onPick;
    child->onAction = onAction;
    child->onSide = onSide;
    child->parentList = this;
    child->parentAlive = alive;
    child->opensLeft = rect.x < bounds.x;
    ListPopup* raw = child.get();
    submenuRow = row;
    submenu = raw;
    PopupOptions o;
    o.unzoomed = unzoomed;
    o.chained = true;
    o.margin = look->frameMargin;
    ed.openPopup(std::move(child), o);
    if (byKeyboard) raw->moveHover(1);
}

void ListPopup::closeSub() {
    if (submenuRow >= 0 && subOpen()) {
        submenuRow = -1;
        submenu = nullptr;
        if (!closeAbove()) return;
        repaint();
    }
    submenuRow = -1;
    submenu = nullptr;
}

void ListPopup::closeSelf() {
    if (!editor) return;
    Editor& ed = *editor;
    if (isSubmenuOfParent()) {
        parentList->submenuRow = -1;
        parentList->submenu = nullptr;
        parentList->repaint();
    }
    if (!closeAbove()) return;
    if (!ed.overlays().empty() && ed.overlays().back().widget.get() == this) ed.closeOverlay();
}

void ListPopup::slideTo(int row, double v, bool final) {
    if (row < 0 || row >= int(items.size()) || !items[size_t(row)].slider) return;
    std::shared_ptr<MenuSlider> s = items[size_t(row)].slider;
    if (s->step > 0) v = s->min + s->step * std::round((v - s->min) / s->step);
    v = std::clamp(v, std::min(s->min, s->max), std::max(s->min, s->max));
    const bool changed = v != s->value;
    s->value = v;
    if (!final && !changed) return;
    repaint();
    if (s->onChange) s->onChange(v, final);
}

// ---- automation and drawing

Rect ListPopup::rowRect(int row) const {
    const int i0 = look->rowInset < 0 ? 1 : look->rowInset;
    return Rect{i0, yOf(row), bounds.w - 2 * i0 - (scrollbarShown() ? kStrip : 0), rowHeightOf(row)};
}

void ListPopup::describe(WidgetInfo& info) const {
    const int end = std::min(int(items.size()), top + visibleRows());
    const int w = bounds.w - (scrollbarShown() ? kStrip : 0);
    for (int i = top; i < end; ++i) {
        const MenuItem& it = items[size_t(i)];
        if (it.separator) continue;
        info.parts.push_back({it.label, Rect{0, yOf(i), w, rowHeightOf(i)}, it.enabled, it.checked});
    }
}

namespace {

struct Device {
    const Paint& p;
    int x(int lx) const { return p.rect.x + rnd(lx * p.scale); }
    int y(int ly) const { return p.rect.y + rnd(ly * p.scale); }
    Rect rect(Rect r) const {
        const int x0 = x(r.x), y0 = y(r.y);
        return Rect{x0, y0, x(r.x + r.w) - x0, y(r.y + r.h) - y0};
    }
};

// An arrow of the scrollbar, point up (dir -1) or down, centred in the cell.
void scrollArrow(Canvas& c, Rect cell, int dir, double s, Color colour) {
    const int th = std::max(rnd(3 * s), 2);
    const int half = std::max(rnd(5 * s), 3) / 2;
    const int cx = cell.x + cell.w / 2;
    const int y0 = cell.y + (cell.h - th) / 2;
    for (int k = 0; k < th; ++k) {
        const int spread = th > 1 ? half * k / (th - 1) : half;
        const int y = dir < 0 ? y0 + k : y0 + th - 1 - k;
        c.hline(cx - spread, cx + spread, y, colour);
    }
}

std::string sliderText(const MenuSlider& s) {
    if (s.format) return s.format(s.value);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", s.value);
    return buf;
}

}  // namespace

void ListPopup::drawScrollbar(const Paint& p) const {
    const Device d{p};
    const double s = p.scale;
    const int a = std::max(6, look->rowHeight / 2);
    const int sx = bounds.w - kStrip;
    const int hidden = int(items.size()) - visibleRows();
    const Rect cells[2] = {d.rect(Rect{sx, 0, kStrip, a + 1}), d.rect(Rect{sx, bounds.h - a - 1, kStrip, a + 1})};
    for (int k = 0; k < 2; ++k) {
        const int dir = k == 0 ? -1 : 1;
        if (autoScroll == dir)
            p.canvas.fillRect(cells[k], 0x6E000000u);
        else if (stripHover == dir)
            p.canvas.fillRect(cells[k], 0x1CFFFFFFu);
        const bool on = dir < 0 ? top > 0 : top < hidden;
        scrollArrow(p.canvas, cells[k], dir, s, on ? look->text : look->disabledText);
    }
    const int inset = std::max(rnd(2 * s), 1);
    const int x0 = d.x(sx) + inset, x1 = d.x(bounds.w) - inset;
    const int y0 = d.y(thumbTop() + 1);
    const int len = std::max(d.y(thumbTop() + 1 + thumbLength()) - y0, rnd(6 * s));
    p.canvas.fillRect(Rect{x0, y0, x1 - x0, len}, look->border);
}

void ListPopup::drawRowAt(const Paint& p, int i) {
    const Device d{p};
    const double s = p.scale;
    const MenuItem& it = items[size_t(i)];
    const Rect row = d.rect(rowRect(i));
    if (it.separator) {
        if (!look->separatorsShown) return;
        if (look->drawSeparator) {
            look->drawSeparator(p, row);
        } else {
            const Color c = (look->separatorColour >> 24) ? look->separatorColour : look->border;
            p.canvas.hline(d.x(look->textInset), d.x(bounds.w - look->textInset) - 1, row.y + row.h / 2, c);
        }
        return;
    }
    const bool hovered = i == hover || (i == submenuRow && subOpen());
    const bool lit = hovered && it.enabled;
    if (armedRow == i && it.enabled && look->drawPressedRow) {
        look->drawPressedRow(p, row, it, lit);
    } else if (look->drawRow) {
        look->drawRow(p, row, it, lit);
    } else if (lit) {
        p.canvas.fillRect(row, look->hoverFill);
    } else if (it.checked) {
        p.canvas.fillRect(row, look->checkedFill);
    }
    const Color colour = !it.enabled ? look->disabledText : lit ? look->hoverText : it.checked ? look->checkedText : look->text;
    const bool plain = it.enabled && !lit && !it.checked;
    Rect room = row;

    int x0 = 0, x1 = 0;
    if (sliderTrack(i, x0, x1)) {
        const MenuSlider& sl = *it.slider;
        if (look->drawSlider) {
            look->drawSlider(p, row, it, colour);
        } else {
            const int dx0 = d.x(x0), dx1 = d.x(x1);
            const int thick = std::max(rnd(2 * s), 1);
            const int cy = row.y + row.h / 2;
            const double span = sl.max - sl.min;
            const double f = span != 0 ? std::clamp((sl.value - sl.min) / span, 0.0, 1.0) : 0.0;
            const int vx = dx0 + rnd(f * (dx1 - dx0));
            p.canvas.fillRect(Rect{dx0, cy - thick / 2, dx1 - dx0, thick}, withAlpha(colour, 0x46));
            p.canvas.fillRect(Rect{dx0, cy - thick / 2, vx - dx0, thick}, colour);
            const int tw = std::max(rnd(4 * s), 3);
            const int th = std::max(row.h - 2 * tw, 5);
            p.canvas.fillRect(Rect{vx - tw / 2, row.y + (row.h - th) / 2, tw, th}, colour);
            if (look->drawText) {
                const int right = row.x + row.w;
                look->drawText(p, Rect{dx1, row.y, right - dx1, row.h}, sliderText(sl), colour, plain);
            }
        }
        room.w = d.x(x0) - room.x;
    }
    if (it.action) {
        const int right = bounds.w - std::max(look->rowInset, 1) - (scrollbarShown() ? kStrip : 0);
        const Rect cell = d.rect(Rect{right - look->rowHeight, yOf(i), look->rowHeight, look->rowHeight});
        if (actionHover == i) p.canvas.fillRect(cell, 0x28FFFFFFu);
        if (look->drawAction) {
            look->drawAction(p, cell, it, actionHover == i);
        } else {
            const int n = std::max(rnd(5 * s), 3);
            const int cx = cell.x + (cell.w - n) / 2, cy = cell.y + (cell.h - n) / 2;
            p.canvas.line(cx, cy, cx + n - 1, cy + n - 1, colour);
            p.canvas.line(cx + n - 1, cy, cx, cy + n - 1, colour);
        }
        room.w = std::min(room.w, cell.x - room.x);
    }
    if (!it.children.empty()) {
        const int col = rnd(look->arrowColumnWidth * s);
        const int right = row.x + row.w;
        if (look->drawSubmenuArrow) {
            look->drawSubmenuArrow(p, Rect{right - col, row.y, col, row.h}, colour);
        } else if (rnd(3 * s) >= 1) {
            const int cy = row.y + row.h / 2;
            int h = 2 * rnd(3 * s);
            for (int x = right - rnd(5 * s); h > 0; ++x, h -= 2) p.canvas.vline(x, cy - h / 2, cy - h / 2 + h - 1, colour);
        }
        room.w = std::min(room.w, right - col - room.x);
    }
    if (look->iconColumnWidth > 0) {
        const int col = rnd(look->iconColumnWidth * s);
        if (!it.icon.empty() && look->drawIcon) {
            const int side = std::min(row.h, col);
            look->drawIcon(p, Rect{room.x + (col - side) / 2, row.y + (row.h - side) / 2, side, side}, it);
        }
        room.x += col;
        room.w -= col;
    }
    if (look->drawText) look->drawText(p, room, it.label, colour, plain);
    if (it.checked && look->drawCheck) look->drawCheck(p, row, it, colour);
}

void ListPopup::draw(const Paint& p) {
    if (look->drawBackground) {
        look->drawBackground(p, p.rect);
    } else {
        p.canvas.fillRect(p.rect, look->background);
        p.canvas.strokeRect(p.rect, look->border, 1);
    }
    if (scrollbarShown()) drawScrollbar(p);
    const int end = std::min(int(items.size()), top + visibleRows());
    for (int i = top; i < end; ++i) drawRowAt(p, i);
}

}  // namespace lumo::gui
