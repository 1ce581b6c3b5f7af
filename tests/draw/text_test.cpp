#include <gtest/gtest.h>

#include <string>

#include "gui/draw/bitmapfont.h"
#include "gui/draw/canvas.h"
#include "gui/draw/cursor_image.h"
#include "gui/draw/font_utf8.h"
#include "tests/draw/draw_support.h"

using namespace lumo::gui;
using namespace drawtest;

TEST(BuiltinFont, ChoiceForScale) {
    struct Case {
        double scale;
        bool large;
        int factor;
    };
    const Case cases[] = {{1.0, false, 1}, {1.25, true, 1}, {1.5, true, 1}, {2.0, false, 2}, {3.0, false, 3},
                          {0.5, false, 1}, {4.0, false, 4}, {4.1, true, 3}, {6.0, true, 4}, {2.5, true, 2}};
    for (const Case& c : cases) {
        int factor = 0;
        const Font& f = Font::forScale(c.scale, factor);
        EXPECT_EQ(&f, c.large ? &Font::mono18() : &Font::mono13()) << c.scale;
        EXPECT_EQ(factor, c.factor) << c.scale;
    }
    EXPECT_EQ(Font::mono13().advance, 7);
    EXPECT_EQ(Font::mono18().height, 19);
}

// Every printable glyph of both fonts has ink, and the space has none.
TEST(BuiltinFont, GlyphsAreInked) {
    for (const Font* f : {&Font::mono13(), &Font::mono18()}) {
        const size_t bytes = size_t(f->advance) * size_t(f->height);
        for (int code = 32; code <= 126; ++code) {
            int sum = 0;
            for (size_t i = 0; i < bytes; ++i) sum += f->data[size_t(code - 32) * bytes + i];
            EXPECT_EQ(sum != 0, code != 32) << code;
        }
    }
}

TEST(BuiltinFont, DrawTextCellsAndWeights) {
    const Font& f = Font::mono13();
    // "a\nb": the b glyph lands at x + 2 advances (scale 2), the newline's cell stays empty.
    Canvas both = makeCanvas(60, 30), bOnly = makeCanvas(60, 30);
    both.drawText(1, 1, "a\nb", 0xFFFFFFFFu, f, 2);
    bOnly.drawText(1 + 2 * 7 * 2, 1, "b", 0xFFFFFFFFu, f, 2);
    for (int y = 0; y < 30; ++y)
        for (int x = 15; x < 60; ++x) ASSERT_EQ(px(both, x, y), px(bOnly, x, y)) << x << "," << y;
    for (int y = 0; y < 30; ++y)
        for (int x = 15; x < 29; ++x) ASSERT_EQ(px(both, x, y), 0u);

    // Scale 1 against the rule pixel by pixel, on a translucent colour and a textured background.
    Canvas cv = makeCanvas(80, 20);
    for (size_t i = 0; i < cv.pixels.size(); ++i) cv.pixels[i] = grey(uint32_t(i * 37) & 0xFF, uint32_t(i * 11) & 0xFF);
    const Canvas before = cv;
    cv.clip = Rect{3, 2, 60, 10};
    const Color c = 0xB4205080u;
    cv.drawText(0, 0, "Wg@|", c, f, 1);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 80; ++x) {
            uint32_t want = px(before, x, y);
            const bool inside = x >= 3 && x < 63 && y >= 2 && y < 12 && x < 28 && y < 14;
            if (inside) {
                const int code = std::string("Wg@|")[size_t(x / 7)];
                const uint32_t v = f.data[size_t(code - 32) * 98 + size_t(y * 7 + x % 7)];
                want = refBlend(want, pixelOf(c), (v * 0xB4 + 127) / 255);
            }
            ASSERT_EQ(px(cv, x, y), want) << x << "," << y;
        }

    Canvas none = makeCanvas(40, 20);
    none.drawText(0, 0, "abc", 0x00FFFFFFu, f, 1);
    none.drawText(0, 0, "", 0xFFFFFFFFu, f, 1);
    none.drawText(0, 0, "abc", 0xFFFFFFFFu, f, 0);
    none.drawText(0, 0, "abc", 0xFFFFFFFFu, Font{}, 1);
    EXPECT_EQ(countNot(none, 0), 0);
}

namespace {

// A font of solid glyph images: 'A' 3 wide, 'B' with a two-pixel inked column, '.' 1 wide.
struct TestFont {
    Bitmap a = makeBitmap(3, 4, 0xFFFFFFFFu), b = makeBitmap(4, 4, 0), dot = makeBitmap(1, 1, 0xFFFFFFFFu);
    BitmapFont font;
    TestFont() {
        for (int y = 0; y < 4; ++y) b.pixels[size_t(y * 4 + 1)] = b.pixels[size_t(y * 4 + 2)] = 0x40FFFFFFu;
        b.pixels[1] = 0x20FFFFFFu;  // below the ink threshold of 41
        font.space = 2;
        font.glyphs['A'] = Glyph{0, -4, 3, 4, 4, &a};
        font.glyphs['B'] = Glyph{-1, -3, 4, 4, 5, &b};
        font.glyphs['.'] = Glyph{0, -1, 1, 1, 2, &dot};
        font.glyphs['N'] = Glyph{1, -2, 2, 2, 3, nullptr};
        font.underline_pos = 1;
        font.underline_size = 1;
    }
};

struct Probe {
    static inline int calls = 0;
    static inline std::string text;
    static inline Rect ink, clip;
    static inline int pen = 0;
    static void hook(const std::string& t, Rect i, Rect c, int p) {
        ++calls, text = t, ink = i, clip = c, pen = p;
    }
};

}  // namespace

TEST(BitmapFont, MeasureAndInk) {
    TestFont t;
    const BitmapFont& f = t.font;
    EXPECT_EQ(f.width(""), 0);
    EXPECT_EQ(f.width(" "), 2);
    EXPECT_EQ(f.width("A BxN"), 4 + 2 + 5 + 4 + 3);  // x: an empty box of 3 and a gap
    int l = 0, r = 0;
    f.inkExtent("   ", l, r);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(r, 6);
    f.inkExtent("BA", l, r);
    EXPECT_EQ(l, -1);
    EXPECT_EQ(r, 8);
    f.inkExtent("", l, r);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(r, 0);
}

TEST(BitmapFont, MnemonicMarkers) {
    struct Case {
        const char* in;
        const char* out;
        int index;
    };
    const Case cases[] = {{"&File", "File", 0},          {"Save &As", "Save As", 5}, {"A&&B", "A&B", -1},
                          {"Tom & Jerry", "Tom  Jerry", 4}, {"End&", "End&", -1},    {"&a&b", "ab", 0},
                          {"", "", -1}};
    for (const Case& c : cases) {
        int index = 99;
        EXPECT_EQ(stripMnemonic(c.in, index), c.out) << c.in;
        EXPECT_EQ(index, c.index) << c.in;
    }
}

TEST(BitmapFont, FitWithEllipsis) {
    TestFont t;
    const BitmapFont& f = t.font;  // "..." is 6 wide
    struct Case {
        const char* text;
        int max;
        const char* out;
    };
    const Case cases[] = {{"AAA", 12, "AAA"}, {"AAA", 11, "A..."}, {"AAA", 10, "A..."}, {"AAA", 9, "..."},
                          {"AAA", 5, ""},     {"", 0, ""},          {"AB", -1, ""}};
    for (const Case& c : cases) EXPECT_EQ(f.fit(c.text, c.max), c.out) << c.text << " in " << c.max;
    BitmapFont noDot = f;
    noDot.glyphs.erase('.');
    EXPECT_EQ(noDot.fit("AAA", 5), "A...");
}

TEST(BitmapFont, DrawReportsInkToTheProbe) {
    TestFont t;
    Canvas cv = makeCanvas(40, 20);
    cv.clip = Rect{0, 0, 30, 20};
    Probe::calls = 0;
    textProbe() = &Probe::hook;
    t.font.draw(cv, 10, 10, "BA N", nullptr);
    t.font.draw(cv, 10, 10, "", nullptr);
    t.font.draw(cv, 10, 10, "  ", nullptr);  // no ink: not reported
    textProbe() = nullptr;
    ASSERT_EQ(Probe::calls, 1);
    EXPECT_EQ(Probe::text, "BA N");
    // B's ink columns 1-2 (rows 0-3, except the faint pixel at row 0) at pen 10 - 1; A at pen 15.
    EXPECT_EQ(Probe::ink.x, 10);
    EXPECT_EQ(Probe::ink.y, 6);
    EXPECT_EQ(Probe::ink.w, 18 - 10);
    EXPECT_EQ(Probe::ink.h, 5);  // A rows 6-9, B rows 7-10
    EXPECT_EQ(Probe::clip.w, 30);
    EXPECT_EQ(Probe::pen, 10 + 5 + 4 + 2 + 3);
    // Untinted glyphs keep their own colours; the null-image glyph only advanced.
    EXPECT_EQ(px(cv, 15, 6), 0xFFFFFFFFu);
    EXPECT_EQ(px(cv, 10, 8), refBlend(0, 0xFFFFFFFFu, 0x40));

    // Tinted with a mnemonic underline below the second glyph.
    Canvas m = makeCanvas(40, 20);
    t.font.drawMnemonic(m, 0, 10, "AB", 1, 0xFF0000FFu);
    EXPECT_EQ(px(m, 0, 6), 0xFFFF0000u);
    for (int x = 0; x < 12; ++x) EXPECT_EQ(px(m, x, 11) != 0, x >= 4 && x < 9) << x;
    Canvas n = makeCanvas(40, 20);
    t.font.drawMnemonic(n, 0, 10, "AB", -1, 0xFF0000FFu);
    for (int x = 0; x < 12; ++x) EXPECT_EQ(px(n, x, 11), 0u);
}

TEST(Utf8, DecodesWellFormedAndMarksTheRest) {
    struct Case {
        const char* what;
        std::string in;
        std::u32string out;
    };
    const Case cases[] = {
        {"ascii and controls", "a\t\x7f", U"a\t\x7f"},
        {"two, three and four bytes", "\xC3\x9C\xE2\x82\xAC\xF0\x9D\x84\x9E", U"\u00DC\u20AC\U0001D11E"},
        {"stray continuation", "\x80x", U"\uFFFDx"},
        {"cut at the end: one mark", "ab\xE2\x82", U"ab\uFFFD"},
        {"cut before ascii", "\xC3x", U"\uFFFDx"},
        {"overlong", "\xC0\xAF\xE0\x80\xAF", U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"surrogate", "\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"bytes that never start one", "\xFE\xFF", U"\uFFFD\uFFFD"},
    };
    for (const Case& k : cases) {
        std::u32string got;
        for (size_t i = 0; i < k.in.size();) got += nextChar(k.in, i);
        EXPECT_EQ(got, k.out) << k.what;
    }
}

// Whatever the text, every character shows: letters the font lacks as their base letters or a
// mark, controls as a space, never nothing.
TEST(BitmapFont, EveryCharacterShows) {
    TestFont t;
    BitmapFont withMark = t.font;
    Bitmap q = makeBitmap(2, 3, 0xFFFFFFFFu);
    withMark.glyphs['?'] = Glyph{0, -3, 2, 3, 6, &q};
    BitmapFont withReplacement = withMark;
    withReplacement.glyphs[kReplacementChar] = Glyph{0, -2, 2, 2, 7, &q};
    struct Case {
        const char* what;
        const BitmapFont* font;
        std::string text;
        int width;
        std::string drawnAs;  // draws the same pixels as this text; empty: not compared
    };
    const Case cases[] = {
        {"tab and controls as a space", &t.font, "A\tB\x01\xC2\x85" "A", 4 + 2 + 5 + 2 + 2 + 4, "A B  A"},
        {"accented letters as their base", &t.font, "\xC3\x81\xC3\x84\xC4\x80.", 4 * 3 + 2, "AAA."},
        {"combining accent left off", &t.font, "A\xCC\x88", 4, "A"},
        {"no mark in the font: a box", &t.font, "\xE2\x82\xAC", 4, ""},
        {"the font's question mark", &withMark, "\xE2\x82\xAC" "x", 12, "??"},
        {"the font's replacement mark", &withReplacement, "x\xFF", 14, ""},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(k.font->width(k.text), k.width) << k.what;
        Canvas drawn = makeCanvas(60, 20);
        k.font->draw(drawn, 2, 12, k.text, nullptr);
        EXPECT_GT(countNot(drawn, 0), 0) << k.what;
        if (!k.drawnAs.empty()) {
            Canvas want = makeCanvas(60, 20);
            k.font->draw(want, 2, 12, k.drawnAs, nullptr);
            EXPECT_EQ(drawn.pixels, want.pixels) << k.what;
        }
    }
    // Cut texts end on a whole character.
    EXPECT_EQ(t.font.fit("\xC3\x81\xC3\x81\xC3\x81", 11), "\xC3\x81...");
    size_t i = 0;
    EXPECT_EQ(t.font.advanceAt("\xC3\x81" "B", i), 4);
    EXPECT_EQ(i, 2u);
}

TEST(CursorImage, EntriesAndRendering) {
    CursorImage c;
    EXPECT_EQ(c.width(), 0);
    EXPECT_EQ(c.render(1.0).w, 0);
    Bitmap big = makeBitmap(32, 32, 0xFF000002u), small = makeBitmap(16, 16, 0xFF000001u);
    big.pixels[0] = 0xFFABCDEFu;
    c.add(big, 2.0);
    c.add(small, 1.0);
    c.add(small, 1.0);
    c.add(Bitmap{}, 3.0);
    c.add(small, 0.0);
    ASSERT_EQ(c.images.size(), 2u);
    EXPECT_EQ(c.images[0].scale, 1.0);
    EXPECT_EQ(c.width(), 16);
    EXPECT_EQ(c.render(1.0).pixels[0], 0xFF000001u);
    const Bitmap at15 = c.render(1.5);  // from the 2.0 entry, scaled down
    EXPECT_EQ(at15.w, 24);
    EXPECT_EQ(at15.pixels[0], 0xFFABCDEFu);
    EXPECT_EQ(at15.pixels[1], 0xFF000002u);
    EXPECT_EQ(c.render(3.0).w, 48);
    EXPECT_EQ(c.render(0).w, 0);
    CursorImage tiny;
    tiny.add(makeBitmap(1, 1, 1), 4.0);
    EXPECT_EQ(tiny.render(1.0).w, 1);
    const uint64_t first = CursorImage::nextId();
    EXPECT_LT(first, CursorImage::nextId());
    // Every image made has its own id (the window layer caches renders by it); a copy keeps it.
    const CursorImage other, copy = c;
    EXPECT_NE(c.id, 0u);
    EXPECT_NE(c.id, other.id);
    EXPECT_NE(c.id, tiny.id);
    EXPECT_EQ(copy.id, c.id);
}
