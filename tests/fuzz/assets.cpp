// AssetPack and Assets loading from an index JSON and a blob (input: index NUL blob), then every
// sprite and font of the pack drawn onto a small canvas. Loaded on demand, the same table gives the
// same pack, sizes first.
#include <cstddef>
#include <cstdint>
#include <string>

#include "gui/draw/assets.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumo::gui;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto parts = fuzzsupport::splitNul(data, size, 2);
    const std::string& index = parts[0];
    const std::string& blob = parts[1];
    const lumo::EmbeddedFile table[] = {
        {"1x.json", reinterpret_cast<const uint8_t*>(index.data()), index.size()},
        {"1x.pack", reinterpret_cast<const uint8_t*>(blob.data()), blob.size()},
        {"layout.json", reinterpret_cast<const uint8_t*>(index.data()), index.size()},
        {"other.json", reinterpret_cast<const uint8_t*>(blob.data()), blob.size()},
    };
    Assets assets;
    assets.load(table, 4);
    const AssetPack& pack = assets.pack(1.0);

    Canvas c;
    c.resize(32, 24);
    for (const auto& [name, sprite] : pack.sprites) {
        pack.draw(c, name, 1, 2);
        pack.drawAt(c, name, -3, 4, 100);
        pack.drawStretched(c, name, Rect{2, 2, 28, 20}, 3, 2);
        drawNineSlice(c, pack, name, Rect{0, 0, 30, 22}, NineSlice{1, 2, 3, 4, 1, 1, true}, 1.5);
        drawNineSlice(c, pack, name, Rect{0, 0, 30, 22}, NineSlice{5, 5, 5, 5, 0, 0, false}, 2.0);
    }
    for (const auto& [name, font] : pack.fonts) {
        const std::string text = "Ag &Quit... \x7f\xff";
        const Color tint = 0xFF336699u;
        font.draw(c, 1, 12, text, nullptr);
        font.draw(c, -5, 20, text, &tint);
        font.drawMnemonic(c, 0, 10, text, 3, tint);
        int left = 0, right = 0;
        font.inkExtent(text, left, right);
        (void)font.fit(text, 20);
        (void)font.width(text);
    }
    (void)spriteCursor(assets, pack.sprites.empty() ? "x" : pack.sprites.begin()->first, 16, 16);

    Assets lazy;
    lazy.loadOnDemand(table, 4);
    const auto [w, h] = lazy.pageSize(1.0);
    const AssetPack& later = lazy.pack(1.0);
    if (!assets.packs.empty() && !lazy.packs.empty() &&
        (w != pack.width || h != pack.height || later.images.size() != pack.images.size() ||
         later.sprites.size() != pack.sprites.size() || later.fonts.size() != pack.fonts.size()))
        __builtin_trap();
    return 0;
}
