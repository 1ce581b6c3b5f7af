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

void Editor::closeAllOverlays() {
    while (!overlays_.empty()) closeOverlayAt(overlays_.size() - 1);
}

void Editor::closeOverlayAt(size_t index) {
    if (index >= overlays_.size()) return;
    Widget* W = overlays_[index].widget.get();
    Widget* P = overlays_[index].frame.get();
    auto inside = [&](const Widget* w) { return w && (w == P || rootOf(w) == W); };

    if (inside(hover_)) {
        Widget* h = hover_;
        hover_ = nullptr;
        h->onMouseLeave();
    }
    if (inside(dropTarget_)) {
        Widget* d = dropTarget_;
        dropTarget_ = nullptr;
        d->onDragLeave();
    }
    if (keyOverlay_ == W) keyOverlay_ = nullptr;
    if (inside(focus_)) {
        Widget* f = focus_;
        focus_ = nullptr;
        blurring_ = true;
        f->onBlur();
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

void Editor::closeFrom(size_t lowest) {
    while (overlays_.size() > lowest) {
        size_t before = overlays_.size();
        closeOverlayAt(overlays_.size() - 1);
        if (overlays_.size() >= before) break;  // a handler reopened one: stop rather than loop
    }
}

void Editor::closeAllPopups() {
    for (size_t i = 0; i < overlays_.size(); ++i) {
        if (overlays_[i].surface) {
            closeFrom(i);
            break;
        }
    }
    for (auto& s : retiringSurfaces_) s->hide();
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
