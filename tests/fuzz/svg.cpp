// lumo::gui::Svg::parse on any markup, then drawn into a small canvas and rendered into a small
// bitmap with a few option sets.
#include <cstddef>
#include <cstdint>
#include <string>

#include "gui/draw/svg.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumo::gui;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Svg svg = Svg::parse(std::string(reinterpret_cast<const char*>(data), size));
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    svg.inkBounds(x0, y0, x1, y1);

    Canvas c;
    c.resize(24, 24);
    SvgDraw opts;
    svg.draw(c, 0, 0, 24, 24, opts);
    opts.snap = true;
    opts.samples = 4;
    opts.alpha = 128;
    svg.draw(c, 3.5, -2, 17, 30, opts);
    opts.stretch = true;
    opts.samples = 1;
    const Bitmap bm = svg.render(16, 12, 1, 1, 14, 10, opts);
    if (bm.pixels.size() != size_t(bm.w) * size_t(bm.h)) fuzzsupport::fail("rendered bitmap size mismatch");
    return 0;
}
