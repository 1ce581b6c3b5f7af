// Skin-look painting of a product line of the row list: its plate, picture, name, version, status
// and pill or lamp.
#include <cmath>

#include "manager/model/model.h"
#include "manager/view/view.h"
#include "gui/draw/clip_scope.h"

namespace tqapp {

using lumo::gui::ClipScope;

using lumo::gui::Bitmap;
using lumo::gui::Canvas;
using lumo::gui::Rect;

void ManagerView::plateRow(Canvas& canvas, const lumo::gui::AssetPack& pack, int i, double top) {
    const int32_t e = displayList[size_t(i)];
    const int32_t ox = paintX, oy = paintY;
    const Rect listBox = listDeviceBox();
    const lumo::Json& m = *managerLayout;
    const double rowBase = lumo::gui::jsonInt(m["row_base"], 0);
    const tqm::Row& r = model->rows[size_t(e)];
    const lumo::Json& origin = m["sprite_origin"];
    const int32_t lx = lumo::gui::jsonInt(origin["looks"][0], 0), ly = lumo::gui::jsonInt(origin["looks"][1], 0);
    const int32_t ex = lumo::gui::jsonInt(origin["led"][0], 0), ey = lumo::gui::jsonInt(origin["led"][1], 0);
    const MainId line = mainPart(MainPart::Row, i), pill = mainPart(MainPart::RowPill, i);
    const int sel = selectedIndex();
    const char* state = i == sel                                                 ? "selected"
                        : pointer().isHover(line) || pointer().isHover(pill) ? "hover"
                                                                               : "normal";
    const lumo::Json& plateGain = m["row_plate_gain"][state];
    const double gain = plateGain.isNumber() ? plateGain.number : 1.0;
    const double sx = rowFirstX - lx, sy = top - ly;
    put(canvas, pack, "row_plate", sx, sy, listRect, gain, false);
    put(canvas, pack, "row_recesses", sx, sy, listRect, 1.0, false);

    ClipScope clip(canvas, listBox);
    if (const Bitmap* p = rowThumb(r.id, 1.0)) {
        const lumo::Json& at = m["row_thumb"];
        canvas.drawBitmap(*p, ox + dev(rowFirstX + lumo::gui::jsonInt(at[0], 0)),
                          oy + dev(top + lumo::gui::jsonInt(at[1], 0)), 1, 255);
    }

    const double b = top + rowBase;
    const Rect N = layoutRect(m["row_name"]), V = layoutRect(m["row_version"]);
    const Rect S = layoutRect(m["row_status"]), P = layoutRect(m["row_pill"]);
    const int32_t shift = xAxis.shiftAt(rowFirstX + V.x + V.w * 0.5);
    const int32_t nameX = lumo::gui::jsonInt(m["row_name_x"], 0);
    text(canvas, pack, "val", r.name, rowFirstX + nameX, b, 'l', 0, "row_name",
         double(N.x) + N.w - nameX - 2 + shift, 1.0);

    // A version wider than its column ends in "..." rather than running into the name.
    const std::string& version = r.entry ? r.entry->version : r.version;
    if (!version.empty())
        text(canvas, pack, "val", "v" + version, rowFirstX + V.x + shift, b, 'r', V.w - 6, "row", V.w - 6, 1.0);

    std::string status;
    const char* statusKey = rowStatus(r, status);
    const bool failed = model->failed.count(r.id) > 0;
    text(canvas, pack, "val", status, rowFirstX + S.x + shift, b, 'c', S.w, statusKey, S.w - 2, 1.0);

    if (showsPill(r)) {
        // The pill is where the part table puts it; one the list hides whole is not in the table.
        const Rect home{rowFirstX + P.x + shift, int32_t(std::floor(top)) + P.y, P.w, P.h};
        Rect at = drawnRect(pill);
        if (at.w < 1) at = home;
        const char* word = failed ? "Retry" : r.state == tqm::State::Update ? "Update" : "Install";
        put(canvas, pack, look(pill, "row_pill_normal", "row_pill_hover", "row_pill_pressed"), sx + (at.x - home.x),
            sy + (at.y - home.y), listRect, 1.0, false);
        centred(canvas, pack, "small", word, {at.x, at.y, at.w, at.h - 1}, "row_pill", 1.0);
    } else if (r.state == tqm::State::Installed || r.state == tqm::State::Update || r.state == tqm::State::Delisted) {
        put(canvas, pack, "row_led_on", rowFirstX - ex, top - ey, listRect, 1.0, false);
    } else if (!model->busyWith(r.id)) {
        put(canvas, pack, "row_led_off", rowFirstX - ex, top - ey, listRect, 1.0, false);
    }
}

}  // namespace tqapp
