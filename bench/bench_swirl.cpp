// One frame of the job window's swirl at scale 2 (its 200 x 100 box, 400 x 200 device pixels) against
// a memset of the same bytes, measured in the same run. "x_peer" is the frame's time as a multiple of
// the memset's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "manager/pixel_look/primitives.h"
#include "manager/windows/swirl.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kScale = 2.0;
constexpr int kW = 400, kH = 200;
constexpr size_t kBytes = size_t(kW) * kH * 4;

// Best per-call time of n calls, over several rounds, in seconds.
template <class F>
double bestSeconds(int n, F&& f) {
    double best = 1e9;
    for (int round = 0; round < 7; ++round) {
        const auto t0 = Clock::now();
        for (int i = 0; i < n; ++i) f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count() / n);
    }
    return best;
}

double memsetSeconds() {
    static std::vector<uint32_t> dst(size_t(kW) * kH);
    return bestSeconds(2000, [&] {
        std::memset(dst.data(), 0x5A, kBytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    });
}

void BM_SwirlFrame2x(benchmark::State& state) {
    lumo::gui::Canvas canvas;
    canvas.resize(kW, kH);
    tqapp::Swirl swirl;
    const double peer = memsetSeconds();
    double phase = 0, best = 1e9;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        swirl.draw(canvas, lumo::gui::Rect{0, 0, kW, kH}, tqapp::dev::one(kScale), kScale, phase, 0.3, false);
        benchmark::ClobberMemory();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
        phase += 1.0 / 30;  // one tick of the job window
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
    state.counters["x_peer"] = best / peer;
    state.counters["memset_us"] = peer * 1e6;
}
BENCHMARK(BM_SwirlFrame2x)->Unit(benchmark::kMicrosecond);

}  // namespace
