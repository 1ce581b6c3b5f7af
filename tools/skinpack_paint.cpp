#include "tools/skinpack_paint.h"

#include <algorithm>
#include <cmath>

#include "gui/draw/canvas.h"
#include "gui/draw/raster.h"
#include "gui/draw/stroke.h"

namespace skinart {

using lumo::gui::Path;

namespace {

constexpr int kSamples = 16;

uint8_t byte(double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

uint32_t argb(double r, double g, double b, double a) {
    return uint32_t(byte(a)) << 24 | uint32_t(byte(r)) << 16 | uint32_t(byte(g)) << 8 | byte(b);
}

}  // namespace

Rgba hex(uint32_t rgb, double a) {
    return Rgba{((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, a};
}

Rgba mix(const Rgba& p, const Rgba& q, double t) {
    return Rgba{p.r + (q.r - p.r) * t, p.g + (q.g - p.g) * t, p.b + (q.b - p.b) * t, p.a + (q.a - p.a) * t};
}

Fill solid(uint32_t rgb, double a) {
    const Rgba c = hex(rgb, a);
    return [c](double, double) { return c; };
}

Fill vgrad(uint32_t top, uint32_t bottom, double y0, double y1, double a) {
    return vgrad(hex(top, a), hex(bottom, a), y0, y1);
}

Fill vgrad(const Rgba& t, const Rgba& b, double y0, double y1) {
    return [=](double, double y) {
        if (!(y1 > y0)) return t;
        return mix(t, b, std::clamp((y - y0) / (y1 - y0), 0.0, 1.0));
    };
}

Box xywh(double x, double y, double w, double h) { return Box{x, y, x + w, y + h}; }

int deviceEdge(double v, double scale) { return int(std::floor(v * scale + 1e-9)); }

Layer::Layer(const Box& place, double scale) : s_(scale) {
    ox_ = deviceEdge(place.x0, s_);
    oy_ = deviceEdge(place.y0, s_);
    w_ = std::max(0, deviceEdge(place.x1, s_) - ox_);
    h_ = std::max(0, deviceEdge(place.y1, s_) - oy_);
    px_.assign(size_t(w_) * size_t(h_) * 4, 0.0f);
}

int Layer::one() const { return std::max(1, int(std::lround(s_))); }

Layer::Cover Layer::area(int x0, int y0, int x1, int y1) const {
    Cover c;
    c.x0 = std::clamp(x0, 0, w_);
    c.y0 = std::clamp(y0, 0, h_);
    c.w = std::clamp(x1, 0, w_) - c.x0;
    c.h = std::clamp(y1, 0, h_) - c.y0;
    if (c.w < 0) c.w = 0;
    if (c.h < 0) c.h = 0;
    c.k.assign(size_t(c.w) * size_t(c.h), 0.0f);
    return c;
}

// The layer area a path's points span, grown by `grow` pixels (for strokes).
Layer::Cover Layer::bounds(const Path& devicePath, double grow) const {
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    for (const auto& sub : devicePath.subs)
        for (const auto& p : sub.points) {
            x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
        }
    if (x1 < x0) return Cover{};
    return area(int(std::floor(x0 - grow)), int(std::floor(y0 - grow)), int(std::ceil(x1 + grow)) + 1,
                int(std::ceil(y1 + grow)) + 1);
}

// A white shape drawn on a canvas the size of the cover area becomes its coverage.
void Layer::take(Cover& c, const lumo::gui::Canvas& canvas) {
    for (size_t i = 0; i < c.k.size(); ++i) c.k[i] = float((canvas.pixels[i] >> 24) / 255.0);
}

Layer::Cover Layer::coverage(const Path& devicePath, bool evenOdd) const {
    Cover c = bounds(devicePath, 0);
    if (c.k.empty()) return c;
    lumo::gui::Canvas canvas;
    canvas.resize(c.w, c.h);
    lumo::gui::fillPath(canvas, devicePath.transformed(1.0, -c.x0, -c.y0), 0xFFFFFFFFu, evenOdd, kSamples);
    take(c, canvas);
    return c;
}

void Layer::paint(const Cover& cover, const Fill& f) {
    for (int cy = 0; cy < cover.h; ++cy)
        for (int cx = 0; cx < cover.w; ++cx) {
            const int x = cover.x0 + cx, y = cover.y0 + cy;
            float k = cover.k[size_t(cy) * size_t(cover.w) + size_t(cx)];
            if (!clip_.k.empty()) {
                const int qx = x - clip_.x0, qy = y - clip_.y0;
                k *= (qx >= 0 && qy >= 0 && qx < clip_.w && qy < clip_.h) ? clip_.k[size_t(qy) * size_t(clip_.w) + size_t(qx)] : 0.0f;
            }
            if (k <= 0) continue;
            const size_t i = size_t(y) * size_t(w_) + size_t(x);
            const Rgba c = f(ux(x + 0.5), uy(y + 0.5));
            const float a = float(c.a) * k;
            float* d = &px_[i * 4];
            d[0] = float(c.r) * a + d[0] * (1 - a);
            d[1] = float(c.g) * a + d[1] * (1 - a);
            d[2] = float(c.b) * a + d[2] * (1 - a);
            d[3] = a + d[3] * (1 - a);
        }
}

Path Layer::snappedRound(const Box& b, double radius, int inset) const {
    const double x0 = ex(b.x0) + inset, y0 = ey(b.y0) + inset;
    const double x1 = ex(b.x1) - inset, y1 = ey(b.y1) - inset;
    Path p;
    if (x1 > x0 && y1 > y0) p.roundRect(x0, y0, x1 - x0, y1 - y0, std::max(0.0, radius * s_ - inset));
    return p;
}

Path Layer::toDevice(const Path& designPath) const { return designPath.transformed(s_, -ox_, -oy_); }

void Layer::pixelsIn(int x0, int y0, int x1, int y1, const Fill& f) {
    Cover c = area(x0, y0, x1, y1);
    std::fill(c.k.begin(), c.k.end(), 1.0f);
    paint(c, f);
}

void Layer::rect(const Box& b, const Fill& f) { pixelsIn(ex(b.x0), ey(b.y0), ex(b.x1), ey(b.y1), f); }

void Layer::hline(double x0, double x1, double y, const Fill& f) { pixelsIn(ex(x0), ey(y), ex(x1), ey(y) + one(), f); }

void Layer::vline(double x, double y0, double y1, const Fill& f) { pixelsIn(ex(x), ey(y0), ex(x) + one(), ey(y1), f); }

void Layer::round(const Box& b, double radius, const Fill& f) { paint(coverage(snappedRound(b, radius, 0), false), f); }

void Layer::ring(const Box& b, double radius, const Fill& f, int thick) {
    Path p = snappedRound(b, radius, 0);
    const Path inner = snappedRound(b, radius, thick > 0 ? thick : one());
    p.subs.insert(p.subs.end(), inner.subs.begin(), inner.subs.end());
    paint(coverage(p, true), f);
}

void Layer::circle(double cx, double cy, double r, const Fill& f) {
    Path p;
    p.circle(cx * s_ - ox_, cy * s_ - oy_, r * s_);
    paint(coverage(p, false), f);
}

void Layer::shape(const Path& designPath, const Fill& f, bool evenOdd) {
    paint(coverage(toDevice(designPath), evenOdd), f);
}

void Layer::stroke(const Path& designPath, double widthUnits, const Fill& f, int cap) {
    const Path path = toDevice(designPath);
    Cover c = bounds(path, widthUnits * s_);
    if (c.k.empty()) return;
    lumo::gui::Canvas canvas;
    canvas.resize(c.w, c.h);
    lumo::gui::StrokeStyle style;
    style.width = widthUnits * s_;
    style.cap = cap;
    style.join = 1;
    lumo::gui::strokePath(canvas, path.transformed(1.0, -c.x0, -c.y0), style, 0xFFFFFFFFu, kSamples);
    take(c, canvas);
    paint(c, f);
}

void Layer::clipTo(const Box& b, double radius) { clip_ = coverage(snappedRound(b, radius, 0), false); }

std::vector<uint32_t> Layer::pixels() const {
    std::vector<uint32_t> out(size_t(w_) * size_t(h_));
    for (size_t i = 0; i < out.size(); ++i) {
        const float* p = &px_[i * 4];
        const double a = p[3];
        out[i] = a > 0 ? argb(p[0] / a, p[1] / a, p[2] / a, a) : 0u;
    }
    return out;
}

std::vector<uint32_t> Layer::overBlack() const {
    std::vector<uint32_t> out(size_t(w_) * size_t(h_));
    for (size_t i = 0; i < out.size(); ++i) out[i] = argb(px_[i * 4], px_[i * 4 + 1], px_[i * 4 + 2], 1.0);
    return out;
}

std::vector<uint32_t> Layer::overWhite() const {
    std::vector<uint32_t> out(size_t(w_) * size_t(h_));
    for (size_t i = 0; i < out.size(); ++i) {
        const float* p = &px_[i * 4];
        out[i] = argb(p[0] + 1 - p[3], p[1] + 1 - p[3], p[2] + 1 - p[3], 1.0);
    }
    return out;
}

}  // namespace skinart
