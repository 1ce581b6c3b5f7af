// The manager's catalog load: Model::start to rows ready (worker, queue, pictures from the cache)
// for a 2,000-entry catalog, against the floor of loadCatalog + deriveRows alone on the same data.
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/load.h"
#include "engine/rows.h"
#include "engine/util.h"
#include "manager/model/model.h"
#include "manager/model/pictures.h"
#include "gui/draw/png_write.h"
#include "tools/catalog_signing.h"

namespace {

using benchsupport::put;

constexpr int kEntries = 2000;

struct Fixture : support::TempDir {
    tqapp::Config config;

    Fixture() : TempDir("tqapp-bench-model") {
        const catalogsign::KeyPair keys = catalogsign::makeKeyPair();
        // Every picture its own: a row picture and a logo of a colour per entry.
        auto picture = [](int w, int h, uint32_t argb, std::string& ref) {
            std::string png = lumo::gui::encodePng(w, h, std::vector<uint32_t>(size_t(w) * h, argb));
            ref = "\"sha256\": \"" + tqm::sha256Hex(png.data(), png.size()) + "\", \"size\": " +
                  std::to_string(png.size()) + "}";
            return png;
        };
        config.layout.root = path() + "/root";
        config.source = path() + "/source";
        config.pub = catalogsign::toHex(keys.publicKey);
        const std::string cache = tqapp::art::cacheDir(config.layout.userData());
        const std::string sha(64, 'c');
        std::string t = "{\"schema\": 1, \"sequence\": 9, \"plugins\": [\n";
        for (int i = 0; i < kEntries; ++i) {
            const std::string id = "plugin" + std::to_string(i);
            std::string rowRef, logoRef;
            const std::string row = picture(48, 12, 0xFF000000u | uint32_t(i) * 2654435761u >> 8, rowRef);
            const std::string logo = picture(16, 16, 0xFF000000u | uint32_t(i) * 40503u, logoRef);
            if (i) t += ",\n";
            t += "{\"id\": \"" + id + "\", \"name\": \"Plug-in " + std::to_string(i) + "\", \"version\": \"1.2." +
                 std::to_string(i % 50) + "\", \"description\": \"A plug-in of the benchmark catalog.\", " +
                 "\"art\": {\"row\": {\"1x\": {\"path\": \"art/" + id + "-row.png\", " + rowRef +
                 "}, \"logo\": {\"1x\": {\"path\": \"art/" + id + "-logo.png\", " + logoRef + "}}, \"packages\": {" +
                 benchsupport::packagesText(id, sha) + "}}";
            put(cache + "/art/" + id + "-row.png", row);
            put(cache + "/art/" + id + "-logo.png", logo);
        }
        t += "\n]}\n";
        put(config.source + "/catalog.json", t);
        put(config.source + "/catalog.json.sig", catalogsign::signBase64(keys.secretKey, t));
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_ModelStartToRows(benchmark::State& state) {
    Fixture& f = fixture();
    benchsupport::UiPump ui;
    for (auto _ : state) {
        auto owned = std::make_unique<tqapp::Model>(f.config, ui.queue, std::function<void()>());
        tqapp::Model& model = *owned;
        model.start();
        ui.pumpWhile([&] { return model.loading; });
        if (!model.catalog->ok || model.pictures.size() != size_t(kEntries) ||
            model.pictures["plugin7"].logo["1x"].empty())
            state.SkipWithError("the load failed");
        benchmark::DoNotOptimize(model.rows.data());
        state.PauseTiming();  // rows are ready: tearing the model down is not part of it
        owned.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ModelStartToRows)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PeerLoadAndRows(benchmark::State& state) {
    Fixture& f = fixture();
    const tqm::Source source(f.config.source);
    for (auto _ : state) {
        tqm::LoadedCatalog loaded = tqm::loadCatalog(source, f.config.pub, f.config.layout.userData(), false);
        tqm::Receipt receipt, apps;
        std::string error;
        receipt.load(f.config.layout.receiptFile(), error);
        apps.load(f.config.layout.appsReceiptFile(), error);
        std::vector<tqm::Row> rows = tqm::deriveRows(&loaded.catalog, receipt, f.config.layout, "0.3.0", apps);
        if (!loaded.ok) state.SkipWithError("the load failed");
        benchmark::DoNotOptimize(rows.data());
        state.PauseTiming();
        rows = {};
        loaded = {};
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PeerLoadAndRows)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
