// Coordinate spaces of the widget trees and the dirty-rectangle list.
#include <algorithm>
#include <cmath>

#include "gui/editor.h"
#include "gui/place.h"

namespace lumo::gui {

namespace {

constexpr size_t kMaxDirty = 4;

Rect boundingBox(const Rect& a, const Rect& b) {
    int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    int x1 = std::max(a.x + a.w, b.x + b.w), y1 = std::max(a.y + a.h, b.y + b.h);
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

}  // namespace

std::pair<double, int> Editor::spaceOf(const Widget* w) const {
    const Widget* top = w;
    while (top && top->parent) top = top->parent;
    if (top && top == header_.get()) return {scale_, 0};
    int i = overlayOfRoot(top);
    if (i >= 0 && overlays_[size_t(i)].unzoomed) return {scale_, 0};
    return {bodyScale(), headerPixelHeight()};
}

Rect Editor::deviceRect(const Widget* w, Rect r) const {
    auto [f, yOffset] = spaceOf(w);
    std::vector<const Widget*> chain;
    for (const Widget* p = w; p; p = p->parent) chain.push_back(p);
    Place place = treeOrigin(yOffset);
    for (size_t i = chain.size(); i-- > 0;) place = placeOf(*chain[i], place, f, exactEdges_);
    if (r.x == 0 && r.y == 0 && r.w == w->bounds.w && r.h == w->bounds.h) return place.device;

    Rect d = deviceOf(place, r, f, exactEdges_);
    int pad = int(std::ceil(f));
    d = Rect{d.x - pad, d.y - pad, d.w + 2 * pad, d.h + 2 * pad};
    Rect out = intersect(d, place.device);
    if (out.w <= 0 || out.h <= 0) return Rect{out.x, out.y, 0, 0};
    return out;
}

void Editor::requestRepaintArea(Rect r) {
    if (fullRepaint_) return;
    r = intersect(r, Rect{0, 0, pixelWidth(), pixelHeight()});
    if (r.w <= 0 || r.h <= 0) return;
    bool merged = false;
    for (Rect& e : dirty_) {
        if (!overlapsStrictly(r, e)) continue;
        e = e.empty() ? r : boundingBox(e, r);
        merged = true;
        break;
    }
    if (!merged) dirty_.push_back(r);
    if (dirty_.size() > kMaxDirty) {
        Rect box{0, 0, 0, 0};
        bool any = false;
        for (const Rect& e : dirty_) {
            if (e.empty()) continue;
            box = any ? boundingBox(box, e) : e;
            any = true;
        }
        dirty_.assign(1, box);
    }
}

}  // namespace lumo::gui
