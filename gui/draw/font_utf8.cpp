#include "gui/draw/font_utf8.h"

#include <array>

namespace lumo::gui {

char32_t nextChar(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    // Length and the range the second byte must fall in (which rules out overlong forms, surrogates
    // and values past U+10FFFF); the later bytes are plain continuations.
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    char32_t c = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, c = b0 & 0x0F;
        lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, c = b0 & 0x07;
        lo = b0 == 0xF0 ? 0x90 : 0x80, hi = b0 == 0xF4 ? 0x8F : 0xBF;
    }
    size_t k = 1;
    for (; len != 0 && k < len; ++k) {
        if (i + k >= text.size()) break;
        const unsigned char b = byte(i + k);
        if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) break;
        c = c << 6 | (b & 0x3F);
    }
    if (len != 0 && k == len) {
        i += len;
        return c;
    }
    // One mark for the lead byte and the continuations that fitted it.
    i += k;
    return kReplacementChar;
}

std::string utf8Of(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        if (c >= 0xD800 && c <= 0xDFFF) return out;
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else if (c <= 0x10FFFF) {
        out += char(0xF0 | c >> 18);
        out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
    return out;
}

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

const char* latinBase(char32_t c) {
    // From U+00C0 to U+017F: the plain letter of each character, '*' where it stands for two
    // letters (kPairs) and '-' where it is no letter (the signs of multiplication and division).
    static constexpr char kLetters[] =
        "AAAAAA*CEEEEIIIIDNOOOOO-OUUUUY**"
        "aaaaaa*ceeeeiiiidnooooo-ouuuuy*y"
        "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi**JjKkkLlLlLlLlLlNnNnNnnNnOoOoOo**"
        "RrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs";
    static_assert(sizeof kLetters == 0x180 - 0xC0 + 1);
    struct Pair {
        char32_t c;
        const char* letters;
    };
    static constexpr Pair kPairs[] = {{0xC6, "AE"}, {0xDE, "TH"}, {0xDF, "ss"}, {0xE6, "ae"},  {0xFE, "th"},
                                      {0x132, "IJ"}, {0x133, "ij"}, {0x152, "OE"}, {0x153, "oe"}};
    // One NUL-terminated letter per character, made once.
    static const std::array<std::array<char, 2>, 0xC0> kSingle = [] {
        std::array<std::array<char, 2>, 0xC0> out{};
        for (size_t k = 0; k < out.size(); ++k) out[k] = {kLetters[k], 0};
        return out;
    }();
    if (c < 0xC0 || c > 0x17F) return nullptr;
    const char letter = kLetters[c - 0xC0];
    if (letter == '-') return nullptr;
    if (letter != '*') return kSingle[c - 0xC0].data();
    for (const Pair& p : kPairs)
        if (p.c == c) return p.letters;
    return nullptr;
}

std::string foldedKey(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    auto upperAscii = [](char ch) { return ch >= 'a' && ch <= 'z' ? char(ch - 'a' + 'A') : ch; };
    for (size_t i = 0; i < text.size();) {
        const char32_t c = nextChar(text, i);
        if (c < 0x80)
            out += upperAscii(char(c));
        else if (const char* base = latinBase(c))
            for (; *base; ++base) out += upperAscii(*base);
        else
            out += utf8Of(c);
    }
    return out;
}

}  // namespace lumo::gui
