#include "gui/chrome/logo.h"

#include <algorithm>
#include <cmath>

#include "gui/draw/raster.h"

namespace lumo::gui {

namespace {

// A half-period of a sine arch from (x0, y) to (x0 + w, y) reaching y + a at its middle: one cubic
// whose controls stand at thirds of the width, 4/3 of the amplitude out, peaks exactly at a.
void arch(Path& p, double x0, double w, double y, double a) {
    const double k = a * 4.0 / 3.0;
    p.cubicTo(x0 + w / 3, y + k, x0 + 2 * w / 3, y + k, x0 + w, y);
}

Path makeLogo() {
    // A ribbon whose edges follow one sine period across the mark: the top edge rises to the top of the
    // box at a quarter of the width, the bottom edge falls to its foot at three quarters. The figure is
    // its own half-turn about the centre, so its fill is centred by construction.
    constexpr double W = kLogoWidth, H = kLogoHeight;
    constexpr double amp = 7.0;
    constexpr double band = H - 2 * amp;  // the ribbon's height where it is level
    const double top = amp, bottom = amp + band;
    Path p;
    p.moveTo(0, top);
    arch(p, 0, W / 2, top, -amp);
    arch(p, W / 2, W / 2, top, amp);
    p.lineTo(W, bottom);
    arch(p, W, -W / 2, bottom, -amp);
    arch(p, W / 2, -W / 2, bottom, amp);
    p.close();
    return p;
}

}  // namespace

const Path& arduneLogoPath() {
    static const Path path = makeLogo();
    return path;
}

void drawArduneLogo(Canvas& canvas, Rect r, double factor, Color c) {
    if (!(factor > 0) || !std::isfinite(factor) || r.empty()) return;
    const Rect saved = canvas.clip;
    const int x0 = std::max(saved.x, r.x), y0 = std::max(saved.y, r.y);
    const int x1 = std::min<int64_t>(int64_t(saved.x) + saved.w, int64_t(r.x) + r.w);
    const int y1 = std::min<int64_t>(int64_t(saved.y) + saved.h, int64_t(r.y) + r.h);
    if (x1 <= x0 || y1 <= y0) return;
    canvas.clip = Rect{x0, y0, x1 - x0, y1 - y0};
    const double tx = r.x + (r.w - kLogoWidth * factor) / 2;
    const double ty = r.y + (r.h - kLogoHeight * factor) / 2;
    fillPath(canvas, arduneLogoPath().transformed(factor, tx, ty), c, false, 16);
    canvas.clip = saved;
}

}  // namespace lumo::gui
