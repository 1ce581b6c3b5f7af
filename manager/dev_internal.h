#pragma once
// Shared by the pixel-look primitives: a clip scope and the tick bitmap.
#include <algorithm>
#include <cstdint>
#include <string>

#include "gui/draw/canvas.h"
#include "manager/dev.h"

namespace tqapp::dev {

// Narrows a canvas clip to a rectangle for one scope and puts the old clip back.
class ClipTo {
public:
    ClipTo(lumo::gui::Canvas& canvas, lumo::gui::Rect r) : canvas_(canvas), saved_(canvas.clip) {
        const lumo::gui::Rect& c = canvas.clip;
        const int64_t x0 = std::max<int64_t>(c.x, r.x), y0 = std::max<int64_t>(c.y, r.y);
        const int64_t x1 = std::min<int64_t>(int64_t(c.x) + c.w, int64_t(r.x) + r.w);
        const int64_t y1 = std::min<int64_t>(int64_t(c.y) + c.h, int64_t(r.y) + r.h);
        canvas.clip = x1 > x0 && y1 > y0 ? lumo::gui::Rect{int(x0), int(y0), int(x1 - x0), int(y1 - y0)}
                                         : lumo::gui::Rect{c.x, c.y, 0, 0};
    }
    ~ClipTo() { canvas_.clip = saved_; }
    ClipTo(const ClipTo&) = delete;
    ClipTo& operator=(const ClipTo&) = delete;

private:
    lumo::gui::Canvas& canvas_;
    lumo::gui::Rect saved_;
};

// The 5 x 4 tick of the tick box and of ticked menu items.
Rows tickRows();

}  // namespace tqapp::dev

namespace tqapp::dev {

// One line of text in a logical rectangle of the widget: fitted to the box less the inset (units) on
// each side (at least one pixel), drawn at the inset or centred, on the baseline the font's metrics
// centre in the box, clipped to the box. Nothing without a font or for an empty text.
void textIn(const Paint& p, const lumo::gui::BitmapFont* f, Rect logical, const std::string& s, Color c, int inset,
            bool centred);
// Pointer bookkeeping of the pixel-look popups; each answers whether the hover changed.
// The hover becomes the part under the pointer (empty when it left).
bool hoverTo(std::string& hover, std::string under);
// During a press only the pressed part lights up, and only while the pointer is over it.
bool hoverDuringPress(std::string& hover, const std::string& pressed, std::string under);
// The pen's baseline that centres a line of the font in a device rectangle.
int baselineIn(const lumo::gui::BitmapFont& f, Rect device);

}  // namespace tqapp::dev
