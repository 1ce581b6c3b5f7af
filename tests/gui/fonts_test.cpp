// The toolkit's font packs as lumoFonts() loads them from the embedded table.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "gui/fonts.h"

using namespace lumo::gui;

namespace {

const char* const kFontNames[] = {"tahoma6",        "tahoma6_bold", "tahoma7",        "tahoma7_bold",
                                  "tqnative",       "tqnative_bold", "tqnative_short", "tqnative_short_bold",
                                  "tqsans",         "tqsans_bold",  "tqsans_title"};
const double kScales[] = {1.0, 1.5, 2.0, 3.0};

std::string printable() {
    std::string s;
    for (int c = 33; c < 127; ++c) s += char(c);
    return s;
}

}  // namespace

TEST(LumoFonts, EveryFontAtEveryScaleHasMetricsAndGlyphs) {
    const Assets& fonts = lumoFonts();
    ASSERT_EQ(fonts.scales(), std::vector<double>(std::begin(kScales), std::end(kScales)));
    for (double s : kScales) {
        const AssetPack& pack = fonts.pack(s);
        EXPECT_EQ(pack.scale, s);
        EXPECT_TRUE(pack.sprites.empty());
        EXPECT_EQ(pack.fonts.size(), std::size(kFontNames));
        for (const char* name : kFontNames) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(s));
            const BitmapFont* f = pack.font(name);
            ASSERT_NE(f, nullptr);
            EXPECT_GT(f->space, 0);
            EXPECT_GT(f->cap_height, 0);
            EXPECT_GT(f->x_height, 0);
            EXPECT_GT(f->ascent, 0);
            EXPECT_GT(f->descent, 0);
            EXPECT_GE(f->line_height, f->ascent);
            for (char c : printable()) {
                auto it = f->glyphs.find(c);
                ASSERT_NE(it, f->glyphs.end()) << "glyph " << c;
                EXPECT_GT(it->second.adv, 0) << "glyph " << c;
                ASSERT_NE(it->second.image, nullptr) << "glyph " << c;
                EXPECT_EQ(it->second.image->w, it->second.w);
                EXPECT_EQ(it->second.image->h, it->second.h);
            }
            // The ellipsis of fit is made of ".".
            EXPECT_EQ(f->fit("a long enough label to be cut", f->width("a long") + 3 * f->advance('.')),
                      "a long...");
        }
    }
}

TEST(LumoFonts, PixelFontsMagnifyScaleOneExactly) {
    const Assets& fonts = lumoFonts();
    const std::string text = printable() + " The quick brown fox";
    for (const char* name : {"tqnative", "tqnative_bold", "tqnative_short", "tqnative_short_bold"}) {
        SCOPED_TRACE(name);
        const BitmapFont* one = fonts.pack(1).font(name);
        ASSERT_NE(one, nullptr);
        for (int k : {2, 3}) {
            const BitmapFont* big = fonts.pack(k).font(name);
            ASSERT_NE(big, nullptr);
            EXPECT_EQ(big->width(text), k * one->width(text));
            EXPECT_EQ(big->cap_height, k * one->cap_height);
            EXPECT_EQ(big->line_height, k * one->line_height);
            // Every pixel of a glyph becomes a k x k block.
            const Glyph& g1 = one->glyphs.at('g');
            const Glyph& gk = big->glyphs.at('g');
            EXPECT_EQ(gk.x, k * g1.x);
            EXPECT_EQ(gk.y, k * g1.y);
            ASSERT_EQ(gk.image->w, k * g1.image->w);
            ASSERT_EQ(gk.image->h, k * g1.image->h);
            for (int y = 0; y < gk.image->h; ++y)
                for (int x = 0; x < gk.image->w; ++x)
                    ASSERT_EQ(gk.image->pixels[size_t(y * gk.image->w + x)],
                              g1.image->pixels[size_t((y / k) * g1.image->w + x / k)]);
        }
    }
    // Regular advances are even, so 1.5x text is exactly one and a half times as wide.
    for (const char* name : {"tqnative", "tqnative_short"})
        EXPECT_EQ(2 * fonts.pack(1.5).font(name)->width(text), 3 * fonts.pack(1).font(name)->width(text));
}
