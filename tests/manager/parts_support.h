#pragma once
// The popup windows' parts by the names they go by: what the pointer finds at a point, which part is
// hovered or pressed, and a part of the current table by its name.
#include <optional>
#include <string>
#include <type_traits>

#include "gui/widget.h"

namespace partstest {

// The name of the part that takes the pointer at a window point; empty for none.
template <class Window>
std::string nameAt(const Window& w, int x, int y) {
    const auto id = w.hit(x, y);
    return id ? w.partName(*id) : std::string();
}

template <class Window>
std::string hoverName(const Window& w) {
    return w.pointer.hover ? w.partName(*w.pointer.hover) : std::string();
}

template <class Window>
std::string pressedName(const Window& w) {
    return w.pointer.pressed ? w.partName(*w.pointer.pressed) : std::string();
}

// The part of the current table that goes by the name; none when the table does not list it.
template <class Window>
auto partNamed(const Window& w, const std::string& name) -> std::optional<std::decay_t<decltype(w.parts().parts()[0])>> {
    const auto table = w.parts();
    for (const auto& part : table.parts())
        if (w.partName(part.id) == name) return part;
    return std::nullopt;
}

// Presses the part of the current table that goes by the name (enabled or not); false when there is none.
template <class Window>
bool pressNamed(Window& w, const std::string& name) {
    const auto part = partNamed(w, name);
    if (part) w.press(part->id);
    return part.has_value();
}

inline int cx(const lumo::gui::Rect& r) { return r.x + r.w / 2; }
inline int cy(const lumo::gui::Rect& r) { return r.y + r.h / 2; }

}  // namespace partstest
