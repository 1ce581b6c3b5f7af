#pragma once
// Bitmap fonts of the asset packs: glyph images per character with their own offsets and advances,
// and the text operations on them (measure, ink extent, draw, mnemonics, fit) plus the text-probe hook.
//
// Texts are UTF-8 and every character shows: a character the font lacks is drawn as the plain
// letters it stands for (an accented Latin letter as its base letter), else as the font's
// replacement mark (U+FFFD, else "?"), else as an empty box; controls and tabs take one space. A
// byte that is no well-formed UTF-8 is a replacement mark.
#include <cstdint>
#include <map>
#include <string>

#include "gui/draw/canvas.h"

namespace lumo::gui {

struct Glyph {
    int32_t x = 0;  // image's top-left relative to the pen on the baseline (y < 0 above it)
    int32_t y = 0;
    int32_t w = 0;  // image size as the pack index gives it; not used for drawing
    int32_t h = 0;
    int32_t adv = 0;                // pen advance
    const Bitmap* image = nullptr;  // owned by the asset pack; may be null
};

// The font does not own its glyph images: they belong to the pack holding the font.
struct BitmapFont {
    std::map<char32_t, Glyph> glyphs;
    int32_t space = 0;  // advance of the space, which never has a glyph
    int32_t cap_height = 0;
    int32_t x_height = 0;
    int32_t descent = 0;
    int32_t pixel_scale = 1;
    int32_t ascent = 0;
    int32_t line_height = 0;
    int32_t underline_pos = 1;
    int32_t underline_size = 1;

    // Total advance of the text.
    int width(const std::string& text) const;
    // Leftmost and rightmost inked x relative to the pen start (0 and the advance when nothing is inked).
    void inkExtent(const std::string& text, int& left, int& right) const;
    // Draws with the pen on the baseline y; tinted by *colour when colour is not null.
    void draw(Canvas& canvas, int x, int y, const std::string& text, const Color* colour) const;
    // Draws tinted and underlines the character starting at byte index (-1: no underline).
    void drawMnemonic(Canvas& canvas, int x, int y, const std::string& text, int index, Color colour) const;
    // The text when it fits maxWidth, else its longest fitting prefix (whole characters) with "...",
    // else "".
    std::string fit(const std::string& text, int maxWidth) const;

    // Advance of one byte as a text of its own.
    int32_t advance(unsigned char byte) const;
    // Advance of the character starting at byte i, moving i past it (i below the text's size).
    int32_t advanceAt(const std::string& text, size_t& i) const;

    // What one character is drawn as: up to two glyphs, or a space, or an empty box of boxWidth.
    struct Shape {
        const Glyph* glyph[2] = {nullptr, nullptr};
        bool space = false;
        int32_t boxWidth = 0;
        int32_t advance = 0;
    };
    Shape shapeOf(char32_t c) const;
};

// Removes "&" markers ("&&" is a literal "&"); index is the position of the first marked byte or -1.
std::string stripMnemonic(const std::string& text, int& index);

// Called by BitmapFont::draw before drawing a non-empty text whose ink box is not empty:
// (text, ink box, canvas clip, pen x after the last byte).
using TextProbe = void (*)(const std::string& text, Rect ink, Rect clip, int penX);
TextProbe& textProbe();

}  // namespace lumo::gui
