// The main window's stretch geometry: bands, mapped and moved rectangles at the page size and at
// larger sizes in both looks, bitmap segments, resampling, word wrap and the pointer looks.
#include <gtest/gtest.h>

#include <algorithm>

#include "manager/skin_look/look.h"
#include "tests/manager/view_fixture.h"

using namespace testsupport;
using lumo::gui::Rect;
using tqapp::Axis;

namespace lumo::gui {
static bool operator==(const Rect& a, const Rect& b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }
}  // namespace lumo::gui

namespace {

Axis xBands() {
    Axis a;
    a.bands = {{84, 4, 0}, {347, 4, 0}, {377, 2, 0}};
    return a;
}

TEST(Axis, ExtraWidthIsSpreadOverTheBands) {
    struct Case {
        int extra;
        double share;
        std::vector<int> want;
    };
    const Case cases[] = {
        {0, 0.25, {0, 0, 0}},    {100, 0.25, {75, 13, 12}}, {1, 0.25, {1, 0, 0}},
        {3, 0.25, {3, 0, 0}},    {4, 0.25, {3, 1, 0}},      {-5, 0.25, {0, 0, 0}},
        {10, 0.0, {10, 0, 0}},  // the y rule: the first band takes all
    };
    for (const Case& c : cases) {
        Axis a = xBands();
        a.spread(c.extra, c.share);
        std::vector<int> got;
        for (const Axis::Band& b : a.bands) got.push_back(b.extra);
        EXPECT_EQ(got, c.want) << c.extra << " at share " << c.share;
    }
    Axis one;
    one.bands = {{152, 2, 0}};
    one.spread(40, 0.25);
    EXPECT_EQ(one.bands[0].extra, 40);
}

TEST(Axis, MapMovesPointsInsideABandProportionally) {
    Axis a = xBands();
    a.spread(100, 0.25);  // 75, 13, 12
    const std::pair<double, double> cases[] = {
        {0, 0}, {84, 84}, {86, 86 + 37.5}, {88, 88 + 75}, {200, 275}, {351, 351 + 88}, {426, 526},
    };
    for (const auto& [v, want] : cases) EXPECT_DOUBLE_EQ(a.map(v), want) << v;
    // A centre exactly on a band's centre counts as past it.
    EXPECT_EQ(a.shiftAt(86), 75);
    EXPECT_EQ(a.shiftAt(85.9), 0);
}

TEST(Axis, SegmentsOfASpanAcrossTheBands) {
    // At the page size: fixed pieces between zero-growth stretched pieces, each in its place.
    Axis a = xBands();
    auto total = [](const std::vector<Axis::Seg>& s) {
        int32_t src = 0, dst = 0;
        for (const Axis::Seg& g : s) {
            src += g.len;
            dst += g.dstLen;
        }
        return std::make_pair(src, dst);
    };
    std::vector<Axis::Seg> page = a.segments(0, 426, 1.0, true);
    ASSERT_EQ(page.size(), 7u);
    for (const Axis::Seg& g : page) {
        EXPECT_EQ(g.dst, g.src);
        EXPECT_EQ(g.dstLen, g.len);
    }
    EXPECT_TRUE(page[1].stretched);
    EXPECT_EQ(page[1].src, 84);

    // Wider, at every pack scale: the span grows by the scaled extras, pieces stay contiguous.
    a.spread(100, 0.25);
    for (double scale : {1.0, 1.2, 1.25, 1.5, 2.0, 3.0}) {
        const int32_t len = tqapp::scaled(426, scale);
        std::vector<Axis::Seg> s = a.segments(0, len, scale, true);
        EXPECT_EQ(total(s).first, len) << scale;
        EXPECT_EQ(total(s).second, len + tqapp::scaled(100, scale)) << scale;
        for (size_t i = 1; i < s.size(); ++i) {
            EXPECT_EQ(s[i].src, s[i - 1].src + s[i - 1].len) << scale;
            EXPECT_EQ(s[i].dst, s[i - 1].dst + s[i - 1].dstLen) << scale;
        }
    }
    // A span holding only the inspector bands: the list band before it moves it whole.
    std::vector<Axis::Seg> inspector = a.segments(300, 126, 1.0, true);
    EXPECT_EQ(inspector.front().dst, 375);
    EXPECT_EQ(total(inspector).second, 126 + 25);
    // Bands within 10 units of a span's ends never stretch it.
    std::vector<Axis::Seg> edge = a.segments(80, 20, 1.0, true);
    EXPECT_EQ(edge.size(), 1u);
    EXPECT_FALSE(edge[0].stretched);
    // A sprite that is not sliced only moves, by the bands whose centre lies before its centre.
    std::vector<Axis::Seg> lamp = a.segments(360, 10, 1.0, false);
    ASSERT_EQ(lamp.size(), 1u);
    EXPECT_EQ(lamp[0].dst, 360 + 75 + 13);
    EXPECT_EQ(lamp[0].dstLen, 10);
    EXPECT_TRUE(a.segments(5, 0, 1.0, true).empty());
}

TEST(Sprites, SliceableNames) {
    for (const char* name : {"led_vst3_on", "check_au_off", "label_clap", "win_close", "more_up", "open_up",
                             "sb_up_normal", "cap_sb", "sort_pill_normal", "row_led_on", "row_pill_normal", "over_1"})
        EXPECT_FALSE(tqapp::sliceable(name)) << name;
    for (const char* name : {"page", "over_2", "over_10", "row_plate", "update_all_normal", "main_pill_normal"})
        EXPECT_TRUE(tqapp::sliceable(name)) << name;
}

class ViewGeometry : public ViewTest {
protected:
    // Every rectangle of the layout document, as design rectangles.
    std::vector<Rect> layoutBoxes() const {
        std::vector<Rect> out;
        for (const auto& [layer, record] : view->layoutRects()->object()) out.push_back(tqapp::boxRect(record["r"]));
        const lumo::Json& m = *view->managerLayout();
        for (const char* key : {"desc_view", "list_view", "logo_view", "status_text"})
            out.push_back(tqapp::layoutRect(m[key]));
        for (const char* group : {"labels", "label_formats"})
            for (const auto& [k, v] : m[group].object()) out.push_back(tqapp::boxRect(v));
        return out;
    }
};

TEST_F(ViewGeometry, AtThePageSizeEveryMapReturnsItsInput) {
    for (const char* lookWord : {"pixel", "tq"}) {
        open({"--steps", "--look", lookWord});
        view->setSize(view->pageWidth(), view->pageHeight());
        const std::vector<Rect> boxes = layoutBoxes();
        ASSERT_GT(boxes.size(), 20u);
        for (const Rect& r : boxes) {
            EXPECT_EQ(view->mapRect(r), r) << str(r);
            EXPECT_EQ(view->shiftRect(r), r) << str(r);
        }
        for (const auto& [layer, record] : view->layoutRects()->object()) {
            EXPECT_DOUBLE_EQ(view->left(layer), record["r"][0].number) << layer;
            if (record["base"].isNumber()) {
                EXPECT_DOUBLE_EQ(view->base(layer), record["base"].number) << layer;
            }
        }
        EXPECT_EQ(view->windowSlot(true), (Rect{405, 4, 17, 17}));
        EXPECT_EQ(view->windowSlot(false), (Rect{387, 4, 17, 17}));
    }
}

TEST_F(ViewGeometry, LargerSizesKeepEveryBoxInsideAndInOrder) {
    struct Size {
        int w, h;
    };
    const Size sizes[] = {{496, 344}, {497, 345}, {640, 480}, {800, 500}, {1280, 900}, {3000, 2000}};
    for (const char* lookWord : {"pixel", "tq"}) {
        open({"--steps", "--look", lookWord});
        const std::vector<Rect> boxes = layoutBoxes();
        // Every pair of edges of the design keeps its order along each axis.
        std::vector<int> xs, ys;
        for (const Rect& r : boxes) {
            xs.insert(xs.end(), {r.x, r.x + r.w});
            ys.insert(ys.end(), {r.y, r.y + r.h});
        }
        std::sort(xs.begin(), xs.end());
        std::sort(ys.begin(), ys.end());
        for (const Size& s : sizes) {
            view->setSize(s.w, s.h);
            for (const Rect& r : boxes) {
                const Rect m = view->mapRect(r);
                const Rect sh = view->shiftRect(r);
                for (const Rect& q : {m, sh}) {
                    EXPECT_GE(q.x, 0) << lookWord << " " << s.w << ": " << str(r);
                    EXPECT_GE(q.y, 0) << lookWord << " " << s.w << ": " << str(r);
                    EXPECT_LE(q.x + q.w, s.w) << lookWord << " " << s.w << ": " << str(r);
                    EXPECT_LE(q.y + q.h, s.h) << lookWord << " " << s.w << ": " << str(r);
                }
                EXPECT_GE(m.w, r.w);
                EXPECT_GE(m.h, r.h);
            }
            for (size_t i = 1; i < xs.size(); ++i)
                EXPECT_LE(view->xAxis().map(xs[i - 1]), view->xAxis().map(xs[i]));
            for (size_t i = 1; i < ys.size(); ++i)
                EXPECT_LE(view->yAxis().map(ys[i - 1]), view->yAxis().map(ys[i]));
            // The window buttons follow the right edge; the list stays left of the inspector.
            EXPECT_EQ(view->windowSlot(true).x + 17, s.w - 4);
            const Rect list = view->listRect();
            EXPECT_LE(list.x + list.w, view->mapRect(tqapp::layoutRect((*view->managerLayout())["desc_view"])).x);
            EXPECT_EQ(list.h, 264 + (s.h - view->pageHeight()));
        }
    }
}

TEST_F(ViewGeometry, PixelLookListReachesItsOwnRightEdge) {
    open({"--steps"});
    view->setSize(526, 344);
    EXPECT_EQ(view->listRect().x, 5);
    EXPECT_EQ(view->listRect().x + view->listRect().w, 296 + 75);
    open({"--steps", "--look", "tq"});
    view->setSize(526, 344);
    EXPECT_EQ(view->listRect().x + view->listRect().w, 283 + 75);
}

TEST_F(ViewGeometry, PointerLooksOfAHitName) {
    open({"--steps"});
    struct Case {
        const char* hover;
        const char* pressed;
        const char* want;
    };
    const Case cases[] = {
        {"", "", "n"},           {"update_all", "", "h"},        {"update_all", "update_all", "p"},
        {"", "update_all", "n"},  // pressed, pointer moved off
        {"update_all", "account", "n"},  // another control is pressed
    };
    for (const Case& c : cases) {
        view->pointer().hover = tqapp::partOf(c.hover);
        view->pointer().pressed = tqapp::partOf(c.pressed);
        EXPECT_EQ(tqapp::SkinLook::look(*view, *tqapp::partOf("update_all"), "n", "h", "p"), c.want) << c.hover << " / " << c.pressed;
    }
}

TEST(BoxResize, AveragesTheAreaEachPixelCovers) {
    lumo::gui::Bitmap src;
    src.w = 2;
    src.h = 2;
    src.pixels = {0xFF000000u, 0xFFFF0000u, 0x0000FF00u, 0xFF0000FFu};
    lumo::gui::Bitmap one = tqapp::ManagerView::boxResize(src, 1, 1);
    ASSERT_EQ(one.pixels.size(), 1u);
    // alpha (255 + 255 + 0 + 255) / 4 = 191.25; red 63.75; green 63.75; blue 63.75.
    EXPECT_EQ(one.pixels[0], 0xBF404040u);
    lumo::gui::Bitmap same = tqapp::ManagerView::boxResize(src, 2, 2);
    EXPECT_EQ(same.pixels, src.pixels);
    lumo::gui::Bitmap wide = tqapp::ManagerView::boxResize(src, 4, 1);
    ASSERT_EQ(wide.pixels.size(), 4u);
    EXPECT_EQ(wide.pixels[0], wide.pixels[1]);
    EXPECT_EQ(wide.pixels[2], wide.pixels[3]);
    lumo::gui::Bitmap none = tqapp::ManagerView::boxResize(src, 0, 3);
    EXPECT_EQ(none.w, 0);
    EXPECT_TRUE(none.pixels.empty());
    // Three source pixels into two: the middle one is shared half and half.
    lumo::gui::Bitmap row;
    row.w = 3;
    row.h = 1;
    row.pixels = {0xFF000000u, 0xFF000064u, 0xFF0000C8u};
    lumo::gui::Bitmap two = tqapp::ManagerView::boxResize(row, 2, 1);
    EXPECT_EQ(two.pixels[0] & 0xFF, 33u);   // (0 + 0.5 x 100) / 1.5
    EXPECT_EQ(two.pixels[1] & 0xFF, 167u);  // (0.5 x 100 + 200) / 1.5
}

TEST_F(ViewGeometry, WrapBreaksBetweenWordsOnly) {
    open({"--steps"});
    const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(1.0);
    const lumo::gui::BitmapFont* font = view->fontOf(pack, "val");
    ASSERT_NE(font, nullptr);
    const std::string text = "alpha beta one two";
    const double width = font->width("alpha beta") + 1;
    const std::vector<std::string> want = {"alpha beta", "one two"};
    EXPECT_EQ(view->wrap(pack, text, width), want);
    EXPECT_EQ(view->wrap(pack, "alpha  beta one\ntwo ", width), want);
    // A word wider than the line stands alone and whole.
    EXPECT_EQ(view->wrap(pack, "a extraordinarily b", font->width("a b")),
              (std::vector<std::string>{"a", "extraordinarily", "b"}));
    EXPECT_TRUE(view->wrap(pack, "  \n ", width).empty());
}

}  // namespace
