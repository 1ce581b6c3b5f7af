#pragma once
// Reading a window back from the X server, and the X window id for xdotool; kept apart from the
// tests because Xlib's macros (None, Bool, ...) clash with the toolkit's names.
#include <SDL2/SDL.h>

#include <cstdint>
#include <functional>
#include <string>

#include "gui/draw/canvas.h"

namespace wintest {

// What the X server shows in the window now, as opaque 0xFFRRGGBB pixels; empty when it cannot.
lumo::gui::Bitmap grabWindow(SDL_Window* window);
// What the X server shows on the screen of the window in a rectangle of root points, as `grabWindow`.
lumo::gui::Bitmap grabScreen(SDL_Window* window, int x, int y, int w, int h);
// A wait until the X server has handled every request SDL made on the window's connection (and its
// errors came); it still works after the window is gone, since SDL keeps that connection open.
std::function<void()> serverSync(SDL_Window* window);
// Like serverSync, but the request waited for fails on its own: it frees a pixmap never made
// (BadPixmap) or, given a window id, maps that window (BadWindow when it is gone).
std::function<void()> failingRequest(SDL_Window* window, unsigned long goneWindow = 0);
// The X11 window id; 0 when the window is not an X11 one.
unsigned long x11WindowId(SDL_Window* window);
// The name of the X display SDL's connection for the window reached (":101"); empty when none.
std::string x11DisplayName(SDL_Window* window);
// The number SDL's connection gives its next request.
unsigned long nextRequestOf(SDL_Window* window);

}  // namespace wintest
