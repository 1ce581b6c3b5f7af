// Skin-look painting of one line of the row list: a group header with its rule, or a product row
// with its plate, picture, name, version, status and pill or lamp; and the row pictures resized once
// per scale when the catalog has none for it.
#include <cmath>
#include <cstdio>

#include "manager/pixel_look/primitives.h"
#include "manager/model/model.h"
#include "manager/view/view.h"
#include "gui/draw/clip_scope.h"

namespace tqapp {

using lumo::gui::ClipScope;

using lumo::gui::Bitmap;
using lumo::gui::Canvas;
using lumo::gui::Rect;

namespace {

bool usable(const Bitmap& b) { return !b.empty() && b.pixels.size() >= size_t(b.w) * size_t(b.h); }

// The status word of a row and its colour key, by state.
std::pair<const char*, const char*> statusOf(tqm::State state) {
    switch (state) {
        case tqm::State::Absent: return {"Get", "row"};
        case tqm::State::Installed: return {"Installed", "row"};
        case tqm::State::Update: return {"Update", "row_status_update"};
        case tqm::State::NeedsManager: return {"Needs app", "row"};
        case tqm::State::Unavailable: return {"Not here", "row"};
        case tqm::State::Delisted: return {"Delisted", "row"};
    }
    return {"", "row"};
}

}  // namespace

const char* ManagerView::rowStatus(const tqm::Row& r, std::string& status) const {
    if (model && model->busy && model->jobIds.count(r.id)) {
        status = shortProgress();
        return "row_status_update";
    }
    if (model && model->failed.count(r.id)) {
        status = "Error";
        return "row_status_update";
    }
    const auto [word, key] = statusOf(r.state);
    status = word;
    return key;
}

const Bitmap* ManagerView::rowThumb(const std::string& id, double k) {
    if (!model) return nullptr;
    const auto art = model->pictures.find(id);
    if (art == model->pictures.end()) return nullptr;
    char label[16];
    std::snprintf(label, sizeof label, "%gx", paintScale * k);
    const auto exact = art->second.row.find(label);
    if (exact != art->second.row.end() && usable(exact->second)) return &exact->second;
    Bitmap& cached = thumbCache[id + "@" + label];
    if (usable(cached)) return &cached;
    const lumo::Json& size = (*managerLayout)["row_thumb"];
    const double W = size[2].isNumber() ? size[2].number : 68, H = size[3].isNumber() ? size[3].number : 12;
    const long w = std::lround(W * paintScale * k), h = std::lround(H * paintScale * k);
    const Bitmap *best = nullptr, *widest = nullptr;
    for (const auto& [key, b] : art->second.row) {
        if (!usable(b)) continue;
        if (b.w >= w && (!best || b.w < best->w)) best = &b;
        if (!widest || b.w > widest->w) widest = &b;
    }
    const Bitmap* source = best ? best : widest;
    if (!source || w < 1 || h < 1 || w > 1 << 14 || h > 1 << 14) return nullptr;
    cached = boxResize(*source, int(w), int(h));
    return &cached;
}

void ManagerView::row(Canvas& canvas, const lumo::gui::AssetPack& pack, int i) {
    if (!model || i < 0 || size_t(i) >= displayList.size()) return;
    const int32_t e = displayList[size_t(i)];
    // A stale entry (rows replaced since the list was made) is never painted.
    if (e >= 0 && size_t(e) >= model->rows.size()) return;
    const double top = double(rowFirstY) + double(i) * rowPitch - scroll;
    if (top + rowPitch < listRect.y || top > double(listRect.y) + listRect.h) return;
    const int32_t ox = paintX, oy = paintY;
    const Rect listBox{dev(listRect.x) + ox, dev(listRect.y) + oy,
                       dev(double(listRect.x) + listRect.w) - dev(listRect.x),
                       dev(double(listRect.y) + listRect.h) - dev(listRect.y)};
    const lumo::Json& m = *managerLayout;
    const double rowBase = lumo::gui::jsonInt(m["row_base"], 0);

    if (e < 0) {
        ClipScope clip(canvas, listBox);
        const char* word = e == kAppsHeader ? "APPS" : "PLUGINS";
        const double b = top + rowBase;
        text(canvas, pack, "bold", word, rowFirstX + 4, b, 'l', 0, "lbl_col_version", 0, 1.0);
        if (const lumo::gui::BitmapFont* f = fontOf(pack, "bold")) {
            const double x0 = rowFirstX + std::ceil(f->width(word) / paintScale) + 8;
            const double x1 = double(std::lround(xAxis.map(look == 1 ? 293 : 290)));
            if (x0 < x1)
                canvas.fillRect({ox + dev(x0), oy + dev(b - 3), dev(x1) - dev(x0),
                                 look == 1 ? dev::one(paintScale) : dev(b - 2) - dev(b - 3)},
                                look == 1 ? dev::rule : 0x28FFFFFFu);
        }
        return;
    }
    // The pixel look's lines are drawn in its own columns, by its own painter.
    if (look != 0) {
        devRow(canvas, pack, i, top);
        return;
    }

    const tqm::Row& r = model->rows[size_t(e)];
    const lumo::Json& origin = m["sprite_origin"];
    const int32_t lx = lumo::gui::jsonInt(origin["looks"][0], 0), ly = lumo::gui::jsonInt(origin["looks"][1], 0);
    const int32_t ex = lumo::gui::jsonInt(origin["led"][0], 0), ey = lumo::gui::jsonInt(origin["led"][1], 0);
    const std::string hit = "row:" + std::to_string(i), pillHit = "rowpill:" + std::to_string(i);
    const int sel = selectedIndex();
    const char* state = i == sel ? "selected" : (hoverHit == hit || hoverHit == pillHit) ? "hover" : "normal";
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
        const char* word = failed ? "Retry" : r.state == tqm::State::Update ? "Update" : "Install";
        put(canvas, pack, lookFor(pillHit, "row_pill_normal", "row_pill_hover", "row_pill_pressed"), sx, sy, listRect,
            1.0, false);
        centred(canvas, pack, "small", word, {rowFirstX + P.x + shift, int32_t(std::floor(top)) + P.y, P.w, P.h - 1},
                "row_pill", 1.0);
    } else if (r.state == tqm::State::Installed || r.state == tqm::State::Update || r.state == tqm::State::Delisted) {
        put(canvas, pack, "row_led_on", rowFirstX - ex, top - ey, listRect, 1.0, false);
    } else if (!model->busyWith(r.id)) {
        put(canvas, pack, "row_led_off", rowFirstX - ex, top - ey, listRect, 1.0, false);
    }
}

}  // namespace tqapp
