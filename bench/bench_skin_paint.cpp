// The main window in the skin look at 2x with 40 rows (half of them with pictures): one full paint
// against a memset of the same canvas, and the repaint after a one-row scroll against the full paint.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "gui/ui_queue.h"
#include "gui/widget.h"
#include "manager/model/model.h"
#include "manager/view/view.h"

namespace {

constexpr int kRows = 40;
constexpr double kScale = 2.0;

struct Window {
    tqapp::ManagerView view;
    lumo::gui::Canvas canvas;

    Window() {
        view.setLook(0);
        view.setModel(std::make_unique<tqapp::Model>(tqapp::Config{}, std::make_shared<lumo::gui::UiQueue>(),
                                                    std::function<void()>{}));
        view.model()->loading = false;
        view.firstLoadDone = true;
        for (int i = 0; i < kRows; ++i) {
            tqm::Row r;
            r.id = "p" + std::to_string(i);
            r.name = "Plug-in number " + std::to_string(i);
            r.version = "1." + std::to_string(i);
            r.state = tqm::State(i % 6);
            view.model()->rows.push_back(r);
            if (i % 2) continue;
            lumo::gui::Bitmap b;
            b.w = 136, b.h = 24;
            b.pixels.assign(size_t(b.w * b.h), 0xFF405060u + uint32_t(i));
            view.model()->pictures.give(r.id, tqapp::art::Kind::Row, "2x", b);
        }
        ++view.model()->rowsGeneration;
        view.changed();
        view.selectIndex(3);
        view.setSize(view.pageWidth(), view.pageHeight());
        canvas.resize(int(view.pageWidth() * kScale), int(view.pageHeight() * kScale));
        paint();  // fills the caches: every later paint only copies
    }
    void paint() {
        const lumo::gui::Paint p{canvas, {0, 0, canvas.width, canvas.height}, kScale, false, {}, {}};
        view.draw(p);
        benchmark::DoNotOptimize(canvas.pixels.data());
    }
};

// Nanoseconds per call of f, over a fixed number of rounds.
template <typename F>
double nsPer(int rounds, F&& f) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) f();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / rounds;
}

void SkinFullPaint2x(benchmark::State& state) {
    Window w;
    const size_t bytes = w.canvas.pixels.size() * sizeof(uint32_t);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) w.paint();
    const double paintNs = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                           double(std::max<int64_t>(1, int64_t(state.iterations())));
    const double memsetNs = nsPer(2000, [&] {
        std::memset(w.canvas.pixels.data(), 0, bytes);
        benchmark::DoNotOptimize(w.canvas.pixels.data());
    });
    state.counters["x_memset"] = paintNs / memsetNs;
    state.counters["pixels"] = double(w.canvas.pixels.size());
}

void SkinScrollRepaint2x(benchmark::State& state) {
    Window w;
    int step = w.view.rowPitch();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        // One row down, then back up at the end of the list.
        if (w.view.scroll() + step > w.view.maxScroll() || w.view.scroll() + step < 0) step = -step;
        w.view.setScroll(w.view.scroll() + step);
        w.paint();
    }
    const double scrollNs = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                            double(std::max<int64_t>(1, int64_t(state.iterations())));
    const double fullNs = nsPer(50, [&] { w.paint(); });
    state.counters["x_full_paint"] = scrollNs / fullNs;
}

}  // namespace

BENCHMARK(SkinFullPaint2x)->Unit(benchmark::kMicrosecond);
BENCHMARK(SkinScrollRepaint2x)->Unit(benchmark::kMicrosecond);
