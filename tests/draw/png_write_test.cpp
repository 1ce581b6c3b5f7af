#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gui/draw/canvas.h"
#include "gui/draw/png_write.h"

using lumo::gui::Bitmap;
using lumo::gui::encodePng;

TEST(PngWrite, RoundTripsThroughTheDecoder) {
    // Every channel on its own, alpha from clear to opaque (colour kept under zero alpha too), and
    // sizes that are not a multiple of anything.
    std::vector<uint32_t> mixed;
    for (uint32_t i = 0; i < 17 * 5; ++i) mixed.push_back((i * 0x01030507u) ^ (i << 24));
    const struct {
        int w, h;
        std::vector<uint32_t> argb;
    } table[] = {
        {1, 1, {0x00FFFFFFu}},
        {3, 1, {0xFF0000FFu, 0x8000FF00u, 0x01FF0000u}},
        {1, 2, {0xFF010203u, 0x00000000u}},
        {17, 5, mixed},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const std::string png = encodePng(c.w, c.h, c.argb);
        const Bitmap back = Bitmap::loadMemory(png.data(), png.size());
        EXPECT_EQ(back.w, c.w);
        EXPECT_EQ(back.h, c.h);
        EXPECT_EQ(back.pixels, c.argb);
    }
    lumo::gui::Canvas canvas;
    canvas.resize(4, 3);
    canvas.clear(0xFF112233u);
    const std::string png = encodePng(canvas);
    EXPECT_EQ(Bitmap::loadMemory(png.data(), png.size()).pixels, canvas.pixels);
}

TEST(PngWrite, NothingForSizesThatDoNotAgree) {
    EXPECT_TRUE(encodePng(0, 1, {}).empty());
    EXPECT_TRUE(encodePng(2, 2, {0xFF000000u}).empty());
    EXPECT_TRUE(encodePng(-1, -1, {0xFF000000u}).empty());
    EXPECT_TRUE(encodePng(lumo::gui::Canvas{}).empty());
}
