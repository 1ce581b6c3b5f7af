#pragma once
// The software drawing surface: colours, rectangles, decoded bitmaps, the canvas with its clip and the
// one blend rule every drawing call shares, and the two built-in monospaced fonts for canvas text.
// Drawing calls never fail: everything is clipped and empty or degenerate input draws nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumo::gui {

// A colour: red in bits 0-7, green 8-15, blue 16-23, alpha 24-31 (0xAABBGGRR), straight alpha.
using Color = uint32_t;

// Canvas and bitmap pixels are 0xAARRGGBB, straight alpha: a colour becomes a pixel by exchanging
// its red and blue bytes (the same exchange turns a pixel back into a colour).
constexpr uint32_t pixelOf(Color c) {
    return (c & 0xFF00FF00u) | ((c & 0xFFu) << 16) | ((c >> 16) & 0xFFu);
}

// Covers columns x to x + w - 1 and rows y to y + h - 1; empty when w <= 0 or h <= 0.
struct Rect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t w = 0;
    int32_t h = 0;

    bool empty() const { return w <= 0 || h <= 0; }
};

// A decoded image: w x h pixels (0xAARRGGBB), row-major, top row first, no padding.
// The empty bitmap (w or h 0, no pixels) is what every failed load yields.
struct Bitmap {
    int32_t w = 0;
    int32_t h = 0;
    std::vector<uint32_t> pixels;

    bool empty() const { return w < 1 || h < 1; }

    // PNG only, at most 2^25 pixels; anything else gives the empty bitmap.
    static Bitmap loadFile(const std::string& path);
    static Bitmap loadMemory(const void* data, size_t size);
};

// One vertical bar for Canvas::fillColumns.
struct ColumnFill {
    int32_t x = 0;
    int32_t w = 0;
    Color color = 0;
};

// A built-in monospaced font: advance x height cells of 8-bit coverage for the codes 32 to 126,
// glyph g starting at byte (code - 32) * advance * height.
struct Font {
    int32_t advance = 0;
    int32_t height = 0;
    const uint8_t* data = nullptr;

    static const Font& mono13();  // 7 x 14 cells
    static const Font& mono18();  // 10 x 19 cells
    // The font and integer magnification (1 to 4) whose pixel size is nearest 13 x scale.
    static const Font& forScale(double scale, int& factor);
};

// The drawing surface. Whoever sizes it keeps clip and area inside (0, 0, width, height);
// drawing tests against the clip only.
struct Canvas {
    int32_t width = 0;  // pixels per row, also the row stride
    int32_t height = 0;
    std::vector<uint32_t> pixels;
    Rect clip;  // the only area drawing may change
    Rect area;  // what clear() fills and resets the clip to

    // Sizes the canvas: all pixels zero, clip = area = the whole surface.
    void resize(int32_t w, int32_t h);

    void blendPixel(int32_t x, int32_t y, Color c);
    void clear(Color c);
    void fillRect(Rect r, Color c);
    void strokeRect(Rect r, Color c, int32_t t);
    void hline(int32_t x0, int32_t x1, int32_t y, Color c);
    void vline(int32_t x, int32_t y0, int32_t y1, Color c);
    void line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, Color c);
    void fillColumns(const ColumnFill* bars, size_t count, int32_t y, int32_t h);
    void fillCircle(int32_t cx, int32_t cy, int32_t r, Color c);
    void fillRoundRect(Rect r, int32_t radius, Color c);
    void drawBitmap(const Bitmap& bitmap, int32_t x, int32_t y, int32_t scale = 1, uint8_t opacity = 255);
    void drawBitmapRegion(const Bitmap& bitmap, Rect src, int32_t x, int32_t y, int32_t scale = 1,
                          uint8_t opacity = 255);
    void drawBitmapScaled(const Bitmap& bitmap, Rect src, Rect dst, uint8_t opacity = 255);
    void drawBitmapTinted(const Bitmap& bitmap, int32_t x, int32_t y, Color c);

    // ASCII text in a built-in font, first cell's top-left at (x, y), each font pixel scale x scale.
    void drawText(int32_t x, int32_t y, const char* text, Color c, const Font& font, int scale = 1);
};

// The blend rule for one pixel: source (r, g, b) of colour c with weight a (0..255) over pixel d.
// a = 0 keeps d; a = 255 gives the colour opaque; else each channel is (D(255-a) + s a + 127) / 255
// and alpha a + (A(255-a) + 127) / 255.
uint32_t blendRule(uint32_t d, Color c, uint32_t a);

}  // namespace lumo::gui
