// The row list's change: re-sort by name, display list with headers, selection and scroll clamp,
// for 2,000 rows, against std::sort of the same rows by name alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gui/ui_queue.h"
#include "manager/model/model.h"
#include "manager/view/view.h"

namespace {

constexpr int kRows = 2000;

std::vector<tqm::Row> makeRows() {
    std::mt19937 rng(7);
    std::vector<tqm::Row> rows(kRows);
    for (int i = 0; i < kRows; ++i) {
        tqm::Row& r = rows[size_t(i)];
        r.id = "vendor.p" + std::to_string(i);
        r.name = "";
        for (int k = 0; k < 12; ++k) r.name += char((k == 0 ? 'A' : 'a') + int(rng() % 26));
        r.state = tqm::State(rng() % 6);
        r.version = std::to_string(rng() % 4) + "." + std::to_string(rng() % 12);
        r.kind = i % 40 == 0 ? 1 : 0;
    }
    return rows;
}

// The peer: the same rows' indices sorted by name with std::sort.
void sortByName(const std::vector<tqm::Row>& rows, std::vector<int>& order) {
    order.resize(rows.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = int(i);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return rows[size_t(a)].name < rows[size_t(b)].name; });
    benchmark::DoNotOptimize(order.data());
}

// Nanoseconds per peer sort, measured in the same run.
double sortNs(const std::vector<tqm::Row>& rows) {
    constexpr int kRounds = 200;
    std::vector<int> order;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) sortByName(rows, order);
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / kRounds;
}

void ViewChanged(benchmark::State& state) {
    tqapp::ManagerView view;
    view.setModel(std::make_unique<tqapp::Model>(tqapp::Config{}, std::make_shared<lumo::gui::UiQueue>(),
                                                std::function<void()>{}));
    view.model()->loading = false;
    view.firstLoadDone = true;  // no first-load offers in the loop
    view.model()->rows = makeRows();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        view.changed();
        benchmark::DoNotOptimize(view.displayList().data());
    }
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                      double(std::max<int64_t>(1, int64_t(state.iterations())));
    state.counters["x_sort"] = ns / sortNs(view.model()->rows);
    state.SetItemsProcessed(state.iterations() * kRows);
}

void SortByName(benchmark::State& state) {
    const std::vector<tqm::Row> rows = makeRows();
    std::vector<int> order;
    for (auto _ : state) sortByName(rows, order);
    state.SetItemsProcessed(state.iterations() * kRows);
}

}  // namespace

BENCHMARK(ViewChanged)->Unit(benchmark::kMicrosecond);
BENCHMARK(SortByName)->Unit(benchmark::kMicrosecond);
