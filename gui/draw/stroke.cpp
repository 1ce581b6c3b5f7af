// Path stroking: segment quadrilaterals plus join and cap pieces, all added with one winding
// direction and filled once by the nonzero rule.
#include "gui/draw/stroke.h"

#include <cmath>

#include "gui/draw/raster.h"

namespace lumo::gui {

namespace {

using raster::Edge;

struct Pieces {
    explicit Pieces(std::vector<Edge>& e) : edges(e) {}
    std::vector<Edge>& edges;
    double discR = -1;
    std::vector<Pt> discPts, tmp;  // a disc outline around the origin, and one moved into place

    void poly(std::initializer_list<Pt> pts) { raster::addPolygon(edges, pts.begin(), pts.size(), true); }

    // The flattened outline of Path::circle around c.
    void disc(Pt c, double r) {
        if (r != discR) {
            Path p;
            p.circle(0, 0, r);
            discPts = p.subs.front().points;
            discR = r;
        }
        tmp.resize(discPts.size());
        for (size_t i = 0; i < tmp.size(); ++i) tmp[i] = {discPts[i].x + c.x, discPts[i].y + c.y};
        raster::addPolygon(edges, tmp.data(), tmp.size(), true);
    }

    void segment(Pt p, Pt q, double hw) {
        double dx = q.x - p.x, dy = q.y - p.y, len = std::hypot(dx, dy);
        if (len < 1e-9) return;
        double ox = -dy / len * hw, oy = dx / len * hw;
        poly({{p.x + ox, p.y + oy}, {q.x + ox, q.y + oy}, {q.x - ox, q.y - oy}, {p.x - ox, p.y - oy}});
    }
};

Pt unit(Pt a, Pt b) {
    double dx = b.x - a.x, dy = b.y - a.y, len = std::hypot(dx, dy);
    return {dx / len, dy / len};
}

void join(Pieces& pc, Pt p, Pt d0, Pt d1, const StrokeStyle& st, double hw) {
    double cross = d0.x * d1.y - d0.y * d1.x, dot = d0.x * d1.x + d0.y * d1.y;
    if (std::fabs(cross) < 1e-9 && dot > 0) return;
    if (st.join == 1) {
        pc.disc(p, hw);
        return;
    }
    double s = cross > 0 ? -1.0 : 1.0;
    Pt o0{s * hw * -d0.y, s * hw * d0.x}, o1{s * hw * -d1.y, s * hw * d1.x};
    Pt a{p.x + o0.x, p.y + o0.y}, b{p.x + o1.x, p.y + o1.y};
    if (st.join == 0) {
        double mx = o0.x + o1.x, my = o0.y + o1.y, m = std::hypot(mx, my);
        if (m > 1e-12) {
            double c = m / (2 * hw);  // cosine of half the turning angle
            if (st.miterLimit >= 1 / c) {
                double k = hw / c / m;
                pc.poly({p, a, {p.x + mx * k, p.y + my * k}, b});
                return;
            }
        }
    }
    pc.poly({p, a, b});
}

void cap(Pieces& pc, Pt e, Pt dir, int kind, double hw) {
    if (kind == 1) {
        pc.disc(e, hw);
    } else if (kind == 2) {
        Pt ex{dir.x * hw, dir.y * hw}, n{-dir.y * hw, dir.x * hw};
        pc.poly({{e.x + n.x, e.y + n.y},
                 {e.x + n.x + ex.x, e.y + n.y + ex.y},
                 {e.x - n.x + ex.x, e.y - n.y + ex.y},
                 {e.x - n.x, e.y - n.y}});
    }
}

std::vector<Edge>& edgeScratch() {
    thread_local std::vector<Edge> edges;
    edges.clear();
    return edges;
}

}  // namespace

void strokePath(Canvas& canvas, const Path& path, double width, Color color) {
    const double hw = width * 0.5;
    Pieces pc(edgeScratch());
    for (const auto& sub : path.subs) {
        const auto& p = sub.points;
        const size_t n = p.size();
        if (n >= 2) {
            for (size_t i = 0; i + 1 < n; ++i) pc.segment(p[i], p[i + 1], hw);
            if (sub.closed) pc.segment(p[n - 1], p[0], hw);
        }
        for (const Pt& c : p) pc.disc(c, hw);
    }
    raster::rasterize(canvas, pc.edges, color, false, 4);
}

void strokePath(Canvas& canvas, const Path& path, const StrokeStyle& st, Color color, int samples) {
    const double hw = st.width * 0.5;
    if (!(hw > 0)) return;
    Pieces pc(edgeScratch());
    std::vector<Pt> pts;
    for (const auto& sub : path.subs) {
        pts.clear();
        for (const Pt& q : sub.points) {
            if (!std::isfinite(q.x) || !std::isfinite(q.y)) continue;
            if (!pts.empty() && std::hypot(q.x - pts.back().x, q.y - pts.back().y) <= 1e-9) continue;
            pts.push_back(q);
        }
        if (sub.closed && pts.size() > 1 &&
            std::hypot(pts.back().x - pts.front().x, pts.back().y - pts.front().y) <= 1e-9)
            pts.pop_back();
        const size_t n = pts.size();
        const bool closed = sub.closed && n >= 3;
        if (n == 0) continue;
        if (n == 1) {
            if (st.cap == 1) pc.disc(pts[0], hw);
            if (st.cap == 2) {
                Pt c = pts[0];
                pc.poly({{c.x - hw, c.y - hw}, {c.x + hw, c.y - hw}, {c.x + hw, c.y + hw}, {c.x - hw, c.y + hw}});
            }
            continue;
        }
        for (size_t i = 0; i + 1 < n; ++i) pc.segment(pts[i], pts[i + 1], hw);
        if (closed) pc.segment(pts[n - 1], pts[0], hw);
        if (closed) {
            for (size_t i = 0; i < n; ++i)
                join(pc, pts[i], unit(pts[(i + n - 1) % n], pts[i]), unit(pts[i], pts[(i + 1) % n]), st, hw);
        } else {
            for (size_t i = 1; i + 1 < n; ++i)
                join(pc, pts[i], unit(pts[i - 1], pts[i]), unit(pts[i], pts[i + 1]), st, hw);
            Pt first = unit(pts[1], pts[0]), last = unit(pts[n - 2], pts[n - 1]);
            cap(pc, pts[0], first, st.cap, hw);
            cap(pc, pts[n - 1], last, st.cap, hw);
        }
    }
    raster::rasterize(canvas, pc.edges, color, false, samples);
}

}  // namespace lumo::gui
