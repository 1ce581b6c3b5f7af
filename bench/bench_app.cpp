// The manager's program from process start to its first full paint (headless, written as a PNG)
// on a 2,000-entry demo catalog, against loadCatalog + deriveRows of the same catalog in this
// process, both in one run; with the program's peak resident memory.
//
// The demo's pictures (row pictures at two scales and logos at six, eight files an entry):
// BM_FillPictureCache fills an empty picture cache from the folder source, in this process and by
// the program's first start, against a plain recursive copy of the same files (x_copy,
// first_start_x_copy); BM_StartWithPictureCache is the program's start with the cache filled against
// its start on the same catalog without pictures (x_without_pictures), with its CPU time. With
// LUMO_BENCH_BEFORE naming another build of the program, that build is run beside it (before_*).
// And the program in a real window as a user sees it (on the X display of the run; skipped
// without one): from its start to the first picture of its window that shows the first row's own
// state pill, pixel for pixel as the headless paint has it, read back from the X server, against a
// program that only loads the same catalog (bench_load_peer), started alike. Counters: rows_ms,
// load_ms (medians), x_load (the median of paired ratios), first_frame_ms (the median time to the
// first frame that shows anything in the row's place) and early_frames (the starts whose first
// such frame did not show the pill yet: the loading frame, rejected).
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/layout.h"
#include "app/harness.h"
#include "app/host.h"
#include "engine/load.h"
#include "engine/util.h"
#include "engine/rows.h"
#include "engine/source.h"
#include "manager/model/config.h"
#include "manager/model/pictures.h"
#include "tools/catalog_signing.h"
#include "gui/draw/png_write.h"
#include "tools/demo/demo_art.h"
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

// Runs the program to its end; its wall time in seconds and peak resident size in bytes. By default
// this build's program on the demo catalog; cpuSeconds, when given, gets its user and system time.
bool runProgram(const Fixture& f, double& seconds, long& peakBytes, const std::string& program = LUMO_APP_PROGRAM,
                const std::string& root = "root", const std::string& source = "catalog", double* cpuSeconds = nullptr) {
    std::vector<std::string> words{program, "--root",     f.dir + "/" + root, "--source", f.dir + "/" + source,
                                   "--pub", f.pub,        "--screenshot",     f.dir + "/first-paint.png"};
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
    if (cpuSeconds)
        *cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
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

// ---- Pictures

// The picture cache of a root folder below the fixture's.
std::string artCache(const Fixture& f, const std::string& root) {
    tqm::Layout layout;
    layout.root = f.dir + "/" + root;
    return tqapp::art::cacheDir(layout.userData());
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Beside the demo catalog, two sources of the same entries, signed again, each with a root that is a
// copy of the demo's installed state: "pics" where every entry has row pictures at two scales and logos
// at six (each entry files of its own, drawn by the demo's motif of the entry), and "bare" where no
// entry has any.
bool makeSources(const Fixture& f) {
    static const bool made = [&] {
        const std::string t = readAll(f.dir + "/catalog/catalog.json");
        std::string secretHex, pics, bare;
        std::ifstream(f.dir + "/keys/secret.hex") >> secretHex;
        const std::string secret = catalogsign::fromHex(secretHex);
        std::error_code ec;
        fs::create_directories(f.dir + "/pics/art", ec);
        fs::create_directories(f.dir + "/bare", ec);
        std::map<std::pair<int, int>, std::vector<std::string>> drawn;  // encoded pictures by motif
        int entry = 0;
        for (size_t at = 0;;) {
            const size_t art = t.find("\"art\": {", at);
            const std::string before = t.substr(at, art == std::string::npos ? std::string::npos : art - at);
            pics += before;
            bare += before;
            if (art == std::string::npos) break;
            size_t i = t.find('{', art);
            for (int depth = 0; i < t.size(); ++i)
                if (t[i] == '{') ++depth;
                else if (t[i] == '}' && --depth == 0) break;
            at = i + 1;
            bare += "\"art\": {}";
            const demo::Motif motif{entry * 37 % 360, entry % 3};
            std::vector<std::string>& png = drawn[{motif.hue, motif.pattern}];
            const double rowScales[] = {1.0, 2.0}, logoScales[] = {1.0, 1.2, 1.25, 1.5, 2.0, 3.0};
            if (png.empty()) {
                for (double k : rowScales) png.push_back(lumo::gui::encodePng(demo::rowPicture(motif, k)));
                for (double k : logoScales) png.push_back(lumo::gui::encodePng(demo::logoPicture(motif, "BP", k)));
            }
            std::string row, logo;
            for (size_t k = 0; k < png.size(); ++k) {
                const double scale = k < 2 ? rowScales[k] : logoScales[k - 2];
                char label[16];
                std::snprintf(label, sizeof label, "%gx", scale);
                const std::string rel = "art/e" + std::to_string(entry) + (k < 2 ? "-row@" : "-logo@") + label + ".png";
                std::ofstream(f.dir + "/pics/" + rel, std::ios::binary) << png[k];
                std::string& to = k < 2 ? row : logo;
                to += std::string(to.empty() ? "" : ", ") + "\"" + label + "\": {\"path\": \"" + rel +
                      "\", \"sha256\": \"" + tqm::sha256Hex(png[k].data(), png[k].size()) +
                      "\", \"size\": " + std::to_string(png[k].size()) + "}";
            }
            pics += "\"art\": {\"row\": {" + row + "}, \"logo\": {" + logo + "}}";
            ++entry;
        }
        for (const char* name : {"pics", "bare"}) {
            const std::string& text = name[0] == 'p' ? pics : bare;
            std::ofstream(f.dir + "/" + name + "/catalog.json", std::ios::binary) << text;
            std::ofstream(f.dir + "/" + name + "/catalog.json.sig", std::ios::binary)
                << catalogsign::signBase64(secret, text);
            fs::copy(f.dir + "/root", f.dir + "/" + name + "-root", fs::copy_options::recursive, ec);
        }
        return !ec && entry >= kEntries;
    }();
    return made;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double ratioOf(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> r;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) r.push_back(a[i] / std::max(b[i], 1e-9));
    return median(r);
}

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string before() {
    const char* p = std::getenv("LUMO_BENCH_BEFORE");
    return p ? p : "";
}

void BM_FillPictureCache(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.error.empty() || f.pub.empty() || !makeSources(f)) {
        state.SkipWithError(("no demo catalog: " + f.error).c_str());
        return;
    }
    tqm::Layout scratch;
    scratch.root = f.dir + "/fill";
    const tqm::LoadedCatalog loaded = tqm::loadCatalog(tqm::Source(f.dir + "/pics"), f.pub, scratch.userData(), false);
    const std::string fill = f.dir + "/fill-art", copy = f.dir + "/copy-art";
    std::vector<double> mine, peer, first, old;
    size_t files = 0;
    std::error_code ec;
    for (auto _ : state) {
        fs::remove_all(fill, ec);
        fs::remove_all(copy, ec);
        auto t0 = std::chrono::steady_clock::now();
        files = tqapp::art::fetchMissing(tqm::Source(f.dir + "/pics"), fill, loaded.catalog);
        mine.push_back(since(t0));
        state.SetIterationTime(mine.back());
        state.PauseTiming();
        t0 = std::chrono::steady_clock::now();
        fs::create_directories(copy);
        fs::copy(f.dir + "/pics/art", copy + "/art", fs::copy_options::recursive, ec);
        peer.push_back(since(t0));
        // The program's first start, its picture cache empty: it fills it before its screenshot.
        long bytes = 0;
        double seconds = 0;
        fs::remove_all(artCache(f, "pics-root"), ec);
        if (!runProgram(f, seconds, bytes, LUMO_APP_PROGRAM, "pics-root", "pics")) state.SkipWithError("the program failed");
        first.push_back(seconds);
        if (!before().empty()) {
            fs::remove_all(artCache(f, "pics-root"), ec);
            if (!runProgram(f, seconds, bytes, before(), "pics-root", "pics"))
                state.SkipWithError("the program before failed");
            old.push_back(seconds);
        }
        state.ResumeTiming();
    }
    if (ec || files == 0) state.SkipWithError("nothing was fetched or copied");
    state.counters["files"] = double(files);
    uintmax_t total = 0;
    for (const auto& e : fs::recursive_directory_iterator(f.dir + "/pics/art", ec)) total += e.is_regular_file() ? e.file_size() : 0;
    state.counters["MiB"] = double(total) / (1024.0 * 1024.0);
    state.counters["copy_ms"] = median(peer) * 1000.0;
    state.counters["x_copy"] = ratioOf(mine, peer);
    state.counters["first_start_ms"] = median(first) * 1000.0;
    state.counters["first_start_x_copy"] = ratioOf(first, peer);
    if (!old.empty()) {
        state.counters["before_first_start_ms"] = median(old) * 1000.0;
        state.counters["before_first_start_x_copy"] = ratioOf(old, peer);
    }
}
BENCHMARK(BM_FillPictureCache)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_StartWithPictureCache(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.error.empty() || f.pub.empty() || !makeSources(f)) {
        state.SkipWithError(("no demo catalog: " + f.error).c_str());
        return;
    }
    double seconds = 0, cpu = 0;
    long bytes = 0;
    // The cache filled (and the catalog cached) before anything is timed.
    if (!runProgram(f, seconds, bytes, LUMO_APP_PROGRAM, "pics-root", "pics") ||
        !runProgram(f, seconds, bytes, LUMO_APP_PROGRAM, "bare-root", "bare")) {
        state.SkipWithError("the program failed");
        return;
    }
    std::vector<double> mine, bare, old, mineCpu, bareCpu, oldCpu;
    double peak = 0, barePeak = 0, oldPeak = 0;
    for (auto _ : state) {
        if (!runProgram(f, seconds, bytes, LUMO_APP_PROGRAM, "pics-root", "pics", &cpu))
            state.SkipWithError("the program failed");
        state.SetIterationTime(seconds);
        mine.push_back(seconds);
        mineCpu.push_back(cpu);
        peak = std::max(peak, double(bytes));
        state.PauseTiming();
        runProgram(f, seconds, bytes, LUMO_APP_PROGRAM, "bare-root", "bare", &cpu);
        bare.push_back(seconds);
        bareCpu.push_back(cpu);
        barePeak = std::max(barePeak, double(bytes));
        if (!before().empty()) {
            runProgram(f, seconds, bytes, before(), "pics-root", "pics", &cpu);
            old.push_back(seconds);
            oldCpu.push_back(cpu);
            oldPeak = std::max(oldPeak, double(bytes));
        }
        state.ResumeTiming();
    }
    const double MiB = 1024.0 * 1024.0;
    state.counters["x_without_pictures"] = ratioOf(mine, bare);
    state.counters["cpu_ms"] = median(mineCpu) * 1000.0;
    state.counters["without_pictures_cpu_ms"] = median(bareCpu) * 1000.0;
    state.counters["peak_MiB"] = peak / MiB;
    state.counters["without_pictures_peak_MiB"] = barePeak / MiB;
    if (!old.empty()) {
        state.counters["before_x_without_pictures"] = ratioOf(old, bare);
        state.counters["before_cpu_ms"] = median(oldCpu) * 1000.0;
        state.counters["before_peak_MiB"] = oldPeak / MiB;
    }
}
BENCHMARK(BM_StartWithPictureCache)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(11);
// ---- the real window

constexpr const char* kWindowSize = "564x720";

// Starts words with the fixture's HOME and this process's display (and its cookie); the child's
// id, -1 on failure.
pid_t spawn(const Fixture& f, std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::string home = "HOME=" + f.dir + "/home";
    std::string display = std::string("DISPLAY=") + std::getenv("DISPLAY");
    // xvfb-run's server wants its cookie.
    const char* cookie = std::getenv("XAUTHORITY");
    std::string authority = std::string("XAUTHORITY=") + (cookie ? cookie : "");
    char* envp[] = {home.data(), display.data(), cookie ? authority.data() : nullptr, nullptr};
    pid_t pid = -1;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp) == 0 ? pid : -1;
}

std::vector<std::string> programWords(const Fixture& f) {
    return {LUMO_APP_PROGRAM, "--root", f.dir + "/root", "--source", f.dir + "/catalog", "--pub", f.pub,
            "--size",         kWindowSize};
}

// The first row's state pill as the rows show it: its place in the window and its pixels
// (0xRRGGBB), and the row's place, from the same editor made here, headless, from the same words
// and painted once.
struct RowPill {
    lumo::gui::Rect row, r;
    std::vector<uint32_t> rgb;  // r.w x r.h, top row first
};

bool firstRowPill(const Fixture& f, RowPill& pill) {
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
    lumo::gui::Canvas canvas;
    tqapp::paintOnce(*editor, canvas);
    // The first line may be a heading; the first row is among the first few lines.
    lumo::gui::Rect& r = pill.r;
    for (int line = 0; line < 4; ++line) {
        int count = 0;
        const std::string at = std::to_string(line);
        if (!editor->findByName("item:rowpill:" + at, &count, &r) || count == 0 || r.empty() ||
            !editor->findByName("item:row:" + at, &count, &pill.row) || count == 0 || pill.row.empty())
            continue;
        if (r.x < 0 || r.y < 0 || r.x + r.w > canvas.width || r.y + r.h > canvas.height) return false;
        pill.rgb.clear();
        for (int y = r.y; y < r.y + r.h; ++y)
            for (int x = r.x; x < r.x + r.w; ++x)
                pill.rgb.push_back(canvas.pixels[size_t(y) * canvas.width + x] & 0xffffff);
        return true;
    }
    return false;
}

// Whether the window's rectangle r holds more than one colour: in the row's place, the loading
// frame's text does.
bool showsAnything(Display* d, Window w, const lumo::gui::Rect& r) {
    XImage* image = XGetImage(d, w, r.x, r.y, unsigned(r.w), unsigned(r.h), AllPlanes, ZPixmap);
    if (!image) return false;
    const unsigned long first = XGetPixel(image, 0, 0);
    bool more = false;
    for (int y = 0; y < r.h && !more; ++y)
        for (int x = 0; x < r.w && !more; ++x) more = XGetPixel(image, x, y) != first;
    XDestroyImage(image);
    return more;
}

// Whether the window shows the row's own pill in its place, pixel for pixel.
bool showsPill(Display* d, Window w, const RowPill& pill) {
    const lumo::gui::Rect& r = pill.r;
    XImage* image = XGetImage(d, w, r.x, r.y, unsigned(r.w), unsigned(r.h), AllPlanes, ZPixmap);
    if (!image) return false;
    bool same = true;
    for (int y = 0; y < r.h && same; ++y)
        for (int x = 0; x < r.w && same; ++x)
            same = (XGetPixel(image, x, y) & 0xffffff) == pill.rgb[size_t(y) * r.w + x];
    XDestroyImage(image);
    return same;
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
    RowPill pill;
    if (!screen.ok() || !firstRowPill(f, pill)) {
        state.SkipWithError("cannot open the X display, or no first row in the window");
        return;
    }
    std::vector<double> rows, loads, ratios, firsts;
    int early = 0;  // starts whose first frame in the row's place did not show the pill yet
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        const pid_t program = spawn(f, programWords(f));
        // The window's pixels come with no event: read back as often as the server answers.
        double first = -1;
        const bool seen = program > 0 && screen.waitUntil(program, t0 + std::chrono::seconds(20), [&](Window w) {
            const bool shows = showsPill(screen.display(), w, pill);
            if (first < 0 && (shows || showsAnything(screen.display(), w, pill.row))) {
                first = since(t0);
                early += !shows;
            }
            return shows;
        }, 0);
        const double shown = seen ? since(t0) : -1;
        if (program > 0) {
            ::kill(program, SIGTERM);
            ::waitpid(program, nullptr, 0);
        }
        t0 = std::chrono::steady_clock::now();
        const pid_t peer = spawn(f, {LUMO_LOAD_PEER, f.dir + "/catalog", f.pub, f.dir + "/root"});
        int status = -1;
        if (peer > 0) ::waitpid(peer, &status, 0);
        const double load = since(t0);
        if (shown < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError(shown < 0 ? "the window never showed the rows" : "the peer did not load the catalog");
            return;
        }
        state.SetIterationTime(shown);
        rows.push_back(shown);
        firsts.push_back(first);
        loads.push_back(load);
        ratios.push_back(shown / load);
    }
    state.counters["rows_ms"] = median(rows) * 1000.0;
    state.counters["first_frame_ms"] = median(firsts) * 1000.0;
    state.counters["early_frames"] = early;
    state.counters["load_ms"] = median(loads) * 1000.0;
    state.counters["x_load"] = median(ratios);
}
BENCHMARK(BM_WindowStartToRows)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(21);

}  // namespace
