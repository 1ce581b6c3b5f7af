#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "probe.h"

using namespace lumo::gui;

namespace {

struct Animated : Widget {
    int frames = 0;
    int ticks = 0;
    bool again = true;
    void onFrame(double) override {
        ++frames;
        if (again) requestFrame();
    }
    void tick() override { ++ticks; }
};

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

TEST(Frames, DisplayLinkStartsAndStopsAfterTheLastRequest) {
    fakes::Host host;
    Editor e(host, 50, 50);
    probe::PopupWindow* w = probe::attachPopupWindow(e);
    w->frames = true;
    auto* a = e.root()->add(std::make_unique<Animated>());

    a->requestFrame();
    EXPECT_EQ(w->starts, 1);
    EXPECT_TRUE(e.framesRunning());
    a->requestFrame();  // already running: not started again
    EXPECT_EQ(w->starts, 1);
    e.frame(1.0);
    e.frame(1.1);
    EXPECT_EQ(a->frames, 2);
    a->again = false;
    e.frame(1.2);  // no new request, but the last one is recent: frames keep running
    EXPECT_TRUE(e.framesRunning());
    EXPECT_EQ(w->stops, 0);
    sleepMs(300);
    e.frame(1.5);
    EXPECT_EQ(a->frames, 3);
    EXPECT_FALSE(e.framesRunning());
    EXPECT_EQ(w->stops, 1);
    EXPECT_EQ(e.frameStats().linkTicks, 4);

    // A platform that refuses frames: input that needs a repaint invalidates at once.
    w->frames = false;
    e.mouseMove(1, 1, false, false, false);
    e.repaintAll();
    int before = w->invalidations;
    e.mouseMove(2, 2, false, false, false);
    EXPECT_EQ(w->invalidations, before + 1);
}

TEST(Frames, TickRunsItsDutiesInOrder) {
    fakes::Host host;
    Editor e(host, 50, 50);
    auto* a = e.root()->add(std::make_unique<Animated>());
    a->again = false;
    auto* hidden = e.root()->add(std::make_unique<Animated>());
    hidden->visible = false;

    // Without a window a wanted frame is run by the tick itself; posted work runs first, in order.
    std::vector<std::string> order;
    e.uiQueue()->post([&] {
        order.push_back("first");
        a->requestFrame();
    });
    e.uiQueue()->post([&] { order.push_back("second"); });
    e.tick();
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(a->frames, 1);
    EXPECT_EQ(a->ticks, 1);
    EXPECT_EQ(hidden->ticks, 1);   // invisible widgets are ticked
    EXPECT_EQ(hidden->frames, 0);  // but get no frames

    // The caret flips every twelfth tick, and only then repaints the focused widget, when it takes
    // text: a focused widget that draws no caret is not repainted for it.
    struct Typing : Widget {
        bool typing = true;
        bool takingText() const override { return typing; }
    };
    auto* f = e.root()->add(std::make_unique<Typing>());
    f->bounds = Rect{5, 5, 10, 10};
    e.setFocus(f);
    Canvas c;
    e.paint(c);
    bool phase = e.caretPhase();
    for (int i = 2; i <= 60; ++i) {
        f->typing = i <= 36;
        e.tick();
        bool flips = i % 12 == 0;
        EXPECT_EQ(e.caretPhase() != phase, flips) << i;
        EXPECT_EQ(e.dirtyRects().size(), flips && f->typing ? 1u : 0u) << i;
        phase = e.caretPhase();
        e.paint(c);
    }
}

TEST(UiQueueStress, PostsRaceTheEditorsTeardown) {
    constexpr int kThreads = 8;
    fakes::Host host;
    auto editor = std::make_unique<Editor>(host, 10, 10);
    std::shared_ptr<UiQueue> queue = editor->uiQueue();
    const std::thread::id ui = std::this_thread::get_id();

    struct Seen {
        std::vector<int> ran;       // written on the UI thread only
        std::vector<int> accepted;  // written by the worker only
        int firstRefused = -1;
    };
    std::vector<Seen> seen(kThreads);
    std::atomic<int> dropped{0};
    std::atomic<bool> wrongThread{false};

    // Counts closures destroyed unrun when the editor went away.
    struct DropCount {
        std::atomic<int>* n;
        bool armed = true;
        explicit DropCount(std::atomic<int>* c) : n(c) {}
        DropCount(DropCount&& o) noexcept : n(o.n), armed(o.armed) { o.armed = false; }
        DropCount(const DropCount& o) : n(o.n), armed(o.armed) {}
        ~DropCount() {
            if (armed) ++*n;
        }
    };

    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < 200000; ++i) {
                auto guard = std::make_shared<DropCount>(&dropped);
                bool ok = queue->post([&, t, i, guard] {
                    guard->armed = false;
                    if (std::this_thread::get_id() != ui) wrongThread = true;
                    seen[size_t(t)].ran.push_back(i);
                });
                if (!ok) {
                    guard->armed = false;  // refused: not a closure the teardown dropped
                    seen[size_t(t)].firstRefused = i;
                    return;
                }
                guard.reset();
                seen[size_t(t)].accepted.push_back(i);
            }
        });
    }
    // Tick until every worker's posts have begun to run, however slowly the machine schedules
    // them; the teardown then races posts still coming in.
    auto allRan = [&] {
        return std::all_of(seen.begin(), seen.end(), [](const Seen& s) { return !s.ran.empty(); });
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!allRan() && std::chrono::steady_clock::now() < deadline) {
        editor->tick();
        std::this_thread::yield();
    }
    EXPECT_TRUE(allRan()) << "posted work did not run within 30 s of ticks";
    editor.reset();
    for (auto& w : workers) w.join();

    EXPECT_FALSE(wrongThread);
    EXPECT_FALSE(queue->alive());
    int accepted = 0, ran = 0;
    for (const Seen& s : seen) {
        // What ran is a prefix of what was accepted, in posting order; once refused, always refused.
        ASSERT_LE(s.ran.size(), s.accepted.size());
        for (size_t i = 0; i < s.ran.size(); ++i) ASSERT_EQ(s.ran[i], s.accepted[i]);
        for (size_t i = 0; i < s.accepted.size(); ++i) ASSERT_EQ(s.accepted[i], int(i));
        if (s.firstRefused >= 0) {
            EXPECT_EQ(s.firstRefused, int(s.accepted.size()));
        }
        accepted += int(s.accepted.size());
        ran += int(s.ran.size());
    }
    EXPECT_GT(ran, 0);
    // Everything accepted either ran on the UI thread or was destroyed unrun at the teardown.
    EXPECT_EQ(accepted, ran + dropped.load());
}

TEST(FrameStatsLine, PrintedAfterASecondThenStartsAgain) {
    Editor::FrameStats stats;
    testing::internal::CaptureStdout();
    stats.add(2.0, 1.0, true, 100.0);
    stats.add(4.0, 1.0, false, 100.5);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(stats.frames, 2);

    stats.linkTicks = 6;
    testing::internal::CaptureStdout();
    stats.add(6.0, 3.0, false, 102.0);  // two seconds of frames
    std::string line = testing::internal::GetCapturedStdout();
    EXPECT_EQ(line.rfind("lumo frames: 3 drawn in 2.00 s (1.5 / s, 1 partial; display link 3.0 / s), "
                         "paint 4.00 ms avg 6.00 max, present 1.67 ms avg 3.00 max\n",
                         0),
              0u)
        << line;
    EXPECT_EQ(stats.frames, 0);
    EXPECT_EQ(stats.linkTicks, 0);
    EXPECT_GT(stats.windowStart, 0.0);
}
