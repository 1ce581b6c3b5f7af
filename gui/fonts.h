#pragma once
// The toolkit's own bitmap fonts: "tahoma6", "tahoma6_bold", "tahoma7", "tahoma7_bold", the pixel
// fonts "tqnative", "tqnative_bold", "tqnative_short", "tqnative_short_bold", and "tqsans",
// "tqsans_bold", "tqsans_title", in packs for the scales 1, 1.5, 2 and 3.
#include "gui/draw/assets.h"

namespace lumo::gui {

// Loaded from the embedded table on first use (thread-safe) and kept until the process ends; a
// scale's glyphs are decoded when that scale is first asked for.
const Assets& lumoFonts();

}  // namespace lumo::gui
