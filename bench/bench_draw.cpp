// Canvas fills and bitmap copies on a full 2560 x 1600 canvas against the memory-bandwidth limit:
// memset (fills) and memcpy (bitmap copies) of the same bytes, measured in the same run. Each
// benchmark reports "x_peer", its time as a multiple of the peer's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "gui/draw/canvas.h"

namespace {

using lumo::gui::Bitmap;
using lumo::gui::Canvas;
using lumo::gui::Rect;
using Clock = std::chrono::steady_clock;

constexpr int kW = 2560, kH = 1600;
constexpr size_t kBytes = size_t(kW) * kH * 4;

Canvas& canvas() {
    static Canvas cv = [] {
        Canvas c;
        c.resize(kW, kH);
        for (size_t i = 0; i < c.pixels.size(); ++i) c.pixels[i] = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
        return c;
    }();
    return cv;
}

const Bitmap& bitmap(uint32_t alphaMask) {
    static Bitmap opaque, translucent;
    Bitmap& b = alphaMask == 0xFF ? opaque : translucent;
    if (b.pixels.empty()) {
        b.w = kW;
        b.h = kH;
        b.pixels.resize(size_t(kW) * kH);
        for (size_t i = 0; i < b.pixels.size(); ++i) {
            const uint32_t v = uint32_t(i * 40503u);
            b.pixels[i] = ((alphaMask == 0xFF ? 0xFFu : (v >> 24) | 1u) << 24) | (v & 0xFFFFFFu);
        }
    }
    return b;
}

// Best of several runs of the peer, in seconds.
template <class F>
double peerSeconds(F&& f) {
    double best = 1e9;
    for (int i = 0; i < 7; ++i) {
        const auto t0 = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

double memsetSeconds() {
    static std::vector<uint32_t> dst(size_t(kW) * kH);
    return peerSeconds([&] {
        std::memset(dst.data(), 0x5A, kBytes);
        benchmark::DoNotOptimize(dst.data());
    });
}

double memcpySeconds() {
    static std::vector<uint32_t> dst(size_t(kW) * kH), src(size_t(kW) * kH, 1u);
    return peerSeconds([&] {
        std::memcpy(dst.data(), src.data(), kBytes);
        benchmark::DoNotOptimize(dst.data());
    });
}

template <class F>
void run(benchmark::State& state, double peer, F&& op) {
    double best = 1e9;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        op();
        benchmark::ClobberMemory();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
    state.counters["x_peer"] = best / peer;
}

void BM_FillRectOpaque(benchmark::State& state) {
    run(state, memsetSeconds(), [] { canvas().fillRect(Rect{0, 0, kW, kH}, 0xFF336699u); });
}
BENCHMARK(BM_FillRectOpaque)->Unit(benchmark::kMillisecond);

void BM_FillRectTranslucent(benchmark::State& state) {
    run(state, memsetSeconds(), [] { canvas().fillRect(Rect{0, 0, kW, kH}, 0x80336699u); });
}
BENCHMARK(BM_FillRectTranslucent)->Unit(benchmark::kMillisecond);

void BM_DrawBitmapOpaque(benchmark::State& state) {
    const Bitmap& b = bitmap(0xFF);
    run(state, memcpySeconds(), [&] { canvas().drawBitmap(b, 0, 0, 1, 255); });
}
BENCHMARK(BM_DrawBitmapOpaque)->Unit(benchmark::kMillisecond);

void BM_DrawBitmapTranslucent(benchmark::State& state) {
    const Bitmap& b = bitmap(0x7F);
    run(state, memcpySeconds(), [&] { canvas().drawBitmap(b, 0, 0, 1, 255); });
}
BENCHMARK(BM_DrawBitmapTranslucent)->Unit(benchmark::kMillisecond);

void BM_PeerMemset(benchmark::State& state) {
    std::vector<uint32_t> dst(size_t(kW) * kH);
    for (auto _ : state) {
        std::memset(dst.data(), 0x5A, kBytes);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_PeerMemset)->Unit(benchmark::kMillisecond);

void BM_PeerMemcpy(benchmark::State& state) {
    std::vector<uint32_t> dst(size_t(kW) * kH), src(size_t(kW) * kH, 1u);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), kBytes);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_PeerMemcpy)->Unit(benchmark::kMillisecond);

}  // namespace
