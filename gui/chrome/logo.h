#pragma once
// The maker's logo mark: one tapered wave stroke, 37 x 20 units, filled in one colour.
#include "gui/draw/canvas.h"
#include "gui/draw/path.h"

namespace lumo::gui {

// The mark's size in units.
inline constexpr double kLogoWidth = 37.0;
inline constexpr double kLogoHeight = 20.0;

// The outline of the mark in units, (0, 0) to (37, 20).
const Path& arduneLogoPath();

// Fills the mark scaled by factor and centred in the device rectangle r, in colour c. The fill never
// leaves r (nor the canvas clip), and the clip is left as it was. A factor that is not positive or not
// finite draws nothing.
void drawArduneLogo(Canvas& canvas, Rect r, double factor, Color c);

}  // namespace lumo::gui
