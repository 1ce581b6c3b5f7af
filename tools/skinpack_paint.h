#pragma once
// The skin generator's painter: one sprite's picture at one scale, drawn in design units (the 1x
// page) and kept in premultiplied floating point until it is written out.
//
// Shapes are placed on the device grid of the whole page: a design edge v lands on the device edge
// floor(v * scale + 1e-9), the same rule the window uses for every placement, so a sprite's edges
// meet the page art's edges at every scale and straight edges are never smeared over two pixels.
// Outlines are `one()` device pixels thick: 1 at 1x, 1.2x and 1.25x, 2 at 1.5x and 2x, 3 at 3x.
#include <cstdint>
#include <functional>
#include <vector>

#include "gui/draw/canvas.h"
#include "gui/draw/path.h"

namespace skinart {

// Straight-alpha colour, channels 0..1.
struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;
};

// 0xRRGGBB with an alpha of 0..1.
Rgba hex(uint32_t rgb, double a = 1.0);
Rgba mix(const Rgba& p, const Rgba& q, double t);

// A colour at a design-unit point.
using Fill = std::function<Rgba(double x, double y)>;
Fill solid(uint32_t rgb, double a = 1.0);
// From `top` at design y0 to `bottom` at y1, constant outside; constant along x.
Fill vgrad(uint32_t top, uint32_t bottom, double y0, double y1, double a = 1.0);
Fill vgrad(const Rgba& top, const Rgba& bottom, double y0, double y1);

// [x0, x1) x [y0, y1) in design units.
struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    Box inset(double d) const { return Box{x0 + d, y0 + d, x1 - d, y1 - d}; }
    double cx() const { return (x0 + x1) * 0.5; }
    double cy() const { return (y0 + y1) * 0.5; }
};
Box xywh(double x, double y, double w, double h);

// Device edge of a design coordinate on the page grid.
int deviceEdge(double v, double scale);

class Layer {
public:
    // The device box of the design box `place` at `scale`.
    Layer(const Box& place, double scale);

    double scale() const { return s_; }
    int width() const { return w_; }
    int height() const { return h_; }
    // Outline thickness in device pixels.
    int one() const;
    // One outline in design units, for insetting boxes by exactly one outline.
    double oneUnit() const { return one() / s_; }

    // Device pixel edges (layer relative) of design coordinates, and back.
    int ex(double v) const { return deviceEdge(v, s_) - ox_; }
    int ey(double v) const { return deviceEdge(v, s_) - oy_; }
    double ux(double px) const { return (px + ox_) / s_; }
    double uy(double py) const { return (py + oy_) / s_; }

    // A box with snapped edges, hard-edged.
    void rect(const Box& b, const Fill& f);
    // Layer-relative device pixels [x0, x1) x [y0, y1), hard-edged.
    void pixelsIn(int x0, int y0, int x1, int y1, const Fill& f);
    // A line `one()` pixels thick whose top (left) device edge is that of design y (x).
    void hline(double x0, double x1, double y, const Fill& f);
    void vline(double x, double y0, double y1, const Fill& f);
    // A rounded box with snapped edges (radius in design units), anti-aliased corners.
    void round(const Box& b, double radius, const Fill& f);
    // The outline of a rounded box: `thick` device pixels inside its edge (0: one()).
    void ring(const Box& b, double radius, const Fill& f, int thick = 0);
    // Free shapes in design units, not snapped.
    void circle(double cx, double cy, double r, const Fill& f);
    void shape(const lumo::gui::Path& designPath, const Fill& f, bool evenOdd = false);
    void stroke(const lumo::gui::Path& designPath, double widthUnits, const Fill& f, int cap = 0);

    // Later drawing is limited to the rounded box until clearClip.
    void clipTo(const Box& b, double radius);
    void clearClip() { clip_ = Cover{}; }

    // 0xAARRGGBB straight pixels, row-major.
    std::vector<uint32_t> pixels() const;
    // The picture over pure black and over pure white, both opaque (a glass pair).
    std::vector<uint32_t> overBlack() const;
    std::vector<uint32_t> overWhite() const;

private:
    // Coverage 0..1 over a layer-relative device area (the part of the layer a shape can touch).
    struct Cover {
        int x0 = 0, y0 = 0, w = 0, h = 0;
        std::vector<float> k;
    };
    Cover area(int x0, int y0, int x1, int y1) const;
    Cover bounds(const lumo::gui::Path& devicePath, double grow) const;
    static void take(Cover& c, const lumo::gui::Canvas& canvas);
    Cover coverage(const lumo::gui::Path& devicePath, bool evenOdd) const;
    void paint(const Cover& cover, const Fill& f);
    lumo::gui::Path snappedRound(const Box& b, double radius, int inset) const;
    lumo::gui::Path toDevice(const lumo::gui::Path& designPath) const;

    double s_;
    int ox_, oy_, w_, h_;
    std::vector<float> px_;    // premultiplied r, g, b, a
    Cover clip_;  // empty: no clip
};

}  // namespace skinart
