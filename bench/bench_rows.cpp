// List rows: tqm::deriveRows over 2,000 catalog entries with receipts and items on disk,
// against the floor of only looking up the same paths on disk (x_lstat).
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/tqm.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPlugins = 1950;
constexpr int kApps = 50;

tqm::FileRef fileRef(const std::string& item, const std::string& exe = "") {
    return {"pkg/" + item + ".zip", std::string(64, '0'), 1000, item, exe};
}

struct Fixture : support::TempDir {
    tqm::Layout layout;
    tqm::Catalog catalog;
    tqm::Receipt receipt, apps;
    std::vector<std::string> looked;  // every path deriveRows checks

    Fixture() : TempDir("tqm-bench-rows") {
        layout.root = path() + "/root";
        for (int i = 0; i < kPlugins; ++i) {
            const std::string n = "P" + std::to_string(i);
            tqm::Plugin p;
            p.id = "vendor." + n;
            p.name = n;
            p.version = i % 3 ? "1.2.0" : "1.3.0";
            for (const std::string& f : tqm::formatsHere()) {
                const std::string item = n + "." + f;
                p.packages[f]["mac"] = fileRef(item);
                const std::string installed = layout.formatDir(f) + "/" + item;
                const std::string copy = layout.formatRoot(f) + "/" + item;
                looked.push_back(copy);
                if (i % 4 == 3) continue;  // a quarter not installed
                receipt.plugins[p.id].formats[f] = {"1.2.0", installed, std::string(64, '0'), "2024-01-01T00:00:00Z", "", ""};
                fs::create_directories(installed);
                looked.push_back(installed);
                if (i % 50 == 0) fs::create_directories(copy);
            }
            catalog.plugins.push_back(std::move(p));
        }
        for (int i = 0; i < kApps; ++i) {
            const std::string n = "App" + std::to_string(i);
            tqm::Plugin a;
            a.id = "vendor." + n;
            a.name = n;
            a.version = "2.0";
            a.is_app = true;
            a.packages["app"]["mac"] = fileRef(n + ".app", n);
            const std::string bundle = layout.appsDir() + "/" + n + ".app";
            fs::create_directories(bundle + "/Contents/MacOS");
            std::ofstream(bundle + "/Contents/MacOS/" + n) << "#!";
            std::ofstream(bundle + "/Contents/Info.plist")
                << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                   "<key>CFBundleShortVersionString</key><string>1.9</string></dict></plist>\n";
            apps.plugins[a.id].formats["app"] = {"1.9", bundle, std::string(64, '0'), "2024-01-01T00:00:00Z", n, ""};
            looked.push_back(bundle + "/Contents/MacOS/" + n);
            looked.push_back(bundle + "/Contents/Info.plist");
            catalog.apps.push_back(std::move(a));
        }
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// The floor: one lstat per path that the rows look at, nothing else.
void statOnly(const Fixture& f) {
    int found = 0;
    for (const std::string& p : f.looked) {
        struct stat st {};
        found += ::lstat(p.c_str(), &st) == 0;
    }
    benchmark::DoNotOptimize(found);
}

// Seconds per call of work, over enough calls.
template <class Work>
double secondsPer(Work work) {
    constexpr int kRounds = 20;
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() / kRounds;
}

// x_lstat: deriveRows against the floor, measured in the same run.
void BM_DeriveRows(benchmark::State& state) {
    Fixture& f = fixture();
    const auto derive = [&] {
        std::vector<tqm::Row> rows = tqm::deriveRows(&f.catalog, f.receipt, f.layout, "1.0.0", f.apps);
        benchmark::DoNotOptimize(rows.data());
    };
    for (auto _ : state) derive();
    state.SetItemsProcessed(int64_t(state.iterations()) * (kPlugins + kApps));
    state.counters["x_lstat"] = secondsPer(derive) / secondsPer([&] { statOnly(f); });
}
BENCHMARK(BM_DeriveRows)->Unit(benchmark::kMillisecond);

void BM_PeerStatOnly(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) statOnly(f);
    state.SetItemsProcessed(int64_t(state.iterations()) * (kPlugins + kApps));
}
BENCHMARK(BM_PeerStatOnly)->Unit(benchmark::kMillisecond);

}  // namespace
