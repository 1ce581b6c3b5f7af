// Product pictures of the demo catalog: flat vector drawings of our own (a colour field, a wave or a
// ring pattern and, on the logo, the initials), anti-aliased through the drawing library.
#include "tools/demo/demo_art.h"

#include <algorithm>
#include <cmath>

#include "gui/draw/path.h"
#include "gui/draw/raster.h"
#include "gui/draw/stroke.h"

namespace demo {
namespace {

using lumo::gui::Canvas;
using lumo::gui::Color;
using lumo::gui::Path;

// An opaque colour from hue, saturation and value (0 to 1).
Color hsv(double h, double s, double v, double a = 1.0) {
    h = std::fmod(h, 360.0) / 60.0;
    const double c = v * s, x = c * (1 - std::fabs(std::fmod(h, 2.0) - 1)), m = v - c;
    double r = 0, g = 0, b = 0;
    if (h < 1)
        r = c, g = x;
    else if (h < 2)
        r = x, g = c;
    else if (h < 3)
        g = c, b = x;
    else if (h < 4)
        g = x, b = c;
    else if (h < 5)
        r = x, b = c;
    else
        r = c, b = x;
    auto byte = [](double u) { return uint32_t(std::clamp(std::lround(u * 255.0), 0L, 255L)); };
    return byte(a) << 24 | byte(b + m) << 16 | byte(g + m) << 8 | byte(r + m);
}

Canvas blank(double w, double h, double scale) {
    Canvas c;
    c.resize(std::max(1, int(std::lround(w * scale))), std::max(1, int(std::lround(h * scale))));
    return c;
}

// A vertical gradient in whole rows.
void field(Canvas& c, const Motif& m, double v0, double v1) {
    for (int y = 0; y < c.height; ++y) {
        const double t = c.height > 1 ? double(y) / (c.height - 1) : 0.0;
        c.fillRect({0, y, c.width, 1}, hsv(m.hue, 0.55, v0 + (v1 - v0) * t));
    }
}

// The pattern over a box (units, scaled): a sine wave, a saw, or rings.
void pattern(Canvas& c, const Motif& m, double x, double y, double w, double h, double scale, double line) {
    const Color ink = hsv(m.hue + 30, 0.25, 1.0, 0.9);
    Path p;
    const int steps = 48;
    switch (m.pattern % 3) {
        case 0:
            for (int i = 0; i <= steps; ++i) {
                const double t = double(i) / steps;
                const double px = (x + w * t) * scale, py = (y + h / 2 + std::sin(t * 6.2832 * 2) * h * 0.38) * scale;
                i == 0 ? p.moveTo(px, py) : p.lineTo(px, py);
            }
            lumo::gui::strokePath(c, p, line * scale, ink);
            break;
        case 1:
            for (int i = 0; i <= 4; ++i) {
                const double px = (x + w * i / 4.0) * scale;
                i == 0 ? p.moveTo(px, (y + h * 0.85) * scale) : p.lineTo(px, (y + h * 0.85) * scale);
                if (i < 4) p.lineTo((x + w * (i + 1) / 4.0) * scale, (y + h * 0.15) * scale);
            }
            lumo::gui::strokePath(c, p, line * scale, ink);
            break;
        default:
            for (int r = 1; r <= 3; ++r) {
                Path ring;
                ring.circle((x + w / 2) * scale, (y + h / 2) * scale, h * 0.16 * r * scale);
                lumo::gui::strokePath(c, ring, line * scale, ink);
            }
            break;
    }
}

}  // namespace

Canvas rowPicture(const Motif& m, double scale) {
    Canvas c = blank(68, 12, scale);
    field(c, m, 0.75, 0.45);
    pattern(c, m, 4, 1.5, 60, 9, scale, 1.0);
    return c;
}

Canvas logoPicture(const Motif& m, const std::string& initials, double scale) {
    Canvas c = blank(97, 75, scale);
    Path card;
    card.roundRect(0.5 * scale, 0.5 * scale, 96 * scale, 74 * scale, 9 * scale);
    Canvas fill = blank(97, 75, scale);
    field(fill, m, 0.8, 0.35);
    // The gradient through the card's shape: fill the shape into a mask, keep the field where it is.
    Canvas mask = blank(97, 75, scale);
    lumo::gui::fillPath(mask, card, 0xFFFFFFFFu, false, 16);
    for (size_t i = 0; i < c.pixels.size(); ++i) {
        const uint32_t a = mask.pixels[i] >> 24;
        c.pixels[i] = (fill.pixels[i] & 0x00FFFFFFu) | a << 24;
    }
    pattern(c, m, 10, 42, 77, 24, scale, 2.0);
    int factor = 1;
    const lumo::gui::Font& font = lumo::gui::Font::forScale(scale * 2.2, factor);
    const int tw = int(initials.size()) * font.advance * factor;
    c.drawText((c.width - tw) / 2, int(10 * scale), initials.c_str(), 0xFFFFFFFFu, font, factor);
    return c;
}

}  // namespace demo
