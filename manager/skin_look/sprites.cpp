// Skin-look sprites: a sprite at its page place cut by the stretch bands (put), a glass pair
// composited over what lies beneath (glass) and brightened sprite copies (gained). Sprites are
// copied 1:1 and stretched by repeating a source strip, never resampled; positions are layout units
// turned into device pixels by dev().
#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "gui/draw/clip_scope.h"
#include "manager/skin_look/look.h"
#include "manager/view/view.h"

namespace tqapp {

using lumo::gui::Bitmap;
using lumo::gui::Canvas;
using lumo::gui::ClipScope;
using lumo::gui::Color;
using lumo::gui::Rect;
using lumo::gui::meet;

namespace {

// One channel of a glass pair over a canvas channel t: t/255 of the way from b to w, rounded to the
// nearest step. In whole numbers: round((t w + (255 - t) b) / 255); a quotient of an integer by 255
// never lies exactly halfway, so this is the rounded double t/255 x w + (1 - t/255) x b.
inline uint32_t glassChannel(uint32_t t, uint32_t w, uint32_t b) {
    return (2 * (t * w + (255 - t) * b) + 255) / 510;
}

#if defined(__x86_64__)
// The vector loop of glassRun below eight pixels at a time, for processors with AVX2 (the same bits);
// answers how many pixels it did.
__attribute__((target("avx2"))) int32_t glassRun8(uint32_t* d, const uint32_t* b, const uint32_t* w, int32_t n) {
    const __m256i zero = _mm256_setzero_si256(), v255 = _mm256_set1_epi16(255), v128 = _mm256_set1_epi16(128);
    const __m256i alpha = _mm256_set1_epi32(int32_t(0xFF000000u));
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i bv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        const __m256i wv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + i));
        __m256i x[2];
        for (int k = 0; k < 2; ++k) {
            const __m256i t = k ? _mm256_unpackhi_epi8(dv, zero) : _mm256_unpacklo_epi8(dv, zero);
            const __m256i bk = k ? _mm256_unpackhi_epi8(bv, zero) : _mm256_unpacklo_epi8(bv, zero);
            const __m256i wk = k ? _mm256_unpackhi_epi8(wv, zero) : _mm256_unpacklo_epi8(wv, zero);
            x[k] = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(t, wk), _mm256_mullo_epi16(_mm256_sub_epi16(v255, t), bk)), v128);
            x[k] = _mm256_srli_epi16(_mm256_add_epi16(x[k], _mm256_srli_epi16(x[k], 8)), 8);
        }
        const __m256i mixed = _mm256_andnot_si256(alpha, _mm256_packus_epi16(x[0], x[1]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_or_si256(mixed, _mm256_and_si256(dv, alpha)));
    }
    return i;
}
#endif

// A run of n canvas pixels d under the pair pixels b and w; the canvas alpha stays.
void glassRun(uint32_t* d, const uint32_t* b, const uint32_t* w, int32_t n) {
    int32_t i = 0;
#if defined(__x86_64__)
    static const bool wide = __builtin_cpu_supports("avx2");
    if (wide) i = glassRun8(d, b, w, n);
#endif
#if defined(__SSE2__)
    // In 16-bit lanes: t w + (255 - t) b is at most 65025, and (x + 128 + ((x + 128) >> 8)) >> 8 is
    // x / 255 rounded to the nearest, as glassChannel gives it.
    const __m128i zero = _mm_setzero_si128(), v255 = _mm_set1_epi16(255), v128 = _mm_set1_epi16(128);
    const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
    auto half = [&](__m128i t, __m128i bv, __m128i wv) {
        const __m128i x = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(t, wv), _mm_mullo_epi16(_mm_sub_epi16(v255, t), bv)), v128);
        return _mm_srli_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), 8);
    };
    for (; i + 4 <= n; i += 4) {
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const __m128i bv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i wv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i));
        const __m128i lo = half(_mm_unpacklo_epi8(dv, zero), _mm_unpacklo_epi8(bv, zero), _mm_unpacklo_epi8(wv, zero));
        const __m128i hi = half(_mm_unpackhi_epi8(dv, zero), _mm_unpackhi_epi8(bv, zero), _mm_unpackhi_epi8(wv, zero));
        const __m128i mixed = _mm_andnot_si128(alpha, _mm_packus_epi16(lo, hi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_or_si128(mixed, _mm_and_si128(dv, alpha)));
    }
#endif
    for (; i < n; ++i) {
        uint32_t out = d[i] & 0xFF000000u;
        for (int shift = 0; shift <= 16; shift += 8)
            out |= glassChannel(d[i] >> shift & 0xFF, w[i] >> shift & 0xFF, b[i] >> shift & 0xFF) << shift;
        d[i] = out;
    }
}

// Neighbouring segments that copy 1:1 and continue each other become one, so a sprite at its designed
// size is copied in whole rows rather than in narrow strips.
std::vector<Axis::Seg> joined(const std::vector<Axis::Seg>& segs) {
    std::vector<Axis::Seg> out;
    for (const Axis::Seg& s : segs) {
        const bool plain = s.len == s.dstLen;
        if (plain && !out.empty() && out.back().len == out.back().dstLen &&
            out.back().src + out.back().len == s.src && out.back().dst + out.back().dstLen == s.dst) {
            out.back().len += s.len;
            out.back().dstLen += s.len;
            out.back().stretched = false;
            continue;
        }
        out.push_back(s);
    }
    return out;
}

}  // namespace

void SkinLook::put(const ManagerView& v, Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& name, double dx,
                      double dy, Rect clip, double gain, bool stretchY) {
    const lumo::gui::Sprite* sprite = pack.sprite(name);
    if (!sprite || !sprite->image) return;
    const Bitmap* image = sprite->image;
    if (!(gain == 1.0)) image = &gained(v, name, *image, gain);
    if (image->empty() || image->pixels.size() < size_t(image->w) * size_t(image->h)) return;

    ClipScope scope(canvas, canvas.area);
    if (clip.w > 0)
        scope.narrow({v.dev(clip.x) + v.paintX_, v.dev(clip.y) + v.paintY_, v.dev(double(clip.x) + clip.w) - v.dev(clip.x),
                      v.dev(double(clip.y) + clip.h) - v.dev(clip.y)});
    const bool cut = sliceable(name);
    const std::vector<Axis::Seg> xs = joined(v.xAxis_.segments(sprite->x, image->w, v.paintScale_, cut));
    const std::vector<Axis::Seg> ys = stretchY ? joined(v.yAxis_.segments(sprite->y, image->h, v.paintScale_, cut))
                                               : std::vector<Axis::Seg>{{0, image->h, sprite->y, image->h, false}};
    const int32_t ox = v.dev(dx) + v.paintX_, oy = v.dev(dy) + v.paintY_;
    for (const Axis::Seg& y : ys)
        for (const Axis::Seg& x : xs) {
            // A segment without source pixels has nothing to repeat.
            if (x.len < 1 || y.len < 1) continue;
            const Rect src{x.src, y.src, x.len, y.len};
            if (!x.stretched && !y.stretched) {
                canvas.drawBitmapRegion(*image, src, x.dst + ox, y.dst + oy, 1, 255);
                continue;
            }
            const Rect cell{x.dst + ox, y.dst + oy, x.dstLen, y.dstLen};
            const Rect inside = meet(cell, canvas.clip);
            if (inside.empty()) continue;
            const Rect before = canvas.clip;
            canvas.clip = meet(inside, canvas.area);
            // Only the repeats that reach the clip are drawn.
            const int32_t firstY = (inside.y - cell.y) / y.len * y.len, lastY = inside.y + inside.h - cell.y;
            const int32_t firstX = (inside.x - cell.x) / x.len * x.len, lastX = inside.x + inside.w - cell.x;
            for (int32_t ty = firstY; ty < lastY; ty += y.len)
                for (int32_t tx = firstX; tx < lastX; tx += x.len)
                    canvas.drawBitmapRegion(*image, src, cell.x + tx, cell.y + ty, 1, 255);
            canvas.clip = before;
        }
}

void SkinLook::glass(const ManagerView& v, Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& name) const {
    const lumo::gui::Sprite* sb = pack.sprite(name + "_b");
    const lumo::gui::Sprite* sw = pack.sprite(name + "_w");
    if (!sb || !sw || !sb->image || !sw->image) return;
    const Bitmap& b = *sb->image;
    const Bitmap& w = *sw->image;
    auto whole = [](const Bitmap& m) { return !m.empty() && m.pixels.size() >= size_t(m.w) * size_t(m.h); };
    if (!whole(b) || !whole(w)) return;
    const std::vector<Axis::Seg> xs = v.xAxis_.segments(sb->x, b.w, v.paintScale_, true);
    const std::vector<Axis::Seg> ys = v.yAxis_.segments(sb->y, b.h, v.paintScale_, true);
    // Both halves are read at the same source place, so only the part both cover is composited.
    const int32_t srcW = std::min(b.w, w.w), srcH = std::min(b.h, w.h);
    const Rect clip = meet(canvas.clip, {0, 0, canvas.width, canvas.height});
    for (const Axis::Seg& y : ys) {
        if (y.len < 1) continue;
        const int32_t r0 = std::max(0, clip.y - (y.dst + v.paintY_));
        const int32_t r1 = std::min(y.dstLen, clip.y + clip.h - (y.dst + v.paintY_));
        for (int32_t r = r0; r < r1; ++r) {
            const int32_t sy = y.src + (y.stretched ? r % y.len : r);
            if (sy >= srcH) continue;
            uint32_t* line = &canvas.pixels[size_t(y.dst + v.paintY_ + r) * size_t(canvas.width)];
            const uint32_t* bl = &b.pixels[size_t(sy) * size_t(b.w)];
            const uint32_t* wl = &w.pixels[size_t(sy) * size_t(w.w)];
            for (const Axis::Seg& x : xs) {
                if (x.len < 1) continue;
                const int32_t left = x.dst + v.paintX_;
                const int32_t c0 = std::max(0, clip.x - left), c1 = std::min(x.dstLen, clip.x + clip.w - left);
                // Runs of consecutive source columns: the whole segment, or one repeat of a stretched one.
                for (int32_t c = c0; c < c1;) {
                    const int32_t off = x.stretched ? c % x.len : c;
                    const int32_t run = std::min(c1 - c, x.stretched ? x.len - off : c1 - c);
                    const int32_t sx = x.src + off, n = std::min(run, srcW - sx);
                    if (n > 0) glassRun(line + left + c, bl + sx, wl + sx, n);
                    c += run;
                }
            }
        }
    }
}

const Bitmap& SkinLook::gained(const ManagerView& v, const std::string& name, const Bitmap& bitmap, double gain) {
    Bitmap& entry = gainedCache[name + "@" + std::to_string(v.paintScale_) + "*" + std::to_string(gain)];
    if (entry.w > 0 && entry.h > 0) return entry;
    entry.w = bitmap.w;
    entry.h = bitmap.h;
    entry.pixels = bitmap.pixels;
    for (uint32_t& p : entry.pixels) {
        uint32_t out = p & 0xFF000000u;
        for (int shift = 0; shift <= 16; shift += 8) {
            const double v = std::round(double(p >> shift & 0xFF) * gain);
            out |= uint32_t(v >= 255.0 ? 255.0 : v > 0 ? v : 0.0) << shift;
        }
        p = out;
    }
    return entry;
}

}  // namespace tqapp
