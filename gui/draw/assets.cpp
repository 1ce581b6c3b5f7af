#include "gui/draw/assets.h"

#include <algorithm>
#include <cmath>
#include <climits>

#include "gui/draw/blend.h"
#include "gui/draw/font_utf8.h"

namespace lumo::gui {

namespace {

int32_t sat32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// lround of a non-negative size, kept within 0 .. INT32_MAX (NaN gives 0).
int64_t roundSize(double v) {
    if (!(v > 0)) return 0;
    return std::lround(std::min(v, double(INT32_MAX)));
}

Rect toRect(const blend::Box& b) {
    if (b.empty()) return Rect{sat32(b.x0), sat32(b.y0), 0, 0};
    return Rect{sat32(b.x0), sat32(b.y0), sat32(b.x1 - b.x0), sat32(b.y1 - b.y0)};
}

void drawPart(Canvas& canvas, const Bitmap& bm, int64_t sx, int64_t sy, int64_t sw, int64_t sh, int64_t dx,
              int64_t dy, int64_t dw, int64_t dh, uint8_t opacity) {
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
    canvas.drawBitmapScaled(bm, Rect{sat32(sx), sat32(sy), sat32(sw), sat32(sh)},
                            Rect{sat32(dx), sat32(dy), sat32(dw), sat32(dh)}, opacity);
}

// Shrinks a pair of insets that together exceed the room, keeping their proportion.
void fitInsets(int64_t& a, int64_t& b, int64_t room) {
    if (a + b <= room) return;
    a = a * room / (a + b);
    b = room - a;
}

// Tiles a source cell over a destination cell, clipped to it.
void tileCell(Canvas& canvas, const Bitmap& bm, const Rect& src, const blend::Box& cell, int64_t tw, int64_t th,
              uint8_t opacity) {
    const Rect saved = canvas.clip;
    const blend::Box area = blend::Box::of(canvas.area);
    const blend::Box narrowed = blend::Box::of(saved).intersect(cell).intersect(area);
    canvas.clip = toRect(narrowed);
    if (!narrowed.empty()) {
        // Tiles that lie wholly outside the narrowed clip would draw nothing; start at the first one that can.
        const int64_t ty0 = cell.y0 + std::max<int64_t>(0, (narrowed.y0 - cell.y0) / th) * th;
        const int64_t tx0 = cell.x0 + std::max<int64_t>(0, (narrowed.x0 - cell.x0) / tw) * tw;
        for (int64_t ty = ty0; ty < cell.y1 && ty < narrowed.y1; ty += th)
            for (int64_t tx = tx0; tx < cell.x1 && tx < narrowed.x1; tx += tw)
                canvas.drawBitmapScaled(bm, src, Rect{sat32(tx), sat32(ty), sat32(tw), sat32(th)}, opacity);
    }
    canvas.clip = toRect(blend::Box::of(saved).intersect(area));
}

std::string stringOf(const Json& v) { return v.isString() ? v.string() : std::string(); }

}  // namespace

int32_t jsonInt(const Json& value, int32_t fallback) {
    if (!value.isNumber() || std::isnan(value.number)) return fallback;
    const double v = value.number + (value.number < 0 ? -0.5 : 0.5);
    if (v >= 2147483647.0) return INT32_MAX;
    if (v < -2147483648.0) return INT32_MIN;
    return int32_t(v);
}

Rect jsonRect(const Json& value) {
    if (!value.isArray()) return Rect{};
    return Rect{jsonInt(value[size_t(0)], 0), jsonInt(value[size_t(1)], 0), jsonInt(value[size_t(2)], 0),
                jsonInt(value[size_t(3)], 0)};
}

bool AssetPack::load(const Json& index, const uint8_t* blob, size_t blobSize) {
    loadSizes(index);
    return loadContents(index, blob, blobSize);
}

void AssetPack::loadSizes(const Json& index) {
    scale = index["scale"].isNumber() ? index["scale"].number : 1.0;
    width = jsonInt(index["width"], 0);
    height = jsonInt(index["height"], 0);
    text_scale = jsonInt(index["text_scale"], 1);
}

bool AssetPack::loadContents(const Json& index, const uint8_t* blob, size_t blobSize) {
    if (blob == nullptr) blobSize = 0;

    // Every image is addressed by [offset, length] and must lie wholly inside the blob.
    for (const auto& [name, entry] : index["files"].object()) {
        const auto& items = entry.array();
        const double offset = (entry.isArray() && !items.empty() && items[0].isNumber()) ? items[0].number : -1;
        if (!entry.isArray() || items.size() < 2 || !items[1].isNumber()) continue;
        const double length = items[1].number;
        const double limit = double(blobSize);
        if (!(offset >= 0 && length >= 0 && offset <= limit && length <= limit)) continue;
        const size_t off = size_t(offset), len = size_t(length);
        if (off > blobSize || blobSize - off < len) continue;
        Bitmap bm = Bitmap::loadMemory(blob + off, len);
        if (bm.w >= 1 && bm.h >= 1) images[name] = std::move(bm);
    }

    for (const auto& [name, entry] : index["sprites"].object()) {
        Sprite s;
        s.x = jsonInt(entry["x"], 0);
        s.y = jsonInt(entry["y"], 0);
        s.w = jsonInt(entry["w"], 0);
        s.h = jsonInt(entry["h"], 0);
        s.image = image(stringOf(entry["image"]));
        s.opaque = s.image != nullptr && blend::usable(*s.image) &&
                   blend::allOpaque(s.image->pixels.data(), int64_t(s.image->w) * s.image->h);
        sprites[name] = s;
    }

    for (const auto& [name, entry] : index["fonts"].object()) {
        BitmapFont f;
        f.space = jsonInt(entry["space"], 0);
        f.cap_height = jsonInt(entry["cap_height"], 0);
        f.x_height = jsonInt(entry["x_height"], 0);
        f.descent = jsonInt(entry["descent"], 0);
        f.pixel_scale = jsonInt(entry["pixel_scale"], 1);
        f.ascent = jsonInt(entry["ascent"], 0);
        f.line_height = jsonInt(entry["line_height"], 0);
        f.underline_pos = jsonInt(entry["underline_pos"], 1);
        f.underline_size = jsonInt(entry["underline_size"], 1);
        for (const auto& [key, g] : entry["glyphs"].object()) {
            // Each key is one character in UTF-8.
            size_t end = 0;
            const char32_t c = key.empty() ? 0 : nextChar(key, end);
            if (key.empty() || end != key.size() || utf8Of(c) != key) continue;
            Glyph glyph;
            glyph.x = jsonInt(g["x"], 0);
            glyph.y = jsonInt(g["y"], 0);
            glyph.w = jsonInt(g["w"], 0);
            glyph.h = jsonInt(g["h"], 0);
            glyph.adv = jsonInt(g["adv"], 0);
            glyph.image = image(stringOf(g["image"]));
            f.glyphs[c] = glyph;
        }
        fonts[name] = std::move(f);
    }
    return !images.empty();
}

const Bitmap* AssetPack::image(const std::string& name) const {
    const auto it = images.find(name);
    return it == images.end() ? nullptr : &it->second;
}

const Sprite* AssetPack::sprite(const std::string& name) const {
    const auto it = sprites.find(name);
    return it == sprites.end() ? nullptr : &it->second;
}

const BitmapFont* AssetPack::font(const std::string& name) const {
    const auto it = fonts.find(name);
    return it == fonts.end() ? nullptr : &it->second;
}

void AssetPack::draw(Canvas& canvas, const std::string& name, int x, int y, uint8_t opacity) const {
    const Sprite* s = sprite(name);
    if (s == nullptr || s->image == nullptr) return;
    canvas.drawBitmap(*s->image, sat32(int64_t(x) + s->x), sat32(int64_t(y) + s->y), 1, opacity);
}

void AssetPack::drawAt(Canvas& canvas, const std::string& name, int x, int y, uint8_t opacity) const {
    const Sprite* s = sprite(name);
    if (s == nullptr || s->image == nullptr) return;
    canvas.drawBitmap(*s->image, x, y, 1, opacity);
}

void AssetPack::drawStretched(Canvas& canvas, const std::string& name, Rect dst, int cornerW, int cornerH,
                              uint8_t opacity) const {
    const Sprite* s = sprite(name);
    if (s == nullptr || s->image == nullptr) return;
    drawNineSlice(canvas, *s->image, dst, cornerW, cornerH, opacity);
}

void drawNineSlice(Canvas& canvas, const Bitmap& bm, Rect dst, int cornerW, int cornerH, uint8_t opacity) {
    if (!blend::usable(bm)) return;
    // Negative corners would reach outside the destination; they count as none.
    const int64_t cx = std::min<int64_t>({std::max(cornerW, 0), bm.w / 2, dst.w / 2});
    const int64_t cy = std::min<int64_t>({std::max(cornerH, 0), bm.h / 2, dst.h / 2});
    const int64_t bw = bm.w, bh = bm.h, x = dst.x, y = dst.y, w = dst.w, h = dst.h;
    const int64_t sc[4] = {0, cx, bw - cx, bw}, sr[4] = {0, cy, bh - cy, bh};
    const int64_t dc[4] = {x, x + cx, x + w - cx, x + w}, dr[4] = {y, y + cy, y + h - cy, y + h};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            drawPart(canvas, bm, sc[c], sr[r], sc[c + 1] - sc[c], sr[r + 1] - sr[r], dc[c], dr[r], dc[c + 1] - dc[c],
                     dr[r + 1] - dr[r], opacity);
}

void drawNineSlice(Canvas& canvas, const Bitmap& bm, Rect dst, const NineSlice& slice, double sourceScale,
                   double targetScale, uint8_t opacity) {
    if (!(sourceScale > 0) || !(targetScale > 0) || !blend::usable(bm) || dst.w < 1 || dst.h < 1) return;
    auto scaled = [](int32_t inset, double s) { return roundSize(std::max(inset, 0) * s); };
    int64_t sl = scaled(slice.left, sourceScale), sr = scaled(slice.right, sourceScale);
    int64_t st = scaled(slice.top, sourceScale), sb = scaled(slice.bottom, sourceScale);
    int64_t dl = scaled(slice.left, targetScale), dr = scaled(slice.right, targetScale);
    int64_t dt = scaled(slice.top, targetScale), db = scaled(slice.bottom, targetScale);
    const int64_t bw = bm.w, bh = bm.h, x = dst.x, y = dst.y, w = dst.w, h = dst.h;
    fitInsets(sl, sr, bw);
    fitInsets(st, sb, bh);
    fitInsets(dl, dr, w);
    fitInsets(dt, db, h);
    const int64_t scol[4] = {0, sl, bw - sr, bw}, srow[4] = {0, st, bh - sb, bh};
    const int64_t dcol[4] = {x, x + dl, x + w - dr, x + w}, drow[4] = {y, y + dt, y + h - db, y + h};
    const double ratio = targetScale / sourceScale;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const bool centre = r == 1 && c == 1, corner = r != 1 && c != 1;
            if (centre && !slice.fillCenter) continue;
            const int64_t sw = scol[c + 1] - scol[c], sh = srow[r + 1] - srow[r];
            const int64_t dw = dcol[c + 1] - dcol[c], dh = drow[r + 1] - drow[r];
            if (sw < 1 || sh < 1 || dw < 1 || dh < 1) continue;
            const bool tile = !corner && (centre ? slice.tileCenter != 0 : slice.tileEdges != 0);
            if (!tile) {
                drawPart(canvas, bm, scol[c], srow[r], sw, sh, dcol[c], drow[r], dw, dh, opacity);
                continue;
            }
            const int64_t tw = c == 1 ? std::max<int64_t>(1, roundSize(double(sw) * ratio)) : dw;
            const int64_t th = r == 1 ? std::max<int64_t>(1, roundSize(double(sh) * ratio)) : dh;
            tileCell(canvas, bm, Rect{sat32(scol[c]), sat32(srow[r]), sat32(sw), sat32(sh)},
                     blend::Box::xywh(dcol[c], drow[r], dw, dh), tw, th, opacity);
        }
    }
}

void drawNineSlice(Canvas& canvas, const AssetPack& pack, const std::string& name, Rect dst, const NineSlice& slice,
                   double targetScale, uint8_t opacity) {
    const Sprite* s = pack.sprite(name);
    if (s == nullptr || s->image == nullptr) return;
    drawNineSlice(canvas, *s->image, dst, slice, pack.scale, targetScale, opacity);
}

bool Assets::load(const EmbeddedFile* table, size_t count) { return loadTable(table, count, false); }

bool Assets::loadOnDemand(const EmbeddedFile* table, size_t count) { return loadTable(table, count, true); }

bool Assets::loadTable(const EmbeddedFile* table, size_t count, bool onDemand) {
    packs.clear();
    pending_.clear();
    std::vector<Pending> pending;
    if (table == nullptr) count = 0;
    auto rowName = [&](size_t i) { return std::string(table[i].name != nullptr ? table[i].name : ""); };
    auto rowJson = [&](size_t i) { return Json::parse(table[i].data, table[i].data != nullptr ? table[i].size : 0); };
    for (size_t i = 0; i < count; ++i) {
        const std::string name = rowName(i);
        if (name == "layout.json") {
            layout = rowJson(i);
            continue;
        }
        if (name.size() <= 5 || name.compare(name.size() - 5, 5, ".json") != 0) continue;
        const std::string packName = name.substr(0, name.size() - 5) + ".pack";
        const EmbeddedFile* blob = nullptr;
        for (size_t j = 0; j < count; ++j)
            if (rowName(j) == packName) blob = &table[j];
        if (blob == nullptr) {
            files[name] = rowJson(i);
            continue;
        }
        auto pack = std::make_unique<AssetPack>();
        if (!onDemand) {
            if (pack->load(rowJson(i), blob->data, blob->size)) packs.push_back(std::move(pack));
            continue;
        }
        // Only the index's sizes now; the whole index is read with the images, when first asked for.
        const Json top = Json::parseTop(table[i].data, table[i].data != nullptr ? table[i].size : 0);
        if (!top.isObject() || blob->data == nullptr) continue;
        pack->loadSizes(top);
        packs.push_back(std::move(pack));
        pending.push_back(Pending{table[i].data, table[i].size, blob->data, blob->size});
    }
    // Sorted by scale, each pending pack moving with its pack.
    std::vector<size_t> order(packs.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return packs[a]->scale < packs[b]->scale; });
    std::vector<std::unique_ptr<AssetPack>> sorted;
    for (size_t i : order) {
        sorted.push_back(std::move(packs[i]));
        if (onDemand) pending_.push_back(std::move(pending[i]));
    }
    packs = std::move(sorted);
    return !packs.empty();
}

size_t Assets::nearest(double scale) const {
    size_t best = 0;
    for (size_t i = 0; i < packs.size(); ++i)
        if (std::fabs(packs[i]->scale - scale) < std::fabs(packs[best]->scale - scale)) best = i;
    return best;
}

std::pair<int32_t, int32_t> Assets::pageSize(double scale) const {
    if (packs.empty()) return {0, 0};
    const AssetPack& p = *packs[nearest(scale)];
    return {p.width, p.height};
}

const AssetPack& Assets::pack(double scale) const {
    static const AssetPack empty;
    if (packs.empty()) return empty;
    const size_t best = nearest(scale);
    if (best < pending_.size()) {
        const Pending& p = pending_[best];
        std::call_once(*p.once, [&] { packs[best]->loadContents(Json::parse(p.index, p.indexSize), p.blob, p.size); });
    }
    return *packs[best];
}

const Json& Assets::file(const std::string& name) const {
    static const Json none;
    const auto it = files.find(name);
    return it == files.end() ? none : it->second;
}

std::vector<double> Assets::scales() const {
    std::vector<double> out;
    out.reserve(packs.size());
    for (const auto& p : packs) out.push_back(p->scale);
    return out;
}

CursorImage spriteCursor(const Assets& assets, const std::string& name, int width, int height) {
    (void)width;
    (void)height;
    CursorImage cursor;  // made with a fresh id
    for (double s : assets.scales()) {
        const AssetPack& p = assets.pack(s);
        const Sprite* sprite = p.sprite(name);
        if (sprite != nullptr && sprite->image != nullptr) cursor.add(*sprite->image, p.scale);
    }
    return cursor;
}

}  // namespace lumo::gui
