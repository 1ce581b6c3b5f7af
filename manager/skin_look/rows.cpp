// Skin-look painting of a product line of the row list: its plate, picture, name, version, status
// and pill or lamp.
#include <cmath>

#include "gui/draw/clip_scope.h"
#include "manager/model/model.h"
#include "manager/skin_look/look.h"
#include "manager/view/view.h"

namespace tqapp {

using lumo::gui::Bitmap;
using lumo::gui::Canvas;
using lumo::gui::ClipScope;
using lumo::gui::Rect;

void SkinLook::plateRow(ManagerView& v, Canvas& canvas, const lumo::gui::AssetPack& pack, int i, double top) {
    const int32_t e = v.displayList_[size_t(i)];
    const int32_t ox = v.paintX_, oy = v.paintY_;
    const Rect listBox = v.listDeviceBox();
    const lumo::Json& m = *v.managerLayout_;
    const double rowBase = lumo::gui::jsonInt(m["row_base"], 0);
    const tqm::Row& r = v.model_->rows[size_t(e)];
    const lumo::Json& origin = m["sprite_origin"];
    const int32_t lx = lumo::gui::jsonInt(origin["looks"][0], 0), ly = lumo::gui::jsonInt(origin["looks"][1], 0);
    const int32_t ex = lumo::gui::jsonInt(origin["led"][0], 0), ey = lumo::gui::jsonInt(origin["led"][1], 0);
    const MainId line = mainPart(MainPart::Row, i), pill = mainPart(MainPart::RowPill, i);
    const int sel = v.selectedIndex();
    const char* state = i == sel                                                 ? "selected"
                        : v.pointer().isHover(line) || v.pointer().isHover(pill) ? "hover"
                                                                               : "normal";
    const lumo::Json& plateGain = m["row_plate_gain"][state];
    const double gain = plateGain.isNumber() ? plateGain.number : 1.0;
    const double sx = v.rowFirstX_ - lx, sy = top - ly;
    put(v, canvas, pack, "row_plate", sx, sy, v.listRect_, gain, false);
    put(v, canvas, pack, "row_recesses", sx, sy, v.listRect_, 1.0, false);

    ClipScope clip(canvas, listBox);
    if (const Bitmap* p = v.rowPicture(size_t(e), 1.0)) {
        const lumo::Json& at = m["row_thumb"];
        canvas.drawBitmap(*p, ox + v.dev(v.rowFirstX_ + lumo::gui::jsonInt(at[0], 0)),
                          oy + v.dev(top + lumo::gui::jsonInt(at[1], 0)), 1, 255);
    }

    const double b = top + rowBase;
    const Rect N = layoutRect(m["row_name"]), V = layoutRect(m["row_version"]);
    const Rect S = layoutRect(m["row_status"]), P = layoutRect(m["row_pill"]);
    const int32_t shift = v.xAxis_.shiftAt(v.rowFirstX_ + V.x + V.w * 0.5);
    const int32_t nameX = lumo::gui::jsonInt(m["row_name_x"], 0);
    v.text(canvas, pack, "val", r.name, v.rowFirstX_ + nameX, b, 'l', 0, "row_name",
         double(N.x) + N.w - nameX - 2 + shift, 1.0);

    // The version's recess lies a unit inside its column: a version wider than the recess, less a
    // margin of 2 units on its left, ends in "...".
    const std::string& version = r.entry ? r.entry->version : r.version;
    if (!version.empty())
        v.text(canvas, pack, "val", "v" + version, v.rowFirstX_ + V.x + shift, b, 'r', V.w - 6, "row", V.w - 9, 1.0);

    std::string status;
    const char* statusKey = v.rowStatus(r, status);
    const bool failed = v.model_->failed.count(r.id) > 0;
    v.text(canvas, pack, "val", status, v.rowFirstX_ + S.x + shift, b, 'c', S.w, statusKey, S.w - 2, 1.0);

    if (v.showsPill(r)) {
        // The pill is where the part table puts it; one the list hides whole is not in the table.
        const Rect home{v.rowFirstX_ + P.x + shift, int32_t(std::floor(top)) + P.y, P.w, P.h};
        Rect at = v.drawnRect(pill);
        if (at.w < 1) at = home;
        const char* word = failed ? "Retry" : r.state == tqm::State::Update ? "Update" : "Install";
        put(v, canvas, pack, look(v, pill, "row_pill_normal", "row_pill_hover", "row_pill_pressed"), sx + (at.x - home.x),
            sy + (at.y - home.y), v.listRect_, 1.0, false);
        v.centred(canvas, pack, "small", word, {at.x, at.y, at.w, at.h - 1}, "row_pill", 1.0);
    } else if (r.state == tqm::State::Installed || r.state == tqm::State::Update || r.state == tqm::State::Delisted) {
        put(v, canvas, pack, "row_led_on", v.rowFirstX_ - ex, top - ey, v.listRect_, 1.0, false);
    } else if (!v.model_->busyWith(r.id)) {
        put(v, canvas, pack, "row_led_off", v.rowFirstX_ - ex, top - ey, v.listRect_, 1.0, false);
    }
}

}  // namespace tqapp
