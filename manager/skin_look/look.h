#pragma once
// The skin look of the main window: the parts placed by the skin's sprites, and its painters. Sprites
// are cut by the stretch bands at their page place (put), glass pairs are composited over what lies
// beneath (glass), and the parts, pills, window buttons and product lines are drawn from them where
// the part table puts them. Positions are layout units; the paint state is the view's.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "manager/view/look.h"

namespace tqapp {

class SkinLook final : public Look {
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

    // ---- sprites (sprites.cpp)
    // A sprite at its page place moved by (dx, dy), cut by the stretch bands (vertically only when
    // stretchY), inside clip when it has a width, brightened by gain.
    void put(const ManagerView& v, lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack,
             const std::string& name, double dx, double dy, lumo::gui::Rect clip, double gain, bool stretchY);
    // The glass pair name + "_b" and name + "_w" composited over the canvas.
    void glass(const ManagerView& v, lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack,
               const std::string& name) const;
    // A brightened copy of a sprite's image, made once per name, scale and gain.
    const lumo::gui::Bitmap& gained(const ManagerView& v, const std::string& name, const lumo::gui::Bitmap& bitmap,
                                    double gain);

    // ---- parts (parts.cpp)
    // One of three sprite names by the pointer state of a part.
    static std::string look(const ManagerView& v, const MainId& id, const std::string& normal,
                            const std::string& hover, const std::string& pressed);
    // A skin sprite drawn where the part table puts the part whose sprite `home` is.
    void sprite(const ManagerView& v, lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack,
                const std::string& name, const MainId& id, const std::string& home, double gain = 1.0);
    void pill(const ManagerView& v, lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, const MainId& id,
              const std::string& prefix);
    // One named entry of the layout's drawing order.
    void part(ManagerView& v, lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& name);
    void windowButton(const ManagerView& v, lumo::gui::Canvas& canvas, bool close);

    // ---- rows (rows.cpp)
    // A product line on its plate, its top at `top`.
    void plateRow(ManagerView& v, lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, int index, double top);

private:
    // Brightened sprites and window-button glyphs: kept as long as the look.
    std::map<std::string, lumo::gui::Bitmap> gainedCache;
    std::map<int, lumo::gui::Bitmap> glyphCache;
};

}  // namespace tqapp
