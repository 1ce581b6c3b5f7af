// The manager's program from process start to its first full paint (headless, written as a PNG)
// on a 2,000-entry demo catalog, against loadCatalog + deriveRows of the same catalog in this
// process, both in one run; with the program's peak resident memory.
//
// And the program in a real window as a user sees it (on the X display of the run; skipped
// without one): from its start to the first picture of its window that shows the rows, read back
// from the X server, against a program that only loads the same catalog (bench_load_peer), started
// alike. Counters: rows_ms, load_ms (medians) and x_load (the median of paired ratios).
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/harness.h"
#include "app/host.h"
#include "engine/load.h"
#include "engine/rows.h"
#include "engine/source.h"
#include "manager/model/config.h"
#include "manager/view/view.h"
#include "platform/platform.h"
#include "tools/demo/demo_catalog.h"

// Xlib's macros after every other name.
#include "support/x11_watch.h"
#include <X11/Xutil.h>

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

// ---- the real window

constexpr const char* kWindowSize = "564x720";

// Starts words with the fixture's HOME and this process's display; the child's id, -1 on failure.
pid_t spawn(const Fixture& f, std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::string home = "HOME=" + f.dir + "/home";
    std::string display = std::string("DISPLAY=") + std::getenv("DISPLAY");
    char* envp[] = {home.data(), display.data(), nullptr};
    pid_t pid = -1;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp) == 0 ? pid : -1;
}

std::vector<std::string> programWords(const Fixture& f) {
    return {LUMO_APP_PROGRAM, "--root", f.dir + "/root", "--source", f.dir + "/catalog", "--pub", f.pub,
            "--size",         kWindowSize};
}

// Where the first row lies in the window: the same editor made here, headless, from the same words.
bool firstRow(const Fixture& f, lumo::gui::Rect& r) {
    std::vector<std::string> words = programWords(f);
    words.push_back("--dump-tree");
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    lumo::storeStandaloneArgs(int(argv.size()), argv.data());
    setenv("HOME", (f.dir + "/home").c_str(), 1);
    tqapp::StandaloneHost host;
    std::unique_ptr<lumo::gui::Editor> editor = tqapp::createManagerEditor(host);
    host.editor = editor.get();
    tqapp::EntryOptions o;
    tqapp::parseSize(kWindowSize, o.width, o.height);
    tqapp::applyEntryOptions(*editor, o);
    editor->drainPosted();
    // The first line may be a heading; the first row is among the first few lines.
    for (int line = 0; line < 4; ++line) {
        int count = 0;
        if (editor->findByName(("item:row:" + std::to_string(line)).c_str(), &count, &r) && count > 0 && !r.empty())
            return true;
    }
    return false;
}

// Whether the first row's rectangle of the window shows anything yet: before the rows it is bare
// (one colour).
bool showsRow(Display* d, Window w, const lumo::gui::Rect& r) {
    XImage* image = XGetImage(d, w, r.x, r.y, unsigned(r.w), unsigned(r.h), AllPlanes, ZPixmap);
    if (!image) return false;
    const unsigned long first = XGetPixel(image, 0, 0);
    bool more = false;
    for (int y = 0; y < r.h && !more; ++y)
        for (int x = 0; x < r.w && !more; ++x) more = XGetPixel(image, x, y) != first;
    XDestroyImage(image);
    return more;
}

double medianOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

void BM_WindowStartToRows(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.error.empty() || f.pub.empty()) {
        state.SkipWithError(("no demo catalog: " + f.error).c_str());
        return;
    }
    if (!std::getenv("DISPLAY")) {
        state.SkipWithError("no X display: run under xvfb-run");
        return;
    }
    support::X11Watch screen;
    lumo::gui::Rect row;
    if (!screen.ok() || !firstRow(f, row)) {
        state.SkipWithError("cannot open the X display, or no first row in the window");
        return;
    }
    std::vector<double> rows, loads, ratios;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        const pid_t program = spawn(f, programWords(f));
        // The window's pixels come with no event: read back as often as the server answers.
        const bool seen = program > 0 && screen.waitUntil(program, t0 + std::chrono::seconds(20), [&](Window w) {
            return showsRow(screen.display(), w, row);
        }, 0);
        const double shown = seen ? std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() : -1;
        if (program > 0) {
            ::kill(program, SIGTERM);
            ::waitpid(program, nullptr, 0);
        }
        t0 = std::chrono::steady_clock::now();
        const pid_t peer = spawn(f, {LUMO_LOAD_PEER, f.dir + "/catalog", f.pub, f.dir + "/root"});
        int status = -1;
        if (peer > 0) ::waitpid(peer, &status, 0);
        const double load = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (shown < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError(shown < 0 ? "the window never showed the rows" : "the peer did not load the catalog");
            return;
        }
        state.SetIterationTime(shown);
        rows.push_back(shown);
        loads.push_back(load);
        ratios.push_back(shown / load);
    }
    state.counters["rows_ms"] = medianOf(rows) * 1000.0;
    state.counters["load_ms"] = medianOf(loads) * 1000.0;
    state.counters["x_load"] = medianOf(ratios);
}
BENCHMARK(BM_WindowStartToRows)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(21);

}  // namespace
