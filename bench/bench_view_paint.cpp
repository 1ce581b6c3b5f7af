// One full paint of the main window in the pixel look at scale 2 with 40 rows (pictures, mixed
// states, one selected, the list scrolled), against a memset of the same canvas; and scrolling a
// page per frame through 2,000 rows whose pictures come from the art cache, against the same memset
// (after one pass over the list, so the figure is that of any later pass; the first pass resizes
// every picture once).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/util.h"
#include "gui/draw/png_write.h"
#include "gui/ui_queue.h"
#include "manager/model/model.h"
#include "manager/view/view.h"

namespace {

constexpr int kRows = 40;
constexpr double kScale = 2.0;

// A view with its rows, outside any editor.
std::unique_ptr<tqapp::ManagerView> makeView() {
    auto view = std::make_unique<tqapp::ManagerView>();
    view->setModel(std::make_unique<tqapp::Model>(tqapp::Config{}, std::make_shared<lumo::gui::UiQueue>(),
                                                 std::function<void()>{}));
    view->model()->loading = false;
    view->firstLoadDone = true;  // no first-load offers
    for (int i = 0; i < kRows; ++i) {
        tqm::Row r;
        r.id = "p" + std::to_string(i);
        r.name = "Plug-in number " + std::to_string(i);
        r.state = tqm::State(i % 6);
        r.version = "1." + std::to_string(i) + ".0";
        r.kind = i < 2 ? 1 : 0;
        view->model()->rows.push_back(r);
        lumo::gui::Bitmap picture;
        picture.w = 136;
        picture.h = 24;
        picture.pixels.assign(size_t(picture.w) * size_t(picture.h), 0xFF405060u + uint32_t(i));
        view->model()->pictures.give(r.id, tqapp::art::Kind::Row, "2x", std::move(picture));
    }
    view->setSize(view->minimumWidth(), view->pageHeight());
    view->changed();
    view->selectIndex(6);
    view->setScroll(3 * view->rowPitch());
    return view;
}

lumo::gui::Canvas canvasFor(const tqapp::ManagerView& view) {
    lumo::gui::Canvas c;
    c.resize(int(view.bounds.w * kScale), int(view.bounds.h * kScale));
    return c;
}

// Nanoseconds per memset of the canvas, measured in the same run.
double memsetNs(lumo::gui::Canvas& c) {
    constexpr int kRounds = 400;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        std::memset(c.pixels.data(), i & 0xFF, c.pixels.size() * sizeof(c.pixels[0]));
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / kRounds;
}

void PixelWindowPaint(benchmark::State& state) {
    auto view = makeView();
    lumo::gui::Canvas c = canvasFor(*view);
    const lumo::gui::Paint p{c, lumo::gui::Rect{0, 0, c.width, c.height}, kScale, false, {}, {}};
    view->draw(p);  // the resized row pictures are made once, as in the window
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        view->draw(p);
        benchmark::DoNotOptimize(c.pixels.data());
    }
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                      double(std::max<int64_t>(1, int64_t(state.iterations())));
    state.counters["x_memset"] = ns / memsetNs(c);
}

// 2,000 rows with row pictures at 1x and 2x in a cache folder, as a load leaves them.
struct ScrollFixture : support::TempDir {
    std::shared_ptr<tqm::LoadedCatalog> catalog = std::make_shared<tqm::LoadedCatalog>();
    std::string dir = path() + "/art";

    ScrollFixture() : TempDir("tqapp-bench-scroll") {
        catalog->ok = true;
        for (int i = 0; i < 2000; ++i) {
            tqm::Plugin p;
            p.id = "p" + std::to_string(i);
            p.name = "Plug-in number " + std::to_string(i);
            p.version = "1.0." + std::to_string(i % 40);
            for (const int k : {1, 2}) {
                const int w = 68 * k, h = 12 * k;
                const std::string png =
                    lumo::gui::encodePng(w, h, std::vector<uint32_t>(size_t(w * h), 0xFF405060u + uint32_t(i)));
                const std::string rel = p.id + "@" + std::to_string(k) + "x.png";
                benchsupport::put(dir + "/" + rel, png);
                p.art_row[std::to_string(k) + "x"] = {rel, tqm::sha256Hex(png.data(), png.size()), png.size(), "", ""};
            }
            catalog->catalog.plugins.push_back(std::move(p));
        }
    }
};

void PixelScrollAPagePerFrame(benchmark::State& state) {
    static ScrollFixture f;
    auto view = std::make_unique<tqapp::ManagerView>();
    view->setModel(std::make_unique<tqapp::Model>(tqapp::Config{}, std::make_shared<lumo::gui::UiQueue>(),
                                                 std::function<void()>{}));
    tqapp::Model& model = *view->model();
    model.loading = false;
    view->firstLoadDone = true;
    model.catalog = f.catalog;
    model.pictures.setCatalog(f.catalog, f.dir);
    for (const tqm::Plugin& p : f.catalog->catalog.plugins) {
        tqm::Row r;
        r.id = p.id;
        r.name = p.name;
        r.entry = &p;
        model.rows.push_back(r);
    }
    view->setSize(view->minimumWidth(), view->pageHeight());
    view->changed();
    lumo::gui::Canvas c = canvasFor(*view);
    const lumo::gui::Paint p{c, lumo::gui::Rect{0, 0, c.width, c.height}, kScale, false, {}, {}};
    const int page = view->listRect().h, end = view->rowPitch() * 2000;
    int scroll = 0;
    // One pass over the whole list first: what is timed is scrolling a list whose pictures were
    // each resized once, as on any pass after the first.
    for (int at = 0; at < end; at += page) {
        view->setScroll(at);
        view->draw(p);
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        scroll = scroll + page < end ? scroll + page : 0;
        view->setScroll(scroll);
        view->draw(p);
        benchmark::DoNotOptimize(c.pixels.data());
    }
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                      double(std::max<int64_t>(1, int64_t(state.iterations())));
    state.counters["x_memset"] = ns / memsetNs(c);
    state.counters["decoded_MiB"] = double(model.pictures.heldBytes()) / (1 << 20);
}

void CanvasMemset(benchmark::State& state) {
    auto view = makeView();
    lumo::gui::Canvas c = canvasFor(*view);
    for (auto _ : state) {
        std::memset(c.pixels.data(), 0, c.pixels.size() * sizeof(c.pixels[0]));
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(PixelWindowPaint)->Unit(benchmark::kMicrosecond);
BENCHMARK(PixelScrollAPagePerFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(CanvasMemset)->Unit(benchmark::kMicrosecond);
