#pragma once
// The two looks of the main window behind one interface: the skin look (sprites of the skin packs,
// manager/skin_look/) and the pixel look (flat frames drawn with tqapp::dev, manager/pixel_look/).
// The view keeps the state, the part table and what both looks share (labels, inspector texts, the
// row list's sequence, the status line); a look places the parts it places differently, paints its
// frame and its parts, and answers the few questions where the two differ.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gui/draw/assets.h"
#include "gui/menu_item.h"
#include "gui/menu_look.h"
#include "gui/widget.h"
#include "manager/view/main_parts.h"

namespace tqapp {

class ManagerView;

class Look {
public:
    virtual ~Look() = default;

    // 0 the skin look, 1 the pixel look.
    virtual int32_t which() const = 0;

    // ---- the part table
    // The rectangle of a part the look places (layout units; the cap before its scroll offset); empty
    // for a part the look does not have. Window buttons, the status line and list lines are the view's.
    virtual lumo::gui::Rect partBox(const ManagerView& v, const MainId& id) const = 0;
    // The action button of a list line whose top is rowTop, before the list cuts it.
    virtual lumo::gui::Rect rowPillBox(const ManagerView& v, int32_t rowTop) const = 0;
    // The list's area after the look's own changes to the layout's one.
    virtual lumo::gui::Rect listArea(const ManagerView& v, lumo::gui::Rect designed) const = 0;
    // Where the logo is shown whole, in device pixels of the paint (its origin included), the layout's
    // box given in layout units: the look's frame around the picture.
    virtual lumo::gui::Rect logoBox(const ManagerView& v, lumo::gui::Rect designed) const = 0;

    // ---- painting (the view's draw sets the paint state first)
    virtual void frame(ManagerView& v, const lumo::gui::Paint& p, const lumo::gui::AssetPack& pack) = 0;
    // One entry of the layout's drawing order that is not the rows, the logo or a text.
    virtual void layer(ManagerView& v, const lumo::gui::Paint& p, const lumo::gui::AssetPack& pack,
                       const std::string& kind, const std::string& name) = 0;
    // A product line of the list, its top at `top` (headers are the view's).
    virtual void productLine(ManagerView& v, lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, int index,
                             double top) = 0;
    // The rule after a group header's word, from x0 along the line whose baseline is `baseline`.
    virtual void headerRule(ManagerView& v, lumo::gui::Canvas& canvas, double x0, double baseline) const = 0;
    // A fixed label's box and words in this look; false when the look draws no such label.
    virtual bool labelShape(const ManagerView& v, const std::string& key, lumo::gui::Rect& box,
                            std::string& words) const = 0;
    // The baseline of the selected row's name in the inspector, the designed one given.
    virtual double titleBaseline(const ManagerView& v, const lumo::gui::AssetPack& pack, double designed) const = 0;
    // The box of the shown folder and the x where its text starts.
    virtual lumo::gui::Rect pathBox(const ManagerView& v, double& textX) const = 0;

    // ---- what differs between the looks
    virtual const lumo::gui::BitmapFont* font(const lumo::gui::AssetPack& pack, const std::string& role,
                                              double scale) const = 0;
    virtual lumo::gui::Color ink(const ManagerView& v, const std::string& key) const = 0;
    // Units of width the look needs beyond the page.
    virtual int32_t extraWidth() const = 0;
    // The editor's zoom when the command line sets none.
    virtual double zoom() const = 0;
    // Room left of a row's name that fitNames keeps, in layout units.
    virtual int32_t nameMargin(const ManagerView& v) const = 0;
    // Whether the platform's menu is asked first.
    virtual bool nativeMenu() const = 0;
    // The look of the toolkit's list menu; may change the items' ticks into its own markers and set
    // the width (below 1: measured by the list).
    virtual lumo::gui::MenuLook menuLook(std::vector<lumo::gui::MenuItem>& items, double scale, int& width) const = 0;
};

// The look by its number: 0 the skin look, anything else the pixel look.
std::unique_ptr<Look> makeLook(int32_t look);
std::unique_ptr<Look> makeSkinLook();
std::unique_ptr<Look> makePixelLook();

}  // namespace tqapp
