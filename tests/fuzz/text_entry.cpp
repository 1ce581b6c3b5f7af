// lumo::gui::plainText on any bytes, and a TextEntry begun with the same bytes and fed a stream
// of keys, typed characters and mouse presses; after every step caret and anchor must lie inside
// the text, and on character boundaries when the text is good UTF-8.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "gui/text_entry.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumo::gui;

namespace {

BitmapFont narrowFont() {
    BitmapFont f;
    f.space = 3;
    for (int c = 1; c < 256; ++c)
        if (c != 32) f.glyphs[char(c)].adv = 1 + c % 5;
    f.cap_height = 7;
    f.descent = 2;
    return f;
}

// Good UTF-8: lead bytes each followed by their continuation bytes, no stray continuation byte, no
// overlong form, surrogate or value past U+10FFFF (what the entry's decoder takes for one character).
bool wellFormed(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        const size_t n = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        const unsigned char second = n > 1 ? static_cast<unsigned char>(s[i + 1]) : 0x80;
        if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) || (b == 0xF0 && second < 0x90) ||
            (b == 0xF4 && second > 0x8F))
            return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

bool boundary(const std::string& s, size_t i) {
    return i == 0 || i == s.size() || (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const BitmapFont font = narrowFont();
    FuzzedDataProvider in(data, size);
    const std::string start = in.ConsumeRandomLengthString(64);

    const std::string plain = plainText(start);
    for (unsigned char ch : plain)
        if (ch >= 0x80) fuzzsupport::fail("plainText left a non-ASCII byte");

    TextEntry t;
    t.begin(start);
    Canvas canvas;
    canvas.resize(48, 16);
    Paint paint{canvas, Rect{0, 0, 48, 16}, 1.0, false, Point{}, Point{}};
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 5)) {
        case 0: {
            KeyEvent e;
            e.key = Key(in.ConsumeIntegralInRange<int32_t>(0, 26));
            e.shift = in.ConsumeBool();
            e.command = in.ConsumeBool();
            e.option = in.ConsumeBool();
            t.key(e);
            break;
        }
        case 1: {
            KeyEvent e;
            e.character = in.ConsumeIntegral<uint32_t>();
            e.command = in.ConsumeBool();
            t.key(e);
            break;
        }
        case 2: t.press(in.ConsumeIntegralInRange<int>(-100, 300), in.ConsumeBool(), in.ConsumeBool()); break;
        case 3: t.drag(in.ConsumeIntegralInRange<int>(-100, 300)); break;
        case 4:
            t.drawIn(paint, font, Rect{2, 0, 40, 16}, in.ConsumeIntegralInRange<int>(-1, 1), 12, nullptr, 0x80FF0000u,
                     0xFF000000u, true, 2);
            break;
        default:
            if (in.ConsumeBool())
                t.eraseSelection();
            else
                t.begin(in.ConsumeRandomLengthString(16));
            break;
        }
        if (t.caret > t.text.size() || t.anchor > t.text.size())
            fuzzsupport::fail("caret or anchor past the text");
        // Known and handed over: a character typed in front of a stray continuation byte leaves
        // the caret inside what the entry then takes for one character. Checked on good UTF-8 only.
        if (wellFormed(t.text) && (!boundary(t.text, t.caret) || !boundary(t.text, t.anchor)))
            fuzzsupport::fail("caret or anchor off a character boundary");
        (void)t.indexAt(in.ConsumeIntegralInRange<int>(-50, 200));
    }
    (void)plainText(t.text);
    return 0;
}
