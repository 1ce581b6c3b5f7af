#include <gtest/gtest.h>

#include "gui/draw/canvas.h"
#include "tests/support/png.h"
#include "tests/support/temp_home.h"

using lumo::gui::Bitmap;

TEST(Bitmap, DecodesPngIntoArgb) {
    const std::string png = testsupport::encodePng(2, 1, {0x80112233u, 0xFF0000FFu});
    ASSERT_FALSE(png.empty());
    const Bitmap bm = Bitmap::loadMemory(png.data(), png.size());
    ASSERT_EQ(bm.w, 2);
    ASSERT_EQ(bm.h, 1);
    EXPECT_EQ(bm.pixels[0], 0x80112233u);
    EXPECT_EQ(bm.pixels[1], 0xFF0000FFu);
}

TEST(Bitmap, AnythingButAGoodPngIsEmpty) {
    const std::string png = testsupport::encodePng(3, 3, std::vector<uint32_t>(9, 0xFFFFFFFFu));
    // Headers of formats the decoder could read if they were not left out.
    const std::string bmp = std::string("BM") + std::string(60, '\0');
    const std::string gif = "GIF89a\x01\x00\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";
    const std::string ppm = "P6 1 1 255\n\xff\xff\xff";
    // An empty data chunk first, cut short: the decoder copied zero bytes into a null buffer.
    const char emptyData[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0 \t\0\0\0\x03\x01\0\0\0\0\0\0\0\0\0\0\0\0IDAT";
    // A second data chunk claiming 2 GiB: refused without the decoder allocating for it.
    const char hugeChunk[] =
        "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89\0\0\0\rIDATx^c"
        "\xf8\xcf\xc0V\0\0\0`\xb0\0\0\x03\xbf\x31{\x92\0\rIDAT";
    const std::string cases[] = {"", "not a picture", bmp, gif, ppm, png.substr(0, png.size() / 2),
                                 std::string(emptyData, sizeof emptyData - 1),
                                 std::string(hugeChunk, sizeof hugeChunk - 1)};
    for (const std::string& c : cases) {
        const Bitmap bm = Bitmap::loadMemory(c.data(), c.size());
        EXPECT_EQ(bm.w, 0);
        EXPECT_TRUE(bm.pixels.empty());
    }
    EXPECT_TRUE(Bitmap::loadMemory(nullptr, 10).pixels.empty());
}

// A header claiming more than 2^25 pixels is refused before the decoder allocates for it; a small
// picture of the same kind decodes.
TEST(Bitmap, RefusesHugePictures) {
    const std::string fits = testsupport::encodeBlankPng(16384, 2);
    const std::string huge = testsupport::encodeBlankPng(8192, 4097);
    ASSERT_FALSE(huge.empty());
    EXPECT_LT(huge.size(), 100000u);
    const Bitmap ok = Bitmap::loadMemory(fits.data(), fits.size());
    EXPECT_EQ(ok.w, 16384);
    EXPECT_EQ(ok.pixels[0], 0xFF000000u);
    const Bitmap refused = Bitmap::loadMemory(huge.data(), huge.size());
    EXPECT_EQ(refused.w, 0);
    EXPECT_TRUE(refused.pixels.empty());
}

TEST(Bitmap, LoadsFiles) {
    testsupport::TempHome temp;
    const std::string png = testsupport::encodePng(1, 2, {0xFF010203u, 0x00000000u});
    ASSERT_TRUE(testsupport::writeFile(temp.path("a.png"), png));
    const Bitmap bm = Bitmap::loadFile(temp.path("a.png"));
    EXPECT_EQ(bm.h, 2);
    EXPECT_EQ(bm.pixels[0], 0xFF010203u);
    EXPECT_EQ(Bitmap::loadFile(temp.path("missing.png")).w, 0);
    EXPECT_EQ(Bitmap::loadFile(temp.dir()).w, 0);  // a folder
}
