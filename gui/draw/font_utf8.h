#pragma once
// UTF-8 as the bitmap fonts read it: one character at a time, every byte that does not start a
// well-formed sequence read as the replacement character; the plain letters an accented Latin letter
// stands for; and a case- and accent-folded key that sorts names as a reader expects.
#include <cstddef>
#include <string>
#include <string_view>

namespace lumo::gui {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// The character starting at byte i, moving i past it. A byte that does not start a well-formed
// sequence (a stray continuation, a cut or overlong sequence, a surrogate, a value past U+10FFFF)
// gives kReplacementChar and moves i by one byte only. i must be below text.size().
char32_t nextChar(std::string_view text, size_t& i);

// The character's UTF-8 bytes; empty for a value that is no character.
std::string utf8Of(char32_t c);

// Characters drawn as one space: the C0 and C1 controls and DEL.
bool isControl(char32_t c);

// The ASCII letters an accented or special Latin letter of Latin-1 Supplement and Latin Extended-A
// stands for ("E" for "É", "AE" for "Æ", "ss" for "ß"), keeping its case; null for any other character.
const char* latinBase(char32_t c);

// The text with accents taken off Latin letters and ASCII letters upper-cased, other characters as
// they are: "Ünïcode" gives "UNICODE". Compared bytewise, such keys put names in a reader's order.
std::string foldedKey(std::string_view text);

}  // namespace lumo::gui
