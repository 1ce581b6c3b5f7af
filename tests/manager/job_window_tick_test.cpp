// The job window's clock through the real editor (headless): while the window only waits, a tick
// repaints its moving figure alone, and what that partial paint leaves on the canvas is what a
// whole paint of the same moment gives, at every scale. And the brand mark over the figure, kept
// from one paint to the next, against filling its outline nine times as it stands.
#include <gtest/gtest.h>

#include "gui/chrome/logo.h"
#include "manager/pixel_look/primitives.h"
#include "manager/windows/job_window.h"
#include "tests/manager/job_window_support.h"
#include "tests/manager/pixel_support.h"
#include "tests/manager/view_fixture.h"

using namespace testsupport;
using tqapp::JobWindow;

namespace {

class JobWindowTick : public ViewTest {};

TEST_F(JobWindowTick, AWaitingWindowRepaintsItsFigureAloneAndExactly) {
    catalog.publish(catalogText("1.0"));
    open();
    ASSERT_TRUE(viewLoaded());
    tqapp::JobPlan plan;
    plan.verb = "INSTALL";
    plan.title = "SYNTH";
    plan.doneText = "Synth installed";
    struct Case {
        double scale;
        int moveBy;  // the window is dragged this far (logical units) before the ticks
    };
    for (const Case c : {Case{1.0, 0}, Case{1.5, 7}, Case{2.0, 0}, Case{3.0, 5}}) {
        SCOPED_TRACE(c.scale);
        editor->setScale(c.scale);
        view->openJob(plan, false, {});
        JobWindow* w = view->openJobWindow();
        ASSERT_NE(w, nullptr);
        w->bounds.x += c.moveBy;
        w->bounds.y += c.moveBy;
        editor->repaintAll();
        // What the load still posts (the rows' pictures) repaints the main window: once a tick
        // paints only a part, the window is waiting.
        ASSERT_TRUE(frameUntil([&] { return editor->lastPaintPartial(); }));
        const lumo::gui::Rect whole = editor->deviceRect(w, {0, 0, w->bounds.w, w->bounds.h});
        const lumo::gui::Rect figure = editor->deviceRect(w, JobWindow::kFigure);
        for (int tick = 0; tick < 3; ++tick) {
            frame();
            ASSERT_TRUE(editor->lastPaintPartial()) << "tick " << tick << " repainted the whole window";
            for (const lumo::gui::Rect& r : editor->painted())
                EXPECT_TRUE(r.x >= figure.x && r.y >= figure.y && r.x + r.w <= figure.x + figure.w &&
                            r.y + r.h <= figure.y + figure.h)
                    << r.x << "," << r.y << " " << r.w << "x" << r.h << " beyond the figure at " << figure.x << ","
                    << figure.y << " " << figure.w << "x" << figure.h;
        }
        // The same moment painted whole: not one pixel differs, in the job window or under it.
        const lumo::gui::Canvas partial = canvas;
        editor->repaintAll();
        editor->paint(canvas);
        ASSERT_FALSE(editor->lastPaintPartial());
        ASSERT_EQ(partial.pixels.size(), canvas.pixels.size());
        size_t differ = 0;
        for (size_t i = 0; i < canvas.pixels.size(); ++i) differ += partial.pixels[i] != canvas.pixels[i];
        EXPECT_EQ(differ, 0u) << "in the window at " << whole.x << "," << whole.y;
        editor->closePopup(w);
        frame();
    }
}

// Painted at several places and scales (the mark worked out at each anew), the rows of the brand
// mark are bit for bit the figure with the mark's outline filled eight times in the panel colour
// around it and once in its own, as the rasteriser does it.
TEST(JobWindowMark, TheKeptMarkIsTheFilledOutlineBitForBit) {
    namespace dev = tqapp::dev;
    jobtest::BareModel bare;
    std::unique_ptr<JobWindow> w = bare.window(jobtest::formatPlan());
    w->phase = 0.7;
    struct Case {
        double scale;
        int x, y;
    };
    for (const Case c : {Case{1.0, 0, 0}, Case{1.0, 3, 5}, Case{1.5, 1, 0}, Case{2.0, 7, 2}, Case{3.0, 0, 0}}) {
        SCOPED_TRACE(c.scale);
        lumo::gui::Canvas painted = pixeltest::paper(int(std::lround(230 * c.scale)) + c.x, int(std::lround(330 * c.scale)) + c.y);
        const lumo::gui::Paint p = pixeltest::paintAt(painted, c.x, c.y, JobWindow::kWidth, w->bounds.h, c.scale);
        w->draw(p);
        w->draw(p);  // the second paint with the mark as kept
        lumo::gui::Canvas expected = painted;
        const lumo::gui::Paint q = pixeltest::paintAt(expected, c.x, c.y, JobWindow::kWidth, w->bounds.h, c.scale);
        const lumo::gui::Rect figure = dev::device(q, JobWindow::kFigure);
        const lumo::gui::Rect logo = dev::device(q, lumo::gui::Rect{9, 56, 200, 36});
        const int u = dev::one(c.scale);
        w->swirl.draw(expected, figure, u, c.scale, w->phase, 0.0, false);
        expected.strokeRect(dev::device(q, lumo::gui::Rect{8, 30, 202, 102}), dev::rule, u);  // the figure's frame
        expected.clip = figure;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (dx != 0 || dy != 0)
                    lumo::gui::drawArduneLogo(expected, {logo.x + dx * u, logo.y + dy * u, logo.w, logo.h}, c.scale * 1.8, dev::bg);
        lumo::gui::drawArduneLogo(expected, logo, c.scale * 1.8, dev::cream);
        size_t differ = 0, inked = 0;
        for (int y = logo.y - u; y < logo.y + logo.h + u; ++y)
            for (int x = figure.x; x < figure.x + figure.w; ++x) {
                const size_t i = size_t(y) * size_t(painted.width) + size_t(x);
                differ += painted.pixels[i] != expected.pixels[i];
                inked += painted.pixels[i] == lumo::gui::pixelOf(dev::cream);
            }
        EXPECT_EQ(differ, 0u);
        EXPECT_GT(inked, size_t(logo.w));  // the mark is there at all
    }
}

}  // namespace
