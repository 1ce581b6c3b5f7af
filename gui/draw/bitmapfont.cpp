#include "gui/draw/bitmapfont.h"

#include <algorithm>
#include <climits>

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

int32_t BitmapFont::advance(unsigned char byte) const {
    if (byte == 32) return space;
    const auto it = glyphs.find(char(byte));
    return it == glyphs.end() ? 0 : it->second.adv;
}

int BitmapFont::width(const std::string& text) const {
    int64_t total = 0;
    for (unsigned char b : text) total += advance(b);
    return clampInt(total);
}

void BitmapFont::inkExtent(const std::string& text, int& left, int& right) const {
    int64_t l = int64_t(1) << 30, r = -(int64_t(1) << 30), pen = 0;
    for (unsigned char b : text) {
        if (b != 32) {
            const auto it = glyphs.find(char(b));
            if (it != glyphs.end()) {
                const Glyph& g = it->second;
                l = std::min(l, pen + g.x);
                r = std::max(r, pen + g.x + g.w);
            }
        }
        pen += advance(b);
    }
    if (l > r) {
        l = 0;
        r = pen;
    }
    left = clampInt(l);
    right = clampInt(r);
}

void BitmapFont::draw(Canvas& canvas, int x, int y, const std::string& text, const Color* colour) const {
    const TextProbe probe = textProbe();
    if (probe != nullptr && !text.empty()) {
        int64_t l = INT64_MAX, t = INT64_MAX, r = INT64_MIN, btm = INT64_MIN, pen = x;
        for (unsigned char b : text) {
            if (b != 32) {
                const auto it = glyphs.find(char(b));
                int64_t x0, y0, x1, y1;
                if (it != glyphs.end() && it->second.image != nullptr && inkBox(*it->second.image, x0, y0, x1, y1)) {
                    const int64_t gx = pen + it->second.x, gy = int64_t(y) + it->second.y;
                    l = std::min(l, gx + x0), r = std::max(r, gx + x1);
                    t = std::min(t, gy + y0), btm = std::max(btm, gy + y1);
                }
            }
            pen += advance(b);
        }
        if (r > l)
            probe(text, Rect{clampInt(l), clampInt(t), clampInt(r - l), clampInt(btm - t)}, canvas.clip,
                  clampInt(pen));
    }
    int64_t pen = x;
    for (unsigned char b : text) {
        if (b == 32) {
            pen += space;
            continue;
        }
        // One lookup a byte: the glyph found gives both the image and the advance.
        const auto it = glyphs.find(char(b));
        if (it == glyphs.end()) continue;
        const Glyph& g = it->second;
        if (g.image != nullptr) {
            const int gx = clampInt(pen + g.x), gy = clampInt(int64_t(y) + g.y);
            if (colour != nullptr)
                canvas.drawBitmapTinted(*g.image, gx, gy, *colour);
            else
                canvas.drawBitmap(*g.image, gx, gy, 1, 255);
        }
        pen += g.adv;
    }
}

void BitmapFont::drawMnemonic(Canvas& canvas, int x, int y, const std::string& text, int index,
                              Color colour) const {
    int64_t pen = x;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        const int32_t a = advance(b);
        if (b != 32) {
            const auto it = glyphs.find(char(b));
            if (it != glyphs.end() && it->second.image != nullptr)
                canvas.drawBitmapTinted(*it->second.image, clampInt(pen + it->second.x),
                                        clampInt(int64_t(y) + it->second.y), colour);
        }
        if (index >= 0 && size_t(index) == i)
            canvas.fillRect(Rect{clampInt(pen), clampInt(int64_t(y) + underline_pos), a, underline_size}, colour);
        pen += a;
    }
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
    for (; keep < text.size(); ++keep) {
        const int64_t next = run + advance(static_cast<unsigned char>(text[keep]));
        if (next + dots > maxWidth) break;
        run = next;
    }
    return text.substr(0, keep) + "...";
}

}  // namespace lumo::gui
