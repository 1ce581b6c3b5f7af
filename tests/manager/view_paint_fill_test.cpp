// The skin look's window fill is left out only where the opaque page covers the paint: whatever the
// canvas held before, a paint of the window (and of a paint area larger than the window) comes out
// the same, at every pack scale and at the page's size and larger ones.
#include "tests/manager/skin_paint_support.h"

using namespace skintest;

namespace {

using WindowFill = SkinPaintTest;

TEST_F(WindowFill, NothingOfTheOldCanvasShowsThrough) {
    openBig();
    mixStates();
    view->selectIndex(1);
    const std::pair<int, int> sizes[] = {{view->pageWidth(), view->pageHeight()}, {view->pageWidth() + 37, view->pageHeight() + 23}};
    for (double s : pixeltest::kScales)
        for (const auto& [w, h] : sizes)
            for (int beyond : {0, 6}) {  // the paint area as large as the window, and a little larger
                view->setSize(w, h);
                const int dw = int(std::floor(w * s + 1e-9)) + beyond, dh = int(std::floor(h * s + 1e-9)) + beyond;
                Canvas a = pixeltest::paper(dw, dh), b;
                b.resize(dw, dh);
                for (size_t i = 0; i < b.pixels.size(); ++i) b.pixels[i] = uint32_t(i * 2654435761u);
                for (Canvas* c : {&a, &b}) view->draw(lumo::gui::Paint{*c, Rect{0, 0, dw, dh}, s, false, {}, {}});
                int differ = 0;
                for (size_t i = 0; i < a.pixels.size(); ++i) differ += a.pixels[i] != b.pixels[i];
                EXPECT_EQ(differ, 0) << "scale " << s << ", " << w << " x " << h << ", area " << dw << " x " << dh;
            }
}

}  // namespace
