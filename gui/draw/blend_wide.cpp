// The eight-pixels-at-a-time forms of the bitmap blends, for processors with AVX2. They give exactly
// the bits of the four-pixel forms in blend.h: the same 16-bit lane arithmetic, twice as wide. They are
// written out apart from those (not as one template of both widths) so that only these functions carry
// the AVX2 target; an inline copy built for AVX2 here could otherwise be the one every caller links to.
#include "gui/draw/blend.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LUMO_WIDE 1
#endif

namespace lumo::gui::blend {

#if defined(LUMO_WIDE)

namespace {

#define WIDE __attribute__((target("avx2")))

WIDE inline __m256i load8(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
WIDE inline void store8(uint32_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
WIDE inline __m256i alphas8() { return _mm256_set1_epi32(int32_t(0xFF000000u)); }

WIDE inline int opaque8(__m256i v) {
    return _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(v, alphas8()), alphas8())));
}
WIDE inline int clear8(__m256i v) {
    return _mm256_movemask_ps(
        _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(v, alphas8()), _mm256_setzero_si256())));
}

WIDE inline __m256i div255x16(__m256i t) {
    return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

// Eight pixels d under eight sources whose alpha bytes are their weights (over4 of blend.h, doubled).
WIDE inline __m256i over8(__m256i dv, __m256i sv) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i v255 = _mm256_set1_epi16(255), v128 = _mm256_set1_epi16(128);
    const __m256i sf = _mm256_or_si256(sv, alphas8());
    __m256i alo = _mm256_unpacklo_epi8(sv, zero), ahi = _mm256_unpackhi_epi8(sv, zero);
    alo = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(alo, 0xFF), 0xFF);
    ahi = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(ahi, 0xFF), 0xFF);
    __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(dv, zero), _mm256_sub_epi16(v255, alo)),
                                  _mm256_mullo_epi16(_mm256_unpacklo_epi8(sf, zero), alo));
    __m256i hi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(dv, zero), _mm256_sub_epi16(v255, ahi)),
                                  _mm256_mullo_epi16(_mm256_unpackhi_epi8(sf, zero), ahi));
    lo = div255x16(_mm256_add_epi16(lo, v128));
    hi = div255x16(_mm256_add_epi16(hi, v128));
    return _mm256_packus_epi16(lo, hi);
}

// Eight weighted sources over d: clear ones keep d, opaque ones are stored.
WIDE inline void put8(uint32_t* d, __m256i sv) {
    if (clear8(sv) == 0xFF) return;
    if (opaque8(sv) == 0xFF) {
        store8(d, sv);
        return;
    }
    store8(d, over8(load8(d), sv));
}

// A row's last one to seven pixels go through masked loads and a masked store, which touch no others.
WIDE inline __m256i firstLanes(int64_t r) {
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(int32_t(r)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}
WIDE inline __m256i loadFirst(const uint32_t* p, __m256i m) {
    return _mm256_maskload_epi32(reinterpret_cast<const int*>(p), m);
}
WIDE inline void storeFirst(uint32_t* p, __m256i m, __m256i v) { _mm256_maskstore_epi32(reinterpret_cast<int*>(p), m, v); }

// Rows of eight or more end in the group of their last eight pixels, blended from what those held
// before the row was begun and stored after the rest: where that group overlaps the one before it,
// both give the same bits. Shorter rows go through masked loads and a masked store.
WIDE inline void sourceOver8(uint32_t* d, const uint32_t* s, int64_t n) {
    if (n < 8) {
        const __m256i m = firstLanes(n);
        const __m256i sv = loadFirst(s, m);
        if (clear8(sv) != 0xFF) storeFirst(d, m, over8(loadFirst(d, m), sv));
        return;
    }
    const __m256i lastS = load8(s + n - 8), lastD = load8(d + n - 8);
    int64_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i a = load8(s + i), b = load8(s + i + 8), c = load8(s + i + 16), e = load8(s + i + 24);
        if (opaque8(_mm256_and_si256(_mm256_and_si256(a, b), _mm256_and_si256(c, e))) == 0xFF) {
            store8(d + i, a);
            store8(d + i + 8, b);
            store8(d + i + 16, c);
            store8(d + i + 24, e);
        } else if (clear8(_mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c, e))) != 0xFF) {
            put8(d + i, a);
            put8(d + i + 8, b);
            put8(d + i + 16, c);
            put8(d + i + 24, e);
        }
    }
    for (; i + 8 < n; i += 8) put8(d + i, load8(s + i));
    if (i < n && clear8(lastS) != 0xFF) store8(d + n - 8, opaque8(lastS) == 0xFF ? lastS : over8(lastD, lastS));
}

// A tint's constants: its colour in 16-bit channel lanes, its alpha, and the byte picks that spread
// each pixel's alpha over its four channel lanes (for the low and high pixel pair of each half).
struct Tint {
    __m256i colour, c, lo, hi;
    uint32_t alpha;
};

WIDE inline Tint tintOf(uint32_t px, uint32_t c) {
    const __m256i z = _mm256_setzero_si256();
    const int8_t o = -1;  // a zero byte
    return Tint{_mm256_unpacklo_epi8(_mm256_set1_epi32(int32_t(px | 0xFF000000u)), z), _mm256_set1_epi16(int16_t(c)),
                _mm256_setr_epi8(3, o, 3, o, 3, o, 3, o, 7, o, 7, o, 7, o, 7, o, 3, o, 3, o, 3, o, 3, o, 7, o, 7, o, 7, o, 7, o),
                _mm256_setr_epi8(11, o, 11, o, 11, o, 11, o, 15, o, 15, o, 15, o, 15, o, 11, o, 11, o, 11, o, 11, o, 15, o,
                                 15, o, 15, o, 15, o),
                c};
}

// Eight pixels d under the tint at the weights (alpha c + 127) / 255 of eight source pixels sv.
WIDE inline __m256i tint8(__m256i dv, __m256i sv, const Tint& t) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i v255 = _mm256_set1_epi16(255), v128 = _mm256_set1_epi16(128);
    __m256i alo = _mm256_shuffle_epi8(sv, t.lo), ahi = _mm256_shuffle_epi8(sv, t.hi);
    if (t.alpha != 255) {
        alo = div255x16(_mm256_add_epi16(_mm256_mullo_epi16(alo, t.c), v128));
        ahi = div255x16(_mm256_add_epi16(_mm256_mullo_epi16(ahi, t.c), v128));
    }
    __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(dv, zero), _mm256_sub_epi16(v255, alo)),
                                  _mm256_mullo_epi16(t.colour, alo));
    __m256i hi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(dv, zero), _mm256_sub_epi16(v255, ahi)),
                                  _mm256_mullo_epi16(t.colour, ahi));
    lo = div255x16(_mm256_add_epi16(lo, v128));
    hi = div255x16(_mm256_add_epi16(hi, v128));
    return _mm256_packus_epi16(lo, hi);
}

// Groups whose source alpha is all 0 weigh nothing at any tint and are skipped.
WIDE inline void tintOver8(uint32_t* d, const uint32_t* s, int64_t n, const Tint& t) {
    if (n < 8) {
        const __m256i m = firstLanes(n);
        const __m256i sv = loadFirst(s, m);
        if (clear8(sv) != 0xFF) storeFirst(d, m, tint8(loadFirst(d, m), sv, t));
        return;
    }
    const __m256i lastS = load8(s + n - 8), lastD = load8(d + n - 8);
    for (int64_t i = 0; i + 8 < n; i += 8) {
        const __m256i sv = load8(s + i);
        if (clear8(sv) != 0xFF) store8(d + i, tint8(load8(d + i), sv, t));
    }
    if (clear8(lastS) != 0xFF) store8(d + n - 8, tint8(lastD, lastS, t));
}

WIDE void sourceRows8(uint32_t* d, int64_t dStride, const uint32_t* s, int64_t sStride, int64_t n, int64_t rows) {
    for (int64_t r = 0; r < rows; ++r, d += dStride, s += sStride) sourceOver8(d, s, n);
}

WIDE void tintRows8(uint32_t* d, int64_t dStride, const uint32_t* s, int64_t sStride, int64_t n, int64_t rows,
                    uint32_t px, uint32_t c) {
    const Tint t = tintOf(px, c);
    for (int64_t r = 0; r < rows; ++r, d += dStride, s += sStride) tintOver8(d, s, n, t);
}

#undef WIDE

}  // namespace

bool wide() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

void sourceOverWide(uint32_t* d, int64_t dStride, const uint32_t* s, int64_t sStride, int64_t n, int64_t rows) {
    sourceRows8(d, dStride, s, sStride, n, rows);
}

void tintOverWide(uint32_t* d, int64_t dStride, const uint32_t* s, int64_t sStride, int64_t n, int64_t rows,
                  uint32_t px, uint32_t c) {
    tintRows8(d, dStride, s, sStride, n, rows, px, c);
}

#else

bool wide() { return false; }

void sourceOverWide(uint32_t* d, int64_t dStride, const uint32_t* s, int64_t sStride, int64_t n, int64_t rows) {
    for (int64_t r = 0; r < rows; ++r, d += dStride, s += sStride) sourceOver(d, s, n);
}

void tintOverWide(uint32_t* d, int64_t dStride, const uint32_t* s, int64_t sStride, int64_t n, int64_t rows,
                  uint32_t px, uint32_t c) {
    for (int64_t r = 0; r < rows; ++r, d += dStride, s += sStride) tintOver(d, s, n, px, c);
}

#endif

}  // namespace lumo::gui::blend
