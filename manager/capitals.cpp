// Capitals of ASCII letters and of the Latin letters the fonts carry (Latin-1 Supplement and Latin
// Extended-A); other characters as they are.
#include "manager/capitals.h"

#include <cctype>

#include "gui/draw/font_utf8.h"

namespace tqapp {
namespace {

// The capital of a small Latin letter of Latin-1 Supplement and Latin Extended-A; other characters
// as they are ("ß" and "ĸ" have no capital of their own).
char32_t latinCapital(char32_t c) {
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c == 0x131) return U'I';
    if (c == 0x17F) return U'S';
    const bool oddIsSmall = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool evenIsSmall = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((oddIsSmall && c % 2 == 1) || (evenIsSmall && c % 2 == 0)) return c - 1;
    return c;
}

}  // namespace

std::string upper(std::string s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const size_t at = i;
        const char32_t c = lumo::gui::nextChar(s, i);
        if (c < 0x80)
            out += char(std::toupper(int(c)));
        else if (c == lumo::gui::kReplacementChar)
            out.append(s, at, i - at);  // bytes that are no UTF-8 stay as they are
        else
            out += lumo::gui::utf8Of(latinCapital(c));
    }
    return out;
}

}  // namespace tqapp
