#pragma once
// The Linux window layer as the toolkit sees it: a factory that gives the SDL window when a video
// driver starts here (a display is reachable) and nothing otherwise, so that
// PlatformWindow::create falls back to its headless window.
//
// The toolkit does not link SDL: it holds a factory slot (PlatformWindow::setFactory), and every
// program that links lumo_window has installWindowLayer run before main by an object file of
// its own (an archive member nobody references would be dropped by the linker).
//
// Popups stay overlays inside the window: createPopup gives no surface. The toolkit asks for a
// surface for every overlay, menus included, without saying which ones are windows; the timer's
// dismissPopups would close every native menu at each tick; and on X11 a borderless window's place
// and keyboard focus are the window manager's to decide.
#include <memory>
#include <string>

#include "gui/editor.h"

namespace lumo::platform {

std::unique_ptr<gui::PlatformWindow> makeSdlWindow(gui::Editor& editor);
void installWindowLayer();

// A window can open here: a display is reachable. Cheap, so that a program can ask before it starts
// anything and bring the window (and SDL's video with it) up later, while its own work runs. Asked
// before the program starts threads of its own: SDL's link to the session bus is made here.
bool displayReachable();

// Whether the application holds the window open past a close asked for (it ends a job first):
// told by the window at each close, so that a signal's close gives the program its grace only
// while nothing holds the window.
void closeHeld(bool held);
// What the program says on its standard error once a signal's close is held: that the window
// waits for its work, and that a second signal ends it at once.
void closeHeldSays(const std::string& sentence);

// Why SDL's video or the last window did not start, in SDL's words; empty when SDL said nothing.
std::string videoError();

}  // namespace lumo::platform
