// The toolkit's font packs as lumoFonts() loads them from the embedded table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include "gui/fonts.h"
#include "pictures.h"

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

namespace {

const char* const kPixelFaces[] = {"tqnative", "tqnative_bold", "tqnative_short", "tqnative_short_bold"};

bool inked(const lumo::gui::Bitmap& b, int x, int y) { return (b.pixels[size_t(y * b.w + x)] >> 24) >= 128; }

// Background regions of a glyph image that the outside does not reach (4-connected). Sealing the top
// and bottom of the box counts the bays that open upwards or downwards too (the counters of m, n, u
// and w), sealing the sides those that open sideways.
int enclosed(const lumo::gui::Bitmap& b, bool sealTopBottom, bool sealSides) {
    const int w = b.w + 2, h = b.h + 2;
    // 0 background, 1 ink or sealed border, 2 reached
    std::vector<uint8_t> cell(size_t(w * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool border = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            const bool sealed = ((y == 0 || y == h - 1) && sealTopBottom) || ((x == 0 || x == w - 1) && sealSides);
            if (border ? sealed : inked(b, x - 1, y - 1)) cell[size_t(y * w + x)] = 1;
        }
    auto flood = [&](int sx, int sy) {
        std::vector<std::pair<int, int>> todo{{sx, sy}};
        cell[size_t(sy * w + sx)] = 2;
        while (!todo.empty()) {
            auto [x, y] = todo.back();
            todo.pop_back();
            const int next[4][2] = {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}};
            for (auto [nx, ny] : next)
                if (nx >= 0 && ny >= 0 && nx < w && ny < h && cell[size_t(ny * w + nx)] == 0) {
                    cell[size_t(ny * w + nx)] = 2;
                    todo.push_back({nx, ny});
                }
        }
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if ((x == 0 || y == 0 || x == w - 1 || y == h - 1) && cell[size_t(y * w + x)] == 0) flood(x, y);
    int regions = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (cell[size_t(y * w + x)] == 0) {
                ++regions;
                flood(x, y);
            }
    return regions;
}

std::string counters(const lumo::gui::Bitmap& b) {
    return std::to_string(enclosed(b, false, false)) + " holes, " + std::to_string(enclosed(b, true, false)) +
           " bays up or down, " + std::to_string(enclosed(b, false, true)) + " bays sideways";
}

// The shortest run of ink across (dx = 1) or down (dx = 0) the glyph.
int thinnest(const lumo::gui::Bitmap& b, bool across) {
    int best = 1 << 30;
    const int lines = across ? b.h : b.w, len = across ? b.w : b.h;
    for (int l = 0; l < lines; ++l) {
        int run = 0;
        for (int i = 0; i <= len; ++i) {
            const bool on = i < len && (across ? inked(b, i, l) : inked(b, l, i));
            if (on) {
                ++run;
            } else if (run) {
                best = std::min(best, run);
                run = 0;
            }
        }
    }
    return best;
}

// The number of ink runs in each row: a bold glyph that fills a gap of its regular glyph has fewer.
std::vector<int> runsPerRow(const lumo::gui::Bitmap& b) {
    std::vector<int> runs(size_t(b.h), 0);
    for (int y = 0; y < b.h; ++y)
        for (int x = 0; x < b.w; ++x) runs[size_t(y)] += inked(b, x, y) && (x == 0 || !inked(b, x - 1, y));
    return runs;
}

// Nearest-neighbour enlargement, to look at the pixels of a sheet.
Canvas zoomed(const Canvas& c, int k) {
    Canvas z;
    z.resize(c.width * k, c.height * k);
    for (int y = 0; y < z.height; ++y)
        for (int x = 0; x < z.width; ++x) z.pixels[size_t(y * z.width + x)] = c.pixels[size_t((y / k) * c.width + x / k)];
    return z;
}

}  // namespace

TEST(LumoFonts, PixelGlyphsKeepTheirCountersAndEvenStemsAtEveryScale) {
    // Every face keeps each hole and bay of the 1x drawing at every scale, and each row of a bold
    // glyph as many runs of ink as the regular glyph at that scale (no gap filled); no stroke is thinner than one design pixel drawn at the
    // scale (2 pixels at 1.5x), and bold verticals are thickened by floor(scale) pixels more.
    const Assets& fonts = lumoFonts();
    const lumo::gui::BitmapFont* design = fonts.pack(1).font("tqnative");
    ASSERT_NE(design, nullptr);
    for (double s : kScales) {
        const int stroke = int(std::ceil(s));
        for (const char* name : kPixelFaces) {
            const bool bold = std::string(name).find("bold") != std::string::npos;
            const lumo::gui::BitmapFont* f = fonts.pack(s).font(name);
            ASSERT_NE(f, nullptr);
            for (char c : printable()) {
                SCOPED_TRACE(std::string(name) + " '" + c + "' at " + std::to_string(s));
                const lumo::gui::Bitmap& img = *f->glyphs.at(c).image;
                EXPECT_EQ(counters(img), counters(*design->glyphs.at(c).image));
                EXPECT_EQ(runsPerRow(img), runsPerRow(*fonts.pack(s).font("tqnative")->glyphs.at(c).image));
                EXPECT_GE(thinnest(img, true), stroke + (bold ? int(std::floor(s)) : 0));
                EXPECT_GE(thinnest(img, false), stroke);
                // Ink never reaches the next glyph's pen.
                EXPECT_LT(f->glyphs.at(c).x + img.w, f->glyphs.at(c).adv);
            }
        }
    }
}

TEST(LumoFonts, PixelFacesContactSheet) {
    // One sheet a scale with every glyph of 33..126 and a sentence in each pixel face, written into
    // the build folder as drawn and twice enlarged, for a person to look at.
    const Assets& fonts = lumoFonts();
    const std::string glyphs = printable();
    const std::string lines[] = {glyphs.substr(0, 47), glyphs.substr(47), "The quick brown fox jumps over the lazy dog.",
                                 "mMwW#@ 0123456789 Preset number 12 @home #1"};
    for (double s : kScales) {
        int width = 0, height = 0;
        const int margin = int(std::lround(8 * s));
        for (const char* name : kPixelFaces) {
            const lumo::gui::BitmapFont* f = fonts.pack(s).font(name);
            for (const std::string& l : lines) width = std::max(width, f->width(l));
            height += int(std::size(lines)) * f->line_height + margin;
        }
        Canvas c;
        c.resize(width + 2 * margin, height + margin);
        c.clear(0xFF202020u);
        int y = margin;
        int inked = 0;
        for (const char* name : kPixelFaces) {
            const lumo::gui::BitmapFont* f = fonts.pack(s).font(name);
            const lumo::gui::Color white = 0xFFFFFFFFu;
            for (const std::string& l : lines) {
                f->draw(c, margin, y + f->ascent, l, &white);
                y += f->line_height;
            }
            y += margin;
        }
        for (uint32_t p : c.pixels) inked += p == 0xFFFFFFFFu;
        EXPECT_GT(inked, 0);
        std::ostringstream base;
        base << "tqnative-" << s << "x";
        ASSERT_TRUE(pictures::write(c, base.str() + ".png"));
        ASSERT_TRUE(pictures::write(zoomed(c, 2), base.str() + "-zoom2.png"));
    }
}
