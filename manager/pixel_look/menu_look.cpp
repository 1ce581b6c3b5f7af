// The pixel look of popup menus: capitals in the "tqnative" font, ticks drawn as dots.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

#include "manager/pixel_look/primitives.h"
#include "manager/pixel_look/primitives_internal.h"

namespace tqapp::dev {

namespace {

constexpr int kNarrowest = 110;
constexpr int kWidest = 320;

// Takes the tick marker off a label: 1 ticked, 2 tickable without a tick, 0 no marker.
int takeMarker(std::string& label) {
    if (label.empty() || (label[0] != '\x01' && label[0] != '\x02')) return 0;
    const int m = label[0];
    label.erase(0, 1);
    return m;
}

std::string capitals(std::string s) {
    for (char& ch : s) ch = char(std::toupper((unsigned char)ch));
    return s;
}

void drawItem(const Paint& p, Rect room, const std::string& label, Color colour, bool plain) {
    const lumo::gui::BitmapFont* f = font(p.scale, false, false);
    if (!f) return;
    std::string text = label;
    const bool ticked = takeMarker(text) == 1;
    text = capitals(text);
    const Color ink = plain && ticked ? cream : colour;
    const int inset = int(std::lround(6 * p.scale));
    const int baseline = room.y + (room.h + f->cap_height) / 2;
    f->draw(p.canvas, room.x + inset, baseline, text, &ink);
    if (ticked) {
        const int u = one(p.scale);
        pixels(p, room.x + room.w - inset - 5 * u, baseline - 4 * u, tickRows(), ink);
    }
}

int measure(const std::vector<lumo::gui::MenuItem>& items, double scale) {
    const lumo::gui::BitmapFont* f = font(scale, false, false);
    if (!f || items.empty() || !(scale > 0)) return kNarrowest;
    int widest = kNarrowest;
    for (const lumo::gui::MenuItem& it : items) {
        std::string text = it.label;
        const bool marked = takeMarker(text) != 0;
        const int w = int(std::ceil(f->width(capitals(text)) / scale)) + (marked ? 38 : 26);
        widest = std::max(widest, w);
    }
    return std::min(widest, kWidest);
}

}  // namespace

lumo::gui::MenuLook menuLook() {
    lumo::gui::MenuLook look;
    look.rowHeight = 14;
    look.padTop = 3;
    look.padBottom = -1;  // as padTop
    look.textInset = 6;   // separators stop this far from each side
    look.rowInset = -1;
    look.text = wave;
    look.hoverFill = cream;
    look.hoverText = bg;
    look.checkedFill = bg;
    look.checkedText = cream;
    look.disabledText = dim;
    look.background = bg;
    look.border = cream;
    look.separatorColour = rule;
    // The frame and the separators are lines of the pixel look: one dot thick at every scale (the
    // list's own would be hairlines at 2x and 3x).
    look.drawBackground = [](const Paint& p, Rect r) {
        p.canvas.fillRect(r, bg);
        p.canvas.strokeRect(r, cream, one(p.scale));
    };
    look.drawSeparator = [](const Paint& p, Rect row) {
        const int u = one(p.scale), inset = int(std::lround(6 * p.scale));
        const int x0 = p.rect.x + inset, x1 = p.rect.x + p.rect.w - inset;
        p.canvas.fillRect(Rect{x0, row.y + (row.h - u) / 2, x1 - x0, u}, rule);
    };
    look.drawText = drawItem;
    look.measureWidth = measure;
    return look;
}

}  // namespace tqapp::dev
