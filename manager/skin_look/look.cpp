// The skin look: parts placed by the skin's sprites, the page and its glass layers under them, the
// skin's bitmap fonts and colours, and the platform's menu first.
#include <cmath>

#include "gui/draw/clip_scope.h"
#include "gui/fonts.h"
#include "gui/list_popup.h"
#include "manager/model/model.h"
#include "manager/skin_look/look.h"
#include "manager/view/view.h"

namespace tqapp {
namespace {

using lumo::gui::Rect;

constexpr const char* kIS = "Ardune Systems Manager/Inspector Section";
constexpr const char* kWellGlass = "over_4";  // the glass over the inspector's picture well

// Whether put() at (ox, oy) covers all of area with the opaque sprite: its segments each copy at least
// one source pixel and each starts where the one before ends.
bool opaqueOver(const lumo::gui::Sprite* s, const Axis& xAxis_, const Axis& yAxis_, double scale, int64_t ox,
                int64_t oy, Rect area) {
    if (area.empty()) return true;
    if (!s || !s->opaque || !s->image) return false;
    for (int k = 0; k < 2; ++k) {
        const std::vector<Axis::Seg> segs = k ? yAxis_.segments(s->y, s->image->h, scale, true)
                                              : xAxis_.segments(s->x, s->image->w, scale, true);
        if (segs.empty()) return false;
        int64_t end = segs.front().dst;
        for (const Axis::Seg& g : segs) {
            if (g.len < 1 || g.dst != end) return false;
            end = int64_t(g.dst) + (g.stretched ? g.dstLen : g.len);
        }
        const int64_t o = k ? oy : ox, lo = k ? area.y : area.x, len = k ? area.h : area.w;
        if (lo < o + segs.front().dst || lo + len > o + end) return false;
    }
    return true;
}

// The list menu where no native menu exists: the toolkit's plain font and colours.
const lumo::gui::MenuLook& plainMenuLook() {
    static const lumo::gui::MenuLook look = [] {
        lumo::gui::ListSkin skin;
        skin.font = "tahoma7";
        skin.rowHeight = 16;
        skin.textInset = 8;
        skin.padding = 3;
        skin.background = 0xFF1E1E1Eu;
        skin.border = 0xFF5A5A5Au;
        skin.text = 0xFFE1E1E1u;
        skin.hoverFill = 0xFF3A5A8Au;
        skin.disabledText = 0xFF6E6E6Eu;
        return lumo::gui::menuLook(lumo::gui::lumoFonts(), skin);
    }();
    return look;
}

}  // namespace

int32_t SkinLook::which() const { return 0; }

Rect SkinLook::partBox(const ManagerView& v, const MainId& id) const {
    const std::string sprite = partSprite(id);
    return sprite.empty() ? Rect{} : v.spriteRect(sprite);
}
Rect SkinLook::rowPillBox(const ManagerView& v, int32_t rowTop) const {
    const Rect pill = layoutRect((*v.managerLayout_)["row_pill"]);
    const int32_t shift = v.xAxis_.shiftAt(v.rowFirstX_ + pill.x + pill.w * 0.5);
    return {v.rowFirstX_ + pill.x + shift, rowTop + pill.y, pill.w, pill.h};
}
Rect SkinLook::listArea(const ManagerView&, Rect designed) const { return designed; }
Rect SkinLook::logoBox(const ManagerView& v, Rect designed) const {
    // The well's glass lies over the logo (the layer after it): the logo stays under it, where the
    // sprites put it at this scale, however the layout's box rounds.
    const Rect box{v.dev(designed.x) + v.paintX_, v.dev(designed.y) + v.paintY_, v.dev(designed.w), v.dev(designed.h)};
    const lumo::gui::Sprite* s = managerSkin().pack(v.paintScale_).sprite(std::string(kWellGlass) + "_b");
    if (!s || !s->image) return box;
    const std::vector<Axis::Seg> xs = v.xAxis_.segments(s->x, s->image->w, v.paintScale_, true);
    const std::vector<Axis::Seg> ys = v.yAxis_.segments(s->y, s->image->h, v.paintScale_, true);
    if (xs.empty() || ys.empty()) return box;
    const Rect well{xs.front().dst + v.paintX_, ys.front().dst + v.paintY_,
                    xs.back().dst + xs.back().dstLen - xs.front().dst, ys.back().dst + ys.back().dstLen - ys.front().dst};
    return lumo::gui::meet(box, well);
}

void SkinLook::frame(ManagerView& v, const lumo::gui::Paint& p, const lumo::gui::AssetPack& pack) {
    // Where the page lies opaque over the whole paint area the fill would never show.
    if (!opaqueOver(pack.sprite("page"), v.xAxis_, v.yAxis_, v.paintScale_, v.paintX_, v.paintY_,
                    lumo::gui::meet(p.rect, p.canvas.clip)))
        p.canvas.fillRect(p.rect, 0xFF0B0B0Bu);
    put(v, p.canvas, pack, "page", 0, 0, {}, 1.0, true);
}
void SkinLook::layer(ManagerView& v, const lumo::gui::Paint& p, const lumo::gui::AssetPack& pack, const std::string& kind,
           const std::string& name) {
    if (kind != "over")
        part(v, p.canvas, pack, name);
    else if (pack.sprite(name + "_b"))
        glass(v, p.canvas, pack, name);
    else
        put(v, p.canvas, pack, name, 0, 0, {}, 1.0, true);
}
void SkinLook::productLine(ManagerView& v, lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, int index,
                 double top) {
    plateRow(v, canvas, pack, index, top);
}
void SkinLook::headerRule(ManagerView& v, lumo::gui::Canvas& canvas, double x0, double b) const {
    const double x1 = double(std::lround(v.xAxis_.map(290)));
    if (x0 < x1)
        canvas.fillRect({v.paintX_ + v.dev(x0), v.paintY_ + v.dev(b - 3), v.dev(x1) - v.dev(x0),
                         v.dev(b - 2) - v.dev(b - 3)},
                        0x28FFFFFFu);
}
bool SkinLook::labelShape(const ManagerView&, const std::string&, Rect&, std::string&) const { return true; }
double SkinLook::titleBaseline(const ManagerView&, const lumo::gui::AssetPack&, double designed) const {
    return designed;
}
Rect SkinLook::pathBox(const ManagerView& v, double& textX) const {
    const std::string controls = std::string(kIS) + "/Installation Section/Installation Controls/";
    textX = v.left(controls + "Filepath Mockup");
    return v.mapRect(boxRect((*v.layoutRects_)[controls + "Filepath Valuebox"]["r"]));
}

const lumo::gui::BitmapFont* SkinLook::font(const lumo::gui::AssetPack& pack, const std::string& role,
                                  double) const {
    return pack.font(role);
}
lumo::gui::Color SkinLook::ink(const ManagerView& v, const std::string& key) const {
    const auto it = v.colors_.find(key == "row_name" ? std::string("row") : key);
    return it == v.colors_.end() ? 0xFFFFFFFFu : it->second;
}
int32_t SkinLook::extraWidth() const { return 0; }
double SkinLook::zoom() const { return 1.2; }
int32_t SkinLook::nameMargin(const ManagerView& v) const {
    const lumo::Json& m = *v.managerLayout_;
    const Rect nameBox = lumo::gui::jsonRect(m["row_name"]);
    return lumo::gui::jsonInt(m["row_name_x"], 0) - (nameBox.x + nameBox.w) + 2;
}
bool SkinLook::nativeMenu() const { return true; }
lumo::gui::MenuLook SkinLook::menuLook(std::vector<lumo::gui::MenuItem>&, double, int& width) const {
    width = 0;
    return plainMenuLook();
}

std::unique_ptr<Look> makeSkinLook() { return std::make_unique<SkinLook>(); }

}  // namespace tqapp
