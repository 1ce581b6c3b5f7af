// The pixel look: its own boxes for the buttons and the scrollbar and its own column headers, the
// list one scrollbar narrower, flat frames, the "tqnative" fonts in its palette, and its own list menu.
#include <algorithm>
#include <cmath>
#include <map>

#include "manager/pixel_look/primitives.h"
#include "manager/pixel_look/look.h"
#include "manager/view/view.h"

namespace tqapp {
namespace {

using lumo::gui::Color;
using lumo::gui::Rect;

}  // namespace

int32_t PixelLook::which() const { return 1; }

Rect PixelLook::partBox(const ManagerView& v, const MainId& id) const {
    if (id.kind == MainPart::Column) return devCol(v, id.index);
    if (id.kind == MainPart::Sort) return {};  // the column headers sort here
    if (const std::string name = partName(id); hasDevBox(name)) return devBox(v, name);
    const std::string sprite = partSprite(id);
    return sprite.empty() ? Rect{} : v.spriteRect(sprite);
}
Rect PixelLook::rowPillBox(const ManagerView& v, int32_t rowTop) const { return devRowButton(v, rowTop); }
Rect PixelLook::listArea(const ManagerView& v, Rect designed) const {
    // The list ends at the scrollbar's rule.
    designed.w = int32_t(std::lround(v.xAxis_.map(296))) - designed.x;
    return designed;
}
// The picture well is the layout's box.
Rect PixelLook::logoBox(const ManagerView& v, Rect designed) const {
    return {v.dev(designed.x) + v.paintX_, v.dev(designed.y) + v.paintY_, v.dev(designed.w), v.dev(designed.h)};
}

void PixelLook::frame(ManagerView& v, const lumo::gui::Paint& p, const lumo::gui::AssetPack&) { devFrames(v, p); }
void PixelLook::layer(ManagerView& v, const lumo::gui::Paint& p, const lumo::gui::AssetPack&, const std::string& kind,
           const std::string& name) {
    if (kind != "over") devPart(v, p, name);
}
void PixelLook::productLine(ManagerView& v, lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, int index,
                 double top) {
    devRow(v, canvas, pack, index, top);
}
void PixelLook::headerRule(ManagerView& v, lumo::gui::Canvas& canvas, double x0, double b) const {
    const double x1 = double(std::lround(v.xAxis_.map(293)));
    if (x0 < x1)
        canvas.fillRect({v.paintX_ + v.dev(x0), v.paintY_ + v.dev(b - 3), v.dev(x1) - v.dev(x0), dev::one(v.paintScale_)},
                        dev::rule);
}
bool PixelLook::labelShape(const ManagerView& v, const std::string& key, Rect& box, std::string& words) const {
    if (key == "title") {
        box.x = 8;
        return true;
    }
    // The buttons carry their own words and the column headers are drawn with the headers.
    if (key == "update_all" || key == "more" || key == "open" || key == "account" || key.rfind("col_", 0) == 0)
        return false;
    if (key == "inspect") box = v.mapRect({310, 30, 110, 17});
    words = upper(words);
    return true;
}
double PixelLook::titleBaseline(const ManagerView& v, const lumo::gui::AssetPack& pack, double designed) const {
    // The picture well reaches lower than the skin's: the title goes down as far as its capitals
    // need to clear the well's frame.
    return std::max(designed, devUnderWell(v, pack));
}
Rect PixelLook::pathBox(const ManagerView& v, double& textX) const {
    // Its own value box, the text 4 units in from its left edge.
    const Rect box = devBox(v, "path");
    textX = box.x + 4.0;
    return box;
}

const lumo::gui::BitmapFont* PixelLook::font(const lumo::gui::AssetPack&, const std::string& role,
                                  double scale) const {
    const bool bold = role == "bold" || role == "small" || role == "pill" || role == "head";
    return dev::font(scale, bold, false);
}
Color PixelLook::ink(const ManagerView&, const std::string& key) const {
    static const std::map<std::string, Color> kDev = {
        {"row_name", dev::cream},        {"row", dev::wave},          {"row_status_update", dev::cream},
        {"row_sel", dev::bg},            {"row_pill", dev::cream},    {"title", dev::cream},
        {"desc", dev::wave},             {"path", dev::cream},        {"status", dev::wave},
        {"lbl_title", dev::cream},       {"lbl_col_name", dev::cream}, {"lbl_col_version", dev::wave},
        {"lbl_col_status", dev::wave},   {"lbl_col_action", dev::wave}, {"lbl_inspect", dev::cream},
        {"lbl_manage", dev::cream},      {"lbl_main", dev::cream},    {"lbl_update_all", dev::cream},
        {"lbl_account", dev::cream},     {"fmt_pick", dev::cream},    {"fmt", dev::wave},
        {"fmt_off", dev::dim},
    };
    const auto it = kDev.find(key);
    return it == kDev.end() ? dev::wave : it->second;
}
// The pixel look needs this many more units of width than the page.
int32_t PixelLook::extraWidth() const { return 70; }
double PixelLook::zoom() const { return 1.0; }
int32_t PixelLook::nameMargin(const ManagerView& v) const { return v.rowFirstX_; }
bool PixelLook::nativeMenu() const { return false; }
lumo::gui::MenuLook PixelLook::menuLook(std::vector<lumo::gui::MenuItem>& items, double scale, int& width) const {
    // Ticks are the look's own dots.
    for (lumo::gui::MenuItem& it : items)
        if (it.checked) {
            it.label.insert(it.label.begin(), '\x01');
            it.checked = false;
        }
    lumo::gui::MenuLook look = dev::menuLook();
    width = look.measureWidth ? look.measureWidth(items, scale) : 140;
    return look;
}

std::unique_ptr<Look> makePixelLook() { return std::make_unique<PixelLook>(); }

}  // namespace tqapp
