// The manager's start on a 2,000-entry catalog whose pictures are in the art cache: from Model::start
// to the first paint of the window (catalog, rows, skin and fonts, the pictures of the rows shown),
// against the floor of loadCatalog + deriveRows alone on the same data. Each start runs in a forked
// child, so that it starts as a program does (nothing decoded yet) and its peak resident size is its
// own. Catalogs with row pictures at six scales, with and without logos at six scales.
//
// Counters: x_floor (a start against the floor, same run, the median of paired runs), peak_MiB (the start's peak resident
// size), floor_peak_MiB; BM_StartWithLogos also x_without_logos (against the start without logos).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/load.h"
#include "engine/rows.h"
#include "engine/util.h"
#include "gui/draw/png_write.h"
#include "gui/ui_queue.h"
#include "manager/model/model.h"
#include "manager/model/pictures.h"
#include "manager/view/view.h"
#include "tools/catalog_signing.h"

namespace {

using benchsupport::put;

constexpr int kEntries = 2000;
const char* const kKeys[] = {"1x", "1.2x", "1.25x", "1.5x", "2x", "3x"};
const double kKeyScales[] = {1.0, 1.2, 1.25, 1.5, 2.0, 3.0};

struct Fixture : support::TempDir {
    tqapp::Config config;

    explicit Fixture(bool logos) : TempDir("tqapp-bench-model") {
        const catalogsign::KeyPair keys = catalogsign::makeKeyPair();
        config.layout.root = path() + "/root";
        config.source = path() + "/source";
        config.pub = catalogsign::toHex(keys.publicKey);
        const std::string cache = tqapp::art::cacheDir(config.layout.userData());
        // Every picture its own, in the cache: a picture of a colour per entry and scale.
        auto pictures = [&](const std::string& id, const char* kind, int w, int h, uint32_t argb) {
            std::string t;
            for (size_t k = 0; k < 6; ++k) {
                const int pw = int(w * kKeyScales[k] + 0.5), ph = int(h * kKeyScales[k] + 0.5);
                const std::string png =
                    lumo::gui::encodePng(pw, ph, std::vector<uint32_t>(size_t(pw) * size_t(ph), argb + uint32_t(k)));
                const std::string rel = "art/" + id + "-" + kind + "@" + kKeys[k] + ".png";
                put(cache + "/" + rel, png);
                t += std::string(k ? ", " : "") + "\"" + kKeys[k] + "\": {\"path\": \"" + rel + "\", \"sha256\": \"" +
                     tqm::sha256Hex(png.data(), png.size()) + "\", \"size\": " + std::to_string(png.size()) + "}";
            }
            return t;
        };
        const std::string sha(64, 'c');
        std::string t = "{\"schema\": 1, \"sequence\": 9, \"plugins\": [\n";
        for (int i = 0; i < kEntries; ++i) {
            const std::string id = "plugin" + std::to_string(i);
            const uint32_t colour = 0xFF000000u | (uint32_t(i) * 2654435761u >> 8);
            std::string art = "\"row\": {" + pictures(id, "row", 68, 12, colour) + "}";
            if (logos) art += ", \"logo\": {" + pictures(id, "logo", 80, 60, colour ^ 0x00FFFFFFu) + "}";
            if (i) t += ",\n";
            t += "{\"id\": \"" + id + "\", \"name\": \"Plug-in " + std::to_string(i) + "\", \"version\": \"1.2." +
                 std::to_string(i % 50) + "\", \"description\": \"A plug-in of the benchmark catalog.\", \"art\": {" +
                 art + "}, \"packages\": {" + benchsupport::packagesText(id, sha) + "}}";
        }
        t += "\n]}\n";
        put(config.source + "/catalog.json", t);
        put(config.source + "/catalog.json.sig", catalogsign::signBase64(keys.secretKey, t));
    }
};

Fixture& fixture(bool logos) {
    static Fixture with(true), without(false);
    return logos ? with : without;
}

// The manager's start as the program makes it: the model starts loading on its worker, the window
// paints its first frame (still loading) meanwhile, the UI thread takes the rows, and the window
// paints at scale 1 with the first row selected: the end. False when the catalog did not load.
// Run in a child that ends when it returns: the window and its model are never torn down.
bool start(const Fixture& f) {
    benchsupport::UiPump& ui = *new benchsupport::UiPump;
    tqapp::ManagerView* view = new tqapp::ManagerView;
    view->setModel(std::make_unique<tqapp::Model>(f.config, ui.queue, std::function<void()>()));
    tqapp::Model& model = *view->model();
    model.start();
    lumo::gui::Canvas& canvas = *new lumo::gui::Canvas;
    auto paint = [&] {
        canvas.resize(view->pageWidth(), view->pageHeight());
        view->draw(lumo::gui::Paint{canvas, lumo::gui::Rect{0, 0, canvas.width, canvas.height}, 1.0, false, {}, {}});
        benchmark::DoNotOptimize(canvas.pixels.data());
    };
    paint();
    ui.pumpWhile([&] { return model.loading; });
    if (!model.catalog || !model.catalog->ok || model.rows.size() != size_t(kEntries)) return false;
    view->firstLoadDone = true;
    view->setSize(view->pageWidth(), view->pageHeight());
    view->changed();
    view->selectIndex(0);
    paint();
    return true;
}

// The floor: the catalog loaded and verified, the receipts read and the rows derived. Like the
// start, nothing is torn down.
bool floorWork(const Fixture& f) {
    const tqm::Source source(f.config.source);
    const auto* loaded = new tqm::LoadedCatalog(tqm::loadCatalog(source, f.config.pub, f.config.layout.userData(), false));
    auto* receipt = new tqm::Receipt;
    auto* apps = new tqm::Receipt;
    std::string error;
    receipt->load(f.config.layout.receiptFile(), error);
    apps->load(f.config.layout.appsReceiptFile(), error);
    const auto* rows = new std::vector<tqm::Row>(tqm::deriveRows(&loaded->catalog, *receipt, f.config.layout, "0.3.0", *apps));
    benchmark::DoNotOptimize(rows->data());
    return loaded->ok;
}

struct Run {
    bool ok = false;
    double seconds = 0;
    double peakMiB = 0;
};

// Runs work in a forked child: the time the work took, timed in the child (so the fork and the
// child's exit are left out), and the child's peak resident size.
Run inChild(const std::function<bool()>& work) {
    int pipe[2];
    if (::pipe(pipe) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipe[0]);
        const auto begin = std::chrono::steady_clock::now();
        const bool ok = work();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        const bool sent = ::write(pipe[1], &seconds, sizeof seconds) == ssize_t(sizeof seconds);
        _exit(ok && sent ? 0 : 1);
    }
    ::close(pipe[1]);
    Run run;
    double seconds = 0;
    const bool got = pid > 0 && ::read(pipe[0], &seconds, sizeof seconds) == ssize_t(sizeof seconds);
    ::close(pipe[0]);
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return run;
    run.ok = got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.seconds = seconds;
    run.peakMiB = double(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
    return run;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Each iteration runs a start and then its baselines, one after the other, so that a change in the
// machine's load falls on both; a ratio is the median of the iterations' own ratios.
void startBench(benchmark::State& state, bool logos) {
    const Fixture& f = fixture(logos);
    fixture(!logos);  // both catalogs made before anything is timed
    std::vector<double> mine, floor, other;
    double peak = 0, floorPeak = 0, otherPeak = 0;
    for (auto _ : state) {
        const Run r = inChild([&] { return start(f); });
        if (!r.ok) state.SkipWithError("the start failed");
        state.SetIterationTime(r.seconds);
        mine.push_back(r.seconds);
        peak = std::max(peak, r.peakMiB);
        state.PauseTiming();
        const Run base = inChild([&] { return floorWork(f); });
        floor.push_back(base.seconds);
        floorPeak = std::max(floorPeak, base.peakMiB);
        if (logos) {
            const Run without = inChild([&] { return start(fixture(false)); });
            other.push_back(without.seconds);
            otherPeak = std::max(otherPeak, without.peakMiB);
        }
        state.ResumeTiming();
    }
    auto ratio = [&](const std::vector<double>& base) {
        std::vector<double> r;
        for (size_t i = 0; i < mine.size() && i < base.size(); ++i) r.push_back(mine[i] / std::max(base[i], 1e-9));
        return median(r);
    };
    state.counters["x_floor"] = ratio(floor);
    state.counters["peak_MiB"] = peak;
    state.counters["floor_peak_MiB"] = floorPeak;
    if (logos) {
        state.counters["x_without_logos"] = ratio(other);
        state.counters["without_logos_peak_MiB"] = otherPeak;
    }
}

void BM_StartToFirstPaint(benchmark::State& state) { startBench(state, false); }
void BM_StartWithLogos(benchmark::State& state) { startBench(state, true); }

}  // namespace

BENCHMARK(BM_StartToFirstPaint)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(21);
BENCHMARK(BM_StartWithLogos)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(21);
