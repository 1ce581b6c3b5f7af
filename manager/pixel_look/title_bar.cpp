// The title strip of the pixel-look popup windows.
#include <string>

#include "gui/chrome/logo.h"
#include "gui/draw/clip_scope.h"
#include "manager/pixel_look/primitives.h"
#include "manager/pixel_look/primitives_internal.h"

namespace tqapp::dev {

void windowBar(const Paint& p, int width, int height, Rect closeButton, bool hot, bool down) {
    const Rect bar = device(p, Rect{0, 0, width, height});
    ClipScope clip(p.canvas, bar);
    lumo::gui::drawArduneLogo(p.canvas, device(p, Rect{4, 1, 40, 20}), p.scale, cream);

    const lumo::gui::BitmapFont* bold = font(p.scale, true, false);
    const lumo::gui::BitmapFont* regular = font(p.scale, false, false);
    if (bold && regular) {
        const Rect area = device(p, Rect{48, 0, 0, height - 1});
        const int baseline = bold->line_height >= 1 ? area.y + (area.h - bold->line_height) / 2 + bold->ascent
                                                    : area.y + (area.h + bold->cap_height) / 2;
        const std::string first = "ARDUNE", second = "VIDO";
        const Color lit = cream, idle = wave;
        bold->draw(p.canvas, area.x, baseline, first, &lit);
        regular->draw(p.canvas, area.x + bold->width(first) + bold->space, baseline, second, &idle);
    }
    squareButton(p, device(p, closeButton), true, hot, down);
    // The foot line is one dot thick at every scale, flush with the bar's mapped foot; drawn last, so
    // the logo resting on it never blurs it.
    const int u = one(p.scale);
    p.canvas.fillRect(Rect{bar.x, bar.y + bar.h - u, bar.w, u}, rule);
}

}  // namespace tqapp::dev
