#include "gui/menu_look.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace lumo::gui {

namespace {

int rnd(double v) { return int(std::lround(v)); }

const BitmapFont* skinFont(const Assets& assets, const ListSkin& skin, double s) {
    if (skin.fontFor) return skin.fontFor(s);
    if (skin.prepare) skin.prepare();
    return assets.pack(s).font(skin.font);
}

std::function<std::string(const std::string&)>& filterSlot() {
    static std::function<std::string(const std::string&)> filter;
    return filter;
}

}  // namespace

void setMenuLabelFilter(std::function<std::string(const std::string&)> filter) { filterSlot() = std::move(filter); }

const std::function<std::string(const std::string&)>& menuLabelFilter() { return filterSlot(); }

MenuLook menuLook(const Assets& assets, const ListSkin& skin) {
    MenuLook look;
    look.padBottom = -1;
    look.rowInset = -1;
    look.frameMargin = 0;
    look.submenuOverlap = 0;
    look.separatorColour = 0;
    look.separatorHeight = 0;
    look.separatorsShown = true;
    look.arrowColumnWidth = 7;
    look.iconColumnWidth = 0;
    look.sliderLabelWidth = 0;
    look.sliderValueWidth = 52;

    look.rowHeight = skin.rowHeight;
    look.padTop = skin.padding;
    look.textInset = skin.textInset;
    look.text = skin.text;
    look.hoverFill = skin.hoverFill;
    look.hoverText = skin.hoverText;
    look.checkedFill = skin.text;  // a checked row is shown inverted
    look.checkedText = skin.background;
    look.disabledText = skin.disabledText;
    look.background = skin.background;
    look.border = skin.border;

    const Assets* a = &assets;
    auto sk = std::make_shared<const ListSkin>(skin);

    if (!skin.sprite.empty()) {
        if (const Sprite* sp = assets.pack(1.0).sprite(skin.sprite)) {
            const Rect& c = skin.content;
            look.frameMargin = std::max({c.x - sp->x, c.y - sp->y, sp->x + sp->w - (c.x + c.w),
                                         sp->y + sp->h - (c.y + c.h), 0}) +
                               1;
        }
        look.drawBackground = [a, sk](const Paint& p, Rect r) {
            const double s = p.scale;
            const Sprite* sp = a->pack(s).sprite(sk->sprite);
            if (sp && sp->image) {
                const Rect& c = sk->content;
                int x0 = rnd(c.x * s), y0 = rnd(c.y * s), x1 = rnd((c.x + c.w) * s), y1 = rnd((c.y + c.h) * s);
                int left = x0 - sp->x, top = y0 - sp->y, right = sp->x + sp->w - x1, bottom = sp->y + sp->h - y1;
                drawNineSlice(p.canvas, *sp->image,
                              Rect{r.x - left, r.y - top, r.w + left + right, r.h + top + bottom},
                              std::max(left, right) + rnd(sk->cornerExtraW * s),
                              std::max(top, bottom) + rnd(sk->cornerExtraH * s), 255);
                return;
            }
            p.canvas.fillRect(r, sk->background);
            p.canvas.strokeRect(r, sk->border, 1);
        };
    }

    look.drawText = [a, sk](const Paint& p, Rect r, const std::string& text, Color colour, bool plain) {
        const double s = p.scale;
        const BitmapFont* f = skinFont(*a, *sk, s);
        if (!f) return;
        const int i = rnd(sk->textInset * s);
        const int x = r.x + i;
        const int y = f->line_height > 0 ? r.y + (r.h - f->line_height) / 2 + f->ascent
                                         : r.y + (r.h + f->cap_height) / 2;
        const std::string shown = f->fit(text, r.w - 2 * i);
        f->draw(p.canvas, x, y, shown, plain && !sk->tintPlain ? nullptr : &colour);
    };

    look.measureWidth = [a, sk](const std::vector<MenuItem>& items, double s) {
        const BitmapFont* f = skinFont(*a, *sk, s);
        const int inset2 = 2 * sk->textInset;
        if (items.empty()) return 4 + inset2;
        int longest = 0;
        bool kids = false, slider = false;
        for (const MenuItem& it : items) {
            if (f && s > 0) longest = std::max(longest, int(std::ceil(f->width(it.label) / s)));
            kids = kids || !it.children.empty();
            slider = slider || it.slider != nullptr;
        }
        int w;
        if (slider) {
            int c = std::min(longest + inset2, 316);
            w = std::max(220, (5 * c + 20) / 2);
        } else {
            w = longest + (kids ? 8 : 0) + 4 + inset2;
        }
        return std::min(w, 320);
    };
    return look;
}

}  // namespace lumo::gui
