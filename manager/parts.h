#pragma once
// The part table every manager window keeps, and the press / hover / release rule they share.
//
// A window lists its parts once per question, from its current state: each part has a typed id, its
// rectangle in the widget's own units and its state. Painting reads the rectangles and states from
// that table, the pointer handlers hit-test against it, and the automation description prints it;
// nothing else computes where a part lies. An id prints as the short text name the design gives it
// ("update_all", "rowpill:3", "scope:user"), which is how tests and automation name parts.
//
//   PartId<Kind> ...... a kind from the window's own enum and an index for repeated parts (-1 none)
//   Part<Id> .......... id, rectangle, enabled, checked, and where it is drawn when that differs
//   PartTable<Id> ..... the ordered list: the first part that contains a point is the one hit
//   Pointer<Id> ....... the hovered and pressed part through press, drag, release, move and leave
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gui/draw/canvas.h"
#include "gui/widget.h"

namespace tqapp {

template <class Kind>
struct PartId {
    Kind kind{};
    int32_t index = -1;

    friend bool operator==(const PartId& a, const PartId& b) { return a.kind == b.kind && a.index == b.index; }
    friend bool operator!=(const PartId& a, const PartId& b) { return !(a == b); }
};

template <class Id>
struct Part {
    Id id{};
    lumo::gui::Rect rect;
    bool enabled = true;
    bool checked = false;
    // Where the part is painted when that is not rect, e.g. the whole of a part that a viewport cuts;
    // empty: rect.
    lumo::gui::Rect drawn{};
};

inline bool partContains(const lumo::gui::Rect& r, int x, int y) {
    return x >= r.x && y >= r.y && int64_t(x) < int64_t(r.x) + r.w && int64_t(y) < int64_t(r.y) + r.h;
}

template <class Id>
class PartTable {
public:
    // add() lists a part whatever its size; addIfSeen() leaves out one narrower than one unit,
    // where nothing could be seen or hit.
    Part<Id>& add(Id id, lumo::gui::Rect rect, bool enabled = true, bool checked = false) {
        parts_.push_back({id, rect, enabled, checked});
        return parts_.back();
    }
    void addIfSeen(Id id, lumo::gui::Rect rect, bool enabled = true, bool checked = false) {
        if (rect.w >= 1) add(id, rect, enabled, checked);
    }

    const std::vector<Part<Id>>& parts() const { return parts_; }
    std::vector<Part<Id>>& parts() { return parts_; }

    // The first part that holds the point, enabled or not; null where there is none.
    const Part<Id>* at(int x, int y) const {
        for (const Part<Id>& p : parts_)
            if (partContains(p.rect, x, y)) return &p;
        return nullptr;
    }
    // The id under the point when that part takes the pointer (enabled); none otherwise.
    std::optional<Id> hit(int x, int y) const {
        const Part<Id>* p = at(x, y);
        if (!p || !p->enabled) return std::nullopt;
        return p->id;
    }
    const Part<Id>* find(const Id& id) const {
        for (const Part<Id>& p : parts_)
            if (p.id == id) return &p;
        return nullptr;
    }
    // The part's rectangle; empty when the table does not list it.
    lumo::gui::Rect rect(const Id& id) const {
        const Part<Id>* p = find(id);
        return p ? p->rect : lumo::gui::Rect{};
    }

    // Every part into the automation description, by the name its id prints as.
    template <class NameOf>
    void describe(lumo::gui::WidgetInfo& info, NameOf nameOf) const {
        for (const Part<Id>& p : parts_) info.parts.push_back({nameOf(p.id), p.rect, p.enabled, p.checked});
    }

private:
    std::vector<Part<Id>> parts_;
};

// The hovered and pressed parts of one window. Each handler answers whether what is lit changed (the
// window then repaints). During a press only the pressed part lights up, and only while the pointer
// is over it; a click is a release over the part that was pressed.
template <class Id>
class Pointer {
public:
    std::optional<Id> hover;
    std::optional<Id> pressed;

    bool isHover(const Id& id) const { return hover && *hover == id; }
    bool isPressed(const Id& id) const { return pressed && *pressed == id; }
    // Pressed and still under the pointer: drawn in its pressed state.
    bool isHeld(const Id& id) const { return isPressed(id) && isHover(id); }

    void down(std::optional<Id> under) { pressed = std::move(under); }
    bool drag(const std::optional<Id>& under) {
        const bool over = pressed && under == pressed;
        std::optional<Id> lit = over ? pressed : std::nullopt;
        if (lit == hover) return false;
        hover = std::move(lit);
        return true;
    }
    // The release: the clicked part (the pressed one, when the pointer is still over it), or none.
    // The hover is not changed here: the click may change what lies under the pointer, so the
    // window calls move() with the part found after the click.
    std::optional<Id> up(const std::optional<Id>& under) {
        std::optional<Id> was = std::move(pressed);
        pressed.reset();
        if (was && under == was) return was;
        return std::nullopt;
    }
    bool move(std::optional<Id> under) {
        if (under == hover) return false;
        hover = std::move(under);
        return true;
    }
    bool leave() { return move(std::nullopt); }
    void clear() {
        hover.reset();
        pressed.reset();
    }
};

}  // namespace tqapp
