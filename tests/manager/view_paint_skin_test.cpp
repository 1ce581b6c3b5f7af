// The skin look's drawing primitives on packs made by the test: glass over black, white and grey and
// over unequal halves, a stretch band without source pixels, the clip a sprite is cut by and the one
// it leaves, brightened copies, and text: shortening, alignment, colour keys and gain.
#include <climits>

#include "gui/draw/clip_scope.h"
#include "manager/pixel_look/primitives.h"
#include "tests/manager/skin_paint_support.h"

using namespace skintest;
using lumo::gui::Bitmap;

namespace {

Bitmap solid(int w, int h, uint32_t px) {
    Bitmap b;
    b.w = w;
    b.h = h;
    b.pixels.assign(size_t(w) * size_t(h), px);
    return b;
}

class SkinPrimitives : public SkinPaintTest {
protected:
    void SetUp() override {
        SkinPaintTest::SetUp();
        open({"--steps", "--look", "tq"});
        view->setSize(view->pageWidth(), view->pageHeight());
        view->paintAt(1.0, 0, 0);
    }
    // A sprite of the test's pack at (x, y) showing the image of the same name.
    void sprite(const std::string& name, int x, int y, Bitmap image) {
        pack.images[name] = std::move(image);
        const Bitmap& b = pack.images[name];
        pack.sprites[name] = {x, y, b.w, b.h, &pack.images[name]};
    }
    lumo::gui::AssetPack pack;
};

TEST_F(SkinPrimitives, GlassOverBlackWhiteAndGrey) {
    // Over black the "_b" pixel shows, over white the "_w" pixel, over 128 the mix weighted 128/255.
    sprite("over_g_b", 0, 0, solid(3, 1, 0xFF204060u));
    sprite("over_g_w", 0, 0, solid(3, 1, 0xFFE0C0A0u));
    Canvas c = pixeltest::paper(3, 1);
    c.pixels = {0x12000000u, 0x34FFFFFFu, 0xFF808080u};
    skin.glass(*view, c, pack, "over_g");
    auto mix = [](int b, int w) { return int(std::lround((128.0 / 255 * w + (1 - 128.0 / 255) * b))); };
    EXPECT_EQ(c.pixels[0], 0x12204060u);  // alpha of the canvas kept
    EXPECT_EQ(c.pixels[1], 0x34E0C0A0u);
    EXPECT_EQ(c.pixels[2], 0xFF000000u | uint32_t(mix(0x20, 0xE0)) << 16 | uint32_t(mix(0x40, 0xC0)) << 8 |
                               uint32_t(mix(0x60, 0xA0)));
}

TEST_F(SkinPrimitives, GlassMatchesTheMixInDoublesForEveryValue) {
    // Every canvas value over a spread of pair values, against t x w + (1 - t) x b in doubles.
    for (uint32_t bv : {0u, 1u, 37u, 128u, 200u, 255u})
        for (uint32_t wv : {0u, 3u, 127u, 254u, 255u}) {
            sprite("over_m_b", 0, 0, solid(256, 1, 0xFF000000u | bv << 16 | bv << 8 | bv));
            sprite("over_m_w", 0, 0, solid(256, 1, 0xFF000000u | wv << 16 | wv << 8 | wv));
            Canvas c = pixeltest::paper(256, 1);
            for (uint32_t d = 0; d < 256; ++d) c.pixels[d] = 0xFF000000u | d << 16 | d << 8 | d;
            skin.glass(*view, c, pack, "over_m");
            for (uint32_t d = 0; d < 256; ++d) {
                const double t = d / 255.0, v = t * wv / 255.0 + (1 - t) * bv / 255.0;
                ASSERT_EQ(c.pixels[d] & 0xFF, uint32_t(std::lround(v * 255.0))) << d << " " << bv << " " << wv;
            }
        }
}

TEST_F(SkinPrimitives, GlassPairsThatDoNotMatch) {
    struct Case {
        const char* what;
        Bitmap b, w;
        bool withW;
        int changed;  // canvas pixels the glass changes
    };
    const Case cases[] = {
        {"equal halves", solid(4, 4, 0xFFFFFFFFu), solid(4, 4, 0xFFFFFFFFu), true, 16},
        {"white half smaller", solid(4, 4, 0xFFFFFFFFu), solid(2, 3, 0xFFFFFFFFu), true, 6},
        {"black half smaller", solid(1, 2, 0xFFFFFFFFu), solid(4, 4, 0xFFFFFFFFu), true, 2},
        {"no white half", solid(4, 4, 0xFFFFFFFFu), {}, false, 0},
        {"white half without pixels", solid(4, 4, 0xFFFFFFFFu), {}, true, 0},
    };
    for (const Case& k : cases) {
        pack.sprites.clear();
        sprite("over_u_b", 1, 1, k.b);
        if (k.withW) sprite("over_u_w", 1, 1, k.w);
        Canvas c = pixeltest::paper(8, 8);
        for (uint32_t& p : c.pixels) p = 0xFF000000u;
        skin.glass(*view, c, pack, "over_u");
        EXPECT_EQ(pixeltest::count(c, 0xFFFFFFFFu), k.changed) << k.what;
    }
}

TEST_F(SkinPrimitives, ABandWithoutSourcePixelsEndsItsRepeat) {
    // At a pack scale of 0.5 a one-unit band covers no source pixel: the segment has length 0.
    pack.scale = 0.5;
    view->paintAt(0.5, view->paintX(), view->paintY());
    tqapp::Axis x = view->xAxis();
    x.bands = {{40, 1, 30}};
    view->setAxes(x, view->yAxis());
    sprite("wide_b", 0, 0, solid(60, 2, 0xFFFFFFFFu));
    sprite("wide_w", 0, 0, solid(60, 2, 0xFFFFFFFFu));
    sprite("wide", 0, 0, solid(60, 2, 0xFF336699u));
    bool empty = false;
    for (const tqapp::Axis::Seg& g : view->xAxis().segments(0, 60, 0.5, true)) empty = empty || (g.stretched && g.len == 0);
    ASSERT_TRUE(empty) << "the case needs a stretched segment of length 0";
    Canvas c = pixeltest::paper(80, 2);
    skin.put(*view, c, pack, "wide", 0, 0, {}, 1.0, true);
    EXPECT_EQ(pixeltest::count(c, 0xFF336699u), 2 * 60);  // every source pixel once, the empty band nothing
    for (uint32_t& p : c.pixels) p = 0xFF000000u;
    skin.glass(*view, c, pack, "wide");
    EXPECT_EQ(pixeltest::count(c, 0xFFFFFFFFu), 2 * 60);
}

TEST_F(SkinPrimitives, PutKeepsToItsClipAndLeavesTheClipItFound) {
    sprite("plate", 2, 2, solid(20, 10, 0xFF112233u));
    struct Case {
        const char* what;
        Rect canvasClip;
        Rect clip;  // layout units; width 0 = none
        Rect inked;  // where the sprite may show
    };
    const Case cases[] = {
        {"no clip", {0, 0, 30, 20}, {}, {2, 2, 20, 10}},
        {"no clip, narrow canvas clip", {5, 0, 4, 20}, {}, {5, 2, 4, 10}},
        {"clip box", {0, 0, 30, 20}, {10, 4, 3, 2}, {10, 4, 3, 2}},
        {"clip of height only", {0, 0, 30, 20}, {0, 0, 0, 5}, {2, 2, 20, 10}},
        {"clip outside", {0, 0, 30, 20}, {25, 15, 3, 3}, {}},
        {"canvas clip past the area", {-5, -5, 100, 100}, {}, {2, 2, 20, 10}},
    };
    for (const Case& k : cases) {
        Canvas c = pixeltest::paper(30, 20);
        c.clip = k.canvasClip;
        skin.put(*view, c, pack, "plate", 0, 0, k.clip, 1.0, false);
        const Rect ink = pixeltest::inkBox(c);
        EXPECT_TRUE(pixeltest::inside(ink, k.inked)) << k.what;
        EXPECT_EQ(ink.w * ink.h, k.inked.w * k.inked.h) << k.what;
        const Rect back = lumo::gui::meet(k.canvasClip, c.area);
        EXPECT_EQ(c.clip.x, back.x) << k.what;
        EXPECT_EQ(c.clip.y, back.y) << k.what;
        EXPECT_EQ(c.clip.w, back.w) << k.what;
        EXPECT_EQ(c.clip.h, back.h) << k.what;
    }
}

TEST_F(SkinPrimitives, GainedCopiesAreBrightenedOnceAndKeepAlpha) {
    const Bitmap src = solid(2, 1, 0x80C86400u);  // alpha 128, red 200, green 100, blue 0
    const Bitmap& a = skin.gained(*view, "x", src, 1.35);
    EXPECT_EQ(a.pixels[0], 0x80FF8700u);  // 200 -> 255, 100 -> 135
    EXPECT_EQ(&skin.gained(*view, "x", src, 1.35), &a);
    EXPECT_NE(&skin.gained(*view, "x", src, 1.1), &a);
    view->paintAt(2.0, view->paintX(), view->paintY());
    EXPECT_NE(&skin.gained(*view, "x", src, 1.35), &a) << "another scale is another copy";
    EXPECT_EQ(skin.gained(*view, "y", src, 0.0).pixels[0], 0x80000000u);
}

// The brightest red of the pixels a text drew over black.
int brightest(const Canvas& c) {
    int m = -1;
    for (uint32_t p : c.pixels) m = std::max(m, int(p >> 16 & 0xFF));
    return m;
}

TEST_F(SkinPrimitives, TextShortensAlignsAndTints) {
    const lumo::gui::AssetPack& skin = tqapp::managerSkin().pack(1.0);
    const lumo::gui::BitmapFont* f = skin.font("val");
    ASSERT_NE(f, nullptr);
    const std::string word = "Compressor";
    const int full = f->width(word);
    struct Case {
        const char* what;
        char align;
        double w, maxWidth;
        std::string drawn;  // "" = nothing drawn
        int penLeft;        // where the pen starts (x = 20)
    };
    const Case cases[] = {
        {"fits", 'l', 0, 0, word, 20},
        {"limit above the width", 'l', 0, full + 1.0, word, 20},
        {"shortened", 'l', 0, full - 1.0, f->fit(word, full - 1), 20},
        {"no room even for the dots", 'l', 0, 2, "", 20},
        {"centred in a narrow box starts left of it", 'c', 10, 0, word, 20 + (10 - full) / 2},
        {"right-aligned in a narrow box", 'r', 10, 0, word, 20 + 10 - full},
        {"any other alignment is right", 'x', 40, 0, word, 20 + 40 - full},
    };
    for (const Case& k : cases) {
        Canvas c = pixeltest::paper(200, 30);
        TextRecorder rec;
        view->text(c, skin, "val", word, 20, 20, k.align, k.w, nullptr, k.maxWidth, 1.0);
        if (k.drawn.empty()) {
            EXPECT_TRUE(rec.texts().empty()) << k.what;
            continue;
        }
        ASSERT_EQ(rec.texts().size(), 1u) << k.what;
        EXPECT_EQ(rec.texts()[0].text, k.drawn) << k.what;
        if (k.drawn != word) {
            EXPECT_EQ(k.drawn.substr(k.drawn.size() - 3), "...") << k.what;
        }
        int l = 0, r = 0;
        f->inkExtent(k.drawn, l, r);
        EXPECT_EQ(rec.texts()[0].ink.x, k.penLeft + l) << k.what;
    }
    struct Tint {
        const char* key;
        double gain;
        int red;
    };
    const Tint tints[] = {{nullptr, 1.0, 255}, {nullptr, 0.5, 127}, {"row", 1.0, 0xa0},
                          {"row", 2.0, 255},   {"row", 0.0, 0},     {"no such key", 1.0, 255}};
    // The glyphs are coverage masks: the most covered pixel shows the tint at that coverage.
    int cover = 0;
    for (const Tint& t : tints) {
        Canvas c = pixeltest::paper(200, 30);
        for (uint32_t& p : c.pixels) p = 0xFF000000u;
        view->text(c, skin, "val", "HHHH", 20, 20, 'l', 0, t.key, 0, t.gain);
        if (!cover) cover = brightest(c);
        EXPECT_NEAR(brightest(c), t.red * cover / 255.0, 1.0) << (t.key ? t.key : "white") << " x " << t.gain;
    }
}

TEST_F(SkinPrimitives, InkOfBothLooks) {
    EXPECT_EQ(view->ink("row_name"), view->colors().at("row"));
    EXPECT_EQ(view->ink("title"), 0xFFECECECu);
    EXPECT_EQ(view->ink("nothing"), 0xFFFFFFFFu);
    view->setLook(1);
    EXPECT_EQ(view->ink("row_name"), tqapp::dev::cream);
    EXPECT_EQ(view->ink("row_sel"), tqapp::dev::bg);
    EXPECT_EQ(view->ink("fmt_off"), tqapp::dev::dim);
    EXPECT_EQ(view->ink("nothing"), tqapp::dev::wave);
}

}  // namespace
