// Editor painting and the UI queue. A full paint and a one-widget partial repaint of a 200-widget
// tree at scale 2, each against memset of the same canvas (the memory-bandwidth floor); UiQueue
// post and drain with 1 and 8 posting threads against a bare mutex-guarded vector.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "gui/editor.h"

namespace {

using namespace lumo::gui;

class Host : public EditorHost {
public:
    const lumo::PluginDef& def() const override { return definition; }
    double getValue(unsigned) const override { return 0.0; }
    void beginEdit(unsigned) override {}
    void performEdit(unsigned, double) override {}
    void endEdit(unsigned) override {}
    lumo::PluginDef definition;
};

// 20 rows of 10 panels, each with a border: 200 widgets over a 600 x 400 body.
struct Scene {
    Host host;
    Editor editor{host, 600, 400};
    Canvas canvas;
    Widget* one = nullptr;

    Scene() {
        editor.setScale(2.0);
        for (int i = 0; i < 200; ++i) {
            auto p = std::make_unique<Panel>();
            p->bounds = Rect{(i % 10) * 60, (i / 10) * 20, 58, 18};
            p->fill = theme()[1 + i % 8];
            p->border = theme()[3];
            Widget* w = editor.root()->add(std::move(p));
            if (i == 105) one = w;
        }
        editor.paint(canvas);
    }
};

// Nanoseconds per memset of the whole canvas, measured here so that each paint benchmark can report
// its ratio to it.
double memsetNs(Canvas& c) {
    constexpr int kRounds = 200;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        std::memset(c.pixels.data(), 0x20 + i, c.pixels.size() * sizeof(uint32_t));
        benchmark::DoNotOptimize(c.pixels.data());
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / kRounds;
}

void reportRatio(benchmark::State& state, Canvas& c, std::chrono::steady_clock::time_point start) {
    double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                double(std::max<int64_t>(1, int64_t(state.iterations())));
    state.counters["x_memset"] = ns / memsetNs(c);
}

void BM_MemsetCanvas(benchmark::State& state) {
    Scene s;
    for (auto _ : state) {
        std::memset(s.canvas.pixels.data(), 0x20, s.canvas.pixels.size() * sizeof(uint32_t));
        benchmark::DoNotOptimize(s.canvas.pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.canvas.pixels.size() * 4));
}

void BM_FullPaint(benchmark::State& state) {
    Scene s;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        s.editor.repaintAll();
        s.editor.paint(s.canvas);
        benchmark::ClobberMemory();
    }
    reportRatio(state, s.canvas, start);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.canvas.pixels.size() * 4));
}

void BM_PartialRepaintOneWidget(benchmark::State& state) {
    Scene s;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        s.one->repaintArea();
        s.editor.paint(s.canvas);
        benchmark::ClobberMemory();
    }
    reportRatio(state, s.canvas, start);
    if (!s.editor.lastPaintPartial()) state.SkipWithError("the repaint was not partial");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.canvas.pixels.size() * 4));
}

constexpr int kPerThread = 10000;

// Posting threads each post kPerThread closures while this thread drains; one iteration ends when
// every closure ran.
template <class Post, class Drain>
void postAndDrain(benchmark::State& state, Post post, Drain drain) {
    const int threads = int(state.range(0));
    for (auto _ : state) {
        std::atomic<int> ran{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&] {
                for (int i = 0; i < kPerThread; ++i) post([&ran] { ran.fetch_add(1, std::memory_order_relaxed); });
            });
        while (ran.load(std::memory_order_relaxed) < threads * kPerThread) drain();
        for (auto& w : workers) w.join();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * threads * kPerThread);
}

void BM_UiQueuePostDrain(benchmark::State& state) {
    Host host;
    Editor editor(host, 10, 10);
    std::shared_ptr<UiQueue> q = editor.uiQueue();
    postAndDrain(state, [&](std::function<void()> f) { q->post(std::move(f)); }, [&] { editor.drainPosted(); });
}

// The peer: the same work through a plain mutex and vector.
void BM_MutexVectorPostDrain(benchmark::State& state) {
    std::mutex m;
    std::vector<std::function<void()>> pending;
    postAndDrain(
        state,
        [&](std::function<void()> f) {
            std::lock_guard<std::mutex> lock(m);
            pending.push_back(std::move(f));
        },
        [&] {
            std::vector<std::function<void()>> taken;
            {
                std::lock_guard<std::mutex> lock(m);
                taken.swap(pending);
            }
            for (auto& f : taken) f();
        });
}

}  // namespace

BENCHMARK(BM_MemsetCanvas);
BENCHMARK(BM_FullPaint);
BENCHMARK(BM_PartialRepaintOneWidget);
BENCHMARK(BM_UiQueuePostDrain)->Arg(1)->Arg(8)->UseRealTime();
BENCHMARK(BM_MutexVectorPostDrain)->Arg(1)->Arg(8)->UseRealTime();
