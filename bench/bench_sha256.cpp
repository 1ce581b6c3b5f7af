// Package hashing over 64 MiB: tqm::sha256Hex against libsodium's and OpenSSL's SHA-256.
#include <benchmark/benchmark.h>
#include <openssl/sha.h>
#include <sodium.h>

#include <vector>

#include "engine/util.h"

namespace {

const std::vector<unsigned char>& buffer() {
    static std::vector<unsigned char> b = [] {
        std::vector<unsigned char> v(64u << 20);
        for (size_t i = 0; i < v.size(); ++i) v[i] = (unsigned char)(i * 2654435761u >> 24);
        return v;
    }();
    return b;
}

void BM_TqmSha256(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(tqm::sha256Hex(buffer().data(), buffer().size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buffer().size()));
}

void BM_PeerSodiumSha256(benchmark::State& state) {
    if (sodium_init() < 0) state.SkipWithError("sodium_init failed");
    unsigned char out[crypto_hash_sha256_BYTES];
    for (auto _ : state) {
        crypto_hash_sha256(out, buffer().data(), buffer().size());
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buffer().size()));
}

void BM_PeerOpenSslSha256(benchmark::State& state) {
    unsigned char out[SHA256_DIGEST_LENGTH];
    for (auto _ : state) {
        SHA256(buffer().data(), buffer().size(), out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buffer().size()));
}

BENCHMARK(BM_TqmSha256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerSodiumSha256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerOpenSslSha256)->Unit(benchmark::kMillisecond);

}  // namespace
