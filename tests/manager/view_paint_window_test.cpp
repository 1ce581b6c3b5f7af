// The whole main window in the skin look: screenshots on a catalog of a dozen plug-ins and two apps,
// and at every pack scale and three window sizes the paint stays inside its area, puts the clip back,
// and stretches without seams.
#include "tests/manager/skin_paint_support.h"

using namespace skintest;

namespace {

using WindowPaint = SkinPaintTest;

TEST_F(WindowPaint, ScreenshotsOfTheLoadedCatalog) {
    openBig();
    mixStates();
    view->selectIndex(2);
    ASSERT_NE(view->selected(), nullptr);
    for (double s : {1.0, 1.25, 1.5, 2.0, 3.0}) {
        Canvas c = paintWindow(s, view->pageWidth(), view->pageHeight());
        writePng(c, "skin-window-" + scaleName(s) + ".png");
        EXPECT_EQ(pixeltest::count(c, pixeltest::kPaper), 0) << "the window leaves pixels unpainted at " << s;
    }
    Canvas wide = paintWindow(2.0, 640, 480);
    writePng(wide, "skin-window-2x-640x480.png");
    view->selectIndex(6);  // a plug-in with pictures
    writePng(paintWindow(2.0, view->pageWidth(), view->pageHeight()), "skin-window-2x-picture.png");
}

// Sizes: the page and two larger windows (wider only, and wider and taller).
const std::pair<int, int> kSizes[] = {{426, 344}, {560, 344}, {900, 700}};

TEST_F(WindowPaint, EveryScaleAndSizeStaysInItsAreaAndPutsTheClipBack) {
    openBig();
    mixStates();
    view->selectIndex(3);
    for (double s : pixeltest::kScales)
        for (const auto& [w, h] : kSizes) {
            const int margin = 9;
            Canvas c = paintWindow(s, w, h, margin);
            const Rect area = c.area;
            EXPECT_EQ(c.clip.x, area.x);
            EXPECT_EQ(c.clip.y, area.y);
            EXPECT_EQ(c.clip.w, area.w) << "clip not put back at " << s << " " << w << "x" << h;
            EXPECT_EQ(c.clip.h, area.h);
            int outside = 0, unpainted = 0;
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x) {
                    const bool in = x >= area.x && x < area.x + area.w && y >= area.y && y < area.y + area.h;
                    const bool paper = pixeltest::at(c, x, y) == pixeltest::kPaper;
                    outside += !in && !paper;
                    unpainted += in && paper;
                }
            EXPECT_EQ(outside, 0) << "painted outside the area at " << s << " " << w << "x" << h;
            EXPECT_EQ(unpainted, 0) << s << " " << w << "x" << h;
        }
}

// The columns (rows) of a picture along one axis, as vectors of pixels.
std::vector<uint32_t> line(const Canvas& c, int at, bool column) {
    std::vector<uint32_t> out;
    const int n = column ? c.height : c.width;
    for (int k = 0; k < n; ++k) out.push_back(column ? pixeltest::at(c, at, k) : pixeltest::at(c, k, at));
    return out;
}

TEST_F(WindowPaint, StretchBandsRepeatWithoutSeams) {
    open({"--steps", "--look", "tq"});
    for (const char* sprite : {"page", "row_plate", "row_recesses", "main_pill_normal", "update_all_normal"})
        for (double s : pixeltest::kScales) {
            const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(s);
            const lumo::gui::Sprite* sp = pack.sprite(sprite);
            ASSERT_TRUE(sp && sp->image) << sprite;
            auto render = [&](int w, int h) {
                view->setSize(w, h);
                view->paintAt(pack.scale, 0, 0);
                Canvas c = pixeltest::paper(int(w * s) + 1, int(h * s) + 1);
                skin.put(*view, c, pack, sprite, 0, 0, {}, 1.0, true);
                return c;
            };
            const Canvas page = render(view->pageWidth(), view->pageHeight());
            for (const auto& [w, h] : kSizes)
                for (bool x : {true, false}) {
                    // Stretched along one axis only, so that lines across it compare with the page's.
                    if ((x ? w : h) == (x ? view->pageWidth() : view->pageHeight())) continue;
                    const Canvas wide = x ? render(w, view->pageHeight()) : render(view->pageWidth(), h);
                    const tqapp::Axis& axis = x ? view->xAxis() : view->yAxis();
                    const int start = x ? sp->x : sp->y, len = x ? sp->image->w : sp->image->h;
                    for (const tqapp::Axis::Seg& g : axis.segments(start, len, pack.scale, true)) {
                        const int edge = start + g.src;  // the segment's first pixel in the page picture
                        if (g.stretched && g.dstLen > 0) {
                            for (int k = 1; k < g.dstLen; ++k)
                                EXPECT_EQ(line(wide, g.dst + k, x), line(wide, g.dst, x))
                                    << sprite << " seam in the band at " << g.dst + k << " (" << (x ? "x" : "y")
                                    << ") at " << s << " " << w << "x" << h;
                            if (g.src > 0) {
                                EXPECT_EQ(line(wide, g.dst - 1, x), line(page, edge - 1, x)) << sprite << " left of band";
                            }
                            if (g.src + g.len < len) {
                                EXPECT_EQ(line(wide, g.dst + g.dstLen, x), line(page, edge + g.len, x))
                                    << sprite << " right of band at " << s << " " << w << "x" << h;
                            }
                        }
                    }
                }
        }
}

}  // namespace
