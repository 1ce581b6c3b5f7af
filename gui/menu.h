#pragma once
// Opening drawn menus: openMenu sizes a ListPopup, places it below or above its anchor inside the
// room the editor allows, trims it to whole rows and opens it as an overlay. dropdownRect and
// submenuRect are the placement rules as geometry alone.
#include <cstdint>
#include <memory>

#include "gui/editor.h"
#include "gui/list_popup.h"

namespace lumo::gui {

enum MenuOpen : uint32_t {
    kMenuOpenDefault = 0,
    kMenuUnzoomed = 0x1,         // lives in the display-scale layer
    kMenuKeepOverlays = 0x100,   // keep the overlays already open
};
constexpr MenuOpen operator|(MenuOpen a, MenuOpen b) { return MenuOpen(uint32_t(a) | uint32_t(b)); }

// The editor owns the list from then on; results arrive through the list's callbacks.
ListPopup* openMenu(Editor& editor, std::unique_ptr<ListPopup> list, Rect anchor, MenuOpen opts = kMenuOpenDefault);

// A w x h list under the anchor, above it when only that fits, else on the roomier side with at
// least min(minH, h) rows of height.
Rect dropdownRect(Rect anchor, int w, int h, Rect area, int minH);
// A w x h submenu beside its parent list, its first row level with the parent row.
Rect submenuRect(Rect parent, Rect row, int padTop, int w, int h, Rect area, int overlap, bool preferLeft);

}  // namespace lumo::gui
