// Painting: the one paint entry of the main window, which sets the paint state every painter reads
// and runs the layout's "order" list from bottom to top; the row list's sequence and its empty
// message, the inspector's logo box, the fixed labels and the status line.
#include <cstdio>
#include <map>
#include <utility>

#include "manager/model/model.h"
#include "manager/view/view.h"
#include "gui/draw/clip_scope.h"

namespace tqapp {

using lumo::gui::ClipScope;
using lumo::gui::meet;

using lumo::gui::Canvas;
using lumo::gui::Rect;

namespace {

// Whether put() at (ox, oy) covers all of area with the opaque sprite: its segments each copy at least
// one source pixel and each starts where the one before ends.
bool opaqueOver(const lumo::gui::Sprite* s, const Axis& xAxis, const Axis& yAxis, double scale, int64_t ox,
                int64_t oy, Rect area) {
    if (area.empty()) return true;
    if (!s || !s->opaque || !s->image) return false;
    for (int k = 0; k < 2; ++k) {
        const std::vector<Axis::Seg> segs = k ? yAxis.segments(s->y, s->image->h, scale, true)
                                              : xAxis.segments(s->x, s->image->w, scale, true);
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

}  // namespace

void ManagerView::draw(const lumo::gui::Paint& p) {
    const lumo::gui::Assets& skin = managerSkin();
    const lumo::gui::AssetPack& pack = skin.pack(p.scale);
    paint = &p;
    paintScale = skin.packs.empty() ? p.scale : pack.scale;
    paintX = p.rect.x;
    paintY = p.rect.y;
    syncRows();
    Canvas& canvas = p.canvas;
    // Nothing of the window lands outside the canvas area, whatever clip the paint came with.
    ClipScope whole(canvas, canvas.area);
    if (look == 0) {
        // Where the page lies opaque over the whole paint area the fill would never show.
        if (!opaqueOver(pack.sprite("page"), xAxis, yAxis, paintScale, paintX, paintY, meet(p.rect, canvas.clip)))
            canvas.fillRect(p.rect, 0xFF0B0B0Bu);
        put(canvas, pack, "page", 0, 0, {}, 1.0, true);
    } else {
        devFrames(p);
    }
    for (const lumo::Json& entry : managerSkin().layout["order"].array()) {
        const std::string& kind = entry[0].string();
        const std::string& name = entry[1].string();
        if (look == 1) {
            if (kind == "over") continue;
            if (name.rfind("text:", 0) != 0 && name != "rows" && name != "logo") {
                devPart(p, name);
                continue;
            }
        } else if (kind == "over") {
            if (pack.sprite(name + "_b"))
                glass(canvas, pack, name);
            else
                put(canvas, pack, name, 0, 0, {}, 1.0, true);
            continue;
        }
        if (name == "rows")
            rows(canvas, pack);
        else if (name == "logo")
            logo(canvas, pack);
        else if (name.rfind("text:lbl_", 0) == 0)
            label(canvas, pack, name.substr(9));
        else if (name.rfind("text:", 0) == 0)
            inspectorText(canvas, pack, name.substr(5));
        else
            part(canvas, pack, name);
    }
    const Rect box = mapRect(layoutRect((*managerLayout)["status_text"]));
    text(canvas, pack, "val", statusText(), box.x, box.y + box.h - 5, 'l', 0, "status", box.w - 4, 1.0);
    paint = nullptr;
}

int ManagerView::selectedIndex() const {
    if (!model || selectedId.empty()) return -1;
    for (size_t i = 0; i < displayList.size(); ++i) {
        const int32_t e = displayList[i];
        if (e >= 0 && size_t(e) < model->rows.size() && model->rows[size_t(e)].id == selectedId) return int(i);
    }
    return -1;
}

void ManagerView::rows(Canvas& canvas, const lumo::gui::AssetPack& pack) {
    if (!displayList.empty()) {
        const int sel = selectedIndex();
        for (int i = 0; i < int(displayList.size()); ++i)
            if (i != sel) row(canvas, pack, i);
        // The selected line goes last, over both its neighbours.
        if (sel >= 0) row(canvas, pack, sel);
        return;
    }
    const char* message = "No plugins";
    if (model && model->loading)
        message = "Loading the catalog...";
    else if (model && model->catalog && !model->catalog->ok)
        message = "No catalog";
    text(canvas, pack, "val", message, listRect.x, listRect.y + 40, 'c', listRect.w, "row", 0, 1.0);
}

void ManagerView::logo(Canvas& canvas, const lumo::gui::AssetPack& pack) {
    const tqm::Row* row = selected();
    if (!row) return;
    const Rect box = mapRect(layoutRect((*managerLayout)["logo_view"]));
    const auto art = model->pictures.find(row->id);
    if (art != model->pictures.end()) {
        char key[32];
        std::snprintf(key, sizeof key, "%gx", paintScale);
        const auto it = art->second.logo.find(key);
        if (it != art->second.logo.end() && !it->second.empty() &&
            it->second.pixels.size() >= size_t(it->second.w) * size_t(it->second.h)) {
            const lumo::gui::Bitmap& b = it->second;
            canvas.drawBitmap(b, dev(box.x) + paintX + (dev(box.w) - b.w) / 2,
                              dev(box.y) + paintY + (dev(box.h) - b.h) / 2, 1, 255);
            return;
        }
    }
    text(canvas, pack, "val", row->name, box.x, box.y + box.h / 2 + 4, 'c', box.w, "title", 0, 1.0);
}

void ManagerView::label(Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& key) {
    // Font and text of every fixed label.
    static const std::map<std::string, std::pair<const char*, const char*>> kLabels = {
        {"title", {"head", "ARDUNE SYSTEMS"}}, {"col_name", {"small", "Name"}},
        {"col_version", {"bold", "Version"}}, {"col_status", {"bold", "Status"}},
        {"col_action", {"bold", "Action"}},   {"inspect", {"bold", "INSPECT"}},
        {"manage", {"bold", "MANAGE"}},       {"more", {"small", "More"}},
        {"open", {"small", "Open"}},          {"update_all", {"pill", "UPDATE ALL"}},
        {"account", {"pill", "ACCOUNT"}},
    };
    // Labels that sit on a button: they take the button's x and width.
    static const std::map<std::string, std::string> kOn = {
        {"update_all", "update_all_normal"}, {"account", "account_normal"}, {"col_name", "sort_pill_normal"}};
    const auto found = kLabels.find(key);
    if (found == kLabels.end()) return;
    const auto [font, words] = found->second;
    const lumo::Json& box0 = (*managerLayout)["labels"][key];
    Rect box = mapRect(boxRect(box0));
    const std::string colour = "lbl_" + key;
    if (key == "title") {
        const lumo::gui::BitmapFont* f = fontOf(pack, "head");
        if (!f) return;
        const double y = box.y + box.h * 0.5 + f->cap_height / paintScale * 0.5;
        text(canvas, pack, "head", words, look == 1 ? 8 : box.x, y, 'l', 0, colour.c_str(), 0, 1.0);
        return;
    }
    if (const auto on = kOn.find(key); on != kOn.end()) {
        const Rect s = spriteRect(on->second);
        box.x = s.x;
        box.w = s.w;
        if (pressedHit == key && hoverHit == key) box.y += 1;
    }
    if (key == "more" || key == "open") box = shiftRect(boxRect(box0));
    std::string shown = words;
    if (look == 1) {
        if (key == "update_all" || key == "more" || key == "open" || key == "account" || key.rfind("col_", 0) == 0)
            return;
        if (key == "inspect") box = mapRect({310, 30, 110, 17});
        shown = upper(shown);
    }
    centred(canvas, pack, font, shown, box, colour.c_str(), 1.0);
}

}  // namespace tqapp
