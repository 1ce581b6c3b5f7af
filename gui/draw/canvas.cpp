#include "gui/draw/canvas.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "gui/draw/blend.h"

namespace lumo::gui {

uint32_t blendRule(uint32_t d, Color c, uint32_t a) {
    return blend::one(d, pixelOf(c), a);
}

namespace {

using blend::Box;

// Pixel pointer at (x, y); callers have clipped.
inline uint32_t* at(Canvas& cv, int64_t x, int64_t y) {
    return cv.pixels.data() + y * int64_t(cv.width) + x;
}

// Fills the box [x0, x1) x [y0, y1) intersected with the clip.
void fillBox(Canvas& cv, Box b, uint32_t px, uint32_t a) {
    blend::fillClipped(cv, b.intersect(blend::clipBox(cv)), px, a);
}

inline void blendAt(Canvas& cv, const Box& clip, int64_t x, int64_t y, uint32_t px, uint32_t a) {
    if (a == 0 || !clip.contains(x, y)) return;
    uint32_t* p = at(cv, x, y);
    *p = blend::one(*p, px, a);
}

// Weight of a source pixel of alpha s drawn at opacity o (0 skips).
inline uint32_t bitmapWeight(uint32_t s, uint32_t o) {
    return o == 255 ? s : (s * o + 127) / 255;
}

struct ColumnScratch {
    int64_t x0, x1;
    uint32_t px;
    uint32_t a;
    blend::Solid solid;
};

}  // namespace

void Canvas::resize(int32_t w, int32_t h) {
    width = std::max(w, 0);
    height = std::max(h, 0);
    pixels.assign(size_t(width) * size_t(height), 0u);
    clip = area = Rect{0, 0, width, height};
}

void Canvas::blendPixel(int32_t x, int32_t y, Color c) {
    blendAt(*this, blend::clipBox(*this), x, y, pixelOf(c), c >> 24);
}

void Canvas::clear(Color c) {
    Box b = Box::of(area).intersect(blend::surfaceBox(*this));
    const uint32_t v = pixelOf(c);
    for (int64_t y = b.y0; y < b.y1; ++y) blend::fill32(at(*this, b.x0, y), b.x1 - b.x0, v);
    clip = area;
}

void Canvas::fillRect(Rect r, Color c) {
    fillBox(*this, Box::of(r), pixelOf(c), c >> 24);
}

void Canvas::strokeRect(Rect r, Color c, int32_t t) {
    const int64_t x = r.x, y = r.y, w = r.w, h = r.h, tt = t;
    const uint32_t px = pixelOf(c), a = c >> 24;
    fillBox(*this, Box::xywh(x, y, w, tt), px, a);
    fillBox(*this, Box::xywh(x, y + h - tt, w, tt), px, a);
    fillBox(*this, Box::xywh(x, y + tt, tt, h - 2 * tt), px, a);
    fillBox(*this, Box::xywh(x + w - tt, y + tt, tt, h - 2 * tt), px, a);
}

void Canvas::hline(int32_t x0, int32_t x1, int32_t y, Color c) {
    const int64_t lo = std::min(x0, x1), hi = std::max(x0, x1);
    fillBox(*this, Box{lo, y, hi + 1, int64_t(y) + 1}, pixelOf(c), c >> 24);
}

void Canvas::vline(int32_t x, int32_t y0, int32_t y1, Color c) {
    const int64_t lo = std::min(y0, y1), hi = std::max(y0, y1);
    fillBox(*this, Box{x, lo, int64_t(x) + 1, hi + 1}, pixelOf(c), c >> 24);
}

void Canvas::line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, Color c) {
    const Box clipB = blend::clipBox(*this);
    const uint32_t px = pixelOf(c), a = c >> 24;
    if (a == 0 || clipB.empty()) return;
    // A line whose bounding box misses the clip plots nothing.
    if (!Box{std::min(x0, x1), std::min(y0, y1), int64_t(std::max(x0, x1)) + 1, int64_t(std::max(y0, y1)) + 1}
             .intersects(clipB))
        return;
    int64_t x = x0, y = y0;
    const int64_t dx = std::abs(int64_t(x1) - x0), dy = -std::abs(int64_t(y1) - y0);
    const int64_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int64_t err = dx + dy;
    // Start where the major axis enters the clip instead of walking billions of steps towards it.
    // Every step moves along the major axis; after i of them the minor axis has moved
    // floor((2 minor i + major) / (2 major)) times, and after a steps in x and b in y the error is
    // dx (b + 1) + dy (a + 1). The pixels plotted from there on are exactly the loop's.
    const bool xMajor = dx >= -dy;
    const int64_t major = xMajor ? dx : -dy, minor = xMajor ? -dy : dx;
    const int64_t skip = xMajor ? (sx > 0 ? clipB.x0 - x : x - (clipB.x1 - 1))
                                : (sy > 0 ? clipB.y0 - y : y - (clipB.y1 - 1));
    if (skip > 0 && skip <= major) {
        const int64_t moved = int64_t((__int128(2) * minor * skip + major) / (2 * major));
        const int64_t stepsX = xMajor ? skip : moved, stepsY = xMajor ? moved : skip;
        x += sx * stepsX;
        y += sy * stepsY;
        err = int64_t(__int128(dx) * (stepsY + 1) + __int128(dy) * (stepsX + 1));
    }
    blendAt(*this, clipB, x, y, px, a);
    while (x != x1 || y != y1) {
        const int64_t e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
        blendAt(*this, clipB, x, y, px, a);
        // x and y only move towards the end: once past the clip nothing more can land in it.
        if ((sx > 0 ? x >= clipB.x1 : x < clipB.x0) || (sy > 0 ? y >= clipB.y1 : y < clipB.y0)) break;
    }
}

void Canvas::fillColumns(const ColumnFill* bars, size_t count, int32_t y, int32_t h) {
    const Box clipB = blend::clipBox(*this);
    const int64_t y0 = std::max<int64_t>(clipB.y0, y), y1 = std::min<int64_t>(clipB.y1, int64_t(y) + h);
    if (count == 0 || bars == nullptr || y1 <= y0) return;
    thread_local std::vector<ColumnScratch> kept;
    kept.clear();
    for (size_t i = 0; i < count; ++i) {
        const ColumnFill& b = bars[i];
        const int64_t x0 = std::max<int64_t>(clipB.x0, b.x), x1 = std::min<int64_t>(clipB.x1, int64_t(b.x) + b.w);
        const uint32_t a = b.color >> 24;
        if (x1 <= x0 || a == 0) continue;
        const uint32_t px = pixelOf(b.color);
        kept.push_back(ColumnScratch{x0, x1, px | 0xFF000000u, a, blend::Solid(px, a)});
    }
    for (int64_t row = y0; row < y1; ++row) {
        uint32_t* line = at(*this, 0, row);
        for (const ColumnScratch& k : kept) {
            if (k.a == 255)
                blend::fill32(line + k.x0, k.x1 - k.x0, k.px);
            else
                k.solid.span(line + k.x0, k.x1 - k.x0);
        }
    }
}

void Canvas::fillCircle(int32_t cx, int32_t cy, int32_t r, Color c) {
    if (r < -1) return;
    const Box clipB = blend::clipBox(*this);
    const uint32_t px = pixelOf(c), alpha = c >> 24;
    const double R = r + 0.5;
    const int64_t ext = int64_t(r) + 1;
    // Only offsets that land in the clip can change anything; the visiting order stays top-down, left-right.
    const int64_t dy0 = std::max(-ext, clipB.y0 - cy), dy1 = std::min(ext, clipB.y1 - 1 - cy);
    const int64_t dx0 = std::max(-ext, clipB.x0 - cx), dx1 = std::min(ext, clipB.x1 - 1 - cx);
    for (int64_t dy = dy0; dy <= dy1; ++dy) {
        for (int64_t dx = dx0; dx <= dx1; ++dx) {
            // In doubles: offsets of a huge radius would overflow 64-bit squares.
            const double d = std::sqrt(double(dx) * double(dx) + double(dy) * double(dy));
            if (d > R) continue;
            const uint32_t a = uint32_t(std::min(1.0, R - d) * alpha);
            blendAt(*this, clipB, cx + dx, cy + dy, px, a);
        }
    }
}

void Canvas::fillRoundRect(Rect r, int32_t radius, Color c) {
    const int64_t x = r.x, y = r.y, w = r.w, h = r.h;
    const int64_t k = std::min<int64_t>(std::min(w, h) / 2, radius);
    const uint32_t px = pixelOf(c), alpha = c >> 24;
    fillBox(*this, Box::xywh(x + k, y, w - 2 * k, h), px, alpha);
    fillBox(*this, Box::xywh(x, y + k, k, h - 2 * k), px, alpha);
    fillBox(*this, Box::xywh(x + w - k, y + k, k, h - 2 * k), px, alpha);
    if (k < 0 || alpha == 0) return;
    const Box clipB = blend::clipBox(*this);
    if (clipB.empty()) return;
    const double R = k + 0.5;
    const int64_t leftC = x + k, rightC = x + w - 1 - k;
    // Left corners walk leftwards from leftC, right ones rightwards from rightC; only i that land in the clip.
    const int64_t li0 = std::max<int64_t>(0, leftC - (clipB.x1 - 1)), li1 = std::min<int64_t>(k, leftC - clipB.x0);
    const int64_t ri0 = std::max<int64_t>(0, clipB.x0 - rightC), ri1 = std::min<int64_t>(k, clipB.x1 - 1 - rightC);
    auto corners = [&](int64_t row, int64_t j) {
        if (row < clipB.y0 || row >= clipB.y1) return;
        for (int64_t i = li0; i <= li1; ++i) {
            const double d = std::sqrt(double(i * i + j * j));
            if (d <= R) blendAt(*this, clipB, leftC - i, row, px, uint32_t(std::min(1.0, R - d) * alpha));
        }
        for (int64_t i = ri0; i <= ri1; ++i) {
            const double d = std::sqrt(double(i * i + j * j));
            if (d <= R) blendAt(*this, clipB, rightC + i, row, px, uint32_t(std::min(1.0, R - d) * alpha));
        }
    };
    const int64_t top = y + k, bottom = y + h - 1 - k;
    // Rows above the clip are skipped without visiting them (the order of the rest is unchanged).
    const int64_t tj0 = std::max<int64_t>(0, top - (clipB.y1 - 1)), tj1 = std::min<int64_t>(k, top - clipB.y0);
    for (int64_t j = tj0; j <= tj1; ++j) corners(top - j, j);
    const int64_t bj0 = std::max<int64_t>(0, clipB.y0 - bottom), bj1 = std::min<int64_t>(k, clipB.y1 - 1 - bottom);
    for (int64_t j = bj0; j <= bj1; ++j) corners(bottom + j, j);
}

void Canvas::drawBitmap(const Bitmap& bitmap, int32_t x, int32_t y, int32_t scale, uint8_t opacity) {
    drawBitmapRegion(bitmap, Rect{0, 0, bitmap.w, bitmap.h}, x, y, scale, opacity);
}

void Canvas::drawBitmapRegion(const Bitmap& bm, Rect src, int32_t x, int32_t y, int32_t scale, uint8_t opacity) {
    if (!blend::usable(bm) || scale <= 0) return;
    const int64_t sx = std::max(src.x, 0), sy = std::max(src.y, 0);
    const int64_t sw = std::min<int64_t>(bm.w, int64_t(src.x) + src.w) - sx;
    const int64_t sh = std::min<int64_t>(bm.h, int64_t(src.y) + src.h) - sy;
    if (sw < 1 || sh < 1) return;
    const Box clipB = blend::clipBox(*this);
    const uint32_t o = opacity;
    if (scale > 1) {
        // Only source pixels whose block meets the clip are visited, row by row as before.
        const int64_t i0 = std::max<int64_t>(0, blend::floorDiv(clipB.x0 - x, scale));
        const int64_t i1 = std::min<int64_t>(sw, blend::floorDiv(clipB.x1 - 1 - x, scale) + 1);
        const int64_t j0 = std::max<int64_t>(0, blend::floorDiv(clipB.y0 - y, scale));
        const int64_t j1 = std::min<int64_t>(sh, blend::floorDiv(clipB.y1 - 1 - y, scale) + 1);
        for (int64_t j = j0; j < j1; ++j) {
            const uint32_t* s = bm.pixels.data() + (sy + j) * bm.w + sx;
            for (int64_t i = i0; i < i1; ++i) {
                const uint32_t p = s[i];
                const uint32_t a = bitmapWeight(p >> 24, o);
                if (a == 0) continue;
                fillBox(*this, Box::xywh(x + i * scale, y + j * scale, scale, scale), p, a);
            }
        }
        return;
    }
    const Box d = Box::xywh(x, y, sw, sh).intersect(clipB);
    if (d.empty()) return;
    const int64_t n = d.x1 - d.x0;
    const uint32_t* s = bm.pixels.data() + (sy + d.y0 - y) * bm.w + sx + (d.x0 - x);
    if (o == 255 && blend::wide()) {
        blend::sourceOverWide(at(*this, d.x0, d.y0), width, s, bm.w, n, d.y1 - d.y0);
        return;
    }
    for (int64_t row = d.y0; row < d.y1; ++row, s += bm.w) blend::pixelsOver(at(*this, d.x0, row), s, n, o);
}

void Canvas::drawBitmapScaled(const Bitmap& bm, Rect src, Rect dst, uint8_t opacity) {
    if (dst.w < 1 || dst.h < 1 || src.w < 1 || src.h < 1 || !blend::usable(bm)) return;
    const int64_t sx = std::max(src.x, 0), sy = std::max(src.y, 0);
    const int64_t sw = std::min<int64_t>(bm.w, int64_t(src.x) + src.w) - sx;
    const int64_t sh = std::min<int64_t>(bm.h, int64_t(src.y) + src.h) - sy;
    if (sw < 1 || sh < 1) return;
    const Box d = Box::of(dst).intersect(blend::clipBox(*this));
    if (d.empty()) return;
    const uint32_t o = opacity;
    const int64_t n = d.x1 - d.x0;
    // Positions times sizes in 64 bits: a large bitmap drawn large cannot overflow.
    thread_local std::vector<uint32_t> cols;
    thread_local std::vector<uint32_t> row;
    cols.resize(size_t(n));
    row.resize(size_t(n));
    for (int64_t X = d.x0; X < d.x1; ++X) cols[size_t(X - d.x0)] = uint32_t(sx + ((X - dst.x) * sw) / dst.w);
    int64_t lastSrcRow = -1;
    bool lastOpaque = false;
    for (int64_t Y = d.y0; Y < d.y1; ++Y) {
        const int64_t srow = sy + ((Y - dst.y) * sh) / dst.h;
        uint32_t* p = at(*this, d.x0, Y);
        if (o == 255 && srow == lastSrcRow && lastOpaque) {
            std::memcpy(p, p - width, size_t(n) * 4);
            continue;
        }
        const uint32_t* s = bm.pixels.data() + srow * bm.w;
        for (int64_t i = 0; i < n; ++i) row[size_t(i)] = s[cols[size_t(i)]];
        lastSrcRow = srow;
        lastOpaque = o == 255 && blend::allOpaque(row.data(), n);
        if (lastOpaque)
            std::memcpy(p, row.data(), size_t(n) * 4);
        else
            blend::pixelsOver(p, row.data(), n, o);
    }
}

void Canvas::drawBitmapTinted(const Bitmap& bm, int32_t x, int32_t y, Color c) {
    if (!blend::usable(bm)) return;
    const Box d = Box::xywh(x, y, bm.w, bm.h).intersect(blend::clipBox(*this));
    if (d.empty()) return;
    const uint32_t px = pixelOf(c), ca = c >> 24;
    if (ca == 0) return;
    const uint32_t* s = bm.pixels.data() + (d.y0 - y) * bm.w + (d.x0 - x);
    if (blend::wide()) {
        blend::tintOverWide(at(*this, d.x0, d.y0), width, s, bm.w, d.x1 - d.x0, d.y1 - d.y0, px, ca);
        return;
    }
    for (int64_t row = d.y0; row < d.y1; ++row, s += bm.w) blend::tintOver(at(*this, d.x0, row), s, d.x1 - d.x0, px, ca);
}

}  // namespace lumo::gui
