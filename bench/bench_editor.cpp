// Editor painting and the UI queue. A full paint and a one-widget partial repaint of a 200-widget
// tree at scale 2, each against a memset of the pixels that paint wrote (the whole canvas, or the
// repainted area alone: the memory-bandwidth floor of the same work); UiQueue
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

#include "bench/bench_support.h"
#include "gui/editor.h"

namespace {

using namespace lumo::gui;

// 20 rows of 10 panels, each with a border: 200 widgets over a 600 x 400 body.
struct Scene {
    benchsupport::Host host;
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

// Nanoseconds per memset of the given areas of the canvas, row by row as a paint writes them,
// measured here so that each paint benchmark can report its ratio to the same amount of writing.
double memsetNs(Canvas& c, const std::vector<Rect>& areas) {
    constexpr int kRounds = 200;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        for (const Rect& r : areas)
            for (int y = r.y; y < r.y + r.h; ++y)
                std::memset(&c.pixels[size_t(y) * size_t(c.width) + size_t(r.x)], 0x20 + i, size_t(r.w) * sizeof(uint32_t));
        benchmark::DoNotOptimize(c.pixels.data());
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / kRounds;
}

double nsPerIteration(const benchmark::State& state, std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
           double(std::max<int64_t>(1, int64_t(state.iterations())));
}

// Reports x_memset, the paint's time over a memset of the areas the last paint wrote; gives the
// number of pixels in those areas.
int64_t reportRatio(benchmark::State& state, Scene& s, double paintNs) {
    const std::vector<Rect> areas = s.editor.painted();
    int64_t pixels = 0;
    for (const Rect& r : areas) pixels += int64_t(r.w) * r.h;
    state.counters["x_memset"] = paintNs / memsetNs(s.canvas, areas);
    state.counters["pixels"] = double(pixels);
    return pixels;
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
    const int64_t pixels = reportRatio(state, s, nsPerIteration(state, start));
    state.SetBytesProcessed(int64_t(state.iterations()) * pixels * 4);
}

void BM_PartialRepaintOneWidget(benchmark::State& state) {
    Scene s;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        s.one->repaintArea();
        s.editor.paint(s.canvas);
        benchmark::ClobberMemory();
    }
    const double partialNs = nsPerIteration(state, start);
    if (!s.editor.lastPaintPartial()) state.SkipWithError("the repaint was not partial");
    const int64_t pixels = reportRatio(state, s, partialNs);
    // And against the full paint it saves (x_full below 1: the partial repaint is that much cheaper).
    constexpr int kFull = 50;
    const auto full = std::chrono::steady_clock::now();
    for (int i = 0; i < kFull; ++i) {
        s.editor.repaintAll();
        s.editor.paint(s.canvas);
        benchmark::ClobberMemory();
    }
    const double fullNs = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - full).count() / kFull;
    state.counters["x_full"] = partialNs / fullNs;
    state.SetBytesProcessed(int64_t(state.iterations()) * pixels * 4);
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
    benchsupport::Host host;
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
