// Bitmap::loadMemory on any bytes; a picture that decodes is drawn every way onto a small canvas.
#include <cstddef>
#include <cstdint>

#include "gui/draw/canvas.h"
#include "tests/fuzz/fuzz_support.h"

using namespace lumo::gui;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bitmap bm = Bitmap::loadMemory(data, size);
    if (bm.empty()) {
        if (!bm.pixels.empty() || bm.w != 0 || bm.h != 0) fuzzsupport::fail("a failed load is not the empty bitmap");
        return 0;
    }
    if (bm.pixels.size() != size_t(bm.w) * size_t(bm.h)) fuzzsupport::fail("pixel count and size disagree");
    Canvas c;
    c.resize(24, 16);
    c.drawBitmap(bm, -3, -2);
    c.drawBitmap(bm, 5, 4, 3, 128);
    c.drawBitmapRegion(bm, Rect{1, 1, bm.w, bm.h}, 2, 2, 2);
    c.drawBitmapScaled(bm, Rect{0, 0, bm.w, bm.h}, Rect{1, 1, 22, 14}, 200);
    c.drawBitmapTinted(bm, 0, 0, 0xFF00FF00u);
    return 0;
}
