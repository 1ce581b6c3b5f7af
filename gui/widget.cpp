#include "gui/widget.h"

#include <algorithm>
#include <cmath>

#include "gui/editor.h"

namespace lumo::gui {

Widget::~Widget() {
    while (!children.empty()) children.pop_back();  // last to first
    // The editor must not keep hover, capture, focus or drop-target pointers to freed memory.
    if (editor && Editor::isLive(editor)) editor->forgetWidget(this);
}

Widget* Widget::add(std::unique_ptr<Widget> child) {
    if (!child) return nullptr;
    Widget* raw = child.get();
    raw->parent = this;
    raw->setEditor(editor);
    children.push_back(std::move(child));
    return raw;
}

std::unique_ptr<Widget> Widget::remove(Widget* child) {
    auto it = std::find_if(children.begin(), children.end(),
                           [child](const std::unique_ptr<Widget>& c) { return c.get() == child; });
    if (it == children.end()) return nullptr;
    std::unique_ptr<Widget> out = std::move(*it);
    children.erase(it);
    out->parent = nullptr;
    return out;
}

void Widget::setEditor(Editor* e) {
    editor = e;
    for (auto& c : children) c->setEditor(e);
}

void Widget::repaint() {
    ++repaints;
    if (editor) editor->repaintAll();
}

void Widget::repaintArea() { repaintArea(Rect{0, 0, bounds.w, bounds.h}); }

void Widget::repaintArea(Rect local) {
    ++repaints;
    if (editor) editor->requestRepaintArea(editor->deviceRect(this, local));
}

void Widget::requestFrame() {
    if (editor) editor->requestFrame();
}

bool Widget::focused() const { return editor && editor->focus() == this; }

Rect Widget::absoluteBounds() const {
    Rect r = bounds;
    for (const Widget* p = parent; p; p = p->parent) {
        r.x += p->bounds.x;
        r.y += p->bounds.y;
    }
    return r;
}

Widget* Widget::hitTest(int x, int y) {
    Rect clip = childClip();
    if (clip.w > 0 && (x < clip.x || x >= clip.x + clip.w || y < clip.y || y >= clip.y + clip.h)) return nullptr;
    for (size_t i = children.size(); i-- > 0;) {
        Widget* c = children[i].get();
        if (!c->visible || !c->enabled) continue;
        const Rect& b = c->bounds;
        if (x < b.x || y < b.y || x >= b.x + b.w || y >= b.y + b.h) continue;
        if (Widget* hit = c->hitTest(x - b.x, y - b.y)) return hit;
        if (c->wantsMouse() && c->hitsAt(x - b.x, y - b.y)) return c;
    }
    return nullptr;
}

void Widget::undoStep(const std::function<void()>& f) {
    if (!editor) {
        f();
        return;
    }
    UndoHistory& history = editor->undo();
    history.begin();
    // Commits also when f throws, but not when f destroyed the editor (and its history).
    struct Close {
        UndoHistory& history;
        std::weak_ptr<bool> alive;
        ~Close() {
            if (!alive.expired()) history.commit();
        }
    } close{history, editor->aliveToken()};
    f();
}

void Label::describe(WidgetInfo& info) const { info.value = text; }

void Label::draw(const Paint& p) {
    int factor = 1;
    const Font& font = Font::forScale(p.scale, factor);
    int x = p.rect.x;
    if (align == 1) x = p.rect.x + p.rect.w - int(text.size()) * factor * font.advance;
    int y = p.rect.y + (p.rect.h - font.height * factor) / 2;
    p.canvas.drawText(x, y, text.c_str(), color, font, factor);
}

void Panel::draw(const Paint& p) {
    p.canvas.fillRect(p.rect, fill);
    int t = std::max(1, int(std::lround(p.scale)));
    p.canvas.strokeRect(p.rect, border, t);
}

void RootWidget::draw(const Paint& p) { p.canvas.fillRect(p.rect, theme()[0]); }

const std::array<Color, 9>& theme() {
    // Written as #RRGGBB; colours are stored 0xAABBGGRR.
    static constexpr auto rgb = [](uint32_t v) -> Color {
        return 0xFF000000u | ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
    };
    static const std::array<Color, 9> colors = {
        rgb(0x1E1F22), rgb(0x2B2D31), rgb(0x3D4046), rgb(0xE6E6E6), rgb(0x9AA0A6),
        rgb(0x6CC4FF), rgb(0x3A3D43), rgb(0x4B4F57), rgb(0x5A5F68),
    };
    return colors;
}

}  // namespace lumo::gui
