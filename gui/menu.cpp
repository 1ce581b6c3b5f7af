#include "gui/menu.h"

#include <algorithm>


namespace lumo::gui {

namespace {

int placeX(Rect anchor, int w, Rect area) {
    if (w >= area.w || anchor.x < area.x) return area.x;
    return std::min(anchor.x, area.x + area.w - w);
}

}  // namespace

ListPopup* openMenu(Editor& editor, std::unique_ptr<ListPopup> list, Rect anchor, MenuOpen opts) {
    if (!list) return nullptr;
    const bool unzoomed = (opts & kMenuUnzoomed) != 0;
    const MenuLook& look = *list->look;

    int w = list->bounds.w;
    if (w < 1) {
        w = look.measureWidth ? std::max(look.measureWidth(list->items, editor.bodyScale()), anchor.w) : anchor.w;
    }
    const int fullH = ListPopup::heightOf(look, list->items);
    const int pad = look.padTop + (look.padBottom < 0 ? look.padTop : look.padBottom);
    const int r = look.rowHeight;
    const int minH = 3 * r + pad;  // room for three rows

    const Rect area = editor.popupArea(anchor, unzoomed);
    const int below = area.y + area.h - (anchor.y + anchor.h);
    const int above = anchor.y - area.y;
    const bool upper = fullH > below && (fullH <= above || below < above);
    const Rect placed = dropdownRect(anchor, w, fullH, area, minH);
    int x = placed.x, y = placed.y, h = placed.h;
    if (h < fullH) {
        // A list that scrolls grows by the scrollbar strip, so its rows keep their measured width.
        w += ListPopup::kStrip;
        x = placeX(anchor, w, area);
        h = std::max(1, (h - pad) / std::max(r, 1)) * r + pad;
        // Only a list above its anchor is pulled back to meet it; one on the lower side keeps its top.
        if (upper) y = anchor.y - h;
    }
    list->bounds = Rect{x, y, w, h};
    list->unzoomed = unzoomed;

    if (list->hover < 0) {
        for (size_t i = 0; i < list->items.size(); ++i)
            if (list->items[i].checked) {
                list->ensureVisible(int(i));
                break;
            }
    }
    if (!(opts & kMenuKeepOverlays)) editor.closeAllOverlays();

    PopupOptions o;
    o.unzoomed = unzoomed;
    o.chained = false;
    o.margin = look.frameMargin;
    ListPopup* raw = list.get();
    editor.openPopup(std::move(list), o);
    return raw;
}

Rect dropdownRect(Rect anchor, int w, int h, Rect area, int minH) {
    const int x = placeX(anchor, w, area);
    const int below = area.y + area.h - (anchor.y + anchor.h);
    const int above = anchor.y - area.y;
    if (h <= below) return Rect{x, anchor.y + anchor.h, w, h};
    if (h <= above) return Rect{x, anchor.y - h, w, h};
    if (below >= above) {
        const int hh = std::max(std::min(minH, h), below);
        return Rect{x, area.y + area.h - hh, w, hh};
    }
    const int hh = std::max(std::min(minH, h), above);
    return Rect{x, anchor.y - hh, w, hh};
}

Rect submenuRect(Rect parent, Rect row, int padTop, int w, int h, Rect area, int overlap, bool preferLeft) {
    const int rightX = parent.x + parent.w - overlap;
    const int leftX = parent.x - w + overlap;
    const bool fitsRight = rightX + w <= area.x + area.w;
    const bool fitsLeft = leftX >= area.x;
    bool left;
    if (!fitsLeft && !fitsRight)
        left = parent.x - area.x > area.x + area.w - (parent.x + parent.w);
    else if (preferLeft)
        left = fitsLeft || !fitsRight;
    else
        left = fitsLeft && !fitsRight;
    int x = left ? leftX : std::min(rightX, area.x + area.w - w);
    x = std::max(x, area.x);
    const int hh = std::min(h, area.h);
    int y = row.y - padTop;
    if (y < area.y)
        y = area.y;
    else
        y = std::min(y, area.y + area.h - hh);
    return Rect{x, y, w, hh};
}

}  // namespace lumo::gui
