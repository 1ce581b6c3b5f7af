// The pixel look's product line: a flat plate for the selected or hovered line, the row picture,
// name, version and status in the four list columns, and the action button or a lamp.
#include <algorithm>
#include <cmath>

#include "gui/draw/clip_scope.h"
#include "manager/model/model.h"
#include "manager/pixel_look/look.h"
#include "manager/pixel_look/primitives.h"
#include "manager/view/view.h"

namespace tqapp {

using lumo::gui::ClipScope;
using lumo::gui::Rect;

void PixelLook::devRow(ManagerView& v, lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, int i, double top) {
    const int32_t e = v.displayList_[size_t(i)];
    const tqm::Row& r = v.model_->rows[size_t(e)];
    const int32_t ox = v.paintX_, oy = v.paintY_;
    const Rect listBox = v.listDeviceBox();
    const MainId pill = mainPart(MainPart::RowPill, i);
    const bool sel = i == v.selectedIndex();
    const bool hover = !sel && (v.pointer().isHover(mainPart(MainPart::Row, i)) || v.pointer().isHover(pill));

    // Plate: from just left of the line to the scrollbar's rule, the 2-unit gap below left open.
    const double x0 = std::max<double>(v.rowFirstX_ - 2, v.listRect_.x);
    const double x1 = std::min<double>(double(v.listRect_.x) + v.listRect_.w, double(std::lround(v.xAxis_.map(295))));
    const double y0 = std::max<double>(top, v.listRect_.y);
    const double y1 = std::min<double>(double(v.listRect_.y) + v.listRect_.h, top + v.rowPitch_ - 2);
    if (sel || hover) {
        const Rect plate{ox + v.dev(x0), oy + v.dev(y0), std::max(0, v.dev(x1) - v.dev(x0)), std::max(0, v.dev(y1) - v.dev(y0))};
        canvas.fillRect(plate, sel ? dev::cream : dev::pressedFill);
    }

    ClipScope clip(canvas, listBox);
    if (const lumo::gui::Bitmap* picture = v.rowPicture(size_t(e), 1.5))
        canvas.drawBitmap(*picture, ox + v.dev(v.rowFirstX_ + 4), oy + v.dev(top) + (v.dev(v.rowPitch_ - 2) - picture->h) / 2, 1,
                          255);

    const double b = top + lumo::gui::jsonInt((*v.managerLayout_)["row_base"], 0);
    constexpr int32_t kNameX = 111;
    const Rect c0 = devCol(v, 0), c1 = devCol(v, 1), c2 = devCol(v, 2);
    double limit = double(c0.x) + c0.w - (v.rowFirstX_ + kNameX) - 3;
    if (limit < 2) limit = 1;
    v.text(canvas, pack, "val", r.name, v.rowFirstX_ + kNameX, b, 'l', 0, sel ? "row_sel" : "row_name", limit, 1.0);

    const std::string& version = r.entry ? r.entry->version : r.version;
    if (!version.empty())
        v.text(canvas, pack, "val", "v" + version, c1.x, b, 'r', c1.w - 5, sel ? "row_sel" : "row", c1.w - 7, 1.0);

    std::string status;
    const char* statusKey = v.rowStatus(r, status);
    v.text(canvas, pack, "val", status, c2.x, b, 'r', c2.w - 5, sel ? "row_sel" : statusKey, c2.w - 7, 1.0);

    // The lamp's place; the button is where the part table puts it (one the list hides whole is not there).
    Rect button = devRowButton(v, int32_t(std::floor(top)));
    if (v.showsPill(r)) {
        if (const Rect at = v.drawnRect(pill); at.w > 0) button = at;
        const bool failed = v.model_->failed.count(r.id) > 0;
        const char* word = failed ? "RETRY" : r.state == tqm::State::Update ? "UPDATE" : "INSTALL";
        const bool down = v.held(pill);
        dev::button(*v.paint_, devRect(v, button), v.hot(pill), down, true);
        v.centred(canvas, pack, "small", word, {button.x, down ? button.y : button.y - 1, button.w, button.h + 1},
                "row_pill", 1.0);
    } else if (r.state == tqm::State::Installed || r.state == tqm::State::Update || r.state == tqm::State::Delisted) {
        devRowLamp(v, canvas, button, true, sel);
    } else if (!v.model_->busyWith(r.id)) {
        devRowLamp(v, canvas, button, false, sel);
    }
}

}  // namespace tqapp
