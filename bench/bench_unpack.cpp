// Package unpacking and install against the unzip command extracting the same zip into a fresh
// folder: a wide package of large files, and a deep one of small files in a chain of 2,000
// folders. The last benchmark reports the ratios of the mean times measured in this run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "bench/bench_support.h"
#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/unpack.h"
#include "engine/util.h"
#include "support/zip_write.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 1600;
constexpr size_t kFileSize = 128 << 10;  // 1600 x 128 KiB = 200 MiB

struct Fixture : support::TempDir {
    std::string zipPath, zip;
    tqm::Plugin entry;
    Fixture() : TempDir("lumo-bench-unpack") {
        std::vector<support::ZipItem> items;
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
            items.push_back(support::zipFile("Big.vst3/Contents/Resources/d" + std::to_string(i % 40) + "/f" +
                                                     std::to_string(i) + ".bin",
                                                 body, 0644, true));
        }
        zip = support::makeZip(items);
        zipPath = path() + "/Big.zip";
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
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// 4,000 small files, two in each folder of a chain 2,000 deep, each folder listed before its
// files as zip tools write them. The deepest names stay short enough for unzip's full paths.
constexpr int kDeepLevels = 2000;

struct DeepFixture : support::TempDir {
    std::string zipPath, zip;
    DeepFixture() : TempDir("lumo-bench-deep") {
        std::vector<support::ZipItem> items;
        std::string folder = "Deep.vst3/";
        for (int level = 0; level < kDeepLevels; ++level) {
            items.push_back(support::zipDir(folder));
            for (const char* f : {"a", "b"})
                items.push_back(support::zipFile(folder + f, "level " + std::to_string(level) + " " + f));
            folder += "d/";
        }
        zip = support::makeZip(items);
        zipPath = path() + "/Deep.zip";
        std::ofstream(zipPath, std::ios::binary).write(zip.data(), std::streamsize(zip.size()));
    }
};

DeepFixture& deepFixture() {
    static DeepFixture f;
    return f;
}

double g_unzip = 0, g_unpack = 0, g_install = 0, g_deepUnzip = 0, g_deepUnpack = 0;

template <class Body>
void timed(benchmark::State& state, double& mean, Body body, const std::string& out = fixture().path() + "/out",
           int64_t bytes = int64_t(kFiles * kFileSize)) {
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
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
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

void BM_DeepPeerUnzip(benchmark::State& state) {
    timed(
        state, g_deepUnzip,
        [](const std::string& out) {
            std::string cmd = "unzip -q '" + deepFixture().zipPath + "' -d '" + out + "'";
            return std::system(cmd.c_str()) == 0;
        },
        deepFixture().path() + "/out", int64_t(deepFixture().zip.size()));
}
// unzip checks every folder of every path again: minutes for this shape, so it runs once.
BENCHMARK(BM_DeepPeerUnzip)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_DeepUnpack(benchmark::State& state) {
    timed(
        state, g_deepUnpack,
        [](const std::string& out) {
            std::string error;
            return tqm::detail::unpack(deepFixture().zip, out, "Deep.vst3", error);
        },
        deepFixture().path() + "/out", int64_t(deepFixture().zip.size()));
}
BENCHMARK(BM_DeepUnpack)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_Ratios(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(g_unzip);
    state.counters["unpack/unzip"] = g_unzip > 0 ? g_unpack / g_unzip : 0;
    state.counters["install/unzip"] = g_unzip > 0 ? g_install / g_unzip : 0;
    state.counters["deep unpack/unzip"] = g_deepUnzip > 0 ? g_deepUnpack / g_deepUnzip : 0;
}
BENCHMARK(BM_Ratios)->Iterations(1);

}  // namespace
