// The toolkit's bitmap fonts with any text: measuring, ink extents, fitting, mnemonics and
// drawing onto a small canvas at every pack scale.
#include <cstddef>
#include <cstdint>
#include <string>

#include "gui/draw/bitmapfont.h"
#include "gui/fonts.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumo::gui;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const Assets& fonts = lumoFonts();
    const int8_t where = int8_t(data[0]);
    const int8_t width = int8_t(data[1]);
    const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

    Canvas c;
    c.resize(40, 20);
    c.clip = Rect{2, 1, 30, 17};
    const Color tint = 0xFF204080u;
    for (double scale : fonts.scales()) {
        const AssetPack& pack = fonts.pack(scale);
        for (const auto& [name, font] : pack.fonts) {
            (void)font.width(text);
            int left = 0, right = 0;
            font.inkExtent(text, left, right);
            if (left > right) fuzzsupport::fail("ink extent left of its start");
            const std::string fitted = font.fit(text, width);
            if (fitted != text && !fitted.empty() && font.width(fitted) > width) fuzzsupport::fail("fit answered a text too wide");
            font.draw(c, where, 12, text, nullptr);
            font.draw(c, -where, where, text, &tint);
            int index = -1;
            const std::string plain = stripMnemonic(text, index);
            if (index >= int(plain.size())) fuzzsupport::fail("mnemonic index past the text");
            font.drawMnemonic(c, 1, 14, plain, index, tint);
            font.drawMnemonic(c, 1, 14, text, where, tint);
        }
    }
    return 0;
}
