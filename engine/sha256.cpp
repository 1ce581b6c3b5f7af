// SHA-256: a portable block function and one on the x86 SHA extensions, picked once by CPUID.
#include "engine/sha256.h"

#include <cstdint>
#include <cstring>

#include "engine/util.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define TQM_SHA_X86 1
#endif

namespace tqm {

namespace {

alignas(16) const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

using BlockFn = void (*)(uint32_t state[8], const unsigned char* p, size_t blocks);

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t loadBig(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// One round with the eight working words named in rotation, so no word is moved between rounds;
// w holds the 16 schedule words of this stretch of 16 rounds, k the stretch's first round.
#define TQM_SHA_ROUND(a, b, c, d, e, f, g, h, i)                                                        \
    do {                                                                                                \
        const uint32_t t1 =                                                                             \
            h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + (g ^ (e & (f ^ g))) + kRound[k + i] + w[i];  \
        const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) | (c & (a | b)));      \
        d += t1;                                                                                        \
        h = t1 + t2;                                                                                    \
    } while (0)

inline uint32_t sigma0(uint32_t x) { return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3); }
inline uint32_t sigma1(uint32_t x) { return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10); }

void blocksPortable(uint32_t state[8], const unsigned char* p, size_t blocks) {
    uint32_t w[16];
    for (; blocks > 0; --blocks, p += 64) {
        for (int i = 0; i < 16; ++i) w[i] = loadBig(p + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
#pragma GCC unroll 4
        for (int k = 0; k < 64; k += 16) {
            if (k > 0) {
                // The next 16 schedule words replace the last 16 in place.
#pragma GCC unroll 16
                for (int i = 0; i < 16; ++i)
                    w[i] += sigma1(w[(i + 14) & 15]) + w[(i + 9) & 15] + sigma0(w[(i + 1) & 15]);
            }
            TQM_SHA_ROUND(a, b, c, d, e, f, g, h, 0);
            TQM_SHA_ROUND(h, a, b, c, d, e, f, g, 1);
            TQM_SHA_ROUND(g, h, a, b, c, d, e, f, 2);
            TQM_SHA_ROUND(f, g, h, a, b, c, d, e, 3);
            TQM_SHA_ROUND(e, f, g, h, a, b, c, d, 4);
            TQM_SHA_ROUND(d, e, f, g, h, a, b, c, 5);
            TQM_SHA_ROUND(c, d, e, f, g, h, a, b, 6);
            TQM_SHA_ROUND(b, c, d, e, f, g, h, a, 7);
            TQM_SHA_ROUND(a, b, c, d, e, f, g, h, 8);
            TQM_SHA_ROUND(h, a, b, c, d, e, f, g, 9);
            TQM_SHA_ROUND(g, h, a, b, c, d, e, f, 10);
            TQM_SHA_ROUND(f, g, h, a, b, c, d, e, 11);
            TQM_SHA_ROUND(e, f, g, h, a, b, c, d, 12);
            TQM_SHA_ROUND(d, e, f, g, h, a, b, c, 13);
            TQM_SHA_ROUND(c, d, e, f, g, h, a, b, 14);
            TQM_SHA_ROUND(b, c, d, e, f, g, h, a, 15);
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#undef TQM_SHA_ROUND

#ifdef TQM_SHA_X86

// The SHA extensions keep the state as ABEF and CDGH; each sha256rnds2 does two rounds, and
// sha256msg1/msg2 extend the message schedule four words at a time.
__attribute__((target("sha,sse4.1,ssse3"))) void blocksShaExtensions(uint32_t state[8], const unsigned char* p,
                                                                      size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; blocks > 0; --blocks, p += 64) {
        const __m128i abefStart = abef, cdghStart = cdgh;
        __m128i w[4];
        for (int i = 0; i < 4; ++i)
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), byteSwap);
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            __m128i m = _mm_add_epi32(w[g & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * g)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, m);
            m = _mm_shuffle_epi32(m, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, m);
            if (g < 12) {
                // W[g+4] = msg2(msg1(W[g], W[g+1]) + W[g+2..3] shifted by one word, W[g+3]).
                const __m128i w7 = _mm_alignr_epi8(w[(g + 3) & 3], w[(g + 2) & 3], 4);
                w[g & 3] = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(w[g & 3], w[(g + 1) & 3]), w7),
                                                w[(g + 3) & 3]);
            }
        }
        abef = _mm_add_epi32(abef, abefStart);
        cdgh = _mm_add_epi32(cdgh, cdghStart);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

bool cpuHasShaExtensions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    const bool sha = b & (1u << 29);
    return ssse3 && sse41 && sha;
}

#else

bool cpuHasShaExtensions() { return false; }

#endif

bool hasShaExtensions() {
    static const bool has = cpuHasShaExtensions();
    return has;
}

BlockFn blockFunction(detail::Sha256Path path) {
#ifdef TQM_SHA_X86
    if (path == detail::Sha256Path::ShaExtensions && hasShaExtensions()) return blocksShaExtensions;
#else
    (void)path;
#endif
    return blocksPortable;
}

std::string hashWith(BlockFn blocks, const void* data, size_t size) {
    uint32_t state[8];
    std::memcpy(state, kInitial, sizeof state);
    const unsigned char* p = static_cast<const unsigned char*>(data);
    const size_t whole = size / 64;
    if (whole > 0) blocks(state, p, whole);
    const size_t left = size - whole * 64;

    // The tail: the last bytes, 0x80, zeros and the length in bits, in one or two blocks.
    unsigned char tail[128] = {};
    if (left > 0) std::memcpy(tail, p + whole * 64, left);
    tail[left] = 0x80;
    const size_t tailLen = left < 56 ? 64 : 128;
    const uint64_t bits = uint64_t(size) * 8;
    for (int i = 0; i < 8; ++i) tail[tailLen - 1 - i] = (unsigned char)(bits >> (8 * i));
    blocks(state, tail, tailLen / 64);

    static const char kHex[] = "0123456789abcdef";
    std::string out(64, '0');
    size_t k = 0;
    for (uint32_t word : state)
        for (int shift = 28; shift >= 0; shift -= 4) out[k++] = kHex[(word >> shift) & 0xF];
    return out;
}

}  // namespace

namespace detail {

std::atomic<void (*)(size_t size)> sha256Watch{nullptr};

bool sha256HasShaExtensions() { return hasShaExtensions(); }

std::string sha256HexWith(Sha256Path path, const void* data, size_t size) {
    return hashWith(blockFunction(path), data, size);
}

}  // namespace detail

std::string sha256Hex(const void* data, size_t size) {
    static const BlockFn best = blockFunction(detail::Sha256Path::ShaExtensions);
    if (auto watch = detail::sha256Watch.load(std::memory_order_relaxed)) watch(size);
    return hashWith(best, data, size);
}

}  // namespace tqm
