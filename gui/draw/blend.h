#pragma once
// The blend rule in its scalar form and its four-pixels-at-a-time forms, plus the 64-bit boxes the
// canvas clips with. Internal to the drawing code; every form gives exactly the scalar rule's bits.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "gui/draw/canvas.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumo::gui::blend {

// A half-open box [x0, x1) x [y0, y1) in 64 bits, so sums of 32-bit positions and sizes never overflow.
struct Box {
    int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;

    static Box xywh(int64_t x, int64_t y, int64_t w, int64_t h) { return Box{x, y, x + w, y + h}; }
    static Box of(const Rect& r) { return xywh(r.x, r.y, r.w, r.h); }
    bool empty() const { return x1 <= x0 || y1 <= y0; }
    bool contains(int64_t x, int64_t y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
    bool intersects(const Box& o) const { return !intersect(o).empty(); }
    Box intersect(const Box& o) const {
        return Box{std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
    }
};

// The whole surface, or nothing when the pixel vector is shorter than width x height.
inline Box surfaceBox(const Canvas& cv) {
    if (cv.width < 1 || cv.height < 1 || cv.pixels.size() < size_t(cv.width) * size_t(cv.height)) return Box{};
    return Box{0, 0, cv.width, cv.height};
}

// The clip, kept inside the surface even when an owner broke the canvas invariants.
inline Box clipBox(const Canvas& cv) { return Box::of(cv.clip).intersect(surfaceBox(cv)); }

inline bool usable(const Bitmap& bm) {
    return bm.w >= 1 && bm.h >= 1 && bm.pixels.size() >= size_t(bm.w) * size_t(bm.h);
}

inline int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Stores one value into n pixels. The C library's wide fill is vectorised for every build type, which
// a plain loop is not at -O2.
inline void fill32(uint32_t* p, int64_t n, uint32_t v) {
    static_assert(sizeof(wchar_t) == 4, "wide characters hold one pixel");
    if (n <= 8) {  // rules and the sides of frames: a call per row would cost more than the row
        for (int64_t i = 0; i < n; ++i) p[i] = v;
        return;
    }
    std::wmemset(reinterpret_cast<wchar_t*>(p), wchar_t(v), size_t(n));
}

// (x + 127) / 255 for x in 0 .. 255 * 255, in the shift form the vector code uses.
inline uint32_t div255(uint32_t x) {
    const uint32_t t = x + 128;
    return (t + (t >> 8)) >> 8;
}

// The rule with 0 < a < 255 (it also holds for 0 and 255): px is the source pixel, its alpha ignored.
inline uint32_t mix(uint32_t d, uint32_t px, uint32_t a) {
    const uint32_t inv = 255 - a;
    const uint32_t b = div255((d & 0xFF) * inv + (px & 0xFF) * a);
    const uint32_t g = div255(((d >> 8) & 0xFF) * inv + ((px >> 8) & 0xFF) * a);
    const uint32_t r = div255(((d >> 16) & 0xFF) * inv + ((px >> 16) & 0xFF) * a);
    const uint32_t al = div255((d >> 24) * inv + 255 * a);
    return (al << 24) | (r << 16) | (g << 8) | b;
}

// One pixel: weight 0 keeps d, 255 stores the source opaque, else the rule.
inline uint32_t one(uint32_t d, uint32_t px, uint32_t a) {
    if (a == 0) return d;
    if (a == 255) return px | 0xFF000000u;
    return mix(d, px, a);
}

#if defined(__SSE2__)
// t = x + 128 in every 16-bit lane, then (t + (t >> 8)) >> 8.
inline __m128i div255Lanes(__m128i t) { return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8); }
#endif

// A constant pixel at a constant weight, blended over runs of pixels.
struct Solid {
    uint32_t px = 0, a = 0, inv = 255;
    uint16_t add[4] = {128, 128, 128, 128};  // s * a + 128 for b, g, r and alpha (source alpha 255)

    Solid() = default;
    Solid(uint32_t pixel, uint32_t weight) : px(pixel), a(weight), inv(255 - weight) {
        add[0] = uint16_t((pixel & 0xFF) * a + 128);
        add[1] = uint16_t(((pixel >> 8) & 0xFF) * a + 128);
        add[2] = uint16_t(((pixel >> 16) & 0xFF) * a + 128);
        add[3] = uint16_t(255 * a + 128);
    }

    uint32_t over(uint32_t d) const {
        const uint32_t b = (d & 0xFF) * inv + add[0], g = ((d >> 8) & 0xFF) * inv + add[1];
        const uint32_t r = ((d >> 16) & 0xFF) * inv + add[2], al = (d >> 24) * inv + add[3];
        return (((al + (al >> 8)) >> 8) << 24) | (((r + (r >> 8)) >> 8) << 16) | (((g + (g >> 8)) >> 8) << 8) |
               ((b + (b >> 8)) >> 8);
    }

    void span(uint32_t* p, int64_t n) const {
        int64_t i = 0;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        const __m128i vinv = _mm_set1_epi16(int16_t(inv));
        const __m128i vadd = _mm_set_epi16(int16_t(add[3]), int16_t(add[2]), int16_t(add[1]), int16_t(add[0]),
                                           int16_t(add[3]), int16_t(add[2]), int16_t(add[1]), int16_t(add[0]));
        for (; i + 4 <= n; i += 4) {
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            __m128i lo = _mm_unpacklo_epi8(d, zero), hi = _mm_unpackhi_epi8(d, zero);
            lo = div255Lanes(_mm_add_epi16(_mm_mullo_epi16(lo, vinv), vadd));
            hi = div255Lanes(_mm_add_epi16(_mm_mullo_epi16(hi, vinv), vadd));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_packus_epi16(lo, hi));
        }
#endif
        for (; i < n; ++i) p[i] = over(p[i]);
    }
};

inline bool allOpaque(const uint32_t* s, int64_t n) {
    uint32_t acc = 0xFFFFFFFFu;
    for (int64_t i = 0; i < n; ++i) acc &= s[i];
    return (acc >> 24) == 0xFF;
}

#if defined(__SSE2__)
// Four pixels d under four sources whose alpha bytes are their weights (0 to 255), by the rule.
inline __m128i over4(__m128i dv, __m128i sv) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i v255 = _mm_set1_epi16(255), v128 = _mm_set1_epi16(128);
    const __m128i sf = _mm_or_si128(sv, _mm_set1_epi32(int32_t(0xFF000000u)));
    __m128i alo = _mm_unpacklo_epi8(sv, zero), ahi = _mm_unpackhi_epi8(sv, zero);
    alo = _mm_shufflehi_epi16(_mm_shufflelo_epi16(alo, 0xFF), 0xFF);
    ahi = _mm_shufflehi_epi16(_mm_shufflelo_epi16(ahi, 0xFF), 0xFF);
    __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(dv, zero), _mm_sub_epi16(v255, alo)),
                               _mm_mullo_epi16(_mm_unpacklo_epi8(sf, zero), alo));
    __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(dv, zero), _mm_sub_epi16(v255, ahi)),
                               _mm_mullo_epi16(_mm_unpackhi_epi8(sf, zero), ahi));
    lo = div255Lanes(_mm_add_epi16(lo, v128));
    hi = div255Lanes(_mm_add_epi16(hi, v128));
    return _mm_packus_epi16(lo, hi);
}

// Bit i of the answer is set when the alpha byte of lane i is 255 (opaqueLanes) or 0 (clearLanes).
inline int opaqueLanes(__m128i v) {
    const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(v, alpha), alpha)));
}
inline int clearLanes(__m128i v) {
    const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(v, alpha), _mm_setzero_si128())));
}

// Four weighted sources (weights in the alpha bytes) over d: clear ones keep d, opaque ones are stored.
inline void put4(uint32_t* d, __m128i sv) {
    const int clear = clearLanes(sv);
    if (clear == 0xF) return;
    if (opaqueLanes(sv) == 0xF) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), sv);
        return;
    }
    const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), over4(dv, sv));
}
#endif

// Source pixels over destination pixels at full opacity, weight = source alpha. Groups of sixteen
// are sorted by one test of their alpha bytes, in the same pass that loads them: wholly opaque ones
// are stored as they come, wholly clear ones are skipped, only the rest are blended four by four.
inline void sourceOver(uint32_t* d, const uint32_t* s, int64_t n) {
    int64_t i = 0;
#if defined(__SSE2__)
    auto load = [](const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    auto store = [](uint32_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); };
    for (; i + 16 <= n; i += 16) {
        const __m128i a = load(s + i), b = load(s + i + 4), c = load(s + i + 8), e = load(s + i + 12);
        if (opaqueLanes(_mm_and_si128(_mm_and_si128(a, b), _mm_and_si128(c, e))) == 0xF) {
            store(d + i, a);
            store(d + i + 4, b);
            store(d + i + 8, c);
            store(d + i + 12, e);
        } else if (clearLanes(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, e))) != 0xF) {
            put4(d + i, a);
            put4(d + i + 4, b);
            put4(d + i + 8, c);
            put4(d + i + 12, e);
        }
    }
    for (; i + 4 <= n; i += 4) put4(d + i, load(s + i));
#endif
    for (; i < n; ++i) d[i] = one(d[i], s[i], s[i] >> 24);
}

// The same two blends eight pixels at a time where the processor has AVX2 (blend_wide.cpp), with the
// same bits, over `rows` rows of n pixels (strides in pixels); wide() tells whether it has.
bool wide();
void sourceOverWide(uint32_t* d, int64_t dStride, const uint32_t* s, int64_t sStride, int64_t n, int64_t rows);
void tintOverWide(uint32_t* d, int64_t dStride, const uint32_t* s, int64_t sStride, int64_t n, int64_t rows,
                  uint32_t px, uint32_t c);

// Source pixels over destination pixels at opacity o: the weight is the source alpha (o = 255) or
// (s * o + 127) / 255, which is 0 (skip) exactly when s * o < 128.
inline void pixelsOver(uint32_t* d, const uint32_t* s, int64_t n, uint32_t o) {
    if (o == 255) {
        if (wide())
            sourceOverWide(d, n, s, n, n, 1);
        else
            sourceOver(d, s, n);
        return;
    }
    int64_t i = 0;
#if defined(__SSE2__)
    const __m128i colour = _mm_set1_epi32(0x00FFFFFF), v128 = _mm_set1_epi32(128);
    const __m128i vo = _mm_set1_epi32(int32_t(o));
    for (; i + 4 <= n; i += 4) {
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        // Weights (s o + 127) / 255 in 32-bit lanes (the products fit the low 16 bits).
        const __m128i w = div255Lanes(_mm_add_epi32(_mm_mullo_epi16(_mm_srli_epi32(sv, 24), vo), v128));
        put4(d + i, _mm_or_si128(_mm_and_si128(sv, colour), _mm_slli_epi32(w, 24)));
    }
#endif
    for (; i < n; ++i) d[i] = one(d[i], s[i], div255((s[i] >> 24) * o));
}

// A constant pixel over destination pixels, its weight the alpha of each source pixel times c
// ((s c + 127) / 255, which is s itself for c = 255): the tinting of a coverage image.
inline void tintOver(uint32_t* d, const uint32_t* s, int64_t n, uint32_t px, uint32_t c) {
    int64_t i = 0;
#if defined(__SSE2__)
    const __m128i colour = _mm_set1_epi32(int32_t(px & 0x00FFFFFFu)), v128 = _mm_set1_epi32(128);
    const __m128i vc = _mm_set1_epi32(int32_t(c));
    // The source pixels' colour replaced by the tint and their alpha by the weight.
    auto weighted = [&](const uint32_t* p) {
        __m128i w = _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 24);
        if (c != 255) w = div255Lanes(_mm_add_epi32(_mm_mullo_epi16(w, vc), v128));
        return _mm_or_si128(colour, _mm_slli_epi32(w, 24));
    };
    for (; i + 4 <= n; i += 4) {
        const __m128i sv = weighted(s + i);
        if (clearLanes(sv) == 0xF) continue;
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), over4(dv, sv));
    }
#endif
    for (; i < n; ++i) d[i] = one(d[i], px, div255((s[i] >> 24) * c));
}

// A constant pixel over destination pixels, each with its own weight.
inline void maskOver(uint32_t* d, const uint8_t* w, int64_t n, uint32_t px) {
    int64_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i v255 = _mm_set1_epi16(255), v128 = _mm_set1_epi16(128);
    const __m128i sv = _mm_set1_epi32(int32_t(px | 0xFF000000u));
    const __m128i slo = _mm_unpacklo_epi8(sv, zero);
    for (; i + 4 <= n; i += 4) {
        uint32_t w4;
        std::memcpy(&w4, w + i, 4);
        if (w4 == 0) continue;
        if (w4 == 0xFFFFFFFFu) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), sv);
            continue;
        }
        __m128i wv = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int32_t(w4)), zero);
        wv = _mm_unpacklo_epi16(wv, wv);
        const __m128i alo = _mm_unpacklo_epi32(wv, wv), ahi = _mm_unpackhi_epi32(wv, wv);
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(dv, zero), _mm_sub_epi16(v255, alo)),
                                   _mm_mullo_epi16(slo, alo));
        __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(dv, zero), _mm_sub_epi16(v255, ahi)),
                                   _mm_mullo_epi16(slo, ahi));
        lo = div255Lanes(_mm_add_epi16(lo, v128));
        hi = div255Lanes(_mm_add_epi16(hi, v128));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; i < n; ++i) d[i] = one(d[i], px, w[i]);
}

// Fills the box b (already inside the clip) with a pixel at weight a.
inline void fillClipped(Canvas& cv, const Box& b, uint32_t px, uint32_t a) {
    if (b.empty() || a == 0) return;
    const int64_t n = b.x1 - b.x0;
    uint32_t* row = cv.pixels.data() + b.y0 * int64_t(cv.width) + b.x0;
    if (a == 255) {
        const uint32_t v = px | 0xFF000000u;
        for (int64_t y = b.y0; y < b.y1; ++y, row += cv.width) fill32(row, n, v);
        return;
    }
    const Solid s(px, a);
    for (int64_t y = b.y0; y < b.y1; ++y, row += cv.width) s.span(row, n);
}

}  // namespace lumo::gui::blend
