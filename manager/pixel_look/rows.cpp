// The pixel look's product line: a flat plate for the selected or hovered line, the row picture,
// name, version and status in the four list columns, and the action button or a lamp.
#include <algorithm>
#include <cmath>

#include "manager/pixel_look/primitives.h"
#include "manager/model/model.h"
#include "manager/view/view.h"
#include "gui/draw/clip_scope.h"

namespace tqapp {

using lumo::gui::ClipScope;

using lumo::gui::Rect;

void ManagerView::devRow(lumo::gui::Canvas& canvas, const lumo::gui::AssetPack& pack, int i, double top) {
    const int32_t e = displayList[size_t(i)];
    const tqm::Row& r = model->rows[size_t(e)];
    const int32_t ox = paintX, oy = paintY;
    const Rect listBox = listDeviceBox();
    const MainId pill = mainPart(MainPart::RowPill, i);
    const bool sel = i == selectedIndex();
    const bool hover = !sel && (pointer().isHover(mainPart(MainPart::Row, i)) || pointer().isHover(pill));

    // Plate: from just left of the line to the scrollbar's rule, the 2-unit gap below left open.
    const double x0 = std::max<double>(rowFirstX - 2, listRect.x);
    const double x1 = std::min<double>(double(listRect.x) + listRect.w, double(std::lround(xAxis.map(295))));
    const double y0 = std::max<double>(top, listRect.y);
    const double y1 = std::min<double>(double(listRect.y) + listRect.h, top + rowPitch - 2);
    if (sel || hover) {
        const Rect plate{ox + dev(x0), oy + dev(y0), std::max(0, dev(x1) - dev(x0)), std::max(0, dev(y1) - dev(y0))};
        canvas.fillRect(plate, sel ? dev::cream : dev::pressedFill);
    }

    ClipScope clip(canvas, listBox);
    if (const lumo::gui::Bitmap* picture = rowThumb(r.id, 1.5))
        canvas.drawBitmap(*picture, ox + dev(rowFirstX + 4), oy + dev(top) + (dev(rowPitch - 2) - picture->h) / 2, 1,
                          255);

    const double b = top + lumo::gui::jsonInt((*managerLayout)["row_base"], 0);
    constexpr int32_t kNameX = 111;
    const Rect c0 = devCol(0), c1 = devCol(1), c2 = devCol(2);
    double limit = double(c0.x) + c0.w - (rowFirstX + kNameX) - 3;
    if (limit < 2) limit = 1;
    text(canvas, pack, "val", r.name, rowFirstX + kNameX, b, 'l', 0, sel ? "row_sel" : "row_name", limit, 1.0);

    const std::string& version = r.entry ? r.entry->version : r.version;
    if (!version.empty())
        text(canvas, pack, "val", "v" + version, c1.x, b, 'r', c1.w - 5, sel ? "row_sel" : "row", c1.w - 7, 1.0);

    std::string status;
    const char* statusKey = rowStatus(r, status);
    text(canvas, pack, "val", status, c2.x, b, 'r', c2.w - 5, sel ? "row_sel" : statusKey, c2.w - 7, 1.0);

    // The lamp's place; the button is where the part table puts it (one the list hides whole is not there).
    Rect button = devRowButton(int32_t(std::floor(top)));
    if (showsPill(r)) {
        if (const Rect at = drawnRect(pill); at.w > 0) button = at;
        const bool failed = model->failed.count(r.id) > 0;
        const char* word = failed ? "RETRY" : r.state == tqm::State::Update ? "UPDATE" : "INSTALL";
        const bool down = held(pill);
        dev::button(*paint, devRect(button), hot(pill), down, true);
        centred(canvas, pack, "small", word, {button.x, down ? button.y : button.y - 1, button.w, button.h + 1},
                "row_pill", 1.0);
    } else if (r.state == tqm::State::Installed || r.state == tqm::State::Update || r.state == tqm::State::Delisted) {
        devRowLamp(canvas, button, true, sel);
    } else if (!model->busyWith(r.id)) {
        devRowLamp(canvas, button, false, sel);
    }
}

}  // namespace tqapp
