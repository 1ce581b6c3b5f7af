#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "gui/draw/assets.h"
#include "tests/draw/draw_support.h"
#include "tests/support/png.h"

using namespace lumo::gui;
using namespace drawtest;
using lumo::EmbeddedFile;
using lumo::Json;

namespace {

// A pack blob of PNGs one after another, with the "[offset, length]" text of each.
struct Blob {
    std::string bytes;
    std::string add(int w, int h, const std::vector<uint32_t>& argb) {
        const std::string png = testsupport::encodePng(w, h, argb);
        const std::string entry = "[" + std::to_string(bytes.size()) + ", " + std::to_string(png.size()) + "]";
        bytes += png;
        return entry;
    }
    std::string solid(int w, int h, uint32_t p) { return add(w, h, std::vector<uint32_t>(size_t(w) * size_t(h), p)); }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(bytes.data()); }
};

// A 3 x 3 grid of cells of cw x ch pixels with a different colour in each cell.
uint32_t cellColour(int col, int row) { return 0xFF000000u | uint32_t(row * 3 + col + 1) * 0x111111u; }
std::vector<uint32_t> gridPixels(int cw, int ch) {
    std::vector<uint32_t> out(size_t(9 * cw * ch));
    for (int y = 0; y < 3 * ch; ++y)
        for (int x = 0; x < 3 * cw; ++x) out[size_t(y * 3 * cw + x)] = cellColour(x / cw, y / ch);
    return out;
}

EmbeddedFile row(const char* name, const std::string& data) {
    return EmbeddedFile{name, reinterpret_cast<const uint8_t*>(data.data()), data.size()};
}

}  // namespace

TEST(AssetPack, FileEntriesOutsideTheBlobAreRefused) {
    Blob blob;
    const std::string ok = blob.solid(2, 2, 0xFF00FF00u);
    const size_t n = blob.bytes.size();
    blob.bytes += "not a png at all";
    const std::string index = "{\"files\": {\"ok\": " + ok + ", \"frac\": [0.9, " + std::to_string(n) + "]," +
                              "\"past\": [1, " + std::to_string(n + 16) + "], \"neg\": [-1, 10], \"huge\": [0, 1e30]," +
                              "\"zero\": [0, 0], \"text\": [\"0\", 10], \"one\": [0], \"obj\": {}, \"nan\": [0, -0.5]," +
                              "\"garbage\": [" + std::to_string(n) + ", 16], \"end\": [" + std::to_string(n + 16) + ", 0]}}";
    AssetPack pack;
    EXPECT_TRUE(pack.load(Json::parse(index), blob.data(), blob.bytes.size()));
    std::vector<std::string> names;
    for (const auto& [name, bm] : pack.images) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"frac", "ok"}));
    ASSERT_NE(pack.image("ok"), nullptr);
    EXPECT_EQ(pack.image("ok")->pixels[0], 0xFF00FF00u);
    EXPECT_EQ(pack.image("missing"), nullptr);

    // [10, 5] in a 12-byte blob: 12 - 10 < 5.
    const std::string twelve(12, 'x');
    AssetPack small;
    EXPECT_FALSE(small.load(Json::parse("{\"files\": {\"a\": [10, 5]}}"), reinterpret_cast<const uint8_t*>(twelve.data()), 12));
    AssetPack none;
    EXPECT_FALSE(none.load(Json::parse("{\"files\": {\"a\": [0, 4]}}"), nullptr, 100));
}

TEST(AssetPack, IntegerRule) {
    struct Case {
        const char* json;
        int32_t want;
    };
    const Case cases[] = {{"2.5", 3},          {"-2.5", -3},         {"2.4", 2},       {"-0.4", 0},
                          {"1e12", INT32_MAX}, {"-1e12", INT32_MIN}, {"\"7\"", 11},    {"null", 11},
                          {"true", 11},        {"2147483646.6", INT32_MAX}, {"-2147483648.4", INT32_MIN}};
    for (const Case& c : cases) EXPECT_EQ(jsonInt(Json::parse(std::string("[") + c.json + "]")[0], 11), c.want) << c.json;

    AssetPack pack;
    Blob blob;
    const std::string img = blob.solid(1, 1, 0xFFFFFFFFu);
    pack.load(Json::parse("{\"scale\": 1.25, \"width\": 2.5, \"height\": \"x\", \"files\": {\"i\": " + img + "}}"),
              blob.data(), blob.bytes.size());
    EXPECT_EQ(pack.scale, 1.25);
    EXPECT_EQ(pack.width, 3);
    EXPECT_EQ(pack.height, 0);
    EXPECT_EQ(pack.text_scale, 1);

    const Rect r = jsonRect(Json::parse("[1.5, -2.5, \"w\"]"));
    EXPECT_EQ(r.x, 2);
    EXPECT_EQ(r.y, -3);
    EXPECT_EQ(r.w, 0);
    EXPECT_EQ(r.h, 0);
    EXPECT_EQ(jsonRect(Json::parse("{\"x\": 1}")).x, 0);
}

TEST(AssetPack, SpritesArePlaced) {
    Blob blob;
    const std::string img = blob.solid(2, 1, 0xFFFF0000u);
    AssetPack pack;
    pack.load(Json::parse("{\"files\": {\"dot\": " + img + "}, \"sprites\": {\"s\": {\"x\": 3, \"y\": 4, \"image\": \"dot\"}," +
                          "\"ghost\": {\"image\": \"nothing\"}, \"odd\": 5}}"),
              blob.data(), blob.bytes.size());
    ASSERT_NE(pack.sprite("ghost"), nullptr);
    EXPECT_EQ(pack.sprite("ghost")->image, nullptr);
    ASSERT_NE(pack.sprite("odd"), nullptr);
    EXPECT_EQ(pack.sprite("odd")->x, 0);

    Canvas cv = makeCanvas(10, 10);
    pack.draw(cv, "s", 1, 1);
    EXPECT_EQ(px(cv, 4, 5), 0xFFFF0000u);
    EXPECT_EQ(px(cv, 5, 5), 0xFFFF0000u);
    EXPECT_EQ(countNot(cv, 0), 2);
    cv = makeCanvas(10, 10);
    pack.drawAt(cv, "s", 1, 1, 255);
    EXPECT_EQ(px(cv, 1, 1), 0xFFFF0000u);
    EXPECT_EQ(countNot(cv, 0), 2);
    pack.draw(cv, "ghost", 0, 0);
    pack.draw(cv, "missing", 0, 0);
    pack.draw(cv, "s", INT32_MAX, INT32_MAX);
    EXPECT_EQ(countNot(cv, 0), 2);
}

TEST(NineSlice, FixedCornersStretchEdgesAndCentre) {
    Bitmap grid = makeBitmap(6, 6);
    grid.pixels = gridPixels(2, 2);
    Canvas cv = makeCanvas(12, 10);
    drawNineSlice(cv, grid, Rect{1, 1, 10, 8}, 2, 2);
    // Columns [1,3) [3,9) [9,11); rows [1,3) [3,7) [7,9).
    const int xs[] = {1, 5, 10}, ys[] = {1, 5, 8};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(px(cv, xs[c], ys[r]), cellColour(c, r)) << c << "," << r;
    EXPECT_EQ(px(cv, 0, 0), 0u);
    EXPECT_EQ(px(cv, 11, 9), 0u);

    // 20 x 20 with corners 8 into 10 x 30: cx = 5 (half the destination), cy = 8, no middle column.
    Bitmap big = makeBitmap(20, 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) big.pixels[size_t(y * 20 + x)] = 0xFF000000u | uint32_t(x) << 8 | uint32_t(y);
    cv = makeCanvas(10, 30);
    drawNineSlice(cv, big, Rect{0, 0, 10, 30}, 8, 8);
    EXPECT_EQ(px(cv, 4, 0), 0xFF000400u);   // left corner keeps source column 4
    EXPECT_EQ(px(cv, 5, 0), 0xFF000F00u);   // right corner starts at source column 15
    EXPECT_EQ(px(cv, 0, 7), 0xFF000007u);
    EXPECT_EQ(px(cv, 0, 22), 0xFF00000Cu);  // bottom corner starts at source row 12
    EXPECT_EQ(countNot(cv, 0), 300);  // every pixel drawn
}

TEST(NineSlice, InsetsAtTwoScales) {
    // Insets 10/10 at source scale 2 on a 30-wide bitmap: 20 + 20 > 30, so 15 and 15.
    Bitmap halves = makeBitmap(30, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 30; ++x) halves.pixels[size_t(y * 30 + x)] = x < 15 ? 0xFFFF0000u : 0xFF0000FFu;
    Canvas cv = makeCanvas(40, 4);
    NineSlice slice{10, 0, 10, 0, 0, 0, true};
    drawNineSlice(cv, halves, Rect{0, 0, 40, 4}, slice, 2.0, 1.0);
    EXPECT_EQ(px(cv, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(px(cv, 9, 3), 0xFFFF0000u);
    EXPECT_EQ(px(cv, 15, 0), 0u);  // the middle column has no source width
    EXPECT_EQ(px(cv, 30, 0), 0xFF0000FFu);

    Bitmap grid = makeBitmap(9, 9);
    grid.pixels = gridPixels(3, 3);
    NineSlice hollow{3, 3, 3, 3, 0, 0, false};
    cv = makeCanvas(20, 20);
    drawNineSlice(cv, grid, Rect{0, 0, 20, 20}, hollow, 1.0, 1.0);
    EXPECT_EQ(px(cv, 10, 10), 0u);
    EXPECT_EQ(px(cv, 10, 1), cellColour(1, 0));
    EXPECT_EQ(px(cv, 19, 19), cellColour(2, 2));

    cv = makeCanvas(20, 20);
    drawNineSlice(cv, grid, Rect{0, 0, 20, 20}, hollow, 0.0, 1.0);
    drawNineSlice(cv, grid, Rect{0, 0, 20, 20}, hollow, 1.0, std::nan(""));
    EXPECT_EQ(countNot(cv, 0), 0);
}

TEST(NineSlice, TilesRepeatInsideTheCellAndRestoreTheClip) {
    // A 3 x 3 source whose top-middle cell has two columns: red then blue.
    Bitmap src = makeBitmap(4, 3, 0xFF000000u);
    src.pixels[1] = 0xFFFF0000u;
    src.pixels[2] = 0xFF0000FFu;
    NineSlice tiled{1, 1, 1, 1, 1, 1, true};
    Canvas cv = makeCanvas(12, 6);
    cv.area = Rect{0, 0, 12, 6};
    cv.clip = Rect{0, 0, 11, 6};
    drawNineSlice(cv, src, Rect{0, 0, 12, 6}, tiled, 1.0, 1.0);
    // Top edge [1, 11) tiled with 2-wide tiles, cut at the right by the cell and the clip.
    for (int x = 1; x < 11; ++x) EXPECT_EQ(px(cv, x, 0), (x % 2) ? 0xFFFF0000u : 0xFF0000FFu) << x;
    EXPECT_EQ(px(cv, 11, 0), 0u);  // outside the clip
    EXPECT_EQ(cv.clip.w, 11);
    EXPECT_EQ(cv.clip.h, 6);
}

TEST(Assets, TableOfPacks) {
    Blob b1, b15, b2, bEmpty;
    const std::string i1 = b1.solid(1, 1, 0xFF000001u), i15 = b15.solid(1, 1, 0xFF000015u), i2 = b2.solid(2, 2, 0xFF000002u);
    const std::string j1 = "{\"scale\": 1, \"files\": {\"i\": " + i1 + "}, \"sprites\": {\"arrow\": {\"image\": \"i\"}}}";
    const std::string j15 = "{\"scale\": 1.5, \"files\": {\"i\": " + i15 + "}}";
    const std::string j2 = "{\"scale\": 2, \"files\": {\"i\": " + i2 + "}, \"sprites\": {\"arrow\": {\"image\": \"i\"}}}";
    const std::string jEmpty = "{\"scale\": 4, \"files\": {}}";
    const std::string layout = "{\"page\": [0, 0, 10, 10]}", extra = "{\"a\": 1}", stale = "{\"old\": 1}";
    const EmbeddedFile table[] = {
        row("2x.json", j2),        row("1x.pack", b1.bytes), row("1x.json", j1),       row("layout.json", layout),
        row("1.5x.json", j15),     row("1.5x.pack", std::string("wrong")), row("1.5x.pack", b15.bytes),
        row("2x.pack", b2.bytes),  row("4x.json", jEmpty),  row("4x.pack", bEmpty.bytes), row("lonely.json", extra),
        row(".json", extra),       EmbeddedFile{nullptr, nullptr, 0}};
    Assets assets;
    ASSERT_TRUE(assets.load(table, sizeof table / sizeof table[0]));
    EXPECT_EQ(assets.scales(), (std::vector<double>{1.0, 1.5, 2.0}));
    EXPECT_EQ(assets.pack(1.75).scale, 1.5);  // equal distance: the lower one
    EXPECT_EQ(assets.pack(0.1).scale, 1.0);
    EXPECT_EQ(assets.pack(9).scale, 2.0);
    EXPECT_EQ(assets.pack(1.5).image("i")->pixels[0], 0xFF000015u);  // the last "1.5x.pack" row wins
    EXPECT_EQ(assets.layout["page"][2].number, 10.0);
    EXPECT_EQ(assets.file("lonely.json")["a"].number, 1.0);
    EXPECT_TRUE(assets.file("1x.json").isNull());
    EXPECT_TRUE(assets.file(".json").isNull());
    EXPECT_TRUE(assets.file("missing").isNull());

    const CursorImage cursor = spriteCursor(assets, "arrow", 16, 16);
    ASSERT_EQ(cursor.images.size(), 2u);
    EXPECT_EQ(cursor.images[1].scale, 2.0);
    EXPECT_GT(cursor.id, 0u);
    EXPECT_TRUE(spriteCursor(assets, "nothing", 16, 16).images.empty());

    // Nearest of 1.2 and 1.25 for 1.3.
    Blob c;
    const std::string ci = c.solid(1, 1, 0xFFFFFFFFu);
    const std::string a = "{\"scale\": 1.2, \"files\": {\"i\": " + ci + "}}", bb = "{\"scale\": 1.25, \"files\": {\"i\": " + ci + "}}";
    const EmbeddedFile two[] = {row("1.2x.json", a), row("1.2x.pack", c.bytes), row("1.25x.json", bb), row("1.25x.pack", c.bytes)};
    ASSERT_TRUE(assets.load(two, 4));
    EXPECT_EQ(assets.pack(1.3).scale, 1.25);

    Assets empty;
    EXPECT_FALSE(empty.load(nullptr, 3));
    EXPECT_EQ(empty.pack(2.0).scale, 1.0);
    EXPECT_TRUE(empty.pack(2.0).images.empty());
    Canvas cv = makeCanvas(4, 4);
    empty.pack(1.0).draw(cv, "arrow", 0, 0);
    EXPECT_EQ(countNot(cv, 0), 0);
}

// A table the program keeps decodes a pack only when its scale is first asked for, and then answers
// as a table loaded at once does.
TEST(Assets, OnDemandDecodesOnlyThePacksAskedFor) {
    Blob b1, b2;
    const std::string i1 = b1.solid(1, 1, 0xFF000001u), i2 = b2.solid(2, 2, 0xFF000002u);
    const std::string j1 = "{\"scale\": 1, \"width\": 10, \"files\": {\"i\": " + i1 + "}, \"sprites\": {\"s\": {\"image\": \"i\"}}}";
    const std::string j2 = "{\"scale\": 2, \"width\": 20, \"files\": {\"i\": " + i2 + "}, \"sprites\": {\"s\": {\"image\": \"i\"}}}";
    const EmbeddedFile table[] = {row("2x.json", j2), row("2x.pack", b2.bytes), row("1x.json", j1), row("1x.pack", b1.bytes)};
    Assets lazy, eager;
    ASSERT_TRUE(lazy.loadOnDemand(table, 4));
    ASSERT_TRUE(eager.load(table, 4));
    EXPECT_EQ(lazy.scales(), eager.scales());
    for (const auto& p : lazy.packs) EXPECT_TRUE(p->images.empty()) << p->scale;
    EXPECT_EQ(lazy.pack(1.9).width, 20);
    EXPECT_EQ(lazy.packs[1]->images.size(), 1u);
    EXPECT_TRUE(lazy.packs[0]->images.empty());  // the 1x pack is still undecoded
    for (const double scale : {2.0, 1.0, 1.4, 3.0}) {
        const AssetPack &a = lazy.pack(scale), &b = eager.pack(scale);
        EXPECT_EQ(a.scale, b.scale) << scale;
        ASSERT_NE(a.sprite("s"), nullptr) << scale;
        ASSERT_NE(a.sprite("s")->image, nullptr) << scale;
        EXPECT_EQ(a.sprite("s")->image->pixels, b.sprite("s")->image->pixels) << scale;
    }
}

TEST(Assets, PackFontsMeasureFitAndDraw) {
    Blob blob;
    const std::string a = blob.solid(3, 5, 0xFFFFFFFFu), dot = blob.solid(1, 1, 0xFFFFFFFFu);
    const std::string index = "{\"files\": {\"a\": " + a + ", \"dot\": " + dot + "}, \"fonts\": {\"ui\": {\"space\": 2, "
                              "\"ascent\": 5.4, \"underline_pos\": 2, \"glyphs\": {"
                              "\"A\": {\"x\": 0, \"y\": -5, \"w\": 3, \"h\": 5, \"adv\": 4, \"image\": \"a\"},"
                              "\".\": {\"y\": -1, \"w\": 1, \"h\": 1, \"adv\": 2, \"image\": \"dot\"},"
                              "\"Q\": {\"adv\": 6, \"image\": \"unknown\"}, \"AB\": {\"adv\": 50}, \"\": {\"adv\": 50}}}}}";
    AssetPack pack;
    ASSERT_TRUE(pack.load(Json::parse(index), blob.data(), blob.bytes.size()));
    const BitmapFont* f = pack.font("ui");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(pack.font("other"), nullptr);
    EXPECT_EQ(f->glyphs.size(), 3u);
    EXPECT_EQ(f->ascent, 5);
    EXPECT_EQ(f->pixel_scale, 1);
    EXPECT_EQ(f->underline_size, 1);
    EXPECT_EQ(f->width("AQ A"), 4 + 6 + 2 + 4);
    EXPECT_EQ(f->fit("AAAA", 12), "A...");
    EXPECT_EQ(f->fit("AAAA", 16), "AAAA");

    static Rect ink;
    static int calls = 0;
    textProbe() = [](const std::string&, Rect r, Rect, int) { ink = r, ++calls; };
    Canvas cv = makeCanvas(30, 10);
    const Color white = 0xFFFFFFFFu;
    f->draw(cv, 2, 8, "AQA.", &white);
    textProbe() = nullptr;
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(ink.x, 2);
    EXPECT_EQ(ink.y, 3);
    EXPECT_EQ(ink.w, 2 + 4 + 6 + 4 + 1 - 2);
    EXPECT_EQ(ink.h, 5);
    EXPECT_EQ(px(cv, 2, 3), 0xFFFFFFFFu);
    EXPECT_EQ(px(cv, 6, 3), 0u);  // Q: advance only
    EXPECT_EQ(px(cv, 12, 3), 0xFFFFFFFFu);
}
