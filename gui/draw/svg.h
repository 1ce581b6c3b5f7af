#pragma once
// SVG pictures: parsed once from text into filled and stroked shapes in viewBox units, then drawn
// onto a canvas or rendered into a new bitmap with floating-point compositing. Malformed markup
// gives an empty picture that draws nothing.
#include <cstdint>
#include <string>
#include <vector>

#include "gui/draw/canvas.h"
#include "gui/draw/stroke.h"

namespace lumo::gui {

// Drawing options.
struct SvgDraw {
    Color current = 0xFF000000u;  // what "currentColor" paints take
    int32_t samples = 16;         // sub-scanlines handed to the rasterizer
    bool snap = false;            // round crisp shapes to whole pixels at whole-pixel scales
    uint8_t alpha = 255;          // overall alpha multiplied into every paint
    bool stretch = false;         // fit without keeping the aspect ratio
};

class Svg {
public:
    struct Paint {
        int32_t kind = 0;  // 0 none, 1 colour, 2 current colour
        Color color = 0xFF000000u;
    };

    // One path segment in user coordinates: "M" and "L" use p[0..1], "C" p[0..5]
    // (control 1, control 2, end), "Z" none.
    struct Seg {
        char cmd = 'M';
        double p[6] = {0, 0, 0, 0, 0, 0};
    };

    struct Shape {
        std::vector<Seg> segments;
        Paint fill;
        Paint stroke;
        bool evenOdd = false;
        StrokeStyle style;  // width in viewBox units
        double fillOpacity = 1.0;
        double strokeOpacity = 1.0;
        bool crisp = false;
    };

    double viewX = 0, viewY = 0, viewW = 0, viewH = 0;
    std::vector<Shape> shapes;

    static Svg parse(const std::string& text);

    // Draws into the box (x, y, w, h) of the canvas.
    void draw(Canvas& canvas, double x, double y, double w, double h, const SvgDraw& opts) const;
    // A w x h bitmap, transparent except for the picture fitted into the box (x, y, bw, bh).
    Bitmap render(int w, int h, double x, double y, double bw, double bh, const SvgDraw& opts) const;
    // Bounds of the geometry in viewBox units, strokes included; all 0 for an empty picture.
    void inkBounds(double& x0, double& y0, double& x1, double& y1) const;
};

}  // namespace lumo::gui
