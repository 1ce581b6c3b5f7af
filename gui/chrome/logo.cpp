#include "gui/chrome/logo.h"

#include <algorithm>
#include <cmath>

#include "gui/draw/raster.h"

namespace lumo::gui {

namespace {

// The mark is one brush stroke: a wave of one full period across the box whose thickness swells from
// a point at each end to its widest in the middle. Its centre line is y = 10 - A sin(2 pi x / 37) and
// its thickness T sin(pi x / 37); the figure is its own half-turn about the centre of the box, so its
// fill is centred by construction. The amplitude is then stretched so that the crest touches the top
// of the box and the trough its foot.
constexpr double kPi = 3.14159265358979323846;
constexpr double kAmp = 7.0;    // units, before the stretch
constexpr double kThick = 8.0;  // units at the middle
constexpr int kArcs = 16;       // cubic pieces along each edge

struct Edge {
    double y, slope;
};

// The top edge (side -1) or the bottom edge (side +1) at x, before the stretch.
Edge edgeAt(double x, int side) {
    const double w = 2 * kPi / kLogoWidth, v = kPi / kLogoWidth;
    const double y = kLogoHeight / 2 - kAmp * std::sin(w * x) + side * kThick / 2 * std::sin(v * x);
    const double slope = -kAmp * w * std::cos(w * x) + side * kThick / 2 * v * std::cos(v * x);
    return Edge{y, slope};
}

// How far the top edge must be stretched about the middle line to reach y = 0.
double stretch() {
    static const double k = [] {
        double top = kLogoHeight / 2;
        for (int i = 0; i <= 3700; ++i) top = std::min(top, edgeAt(kLogoWidth * i / 3700, -1).y);
        return (kLogoHeight / 2) / (kLogoHeight / 2 - top);
    }();
    return k;
}

// The outline in units mapped by (x, y) -> (x f + tx, y f + ty), each edge as cubic pieces that take
// the exact position and slope of the edge at both their ends.
Path outline(double f, double tx, double ty) {
    const double k = stretch(), mid = kLogoHeight / 2;
    auto px = [&](double x) { return x * f + tx; };
    auto py = [&](double y) { return (mid + (y - mid) * k) * f + ty; };
    Path p;
    p.moveTo(px(0), py(mid));
    for (int side : {-1, +1}) {
        // The top edge runs left to right, the bottom edge back.
        const double step = (side < 0 ? 1 : -1) * kLogoWidth / kArcs;
        double x = side < 0 ? 0 : kLogoWidth;
        for (int i = 0; i < kArcs; ++i) {
            const double x1 = x + step;
            const Edge a = edgeAt(x, side), b = edgeAt(x1, side);
            const double h = step / 3;
            p.cubicTo(px(x + h), py(a.y + a.slope * h), px(x1 - h), py(b.y - b.slope * h), px(x1), py(b.y));
            x = x1;
        }
    }
    p.close();
    return p;
}

}  // namespace

const Path& arduneLogoPath() {
    static const Path path = outline(1.0, 0.0, 0.0);
    return path;
}

void drawArduneLogo(Canvas& canvas, Rect r, double factor, Color c) {
    if (!(factor > 0) || !std::isfinite(factor) || factor > 1e6 || r.empty()) return;
    const Rect saved = canvas.clip;
    const int64_t x0 = std::max<int64_t>(saved.x, r.x), y0 = std::max<int64_t>(saved.y, r.y);
    const int64_t x1 = std::min<int64_t>(int64_t(saved.x) + saved.w, int64_t(r.x) + r.w);
    const int64_t y1 = std::min<int64_t>(int64_t(saved.y) + saved.h, int64_t(r.y) + r.h);
    if (x1 <= x0 || y1 <= y0) return;
    canvas.clip = Rect{int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
    // Built at the drawing size, so the curves are flattened finely enough for it.
    const double tx = r.x + (r.w - kLogoWidth * factor) / 2;
    const double ty = r.y + (r.h - kLogoHeight * factor) / 2;
    fillPath(canvas, outline(factor, tx, ty), c, false, 16);
    canvas.clip = saved;
}

}  // namespace lumo::gui
