// The job window's clock through the real editor (headless): while the window only waits, a tick
// repaints its moving figure (and the brand mark kept over it) alone, and a status line too long
// for its box only while it moves, not in its pauses; what those partial paints leave on the canvas
// is what a whole paint of the same moment gives, at every scale.
#include <gtest/gtest.h>

#include "gui/place.h"
#include "manager/windows/job_window.h"
#include "tests/manager/job_window_support.h"
#include "tests/manager/pixel_support.h"
#include "tests/manager/view_fixture.h"

using namespace testsupport;
using tqapp::JobWindow;

namespace {

class JobWindowTick : public ViewTest {
protected:
    // Frames until done() holds, false after `most`: what is waited for comes of the window's own
    // ticks, so a frame count holds on a loaded machine where seconds would not.
    bool framesUntil(const std::function<bool()>& done, int most) {
        for (int i = 0; i < most; ++i) {
            frame();
            if (done()) return true;
        }
        return false;
    }
};

// The pixels of a rectangle of the canvas, row by row.
std::vector<uint32_t> pixelsIn(const lumo::gui::Canvas& c, lumo::gui::Rect r) {
    std::vector<uint32_t> out;
    for (int y = r.y; y < r.y + r.h; ++y)
        out.insert(out.end(), c.pixels.begin() + y * c.width + r.x, c.pixels.begin() + y * c.width + r.x + r.w);
    return out;
}

TEST_F(JobWindowTick, AWaitingWindowRepaintsOnlyWhatMovesAndExactly) {
    catalog.publish(catalogText("1.0"));
    open();
    // The load and its picture fetches ended: nothing more is posted that repaints the whole window.
    ASSERT_TRUE(pumpWhile([this] { return view->model()->loading || view->model()->fetchingPictures; }));
    tqapp::Model& model = *view->model();
    tqapp::JobPlan plan;
    plan.verb = "INSTALL";
    plan.title = "SYNTH";
    const struct {
        const char* what;
        const char* waitingFor;  // the running job's words; none: the window waits for its GO
    } waits[] = {{"its figure", nullptr}, {"another copy's job", "Waiting for another copy of the manager to finish its job"}};
    // At each scale the window is dragged this far (logical units) before the ticks.
    for (const auto& [scale, moveBy] : {std::pair{1.0, 0}, {1.5, 7}, {2.0, 0}, {3.0, 5}})
        for (const auto& wait : waits) {
            SCOPED_TRACE(testing::Message() << scale << ", waiting for " << wait.what);
            editor->setScale(scale);
            model.busy = wait.waitingFor != nullptr;
            model.progressText = wait.waitingFor ? wait.waitingFor : "";
            model.jobGeneration = model.doneGeneration + 1;  // running, not ended
            view->openJob(plan, model.busy, {});
            JobWindow* w = view->openJobWindow();
            ASSERT_NE(w, nullptr);
            w->bounds.x += moveBy;
            w->bounds.y += moveBy;
            editor->repaintAll();
            // The whole paint the opening asks for, then only what moves.
            ASSERT_TRUE(framesUntil([&] { return editor->lastPaintPartial(); }, 2));
            const lumo::gui::Rect figure = editor->deviceRect(w, JobWindow::kFigure);
            const lumo::gui::Rect status = editor->deviceRect(w, {8, 228, 202, 14});
            // Until the figure has moved three times, and a long status has scrolled three steps.
            int figureSteps = 0, statusSteps = 0;
            ASSERT_TRUE(framesUntil([&] {
                const std::vector<uint32_t> before = pixelsIn(canvas, status);
                const double still = w->clock - w->statusSince;  // the status's time since it last changed
                frame();
                EXPECT_TRUE(editor->lastPaintPartial()) << "a tick repainted the whole window";
                bool statusPainted = false;
                for (const lumo::gui::Rect& r : editor->painted()) {
                    statusPainted |= lumo::gui::overlapsStrictly(r, status);
                    EXPECT_TRUE(pixeltest::inside(r, figure) || pixeltest::inside(r, status)) << str(r) << " beyond what moves";
                }
                if (statusPainted) {
                    // It scrolls after a pause of a second and a half, and each repaint moves it.
                    EXPECT_TRUE(wait.waitingFor && still + 1.0 / 30 > 1.5 - 1e-9) << "the status repainted " << still << " s after it changed";
                    EXPECT_NE(pixelsIn(canvas, status), before) << "the status repainted where it did not move";
                    ++statusSteps;
                }
                figureSteps += !editor->painted().empty();
                return figureSteps >= 3 && (statusSteps >= 3 || !wait.waitingFor);
            }, 400));
            // The same moment painted whole: not one pixel differs, in the job window or under it.
            const lumo::gui::Canvas partial = canvas;
            editor->repaintAll();
            editor->paint(canvas);
            ASSERT_FALSE(editor->lastPaintPartial());
            EXPECT_TRUE(partial.pixels == canvas.pixels);
            editor->closePopup(w);
            model.busy = false;
            frame();
        }
}

// A job window that counts how often its part table is laid out: every whole paint reads the table
// to draw the bar, the buttons and the tick boxes; a paint of what moves draws no part.
class CountingJobWindow : public JobWindow {
public:
    using JobWindow::JobWindow;
    mutable int laid = 0;

protected:
    tqapp::PartTable<tqapp::JobPartId> layParts() const override {
        ++laid;
        return JobWindow::layParts();
    }
};

// The repaint of a scrolling status line draws that row alone, not the whole window clipped to it.
TEST_F(JobWindowTick, AStatusRowRepaintDrawsNoPartOfTheWindow) {
    host = std::make_unique<ViewHost>();
    editor = std::make_unique<lumo::gui::Editor>(*host, 426, 344);
    jobtest::BareModel bare;
    bare.running("Waiting for another copy of the manager to finish its job", 0.5, false);
    auto made = std::make_unique<CountingJobWindow>(bare.model, std::weak_ptr<bool>(bare.alive), jobtest::formatPlan());
    CountingJobWindow* w = made.get();
    w->state = JobWindow::Running;
    w->generation = bare.model.doneGeneration + 1;
    w->bounds = {100, 20, JobWindow::kWidth, JobWindow::height(w->plan)};
    lumo::gui::PopupOptions options;
    options.window = true;
    editor->openPopup(std::move(made), options);
    for (const double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        editor->setScale(scale);
        editor->repaintAll();
        // Whole paints while the bar eases to its fraction.
        ASSERT_TRUE(framesUntil([&] { return editor->lastPaintPartial(); }, 100));
        const lumo::gui::Rect status = editor->deviceRect(w, {8, 228, 202, 14});
        int statusSteps = 0;
        ASSERT_TRUE(framesUntil([&] {
            const int laid = w->laid;
            frame();
            for (const lumo::gui::Rect& r : editor->painted()) statusSteps += lumo::gui::overlapsStrictly(r, status);
            EXPECT_EQ(w->laid, laid) << "a repaint of what moves drew the window's parts";
            return statusSteps >= 3;
        }, 400));
    }
    editor.reset();
}

}  // namespace
