#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "probe.h"

using namespace lumo::gui;
using probe::Probe;

namespace {

KeyEvent keyOf(Key k) {
    KeyEvent e;
    e.key = k;
    return e;
}

KeyEvent charOf(uint32_t c, bool command = false) {
    KeyEvent e;
    e.character = c;
    e.command = command;
    return e;
}

Probe* open(Editor& e, const probe::Log& log, const std::string& id, bool chained, bool takesKeys = false) {
    auto p = std::make_unique<Probe>(log, id, Rect{0, 0, 10, 10});
    p->takesKeys = takesKeys;
    Probe* raw = p.get();
    PopupOptions o;
    o.chained = chained;
    e.openPopup(std::move(p), o);
    return raw;
}

}  // namespace

TEST(Keys, EscapeClosesAlongTheChain) {
    struct Case {
        bool bChained;
        size_t left;  // overlays open after Escape
    };
    for (Case c : {Case{true, 0}, Case{false, 1}}) {
        fakes::Host host;
        auto log = probe::newLog();
        Editor e(host, 100, 100);
        open(e, log, "A", false);
        open(e, log, "B", c.bChained);
        open(e, log, "C", true);
        EXPECT_TRUE(e.keyEvent(keyOf(Key::Escape)));
        EXPECT_EQ(e.overlays().size(), c.left);
    }
    // A key-taking overlay opened without a chain is closed alone; with none open the key goes to
    // the hook and then the focus.
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    open(e, log, "A", false);
    open(e, log, "B", false);
    e.keyEvent(keyOf(Key::Escape));
    EXPECT_EQ(e.overlays().size(), 1u);
    e.closeAllOverlays();
    Probe* f = probe::addProbe(e.root(), log, "f");
    e.setFocus(f);
    std::vector<std::string> order;
    e.keyHook = [&](const KeyEvent&) {
        order.push_back("hook");
        return false;
    };
    log->clear();
    EXPECT_FALSE(e.keyEvent(keyOf(Key::Escape)));
    EXPECT_EQ(order, (std::vector<std::string>{"hook"}));
    EXPECT_EQ(*log, (std::vector<std::string>{"f key 2:0"}));
}

TEST(Keys, RoutingThroughOverlaysFocusAndHooks) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    probe::attachPopupWindow(e);
    Probe* body = probe::addProbe(e.root(), log, "body");
    body->focusable = true;
    e.setFocus(body);

    // A keyboard-modal window that does not handle a key answers false; the body never sees it.
    auto m = std::make_unique<Probe>(log, "modal", Rect{0, 0, 10, 10});
    Probe* modal = m.get();
    PopupOptions o;
    o.window = o.keyboardModal = true;
    e.openPopup(std::move(m), o);
    log->clear();
    EXPECT_FALSE(e.keyEvent(keyOf(Key::Down)));
    EXPECT_EQ(*log, (std::vector<std::string>{"modal key 11:0"}));
    e.closePopupAlone(modal);

    // An activating window without the keyboard hides the body's focus; with it, its own focus
    // gets the key first, then the window's widget.
    auto p = std::make_unique<Probe>(log, "palette", Rect{0, 0, 10, 10});
    Probe* palette = p.get();
    Probe* field = probe::addProbe(palette, log, "field", Rect{0, 0, 5, 5});
    field->focusable = true;
    o.keyboardModal = false;
    o.activates = true;
    e.openPopup(std::move(p), o);
    e.keysFrom(e.overlays()[0].surface.get());
    log->clear();
    EXPECT_FALSE(e.keyEvent(keyOf(Key::Down)));  // the palette has the keyboard; the body's focus is hidden
    EXPECT_EQ(*log, (std::vector<std::string>{"palette key 11:0"}));
    e.setFocus(field);
    log->clear();
    e.keyEvent(keyOf(Key::Up));
    EXPECT_EQ(*log, (std::vector<std::string>{"field key 10:0", "palette key 10:0", "field key 10:0"}));
    field->shortcuts = true;
    EXPECT_TRUE(e.wantsShortcuts());
    field->takesKeys = true;
    EXPECT_TRUE(e.keyUp(keyOf(Key::Up)));
    e.closeAllOverlays();

    // Claimed keys go to the shortcut hook after the focus.
    Probe* plain = probe::addProbe(e.root(), log, "plain");
    e.setFocus(plain);
    e.clickClaimsKeys = true;
    EXPECT_FALSE(e.capturingKeys());
    e.mouseDown(5, 5, 0, false, false, false, false);
    e.mouseUp(5, 5, 0);
    EXPECT_TRUE(e.keysClaimed);
    EXPECT_TRUE(e.capturingKeys());
    int shortcuts = 0;
    e.shortcutHook = [&](const KeyEvent&) { return ++shortcuts > 0; };
    EXPECT_TRUE(e.wantsShortcuts());
    EXPECT_TRUE(e.keyEvent(charOf('s', true)));
    EXPECT_EQ(shortcuts, 1);
}

TEST(Keys, FocusMovesAsGiven) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    Probe* a = probe::addProbe(e.root(), log, "a", Rect{0, 0, 50, 50});
    Probe* b = probe::addProbe(e.root(), log, "b", Rect{50, 0, 50, 50});
    Probe* inner = probe::addProbe(b, log, "inner", Rect{0, 0, 10, 10});
    a->focusable = b->focusable = true;

    e.setFocus(a);
    e.setFocus(a);  // no second focus, no blur
    EXPECT_EQ(*log, (std::vector<std::string>{"a focus"}));
    log->clear();
    e.mouseDown(55, 5, 0, false, false, false, false);  // on inner: its focusable parent takes the focus
    EXPECT_EQ(e.focus(), b);
    EXPECT_EQ((std::vector<std::string>(log->begin(), log->begin() + 2)),
              (std::vector<std::string>{"a blur", "b focus"}));
    (void)inner;
    e.mouseUp(55, 5, 0);
    e.mouseDown(500, 500, 0, false, false, false, false);  // nothing there: focus cleared
    EXPECT_EQ(e.focus(), nullptr);
    EXPECT_FALSE(e.capturingKeys());
    e.focusTakesKeys = true;
    e.setFocus(a);
    EXPECT_TRUE(e.capturingKeys());
}

TEST(Keys, HostAndWindowDuplicatesArriveOnce) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    Probe* f = probe::addProbe(e.root(), log, "f");
    f->takesKeys = true;
    e.setFocus(f);
    auto fromWindow = [&](const KeyEvent& k) {
        return e.deliverKey(Editor::KeySource::Window, k, true, [&] { return e.keyEvent(k); });
    };

    struct Case {
        const char* what;
        KeyEvent first;
        bool firstFromHost;
        KeyEvent second;
        bool secondFromHost;
        int deliveries;
    };
    const Case cases[] = {
        {"host then window", keyOf(Key::Left), true, keyOf(Key::Left), false, 1},
        {"window then host", charOf('x'), false, charOf('x'), true, 1},
        {"letter case ignored", charOf('A'), true, charOf('a'), false, 1},
        {"same source twice", keyOf(Key::Left), true, keyOf(Key::Left), true, 2},
        {"different keys", keyOf(Key::Left), true, keyOf(Key::Right), false, 2},
        {"command differs", charOf('x', false), true, charOf('x', true), false, 2},
    };
    for (const Case& c : cases) {
        // A pair that a busy machine spread over more than the window is tried again.
        for (int attempt = 0;; ++attempt) {
            log->clear();
            double start = Editor::now();
            bool r1 = c.firstFromHost ? e.hostKeyDown(c.first) : fromWindow(c.first);
            bool r2 = c.secondFromHost ? e.hostKeyDown(c.second) : fromWindow(c.second);
            bool quick = Editor::now() - start < 0.04;
            std::this_thread::sleep_for(std::chrono::milliseconds(60));  // let the record expire
            if (!quick && attempt < 20) continue;
            EXPECT_EQ(int(log->size()), c.deliveries) << c.what;
            if (c.deliveries == 1) {
                EXPECT_EQ(r1, r2) << c.what;
            }
            break;
        }
    }

    // After the window has passed, the same key from the other source is a new key.
    log->clear();
    e.hostKeyDown(keyOf(Key::Left));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    fromWindow(keyOf(Key::Left));
    EXPECT_EQ(log->size(), 2u);
}

TEST(Keys, WhatAHostMayHandOver) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    Probe* f = probe::addProbe(e.root(), log, "f");
    e.setFocus(f);
    struct Case {
        KeyEvent key;
        std::vector<std::string> seen;
    };
    const Case cases[] = {
        {KeyEvent{}, {}},                              // empty: refused
        {charOf(9), {}},                               // tab as a character: refused
        {charOf(127), {}},                             // DEL: refused
        {keyOf(Key::Tab), {"f key 9:0"}},              // the tab key code is delivered
        {keyOf(Key::Space), {"f key 14:0", "f key 0:32"}},  // unhandled space goes on as ' '
        {charOf('s', true), {}},                       // a shortcut nobody wants
        {charOf('q'), {"f key 0:113"}},
    };
    for (const Case& c : cases) {
        log->clear();
        e.hostKeyDown(c.key);
        EXPECT_EQ(*log, c.seen);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    f->shortcuts = true;
    log->clear();
    e.hostKeyDown(charOf('s', true));
    EXPECT_EQ(*log, (std::vector<std::string>{"f key 0:115"}));
    EXPECT_FALSE(e.hostKeyUp(KeyEvent{}));
    log->clear();
    e.hostKeyUp(keyOf(Key::Left));
    EXPECT_EQ(*log, (std::vector<std::string>{"f keyup"}));
}
