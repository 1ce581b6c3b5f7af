#pragma once
// The overlay operations menus need beyond what the editor offers so far: the room a popup may use
// and closing overlays above a widget or down a chain.
#include "gui/editor.h"

namespace lumo::gui::menus {

// The room a popup anchored at `anchor` may use, in logical units of its layer: the screen's work
// area when popups are native windows, else the editor's own area.
Rect popupArea(const Editor& editor, Rect anchor, bool unzoomed);
// Closes, top first, every overlay above the one holding w; nothing when none holds it.
void closeOverlaysAbove(Editor& editor, const Widget* w);
// Closes the top overlay and keeps closing while the one just closed was chained.
void closeOverlayChain(Editor& editor);

}  // namespace lumo::gui::menus
