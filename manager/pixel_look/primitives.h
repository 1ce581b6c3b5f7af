#pragma once
// The pixel look: a palette and stateless drawing primitives shared by the main window, the job
// window and the settings window. Flat near-black panels, outlines one dot wide, tiny "#"/"." bitmaps
// scaled by a whole number of device pixels, and the four "tqnative" bitmap fonts.
//
// One dot is one(scale) device pixels. pixels, pixelsIn, button, checkbox, lamp, arrow and
// squareButton take device positions and rectangles; windowBar takes logical coordinates of the
// widget and maps them through the Paint. Every primitive that narrows the canvas clip restores it.
#include <cstdint>
#include <initializer_list>
#include <span>

#include "gui/draw/bitmapfont.h"
#include "gui/draw/canvas.h"
#include "gui/menu_look.h"
#include "gui/widget.h"

namespace tqapp::dev {

using lumo::gui::Color;
using lumo::gui::Paint;
using lumo::gui::Rect;

// ---- palette (0xAABBGGRR)
inline constexpr Color cream = 0xFFCBDEE5u;        // lit text, lit lamps, ticks, pressed borders
inline constexpr Color bg = 0xFF111111u;           // panels and box fills
inline constexpr Color wave = 0xFF838B8Au;         // hovered box border, square-button outline, idle labels
inline constexpr Color dim = 0xFF414545u;          // disabled text and border, idle box border
inline constexpr Color rule = 0xFF373C3Cu;         // frames and rules, enabled button border, unlit lamp
inline constexpr Color hoverWash = 0x40CBDEE5u;    // fill of a hovered enabled button
inline constexpr Color pressedFill = 0xFF1F1D1Du;  // fill of a pressed button

// One dot in device pixels: the scale rounded, at least 1.
int one(double scale);

// The "tqnative" font of the framework's font pack nearest the scale, by the two flags; null when
// the pack has no such font.
const lumo::gui::BitmapFont* font(double scale, bool bold, bool shortForm);

// A dot bitmap: one C string per row, top row first; "#" is an inked cell, anything else a hole.
using Rows = std::span<const char* const>;

// Each inked cell (column c, row r) becomes a one-dot square at (x + c dots, y + r dots).
void pixels(const Paint& p, int x, int y, Rows rows, Color c);
inline void pixels(const Paint& p, int x, int y, std::initializer_list<const char*> rows, Color c) {
    pixels(p, x, y, Rows(rows.begin(), rows.size()), c);
}
// The bitmap centred in the device rectangle (by its longest row).
void pixelsIn(const Paint& p, Rect area, Rows rows, Color c);
inline void pixelsIn(const Paint& p, Rect area, std::initializer_list<const char*> rows, Color c) {
    pixelsIn(p, area, Rows(rows.begin(), rows.size()), c);
}

// A button's body: an opaque fill (the hover wash over the panel colour) and a one-dot border inside
// the rectangle. The caller draws the label in buttonInk's colour.
void button(const Paint& p, Rect r, bool hot, bool down, bool enabled);
Color buttonInk(bool hot, bool down, bool enabled);

// A tick box of 9 dots centred in the rectangle.
void checkbox(const Paint& p, Rect r, bool on, bool hot, bool down, bool enabled);
// A lamp of 5 dots centred in the rectangle: filled when on, a ring when off.
void lamp(const Paint& p, Rect r, bool on);
// An arrow centred in the rectangle: 'u' up, 'r' right, 'l' left, anything else down.
void arrow(const Paint& p, Rect r, char direction, Color c);
// A window button of 13 dots centred in the rectangle: a cross (close) or a bar (minimise).
void squareButton(const Paint& p, Rect r, bool close, bool hot, bool down);

// The title strip of a pixel-look popup window, width x height logical units of the widget, with its
// close button at the logical rectangle closeButton.
void windowBar(const Paint& p, int width, int height, Rect closeButton, bool hot, bool down);

// The pixel-look style of popup menus. A label starting with byte 0x01 is a ticked item, with 0x02 a
// tickable one without its tick; the byte is not shown.
lumo::gui::MenuLook menuLook();

// Maps a logical rectangle of the widget to device pixels, each edge rounded on its own.
Rect device(const Paint& p, Rect logical);

}  // namespace tqapp::dev
