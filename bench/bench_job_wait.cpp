// The job window while its job waits, over the main window in a headless editor: the CPU a second of
// waiting costs, at scales 1 and 2, as the window's loop spends it (30 ticks a second, each followed
// by the paint of what the tick asked for; the present to the screen is not counted). The wait for
// another copy's job, whose status line is too long for its box and scrolls, against the peer measured
// in the same run: the same window waiting with a status that fits ("Waiting for permission"), where
// only the figure moves. Counters: core_pct (per cent of one core), figure_core_pct (the peer's) and
// x_figure (their ratio). Each iteration is one second of the window's clock; 30 of them cover two
// whole scrolls of the long status, pauses included.
#include <benchmark/benchmark.h>
#include <time.h>

#include <functional>
#include <memory>
#include <string>

#include "bench/bench_support.h"
#include "gui/editor.h"
#include "gui/ui_queue.h"
#include "manager/model/model.h"
#include "manager/view/view.h"
#include "manager/windows/job_window.h"

namespace {

constexpr int kTicksASecond = 30;

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The main window with a dozen rows and, over it, the job window of a running job that waits,
// its model saying why.
struct Waiting {
    benchsupport::Host host;
    lumo::gui::Editor editor{host, 426, 344};
    lumo::gui::Canvas canvas;
    tqapp::ManagerView* view = nullptr;

    Waiting(const std::string& why, double scale) {
        auto made = std::make_unique<tqapp::ManagerView>();
        made->setModel(std::make_unique<tqapp::Model>(tqapp::Config{}, editor.uiQueue(), std::function<void()>{}));
        view = editor.root()->add(std::move(made));
        tqapp::Model& model = *view->model();
        model.loading = false;
        view->firstLoadDone = true;
        for (int i = 0; i < 12; ++i) {
            tqm::Row r;
            r.id = "p" + std::to_string(i);
            r.name = "Plug-in number " + std::to_string(i);
            r.state = tqm::State(i % 6);
            r.version = "1." + std::to_string(i) + ".0";
            model.rows.push_back(r);
        }
        view->setSize(426, 344);
        view->changed();
        editor.setScale(scale);
        model.busy = true;
        model.stoppable = true;
        model.cancel = std::make_shared<std::atomic<bool>>(false);
        model.jobGeneration = 1;
        model.progressText = why;
        model.waiting = true;
        model.fraction = 0.67;
        tqapp::JobPlan plan;
        plan.verb = "INSTALL";
        plan.title = "SYNTH";
        plan.choices = {{"vst3", "VST3", true, "/plugins/VST3", ""}};
        view->openJob(plan, true, {});
        editor.repaintAll();
        frames(kTicksASecond);  // opened and painted whole; its status's first pause begins
    }

    void frames(int n) {
        for (int i = 0; i < n; ++i) {
            editor.tick();
            editor.paint(canvas);
        }
    }

    // Per cent of one core that seconds of the window's clock cost.
    double corePercent(int seconds) {
        const double t0 = cpuSeconds();
        frames(seconds * kTicksASecond);
        return (cpuSeconds() - t0) / seconds * 100.0;
    }
};

constexpr char kAnotherCopy[] = "Waiting for another copy of the manager to finish its job";
constexpr char kPermission[] = "Waiting for permission";

void JobWindowWaitingForAnotherCopy(benchmark::State& state) {
    const double scale = double(state.range(0));
    Waiting waiting(kAnotherCopy, scale);
    const double t0 = cpuSeconds();
    for (auto _ : state) {
        waiting.frames(kTicksASecond);
        benchmark::DoNotOptimize(waiting.canvas.pixels.data());
    }
    const double pct = (cpuSeconds() - t0) / double(state.iterations()) * 100.0;
    Waiting figure(kPermission, scale);
    const double peer = figure.corePercent(int(state.iterations()));
    state.counters["core_pct"] = pct;
    state.counters["figure_core_pct"] = peer;
    state.counters["x_figure"] = pct / peer;
}

}  // namespace

BENCHMARK(JobWindowWaitingForAnotherCopy)->Arg(1)->Arg(2)->Iterations(30)->Unit(benchmark::kMillisecond);
