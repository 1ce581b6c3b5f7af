#pragma once
// Shared by the pixel-look primitives: the tick bitmap and the one clip scope.
#include <algorithm>
#include <cstdint>
#include <string>

#include "gui/draw/canvas.h"
#include "gui/draw/clip_scope.h"
#include "manager/pixel_look/primitives.h"

namespace tqapp::dev {

using lumo::gui::ClipScope;

// The 5 x 4 tick of the tick box and of ticked menu items.
Rows tickRows();

}  // namespace tqapp::dev

namespace tqapp::dev {

// One line of text in a logical rectangle of the widget: fitted to the box less the inset (units) on
// each side (at least one pixel), drawn at the inset or centred, on the baseline the font's metrics
// centre in the box, moved down by dy device pixels, clipped to the box. Nothing without a font or for
// an empty text.
void textIn(const Paint& p, const lumo::gui::BitmapFont* f, Rect logical, const std::string& s, Color c, int inset,
            bool centred, int dy = 0);
// The pen's baseline that centres a line of the font in a device rectangle.
int baselineIn(const lumo::gui::BitmapFont& f, Rect device);

}  // namespace tqapp::dev
