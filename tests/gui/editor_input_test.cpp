#include <gtest/gtest.h>

#include "gui/draw/cursor_image.h"
#include "probe.h"

using namespace lumo::gui;
using probe::Probe;

TEST(Input, CaptureHoverAndRelease) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    e.setScale(2.0);
    Probe* a = probe::addProbe(e.root(), log, "a", Rect{10, 10, 20, 20});
    Probe* b = probe::addProbe(e.root(), log, "b", Rect{50, 10, 20, 20});
    b->takesPress = false;

    e.mouseMove(30, 30, false, false, false);  // device (30, 30) = logical (15, 15) in a
    e.mouseMove(110, 30, false, false, false);
    EXPECT_EQ(*log, (std::vector<std::string>{"a enter", "a move 5,5", "a leave", "b enter", "b move 5,5"}));
    EXPECT_EQ(e.hover(), b);

    // A press that is not taken leaves nothing captured; moves still update hover.
    log->clear();
    e.mouseDown(110, 30, 0, false, false, false, false);
    EXPECT_EQ(e.capture(), nullptr);
    e.mouseUp(110, 30, 0);  // nobody hears it
    EXPECT_EQ(*log, (std::vector<std::string>{"b down 5,5"}));

    // A captured widget gets drags far outside itself, no hover change, and the release.
    log->clear();
    e.mouseDown(30, 30, 0, false, false, false, false);
    ASSERT_EQ(e.capture(), a);
    e.mouseMove(0, 0, false, false, false);
    e.mouseMove(190, 30, false, false, false);
    EXPECT_EQ(e.hover(), b);
    e.mouseUp(190, 30, 0);
    EXPECT_EQ(e.capture(), nullptr);
    EXPECT_EQ(*log, (std::vector<std::string>{"a down 5,5", "a drag -10,-10", "a drag 85,5", "a up 85,5"}));

    // A second press while still captured releases the first capture.
    log->clear();
    e.mouseDown(30, 30, 0, false, false, false, false);
    e.mouseDown(32, 30, 0, false, false, false, false);
    EXPECT_EQ(*log, (std::vector<std::string>{"a down 5,5", "a up 6,5", "a down 6,5"}));
    e.mouseUp(32, 30, 0);
    e.mouseLeave();
    EXPECT_EQ(e.hover(), nullptr);
    EXPECT_EQ(log->back(), "b leave");
}

TEST(Input, EventFieldsTimeAndScreenPosition) {
    fakes::Host host;
    Editor e(host, 100, 100);
    probe::PopupWindow* w = probe::attachPopupWindow(e);
    w->originX = 1000;
    w->originY = 500;
    e.setScale(1.5);
    struct Grab : Widget {
        MouseEvent last;
        bool onMouseDown(const MouseEvent& ev) override {
            last = ev;
            return false;
        }
    };
    auto* g = e.root()->add(std::make_unique<Grab>());
    g->bounds = Rect{10, 10, 40, 40};
    e.setPendingEventTime(42.5);
    e.mouseDown(20, 20, 1, true, false, true, true);
    EXPECT_EQ(g->last.x, 3);  // floor(20 / 1.5) - 10
    EXPECT_FLOAT_EQ(g->last.fineX, float(20 / 1.5 - 10));
    EXPECT_EQ(g->last.screenX, 1020);
    EXPECT_EQ(g->last.screenY, 520);
    EXPECT_EQ(g->last.time, 42.5);
    EXPECT_EQ(g->last.button, 1);
    EXPECT_TRUE(g->last.shift && g->last.option && g->last.doubleClick && !g->last.command);
    e.mouseDown(20, 20, 0, false, false, false, false);
    EXPECT_GT(g->last.time, 0.0);
    EXPECT_NE(g->last.time, 42.5);  // the pending time is taken once
}

TEST(Input, WheelScrollAndMagnifyBubble) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    Probe* parent = probe::addProbe(e.root(), log, "parent", Rect{10, 10, 80, 80});
    Probe* child = probe::addProbe(parent, log, "child", Rect{10, 10, 20, 20});
    parent->takesWheel = true;

    e.mouseWheel(25, 25, 1.0f, false, false);  // the parent sees the child's local point
    EXPECT_EQ(*log, (std::vector<std::string>{"child wheel 5,5", "parent wheel 5,5"}));
    log->clear();
    ScrollEvent s;
    EXPECT_TRUE(e.scroll(25, 25, s));  // each widget sees its own local point
    MagnifyEvent m;
    EXPECT_TRUE(e.magnify(25, 25, m));
    EXPECT_EQ(*log, (std::vector<std::string>{"child scroll 5,5", "parent scroll 15,15", "child magnify 5,5",
                                              "parent magnify 15,15"}));
    parent->takesWheel = false;
    EXPECT_FALSE(e.scroll(25, 25, s));
    EXPECT_FALSE(e.scroll(95, 95, s));  // nothing there

    // A child that destroys itself in the handler ends the walk without touching it again.
    child->takesWheel = false;
    struct Suicide : Widget {
        bool onScroll(const ScrollEvent&) override {
            std::unique_ptr<Widget> self = parent->remove(this);
            return false;
        }
    };
    Widget* s2 = parent->add(std::make_unique<Suicide>());
    s2->bounds = Rect{40, 40, 10, 10};
    log->clear();
    EXPECT_FALSE(e.scroll(55, 55, s));
    EXPECT_TRUE(log->empty());
    EXPECT_EQ(parent->children.size(), 1u);
}

TEST(Input, HeaderAreaHidesTheBody) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    probe::addProbe(e.root(), log, "body", Rect{0, 0, 100, 100});
    auto header = std::make_unique<Widget>();
    Probe* button = probe::addProbe(header.get(), log, "button", Rect{0, 0, 10, 10});
    e.setHeader(std::move(header), 20);
    Point local;
    EXPECT_EQ(e.pick(50, 15, local), nullptr);  // header area, no header widget there
    EXPECT_EQ(e.pick(5, 5, local), button);
    EXPECT_EQ(e.pick(5, 25, local)->bounds.w, 100);
    EXPECT_EQ(local.y, 5);
}

TEST(Input, Cursors) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    e.setScale(2.0);
    Probe* p = probe::addProbe(e.root(), log, "p", Rect{0, 0, 50, 50});
    p->cursorShape = 4;
    EXPECT_EQ(e.cursorAt(10, 10), 4);
    EXPECT_EQ(e.cursorAt(150, 150), 0);
    e.mouseDown(10, 10, 0, false, false, false, false);
    EXPECT_EQ(e.cursorAt(150, 150), 4);  // the captured widget decides
    e.mouseUp(10, 10, 0);

    struct Custom : Widget {
        CursorImage image;
        const CursorImage* customCursor() const override { return &image; }
    };
    auto* c = e.root()->add(std::make_unique<Custom>());
    c->bounds = Rect{60, 0, 20, 20};
    double scale = 0;
    EXPECT_EQ(e.customCursorAt(130, 10, scale), nullptr);  // an image without pictures
    Bitmap bm;
    bm.w = bm.h = 2;
    bm.pixels.assign(4, 0xFFFFFFFFu);
    c->image.add(bm, 1.0);
    EXPECT_EQ(e.customCursorAt(130, 10, scale), &c->image);
    EXPECT_EQ(scale, 2.0);
    c->enabled = false;
    EXPECT_EQ(e.customCursorAt(130, 10, scale), nullptr);
}

TEST(Input, FileDragsFindTheirTarget) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    Probe* zone = probe::addProbe(e.root(), log, "zone", Rect{0, 0, 50, 50});
    Probe* inner = probe::addProbe(zone, log, "inner", Rect{10, 10, 10, 10});
    zone->acceptsDrop = true;
    std::vector<bool> told;
    e.onDrag = [&](bool over) { told.push_back(over); };
    const std::vector<std::string> paths{"/a", "/b"};

    EXPECT_TRUE(e.dragOver(15, 15, paths, false, false, false));  // up from inner to zone
    EXPECT_EQ(e.dropTarget(), zone);
    EXPECT_FALSE(e.dragOver(80, 80, paths, false, false, false));
    EXPECT_EQ(e.dropTarget(), nullptr);
    EXPECT_EQ(told, (std::vector<bool>{true, false}));
    EXPECT_EQ(*log, (std::vector<std::string>{"inner over 5,5", "zone over 15,15", "zone dragleave"}));
    (void)inner;

    log->clear();
    e.dragOver(15, 15, paths, false, false, false);
    EXPECT_TRUE(e.drop(15, 15, paths, false, false, false));
    EXPECT_EQ(*log, (std::vector<std::string>{"inner over 5,5", "zone over 15,15", "inner over 5,5",
                                              "zone over 15,15", "zone dragleave", "zone drop 2"}));
    EXPECT_EQ(e.dropTarget(), nullptr);
    EXPECT_FALSE(e.drop(80, 80, paths, false, false, false));
}
