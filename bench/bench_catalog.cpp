// Catalog loading from a folder (read, verify, parse, cache write) for a 2,000-entry catalog,
// against a peer doing the same steps with libsodium and nlohmann-json directly.
#include <benchmark/benchmark.h>
#include <sodium.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "bench/bench_support.h"
#include "engine/load.h"
#include "tools/catalog_signing.h"

namespace {

namespace fs = std::filesystem;

std::string catalogText() {
    const std::string sha(64, 'c');
    std::string t = "{\"schema\": 1, \"sequence\": 9, \"plugins\": [\n";
    for (int i = 0; i < 2000; ++i) {
        const std::string id = "plugin" + std::to_string(i);
        if (i) t += ",\n";
        t += "{\"id\": \"" + id + "\", \"name\": \"Plug-in " + std::to_string(i) +
             "\", \"version\": \"1.2." + std::to_string(i % 50) +
             "\", \"description\": \"A plug-in of the benchmark catalog.\", \"min_manager\": \"1.0\", "
             "\"art\": {\"row\": {\"1x\": {\"path\": \"art/" + id + "-row.png\", \"sha256\": \"" + sha +
             "\", \"size\": 2048}}}, \"packages\": {" + benchsupport::packagesText(id, sha) + "}}";
    }
    return t + "\n]}\n";
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Fixture : support::TempDir {
    std::string keys, signature;
    Fixture() : TempDir("bench-catalog") {
        const catalogsign::KeyPair k = catalogsign::makeKeyPair();
        keys = catalogsign::toHex(k.publicKey);
        const std::string text = catalogText();
        signature = catalogsign::signBase64(k.secretKey, text);
        fs::create_directories(path() + "/src");
        std::ofstream(path() + "/src/catalog.json", std::ios::binary) << text;
        std::ofstream(path() + "/src/catalog.json.sig", std::ios::binary) << signature;
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_LoadCatalog2000(benchmark::State& state) {
    const Fixture& f = fixture();
    const tqm::Source source(f.path() + "/src");
    for (auto _ : state) {
        tqm::LoadedCatalog r = tqm::loadCatalog(source, f.keys, f.path() + "/data", false);
        if (!r.ok) state.SkipWithError(r.note.c_str());
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(f.path() + "/src/catalog.json")));
}
BENCHMARK(BM_LoadCatalog2000)->Unit(benchmark::kMillisecond);

void BM_PeerSodiumNlohmann2000(benchmark::State& state) {
    const Fixture& f = fixture();
    const std::string pk = catalogsign::fromHex(f.keys);
    unsigned char sig[crypto_sign_BYTES];
    size_t sigLen = 0;
    for (auto _ : state) {
        const std::string text = slurp(f.path() + "/src/catalog.json");
        const std::string sigText = slurp(f.path() + "/src/catalog.json.sig");
        sodium_base642bin(sig, sizeof sig, sigText.data(), sigText.size(), "\n", &sigLen, nullptr,
                          sodium_base64_VARIANT_ORIGINAL);
        if (crypto_sign_verify_detached(sig, reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                                        reinterpret_cast<const unsigned char*>(pk.data())) != 0)
            state.SkipWithError("peer: signature");
        nlohmann::json doc = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(doc);
        fs::create_directories(f.path() + "/peer");
        std::ofstream(f.path() + "/peer/catalog.json", std::ios::binary) << text;
        std::ofstream(f.path() + "/peer/catalog.json.sig", std::ios::binary) << sigText;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(f.path() + "/src/catalog.json")));
}
BENCHMARK(BM_PeerSodiumNlohmann2000)->Unit(benchmark::kMillisecond);

}  // namespace
