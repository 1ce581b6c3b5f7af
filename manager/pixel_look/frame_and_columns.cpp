// The pixel look's geometry and frame: its own boxes and list columns over the layout page, the
// device mapping of layout rectangles, the frames and rules of the window, the column headers and
// the row lamp.
#include <algorithm>
#include <cmath>
#include <map>

#include "manager/pixel_look/primitives.h"
#include "manager/pixel_look/look.h"
#include "manager/view/view.h"

namespace tqapp {
namespace {

using lumo::gui::Rect;

// The pixel look's own boxes, in design units of the page.
const std::map<std::string, Rect>& boxes() {
    static const std::map<std::string, Rect> kBoxes = {
        {"main_pill", {318, 210, 58, 15}}, {"more", {378, 210, 36, 15}},  {"path", {318, 265, 57, 16}},
        {"open", {377, 265, 37, 16}},      {"sb:up", {297, 50, 9, 8}},    {"sb:down", {297, 306, 9, 8}},
        {"cap:sb", {298, 197, 7, 24}},     {"update_all", {313, 316, 86, 15}}, {"account", {401, 316, 16, 15}},
    };
    return kBoxes;
}


// The inspector's picture well, in design units.
constexpr Rect kWell{317, 53, 97, 75};

}  // namespace

bool PixelLook::hasDevBox(const std::string& name) { return boxes().count(name) != 0; }

Rect PixelLook::devBox(const ManagerView& v, const std::string& name) {
    const auto it = boxes().find(name);
    return it == boxes().end() ? Rect{} : v.mapRect(it->second);
}

Rect PixelLook::devRect(const ManagerView& v, Rect r) {
    const double s = v.paintScale_;
    auto at = [s](double v) { return int32_t(std::floor(v * s + 1e-9)); };
    const int32_t x0 = at(r.x), y0 = at(r.y), x1 = at(double(r.x) + r.w), y1 = at(double(r.y) + r.h);
    return {v.paintX_ + x0, v.paintY_ + y0, x1 - x0, y1 - y0};
}

Rect PixelLook::dotted(const ManagerView& v, Rect design, Rect logical) {
    Rect d = devRect(v, logical);
    const int u = dev::one(v.paintScale_);
    if (design.w == 1) d.w = u;
    if (design.h == 1) d.h = u;
    return d;
}

double PixelLook::devUnderWell(const ManagerView& v, const lumo::gui::AssetPack& pack) {
    const lumo::gui::BitmapFont* f = v.fontOf(pack, "val");
    if (!f || !(v.paintScale_ > 0)) return 0;
    const Rect well = v.mapRect(kWell);
    const int foot = int(std::floor((double(well.y) + well.h) * v.paintScale_ + 1e-9));
    return double(foot + f->cap_height) / v.paintScale_;
}

Rect PixelLook::devCol(const ManagerView& v, int index) { return devCol(v.xAxis_, index); }

Rect PixelLook::devCol(const Axis& xAxis, int index) {
    index = std::clamp(index, 0, 3);
    auto stretched = [&xAxis](double e) {
        double out = e;
        for (const Axis::Band& b : xAxis.bands) {
            if (e >= b.pos + b.len)
                out += b.extra;
            else if (e > b.pos)
                out += (e - b.pos) * b.extra / b.len;
        }
        return std::lround(out);
    };
    const long x0 = stretched(kDevEdges[index]), x1 = stretched(kDevEdges[index + 1]);
    return {int32_t(x0), 31, int32_t(x1 - x0), 17};
}

std::vector<std::pair<std::string, Rect>> PixelLook::devColumns(const ManagerView& v) {
    std::vector<std::pair<std::string, Rect>> out;
    for (int i = 0; i < 4; ++i) out.emplace_back(kColumnKeys[i], devCol(v, i));
    return out;
}

Rect PixelLook::devRowButton(const ManagerView& v, int rowTop) {
    const Rect pill = layoutRect((*v.managerLayout_)["row_pill"]);
    const Rect action = devCol(v, 3);
    return {action.x + action.w - 57, rowTop + pill.y + 1, 52, pill.h - 2};
}

void PixelLook::devRowLamp(const ManagerView& v, lumo::gui::Canvas& canvas, Rect logical, bool on, bool selected) {
    const Rect r = devRect(v, logical);
    const int u = dev::one(v.paintScale_), side = 5 * u;
    const Rect sq{r.x + (r.w - side) / 2, r.y + (r.h - side) / 2, side, side};
    const lumo::gui::Color c = selected ? dev::bg : on ? dev::cream : dev::rule;
    if (on)
        canvas.fillRect(sq, c);
    else
        canvas.strokeRect(sq, c, u);
}

void PixelLook::devFrames(const ManagerView& v, const lumo::gui::Paint& p) {
    lumo::gui::Canvas& c = p.canvas;
    const int u = dev::one(v.paintScale_);
    // A rule one design unit across is one dot across at every scale.
    auto fill = [&](Rect design, lumo::gui::Color color) { c.fillRect(dotted(v, design, v.mapRect(design)), color); };
    auto outline = [&](Rect design) { c.strokeRect(devRect(v, v.mapRect(design)), dev::rule, u); };

    c.fillRect(p.rect, dev::bg);
    fill({0, 25, v.pageWidth_, 1}, 0x6ECBDEE5u);  // under the title strip
    c.strokeRect(devRect(v, v.bounds), dev::rule, u);
    outline({4, 30, 303, 285});                // the list
    fill({4, 48, 303, 1}, dev::rule);          // under the headers
    fill({296, 48, 1, 267}, dev::rule);        // left of the scrollbar
    outline({3, 317, 304, 22});                // the status line
    outline({309, 29, 112, 311});              // the inspector
    fill({310, 30, 110, 17}, dev::pressedFill);
    fill(kWell, 0xFF131111u);                  // the picture well
    outline(kWell);
    outline({314, 136, 104, 55});              // the description
    outline({313, 194, 104, 98});              // the formats
    fill({314, 195, 102, 13}, dev::pressedFill);
    c.strokeRect(devRect(v, devBox(v, "path")), dev::rule, u);
    outline({313, 294, 104, 18});              // the bottom buttons
}

void PixelLook::devHeaders(const ManagerView& v, const lumo::gui::Paint& p) {
    const lumo::gui::BitmapFont* f = v.fontOf(managerSkin().pack(v.paintScale_), "bold");
    if (!f) return;
    lumo::gui::Canvas& c = p.canvas;
    const double s = v.paintScale_;
    for (int i = 0; i < 4; ++i) {
        // The sortable headers are parts; the action column's is only a label.
        const std::string column = kColumnKeys[i];
        const MainId id = mainPart(MainPart::Column, i);
        const Rect box = i < 3 ? v.partRect(id) : devCol(v, i);
        if (i < 3) {
            const Rect wash{box.x + 1, box.y, box.w - 1, box.h};
            if (v.pointer().isPressed(id))
                c.fillRect(devRect(v, wash), dev::pressedFill);
            else if (v.pointer().isHover(id))
                c.fillRect(devRect(v, wash), dev::hoverWash);
        }
        if (column != "name") {
            const Rect separator{box.x, box.y + 2, 1, box.h - 4};
            c.fillRect(dotted(v, separator, separator), dev::rule);
        }

        const bool sorted = column == v.sortColumn_;
        const lumo::gui::Color ink = sorted ? dev::cream : dev::wave;
        const std::string label = upper(column);
        const Rect d = devRect(v, box);
        const int baseline = f->line_height >= 1 ? d.y + (d.h - f->line_height) / 2 + f->ascent
                                                 : d.y + (d.h + f->cap_height) / 2;
        const int width = f->width(label);
        const int pen = column == "name" ? d.x + int(std::lround(4 * s)) + int(std::lround(2 * s))
                                         : d.x + d.w - int(std::lround(5 * s)) - width;
        f->draw(c, pen, baseline, label, &ink);
        if (!sorted) continue;
        const int u = dev::one(s);
        const int arrowX = column == "name" ? pen + width + 2 * u : pen - 7 * u;
        dev::arrow(p, Rect{arrowX, d.y, 5 * u, d.h}, v.sortAscending_ ? 'd' : 'u', ink);
    }
}

}  // namespace tqapp
