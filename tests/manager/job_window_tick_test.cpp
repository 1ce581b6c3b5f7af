// The job window's clock through the real editor (headless): while the window only waits, a tick
// repaints its moving figure alone, and what that partial paint leaves on the canvas is what a
// whole paint of the same moment gives, at every scale.
#include <gtest/gtest.h>

#include "manager/windows/job_window.h"
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

}  // namespace
