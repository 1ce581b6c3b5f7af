// Package unpacking and install against the unzip command extracting the same zip into a fresh
// folder. The last benchmark reports the ratios of the mean times measured in this run.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/unpack.h"
#include "engine/util.h"
#include "tests/support/zip_maker.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 1600;
constexpr size_t kFileSize = 128 << 10;  // 1600 x 128 KiB = 200 MiB

struct Fixture {
    std::string dir, zipPath, zip;
    tqm::Plugin entry;
    Fixture() {
        char pattern[] = "/tmp/lumo-bench-unpack-XXXXXX";
        dir = mkdtemp(pattern);
        std::vector<testsupport::ZipItem> items;
        uint32_t seed = 12345;
        const char* words[] = {"gain ", "filter ", "0.25 ", "resonance ", "\n", "delay ", "mix ", "42 "};
        for (int i = 0; i < kFiles; ++i) {
            std::string body;
            body.reserve(kFileSize);
            while (body.size() < kFileSize) {
                seed = seed * 1664525u + 1013904223u;
                if (seed >> 30 == 0) body += char(seed >> 8);  // some noise so not all compresses away
                body += words[(seed >> 16) & 7];
            }
            body.resize(kFileSize);
            items.push_back(testsupport::zipFile("Big.vst3/Contents/Resources/d" + std::to_string(i % 40) + "/f" +
                                                     std::to_string(i) + ".bin",
                                                 body, 0644, true));
        }
        zip = testsupport::makeZip(items);
        zipPath = dir + "/Big.zip";
        std::ofstream(zipPath, std::ios::binary).write(zip.data(), std::streamsize(zip.size()));
        tqm::FileRef& ref = entry.packages["vst3"]["mac"];
        ref.path = "plugins/Big.zip";
        ref.size = zip.size();
        ref.sha256 = tqm::sha256Hex(zip.data(), zip.size());
        ref.item = "Big.vst3";
        entry.id = "vendor.big";
        entry.name = "Big";
        entry.version = "1.0.0";
    }
    ~Fixture() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

double g_unzip = 0, g_unpack = 0, g_install = 0;

template <class Body>
void timed(benchmark::State& state, double& mean, Body body) {
    const std::string out = fixture().dir + "/out";
    double total = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::error_code ec;
        fs::remove_all(out, ec);
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        if (!body(out)) state.SkipWithError("failed");
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    mean = state.iterations() ? total / double(state.iterations()) : 0;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFiles * kFileSize));
}

void BM_PeerUnzip(benchmark::State& state) {
    timed(state, g_unzip, [](const std::string& out) {
        std::string cmd = "unzip -q '" + fixture().zipPath + "' -d '" + out + "'";
        return std::system(cmd.c_str()) == 0;
    });
}
BENCHMARK(BM_PeerUnzip)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_Unpack(benchmark::State& state) {
    timed(state, g_unpack, [](const std::string& out) {
        std::string error;
        return tqm::detail::unpack(fixture().zip, out, "Big.vst3", error);
    });
}
BENCHMARK(BM_Unpack)->Iterations(3)->Unit(benchmark::kMillisecond);

// The whole install: digest check, unpack into staging, move into place, receipt saved.
void BM_Install(benchmark::State& state) {
    timed(state, g_install, [](const std::string& out) {
        tqm::Engine engine;
        engine.layout.root = out;
        std::string error;
        return engine.install(fixture().entry, "vst3", fixture().zip, error);
    });
}
BENCHMARK(BM_Install)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_Ratios(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(g_unzip);
    state.counters["unpack/unzip"] = g_unzip > 0 ? g_unpack / g_unzip : 0;
    state.counters["install/unzip"] = g_unzip > 0 ? g_install / g_unzip : 0;
}
BENCHMARK(BM_Ratios)->Iterations(1);

}  // namespace
