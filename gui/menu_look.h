#pragma once
// How every drawn list popup looks: a MenuLook filled in by hand, or built by menuLook() from an asset
// set and a ListSkin (a sprite-framed list with a bitmap font). Also the process-wide label filter.
#include <functional>
#include <string>
#include <vector>

#include "gui/draw/assets.h"
#include "gui/menu_item.h"
#include "gui/widget.h"

namespace lumo::gui {

// Lengths are logical units; rectangles handed to the drawers are device pixels of the paint.
// Every drawer is optional; ListPopup draws a plain default where one is not set.
struct MenuLook {
    int rowHeight = 18;
    int padTop = 2;
    int padBottom = -1;  // below 0: as padTop
    int textInset = 6;
    int rowInset = -1;   // below 0: 1
    int frameMargin = 0;
    int submenuOverlap = 0;
    Color text = 0xFFE6E6E6u;
    Color hoverFill = 0xFF8A5A2Eu;
    Color hoverText = 0xFFFFFFFFu;
    Color checkedFill = 0xFF4A3A2Au;
    Color checkedText = 0xFFFFFFFFu;
    Color disabledText = 0xFF7A7A7Au;
    Color background = 0xFF2A2A2Au;
    Color border = 0xFF5A5A5Au;
    std::function<void(const Paint&, Rect)> drawBackground;
    // (paint, row, item, hovered): a row's highlight; the pressed form for an armed row.
    std::function<void(const Paint&, Rect, const MenuItem&, bool)> drawRow;
    std::function<void(const Paint&, Rect, const MenuItem&, bool)> drawPressedRow;
    Color separatorColour = 0;  // used when its alpha is not 0, else border
    int separatorHeight = 0;    // 0 or less: separators are a full row
    std::function<void(const Paint&, Rect)> drawSeparator;
    bool separatorsShown = true;
    // (paint, arrow column, colour)
    std::function<void(const Paint&, Rect, Color)> drawSubmenuArrow;
    int arrowColumnWidth = 7;
    // (paint, row, item, colour)
    std::function<void(const Paint&, Rect, const MenuItem&, Color)> drawCheck;
    // (paint, room, text, colour, plain)
    std::function<void(const Paint&, Rect, const std::string&, Color, bool)> drawText;
    // The popup width the items need at a scale, logical units.
    std::function<int(const std::vector<MenuItem>&, double)> measureWidth;
    int iconColumnWidth = 0;
    // (paint, square, item)
    std::function<void(const Paint&, Rect, const MenuItem&)> drawIcon;
    // (paint, cell, item, hovered)
    std::function<void(const Paint&, Rect, const MenuItem&, bool)> drawAction;
    int sliderLabelWidth = 0;  // 0 or less: two fifths of the row
    int sliderValueWidth = 52;
    // (paint, row, item, colour)
    std::function<void(const Paint&, Rect, const MenuItem&, Color)> drawSlider;
};

// A sprite-framed list with a bitmap font, as a caller names it to menuLook().
struct ListSkin {
    std::string sprite;   // frame sprite; empty for none
    Rect content;         // the sprite's part covering the popup itself, 1x sheet pixels
    int cornerExtraW = 0;  // added to the nine-slice corners, 1x pixels
    int cornerExtraH = 0;
    std::string font;
    Color text = 0xFFE6E6E6u;
    Color hoverFill = 0xFF8A5A2Eu;
    Color hoverText = 0xFFFFFFFFu;
    Color disabledText = 0xFF7A7A7Au;
    Color background = 0xFF2A2A2Au;
    Color border = 0xFF5A5A5Au;
    bool tintPlain = true;  // false: plain rows keep the font's own colours
    int rowHeight = 18;
    int textInset = 6;
    int padding = 2;  // above the first and below the last row
    void (*prepare)() = nullptr;                          // before each font lookup
    const BitmapFont* (*fontFor)(double scale) = nullptr;  // replaces the asset lookup when set
};

// The assets must outlive the look (callers keep them in function-level statics).
MenuLook menuLook(const Assets& assets, const ListSkin& skin);

// Sets, or with an empty function clears, the filter every new ListPopup passes its labels through.
void setMenuLabelFilter(std::function<std::string(const std::string&)> filter);
const std::function<std::string(const std::string&)>& menuLabelFilter();

}  // namespace lumo::gui
