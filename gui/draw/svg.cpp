// SVG pictures: parsing into shapes, fitting into a box, drawing onto a canvas and rendering into
// a bitmap with floating-point compositing.
#include "gui/draw/svg.h"

#include <algorithm>
#include <cmath>

#include "gui/draw/raster.h"
#include "gui/draw/svg_read.h"

namespace lumo::gui {

using namespace svgread;

Svg Svg::parse(const std::string& text) {
    Svg out;
    XNode root;
    size_t pos = 0;
    if (!parseXml(text, pos, root)) return out;
    const XNode* svgNode = nullptr;
    for (const auto& c : root.children) {
        if (c.name == "svg") {
            svgNode = &c;
            break;
        }
    }
    if (!svgNode) return out;
    for (auto [key, dim] : {std::pair{"width", &out.viewW}, std::pair{"height", &out.viewH}}) {
        const std::string* v = svgNode->attr(key);
        Num n{v ? v->c_str() : ""};
        if (!n.number(*dim)) *dim = 0;
    }
    if (const std::string* vb = svgNode->attr("viewBox")) {
        Num n{vb->c_str()};
        double v[4];
        if (n.number(v[0]) && n.number(v[1]) && n.number(v[2]) && n.number(v[3]) && v[2] > 0 && v[3] > 0) {
            out.viewX = v[0];
            out.viewY = v[1];
            out.viewW = v[2];
            out.viewH = v[3];
        }
    }
    if (!(out.viewW > 0) || !(out.viewH > 0)) return out;
    SvgReader reader;
    reader.svg = &out;
    collectSheets(*svgNode, reader.rules);
    reader.walk(*svgNode, State{});
    return out;
}

namespace {

struct Fit {
    double sx = 1, sy = 1, ox = 0, oy = 0;
    bool whole = false;      // whole-pixel scales: crisp shapes may snap
    double strokeScale = 1;  // sqrt(sx * sy) of the fitted scales
};

Fit fitOf(const Svg& svg, double x, double y, double w, double h, bool stretch) {
    Fit f;
    double sx = w / svg.viewW, sy = h / svg.viewH;
    if (stretch) {
        f.sx = sx;
        f.sy = sy;
        f.ox = x - svg.viewX * sx;
        f.oy = y - svg.viewY * sy;
    } else {
        double s = std::min(sx, sy);
        f.sx = f.sy = s;
        f.ox = x + (w - svg.viewW * s) / 2 - svg.viewX * s;
        f.oy = y + (h - svg.viewH * s) / 2 - svg.viewY * s;
    }
    auto nearWhole = [](double s) { return s >= 0.999999 && std::fabs(s - std::round(s)) <= 0.02; };
    f.whole = nearWhole(f.sx) && nearWhole(f.sy);
    // The scales the geometry gets: a uniform fit must not thicken strokes by the unused stretch.
    f.strokeScale = std::sqrt(f.sx * f.sy);
    return f;
}

Path devicePath(const Svg::Shape& shape, const Fit& f, bool snap) {
    Path path;
    auto mx = [&](double v) { double d = v * f.sx + f.ox; return snap ? std::round(d) : d; };
    auto my = [&](double v) { double d = v * f.sy + f.oy; return snap ? std::round(d) : d; };
    for (const auto& s : shape.segments) {
        switch (s.cmd) {
            case 'M': path.moveTo(mx(s.p[0]), my(s.p[1])); break;
            case 'L': path.lineTo(mx(s.p[0]), my(s.p[1])); break;
            case 'C':
                path.cubicTo(mx(s.p[0]), my(s.p[1]), mx(s.p[2]), my(s.p[3]), mx(s.p[4]), my(s.p[5]));
                break;
            case 'Z': path.close(); break;
        }
    }
    return path;
}

// The paint's colour with its alpha scaled by the overall alpha and the shape's opacity.
Color paintColor(const Svg::Paint& p, const SvgDraw& opts, double opacity) {
    Color c = p.kind == 2 ? opts.current : p.color;
    double a = (double)(c >> 24) / 255.0 * (opts.alpha / 255.0) * opacity;
    if (std::isnan(a)) a = 0;
    uint32_t alpha = (uint32_t)std::round(std::clamp(a, 0.0, 1.0) * 255.0);
    return (c & 0x00FFFFFFu) | (alpha << 24);
}

// Calls draw(path, colour, isStroke, style) for each paint of each shape that shows.
template <class F>
void eachPaint(const Svg& svg, const Fit& fit, const SvgDraw& opts, F&& draw) {
    for (const auto& shape : svg.shapes) {
        Path path = devicePath(shape, fit, fit.whole && opts.snap && shape.crisp);
        if (shape.fill.kind != 0) {
            Color c = paintColor(shape.fill, opts, shape.fillOpacity);
            if (c >> 24) draw(path, c, false, shape);
        }
        if (shape.stroke.kind != 0 && shape.style.width > 0) {
            Color c = paintColor(shape.stroke, opts, shape.strokeOpacity);
            if (c >> 24) draw(path, c, true, shape);
        }
    }
}

}  // namespace

void Svg::draw(Canvas& canvas, double x, double y, double w, double h, const SvgDraw& opts) const {
    if (!(w > 0) || !(h > 0) || shapes.empty()) return;
    Fit fit = fitOf(*this, x, y, w, h, opts.stretch);
    eachPaint(*this, fit, opts, [&](const Path& path, Color c, bool stroke, const Shape& shape) {
        if (!stroke) {
            fillPath(canvas, path, c, shape.evenOdd, opts.samples);
        } else {
            StrokeStyle st = shape.style;
            st.width *= fit.strokeScale;
            strokePath(canvas, path, st, c, opts.samples);
        }
    });
}

Bitmap Svg::render(int w, int h, double x, double y, double bw, double bh, const SvgDraw& opts) const {
    Bitmap out;
    if (w < 1 || h < 1) return out;
    out.w = w;
    out.h = h;
    const size_t count = (size_t)w * (size_t)h;
    out.pixels.assign(count, 0);
    if (!(bw > 0) || !(bh > 0) || shapes.empty()) return out;

    std::vector<float> A(count, 0.f), R(count, 0.f), G(count, 0.f), B(count, 0.f);
    Canvas scratch;
    scratch.resize(w, h);
    Fit fit = fitOf(*this, x, y, bw, bh, opts.stretch);
    eachPaint(*this, fit, opts, [&](const Path& path, Color c, bool stroke, const Shape& shape) {
        std::fill(scratch.pixels.begin(), scratch.pixels.end(), 0u);
        if (!stroke) {
            fillPath(scratch, path, 0xFFFFFFFFu, shape.evenOdd, opts.samples);
        } else {
            StrokeStyle st = shape.style;
            st.width *= fit.strokeScale;
            strokePath(scratch, path, st, 0xFFFFFFFFu, opts.samples);
        }
        const float pa = (float)(c >> 24) / 255.f;
        const float pr = (float)(c & 0xFF), pg = (float)((c >> 8) & 0xFF), pb = (float)((c >> 16) & 0xFF);
        for (size_t i = 0; i < count; ++i) {
            uint32_t s = scratch.pixels[i] >> 24;
            if (!s) continue;
            float cov = (float)s / 255.f * pa;
            float a = A[i], na = (1.f - cov) * a + cov;
            float keep = a * (1.f - cov);
            R[i] = (R[i] * keep + cov * pr) / na;
            G[i] = (G[i] * keep + cov * pg) / na;
            B[i] = (B[i] * keep + cov * pb) / na;
            A[i] = na;
        }
    });
    for (size_t i = 0; i < count; ++i) {
        uint32_t a = (uint32_t)std::lround(std::min(A[i], 1.f) * 255.f);
        if (!a) continue;
        auto ch = [](float v) { return (uint32_t)std::lround(std::clamp(v, 0.f, 255.f)); };
        out.pixels[i] = (a << 24) | (ch(R[i]) << 16) | (ch(G[i]) << 8) | ch(B[i]);
    }
    return out;
}

void Svg::inkBounds(double& x0, double& y0, double& x1, double& y1) const {
    x0 = y0 = 1e300;
    x1 = y1 = -1e300;
    for (const auto& s : shapes) {
        double m = s.stroke.kind != 0 ? s.style.width / 2 : 0.0;
        for (const auto& seg : s.segments) {
            int pts = seg.cmd == 'C' ? 3 : seg.cmd == 'Z' ? 0 : 1;
            for (int i = 0; i < pts; ++i) {
                double px = seg.p[2 * i], py = seg.p[2 * i + 1];
                x0 = std::min(x0, px - m);
                y0 = std::min(y0, py - m);
                x1 = std::max(x1, px + m);
                y1 = std::max(y1, py + m);
            }
        }
    }
    if (shapes.empty() || x0 > x1) x0 = y0 = x1 = y1 = 0;
}

}  // namespace lumo::gui
