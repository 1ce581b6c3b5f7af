// The built-in monospaced fonts and canvas text.
#include <cmath>
#include <vector>

#include "gui/draw/blend.h"
#include "gui/draw/canvas.h"
#include "gui/draw/font_data.h"

namespace lumo::gui {

const Font& Font::mono13() {
    static const Font font{7, 14, fontdata::kFontMono13_DATA};
    return font;
}

const Font& Font::mono18() {
    static const Font font{10, 19, fontdata::kFontMono18_DATA};
    return font;
}

const Font& Font::forScale(double scale, int& factor) {
    struct Candidate {
        bool large;
        int factor;
        int size;
    };
    // By factor, then 13 before 18: ties go to the earlier one.
    static constexpr Candidate kCandidates[] = {{false, 1, 13}, {true, 1, 18}, {false, 2, 26}, {true, 2, 36},
                                                {false, 3, 39}, {true, 3, 54}, {false, 4, 52}, {true, 4, 72}};
    const double target = 13.0 * scale;
    const Candidate* best = &kCandidates[0];
    for (const Candidate& c : kCandidates)
        if (std::fabs(c.size - target) < std::fabs(best->size - target)) best = &c;
    factor = best->factor;
    return best->large ? mono18() : mono13();
}

void Canvas::drawText(int32_t x, int32_t y, const char* text, Color c, const Font& font, int scale) {
    if (text == nullptr || *text == 0) return;
    const blend::Box clipB = blend::clipBox(*this);
    const uint32_t px = pixelOf(c), alpha = c >> 24;
    const bool drawable = font.advance >= 1 && font.height >= 1 && font.data != nullptr && alpha != 0 &&
                          scale > 0 && !clipB.empty();
    const int64_t step = int64_t(font.advance) * scale;
    thread_local std::vector<uint8_t> weights;
    if (drawable) weights.resize(size_t(font.advance));
    int64_t pen = x;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p, pen += step) {
        const unsigned b = *p;
        if (!drawable || b < 32 || b > 126) continue;
        const uint8_t* glyph = font.data + size_t(b - 32) * size_t(font.advance) * size_t(font.height);
        if (scale == 1) {
            // Columns of this cell inside the clip, blended as one run per row.
            const int64_t c0 = std::max<int64_t>(0, clipB.x0 - pen);
            const int64_t c1 = std::min<int64_t>(font.advance, clipB.x1 - pen);
            if (c1 <= c0) continue;
            for (int64_t r = 0; r < font.height; ++r) {
                const int64_t row = int64_t(y) + r;
                if (row < clipB.y0 || row >= clipB.y1) continue;
                const uint8_t* cov = glyph + r * font.advance;
                bool any = false;
                for (int64_t col = c0; col < c1; ++col) {
                    weights[size_t(col)] = uint8_t((cov[col] * alpha + 127) / 255);
                    any = any || weights[size_t(col)] != 0;
                }
                if (any) blend::maskOver(pixels.data() + row * width + pen + c0, weights.data() + c0, c1 - c0, px);
            }
            continue;
        }
        for (int64_t r = 0; r < font.height; ++r) {
            for (int64_t col = 0; col < font.advance; ++col) {
                const uint32_t v = glyph[r * font.advance + col];
                if (v == 0) continue;
                const uint32_t a = (v * alpha + 127) / 255;
                if (a == 0) continue;
                const blend::Box cell =
                    blend::Box::xywh(pen + col * scale, int64_t(y) + r * scale, scale, scale).intersect(clipB);
                if (cell.empty()) continue;
                blend::fillClipped(*this, cell, px, a);
            }
        }
    }
}

}  // namespace lumo::gui
