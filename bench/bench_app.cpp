// The manager's program from process start to its first full paint (headless, written as a PNG)
// on a 2,000-entry demo catalog, against loadCatalog + deriveRows of the same catalog in this
// process, both in one run; with the program's peak resident memory.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/load.h"
#include "engine/rows.h"
#include "engine/source.h"
#include "manager/model/config.h"
#include "tools/demo/demo_catalog.h"

namespace fs = std::filesystem;

namespace {

constexpr int kNamed = 12;  // the demo's own plug-ins; the rest are bulk entries
constexpr int kEntries = 2000;

struct Fixture {
    std::string dir, pub, error;

    Fixture() {
        std::string pattern = (fs::temp_directory_path() / "tqapp-bench-app-XXXXXX").string();
        dir = mkdtemp(pattern.data()) ? pattern : std::string();
        demo::Options o;
        o.out = dir;
        o.entries = kEntries - kNamed;
        o.paddingKb = 0;
        if (dir.empty() || !demo::makeDemo(o, error)) return;
        std::ifstream(dir + "/keys/public.hex") >> pub;
        fs::create_directories(dir + "/home");
    }
    ~Fixture() {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// Runs the program to its end; its wall time in seconds and peak resident size in bytes.
bool runProgram(const Fixture& f, double& seconds, long& peakBytes) {
    std::vector<std::string> words{LUMO_APP_PROGRAM, "--root",     f.dir + "/root", "--source", f.dir + "/catalog",
                                   "--pub",          f.pub,        "--screenshot",  f.dir + "/first-paint.png"};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::string home = "HOME=" + f.dir + "/home";
    char* envp[] = {home.data(), nullptr};
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp) != 0) return false;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return false;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    peakBytes = usage.ru_maxrss * 1024L;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double loadAndDerive(const Fixture& f, size_t& rows) {
    tqm::Layout layout;
    layout.root = f.dir + "/root";
    const auto t0 = std::chrono::steady_clock::now();
    const tqm::Source source(f.dir + "/catalog");
    tqm::LoadedCatalog loaded = tqm::loadCatalog(source, f.pub, layout.userData(), false);
    tqm::Receipt receipt, apps;
    std::string error;
    receipt.load(layout.receiptFile(), error);
    apps.load(layout.appsReceiptFile(), error);
    const std::vector<tqm::Row> list = tqm::deriveRows(&loaded.catalog, receipt, layout, tqapp::kVersion, apps);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    rows = loaded.ok ? list.size() : 0;
    return seconds;
}

void BM_ProgramStartToFirstPaint(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.error.empty() || f.pub.empty()) {
        state.SkipWithError(("no demo catalog: " + f.error).c_str());
        return;
    }
    double program = 0, peer = 0;
    long peak = 0;
    int n = 0;
    for (auto _ : state) {
        double seconds = 0;
        long bytes = 0;
        if (!runProgram(f, seconds, bytes)) {
            state.SkipWithError("the program failed");
            return;
        }
        size_t rows = 0;
        const double floor = loadAndDerive(f, rows);
        if (rows < size_t(kEntries)) {
            state.SkipWithError("the peer listed too few rows");
            return;
        }
        state.SetIterationTime(seconds);
        program += seconds;
        peer += floor;
        peak = std::max(peak, bytes);
        ++n;
    }
    state.counters["program_ms"] = program / n * 1000.0;
    state.counters["load_rows_ms"] = peer / n * 1000.0;
    state.counters["ratio"] = program / peer;
    state.counters["peak_MiB"] = double(peak) / (1024.0 * 1024.0);
}
BENCHMARK(BM_ProgramStartToFirstPaint)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

}  // namespace
