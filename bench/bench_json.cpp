// Parsing catalog-shaped documents of 1 MiB and 20 MiB: lumo::Json against RapidJSON's DOM and
// nlohmann::json on the same text, in the same run.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <nlohmann/json.hpp>
#include <string>

#include "json/json.h"

namespace {

std::string catalogText(size_t bytes) {
    std::string s = "{\"schema\":1,\"sequence\":42,\"items\":[";
    for (int i = 0; s.size() < bytes; ++i) {
        if (i) s += ",";
        s += "{\"id\":\"synth" + std::to_string(i) +
             "\",\"name\":\"Synth \\u00e9\",\"version\":\"1.2." + std::to_string(i) +
             "\",\"files\":{\"mac\":{\"vst3\":{\"path\":\"p/s.zip\",\"size\":123456,"
             "\"sha256\":\"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\"}}},"
             "\"tags\":[1,2.5,true,null]}";
    }
    return s + "]}";
}

const std::string& text(int64_t mib) {
    static const std::string small = catalogText(1u << 20);
    static const std::string large = catalogText(20u << 20);
    return mib == 1 ? small : large;
}

void BM_LumoJson(benchmark::State& state) {
    const std::string& t = text(state.range(0));
    for (auto _ : state) {
        lumo::Json v = lumo::Json::parse(t);
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}

void BM_PeerRapidJsonDom(benchmark::State& state) {
    const std::string& t = text(state.range(0));
    for (auto _ : state) {
        rapidjson::Document d;
        d.Parse(t.c_str());
        benchmark::DoNotOptimize(d);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}

void BM_PeerNlohmann(benchmark::State& state) {
    const std::string& t = text(state.range(0));
    for (auto _ : state) {
        nlohmann::json v = nlohmann::json::parse(t);
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}

BENCHMARK(BM_LumoJson)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerRapidJsonDom)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerNlohmann)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

}  // namespace
