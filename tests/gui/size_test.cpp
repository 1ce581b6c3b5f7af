#include <gtest/gtest.h>

#include <cmath>

#include "fakes.h"

using namespace lumo::gui;

namespace {

struct Sized : ::testing::Test {
    fakes::Host host;
    fakes::Log log = fakes::newLog();

    void withWindow(Editor& e) { e.attachWindow(std::make_unique<fakes::Window>(log)); }
};

}  // namespace

TEST_F(Sized, ScaleAndZoomAreSnappedAndClamped) {
    Editor e(host, 10, 10);
    struct Case {
        double in, scale;
    } scales[] = {{0, 1.0}, {0.05, 1.0}, {NAN, 1.0}, {1.25, 1.5}, {1.75, 2.0}, {2.5, 3.0}, {4, 3.0}, {1.5, 1.5}};
    for (const Case& c : scales) {
        e.setScale(c.in);
        EXPECT_EQ(e.scale(), c.scale) << c.in;
    }
    struct ZCase {
        double in, zoom;
    } zooms[] = {{0.3, 0.5}, {0.1, 1.0}, {5, 4.0}, {NAN, 1.0}, {1.2, 1.2}};
    for (const ZCase& c : zooms) {
        e.setZoom(c.in);
        EXPECT_EQ(e.zoom(), c.zoom) << c.in;
    }
}

TEST_F(Sized, BodyScaleTiesGoToTheLarger) {
    Editor e(host, 10, 10);
    e.setBodyScales({1.0, 2.0});
    e.setZoom(1.5);
    EXPECT_EQ(e.bodyScale(), 2.0);
    e.setZoom(1.4);
    EXPECT_EQ(e.bodyScale(), 1.0);

    e.setBodyScales({0.05, 1.0});
    EXPECT_EQ(e.bodyScales(), (std::vector<double>{1.0}));
    e.setBodyScales({});
    e.setBodyScales({0.01});
    EXPECT_EQ(e.bodyScales(), (std::vector<double>{1.0}));
    EXPECT_EQ(Editor::snapScale(10), 3.0);
    EXPECT_EQ(Editor::snapScale(0.5), 1.0);
}

TEST_F(Sized, PixelAndPointSizesWithHeader) {
    Editor e(host, 400, 300);
    e.setHeader(std::make_unique<Widget>(), 20);
    e.setScale(2.0);
    EXPECT_EQ(e.pixelWidth(), 800);
    EXPECT_EQ(e.pixelHeight(), 640);
    EXPECT_EQ(e.pointWidth(), 400);
    EXPECT_EQ(e.pointHeight(), 320);
    // The header is as wide as the body in display-scale units and never zoomed.
    e.setZoom(1.5);  // body scale 3.0
    EXPECT_EQ(e.header()->bounds.w, 600);
    EXPECT_EQ(e.pixelHeight(), 40 + 900);
    Rect r = e.headerToRoot(Rect{30, 20, 60, 10});
    EXPECT_EQ(r.x, 20);
    EXPECT_EQ(r.w, 40);
    EXPECT_EQ(r.y, 0);
    EXPECT_EQ(r.h, 7);
}

TEST_F(Sized, ResizableLimits) {
    Editor e(host, 100, 100);
    e.setResizable(0, 0, 0, 0);
    EXPECT_EQ(e.minWidth(), 1);
    EXPECT_EQ(e.minHeight(), 1);
    EXPECT_EQ(e.maxWidth(), 0);
    e.setResizable(300, 200, 100, 0);
    EXPECT_EQ(e.maxWidth(), 300);
    EXPECT_EQ(e.logicalWidth(), 300);  // clamped up to the new minimum
    EXPECT_EQ(host.session().width, 300);

    // A reopened editor gets the size the user last chose.
    host.session().width = 350;
    host.session().height = 250;
    Editor again(host, 100, 100);
    again.setResizable(300, 200, 0, 0);
    EXPECT_EQ(again.logicalWidth(), 350);
    EXPECT_EQ(again.logicalHeight(), 250);

    // Limits go to the window in points, rounded up (301 logical at 1.5 are 452 pixels).
    withWindow(again);
    again.setScale(1.5);
    log->clear();
    again.setResizable(301, 200, 401, 0);
    EXPECT_EQ(log->back(), "limits 302 200 402 0");
}

TEST_F(Sized, ResizeBodyAndTheHostsAnswer) {
    Editor fixed(host, 100, 100);
    EXPECT_FALSE(fixed.resizeBody(200, 200));
    EXPECT_EQ(fixed.logicalWidth(), 100);

    Editor e(host, 100, 100);
    e.setResizable(50, 50, 400, 400);
    int callbacks = 0;
    e.onResize = [&](int, int) { ++callbacks; };
    EXPECT_TRUE(e.resizeBody(500, 60));  // no window: nothing to ask
    EXPECT_EQ(e.logicalWidth(), 400);
    EXPECT_EQ(callbacks, 1);
    EXPECT_TRUE(e.resizeBody(400, 60));  // unchanged
    EXPECT_EQ(callbacks, 1);

    // A plug-in host that refuses leaves the editor at its old size.
    withWindow(e);
    host.agrees = false;
    EXPECT_FALSE(e.resizeBody(200, 200));
    EXPECT_EQ(e.logicalWidth(), 400);
    EXPECT_EQ(e.logicalHeight(), 60);
    EXPECT_EQ(host.session().width, 400);
    EXPECT_EQ(host.resizeRequests.back(), (std::pair<int, int>{200, 200}));
    EXPECT_LT(fakes::lastIndexOf(log, "resize 200x200"), fakes::lastIndexOf(log, "resize 400x60"));

    // A standalone host keeps every resize made while its window exists.
    host.standalone = true;
    EXPECT_TRUE(e.resizeBody(200, 200));
    EXPECT_EQ(e.logicalWidth(), 200);
}

TEST_F(Sized, AHostThatDoesNotAnswerRefusesToResize) {
    // Standalone or not, a host that does not override requestResize refuses, and the editor
    // keeps its size.
    struct Quiet : fakes::Host {
        bool requestResize(int w, int h) override { return EditorHost::requestResize(w, h); }
    };
    for (bool standalone : {false, true}) {
        Quiet quiet;
        quiet.standalone = standalone;
        EXPECT_FALSE(quiet.requestResize(200, 200));
        Editor e(quiet, 100, 100);
        e.setResizable(50, 50, 400, 400);
        withWindow(e);
        EXPECT_FALSE(e.resizeBody(200, 200)) << standalone;
        EXPECT_EQ(e.logicalWidth(), 100) << standalone;
    }
}

TEST_F(Sized, ZoomAndNotifyRollsBackWhenRefused) {
    Editor e(host, 100, 100);
    e.setZoomAndNotify(2.0);  // no window: kept without asking
    EXPECT_EQ(e.zoom(), 2.0);
    EXPECT_TRUE(host.resizeRequests.empty());

    withWindow(e);
    e.setZoomAndNotify(3.0);
    EXPECT_EQ(e.zoom(), 2.0);
    EXPECT_EQ(host.resizeRequests.back(), (std::pair<int, int>{300, 300}));
    EXPECT_EQ(log->back(), "resize 200x200");
    host.agrees = true;
    e.setZoomAndNotify(3.0);
    EXPECT_EQ(e.zoom(), 3.0);
}

TEST_F(Sized, HostSizeNegotiation) {
    Editor fixed(host, 100, 80);
    fixed.setScale(2.0);
    EXPECT_FALSE(fixed.setHostSize(500, 500));
    EXPECT_EQ(fixed.hostWidth(), 500);
    EXPECT_EQ(fixed.logicalWidth(), 100);
    int w = 999, h = 1;
    fixed.adjustHostSize(w, h);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 80);

    Editor e(host, 100, 80);
    e.setResizable(50, 50, 300, 0);
    e.setScale(1.5);
    e.setHeader(std::make_unique<Widget>(), 20);  // 30 device pixels
    w = 1000, h = 101;
    e.adjustHostSize(w, h);
    EXPECT_EQ(w, 300);  // clamped to the maximum
    EXPECT_EQ(h, 102);  // 81 logical rows are 122 pixels; with the header 152 pixels, rounded up to points
    EXPECT_TRUE(e.setHostSize(200, 101));
    EXPECT_EQ(e.logicalWidth(), 200);
    EXPECT_EQ(e.logicalHeight(), 81);
    EXPECT_EQ(host.session().height, 81);
    host.resizeRequests.clear();
    EXPECT_TRUE(e.setHostSize(200, 101));  // unchanged
    EXPECT_TRUE(host.resizeRequests.empty());  // the host is never asked back
}

TEST_F(Sized, LogicalResizeAndResetRoot) {
    Editor e(host, 100, 100);
    e.pushOverlay(std::make_unique<Widget>(), false);
    e.pushOverlay(std::make_unique<Widget>(), false);
    e.resizeLogical(100, 100);
    EXPECT_EQ(e.overlays().size(), 2u);
    e.resizeLogical(120, 90);
    EXPECT_EQ(e.overlays().size(), 1u);  // only the top one closes
    EXPECT_EQ(e.root()->bounds.w, 120);

    Widget* old = e.root()->add(std::make_unique<Widget>());
    e.setFocus(old);
    e.resetRoot(50, 40);
    EXPECT_TRUE(e.overlays().empty());
    EXPECT_EQ(e.focus(), nullptr);
    EXPECT_TRUE(e.root()->children.empty());
    EXPECT_EQ(e.root()->bounds.w, 50);
    EXPECT_EQ(e.root()->editor, &e);
    EXPECT_EQ(e.logicalHeight(), 40);
}
