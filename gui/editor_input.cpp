// Mouse, wheel, scroll, magnify and file-drop dispatch: point conversion, capture, hover, presses
// against open overlays, focus on press, bubbling to ancestors, cursors and drop targets.
// Any handler may close its own overlay or destroy the editor: every later use is checked first.
#include <cmath>

#include "gui/draw/cursor_image.h"
#include "gui/editor.h"

namespace lumo::gui {

namespace {

const Widget* rootOf(const Widget* w) {
    while (w && w->parent) w = w->parent;
    return w;
}

}  // namespace

bool Editor::inLiveTree(const Widget* w) const {
    const Widget* r = rootOf(w);
    return r && (r == root_.get() || r == header_.get() || overlayOfRoot(r) >= 0);
}

// Offers an event from start up through its parents until one handler answers true. Stops quietly
// when a handler destroys the widget being walked or the editor. `by` receives the widget that
// answered, or null when it did not survive its own handler.
template <class Offer>
bool Editor::bubble(Widget* start, Offer&& offer, Widget** by) {
    std::weak_ptr<bool> alive = alive_;
    Watch cur(*this, start);
    if (by) *by = nullptr;
    while (Widget* w = cur.get()) {
        bool handled = offer(w);
        if (alive.expired()) return handled;
        if (handled) {
            if (by) *by = cur.get();
            return true;
        }
        if (!cur.get()) return false;
        cur.set(w->parent);
    }
    return false;
}

Point Editor::localFor(const Widget* w, int x, int y) const {
    auto [f, yOffset] = spaceOf(w);
    Rect a = w->absoluteBounds();
    return Point{int(std::floor(x / f)) - a.x, int(std::floor((y - yOffset) / f)) - a.y};
}

void Editor::preciseFor(const Widget* w, int x, int y, float& fx, float& fy) const {
    auto [f, yOffset] = spaceOf(w);
    Rect a = w->absoluteBounds();
    fx = float(x / f - a.x);
    fy = float((y - yOffset) / f - a.y);
}

MouseEvent Editor::makeEvent(Point local, int x, int y, int button, bool shift, bool command, bool option,
                             bool doubleClick, const Widget* w) const {
    MouseEvent e;
    e.x = local.x;
    e.y = local.y;
    e.windowX = x;
    e.windowY = y;
    int ox = 0, oy = 0;
    if (window_) window_->screenOrigin(ox, oy);
    e.screenX = x + ox;
    e.screenY = y + oy;
    if (w) {
        preciseFor(w, x, y, e.fineX, e.fineY);
    } else {
        e.fineX = float(local.x);
        e.fineY = float(local.y);
    }
    e.time = lastEventTime_ > 0.0 ? lastEventTime_ : now();
    e.button = button;
    e.shift = shift;
    e.command = command;
    e.option = option;
    e.doubleClick = doubleClick;
    return e;
}

double Editor::takeEventTime() {
    double t = pendingEventTime_ > 0.0 ? pendingEventTime_ : now();
    pendingEventTime_ = 0.0;
    return t;
}

void Editor::takePointer(int x, int y) {
    lastEventTime_ = takeEventTime();
    lastX_ = x;
    lastY_ = y;
}

void Editor::mouseDown(int x, int y, int button, bool shift, bool command, bool option, bool doubleClick) {
    CurrentScope current(*this);
    PaintScope paint(*this);
    std::weak_ptr<bool> alive = alive_;
    takePointer(x, y);

    if (Widget* c = capture_) {
        capture_ = nullptr;
        c->onMouseUp(makeEvent(localFor(c, x, y), x, y, button, shift, command, option, false, c));
        if (alive.expired()) return;
    }
    if (clickClaimsKeys) keysClaimed = true;

    if (!overlays_.empty() && !overlayContains(overlays_.back(), x, y)) {
        const Overlay& top = overlays_.back();
        if (top.window && top.keyboardModal) return;  // modal: the press is swallowed
        if (!top.window) {
            // Not a window, so it does not let outside presses through: a press inside a lower
            // overlay of its chain closes what lies above that one; any other press closes the chain.
            size_t i = overlays_.size() - 1;
            bool inChain = false;
            while (overlays_[i].chained && i > 0) {
                --i;
                if (overlayContains(overlays_[i], x, y)) {
                    inChain = true;
                    break;
                }
            }
            if (!inChain) {
                closeOverlayChain();
                return;
            }
            closeOverlaysAbove(overlays_[i].widget.get());
            if (alive.expired()) return;
        }
    }

    Point local;
    Watch target(*this, pick(x, y, local));
    if (!target.get()) {
        setFocus(nullptr);
        return;
    }
    int oi = overlayIndexOf(target.get());  // a hit on a popup frame counts as one on its overlay
    if (oi >= 0 && size_t(oi) + 1 < overlays_.size()) raiseOverlayAt(size_t(oi));
    oi = overlayIndexOf(target.get());
    if (oi >= 0) {
        if (overlays_[size_t(oi)].activates) keyOverlay_ = overlays_[size_t(oi)].widget.get();  // takes keys
    } else {
        keyOverlay_ = nullptr;
    }

    Widget* candidate = target.get();
    while (candidate && !candidate->wantsFocus()) candidate = candidate->parent;
    if (overlays_.empty() || candidate) {
        setFocus(candidate);
    } else if (focus_) {
        int fi = overlayIndexOf(focus_);
        bool keep = fi >= 0 ? !overlays_[size_t(fi)].activates || overlays_[size_t(fi)].widget.get() == keyOverlay_
                            : keyOverlay_ == nullptr;
        if (!keep) setFocus(nullptr);
    }
    if (alive.expired() || !target.get()) return;

    Widget* t = target.get();
    bool took = t->onMouseDown(makeEvent(local, x, y, button, shift, command, option, doubleClick, t));
    if (alive.expired()) return;
    // A widget that closed its own overlay (or was destroyed) in its handler takes no capture.
    if (took && target.get() && inLiveTree(t)) capture_ = t;
}

void Editor::mouseMove(int x, int y, bool shift, bool command, bool option) {
    CurrentScope current(*this);
    PaintScope paint(*this);
    std::weak_ptr<bool> alive = alive_;
    takePointer(x, y);

    if (Widget* c = capture_) {
        c->onMouseDrag(makeEvent(localFor(c, x, y), x, y, kButtonLeft, shift, command, option, false, c));
        return;
    }
    Point local;
    Watch target(*this, pick(x, y, local));
    if (target.get() != hover_) {
        if (Widget* old = hover_) {
            old->onMouseLeave();
            if (alive.expired()) return;
        }
        hover_ = target.get();
        if (hover_) {
            hover_->onMouseEnter();
            if (alive.expired()) return;
        }
    }
    if (Widget* h = hover_) h->onMouseMove(makeEvent(localFor(h, x, y), x, y, kButtonLeft, shift, command, option,
                                                     false, h));
}

void Editor::mouseUp(int x, int y, int button) {
    CurrentScope current(*this);
    PaintScope paint(*this);
    takePointer(x, y);
    Widget* c = capture_;
    if (!c) return;  // no other widget hears a release
    capture_ = nullptr;
    c->onMouseUp(makeEvent(localFor(c, x, y), x, y, button, false, false, false, false, c));
}

void Editor::mouseWheel(int x, int y, float steps, bool shift, bool command) {
    CurrentScope current(*this);
    PaintScope paint(*this);
    lastEventTime_ = takeEventTime();
    Point local;
    Widget* target = pick(x, y, local);
    if (!target) return;
    // Every widget on the way sees the target's local point.
    MouseEvent e = makeEvent(local, x, y, kButtonLeft, shift, command, false, false, nullptr);
    e.wheelSteps = steps;
    bubble(target, [&](Widget* w) { return w->onMouseWheel(e); });
}

namespace {

// A scroll or magnify event with its position fields filled for widget w.
template <class Event>
Event positioned(const Editor& editor, const Widget* w, int x, int y, const Event& e, double time) {
    Event c = e;
    Point l = editor.localFor(w, x, y);
    c.x = l.x;
    c.y = l.y;
    c.windowX = x;
    c.windowY = y;
    editor.preciseFor(w, x, y, c.fineX, c.fineY);
    if (!(c.time > 0.0)) c.time = time;
    return c;
}

}  // namespace

bool Editor::scroll(int x, int y, ScrollEvent& e) {
    CurrentScope current(*this);
    PaintScope paint(*this);
    double t = takeEventTime();
    lastEventTime_ = t;
    Point local;
    Widget* target = pick(x, y, local);
    return target && bubble(target, [&](Widget* w) { return w->onScroll(positioned(*this, w, x, y, e, t)); });
}

bool Editor::magnify(int x, int y, MagnifyEvent& e) {
    CurrentScope current(*this);
    PaintScope paint(*this);
    double t = takeEventTime();
    lastEventTime_ = t;
    Point local;
    Widget* target = pick(x, y, local);
    return target && bubble(target, [&](Widget* w) { return w->onMagnify(positioned(*this, w, x, y, e, t)); });
}

void Editor::mouseLeave() {
    CurrentScope current(*this);
    PaintScope paint(*this);
    if (Widget* h = hover_) {
        hover_ = nullptr;
        h->onMouseLeave();
    }
}

int Editor::cursorAt(int x, int y) {
    CurrentScope current(*this);
    Point local;
    Widget* w = capture_ ? capture_ : pick(x, y, local);
    return w && w->enabled ? w->cursor() : 0;
}

const CursorImage* Editor::customCursorAt(int x, int y, double& scale) {
    CurrentScope current(*this);
    Point local;
    Widget* w = capture_ ? capture_ : pick(x, y, local);
    if (!w || !w->enabled) return nullptr;
    const CursorImage* image = w->customCursor();
    if (!image || image->images.empty()) return nullptr;
    scale = spaceOf(w).first;
    return image;
}

Widget* Editor::dropTargetAt(int x, int y, const std::vector<std::string>& paths, bool shift, bool command,
                             bool option, DropEvent& event) {
    event.paths = paths;
    event.shift = shift;
    event.command = command;
    event.option = option;
    event.sourceOps = dragSourceOps_;
    event.sourceInfo = dragSourceInfo_;
    dropAnswer_ = false;
    Point local;
    Widget* target = pick(x, y, local);
    if (!target) return nullptr;
    Widget* by = nullptr;
    bubble(
        target,
        [&](Widget* w) {
            Point l = localFor(w, x, y);
            event.x = l.x;
            event.y = l.y;
            event.preferMove = false;
            return w->onDragOver(event);
        },
        &by);
    if (by) dropAnswer_ = event.preferMove;
    return by;
}

void Editor::setDropTarget(Widget* w) {
    if (w == dropTarget_) return;
    Widget* old = dropTarget_;
    dropTarget_ = w;
    fullRepaint_ = true;
    if (old) old->onDragLeave();
}

bool Editor::dragOver(int x, int y, const std::vector<std::string>& paths, bool shift, bool command, bool option) {
    CurrentScope current(*this);
    PaintScope paint(*this);
    std::weak_ptr<bool> alive = alive_;
    DropEvent event;
    Widget* t = dropTargetAt(x, y, paths, shift, command, option, event);
    if (alive.expired()) return t != nullptr;
    setDropTarget(t);
    if (alive.expired()) return t != nullptr;
    if (auto callback = onDrag) callback(t != nullptr);
    return t != nullptr;
}

void Editor::dragLeave() {
    CurrentScope current(*this);
    PaintScope paint(*this);
    std::weak_ptr<bool> alive = alive_;
    dragSourceOps_ = 7;
    dragSourceInfo_ = 0;
    setDropTarget(nullptr);
    if (alive.expired()) return;
    if (auto callback = onDrag) callback(false);
}

bool Editor::drop(int x, int y, const std::vector<std::string>& paths, bool shift, bool command, bool option) {
    CurrentScope current(*this);
    PaintScope paint(*this);
    std::weak_ptr<bool> alive = alive_;
    DropEvent event;
    Watch t(*this, dropTargetAt(x, y, paths, shift, command, option, event));
    if (alive.expired()) return false;
    if (dropTarget_) {
        setDropTarget(nullptr);
        if (alive.expired()) return false;
        if (auto callback = onDrag) callback(false);
        if (alive.expired()) return false;
    }
    bool dropped = false;
    if (Widget* w = t.get()) {
        dropped = w->onDrop(event);
        if (alive.expired()) return dropped;
        if (dropped) dropAnswer_ = event.preferMove;
    }
    dragSourceOps_ = 7;
    dragSourceInfo_ = 0;
    return dropped;
}

}  // namespace lumo::gui
