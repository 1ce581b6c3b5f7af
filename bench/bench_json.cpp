// Parsing a catalog-shaped document: lumo::Json against nlohmann::json on the same text.
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <string>

#include "json/json.h"

namespace {

std::string catalogText(int items) {
    std::string s = "{\"schema\":1,\"sequence\":42,\"items\":[";
    for (int i = 0; i < items; ++i) {
        if (i) s += ",";
        s += "{\"id\":\"synth" + std::to_string(i) +
             "\",\"name\":\"Synth \\u00e9\",\"version\":\"1.2." + std::to_string(i) +
             "\",\"files\":{\"mac\":{\"vst3\":{\"path\":\"p/s.zip\",\"size\":123456,"
             "\"sha256\":\"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\"}}},"
             "\"tags\":[1,2.5,true,null]}";
    }
    return s + "]}";
}

const std::string& text() {
    static const std::string t = catalogText(500);
    return t;
}

void BM_LumoJsonParse(benchmark::State& state) {
    for (auto _ : state) {
        lumo::Json v = lumo::Json::parse(text());
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text().size()));
}
BENCHMARK(BM_LumoJsonParse);

void BM_PeerNlohmannParse(benchmark::State& state) {
    for (auto _ : state) {
        nlohmann::json v = nlohmann::json::parse(text());
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text().size()));
}
BENCHMARK(BM_PeerNlohmannParse);

}  // namespace
