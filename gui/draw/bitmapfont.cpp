#include "gui/draw/bitmapfont.h"

#include <algorithm>
#include <climits>

#include "gui/draw/font_utf8.h"

namespace lumo::gui {

namespace {

// Sums of advances are kept in 64 bits and handed out clamped to int.
int clampInt(int64_t v) { return int(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

// Bounding box of the pixels with alpha >= 41, in image coordinates; false when there are none.
bool inkBox(const Bitmap& bm, int64_t& x0, int64_t& y0, int64_t& x1, int64_t& y1) {
    if (bm.w < 1 || bm.h < 1 || bm.pixels.size() < size_t(bm.w) * size_t(bm.h)) return false;
    x0 = bm.w, y0 = bm.h, x1 = 0, y1 = 0;
    for (int64_t j = 0; j < bm.h; ++j) {
        const uint32_t* row = bm.pixels.data() + j * bm.w;
        for (int64_t i = 0; i < bm.w; ++i) {
            if ((row[i] >> 24) < 41) continue;
            x0 = std::min(x0, i), x1 = std::max(x1, i + 1);
            y0 = std::min(y0, j), y1 = std::max(y1, j + 1);
        }
    }
    return x1 > x0;
}

}  // namespace

TextProbe& textProbe() {
    static TextProbe probe = nullptr;
    return probe;
}

BitmapFont::Shape BitmapFont::shapeOf(char32_t c) const {
    Shape s;
    auto glyph = [&](char32_t k) -> const Glyph* {
        const auto it = glyphs.find(k);
        return it == glyphs.end() ? nullptr : &it->second;
    };
    if (c == ' ' || c == 0xA0 || isControl(c)) {
        s.space = true;
        s.advance = space;
        return s;
    }
    if (const Glyph* g = glyph(c)) {
        s.glyph[0] = g;
        s.advance = g->adv;
        return s;
    }
    // A combining accent the font lacks leaves the letter before it plain.
    if (c >= 0x300 && c <= 0x36F) return s;
    if (const char* base = latinBase(c)) {
        for (int k = 0; k < 2 && base[k]; ++k)
            if (const Glyph* g = glyph(char32_t(base[k]))) {
                s.glyph[k] = g;
                s.advance = clampInt(int64_t(s.advance) + g->adv);
            }
        if (s.glyph[0] || s.glyph[1]) return s;
    }
    for (char32_t mark : {kReplacementChar, char32_t('?')})
        if (const Glyph* g = glyph(mark)) {
            s.glyph[0] = g;
            s.advance = g->adv;
            return s;
        }
    // A font without a mark of its own: an empty box as wide as a space, a gap after it.
    s.boxWidth = std::max<int32_t>(3, space);
    s.advance = clampInt(int64_t(s.boxWidth) + std::max<int32_t>(1, pixel_scale));
    return s;
}

namespace {

// Calls f(shape, pen, byte index) for every character of the text, the pen starting at x.
template <class F>
int64_t eachChar(const BitmapFont& font, const std::string& text, int64_t x, F&& f) {
    int64_t pen = x;
    for (size_t i = 0; i < text.size();) {
        const size_t at = i;
        const BitmapFont::Shape s = font.shapeOf(nextChar(text, i));
        f(s, pen, at);
        pen += s.advance;
    }
    return pen;
}

// The empty box of a character the font cannot show: its outline from the baseline up to the cap
// height, one pixel_scale wide.
Rect boxOf(const BitmapFont& font, const BitmapFont::Shape& s, int64_t pen, int y) {
    const int32_t h = font.cap_height > 0 ? font.cap_height : std::max<int32_t>(s.boxWidth, font.ascent);
    return Rect{clampInt(pen), clampInt(int64_t(y) - h), s.boxWidth, h};
}

void drawBox(Canvas& canvas, const BitmapFont& font, const BitmapFont::Shape& s, int64_t pen, int y, Color colour) {
    canvas.strokeRect(boxOf(font, s, pen, y), colour, std::max<int32_t>(1, font.pixel_scale));
}

// Draws one character's glyphs (tinted when colour is not null) or its box.
void drawShape(Canvas& canvas, const BitmapFont& font, const BitmapFont::Shape& s, int64_t pen, int y,
               const Color* colour) {
    if (s.boxWidth > 0) {
        drawBox(canvas, font, s, pen, y, colour ? *colour : 0xFFFFFFFFu);
        return;
    }
    for (const Glyph* g : s.glyph) {
        if (!g) continue;
        if (g->image != nullptr) {
            const int gx = clampInt(pen + g->x), gy = clampInt(int64_t(y) + g->y);
            if (colour != nullptr)
                canvas.drawBitmapTinted(*g->image, gx, gy, *colour);
            else
                canvas.drawBitmap(*g->image, gx, gy, 1, 255);
        }
        pen += g->adv;
    }
}

}  // namespace

int32_t BitmapFont::advance(unsigned char byte) const { return width(std::string(1, char(byte))); }

int32_t BitmapFont::advanceAt(const std::string& text, size_t& i) const { return shapeOf(nextChar(text, i)).advance; }

int BitmapFont::width(const std::string& text) const { return clampInt(eachChar(*this, text, 0, [](auto&&...) {})); }

void BitmapFont::inkExtent(const std::string& text, int& left, int& right) const {
    int64_t l = int64_t(1) << 30, r = -(int64_t(1) << 30);
    const int64_t end = eachChar(*this, text, 0, [&](const Shape& s, int64_t pen, size_t) {
        if (s.boxWidth > 0) {
            l = std::min(l, pen);
            r = std::max(r, pen + s.boxWidth);
        }
        for (const Glyph* g : s.glyph) {
            if (!g) continue;
            l = std::min(l, pen + g->x);
            r = std::max(r, pen + g->x + g->w);
            pen += g->adv;
        }
    });
    if (l > r) {
        l = 0;
        r = end;
    }
    left = clampInt(l);
    right = clampInt(r);
}

void BitmapFont::draw(Canvas& canvas, int x, int y, const std::string& text, const Color* colour) const {
    const TextProbe probe = textProbe();
    if (probe != nullptr && !text.empty()) {
        int64_t l = INT64_MAX, t = INT64_MAX, r = INT64_MIN, btm = INT64_MIN;
        auto add = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
            l = std::min(l, x0), r = std::max(r, x1);
            t = std::min(t, y0), btm = std::max(btm, y1);
        };
        const int64_t end = eachChar(*this, text, x, [&](const Shape& s, int64_t pen, size_t) {
            if (s.boxWidth > 0) {
                const Rect b = boxOf(*this, s, pen, y);
                add(b.x, b.y, int64_t(b.x) + b.w, int64_t(b.y) + b.h);
            }
            for (const Glyph* g : s.glyph) {
                if (!g) continue;
                int64_t x0, y0, x1, y1;
                if (g->image != nullptr && inkBox(*g->image, x0, y0, x1, y1)) {
                    const int64_t gx = pen + g->x, gy = int64_t(y) + g->y;
                    add(gx + x0, gy + y0, gx + x1, gy + y1);
                }
                pen += g->adv;
            }
        });
        if (r > l)
            probe(text, Rect{clampInt(l), clampInt(t), clampInt(r - l), clampInt(btm - t)}, canvas.clip, clampInt(end));
    }
    eachChar(*this, text, x, [&](const Shape& s, int64_t pen, size_t) { drawShape(canvas, *this, s, pen, y, colour); });
}

void BitmapFont::drawMnemonic(Canvas& canvas, int x, int y, const std::string& text, int index,
                              Color colour) const {
    eachChar(*this, text, x, [&](const Shape& s, int64_t pen, size_t at) {
        drawShape(canvas, *this, s, pen, y, &colour);
        if (index >= 0 && size_t(index) == at)
            canvas.fillRect(Rect{clampInt(pen), clampInt(int64_t(y) + underline_pos), s.advance, underline_size},
                            colour);
    });
}

std::string stripMnemonic(const std::string& text, int& index) {
    index = -1;
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '&' && i + 1 < text.size()) {
            if (text[i + 1] == '&') {
                out += '&';
                i += 2;
                continue;
            }
            if (index == -1) index = int(out.size());
            ++i;
            continue;
        }
        out += text[i];
        ++i;
    }
    return out;
}

std::string BitmapFont::fit(const std::string& text, int maxWidth) const {
    if (width(text) <= maxWidth) return text;
    const auto dot = glyphs.find('.');
    const int64_t dots = dot == glyphs.end() ? 0 : 3 * int64_t(dot->second.adv);
    if (dots > maxWidth) return std::string();
    int64_t run = 0;
    size_t keep = 0;
    for (size_t i = 0; i < text.size();) {
        const int64_t next = run + advanceAt(text, i);
        if (next + dots > maxWidth) break;
        run = next;
        keep = i;
    }
    return text.substr(0, keep) + "...";
}

}  // namespace lumo::gui
