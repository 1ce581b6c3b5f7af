// A job of 50 small package installs through Model::run (worker, download phase, permission
// probes, result lines, log, posts) against tqm::runTasks on the same list directly. Both
// reinstall over the previous round, from the warm package cache.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/tqm.h"
#include "manager/model/model.h"
#include "support/zip_write.h"
#include "tools/catalog_signing.h"

namespace {

constexpr int kPackages = 50;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "bench_job: %s\n", why.c_str());
    std::abort();
}

struct JobFixture : support::TempDir {
    tqapp::Config config;
    tqm::LoadedCatalog loaded;
    std::vector<tqm::Task> tasks;

    JobFixture() : TempDir("tqapp-bench-job") {
        const catalogsign::KeyPair keys = catalogsign::makeKeyPair();
        config.layout.root = path() + "/root";
        config.source = path() + "/source";
        config.pub = catalogsign::toHex(keys.publicKey);
        std::string t = "{\"schema\": 1, \"sequence\": 1, \"plugins\": [";
        for (int i = 0; i < kPackages; ++i) {
            const std::string id = "p" + std::to_string(i), item = id + ".vst3";
            const std::string zip = support::makeZip(
                {support::zipDir(item + "/"), support::zipFile(item + "/Contents/Info.plist", "plist " + id),
                 support::zipFile(item + "/Contents/MacOS/" + id, std::string(4096, 'b'), 0755)});
            const std::string rel = "plugins/" + id + ".zip";
            benchsupport::put(config.source + "/" + rel, zip);
            t += std::string(i ? ", " : "") + "{\"id\": \"" + id + "\", \"name\": \"" + id +
                 "\", \"version\": \"1.0.0\", \"packages\": {\"vst3\": {\"mac\": {\"path\": \"" + rel +
                 "\", \"sha256\": \"" + tqm::sha256Hex(zip.data(), zip.size()) +
                 "\", \"size\": " + std::to_string(zip.size()) + ", \"item\": \"" + item + "\"}}}}";
            tasks.push_back({"install", id, "vst3"});
        }
        t += "]}";
        benchsupport::put(config.source + "/catalog.json", t);
        benchsupport::put(config.source + "/catalog.json.sig", catalogsign::signBase64(keys.secretKey, t));
        loaded = tqm::loadCatalog(tqm::Source(config.source), config.pub, config.layout.userData(), false);
        if (!loaded.ok) fail(loaded.note);
        // Installed once, so that every round below replaces what is there.
        const tqm::Source source(config.source);
        tqm::Engine engine = this->engine(source);
        std::vector<std::string> lines;
        if (tqm::runTasks(engine, tasks, lines)) fail(lines.front());
    }

    tqm::Engine engine(const tqm::Source& source) const {
        tqm::Engine e;
        e.layout = config.layout;
        e.source = &source;
        e.catalog = &loaded.catalog;
        return e;
    }
};

JobFixture& jobFixture() {
    static JobFixture f;
    return f;
}

void BM_JobOf50Installs(benchmark::State& state) {
    JobFixture& f = jobFixture();
    benchsupport::UiPump ui;
    tqapp::Model model(f.config, ui.queue, {});
    model.catalog = std::make_shared<tqm::LoadedCatalog>(f.loaded);
    model.loading = false;
    for (auto _ : state) {
        model.run(f.tasks, "Installing", "Installed");
        ui.pumpWhile([&] { return model.busy; });
        if (!model.ok) state.SkipWithError(model.note.c_str());
    }
}
BENCHMARK(BM_JobOf50Installs)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PeerRunTasks(benchmark::State& state) {
    JobFixture& f = jobFixture();
    const tqm::Source source(f.config.source);
    for (auto _ : state) {
        tqm::Engine engine = f.engine(source);
        std::string error;
        std::vector<std::string> lines;
        if (!engine.loadReceipt(error) || tqm::runTasks(engine, f.tasks, lines)) state.SkipWithError("a task failed");
        benchmark::DoNotOptimize(lines.data());
    }
}
BENCHMARK(BM_PeerRunTasks)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
