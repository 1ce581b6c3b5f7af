#pragma once
// The demo catalog's pictures, drawn here: a row strip and a logo per product, at any scale.
#include <cstdint>
#include <string>

#include "gui/draw/canvas.h"

namespace demo {

// A product's look: its hue (0 to 359) and a pattern number.
struct Motif {
    int hue = 0;
    int pattern = 0;
};

// The row picture: 68 x 12 units at the scale.
lumo::gui::Canvas rowPicture(const Motif& m, double scale);
// The logo: 97 x 75 units at the scale, with the product's initials.
lumo::gui::Canvas logoPicture(const Motif& m, const std::string& initials, double scale);

}  // namespace demo
