// Package hashing over 64 MiB: tqm::sha256Hex (the path the CPU picks, and the portable path alone)
// against libsodium's and OpenSSL's SHA-256. The buffer is filled before any timing starts.
#include <benchmark/benchmark.h>
#include <openssl/sha.h>
#include <sodium.h>

#include <vector>

#include "engine/sha256.h"
#include "engine/util.h"

namespace {

const std::vector<unsigned char>& buffer() {
    static const std::vector<unsigned char> b = [] {
        std::vector<unsigned char> v(64u << 20);
        for (size_t i = 0; i < v.size(); ++i) v[i] = (unsigned char)(i * 2654435761u >> 24);
        return v;
    }();
    return b;
}

void BM_TqmSha256(benchmark::State& state) {
    const auto& b = buffer();
    for (auto _ : state) benchmark::DoNotOptimize(tqm::sha256Hex(b.data(), b.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.size()));
    state.SetLabel(tqm::detail::sha256HasShaExtensions() ? "SHA extensions" : "portable");
}

void BM_TqmSha256Portable(benchmark::State& state) {
    const auto& b = buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(tqm::detail::sha256HexWith(tqm::detail::Sha256Path::Portable, b.data(), b.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.size()));
}

void BM_PeerSodiumSha256(benchmark::State& state) {
    if (sodium_init() < 0) state.SkipWithError("sodium_init failed");
    const auto& b = buffer();
    unsigned char out[crypto_hash_sha256_BYTES];
    for (auto _ : state) {
        crypto_hash_sha256(out, b.data(), b.size());
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.size()));
}

void BM_PeerOpenSslSha256(benchmark::State& state) {
    const auto& b = buffer();
    unsigned char out[SHA256_DIGEST_LENGTH];
    for (auto _ : state) {
        SHA256(b.data(), b.size(), out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.size()));
}

BENCHMARK(BM_TqmSha256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TqmSha256Portable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerSodiumSha256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerOpenSslSha256)->Unit(benchmark::kMillisecond);

}  // namespace
