// Menu looks built from skins: frames, text fitting, width measures and the label filter.
#include <gtest/gtest.h>

#include <memory>

#include "gui/fonts.h"
#include "gui/list_popup.h"
#include "gui/menu_look.h"

using namespace lumo::gui;

namespace {

uint32_t at(const Canvas& c, int x, int y) { return c.pixels[size_t(y * c.width + x)]; }

// One pack per scale given; each may hold a 12 x 12 opaque red frame sprite "frame" placed at
// (100, 50) in 1x sheet pixels, scaled with the pack.
Assets framedAssets(std::initializer_list<std::pair<double, bool>> packs) {
    Assets a;
    for (auto [scale, withSprite] : packs) {
        auto p = std::make_unique<AssetPack>();
        p->scale = scale;
        if (withSprite) {
            const int n = int(12 * scale);
            Bitmap b;
            b.w = b.h = n;
            b.pixels.assign(size_t(n * n), 0xFFFF0000u);
            p->images["frame"] = b;
            p->sprites["frame"] = Sprite{int(100 * scale), int(50 * scale), n, n, &p->images["frame"]};
        }
        a.packs.push_back(std::move(p));
    }
    return a;
}

ListSkin framedSkin() {
    ListSkin s;
    s.sprite = "frame";
    s.content = Rect{102, 52, 8, 8};
    s.background = 0xFF00FF00u;
    s.border = 0xFFFF0000u;
    s.font = "tqnative";
    return s;
}

void paintBackground(const MenuLook& look, Canvas& c, double scale, Rect r) {
    c.resize(60, 60);
    Paint p{c, r, scale, false, {}, {}};
    look.drawBackground(p, r);
}

std::vector<MenuItem> labels(std::initializer_list<const char*> names) {
    std::vector<MenuItem> v;
    for (const char* n : names) {
        MenuItem m;
        m.label = n;
        v.push_back(m);
    }
    return v;
}

}  // namespace

TEST(MenuLook, TakesTheSkinsColoursAndShowsCheckedRowsInverted) {
    ListSkin skin;
    skin.text = 0xFF111111u;
    skin.background = 0xFF222222u;
    skin.rowHeight = 17;
    skin.padding = 3;
    skin.textInset = 5;
    MenuLook l = menuLook(lumoFonts(), skin);
    EXPECT_EQ(l.checkedFill, 0xFF111111u);
    EXPECT_EQ(l.checkedText, 0xFF222222u);
    EXPECT_EQ(l.frameMargin, 0);
    EXPECT_FALSE(l.drawBackground);  // the popup fills and outlines itself
    ListPopup popup(l, labels({"a"}), Rect{0, 0, 20, 20});
    Canvas c;
    c.resize(20, 20);
    popup.draw(Paint{c, Rect{0, 0, 20, 20}, 1.0, false, {}, {}});
    EXPECT_EQ(at(c, 0, 0), pixelOf(skin.border));
    EXPECT_EQ(at(c, 19, 10), pixelOf(skin.border));
    EXPECT_EQ(at(c, 10, 1), pixelOf(skin.background));  // above the row, inside the frame
}

TEST(MenuLook, SpriteFrameDrawsAroundThePopupAtScalesThatHaveIt) {
    Assets assets = framedAssets({{1.0, true}, {2.0, true}});
    MenuLook l = menuLook(assets, framedSkin());
    EXPECT_EQ(l.frameMargin, 3);  // 2 pixels of frame around the content, plus one
    ASSERT_TRUE(l.drawBackground);
    Canvas c;
    paintBackground(l, c, 1.0, Rect{10, 10, 20, 20});
    EXPECT_EQ(at(c, 8, 8), 0xFFFF0000u);  // frame two pixels outside the rectangle
    EXPECT_EQ(at(c, 7, 7), 0u);
    EXPECT_EQ(at(c, 31, 31), 0xFFFF0000u);
    EXPECT_EQ(at(c, 32, 32), 0u);
    paintBackground(l, c, 2.0, Rect{10, 10, 20, 20});
    EXPECT_EQ(at(c, 6, 6), 0xFFFF0000u);  // four device pixels at 2x
    EXPECT_EQ(at(c, 5, 5), 0u);

    // Missing from the 1x pack: no margin, but the drawer is there and uses the 2x sprite.
    Assets partial = framedAssets({{1.0, false}, {2.0, true}});
    MenuLook p = menuLook(partial, framedSkin());
    EXPECT_EQ(p.frameMargin, 0);
    ASSERT_TRUE(p.drawBackground);
    paintBackground(p, c, 1.0, Rect{10, 10, 20, 20});
    EXPECT_EQ(at(c, 10, 10), pixelOf(0xFFFF0000u));  // plain fill with a 1-pixel border
    EXPECT_EQ(at(c, 15, 15), pixelOf(0xFF00FF00u));
    EXPECT_EQ(at(c, 9, 9), 0u);
    paintBackground(p, c, 2.0, Rect{10, 10, 20, 20});
    EXPECT_EQ(at(c, 6, 6), 0xFFFF0000u);
}

TEST(MenuLook, WidthMeasure) {
    ListSkin skin;
    skin.font = "tqnative";
    skin.textInset = 6;
    MenuLook l = menuLook(lumoFonts(), skin);
    const BitmapFont& f = *lumoFonts().pack(1).font("tqnative");
    auto slider = std::make_shared<MenuSlider>();
    std::vector<MenuItem> withSlider = labels({"Gain"});
    withSlider[0].slider = slider;
    std::vector<MenuItem> withKids = labels({"Open", "Recent"});
    withKids[1].children = labels({"x"});
    const std::string longLabel(200, 'W');

    struct Case {
        const char* what;
        std::vector<MenuItem> items;
        double scale;
        int want;
    };
    const Case cases[] = {
        {"empty", {}, 1.0, 4 + 12},
        {"plain", labels({"Open", "Recent"}), 1.0, f.width("Recent") + 4 + 12},
        {"with a submenu", withKids, 1.0, f.width("Recent") + 8 + 4 + 12},
        {"same at 2x, in logical units", withKids, 2.0, f.width("Recent") + 8 + 4 + 12},
        {"slider with short labels", withSlider, 1.0, 220},
        {"one very long label", labels({longLabel.c_str()}), 1.0, 320},
    };
    for (const Case& c : cases) EXPECT_EQ(l.measureWidth(c.items, c.scale), c.want) << c.what;

    ListSkin none = skin;
    none.font = "no such font";
    EXPECT_EQ(menuLook(lumoFonts(), none).measureWidth(labels({"Open"}), 1.0), 4 + 12);
}

namespace {
std::string g_probed;
Rect g_ink;
int g_prepared = 0;
void probe(const std::string& text, Rect ink, Rect, int) {
    g_probed = text;
    g_ink = ink;
}
void prepare() { ++g_prepared; }
const BitmapFont* bold(double s) { return lumoFonts().pack(s).font("tqnative_bold"); }
}  // namespace

TEST(MenuLook, TextIsCutWithDotsInsideTheInsets) {
    ListSkin skin;
    skin.font = "tqnative";
    skin.textInset = 4;
    skin.prepare = prepare;
    MenuLook l = menuLook(lumoFonts(), skin);
    Canvas c;
    c.resize(200, 40);
    textProbe() = probe;
    for (double s : {1.0, 2.0}) {
        const Rect r{10, 5, int(60 * s), int(20 * s)};
        l.drawText(Paint{c, r, s, false, {}, {}}, r, "A label far too long for the row", 0xFFFFFFFFu, true);
        EXPECT_EQ(g_probed.substr(g_probed.size() - 3), "...");
        EXPECT_GE(g_ink.x, r.x + int(4 * s));
        EXPECT_LE(g_ink.x + g_ink.w, r.x + r.w - int(4 * s));
    }
    EXPECT_EQ(g_prepared, 2);

    // A font chosen by the caller replaces the asset lookup.
    skin.fontFor = bold;
    MenuLook b = menuLook(lumoFonts(), skin);
    const Rect r{0, 0, 200, 20};
    b.drawText(Paint{c, r, 1.0, false, {}, {}}, r, "Bold", 0xFFFFFFFFu, false);
    EXPECT_EQ(g_probed, "Bold");
    int left = 0, right = 0;
    bold(1.0)->inkExtent("Bold", left, right);
    EXPECT_EQ(g_ink.x, 4 + left);
    EXPECT_EQ(g_ink.w, right - left);
    EXPECT_EQ(g_prepared, 2);
    textProbe() = nullptr;
}

TEST(MenuLook, LabelFilterAppliesToListsMadeAfterItAndOnlyOnce) {
    MenuLook look;
    std::vector<MenuItem> items = labels({"open", "more"});
    items[1].children = labels({"deeper"});
    ListPopup before(look, items, Rect{});
    setMenuLabelFilter([](const std::string& s) { return s + "!"; });
    ListPopup after(look, items, Rect{});
    setMenuLabelFilter(nullptr);
    ListPopup cleared(look, items, Rect{});
    EXPECT_EQ(before.items[0].label, "open");
    EXPECT_EQ(after.items[0].label, "open!");
    EXPECT_EQ(after.items[1].label, "more!");
    EXPECT_EQ(after.items[1].children[0].label, "deeper!");
    EXPECT_EQ(cleared.items[1].children[0].label, "deeper");
}
