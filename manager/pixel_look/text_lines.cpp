// Lines of text in the pixel-look windows' boxes.
#include <algorithm>
#include <cmath>
#include <string>

#include "gui/draw/clip_scope.h"
#include "manager/pixel_look/primitives.h"
#include "manager/pixel_look/primitives_internal.h"

namespace tqapp::dev {

int baselineIn(const lumo::gui::BitmapFont& f, Rect r) {
    return f.line_height >= 1 ? r.y + (r.h - f.line_height) / 2 + f.ascent : r.y + (r.h + f.cap_height) / 2;
}

void textIn(const Paint& p, const lumo::gui::BitmapFont* f, Rect logical, const std::string& s, Color c, int inset,
            bool centred, int dy) {
    if (!f || s.empty()) return;
    const Rect r = device(p, logical);
    const int m = int(std::lround(inset * p.scale));
    const std::string shown = f->fit(s, std::max(1, r.w - 2 * m));
    if (shown.empty()) return;
    const int x = centred ? r.x + (r.w - f->width(shown)) / 2 : r.x + m;
    ClipScope clip(p.canvas, r);
    f->draw(p.canvas, x, baselineIn(*f, r) + dy, shown, &c);
}

}  // namespace tqapp::dev
