// Text shared by both looks: layout lengths in device pixels (dev), a line of bitmap-font text
// (text, centred) in the look's colours (ink), the format slots' labels, and the inspector's texts
// (name, wrapped description, shown folder shortened from the front).
#include <algorithm>
#include <climits>
#include <cmath>

#include "gui/draw/clip_scope.h"
#include "manager/model/model.h"
#include "manager/view/view.h"

namespace tqapp {

using lumo::gui::Canvas;
using lumo::gui::ClipScope;
using lumo::gui::Color;
using lumo::gui::Rect;

namespace {

constexpr const char* kIS = "Ardune Systems Manager/Inspector Section";

}  // namespace

int32_t ManagerView::dev(double v) const {
    const double d = std::floor(v * paintScale_ + 1e-9);
    if (!(d > double(INT32_MIN))) return INT32_MIN;  // NaN too
    return d < double(INT32_MAX) ? int32_t(d) : INT32_MAX;
}

Rect ManagerView::listDeviceBox() const {
    return {dev(listRect_.x) + paintX_, dev(listRect_.y) + paintY_, dev(double(listRect_.x) + listRect_.w) - dev(listRect_.x),
            dev(double(listRect_.y) + listRect_.h) - dev(listRect_.y)};
}

void ManagerView::text(Canvas& canvas, const lumo::gui::AssetPack& pack, const char* font, std::string s, double x,
                       double y, char align, double w, const char* colorKey, double maxWidth, double gain) {
    const lumo::gui::BitmapFont* f = fontOf(pack, font);
    if (!f) return;
    int32_t width = -1;  // measured once when it is needed
    if (maxWidth > 0) {
        const int limit = dev(maxWidth);
        width = f->width(s);
        if (width > limit) {
            s = f->fit(s, limit);
            width = -1;
        }
    }
    int32_t px = dev(x);
    if (align != 'l') {
        const int32_t room = dev(w) - (width >= 0 ? width : f->width(s));
        px += align == 'c' ? room / 2 : room;
    }
    Color colour = colorKey ? ink(colorKey) : 0xFFFFFFFFu;
    if (!(gain == 1.0)) {
        Color out = colour & 0xFF000000u;
        for (int shift = 0; shift <= 16; shift += 8) {
            const double v = std::clamp(double(colour >> shift & 0xFF) * gain, 0.0, 255.0);
            out |= uint32_t(std::isnan(v) ? 0.0 : v) << shift;
        }
        colour = out;
    }
    f->draw(canvas, px + paintX_, dev(y) + paintY_, s, &colour);
}

void ManagerView::centred(Canvas& canvas, const lumo::gui::AssetPack& pack, const char* font, const std::string& s,
                          Rect box, const char* colorKey, double gain) {
    const lumo::gui::BitmapFont* f = fontOf(pack, font);
    if (!f) return;
    const double y = box.y + (box.h + f->cap_height / paintScale_) * 0.5;
    text(canvas, pack, font, s, box.x, y, 'c', box.w, colorKey, 0, gain);
}

Color ManagerView::ink(const std::string& key) const { return look_->ink(*this, key); }

void ManagerView::slotLabel(Canvas& canvas, const lumo::gui::AssetPack& pack, const tqm::Row* row,
                            const std::string& slot, const char* colorKey, double gain) {
    // A label may be wider than its slot's box ("AU" is): it may take the row up to 2 units short of
    // the nearest other label's centre, and a companion's name longer than that ends in "...".
    const lumo::Json& boxes = (*managerLayout_)["label_formats"];
    const Rect box = shiftRect(boxRect(boxes[slot]));
    const double centre = box.x + box.w * 0.5;
    double nearest = 0;
    for (const auto& [other, value] : boxes.object()) {
        const Rect o = shiftRect(boxRect(value));
        const double d = std::abs(o.x + o.w * 0.5 - centre);
        if (other != slot && (nearest == 0 || d < nearest)) nearest = d;
    }
    // Nor beyond the inspector's inside (the description box's sides).
    const Rect inside = mapRect(layoutRect((*managerLayout_)["desc_view"]));
    nearest = std::min({nearest, 2 * (centre - inside.x), 2 * (inside.x + inside.w - centre)});
    const int room = std::max(box.w, int(nearest) - 2);
    const Rect wide{int(std::lround(centre - room * 0.5)), box.y, room, box.h};
    std::string title = slotTitle(row, slot);
    if (const lumo::gui::BitmapFont* f = fontOf(pack, "small")) title = f->fit(title, dev(wide.w));
    centred(canvas, pack, "small", title, wide, colorKey, gain);
}

void ManagerView::inspectorText(Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& key) {
    const tqm::Row* row = selected();
    const std::string is = kIS;
    if (key == "title" && row) {
        const std::string path = is + "/Plugin Info Title Mockup";
        const Rect D = mapRect(layoutRect((*managerLayout_)["desc_view"]));
        const double y = look_->titleBaseline(*this, pack, base(path));
        text(canvas, pack, "val", row->name, left(path), y, 'l', 0, "title", D.x + D.w - left(path) - 2, 1.0);
    } else if (key == "desc" && row) {
        const std::string path = is + "/Plugin Description Mockup";
        const Rect D = mapRect(layoutRect((*managerLayout_)["desc_view"]));
        const std::string words =
            row->entry ? row->entry->description
                       : std::string("No longer in the catalog. It stays installed until you remove it.");
        ClipScope clip(canvas, {dev(D.x) + paintX_, dev(D.y) + paintY_, dev(double(D.x) + D.w) - dev(D.x),
                                dev(double(D.y) + D.h) - dev(D.y)});
        const lumo::Json& baseValue = (*layoutRects_)[path]["base"];
        const double y0 = 3 + (baseValue.isNumber() ? baseValue.number : 0.0);
        std::vector<std::string> lines = wrap(pack, words, D.w - 4);
        // Only whole lines are drawn; the last one ends in "..." when more text is left.
        if (const lumo::gui::BitmapFont* f = fontOf(pack, "val")) {
            const double below = std::abs(f->descent) / paintScale_;
            size_t fit = 0;
            while (fit < lines.size() && y0 + 11.0 * double(fit) + below <= D.y + D.h) ++fit;
            if (fit > 0 && fit < lines.size()) {
                std::string& last = lines[fit - 1];
                while (!last.empty() && (last.back() == ' ' || f->width(last + "...") > dev(D.w - 4))) last.pop_back();
                last += "...";
            }
            lines.resize(fit);
        }
        for (size_t n = 0; n < lines.size(); ++n)
            text(canvas, pack, "val", lines[n], left(path), y0 + 11.0 * double(n), 'l', 0, "desc", 0, 1.0);
    } else if (key == "path") {
        const std::string mock = is + "/Installation Section/Installation Controls/Filepath Mockup";
        double x = 0;
        const Rect V = look_->pathBox(*this, x);
        std::string t = shownDir();
        if (const lumo::gui::BitmapFont* f = fontOf(pack, "val")) {
            const int limit = dev(V.x + V.w - x - 4);
            if (f->width(t) > limit) {
                // The end names the folder: the front gives way. Widths are summed, not measured again.
                const int dots = f->width("...");
                int width = f->width(t);
                size_t from = 0;
                // Whole characters give way, and at least one stays.
                while (dots + width > limit) {
                    size_t next = from;
                    const int32_t w = f->advanceAt(t, next);
                    if (next >= t.size()) break;
                    width -= w;
                    from = next;
                }
                t = "..." + t.substr(from);
            }
        }
        text(canvas, pack, "val", t, x, base(mock), 'l', 0, "path", 0, 1.0);
    }
}

}  // namespace tqapp
