#include <gtest/gtest.h>

#include "probe.h"

using namespace lumo::gui;
using probe::Probe;

namespace {

Probe* open(Editor& e, const probe::Log& log, const std::string& id, Rect b, PopupOptions o = {}) {
    auto p = std::make_unique<Probe>(log, id, b);
    Probe* raw = p.get();
    e.openPopup(std::move(p), o);
    return raw;
}

PopupOptions chained() {
    PopupOptions o;
    o.chained = true;
    return o;
}

PopupOptions windowed(bool modal = false, bool activates = false) {
    PopupOptions o;
    o.window = true;
    o.keyboardModal = modal;
    o.activates = activates;
    return o;
}

std::vector<Widget*> stack(const Editor& e) {
    std::vector<Widget*> out;
    for (const auto& o : e.overlays()) out.push_back(o.widget.get());
    return out;
}

}  // namespace

TEST(Overlays, ChainFlagsAndClosingRules) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 200, 200);

    Probe* a = open(e, log, "a", {0, 0, 10, 10}, chained());  // nothing open: not chained
    EXPECT_FALSE(e.overlays()[0].chained);
    Probe* b = open(e, log, "b", {10, 0, 10, 10}, chained());
    Probe* c = open(e, log, "c", {20, 0, 10, 10}, chained());
    e.closeOverlayAt(0);  // the new bottom loses its chain flag
    EXPECT_FALSE(e.overlays()[0].chained);
    EXPECT_EQ(stack(e), (std::vector<Widget*>{b, c}));
    e.closeOverlayChain();  // c is chained to b, b to nothing
    EXPECT_TRUE(e.overlays().empty());
    (void)a;

    // A menu with two submenus and a window above them: closePopup takes the menu and its
    // submenus and leaves the window.
    Probe* menu = open(e, log, "menu", {0, 0, 10, 10});
    open(e, log, "sub1", {10, 0, 10, 10}, chained());
    Probe* sub2 = open(e, log, "sub2", {20, 0, 10, 10}, chained());
    Probe* win = open(e, log, "win", {50, 50, 40, 40}, windowed());
    e.closePopup(menu);
    EXPECT_EQ(stack(e), (std::vector<Widget*>{win}));

    menu = open(e, log, "menu", {0, 0, 10, 10});
    open(e, log, "sub1", {10, 0, 10, 10}, chained());
    sub2 = open(e, log, "sub2", {20, 0, 10, 10}, chained());
    e.closeOverlaysAbove(menu);
    EXPECT_EQ(stack(e), (std::vector<Widget*>{win, menu}));
    e.closePopupAlone(win);
    EXPECT_EQ(stack(e), (std::vector<Widget*>{menu}));
    e.closeOverlaysAbove(sub2);  // not an overlay any more: nothing
    EXPECT_EQ(stack(e), (std::vector<Widget*>{menu}));
}

TEST(Overlays, DismissKeepsWindowsAndRaiseRespectsModalWindows) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 200, 200);
    probe::PopupWindow* w = probe::attachPopupWindow(e);

    Probe* tool = open(e, log, "tool", {0, 0, 50, 50}, windowed());
    Probe* menu = open(e, log, "menu", {60, 0, 20, 20});
    Probe* sub = open(e, log, "sub", {80, 0, 20, 20}, chained());
    Probe* dialog = open(e, log, "dialog", {0, 60, 50, 50}, windowed());
    e.dismissPopups();
    EXPECT_EQ(stack(e), (std::vector<Widget*>{tool, dialog}));
    (void)menu;
    (void)sub;

    e.raisePopup(tool);  // every overlay above is a plain window: raised
    EXPECT_EQ(stack(e), (std::vector<Widget*>{dialog, tool}));
    EXPECT_EQ(w->last->raises, 0);  // the last surface belongs to the dialog
    Probe* modal = open(e, log, "modal", {100, 100, 50, 50}, windowed(true));
    e.raisePopup(dialog);  // below a keyboard-modal window: stays
    EXPECT_EQ(stack(e), (std::vector<Widget*>{dialog, tool, modal}));
    e.raisePopup(modal);  // already on top
    EXPECT_EQ(stack(e).back(), modal);

    e.closeAllPopups();  // down to the lowest overlay with a surface: everything here
    EXPECT_TRUE(e.overlays().empty());
}

TEST(Overlays, KeyTopAndKeyWindowBookkeeping) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 200, 200);
    probe::PopupWindow* w = probe::attachPopupWindow(e);
    Probe* body = probe::addProbe(e.root(), log, "body", Rect{0, 0, 10, 10});

    Probe* menu = open(e, log, "menu", {0, 0, 20, 20});
    Probe* palette = open(e, log, "palette", {50, 50, 20, 20}, windowed(false, true));
    EXPECT_EQ(e.keyTop(), 1u);  // the activating palette does not have the keyboard
    EXPECT_TRUE(e.inKeyWindow(menu));
    EXPECT_FALSE(e.inKeyWindow(palette));
    EXPECT_TRUE(e.inKeyWindow(body));
    e.keysFrom(w->last);
    EXPECT_EQ(e.keyOverlay(), palette);
    EXPECT_EQ(e.keyTop(), 2u);
    EXPECT_TRUE(e.inKeyWindow(palette));
    EXPECT_FALSE(e.inKeyWindow(body));
    EXPECT_FALSE(e.inKeyWindow(nullptr));
    e.noteKeyWindow(menu);  // the menu does not activate: nothing has the keyboard
    EXPECT_EQ(e.keyOverlay(), nullptr);

    // Focusing a widget inside the activating overlay hands it the keyboard.
    Probe* field = probe::addProbe(palette, log, "field", Rect{0, 0, 5, 5});
    e.setFocus(field);
    EXPECT_EQ(e.keyOverlay(), palette);
    EXPECT_GE(fakes::indexOf(w->log, "takeKeyboard"), 0);
    e.closeOverlay();  // the palette: its focus is blurred and the key overlay cleared
    EXPECT_EQ(e.keyOverlay(), nullptr);
    EXPECT_EQ(e.focus(), nullptr);
    EXPECT_EQ(probe::count(log, "field blur"), 1);
}

TEST(Overlays, GeometryAreaAndMovingNativePopups) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 80);
    e.setHeader(std::make_unique<Widget>(), 10);
    e.setScale(2.0);

    // Without native popups the room is the editor's own.
    Rect body = e.popupArea(Rect{5, 5, 10, 10}, false);
    EXPECT_EQ((std::vector<int>{body.x, body.y, body.w, body.h}), (std::vector<int>{0, 0, 100, 80}));
    Rect top = e.popupArea(Rect{5, 5, 10, 10}, true);
    EXPECT_EQ((std::vector<int>{top.x, top.y, top.w, top.h}), (std::vector<int>{0, 10, 100, 80}));

    probe::PopupWindow* w = probe::attachPopupWindow(e);
    PopupOptions o;
    o.margin = 2;
    Probe* p = open(e, log, "p", {10, 10, 20, 5}, o);
    Rect r = e.popupRect(e.overlays()[0]);
    EXPECT_EQ((std::vector<int>{r.x, r.y, r.w, r.h}), (std::vector<int>{16, 36, 48, 18}));
    EXPECT_TRUE(e.overlayContains(e.overlays()[0], 20, 40));
    EXPECT_FALSE(e.overlayContains(e.overlays()[0], 19, 40));

    Canvas canvas;
    e.paint(canvas);
    ASSERT_EQ(w->last->presents, 1);
    EXPECT_EQ(w->last->at.x, 16);
    EXPECT_FALSE(e.fullRepaintPending());
    // A move of a shown popup moves its native window and needs no repaint.
    e.movePopup(p, 12, 10);
    EXPECT_EQ(w->last->at.x, 20);
    EXPECT_FALSE(e.fullRepaintPending());
    w->last->movable = false;  // a window that cannot move: repaint instead
    e.movePopup(p, 14, 10);
    EXPECT_TRUE(e.fullRepaintPending());

    std::vector<Editor::PopupInfo> info = e.popups();
    ASSERT_EQ(info.size(), 1u);
    EXPECT_TRUE(info[0].hasSurface);
    EXPECT_EQ(info[0].widget, p);
}

TEST(Overlays, PopupFrameResizesWithinTheMinimum) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 300, 300);
    PopupOptions o = windowed();
    o.frameWidth = 4;
    o.minWidth = 30;
    o.minHeight = 20;
    Probe* p = open(e, log, "p", {100, 100, 50, 40}, o);

    struct Case {
        int x, y;      // press point in the window
        int cursor;    // the frame's cursor there
        int dx, dy;    // drag
        Rect expect;   // the popup's bounds afterwards
    };
    const Case cases[] = {
        {100, 120, 4, 10, 0, {110, 100, 40, 40}},    // left edge
        {110, 100, 8, 0, -5, {110, 95, 40, 45}},     // top-left corner band
        {149, 139, 8, 5, 5, {110, 95, 45, 50}},      // bottom-right corner
        {154, 95, 12, -1, 0, {110, 95, 44, 50}},     // top-right corner
        {110, 120, 4, 100, 0, {124, 95, 30, 50}},    // left edge stops at right minus minimum
    };
    for (const Case& c : cases) {
        e.mouseMove(c.x, c.y, false, false, false);
        EXPECT_EQ(e.cursorAt(c.x, c.y), c.cursor) << c.x << "," << c.y;
        e.mouseDown(c.x, c.y, 0, false, false, false, false);
        ASSERT_EQ(e.capture(), e.overlays()[0].frame.get());
        e.mouseMove(c.x + c.dx, c.y + c.dy, false, false, false);
        e.mouseUp(c.x + c.dx, c.y + c.dy, 0);
        const Rect& b = p->bounds;
        EXPECT_EQ((std::vector<int>{b.x, b.y, b.w, b.h}),
                  (std::vector<int>{c.expect.x, c.expect.y, c.expect.w, c.expect.h}))
            << c.x << "," << c.y;
    }
    // Inside, away from the edges, the popup's own widget answers.
    Point local;
    EXPECT_EQ(e.pick(135, 120, local), p);
}

TEST(OverlayPresses, OutsideModalPassThroughAndChains) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 200, 200);
    Probe* body = probe::addProbe(e.root(), log, "body", Rect{0, 0, 200, 200});
    body->takesPress = false;

    // A menu chain: an outside press closes all of it and reaches nothing.
    open(e, log, "menu", {0, 0, 20, 20});
    open(e, log, "sub", {20, 0, 20, 20}, chained());
    e.mouseDown(150, 150, 0, false, false, false, false);
    EXPECT_TRUE(e.overlays().empty());
    EXPECT_EQ(probe::count(log, "body down 150,150"), 0);

    // A press inside the lower menu closes the submenu and reaches the menu.
    Probe* menu = open(e, log, "menu", {0, 0, 20, 20});
    open(e, log, "sub", {20, 0, 20, 20}, chained());
    e.mouseDown(5, 5, 0, false, false, false, false);
    EXPECT_EQ(stack(e), (std::vector<Widget*>{menu}));
    EXPECT_EQ(log->back(), "menu down 5,5");
    e.mouseUp(5, 5, 0);
    e.closeAllOverlays();

    // A modal window keeps the press: nothing hears it and it stays open.
    Probe* modal = open(e, log, "modal", {50, 50, 20, 20}, windowed(true));
    log->clear();
    e.mouseDown(150, 150, 0, false, false, false, false);
    EXPECT_TRUE(log->empty());
    EXPECT_EQ(stack(e), (std::vector<Widget*>{modal}));
    e.closeAllOverlays();

    // A plain window lets outside presses through and stays open.
    Probe* tool = open(e, log, "tool", {50, 50, 20, 20}, windowed());
    e.mouseDown(150, 150, 0, false, false, false, false);
    EXPECT_EQ(log->back(), "body down 150,150");
    EXPECT_EQ(stack(e), (std::vector<Widget*>{tool}));

    // An activating window takes the keys when pressed; a press in the body gives them back.
    Probe* palette = open(e, log, "palette", {100, 0, 20, 20}, windowed(false, true));
    e.mouseDown(105, 5, 0, false, false, false, false);
    e.mouseUp(105, 5, 0);
    EXPECT_EQ(e.keyOverlay(), palette);
    e.mouseDown(55, 55, 0, false, false, false, false);  // the tool window: it is raised, keys stay
    e.mouseUp(55, 55, 0);
    EXPECT_EQ(stack(e).back(), tool);
    EXPECT_EQ(e.keyOverlay(), palette);
    e.mouseDown(150, 150, 0, false, false, false, false);
    EXPECT_EQ(e.keyOverlay(), nullptr);
}

TEST(OverlayPresses, WidgetClosingItsOwnOverlayInItsPressHandler) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 200, 200);
    Probe* item = open(e, log, "item", {0, 0, 20, 20});
    item->press = [&](const MouseEvent&) {
        e.closePopup(item);
        item->tooltip = "still here";  // the widget lives on until the next paint
        return true;
    };
    e.mouseDown(5, 5, 0, false, false, false, false);
    EXPECT_TRUE(e.overlays().empty());
    EXPECT_EQ(item->tooltip, "still here");
    EXPECT_EQ(e.capture(), nullptr);  // a closed overlay's widget takes no capture
    e.mouseUp(5, 5, 0);
    EXPECT_EQ(probe::count(log, "item up 5,5"), 0);
    Canvas canvas;
    e.paint(canvas);  // destroyed here; the editor keeps no pointer to it
    e.mouseMove(5, 5, false, false, false);
    EXPECT_EQ(e.hover(), nullptr);
}

TEST(OverlayPresses, CaptureInAClosedOverlayGetsExactlyOneRelease) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 200, 200);
    Probe* knob = open(e, log, "knob", {0, 0, 20, 20});
    e.mouseDown(5, 5, 0, false, false, false, false);
    ASSERT_EQ(e.capture(), knob);
    e.closeOverlay();
    EXPECT_EQ(probe::count(log, "knob up -32768,-32768"), 1);
    e.mouseUp(5, 5, 0);
    int ups = 0;
    for (const auto& s : *log) ups += s.rfind("knob up", 0) == 0;
    EXPECT_EQ(ups, 1);
}

TEST(OverlayPresses, HandlersThatDestroyTheEditor) {
    fakes::Host host;
    auto log = probe::newLog();
    auto e = std::make_unique<Editor>(host, 200, 200);
    Probe* inBody = probe::addProbe(e->root(), log, "body", Rect{0, 0, 100, 100});
    inBody->press = [&](const MouseEvent&) {
        e.reset();
        return true;
    };
    e->mouseDown(5, 5, 0, false, false, false, false);
    EXPECT_EQ(e, nullptr);

    // A blur during the closing of an overlay that destroys the editor.
    e = std::make_unique<Editor>(host, 200, 200);
    Probe* field = open(*e, log, "field", {0, 0, 20, 20});
    field->focusable = true;
    e->mouseDown(5, 5, 0, false, false, false, false);
    ASSERT_EQ(e->focus(), field);
    field->blur = [&] { e.reset(); };
    Editor* raw = e.get();
    raw->mouseDown(150, 150, 0, false, false, false, false);  // outside: closes the overlay
    EXPECT_EQ(e, nullptr);

    // A tick or a frame handler that destroys the editor: no later widget of the walk is reached.
    struct Ender : Widget {
        std::function<void()> end;
        int* reached = nullptr;
        void tick() override { end ? end() : void(++*reached); }
        void onFrame(double) override { end ? end() : void(++*reached); }
    };
    for (bool framing : {false, true}) {
        int reached = 0;
        e = std::make_unique<Editor>(host, 200, 200);
        auto* ender = e->root()->add(std::make_unique<Ender>());
        ender->end = [&] { e.reset(); };
        for (Widget* parent : {static_cast<Widget*>(ender), static_cast<Widget*>(e->root())})
            parent->add(std::make_unique<Ender>())->reached = &reached;
        raw = e.get();
        if (framing) {
            ender->requestFrame();
            raw->frame(1.0);
        } else {
            raw->tick();
        }
        EXPECT_EQ(e, nullptr);
        EXPECT_EQ(reached, 0) << framing;
    }
}
