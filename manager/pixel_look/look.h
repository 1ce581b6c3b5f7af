#pragma once
// The pixel look of the main window: its own boxes for the buttons and the scrollbar, its list
// columns and column headers, and its painters (flat frames and rules, parts and product lines drawn
// with tqapp::dev). Positions are layout units; the paint state is the view's.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "manager/view/axis.h"
#include "manager/view/look.h"

namespace tqapp {

class PixelLook final : public Look {
public:
    // ---- the look (look.cpp)
    int32_t which() const override;
    lumo::gui::Rect partBox(const ManagerView& v, const MainId& id) const override;
    lumo::gui::Rect rowPillBox(const ManagerView& v, int32_t rowTop) const override;
    lumo::gui::Rect listArea(const ManagerView& v, lumo::gui::Rect designed) const override;
    lumo::gui::Rect logoBox(const ManagerView& v, lumo::gui::Rect designed) const override;
    void frame(ManagerView& v, const lumo::gui::Paint& p, const lumo::gui::AssetPack& pack) override;
    void layer(ManagerView& v, const lumo::gui::Paint& p, const lumo::gui::AssetPack& pack, const std::string& kind,
               const std::string& name) override;
    void productLine(ManagerView& v, lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, int index,
                     double top) override;
    void headerRule(ManagerView& v, lumo::gui::Canvas& canvas, double x0, double baseline) const override;
    bool labelShape(const ManagerView& v, const std::string& key, lumo::gui::Rect& box,
                    std::string& words) const override;
    double titleBaseline(const ManagerView& v, const lumo::gui::AssetPack& pack, double designed) const override;
    lumo::gui::Rect pathBox(const ManagerView& v, double& textX) const override;
    const lumo::gui::BitmapFont* font(const lumo::gui::AssetPack& pack, const std::string& role,
                                      double scale) const override;
    lumo::gui::Color ink(const ManagerView& v, const std::string& key) const override;
    int32_t extraWidth() const override;
    double zoom() const override;
    int32_t nameMargin(const ManagerView& v) const override;
    bool nativeMenu() const override;
    lumo::gui::MenuLook menuLook(std::vector<lumo::gui::MenuItem>& items, double scale, int& width) const override;

    // ---- boxes, columns and the device mapping (frame_and_columns.cpp)
    // The list's column edges in design units: name, version, status, action.
    static constexpr int32_t kDevEdges[5] = {5, 114, 177, 237, 296};
    // The look's own boxes by name.
    static bool hasDevBox(const std::string& name);
    static lumo::gui::Rect devBox(const ManagerView& v, const std::string& name);
    // A list column 0 to 3 in layout units, its edges stretched with the horizontal bands.
    static lumo::gui::Rect devCol(const ManagerView& v, int index);
    static lumo::gui::Rect devCol(const Axis& xAxis, int index);
    static std::vector<std::pair<std::string, lumo::gui::Rect>> devColumns(const ManagerView& v);
    // The action button of a list line whose top is rowTop.
    static lumo::gui::Rect devRowButton(const ManagerView& v, int rowTop);
    // A layout rectangle in device pixels at the paint scale and origin, each edge floored on its own.
    static lumo::gui::Rect devRect(const ManagerView& v, lumo::gui::Rect r);
    // The device box of a logical rectangle whose design width or height of 1 becomes one dot.
    static lumo::gui::Rect dotted(const ManagerView& v, lumo::gui::Rect design, lumo::gui::Rect logical);
    // The lowest baseline of "val" text under the picture well whose capitals clear the well's frame.
    static double devUnderWell(const ManagerView& v, const lumo::gui::AssetPack& pack);

    // ---- painting (frame_and_columns.cpp, parts.cpp, rows.cpp)
    static void devFrames(const ManagerView& v, const lumo::gui::Paint& p);
    static void devHeaders(const ManagerView& v, const lumo::gui::Paint& p);
    static void devRowLamp(const ManagerView& v, lumo::gui::Canvas& canvas, lumo::gui::Rect logical, bool on,
                           bool selected);
    // One named entry of the layout's drawing order.
    static void devPart(ManagerView& v, const lumo::gui::Paint& p, const std::string& name);
    // A product line of the list, its top at `top`.
    static void devRow(ManagerView& v, lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, int index,
                       double top);
};

}  // namespace tqapp
