#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "probe.h"

using namespace lumo::gui;
using probe::Probe;

namespace {

constexpr uint32_t kSentinel = 0x12345678u;
constexpr Color kRed = 0xFF0000FFu;
constexpr Color kGreen = 0xFF00FF00u;
constexpr Color kBlue = 0xFFFF0000u;

uint32_t at(const Canvas& c, int x, int y) { return c.pixels[size_t(y) * size_t(c.width) + size_t(x)]; }

bool inside(const Rect& r, int x, int y) { return x >= r.x && y >= r.y && x < r.x + r.w && y < r.y + r.h; }

std::vector<int> v(const Rect& r) { return {r.x, r.y, r.w, r.h}; }

}  // namespace

TEST(Paint, DirtyListRules) {
    fakes::Host host;
    Editor e(host, 100, 100);
    Canvas c;
    e.paint(c);  // clears the full-repaint flag

    e.requestRepaintArea(Rect{-10, -10, 20, 20});
    e.requestRepaintArea(Rect{200, 200, 5, 5});  // wholly outside
    ASSERT_EQ(e.dirtyRects().size(), 1u);
    EXPECT_EQ(v(e.dirtyRects()[0]), (std::vector<int>{0, 0, 10, 10}));

    e.requestRepaintArea(Rect{10, 0, 10, 10});  // touches the first: separate
    EXPECT_EQ(e.dirtyRects().size(), 2u);
    e.requestRepaintArea(Rect{5, 2, 10, 2});  // overlaps both: merges with the first only
    ASSERT_EQ(e.dirtyRects().size(), 2u);
    EXPECT_EQ(v(e.dirtyRects()[0]), (std::vector<int>{0, 0, 15, 10}));
    EXPECT_EQ(v(e.dirtyRects()[1]), (std::vector<int>{10, 0, 10, 10}));

    e.requestRepaintArea(Rect{50, 50, 2, 2});
    e.requestRepaintArea(Rect{60, 60, 2, 2});
    e.requestRepaintArea(Rect{90, 70, 2, 2});  // the fifth: one bounding box
    ASSERT_EQ(e.dirtyRects().size(), 1u);
    EXPECT_EQ(v(e.dirtyRects()[0]), (std::vector<int>{0, 0, 92, 72}));

    e.repaintAll();
    e.requestRepaintArea(Rect{1, 1, 1, 1});  // nothing while a full repaint is pending
    EXPECT_EQ(e.dirtyRects().size(), 1u);
}

TEST(Paint, FullPaintAtFractionalAndDoubleScale) {
    struct Case {
        double scale;
        bool exact;
        Rect parent;  // the parent's device rectangle
        Rect child;   // the child's
    };
    const Case cases[] = {
        {1.0, false, {1, 1, 20, 20}, {2, 2, 10, 10}},
        {1.5, false, {2, 2, 30, 30}, {4, 4, 15, 15}},  // each level rounds on its own
        {1.5, true, {2, 2, 30, 30}, {3, 3, 15, 15}},   // edges from the absolute position
        {2.0, false, {2, 2, 40, 40}, {4, 4, 20, 20}},
        {2.0, true, {2, 2, 40, 40}, {4, 4, 20, 20}},
        {3.0, true, {3, 3, 60, 60}, {6, 6, 30, 30}},
    };
    for (const Case& c : cases) {
        fakes::Host host;
        auto log = probe::newLog();
        Editor e(host, 40, 30);
        e.setScale(c.scale);
        e.setExactEdges(c.exact);
        Probe* parent = probe::addProbe(e.root(), log, "p", Rect{1, 1, 20, 20});
        parent->fill = kRed;
        Probe* child = probe::addProbe(parent, log, "c", Rect{1, 1, 10, 10});
        child->fill = kGreen;
        Canvas canvas;
        e.paint(canvas);
        ASSERT_EQ(canvas.width, int(std::lround(40 * c.scale)));
        ASSERT_EQ(canvas.height, int(std::lround(30 * c.scale)));
        EXPECT_FALSE(e.lastPaintPartial());
        ASSERT_EQ(e.painted().size(), 1u);
        EXPECT_EQ(v(e.painted()[0]), (std::vector<int>{0, 0, canvas.width, canvas.height}));
        const uint32_t bg = pixelOf(theme()[0]);
        for (int y = 0; y < canvas.height; ++y) {
            for (int x = 0; x < canvas.width; ++x) {
                uint32_t want = inside(c.child, x, y)    ? pixelOf(kGreen)
                                : inside(c.parent, x, y) ? pixelOf(kRed)
                                                         : bg;
                ASSERT_EQ(at(canvas, x, y), want) << c.scale << " " << c.exact << " at " << x << "," << y;
            }
        }
    }
}

TEST(Paint, PartialRepaintChangesOnlyItsDirtyRectangles) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    e.setScale(2.0);
    // A header that draws no background of its own: a dirty area there is cleared by the paint.
    auto header = std::make_unique<Widget>();
    auto title = std::make_unique<Label>();
    title->bounds = Rect{2, 2, 30, 6};
    title->text = "ab";
    Label* label = header->add(std::move(title));
    e.setHeader(std::move(header), 10);
    std::vector<Probe*> all;
    for (int i = 0; i < 5; ++i) {
        Probe* p = probe::addProbe(e.root(), log, "w" + std::to_string(i), Rect{i * 20, i * 10, 30, 30});
        p->fill = i % 2 ? kRed : kBlue;
        all.push_back(p);
    }
    Canvas canvas;
    e.paint(canvas);
    std::fill(canvas.pixels.begin(), canvas.pixels.end(), kSentinel);

    all[2]->fill = kGreen;
    all[2]->repaintArea();
    all[4]->repaintArea(Rect{0, 0, 5, 5});
    label->text = "cd";
    label->repaintArea();
    e.paint(canvas);
    ASSERT_TRUE(e.lastPaintPartial());
    ASSERT_EQ(e.painted().size(), 3u);

    Canvas reference;  // another canvas: a full paint
    e.paint(reference);
    ASSERT_FALSE(e.lastPaintPartial());
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            bool dirty = false;
            for (const Rect& r : std::vector<Rect>{Rect{80, 60, 60, 60}, Rect{160, 100, 12, 12}, Rect{4, 4, 60, 12}})
                dirty = dirty || inside(r, x, y);
            ASSERT_EQ(at(canvas, x, y), dirty ? at(reference, x, y) : kSentinel) << x << "," << y;
        }
    }
}

TEST(Paint, OpaqueCoverSkipsWhatLiesBeneath) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    Probe* below = probe::addProbe(e.root(), log, "below", Rect{0, 0, 100, 100});
    below->fill = kRed;
    Probe* cover = probe::addProbe(e.root(), log, "cover", Rect{10, 10, 80, 80});
    cover->isOpaque = true;  // claims to cover, draws nothing: what it covers is not cleared
    Probe* inner = probe::addProbe(cover, log, "inner", Rect{10, 10, 20, 20});
    inner->fill = kGreen;
    Probe* after = probe::addProbe(e.root(), log, "after", Rect{60, 60, 30, 30});
    Probe* hidden = probe::addProbe(e.root(), log, "hidden", Rect{0, 0, 100, 100});
    hidden->visible = false;
    hidden->isOpaque = true;  // an invisible widget never covers
    Canvas canvas;
    e.paint(canvas);
    std::fill(canvas.pixels.begin(), canvas.pixels.end(), kSentinel);
    int belowDraws = below->draws, coverDraws = cover->draws, innerDraws = inner->draws;

    e.requestRepaintArea(Rect{20, 20, 10, 10});
    e.paint(canvas);
    EXPECT_EQ(below->draws, belowDraws);
    EXPECT_EQ(cover->draws, coverDraws + 1);
    EXPECT_EQ(inner->draws, innerDraws + 1);
    EXPECT_EQ(after->draws, 1);  // too far away, even with the padding
    EXPECT_EQ(hidden->draws, 0);
    EXPECT_EQ(at(canvas, 20, 20), pixelOf(kGreen));
    EXPECT_EQ(at(canvas, 29, 29), pixelOf(kGreen));
    EXPECT_EQ(at(canvas, 30, 30), kSentinel);  // outside the area

    // Without a cover the area is cleared to the background first.
    e.requestRepaintArea(Rect{2, 2, 4, 4});
    cover->isOpaque = false;
    below->fill = 0;
    e.paint(canvas);
    EXPECT_EQ(at(canvas, 3, 3), pixelOf(theme()[0]));
}

TEST(Paint, PopupSurfacesAndRoundedCorners) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 100, 100);
    probe::PopupWindow* w = probe::attachPopupWindow(e);

    auto paintPopup = [&](int radius) {
        auto p = std::make_unique<Probe>(log, "popup", Rect{10, 20, 6, 6});
        p->fill = 0xFFFFFFFFu;
        PopupOptions o;
        o.cornerRadius = radius;
        e.openPopup(std::move(p), o);
        Canvas c;
        e.paint(c);
        Canvas shown = w->last->shown;
        EXPECT_EQ(w->last->at.x, 10);
        EXPECT_EQ(w->last->at.y, 20);
        e.closeAllOverlays();
        return shown;
    };
    Canvas square = paintPopup(0);
    Canvas three = paintPopup(3);
    Canvas huge = paintPopup(10);  // more than half the side: rounded with half of it
    ASSERT_EQ(square.width, 6);
    EXPECT_EQ(at(square, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(at(three, 0, 0), 0u);          // fully outside the corner circle
    EXPECT_EQ(at(three, 1, 1), 0xFFFFFFFFu);  // inside it
    EXPECT_LT(at(three, 2, 0) >> 24, 0xFFu); // on its edge: faded
    EXPECT_EQ(at(three, 5, 5), 0u);
    EXPECT_EQ(at(three, 3, 3), 0xFFFFFFFFu);
    EXPECT_EQ(huge.pixels, three.pixels);
}

TEST(Paint, ClosedOverlaysAndResizedCanvases) {
    fakes::Host host;
    auto log = probe::newLog();
    Editor e(host, 50, 40);
    int destroyed = 0;
    struct Counted : Widget {
        int* n;
        explicit Counted(int* c) : n(c) {}
        ~Counted() override { ++*n; }
    };
    e.pushOverlay(std::make_unique<Counted>(&destroyed), false);
    Canvas c;
    c.resize(10, 10);
    e.paint(c);
    EXPECT_EQ(c.width, 50);  // resized to the device size
    e.closeOverlay();
    EXPECT_EQ(destroyed, 0);  // kept until the next paint
    e.paint(c);
    EXPECT_EQ(destroyed, 1);

    // A paint with nothing dirty is a full paint; so is a paint after a size change.
    e.paint(c);
    EXPECT_FALSE(e.lastPaintPartial());
    e.requestRepaintArea(Rect{0, 0, 5, 5});
    e.setScale(2.0);
    e.paint(c);
    EXPECT_FALSE(e.lastPaintPartial());
    EXPECT_EQ(c.width, 100);
}
