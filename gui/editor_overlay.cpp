// The overlay stack as far as the editor's lifetime needs it: pushing, closing (closed widgets are
// retired and destroyed later, so a handler may close its own overlay), and the widget lookup
// under a window point.
#include <algorithm>
#include <cmath>

#include "gui/editor.h"

namespace lumo::gui {

namespace {

const Widget* rootOf(const Widget* w) {
    while (w && w->parent) w = w->parent;
    return w;
}

int floorDiv(double v) { return int(std::floor(v)); }

}  // namespace

int Editor::overlayOfRoot(const Widget* root) const {
    if (!root) return -1;
    for (size_t i = 0; i < overlays_.size(); ++i)
        if (overlays_[i].widget.get() == root || overlays_[i].frame.get() == root) return int(i);
    return -1;
}

int Editor::overlayIndexOf(const Widget* w) const { return overlayOfRoot(rootOf(w)); }

void Editor::openPopup(std::unique_ptr<Widget> w, const PopupOptions& o) {
    if (!w) return;
    w->setEditor(this);
    Overlay ov;
    ov.unzoomed = o.unzoomed;
    ov.chained = o.chained && !overlays_.empty();
    ov.margin = std::max(0, o.margin);
    ov.fullCanvas = ov.margin > 0 && o.fullCanvas;
    ov.window = o.window;
    ov.keyboardModal = o.window && o.keyboardModal;
    ov.activates = o.window && o.activates;
    ov.floating = o.window && o.floating;
    ov.cornerRadius = std::max(0, o.cornerRadius);
    if (window_) {
        ov.surface = window_->createPopup();
        if (ov.surface && o.cornerStyle != 0) ov.surface->setCorners(o.cornerStyle);
        if (ov.surface && ov.activates) ov.surface->setActivates(true);
    }
    if (o.window && o.frameWidth > 0) {
        auto frame = std::make_unique<PopupFrame>();
        frame->target = w.get();
        frame->unzoomed = o.unzoomed;
        frame->minW = std::max(1, o.minWidth);
        frame->minH = std::max(1, o.minHeight);
        frame->bounds = Rect{0, 0, o.frameWidth, 0};
        frame->editor = this;
        ov.frame = std::move(frame);
    }
    ov.widget = std::move(w);
    overlays_.push_back(std::move(ov));
    fullRepaint_ = true;
}

void Editor::pushOverlay(std::unique_ptr<Widget> w, bool unzoomed) {
    if (!w) return;
    w->setEditor(this);
    Overlay o;
    o.widget = std::move(w);
    o.unzoomed = unzoomed;
    overlays_.push_back(std::move(o));
    fullRepaint_ = true;
}

void Editor::closeOverlay() {
    if (!overlays_.empty()) closeOverlayAt(overlays_.size() - 1);
}

void Editor::closeAllOverlays() { closeFrom(0); }

void Editor::setOverlay(std::unique_ptr<Widget> w, bool unzoomed) {
    std::weak_ptr<bool> alive = alive_;
    closeAllOverlays();
    if (!alive.expired()) pushOverlay(std::move(w), unzoomed);
}

void Editor::closeOverlayAt(size_t index) {
    if (index >= overlays_.size()) return;
    std::weak_ptr<bool> alive = alive_;
    Widget* W = overlays_[index].widget.get();
    Widget* P = overlays_[index].frame.get();
    auto inside = [&](const Widget* w) { return w && (w == P || rootOf(w) == W); };

    // Each handler below may close overlays or destroy the editor: check before going on.
    if (inside(hover_)) {
        Widget* h = hover_;
        hover_ = nullptr;
        h->onMouseLeave();
        if (alive.expired()) return;
    }
    if (inside(dropTarget_)) {
        Widget* d = dropTarget_;
        dropTarget_ = nullptr;
        d->onDragLeave();
        if (alive.expired()) return;
    }
    if (keyOverlay_ == W) keyOverlay_ = nullptr;
    if (inside(focus_)) {
        Widget* f = focus_;
        focus_ = nullptr;
        blurring_ = true;
        f->onBlur();
        if (alive.expired()) return;
        blurring_ = false;
    }
    // Taken after the handlers above, which may have released or destroyed it.
    Widget* captured = inside(capture_) ? capture_ : nullptr;
    if (captured) capture_ = nullptr;

    // The handlers may have changed the stack: find the overlay again.
    int i = overlayOfRoot(W);
    if (i >= 0) {
        Overlay& o = overlays_[size_t(i)];
        retired_.push_back(std::move(o.widget));
        if (o.frame) retired_.push_back(std::move(o.frame));
        if (o.surface) {
            o.surface->hide();
            retiringSurfaces_.push_back(std::move(o.surface));
        }
        overlays_.erase(overlays_.begin() + i);
        if (i == 0 && !overlays_.empty()) overlays_[0].chained = false;
        fullRepaint_ = true;
    }
    if (captured) captured->onMouseUp(cancelEvent());
}

void Editor::closeOverlayChain() {
    if (!overlays_.empty()) closeOverlayChainAt(overlays_.size() - 1);
}

void Editor::closeOverlayChainAt(size_t index) {
    std::weak_ptr<bool> alive = alive_;
    while (index < overlays_.size()) {
        bool chained = overlays_[index].chained;
        closeOverlayAt(index);
        if (alive.expired() || !chained || index == 0) return;
        --index;
    }
}

void Editor::closeWidgets(const std::vector<const Widget*>& widgets) {
    std::weak_ptr<bool> alive = alive_;
    for (const Widget* w : widgets) {
        int i = overlayOfRoot(w);  // looked up afresh: handlers may have moved the stack
        if (i >= 0) closeOverlayAt(size_t(i));
        if (alive.expired()) return;
    }
}

void Editor::closeOverlaysAbove(const Widget* w) {
    int i = overlayIndexOf(w);
    if (i < 0) return;
    std::vector<const Widget*> above;
    for (size_t j = overlays_.size(); j-- > size_t(i) + 1;) above.push_back(overlays_[j].widget.get());
    closeWidgets(above);
}

void Editor::closePopup(const Widget* w) {
    int i = overlayIndexOf(w);
    if (i < 0) return;
    size_t end = size_t(i) + 1;
    while (end < overlays_.size() && !overlays_[end].window) ++end;
    std::vector<const Widget*> list;
    for (size_t j = end; j-- > size_t(i);) list.push_back(overlays_[j].widget.get());
    closeWidgets(list);
}

void Editor::closePopupAlone(const Widget* w) {
    int i = overlayIndexOf(w);
    if (i >= 0) closeOverlayAt(size_t(i));
}

void Editor::closeFrom(size_t lowest) {
    std::weak_ptr<bool> alive = alive_;
    while (overlays_.size() > lowest) {
        size_t before = overlays_.size();
        closeOverlayAt(overlays_.size() - 1);
        if (alive.expired()) return;
        if (overlays_.size() >= before) break;  // a handler reopened one: stop rather than loop
    }
}

void Editor::closeAllPopups() {
    std::weak_ptr<bool> alive = alive_;
    for (size_t i = 0; i < overlays_.size(); ++i) {
        if (overlays_[i].surface) {
            closeFrom(i);
            break;
        }
    }
    if (alive.expired()) return;
    for (auto& s : retiringSurfaces_) s->hide();
}

void Editor::dismissPopups() {
    size_t lowest = overlays_.size();
    for (size_t i = 0; i < overlays_.size(); ++i) {
        if (overlays_[i].surface && !overlays_[i].window) {
            lowest = i;
            break;
        }
    }
    std::vector<const Widget*> list;
    for (size_t j = overlays_.size(); j-- > lowest;)
        if (!overlays_[j].window) list.push_back(overlays_[j].widget.get());
    closeWidgets(list);
}

bool Editor::hostMoved(bool noMove) {
    std::weak_ptr<bool> alive = alive_;
    dismissPopups();
    if (alive.expired()) return false;
    for (auto& s : retiringSurfaces_) s->hide();
    if (noMove || !window_) return false;
    bool any = false;
    for (Overlay& o : overlays_) {
        if (!o.surface || o.presented.w == -1 || o.floating) continue;
        any = true;
        Rect r = popupRect(o);
        if (r.w == o.presented.w && r.h == o.presented.h && o.surface->moveTo(r.x, r.y)) o.presented = r;
    }
    return any;
}

void Editor::raisePopup(const Widget* w) {
    for (size_t i = 0; i < overlays_.size(); ++i) {
        if (overlays_[i].widget.get() == w) {
            raiseOverlayAt(i);
            return;
        }
    }
}

void Editor::raiseOverlayAt(size_t index) {
    if (index + 1 >= overlays_.size() || !overlays_[index].window) return;
    for (size_t j = index + 1; j < overlays_.size(); ++j)
        if (!overlays_[j].window || overlays_[j].keyboardModal) return;
    Overlay o = std::move(overlays_[index]);
    overlays_.erase(overlays_.begin() + long(index));
    o.chained = false;
    if (o.surface) o.surface->raise();
    overlays_.push_back(std::move(o));
    fullRepaint_ = true;
}

void Editor::movePopup(Widget* w, int x, int y) {
    if (!w || (w->bounds.x == x && w->bounds.y == y)) return;
    w->bounds.x = x;
    w->bounds.y = y;
    auto find = [&]() -> Overlay* {
        for (Overlay& o : overlays_)
            if (o.widget.get() == w) return &o;
        return nullptr;
    };
    Overlay* o = find();
    if (o && o->surface && o->presented.w != -1 && !(o->floating && !o->originRecorded)) {
        movePopupWindows();
        Rect r = popupRect(*o);
        if (o->presented.x == r.x && o->presented.y == r.y) return;
    }
    fullRepaint_ = true;
}

void Editor::movePopupWindows() {
    if (!window_) return;
    int ox = 0, oy = 0;
    window_->screenOrigin(ox, oy);
    for (Overlay& o : overlays_) {
        if (!o.surface || o.presented.w == -1) continue;
        if (o.floating && o.originRecorded && (ox != o.originX || oy != o.originY)) continue;
        Rect r = popupRect(o);
        if (r.w != o.presented.w || r.h != o.presented.h) continue;  // a size change needs a repaint
        if ((r.x != o.presented.x || r.y != o.presented.y) && o.surface->moveTo(r.x, r.y)) o.presented = r;
    }
}

std::vector<Editor::PopupInfo> Editor::popups() const {
    std::vector<PopupInfo> out;
    for (const Overlay& o : overlays_)
        out.push_back(PopupInfo{o.widget.get(), o.window, o.keyboardModal, bool(o.surface), popupRect(o)});
    return out;
}

void Editor::noteKeyWindow(const Widget* w) {
    int i = overlayIndexOf(w);
    keyOverlay_ = i >= 0 && overlays_[size_t(i)].activates ? overlays_[size_t(i)].widget.get() : nullptr;
}

void Editor::keysFrom(const PopupSurface* surface) {
    keyOverlay_ = nullptr;
    if (!surface) return;
    for (Overlay& o : overlays_)
        if (o.activates && o.surface.get() == surface) keyOverlay_ = o.widget.get();
}

bool Editor::inKeyWindow(const Widget* w) const {
    if (!w) return false;
    int i = overlayIndexOf(w);
    if (i < 0) return keyOverlay_ == nullptr;
    const Overlay& o = overlays_[size_t(i)];
    return !o.activates || o.widget.get() == keyOverlay_;
}

size_t Editor::keyTop() const {
    if (overlays_.empty()) return 0;
    if (overlays_.back().keyboardModal) return overlays_.size();
    for (size_t i = overlays_.size(); i-- > 0;) {
        const Overlay& o = overlays_[i];
        if (!(o.activates && o.widget.get() != keyOverlay_)) return i + 1;
    }
    return 0;
}

Rect Editor::popupRect(const Overlay& o) const {
    double s = o.unzoomed ? scale_ : bodyScale();
    int hy = o.unzoomed ? 0 : headerPixelHeight();
    const Rect& b = o.widget->bounds;
    int m = o.margin;
    auto r = [](double v) { return int(std::lround(v)); };
    int x0 = r((b.x - m) * s), y0 = r((b.y - m) * s);
    int x1 = r((b.x - m + b.w + 2 * m) * s), y1 = r((b.y - m + b.h + 2 * m) * s);
    return Rect{x0, y0 + hy, x1 - x0, y1 - y0};
}

bool Editor::overlayContains(const Overlay& o, int x, int y) const {
    double s = o.unzoomed ? scale_ : bodyScale();
    int hy = o.unzoomed ? 0 : headerPixelHeight();
    int lx = floorDiv(x / s), ly = floorDiv((y - hy) / s);
    const Rect& b = o.widget->bounds;
    return lx >= b.x && lx < b.x + b.w && ly >= b.y && ly < b.y + b.h;
}

Rect Editor::popupArea(Rect anchor, bool unzoomed) const {
    double s = unzoomed ? scale_ : bodyScale();
    int hy = unzoomed ? 0 : headerPixelHeight();
    if (window_ && window_->hasPopups()) {
        int cx = int(std::lround((anchor.x + anchor.w * 0.5) * s));
        int cy = int(std::lround((anchor.y + anchor.h * 0.5) * s)) + hy;
        Rect area;
        if (window_->workArea(cx, cy, area)) {
            int x0 = int(std::ceil(area.x / s - 1e-9)), y0 = int(std::ceil((area.y - hy) / s - 1e-9));
            int x1 = int(std::floor((area.x + area.w) / s + 1e-9));
            int y1 = int(std::floor((area.y + area.h - hy) / s + 1e-9));
            return Rect{x0, y0, x1 - x0, y1 - y0};
        }
    }
    if (!unzoomed) return Rect{0, 0, width_, height_};
    int bodyW = int(std::lround(bodyScale() * width_)), bodyH = int(std::lround(bodyScale() * height_));
    return Rect{0, headerHeight_, int(std::lround(bodyW / scale_)),
                int(std::lround((bodyH + headerPixelHeight()) / scale_)) - headerHeight_};
}

// ---- the resize frame around a window overlay

bool Editor::PopupFrame::onMouseDown(const MouseEvent& e) {
    if (e.button != kButtonLeft || !target) return false;
    pressX = e.screenX;
    pressY = e.screenY;
    pressBounds = target->bounds;
    return true;
}

void Editor::PopupFrame::onMouseDrag(const MouseEvent& e) {
    if (!target || !editor) return;
    double s = std::max(0.1, unzoomed ? editor->scale() : editor->bodyScale());
    int dx = int(std::lround((e.screenX - pressX) / s)), dy = int(std::lround((e.screenY - pressY) / s));
    const Rect& b = pressBounds;
    int x = b.x, y = b.y, r = b.x + b.w, bottom = b.y + b.h;
    if (edges & 1) x = std::min(r - minW, b.x + dx);
    if (edges & 2) y = std::min(bottom - minH, b.y + dy);
    if (edges & 4) r = std::max(x + minW, b.x + b.w + dx);
    if (edges & 8) bottom = std::max(y + minH, b.y + b.h + dy);
    Rect n{x, y, r - x, bottom - y};
    const Rect& cur = target->bounds;
    if (n.x == cur.x && n.y == cur.y && n.w == cur.w && n.h == cur.h) return;
    target->bounds = n;
    target->onBoundsChanged();
    target->repaint();
}

int Editor::PopupFrame::cursor() const {
    const int l = edges & 1, t = edges & 2, r = edges & 4, b = edges & 8;
    if ((l && t) || (r && b)) return 8;
    if ((t && r) || (l && b)) return 12;
    if (l || r) return 4;
    return 3;
}

void Editor::retireSurfaces() {
    while (!retiringSurfaces_.empty()) retiringSurfaces_.pop_back();
}

void Editor::destroyRetired() {
    while (!retired_.empty()) {
        std::unique_ptr<Widget> w = std::move(retired_.back());
        retired_.pop_back();
    }
}

Widget* Editor::pick(int x, int y, Point& local) {
    double body = bodyScale();
    int hp = headerPixelHeight();
    Widget* found = nullptr;
    bool searched = false;

    for (size_t i = overlays_.size(); i-- > 0 && !searched;) {
        Overlay& o = overlays_[i];
        Widget* w = o.widget.get();
        double s = o.unzoomed ? scale_ : body;
        int hy = o.unzoomed ? 0 : hp;
        int lx = floorDiv(x / s), ly = floorDiv((y - hy) / s);
        const Rect& b = w->bounds;
        if (lx < b.x || ly < b.y || lx >= b.x + b.w || ly >= b.y + b.h) continue;
        searched = true;
        if (o.frame && w->visible) {
            int f = o.frame->bounds.w;
            int rx = lx - b.x, ry = ly - b.y;
            bool topBand = ry < f, bottomBand = ry >= b.h - f;
            bool leftBand = rx < f, rightBand = rx >= b.w - f;
            int edges = 0;
            if (rx < f || (rx < 2 * f && (topBand || bottomBand))) edges |= 1;
            if (rx >= b.w - f || (rx >= b.w - 2 * f && (topBand || bottomBand))) edges |= 4;
            if (ry < f || (ry < 2 * f && (leftBand || rightBand))) edges |= 2;
            if (ry >= b.h - f || (ry >= b.h - 2 * f && (leftBand || rightBand))) edges |= 8;
            if (edges) {
                if (capture_ != o.frame.get()) o.frame->edges = edges;
                found = o.frame.get();
                break;
            }
        }
        found = w->hitTest(lx - b.x, ly - b.y);
        if (!found) found = w;
    }
    if (!searched) {
        if (header_ && y < hp)
            found = header_->hitTest(floorDiv(x / scale_), floorDiv(y / scale_));
        else
            found = root_->hitTest(floorDiv(x / body), floorDiv((y - hp) / body));
    }
    if (found) {
        auto [f, yOffset] = spaceOf(found);
        Rect a = found->absoluteBounds();
        local = Point{floorDiv(x / f) - a.x, floorDiv((y - yOffset) / f) - a.y};
    }
    return found;
}

}  // namespace lumo::gui
