#pragma once
// Asset packs compiled into the program: per UI scale one JSON index and one blob of PNG images,
// holding named images, sprites and bitmap fonts; an Assets set loads every pack of an embedded
// table (the program's own tables pack by pack, when a scale is first painted at) and picks the pack
// nearest a display scale. Lookups of anything missing answer null or
// draw nothing, and nothing here reports an error.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "gui/draw/bitmapfont.h"
#include "gui/draw/canvas.h"
#include "gui/draw/cursor_image.h"
#include "gui/draw/embedded_file.h"
#include "json/json.h"

namespace lumo::gui {

struct Sprite {
    int32_t x = 0;
    int32_t y = 0;
    int32_t w = 0;
    int32_t h = 0;
    const Bitmap* image = nullptr;  // an image of the same pack, or null
    bool opaque = false;            // every pixel of the image has alpha 255 (found when the pack loads)
};

// Sprites and glyphs point into images, so a pack is never copied.
struct AssetPack {
    double scale = 1.0;
    int32_t width = 0;  // designed window size at this scale
    int32_t height = 0;
    int32_t text_scale = 1;
    std::map<std::string, Bitmap> images;
    std::map<std::string, Sprite> sprites;
    std::map<std::string, BitmapFont> fonts;

    AssetPack() = default;
    AssetPack(const AssetPack&) = delete;
    AssetPack& operator=(const AssetPack&) = delete;

    // Fills the pack from its index and blob; true when at least one image decoded.
    bool load(const Json& index, const uint8_t* blob, size_t blobSize);
    // Only the scale and sizes of the index; the images, sprites and fonts.
    void loadSizes(const Json& index);
    bool loadContents(const Json& index, const uint8_t* blob, size_t blobSize);

    const Bitmap* image(const std::string& name) const;
    const Sprite* sprite(const std::string& name) const;
    const BitmapFont* font(const std::string& name) const;

    // The sprite's image at (x + sprite.x, y + sprite.y); drawAt ignores the sprite's place.
    void draw(Canvas& canvas, const std::string& name, int x, int y, uint8_t opacity = 255) const;
    void drawAt(Canvas& canvas, const std::string& name, int x, int y, uint8_t opacity = 255) const;
    // Nine-slice of the sprite's image with fixed corners in bitmap pixels.
    void drawStretched(Canvas& canvas, const std::string& name, Rect dst, int cornerW, int cornerH,
                       uint8_t opacity = 255) const;
};

struct NineSlice {
    int32_t left = 0;  // insets in unscaled design pixels
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    uint32_t tileEdges = 0;   // 0 stretches the edge parts, else tiles them
    uint32_t tileCenter = 0;  // the same for the centre
    bool fillCenter = true;
};

// Corners of cornerW x cornerH bitmap pixels keep their size; edges and centre stretch.
void drawNineSlice(Canvas& canvas, const Bitmap& bitmap, Rect dst, int cornerW, int cornerH, uint8_t opacity = 255);
// Insets scaled by sourceScale in the bitmap and by targetScale on the canvas.
void drawNineSlice(Canvas& canvas, const Bitmap& bitmap, Rect dst, const NineSlice& slice, double sourceScale,
                   double targetScale, uint8_t opacity = 255);
// The named sprite's image through the form above, with the pack's scale as the source scale.
void drawNineSlice(Canvas& canvas, const AssetPack& pack, const std::string& name, Rect dst, const NineSlice& slice,
                   double targetScale, uint8_t opacity = 255);

// The integer rule of the framework's JSON documents: rounded half away from zero and clamped to
// 32 bits; missing, non-number or NaN values give the fallback.
int32_t jsonInt(const Json& value, int32_t fallback);
// Elements 0 to 3 of an array as x, y, w, h by the integer rule (0 where missing).
Rect jsonRect(const Json& value);

struct Assets {
    std::vector<std::unique_ptr<AssetPack>> packs;  // ascending scale after loading
    Json layout;                                    // "layout.json" of the table, else null
    std::map<std::string, Json> files;              // the table's other JSON files

    // Loads every index/blob pair of the table; true when at least one pack loaded.
    bool load(const EmbeddedFile* table, size_t count);
    // The same for a table that outlives the set (one compiled into the program): a pack's images are
    // decoded when the pack is first asked for, so a run decodes only the scales it paints at. A pack
    // whose images do not decode is an empty pack.
    bool loadOnDemand(const EmbeddedFile* table, size_t count);
    // The nearest pack (ties go to the lower scale), or a shared empty pack. Any thread.
    const AssetPack& pack(double scale) const;
    // The nearest pack's designed window size (its index's width and height), without decoding it.
    std::pair<int32_t, int32_t> pageSize(double scale) const;
    // A JSON file of the table that is not a pack index, or the null JSON.
    const Json& file(const std::string& name) const;
    std::vector<double> scales() const;

private:
    // A pack of loadOnDemand not decoded yet: where its contents are.
    struct Pending {
        const uint8_t* index = nullptr;  // the index's text
        size_t indexSize = 0;
        const uint8_t* blob = nullptr;
        size_t size = 0;
        std::shared_ptr<std::once_flag> once = std::make_shared<std::once_flag>();
    };
    bool loadTable(const EmbeddedFile* table, size_t count, bool onDemand);
    size_t nearest(double scale) const;  // packs must not be empty
    std::vector<Pending> pending_;  // beside packs, in the same order; empty when loaded at once
};

// A cursor holding the named sprite's image of every pack, at the pack's scale. The picture's own
// size gives the cursor's size; width and height are the caller's size in points.
CursorImage spriteCursor(const Assets& assets, const std::string& name, int width, int height);

}  // namespace lumo::gui
