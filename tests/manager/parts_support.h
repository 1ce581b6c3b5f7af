#pragma once
// The popup windows' parts by the names they go by: what the pointer finds at a point, which part is
// hovered or pressed, and a part of the current table by its name.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "gui/widget.h"
#include "manager/pixel_look/primitives.h"
#include "tests/manager/pixel_support.h"

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

// A window whose table puts the part of one name elsewhere; the rest is the window as it is.
template <class Window>
class Moved : public Window {
public:
    using Table = decltype(std::declval<const Window&>().parts());

    template <class... Args>
    Moved(std::string part, lumo::gui::Rect to, Args&&... args)
        : Window(std::forward<Args>(args)...), part_(std::move(part)), to_(to) {}

protected:
    Table layParts() const override {
        Table t = Window::layParts();
        for (auto& p : t.parts())
            if (this->partName(p.id) == part_) p.rect = to_;
        return t;
    }

private:
    std::string part_;
    lumo::gui::Rect to_;
};

inline lumo::gui::MouseEvent pointAt(int x, int y) {
    lumo::gui::MouseEvent e{};
    e.x = x;
    e.y = y;
    return e;
}

// The box around every pixel that differs between two canvases of one size; empty when none does.
inline lumo::gui::Rect changedBox(const pixeltest::Canvas& a, const pixeltest::Canvas& b) {
    int x0 = a.width, y0 = a.height, x1 = -1, y1 = -1;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            if (pixeltest::at(a, x, y) != pixeltest::at(b, x, y)) {
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
            }
    return x1 < 0 ? lumo::gui::Rect{} : lumo::gui::Rect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

// Every part of a table is hit at its last column and row (unless a part listed before it takes that
// point first), and none one unit past its right or bottom edge.
template <class Table, class NameOf>
void expectHitToTheLastUnit(const Table& table, NameOf nameOf) {
    const auto& parts = table.parts();
    for (size_t i = 0; i < parts.size(); ++i) {
        const lumo::gui::Rect r = parts[i].rect;
        if (r.w < 1 || r.h < 1) continue;
        SCOPED_TRACE(nameOf(parts[i].id));
        const int right = r.x + r.w - 1, bottom = r.y + r.h - 1;
        bool under = false;
        for (size_t k = 0; k < i; ++k) under = under || pixeltest::inside({right, bottom, 1, 1}, parts[k].rect);
        EXPECT_TRUE(under || table.at(right, bottom) == &parts[i]) << "its last column and row";
        const std::pair<int, int> past[] = {{right + 1, bottom}, {right, bottom + 1}, {right + 1, bottom + 1}, {r.x, bottom + 1},
                                            {right + 1, r.y}};
        for (const auto& [x, y] : past) EXPECT_NE(table.at(x, y), &parts[i]) << "past its edge at " << x << "," << y;
    }
}

// A part that the window's table moved from `from` to `to` is described, painted and clicked there,
// and nothing is left at its old place: the description names it with the new rectangle; the look
// that the pointer lights up changes pixels only inside the new rectangle (at scales 1 and 2); a
// press and release at the old place does nothing, one at the new place does what the part does.
template <class Window>
void expectPartFollowsTheTable(Window& w, const std::string& described, const std::string& name, lumo::gui::Rect from,
                               lumo::gui::Rect to, const std::function<bool()>& acted) {
    SCOPED_TRACE(name);
    const int oldX = from.x + 2, oldY = from.y + from.h / 2;
    ASSERT_FALSE(pixeltest::inside({oldX, oldY, 1, 1}, to)) << "the old place must lie outside the new one";

    lumo::gui::WidgetInfo info;
    w.describe(info);
    bool listed = false;
    for (const auto& part : info.parts)
        if (part.label == described) {
            listed = true;
            EXPECT_EQ(part.rect.x, to.x);
            EXPECT_EQ(part.rect.y, to.y);
            EXPECT_EQ(part.rect.w, to.w);
            EXPECT_EQ(part.rect.h, to.h);
        }
    EXPECT_TRUE(listed) << described;

    for (double s : {1.0, 2.0}) {
        SCOPED_TRACE(s);
        auto paint = [&] {
            pixeltest::Canvas c = pixeltest::paper(pixeltest::lr(w.bounds.w * s), pixeltest::lr(w.bounds.h * s));
            w.draw(pixeltest::paintOf(c, s));
            return c;
        };
        const pixeltest::Canvas idle = paint();
        w.onMouseMove(pointAt(cx(to), cy(to)));
        EXPECT_EQ(hoverName(w), name);
        const pixeltest::Canvas lit = paint();
        w.onMouseLeave();
        pixeltest::Canvas scratch = pixeltest::paper(1, 1);
        const lumo::gui::Rect face = tqapp::dev::device(pixeltest::paintOf(scratch, s), to);
        const lumo::gui::Rect changed = changedBox(idle, lit);
        EXPECT_GT(changed.w, 0) << "the lit part is drawn somewhere";
        EXPECT_TRUE(pixeltest::inside(changed, face))
            << "lit at " << changed.x << "," << changed.y << " " << changed.w << "x" << changed.h;
    }

    EXPECT_EQ(nameAt(w, oldX, oldY), "");
    w.onMouseDown(pointAt(oldX, oldY));
    w.onMouseUp(pointAt(oldX, oldY));
    EXPECT_FALSE(acted()) << "clicked at the old place";
    EXPECT_EQ(nameAt(w, cx(to), cy(to)), name);
    w.onMouseDown(pointAt(cx(to), cy(to)));
    w.onMouseUp(pointAt(cx(to), cy(to)));
    EXPECT_TRUE(acted()) << "clicked at the new place";
}

}  // namespace partstest
