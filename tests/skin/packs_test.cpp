#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>

#include "tests/skin/skin_support.h"

using namespace skintest;
using lumo::gui::AssetPack;
using lumo::gui::Bitmap;
using lumo::gui::Sprite;

namespace {

uint32_t px(const Bitmap& b, int x, int y) { return b.pixels[size_t(y) * size_t(b.w) + size_t(x)]; }
int channel(uint32_t p, int shift) { return int((p >> shift) & 0xFF); }

}  // namespace

// The table holds the six packs and the layout in the order the window loads them, and every pack
// is the designed page size at its scale.
TEST(SkinPacks, TableLoadsSixPacksAtTheirPageSizes) {
    const char* order[] = {"1.25x.json", "1.25x.pack", "1.2x.json", "1.2x.pack", "1.5x.json", "1.5x.pack", "1x.json",
                           "1x.pack",    "2x.json",    "2x.pack",   "3x.json",   "3x.pack",   "layout.json"};
    ASSERT_EQ(lumo::embedded::managerSkinCount, 13u);
    for (size_t i = 0; i < 13; ++i) EXPECT_STREQ(lumo::embedded::managerSkin[i].name, order[i]);

    ASSERT_EQ(skin().packs.size(), 6u);
    EXPECT_TRUE(skin().layout.isObject());
    EXPECT_EQ(skin().scales(), (std::vector<double>{1.0, 1.2, 1.25, 1.5, 2.0, 3.0}));
    for (double s : kScales) {
        const AssetPack& p = skin().pack(s);
        EXPECT_EQ(p.scale, s);
        EXPECT_EQ(p.width, int(std::floor(426 * s))) << s;
        EXPECT_EQ(p.height, int(std::floor(344 * s))) << s;
    }
}

// Every name is in every pack, with an image of exactly its size (the label hit boxes have none),
// placed at its 1x box on the pack's device grid; the states of a control share their place.
TEST(SkinPacks, EverySpriteSitsAtItsDesignPlaceInEveryPack) {
    const AssetPack& one = skin().pack(1.0);
    for (const std::string& name : spriteNames()) {
        const Sprite* base = one.sprite(name);
        ASSERT_NE(base, nullptr) << name;
        for (double s : kScales) {
            const Sprite* sp = skin().pack(s).sprite(name);
            ASSERT_NE(sp, nullptr) << name << " at " << s;
            EXPECT_EQ(sp->x, F(base->x, s)) << name << " at " << s;
            EXPECT_EQ(sp->y, F(base->y, s)) << name << " at " << s;
            EXPECT_EQ(sp->w, F(base->x + base->w, s) - F(base->x, s)) << name << " at " << s;
            EXPECT_EQ(sp->h, F(base->y + base->h, s) - F(base->y, s)) << name << " at " << s;
            if (name.rfind("label_", 0) == 0) continue;
            ASSERT_NE(sp->image, nullptr) << name << " at " << s;
            EXPECT_EQ(sp->image->w, sp->w) << name << " at " << s;
            EXPECT_EQ(sp->image->h, sp->h) << name << " at " << s;
        }
    }
    const std::map<std::string, std::vector<std::string>> families = {
        {"sb_up_normal", {"sb_up_hover", "sb_up_pressed"}},
        {"sb_down_normal", {"sb_down_hover", "sb_down_pressed"}},
        {"cap_sb", {"cap_sb_hover", "cap_sb_grabbed"}},
        {"open_up", {"open_hover", "open_down"}},
        {"more_up", {"more_hover", "more_down"}},
        {"row_pill_normal", {"row_pill_hover", "row_pill_pressed"}},
        {"sort_pill_normal", {"sort_pill_pressed"}},
        {"sort_arrow_down", {"sort_arrow_up"}},
        {"main_pill_normal", {"main_pill_pressed"}},
        {"update_all_normal", {"update_all_pressed"}},
        {"account_normal", {"account_pressed"}},
        {"row_led_off", {"row_led_on"}},
        {"check_vst3_off", {"check_vst3_on", "check_vst3_press_on", "check_vst3_press_off"}},
        {"check_clap_off", {"check_clap_on", "check_clap_press_on", "check_clap_press_off"}},
        {"check_au_off", {"check_au_on", "check_au_press_on", "check_au_press_off"}},
        {"led_vst3_off", {"led_vst3_on"}},
        {"led_clap_off", {"led_clap_on"}},
        {"led_au_off", {"led_au_on"}},
        {"over_4_b", {"over_4_w"}},
    };
    for (const auto& [first, others] : families)
        for (const std::string& other : others) {
            const Sprite *a = one.sprite(first), *b = one.sprite(other);
            ASSERT_TRUE(a && b) << other;
            EXPECT_TRUE(a->x == b->x && a->y == b->y && a->w == b->w && a->h == b->h) << first << " / " << other;
        }
}

// The glass pair is one overlay over black and over white: equal in size, and at every pixel the
// white copy exceeds the black one by the same amount in each channel (the overlay's transparency).
TEST(SkinPacks, GlassPairIsOneOverlayOverBlackAndWhite) {
    for (double s : kScales) {
        const Sprite *b = skin().pack(s).sprite("over_4_b"), *w = skin().pack(s).sprite("over_4_w");
        ASSERT_TRUE(b && w && b->image && w->image);
        ASSERT_EQ(b->image->w, w->image->w);
        ASSERT_EQ(b->image->h, w->image->h);
        int clear = 0;
        for (int y = 0; y < b->image->h; ++y)
            for (int x = 0; x < b->image->w; ++x) {
                const uint32_t pb = px(*b->image, x, y), pw = px(*w->image, x, y);
                const int d0 = channel(pw, 16) - channel(pb, 16);
                for (int sh : {8, 0}) EXPECT_LE(std::abs(channel(pw, sh) - channel(pb, sh) - d0), 1) << s << " " << x << "," << y;
                EXPECT_GE(d0, 0);
                if (d0 == 255) ++clear;
            }
        EXPECT_GT(clear, 0) << "the corners outside the rounded glass leave the canvas untouched";
    }
}

// Stretching repeats the source columns of each band (and the rows of the y band), so inside a band
// every column of a sliceable sprite equals the band's first column.
TEST(SkinPacks, SliceableSpritesAreUniformAcrossTheStretchBands) {
    for (double s : kScales) {
        for (const auto& [name, sp] : skin().pack(s).sprites) {
            const bool glass = name == "over_4_b" || name == "over_4_w";
            if (!sp.image || (!sliceable(name) && !glass)) continue;
            const Bitmap& img = *sp.image;
            const int margin = F(10, s);
            // Along x a band is a run of columns, along y a run of rows; (u, v) is (along, across).
            auto check = [&](const Band& band, int start, int along, int across, bool alongX) {
                const int b0 = F(band.pos, s) - start, b1 = F(band.pos + band.len, s) - start;
                if (b0 < margin || b1 > along - margin) return;
                auto at = [&](int u, int v) { return alongX ? px(img, u, v) : px(img, v, u); };
                for (int u = b0 + 1; u < b1; ++u)
                    for (int v = 0; v < across; ++v)
                        ASSERT_EQ(at(u, v), at(b0, v)) << name << " at " << s << (alongX ? ": column " : ": row ") << u;
            };
            for (const Band& band : kBandsX) check(band, sp.x, img.w, img.h, true);
            for (const Band& band : kBandsY) check(band, sp.y, img.h, img.w, false);
        }
    }
}

// The pixel look draws its tick boxes in the solid face of "check_<f>_off": a face inside a
// transparent margin, found by the 40 % rule on alpha >= 128.
TEST(SkinPacks, TickBoxesHaveASolidFaceInsideATransparentMargin) {
    for (const char* f : {"vst3", "clap", "au"}) {
        const Sprite* sp = skin().pack(1.0).sprite(std::string("check_") + f + "_off");
        ASSERT_TRUE(sp && sp->image);
        const Bitmap& img = *sp->image;
        auto solidRow = [&](int y) {
            int n = 0;
            for (int x = 0; x < img.w; ++x) n += (px(img, x, y) >> 24) >= 128;
            return n * 10 >= img.w * 4;
        };
        auto solidCol = [&](int x) {
            int n = 0;
            for (int y = 0; y < img.h; ++y) n += (px(img, x, y) >> 24) >= 128;
            return n * 10 >= img.h * 4;
        };
        EXPECT_FALSE(solidRow(0)) << f;
        EXPECT_FALSE(solidRow(img.h - 1)) << f;
        EXPECT_FALSE(solidCol(0)) << f;
        EXPECT_FALSE(solidCol(img.w - 1)) << f;
        for (int i = 1; i < img.h - 1; ++i) EXPECT_TRUE(solidRow(i)) << f << " row " << i;
        for (int i = 1; i < img.w - 1; ++i) EXPECT_TRUE(solidCol(i)) << f << " column " << i;
    }
}

// Brightened sprites keep their shading: hovered pills are drawn at 1.1 and the selected row plate
// at 1.35, capped at 255, so their channels stay at or below 231 and 188.
TEST(SkinPacks, BrightenedSpritesLeaveHeadroom) {
    const std::pair<const char*, int> cases[] = {{"sort_pill_normal", 231}, {"main_pill_normal", 231},
                                                 {"update_all_normal", 231}, {"account_normal", 231},
                                                 {"row_plate", 188}};
    for (double s : kScales)
        for (const auto& [name, limit] : cases) {
            const Sprite* sp = skin().pack(s).sprite(name);
            ASSERT_TRUE(sp && sp->image);
            int most = 0;
            for (uint32_t p : sp->image->pixels)
                if ((p >> 24) >= 128) most = std::max({most, channel(p, 16), channel(p, 8), channel(p, 0)});
            EXPECT_LE(most, limit) << name << " at " << s;
        }
}

// The five fonts are in every pack; the words the window puts on pills fit them, and the value font
// covers printable ASCII (with "." for the "..." of cut texts).
TEST(SkinPacks, FontsCoverTheirTextsAndFitTheirPills) {
    struct Fit {
        const char* font;
        const char* text;
        const char* sprite;
    };
    const Fit fits[] = {{"bold", "REINSTALL", "main_pill_normal"}, {"pill", "UPDATE ALL", "update_all_normal"},
                        {"pill", "ACCOUNT", "account_normal"},     {"small", "Name", "sort_pill_normal"},
                        {"small", "Install", "row_pill_normal"},   {"small", "Update", "row_pill_normal"}};
    for (double s : kScales) {
        const AssetPack& p = skin().pack(s);
        for (const char* name : {"bold", "head", "pill", "small", "val"}) {
            const lumo::gui::BitmapFont* f = p.font(name);
            ASSERT_NE(f, nullptr) << name << " at " << s;
            EXPECT_GT(f->cap_height, 0) << name << " at " << s;
            EXPECT_GT(f->space, 0) << name << " at " << s;
        }
        const lumo::gui::BitmapFont& val = *p.font("val");
        for (int c = 33; c < 127; ++c) {
            const auto g = val.glyphs.find(char(c));
            ASSERT_TRUE(g != val.glyphs.end() && g->second.adv > 0) << char(c) << " at " << s;
            EXPECT_NE(g->second.image, nullptr) << char(c) << " at " << s;
        }
        // Names in Latin scripts are drawn with their own letters: every face has Latin-1 and Latin
        // Extended-A (but the soft hyphen) and a replacement mark, each with ink.
        for (const char* name : {"bold", "head", "pill", "small", "val"}) {
            int missing = 0;
            for (char32_t c = 0xA1; c <= 0x17F; ++c) {
                const auto g = p.font(name)->glyphs.find(c);
                missing += c != 0xAD && (g == p.font(name)->glyphs.end() || g->second.adv < 1 || !g->second.image);
            }
            EXPECT_EQ(missing, 0) << name << " at " << s;
            EXPECT_EQ(p.font(name)->glyphs.count(0xFFFD), 1u) << name << " at " << s;
        }
        for (const Fit& f : fits) {
            const int room = p.sprite(f.sprite)->w - 2 * F(3, s);
            EXPECT_LE(p.font(f.font)->width(f.text), room) << f.text << " at " << s;
        }
        // The title fits the window bar left of the window buttons.
        EXPECT_LE(F(49, s) + p.font("head")->width("ARDUNE SYSTEMS"), F(380, s));
    }
}
