// Painting: the full paint, the partial paint of the dirty rectangles with the opaque-cover
// shortcut, the clipped tree walk, popup canvases with rounded corners, and the hit-map diagnostic.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "gui/editor.h"
#include "gui/place.h"

namespace lumo::gui {

namespace {

constexpr Rect kNoClip{0, 0, -1, -1};
constexpr int kPartialPadding = 12;  // logical units a widget's rectangle is grown by in a partial paint

bool hitMapOn() {
    static const bool on = std::getenv("LUMO_HITMAP") != nullptr;
    return on;
}

Rect wholeCanvas(const Canvas& c) { return Rect{0, 0, c.width, c.height}; }

void restoreClip(Canvas& c) { c.clip = intersect(c.area, wholeCanvas(c)); }

// The canvas clip for drawing a widget placed at `device`.
void clipTo(Canvas& c, const Rect& device, const Rect& clip) {
    Rect r = device;
    if (clip.w >= 0) r = intersect(r, clip);
    c.clip = intersect(intersect(r, c.area), wholeCanvas(c));
}

// The clip a widget's children draw within.
Rect childWithinAt(const Widget& w, const Place& p, double f, bool exact, const Rect& clip) {
    Rect cc = w.childClip();
    if (cc.w <= 0 || cc.h <= 0) return clip;
    Rect d = deviceOf(p, cc, f, exact);
    return clip.w < 0 ? d : intersect(d, clip);
}

bool contains(const Rect& outer, const Rect& inner) {
    return outer.x <= inner.x && outer.y <= inner.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

// The last opaque widget in paint order whose rectangle holds r entirely.
void findCover(Widget& w, const Place& parent, double f, bool exact, const Rect& r, Widget*& cover) {
    if (!w.visible) return;
    Place p = placeOf(w, parent, f, exact);
    if (w.opaque() && contains(p.device, r)) cover = &w;
    for (size_t i = 0; i < w.children.size(); ++i) findCover(*w.children[i], p, f, exact, r, cover);
}

struct PartialWalk {
    Canvas& canvas;
    Rect r;
    bool exact;
    Widget* cover;
    bool started;

    void walk(Widget& w, const Place& parent, double f, int padding, const Rect& clip) {
        if (!w.visible) return;
        Place p = placeOf(w, parent, f, exact);
        if (&w == cover) started = true;
        int pad = int(std::lround(padding * f));
        Rect grown{p.device.x - pad, p.device.y - pad, p.device.w + 2 * pad, p.device.h + 2 * pad};
        if (started && overlapsStrictly(grown, r)) {
            clipTo(canvas, p.device, clip);
            w.draw(Paint{canvas, p.device, f, exact, p.logical, p.base});
        }
        Rect within = childWithinAt(w, p, f, exact, clip);
        for (size_t i = 0; i < w.children.size(); ++i) walk(*w.children[i], p, f, padding, within);
        restoreClip(canvas);
    }
};

// Shrinks every channel of a pixel by coverage c (0..1).
uint32_t fade(uint32_t px, double c) {
    uint32_t k = uint32_t(std::lround(c * 256));
    uint32_t out = 0;
    for (int s = 0; s < 32; s += 8) out |= ((((px >> s) & 0xFFu) * k) >> 8) << s;
    return out;
}

void roundCorners(Canvas& c, const Rect& w, double radius) {
    int r = int(std::ceil(radius));
    if (r <= 0) return;
    for (int corner = 0; corner < 4; ++corner) {
        bool right = corner & 1, bottom = corner & 2;
        int x0 = right ? w.x + w.w - r : w.x, y0 = bottom ? w.y + w.h - r : w.y;
        double cx = right ? w.x + w.w - r : w.x + r, cy = bottom ? w.y + w.h - r : w.y + r;
        for (int y = y0; y < y0 + r; ++y) {
            for (int x = x0; x < x0 + r; ++x) {
                if (x < 0 || y < 0 || x >= c.width || y >= c.height) continue;
                double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
                double cov = std::clamp(r - d + 0.5, 0.0, 1.0);
                if (cov >= 1.0) continue;
                uint32_t& px = c.pixels[size_t(y) * size_t(c.width) + size_t(x)];
                px = fade(px, cov);
            }
        }
    }
}

}  // namespace

void Editor::drawWidget(Widget& w, Canvas& canvas, Rect origin, double factor, Rect clip) {
    drawWidgetAt(w, canvas, origin, Point{0, 0}, Point{origin.x, origin.y}, factor, clip);
}

void Editor::drawWidgetAt(Widget& w, Canvas& canvas, Rect parentDevice, Point parentLogical, Point base,
                          double factor, Rect clip) {
    drawPlaced(w, canvas, Place{parentDevice, parentLogical, base}, factor, clip);
}

void Editor::drawPlaced(Widget& w, Canvas& canvas, const Place& parent, double f, Rect clip) {
    if (!w.visible) return;
    Place p = placeOf(w, parent, f, exactEdges_);
    clipTo(canvas, p.device, clip);
    w.draw(Paint{canvas, p.device, f, exactEdges_, p.logical, p.base});
    Rect within = childWithinAt(w, p, f, exactEdges_, clip);
    for (size_t i = 0; i < w.children.size(); ++i) drawPlaced(*w.children[i], canvas, p, f, within);
    restoreClip(canvas);
}

void Editor::paint(Canvas& canvas) {
    CurrentScope current(*this);
    ++paintCount_;
    const bool hitMap = hitMapOn();
    const int W = pixelWidth(), H = pixelHeight();
    bool sizeChanged = &canvas != lastCanvas_ || canvas.width != W || canvas.height != H;
    lastCanvas_ = &canvas;
    if (!fullRepaint_ && !dirty_.empty() && !sizeChanged && !hitMap) {
        paintPartial(canvas);
        return;
    }
    fullRepaint_ = false;
    lastPaintPartial_ = false;
    dirty_.clear();
    if (canvas.width != W || canvas.height != H) canvas.resize(W, H);
    painted_.assign(1, Rect{0, 0, W, H});
    canvas.area = wholeCanvas(canvas);
    canvas.clear(theme()[0]);

    const double f = bodyScale();
    const int hp = headerPixelHeight();
    drawPlaced(*root_, canvas, treeOrigin(hp), f, kNoClip);
    for (size_t i = 0; i < overlays_.size(); ++i) {
        Overlay& o = overlays_[i];
        if (o.surface) continue;
        drawPlaced(*o.widget, canvas, treeOrigin(o.unzoomed ? 0 : hp), o.unzoomed ? scale_ : f, kNoClip);
    }
    if (header_) drawPlaced(*header_, canvas, treeOrigin(0), scale_, kNoClip);
    for (size_t i = 0; i < overlays_.size(); ++i)
        if (overlays_[i].surface) paintPopup(overlays_[i]);
    if (hitMap) drawHitMap(canvas);

    fullRepaint_ = false;
    destroyRetired();
    retireSurfaces();
}

void Editor::paintPartial(Canvas& canvas) {
    lastPaintPartial_ = true;
    painted_ = dirty_;
    dirty_.clear();
    const double f = bodyScale();
    const int hp = headerPixelHeight();
    const std::vector<Rect> rects = painted_;  // draw handlers may ask for more; those wait
    // Each area narrows the clip the paint started with, not the one the previous area left behind
    // (two disjoint areas would otherwise leave the second one uncleared).
    const Rect startClip = intersect(canvas.clip, wholeCanvas(canvas));

    for (const Rect& r : rects) {
        canvas.area = intersect(r, wholeCanvas(canvas));
        canvas.clip = intersect(startClip, canvas.area);
        // The last opaque widget holding the area, in the tree or in an overlay over it: nothing
        // under it is painted (an area inside a popup leaves the window under it alone).
        Widget* cover = nullptr;
        size_t coverOverlay = overlays_.size();  // the overlay the cover is in; overlays_.size(): the tree
        findCover(*root_, treeOrigin(hp), f, exactEdges_, r, cover);
        for (size_t i = 0; i < overlays_.size(); ++i) {
            Overlay& o = overlays_[i];
            if (o.surface) continue;
            Widget* inOverlay = nullptr;
            findCover(*o.widget, treeOrigin(o.unzoomed ? 0 : hp), o.unzoomed ? scale_ : f, exactEdges_, r, inOverlay);
            if (inOverlay) {
                cover = inOverlay;
                coverOverlay = i;
            }
        }
        if (!cover) canvas.fillRect(canvas.area, theme()[0]);
        PartialWalk walk{canvas, r, exactEdges_, cover, cover == nullptr};
        if (coverOverlay == overlays_.size()) {
            walk.walk(*root_, treeOrigin(hp), f, kPartialPadding, kNoClip);
            walk.started = true;
        }
        for (size_t i = coverOverlay == overlays_.size() ? 0 : coverOverlay; i < overlays_.size(); ++i) {
            Overlay& o = overlays_[i];
            if (o.surface) continue;
            walk.walk(*o.widget, treeOrigin(o.unzoomed ? 0 : hp), o.unzoomed ? scale_ : f,
                      kPartialPadding + o.margin, kNoClip);
            walk.started = true;
        }
        if (header_) walk.walk(*header_, treeOrigin(0), scale_, kPartialPadding, kNoClip);
    }
    canvas.area = wholeCanvas(canvas);
    canvas.clip = canvas.area;

    for (size_t i = 0; i < overlays_.size(); ++i)
        if (overlays_[i].surface) paintPopup(overlays_[i]);
    destroyRetired();
    retireSurfaces();
}

void Editor::paintPopup(Overlay& o) {
    const double f = o.unzoomed ? scale_ : bodyScale();
    const int hy = o.unzoomed ? 0 : headerPixelHeight();
    Widget& w = *o.widget;

    // A floating popup keeps its place on the screen while the window moves.
    if (o.floating && window_) {
        int ox = 0, oy = 0;
        window_->screenOrigin(ox, oy);
        if (o.originRecorded && (ox != o.originX || oy != o.originY)) {
            o.fracX -= (ox - o.originX) / f;
            o.fracY -= (oy - o.originY) / f;
            int mx = int(std::lround(o.fracX)), my = int(std::lround(o.fracY));
            w.bounds.x += mx;
            w.bounds.y += my;
            o.fracX -= mx;
            o.fracY -= my;
        }
        o.originRecorded = true;
        o.originX = ox;
        o.originY = oy;
    }

    Rect r = popupRect(o);
    if (r.w <= 0 || r.h <= 0) return;
    Canvas& c = o.canvas;
    if (c.width != r.w || c.height != r.h) c.resize(r.w, r.h);
    c.area = wholeCanvas(c);
    c.clear(0);

    // The tree's logical (0, 0) on the popup canvas.
    Place origin = treeOrigin(hy);
    origin.device.x = origin.base.x = -r.x;
    origin.device.y = origin.base.y = hy - r.y;
    Place self = placeOf(w, origin, f, exactEdges_);
    if (o.fullCanvas && w.visible) {
        c.clip = wholeCanvas(c);
        w.draw(Paint{c, self.device, f, exactEdges_, self.logical, self.base});
    }
    drawPlaced(w, c, origin, f, kNoClip);

    if (o.cornerRadius > 0)
        roundCorners(c, self.device,
                     std::min(o.cornerRadius * f, 0.5 * std::min(self.device.w, self.device.h)));

    o.surface->present(c, r.x, r.y);
    o.presented = r;
}

void Editor::drawHitMap(Canvas& canvas) {
    canvas.clip = wholeCanvas(canvas);
    std::vector<Widget*> above(size_t(std::max(0, canvas.width)), nullptr), row(above.size(), nullptr);
    Point local;
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            Widget* w = pick(x, y, local);
            row[size_t(x)] = w;
            if ((x > 0 && row[size_t(x) - 1] != w) || (y > 0 && above[size_t(x)] != w)) {
                canvas.blendPixel(x, y, 0xE6FFFFFFu);
            } else if (w) {
                uint32_t a = uint32_t(reinterpret_cast<uintptr_t>(w));
                uint32_t h = (a * 0x1E3779B1u) >> 7;
                canvas.blendPixel(x, y, (h & 0x00BFBFBFu) | 0x6E404040u);
            }
        }
        above.swap(row);
    }
}

}  // namespace lumo::gui
