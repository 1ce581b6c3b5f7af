// Path fill and stroke: lumo::gui::fillPath / strokePath against AGG's scanline rasterizer and
// cairo's image backend. Every peer gets the same flattened points (so the same edges), one
// thread and a canvas of the same size; the star is also run with 1 to 8 raster threads.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <agg_conv_stroke.h>
#include <agg_path_storage.h>
#include <agg_pixfmt_rgba.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_rendering_buffer.h>
#include <agg_scanline_p.h>
#include <agg_scanline_u.h>

#include <cmath>
#include <vector>

#include "gui/draw/raster.h"
#include "gui/draw/stroke.h"

using namespace lumo::gui;

namespace {

constexpr Color kColor = 0xFF3070E0u;

// The icon: a rounded square, a ring (two circles of opposite winding) and a triangle in n x n.
Path icon(int n) {
    double s = n / 17.0;
    Path p;
    p.roundRect(1 * s, 1 * s, 15 * s, 15 * s, 3 * s);
    Path ring;
    ring.circle(8.5 * s, 8.5 * s, 5 * s);
    Path inner;
    inner.circle(8.5 * s, 8.5 * s, 3 * s);
    for (auto& sub : inner.subs) std::reverse(sub.points.begin(), sub.points.end());
    Path tri;
    tri.moveTo(3 * s, 14 * s);
    tri.lineTo(8.5 * s, 10 * s);
    tri.lineTo(14 * s, 14 * s);
    tri.close();
    for (auto* q : {&ring, &inner, &tri})
        for (auto& sub : q->subs) p.subs.push_back(sub);
    return p;
}

Path circle512() {
    Path p;
    p.circle(256.3, 255.7, 250);
    return p;
}

Path star(int edges, double size) {
    Path p;
    const int n = edges / 2;
    for (int i = 0; i < 2 * n; ++i) {
        double a = i * M_PI / n, r = (i % 2) ? size * 0.2 : size * 0.49;
        double x = size / 2 + r * std::cos(a), y = size / 2 + r * std::sin(a);
        if (i == 0) p.moveTo(x, y);
        else p.lineTo(x, y);
    }
    p.close();
    return p;
}

Path polyline() {
    Path p;
    for (int i = 0; i <= 1000; ++i) {
        double x = 12 + i * 1.0, y = 512 + 380 * std::sin(i * 0.05) * std::cos(i * 0.013);
        if (i == 0) p.moveTo(x, y);
        else p.lineTo(x, y);
    }
    return p;
}

struct Case {
    Path path;
    int size;
};

Case caseOf(int id) {
    switch (id) {
        case 0: return {icon(17), 17};
        case 1: return {icon(34), 34};
        case 2: return {icon(51), 51};
        case 3: return {circle512(), 512};
        default: return {star(10000, 1024), 1024};
    }
}

const char* const kNames[] = {"icon17", "icon34", "icon51", "circle512", "star10k"};

void BM_LumoFill(benchmark::State& state) {
    Case c = caseOf((int)state.range(0));
    const int samples = (int)state.range(1);
    setRasterThreads(1);
    Canvas cv;
    cv.resize(c.size, c.size);
    for (auto _ : state) {
        fillPath(cv, c.path, kColor, false, samples);
        benchmark::DoNotOptimize(cv.pixels.data());
    }
    state.SetLabel(std::string(kNames[state.range(0)]) + " samples " + std::to_string(samples));
}

template <class Ras>
void aggAdd(Ras& ras, const Path& p) {
    for (const auto& sub : p.subs) {
        ras.move_to_d(sub.points[0].x, sub.points[0].y);
        for (size_t i = 1; i < sub.points.size(); ++i) ras.line_to_d(sub.points[i].x, sub.points[i].y);
        ras.close_polygon();
    }
}

struct AggCanvas {
    std::vector<uint8_t> buf;
    agg::rendering_buffer rb;
    agg::pixfmt_bgra32 pf;
    agg::renderer_base<agg::pixfmt_bgra32> ren;
    explicit AggCanvas(int size)
        : buf((size_t)size * size * 4), rb(buf.data(), size, size, size * 4), pf(rb), ren(pf) {}
};

const agg::rgba8 kAggColor(0xE0, 0x70, 0x30, 0xFF);

void BM_PeerAggFill(benchmark::State& state) {
    Case c = caseOf((int)state.range(0));
    AggCanvas a(c.size);
    agg::rasterizer_scanline_aa<> ras;
    agg::scanline_p8 sl;
    for (auto _ : state) {
        ras.reset();
        ras.filling_rule(agg::fill_non_zero);
        aggAdd(ras, c.path);
        agg::render_scanlines_aa_solid(ras, sl, a.ren, kAggColor);
        benchmark::DoNotOptimize(a.buf.data());
    }
    state.SetLabel(kNames[state.range(0)]);
}

void cairoAdd(cairo_t* cr, const Path& p) {
    cairo_new_path(cr);
    for (const auto& sub : p.subs) {
        cairo_move_to(cr, sub.points[0].x, sub.points[0].y);
        for (size_t i = 1; i < sub.points.size(); ++i) cairo_line_to(cr, sub.points[i].x, sub.points[i].y);
        cairo_close_path(cr);
    }
}

struct CairoCanvas {
    cairo_surface_t* surface;
    cairo_t* cr;
    explicit CairoCanvas(int size) {
        surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
        cr = cairo_create(surface);
        cairo_set_source_rgba(cr, 0xE0 / 255.0, 0x70 / 255.0, 0x30 / 255.0, 1.0);
    }
    ~CairoCanvas() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
};

void BM_PeerCairoFill(benchmark::State& state) {
    Case c = caseOf((int)state.range(0));
    CairoCanvas k(c.size);
    cairo_set_fill_rule(k.cr, CAIRO_FILL_RULE_WINDING);
    for (auto _ : state) {
        cairoAdd(k.cr, c.path);
        cairo_fill(k.cr);
        cairo_surface_flush(k.surface);
    }
    state.SetLabel(kNames[state.range(0)]);
}

// Stroking the 1,000-segment polyline: mitre joins and butt caps (styled form) on 1024 x 1024.
void BM_LumoStroke(benchmark::State& state) {
    const Path p = polyline();
    const double width = state.range(0) / 10.0;
    setRasterThreads(1);
    Canvas cv;
    cv.resize(1024, 1024);
    StrokeStyle st{width, 0, 0, 4.0};
    for (auto _ : state) {
        strokePath(cv, p, st, kColor, (int)state.range(1));
        benchmark::DoNotOptimize(cv.pixels.data());
    }
    state.SetLabel("width " + std::to_string(width) + " samples " + std::to_string(state.range(1)));
}

void BM_PeerAggStroke(benchmark::State& state) {
    const Path p = polyline();
    const double width = state.range(0) / 10.0;
    AggCanvas a(1024);
    agg::path_storage ps;
    ps.move_to(p.subs[0].points[0].x, p.subs[0].points[0].y);
    for (size_t i = 1; i < p.subs[0].points.size(); ++i) ps.line_to(p.subs[0].points[i].x, p.subs[0].points[i].y);
    agg::conv_stroke<agg::path_storage> stroke(ps);
    stroke.width(width);
    stroke.line_join(agg::miter_join);
    stroke.line_cap(agg::butt_cap);
    stroke.miter_limit(4.0);
    agg::rasterizer_scanline_aa<> ras;
    agg::scanline_p8 sl;
    for (auto _ : state) {
        ras.reset();
        ras.add_path(stroke);
        agg::render_scanlines_aa_solid(ras, sl, a.ren, kAggColor);
        benchmark::DoNotOptimize(a.buf.data());
    }
    state.SetLabel("width " + std::to_string(width));
}

void BM_PeerCairoStroke(benchmark::State& state) {
    const Path p = polyline();
    const double width = state.range(0) / 10.0;
    CairoCanvas k(1024);
    cairo_set_line_width(k.cr, width);
    cairo_set_line_join(k.cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_line_cap(k.cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_miter_limit(k.cr, 4.0);
    for (auto _ : state) {
        cairo_new_path(k.cr);
        const auto& pts = p.subs[0].points;
        cairo_move_to(k.cr, pts[0].x, pts[0].y);
        for (size_t i = 1; i < pts.size(); ++i) cairo_line_to(k.cr, pts[i].x, pts[i].y);
        cairo_stroke(k.cr);
        cairo_surface_flush(k.surface);
    }
    state.SetLabel("width " + std::to_string(width));
}

// The star with 1, 2, 4 and 8 raster threads.
void BM_LumoStarThreads(benchmark::State& state) {
    Case c = caseOf(4);
    setRasterThreads((int)state.range(0));
    Canvas cv;
    cv.resize(c.size, c.size);
    for (auto _ : state) {
        fillPath(cv, c.path, kColor, false, (int)state.range(1));
        benchmark::DoNotOptimize(cv.pixels.data());
    }
    setRasterThreads(1);
    state.SetLabel("threads " + std::to_string(state.range(0)) + " samples " + std::to_string(state.range(1)));
}

}  // namespace

BENCHMARK(BM_LumoFill)->ArgsProduct({{0, 1, 2, 3, 4}, {4, 16}});
BENCHMARK(BM_PeerAggFill)->DenseRange(0, 4);
BENCHMARK(BM_PeerCairoFill)->DenseRange(0, 4);
BENCHMARK(BM_LumoStroke)->ArgsProduct({{15, 80}, {4, 16}});
BENCHMARK(BM_PeerAggStroke)->Arg(15)->Arg(80);
BENCHMARK(BM_PeerCairoStroke)->Arg(15)->Arg(80);
BENCHMARK(BM_LumoStarThreads)->ArgsProduct({{1, 2, 4, 8}, {4, 16}})->UseRealTime();
