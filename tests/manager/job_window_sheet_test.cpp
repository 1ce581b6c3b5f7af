// The job window in each of its states, painted side by side at scales 1, 1.2 (the skin look's zoom), 1.5, 2 and 3, one sheet a
// scale written next to the test program for a person to look at; the assertions read the painted pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "manager/pixel_look/primitives.h"
#include "tests/manager/job_window_support.h"
#include "tests/manager/pixel_support.h"

using namespace pixeltest;
using jobtest::BareModel;
using tqapp::JobWindow;
namespace dev = tqapp::dev;
using lumo::gui::Paint;
using lumo::gui::pixelOf;

namespace {

struct Frame {
    std::string name;
    std::unique_ptr<JobWindow> window;
};

// Every state worth seeing, each window set up as the model and its clock would leave it.
std::vector<Frame> frames(BareModel& bare) {
    std::vector<Frame> out;
    auto add = [&](std::string name, tqapp::JobPlan plan) -> JobWindow& {
        out.push_back({std::move(name), bare.window(std::move(plan))});
        return *out.back().window;
    };
    JobWindow& confirm = add("confirm", jobtest::formatPlan());
    confirm.plan.choices[1].on = false;
    confirm.pointer.hover = tqapp::jobChoice(1);
    confirm.phase = 0.4;

    tqapp::JobPlan many = jobtest::formatPlan("UPDATE");
    many.choices.push_back({"au", "AU", true, "", ""});
    many.choices.push_back({"studio", "STUDIO", true, "", "Studio"});
    many.choices.push_back({"tuner", "TUNER", false, "", "Tuner"});
    add("confirm-many", many);

    JobWindow& data = add("confirm-data", jobtest::dataPlan());
    data.plan.deleteData = true;
    data.phase = 1.3;

    tqapp::JobPlan install;
    install.verb = "INSTALL";
    install.title = "ARDUNE SYSTEMS MANAGER 0.3.0";
    install.selfInstall = true;
    install.choices = {{"startmenu", "START MENU", true, "", ""}, {"desktop", "DESKTOP", false, "", ""}};
    install.scope = tqm::Scope::System;
    add("self-install", install).pointer.hover = tqapp::jobScope(tqm::Scope::User);

    const struct {
        const char* name;
        double progress;
        double phase;
    } running[] = {{"starting", 0.0, 2.0}, {"downloading", 0.17, 3.1}, {"downloading-late", 0.61, 4.4}, {"installing", 0.67, 5.2},
                   {"waiting", 0.67, 6.0}, {"closing", 0.67, 6.5}};
    for (const auto& r : running) {
        JobWindow& w = add(r.name, jobtest::formatPlan());
        w.state = JobWindow::Running;
        w.progress = r.progress;
        w.phase = r.phase;
    }

    JobWindow& stopped = add("stopped", jobtest::formatPlan());
    stopped.state = JobWindow::Cancelled;

    JobWindow& failed = add("failed", jobtest::formatPlan());
    failed.state = JobWindow::Failed;
    failed.error = "http://127.0.0.1:40123/plugins/Synth-1.0.clap.zip: the server answered 500";
    failed.progress = 0.4;
    failed.clock = 4.0;  // the long text has scrolled a little

    JobWindow& done = add("done", jobtest::formatPlan());
    done.state = JobWindow::Done;
    done.progress = 1.0;
    done.flash = 0.5;
    done.plan.doneText = "Synth installed (VST3, CLAP)";
    done.pointer.hover = tqapp::jobButton(tqapp::JobButton::Open);

    tqapp::JobPlan update;
    update.verb = "UPDATE";
    update.title = "ARDUNE SYSTEMS MANAGER";
    update.selfUpdate = true;
    update.fromVersion = "0.3.0";
    update.toVersion = "0.4.0";
    update.where = "/opt/Ardune Systems Manager.app/Contents/MacOS/manager";
    JobWindow& updated = add("self-update-done", update);
    updated.state = JobWindow::Done;
    updated.progress = 1.0;
    return out;
}

// The model's side of each running frame.
void modelFor(BareModel& bare, const std::string& name) {
    bare.model.closing = bare.model.closeStops = name == "closing";  // the window's close asked mid-job
    if (name == "starting") bare.running("Starting", 0.0, true);
    else if (name == "downloading") bare.running("Downloading 17 %", 0.17, true);
    else if (name == "downloading-late") bare.running("Downloading 61 %", 0.61, true);
    else if (name == "installing" || name == "closing") bare.running("Installing", 0.67, name == "closing");
    else if (name == "waiting") bare.running("Waiting for another copy of the manager to finish its job", 0.67, true);
    else bare.ended(0, true, false, "");
}

}  // namespace

TEST(PixelJobWindow, EveryStateAtEveryScale) {
    for (double s : {1.0, 1.2, 1.5, 2.0, 3.0}) {
        SCOPED_TRACE(s);
        BareModel bare;
        std::vector<Frame> all = frames(bare);
        const int gap = lr(8 * s), cellW = lr(218 * s) + gap, cellH = lr(318 * s) + gap;
        const int perRow = 6;
        Canvas sheet = paper(gap + perRow * cellW, gap + int((all.size() + perRow - 1) / perRow) * cellH);
        for (size_t i = 0; i < all.size(); ++i) {
            JobWindow& w = *all[i].window;
            SCOPED_TRACE(all[i].name);
            modelFor(bare, all[i].name);
            // One window alone on paper: nothing leaves its rectangle, and the clip is as it was.
            const Rect box{10, 10, lr(218 * s), lr(w.bounds.h * s)};
            Canvas alone = paper(box.w + 20, box.h + 20);
            const Paint p = paintAt(alone, box.x, box.y, 218, w.bounds.h, s);
            const Rect clipBefore = alone.clip;
            w.draw(p);
            EXPECT_EQ(alone.clip.x, clipBefore.x);
            EXPECT_EQ(alone.clip.w, clipBefore.w);
            EXPECT_TRUE(inside(inkBox(alone), box));
            // The ticks row keeps its frame whole, however many choices it holds.
            const Rect row = dev::device(p, Rect{8, 176, 202, 14});
            for (int y = row.y; y < row.y + row.h; ++y) ASSERT_EQ(at(alone, row.x + row.w - 1, y), pixelOf(dev::rule)) << y;
            // Its place on the sheet.
            const int x = gap + int(i % perRow) * cellW, y = gap + int(i / perRow) * cellH;
            for (int r = 0; r < box.h; ++r)
                std::copy_n(alone.pixels.begin() + (box.y + r) * alone.width + box.x, box.w,
                            sheet.pixels.begin() + (y + r) * sheet.width + x);
        }
        // The sheet holds every window of the scale, so it is the one picture written of them; the
        // smallest scale also enlarged, to see single pixels.
        EXPECT_TRUE(writePicture(sheet, "job-window-sheet-" + scaleName(s) + ".png"));
        if (s == 1.0) {
            EXPECT_TRUE(writePicture(enlarged(sheet, 2), "job-window-sheet-1x-enlarged.png"));
        }
    }
}

// The progress strip: as many solid cells as the progress says, the rest dotted; the percentage
// right-aligned; the failed colour dims the strip.
TEST(PixelJobWindow, ProgressStripCells) {
    struct Case {
        double progress;
        uint32_t state;
        int solid;  // cells fully inked along the strip's middle row
    };
    const Case cases[] = {{0.0, JobWindow::Cancelled, 0}, {0.5, JobWindow::Cancelled, 9}, {1.0, JobWindow::Done, 18},
                          {0.5, JobWindow::Failed, 9}};
    for (double s : {1.0, 2.0})
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << s << " " << c.progress << " " << c.state);
            BareModel bare;
            auto w = bare.window(jobtest::formatPlan());
            w->state = c.state;
            w->progress = c.progress;
            Canvas canvas = paper(lr(218 * s), lr(292 * s));
            w->draw(paintAt(canvas, 0, 0, 218, 292, s));
            const int u = dev::one(s);
            const Rect bar = dev::device(paintAt(canvas, 0, 0, 218, 292, s), Rect{8, 246, 202, 12});
            const uint32_t ink = pixelOf(c.state == JobWindow::Failed ? dev::wave : dev::cream);
            // The middle row of the strip: every pixel of a solid run is the ink.
            const int y = bar.y + bar.h / 2;
            int run = 0;
            for (int x = bar.x + 4 * u; at(canvas, x, y) == ink; ++x) ++run;
            const auto* regular = dev::font(s, false, false);
            ASSERT_NE(regular, nullptr);
            int cell = (bar.w - regular->width("100%") - 8 * u - lr(6 * s)) / 18;
            cell -= cell % u;
            EXPECT_EQ(run, c.solid * cell);
            // Brackets at both ends, full height.
            EXPECT_EQ(at(canvas, bar.x, bar.y), ink);
            EXPECT_EQ(at(canvas, bar.x, bar.y + bar.h - 1), ink);
            EXPECT_EQ(at(canvas, bar.x + 4 * u + 18 * cell + 3 * u, bar.y + bar.h / 2), ink);
        }
}

// Every tick box keeps its four edges at every scale: where nine dots of the unit are wider than the
// box's slot (scale 1.5), the box grows rather than losing its sides to the slot's clip.
TEST(PixelJobWindow, TickBoxesWholeAtEveryScale) {
    for (double s : kScales) {
        SCOPED_TRACE(s);
        BareModel bare;
        auto w = bare.window(jobtest::dataPlan());
        w->plan.deleteData = true;
        Canvas canvas = paper(lr(218 * s), lr(318 * s));
        const Paint p = paintAt(canvas, 0, 0, 218, 318, s);
        w->draw(p);
        const int u = dev::one(s);
        const uint32_t edge = pixelOf(dev::dim);
        std::vector<Rect> slots;
        for (const Rect& r : jobtest::choiceRects(*w)) slots.push_back({r.x, r.y, 9, r.h});
        slots.push_back({12, 202, 9, 14});
        for (const Rect& slot : slots) {
            SCOPED_TRACE(testing::Message() << slot.x << "," << slot.y);
            const Rect d = dev::device(p, slot);
            // Across the box's middle row and down its middle column: one edge of u dots at each end.
            int across = 0, down = 0;
            for (int x = d.x - 9 * u; x < d.x + 18 * u; ++x) across += at(canvas, x, d.y + d.h / 2) == edge;
            for (int y = d.y - 9 * u; y < d.y + d.h + 9 * u; ++y) down += at(canvas, d.x + 9 * u / 2, y) == edge;
            EXPECT_EQ(across, 2 * u);
            EXPECT_EQ(down, 2 * u);
        }
    }
}

// The chosen scope's dot sits in the middle of its box at every scale, one gap on each side alike.
TEST(PixelJobWindow, ScopeDotCentredAtEveryScale) {
    for (double s : {1.0, 1.2, 1.5, 2.0, 3.0}) {
        SCOPED_TRACE(s);
        BareModel bare;
        tqapp::JobPlan install;
        install.selfInstall = true;
        install.choices = {{"startmenu", "START MENU", true, "", ""}};
        install.scope = tqm::Scope::System;
        auto w = bare.window(install);
        Canvas canvas = paper(lr(218 * s), lr(318 * s));
        const Paint p = paintAt(canvas, 0, 0, 218, 318, s);
        w->draw(p);
        const Rect box = dev::device(p, Rect{100, 204, 9, 9});
        const int u = dev::one(s);
        const uint32_t dot = pixelOf(dev::cream), bg = pixelOf(dev::bg);
        const int y = box.y + box.h / 2;
        auto gap = [&](int from, int step) {
            int n = 0;
            for (int x = from; at(canvas, x, y) == bg; x += step) ++n;
            return n;
        };
        // From inside the border on each side to the dot.
        const int left = gap(box.x + u, 1), right = gap(box.x + box.w - 1 - u, -1);
        EXPECT_EQ(at(canvas, box.x + u + left, y), dot);
        EXPECT_LE(std::abs(left - right), 1) << left << " " << right;
    }
}
