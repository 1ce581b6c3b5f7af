// Keyboard routing: the effective focus, keys offered to the key-taking overlay, the hooks and the
// focus, Escape closing overlays, keys handed over by a host, and the de-duplication of a key that
// arrives from both the host and the window.
#include "gui/editor.h"

namespace lumo::gui {

namespace {

constexpr double kDuplicateWindow = 0.05;  // seconds

const Widget* rootOf(const Widget* w) {
    while (w && w->parent) w = w->parent;
    return w;
}

}  // namespace

Widget* Editor::effectiveFocus() const {
    if (!focus_) return nullptr;
    int i = overlayIndexOf(focus_);
    if (i >= 0) {
        const Overlay& o = overlays_[size_t(i)];
        if (o.activates && o.widget.get() != keyOverlay_) return nullptr;
    } else if (keyOverlay_) {
        return nullptr;  // an overlay has the keyboard
    }
    return focus_;
}

bool Editor::keyEvent(const KeyEvent& e) {
    CurrentScope current(*this);
    PaintScope paint(*this);
    std::weak_ptr<bool> alive = alive_;
    Widget* F = effectiveFocus();

    if (size_t n = keyTop()) {
        size_t k = n - 1;
        Widget* K = overlays_[k].widget.get();
        // A handler may close overlays or destroy the editor; the key then counts as handled.
        auto changed = [&] { return alive.expired() || keyTop() != n || overlays_[k].widget.get() != K; };
        if (F && rootOf(F) == K && F->onKey(e)) return true;
        if (changed()) return true;
        if (K->onKey(e)) return true;
        if (changed()) return true;
        if (e.key == Key::Escape) {
            for (;;) {
                bool chained = overlays_[k].chained;
                closeOverlayAt(k);
                if (alive.expired() || !chained || k == 0 || k - 1 >= overlays_.size()) break;
                --k;
            }
            return true;
        }
        if (overlays_[k].keyboardModal) return false;
    }

    if (keyHook) {
        auto hook = keyHook;  // the hook may replace itself or destroy the editor
        if (hook(e)) return true;
        if (alive.expired()) return false;
    }
    // Looked up again: the hook may have moved or destroyed the focus.
    F = effectiveFocus();
    if (F && F->onKey(e)) return true;
    if (alive.expired()) return false;
    if (clickClaimsKeys && keysClaimed && shortcutHook) {
        auto hook = shortcutHook;
        return hook(e);
    }
    return false;
}

bool Editor::keyUp(const KeyEvent& e) {
    CurrentScope current(*this);
    PaintScope paint(*this);
    std::weak_ptr<bool> alive = alive_;
    if (overlays_.empty()) return focus_ && focus_->onKeyUp(e);

    size_t n = keyTop();
    Widget* K = n ? overlays_[n - 1].widget.get() : nullptr;
    Widget* T = overlays_.back().widget.get();
    // Offers the release to the focus inside an overlay widget, then to that widget.
    auto offer = [&](Widget* top) {
        if (focus_ && rootOf(focus_) == top && focus_->onKeyUp(e)) return true;
        if (alive.expired() || overlayOfRoot(top) < 0) return false;
        return top->onKeyUp(e);
    };
    if (K && offer(K)) return true;
    if (alive.expired()) return false;
    if (T && T != K && overlayOfRoot(T) >= 0 && offer(T)) return true;
    if (alive.expired()) return false;
    return focus_ && focus_->onKeyUp(e);
}

bool Editor::wantsShortcuts() const {
    if (size_t n = keyTop(); n && overlays_[n - 1].widget->wantsShortcuts()) return true;
    if (clickClaimsKeys && keysClaimed && shortcutHook) return true;
    Widget* F = effectiveFocus();
    return F && F->wantsShortcuts();
}

bool Editor::capturingKeys() const {
    if (clickClaimsKeys && keysClaimed) return true;
    if (!focus_) return false;
    return focusTakesKeys || focus_->takingText();
}

bool Editor::deliverKey(KeySource source, const KeyEvent& e, bool press, const std::function<bool()>& handler) {
    uint32_t ch = 0;
    if (e.key == Key::None) {
        ch = e.character;
        if (ch >= 'A' && ch <= 'Z') ch += 'a' - 'A';
    }
    KeyRecord& rec = press ? keyDownRecord_ : keyUpRecord_;
    if (rec.valid && rec.source != source && rec.key == e.key && rec.character == ch && rec.command == e.command &&
        now() - rec.time < kDuplicateWindow) {
        rec.valid = false;
        return rec.result;  // the second arrival of the same key
    }
    std::weak_ptr<bool> alive = alive_;
    bool result = handler();
    if (alive.expired()) return result;  // the handler destroyed the editor: no record to keep
    KeyRecord& after = press ? keyDownRecord_ : keyUpRecord_;
    after = KeyRecord{true, source, e.key, ch, e.command, press, result, now()};
    return result;
}

bool Editor::hostKeyDown(const KeyEvent& e) {
    if (e.key == Key::None && e.character == 0) return false;
    return deliverKey(KeySource::Host, e, true, [this, e] {
        KeyEvent c = e;
        if (c.key != Key::None && c.key != Key::Space) return keyEvent(c);
        if (c.key == Key::Space) {
            std::weak_ptr<bool> alive = alive_;
            if (keyEvent(c)) return true;
            if (alive.expired()) return false;
            c.key = Key::None;  // goes on as the character ' '
            c.character = ' ';
        }
        if (c.command) return wantsShortcuts() ? keyEvent(c) : false;
        if (c.character < 32 || c.character == 127) return false;
        return keyEvent(c);
    });
}

bool Editor::hostKeyUp(const KeyEvent& e) {
    if (e.key == Key::None && e.character == 0) return false;
    return deliverKey(KeySource::Host, e, false, [this, e] { return keyUp(e); });
}

}  // namespace lumo::gui
