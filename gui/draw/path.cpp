#include "gui/draw/path.h"

#include <algorithm>
#include <cmath>

namespace lumo::gui {

int cubicSegments(Pt p0, Pt c1, Pt c2, Pt p) {
    double len = std::hypot(c1.x - p0.x, c1.y - p0.y) + std::hypot(c2.x - c1.x, c2.y - c1.y) +
                 std::hypot(p.x - c2.x, p.y - c2.y);
    // Compare before converting: a huge or NaN length must not reach the integer conversion.
    double n = std::ceil(2.0 * len);
    if (!(n < 64.0)) return 64;
    int k = (int)n;
    return k < 4 ? 3 : k;
}

void Path::moveTo(double x, double y) {
    Sub s;
    s.points.push_back({x, y});
    subs.push_back(std::move(s));
    current = {x, y};
}

void Path::startIfNeeded() {
    if (subs.empty() || subs.back().closed) moveTo(current.x, current.y);
}

void Path::lineTo(double x, double y) {
    if (subs.empty()) {
        moveTo(x, y);
        return;
    }
    startIfNeeded();
    subs.back().points.push_back({x, y});
    current = {x, y};
}

void Path::cubicTo(double c1x, double c1y, double c2x, double c2y, double x, double y) {
    startIfNeeded();
    Pt p0 = current;
    int n = cubicSegments(p0, {c1x, c1y}, {c2x, c2y}, {x, y});
    auto& pts = subs.back().points;
    pts.reserve(pts.size() + (size_t)n);
    for (int i = 1; i <= n; ++i) {
        double t = (double)i / n, u = 1.0 - t;
        double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
        if (i == n) {
            pts.push_back({x, y});
        } else {
            pts.push_back({a * p0.x + b * c1x + c * c2x + d * x, a * p0.y + b * c1y + c * c2y + d * y});
        }
    }
    current = {x, y};
}

void Path::close() {
    if (subs.empty()) return;
    subs.back().closed = true;
    current = subs.back().points.front();
}

void Path::rect(double x, double y, double w, double h) {
    moveTo(x, y);
    lineTo(x + w, y);
    lineTo(x + w, y + h);
    lineTo(x, y + h);
    close();
}

void Path::roundRect(double x, double y, double w, double h, double r) {
    double k = std::min(std::min(w, h) * 0.5, r);
    if (!(k > 0.01)) {
        rect(x, y, w, h);
        return;
    }
    double c = 0.5523 * k;
    moveTo(x + k, y);
    lineTo(x + w - k, y);
    cubicTo(x + w - k + c, y, x + w, y + k - c, x + w, y + k);
    lineTo(x + w, y + h - k);
    cubicTo(x + w, y + h - k + c, x + w - k + c, y + h, x + w - k, y + h);
    lineTo(x + k, y + h);
    cubicTo(x + k - c, y + h, x, y + h - k + c, x, y + h - k);
    lineTo(x, y + k);
    cubicTo(x, y + k - c, x + k - c, y, x + k, y);
    close();
}

void Path::circle(double cx, double cy, double r) {
    double c = 0.5523 * r;
    moveTo(cx + r, cy);
    cubicTo(cx + r, cy + c, cx + c, cy + r, cx, cy + r);
    cubicTo(cx - c, cy + r, cx - r, cy + c, cx - r, cy);
    cubicTo(cx - r, cy - c, cx - c, cy - r, cx, cy - r);
    cubicTo(cx + c, cy - r, cx + r, cy - c, cx + r, cy);
    close();
}

Path Path::transformed(double sx, double sy, double tx, double ty) const {
    Path out = *this;
    for (auto& s : out.subs)
        for (auto& p : s.points) p = {p.x * sx + tx, p.y * sy + ty};
    out.current = {current.x * sx + tx, current.y * sy + ty};
    return out;
}

}  // namespace lumo::gui
