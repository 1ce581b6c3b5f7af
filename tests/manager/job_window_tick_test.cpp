// The job window's clock through the real editor (headless): while the window only waits, a tick
// repaints its moving figure (and the brand mark kept over it) alone, and what that partial paint
// leaves on the canvas is what a whole paint of the same moment gives, at every scale.
#include <gtest/gtest.h>

#include "manager/windows/job_window.h"
#include "tests/manager/pixel_support.h"
#include "tests/manager/view_fixture.h"

using namespace testsupport;
using tqapp::JobWindow;

namespace {

class JobWindowTick : public ViewTest {};

TEST_F(JobWindowTick, AWaitingWindowRepaintsItsFigureAloneAndExactly) {
    catalog.publish(catalogText("1.0"));
    open();
    // The load and its picture fetches ended: nothing more is posted that repaints the whole window.
    ASSERT_TRUE(pumpWhile([this] { return view->model()->loading || view->model()->fetchingPictures; }));
    tqapp::JobPlan plan;
    plan.verb = "INSTALL";
    plan.title = "SYNTH";
    // At each scale the window is dragged this far (logical units) before the ticks.
    for (const auto& [scale, moveBy] : {std::pair{1.0, 0}, {1.5, 7}, {2.0, 0}, {3.0, 5}}) {
        SCOPED_TRACE(scale);
        editor->setScale(scale);
        view->openJob(plan, false, {});
        JobWindow* w = view->openJobWindow();
        ASSERT_NE(w, nullptr);
        w->bounds.x += moveBy;
        w->bounds.y += moveBy;
        editor->repaintAll();
        // The whole paint the opening asks for, then only the figure moves.
        ASSERT_TRUE(frameUntil([&] { return editor->lastPaintPartial(); }));
        const lumo::gui::Rect figure = editor->deviceRect(w, JobWindow::kFigure);
        for (int tick = 0; tick < 3; ++tick) {
            frame();
            ASSERT_TRUE(editor->lastPaintPartial()) << "tick " << tick << " repainted the whole window";
            for (const lumo::gui::Rect& r : editor->painted())
                EXPECT_TRUE(pixeltest::inside(r, figure)) << r.x << "," << r.y << " " << r.w << "x" << r.h << " beyond the figure";
        }
        // The same moment painted whole: not one pixel differs, in the job window or under it.
        const lumo::gui::Canvas partial = canvas;
        editor->repaintAll();
        editor->paint(canvas);
        ASSERT_FALSE(editor->lastPaintPartial());
        EXPECT_TRUE(partial.pixels == canvas.pixels);
        editor->closePopup(w);
        frame();
    }
}

}  // namespace
