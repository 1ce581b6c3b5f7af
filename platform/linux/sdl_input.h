#pragma once
// Pure translations from SDL's input vocabulary to the editor's: window points, buttons, double
// clicks, modifiers, keys, text and cursor shapes.
#include <SDL2/SDL.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gui/widget.h"

namespace lumo::platform {

// A window point (device pixels) from a position in SDL window units, which are `ratio` device
// pixels each: rounded down.
int windowPoint(double position, double ratio);

// The editor-clock time of an event `ageMs` old at `now` (Editor::now): one older than 10 s, or
// stamped ahead of the clock it is read against (its age wrapped round), counts as now.
double timeOfAge(uint32_t ageMs, double now);

// The editor's button for an SDL button: left is 0, or 1 while control is held; right is 1; others -1.
int buttonOf(uint8_t sdlButton, bool control);

// A press is a double click on the second, fourth, ... click of a series.
bool isDoubleClick(int clicks);

struct Modifiers {
    bool shift = false;
    bool command = false;  // control on this platform
    bool option = false;   // alt
    bool control = false;
};
Modifiers modifiersOf(uint16_t sdlMod);

// The editor's key for a key code; Key::None for keys that come as text or are not used.
gui::Key keyOf(SDL_Keycode code);

// The code points of a UTF-8 text; a malformed byte becomes U+FFFD.
std::vector<uint32_t> codePoints(const std::string& utf8);

// The system cursor for a cursor shape code: 3 and 4 the vertical and horizontal resize cursors,
// 8 and 12 the two diagonal ones, everything else the arrow.
SDL_SystemCursor systemCursorFor(int code);

}  // namespace lumo::platform
