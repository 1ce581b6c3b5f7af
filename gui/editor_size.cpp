// Logical body size, display scale, zoom, size limits and the size negotiation with the host.
// Units: logical (widget bounds), device pixels (canvas, window client area) and points (device
// pixels / display scale: host windows and the window's size limits).
#include <algorithm>
#include <cmath>

#include "gui/editor.h"

namespace lumo::gui {

namespace {

int ceilPoints(double pixels, double scale) { return int(std::ceil(pixels / scale - 1e-9)); }

}  // namespace

double Editor::snapScale(double v, const std::vector<double>& list) {
    if (list.empty()) return snapScale(v);
    double best = list.front();
    for (double e : list) {
        double db = std::fabs(best - v), de = std::fabs(e - v);
        if (db > de || (db == de && e > best)) best = e;
    }
    return best;
}

double Editor::snapScale(double v) { return snapScale(v, std::vector<double>(kScales.begin(), kScales.end())); }

double Editor::bodyScale() const { return snapScale(scale_ * zoom_, bodyScales_); }

int Editor::headerPixelHeight() const { return header_ ? int(std::lround(headerHeight_ * scale_)) : 0; }

int Editor::pixelWidth() const { return int(std::lround(bodyScale() * width_)); }

int Editor::pixelHeight() const { return headerPixelHeight() + int(std::lround(bodyScale() * height_)); }

void Editor::smallestPixelSize(double scale, double zoom, int& w, int& h) const {
    const double body = snapScale(snapScale(scale) * zoom, bodyScales_);
    w = int(std::lround(body * (resizable_ ? minW_ : width_)));
    h = (header_ ? int(std::lround(headerHeight_ * snapScale(scale))) : 0) +
        int(std::lround(body * (resizable_ ? minH_ : height_)));
}

int Editor::pointWidth() const { return ceilPoints(pixelWidth(), scale_); }

int Editor::pointHeight() const { return ceilPoints(pixelHeight(), scale_); }

void Editor::setScale(double v) {
    if (!(v > 0.1)) v = 1.0;
    v = snapScale(v);
    if (v == scale_) return;
    scale_ = v;
    resized();
}

namespace {

double clampZoom(double z) {
    if (!(z > 0.1)) z = 1.0;
    return std::clamp(z, Editor::kSmallestZoom, 4.0);
}

}  // namespace

void Editor::setZoom(double z) {
    z = clampZoom(z);
    if (z == zoom_) return;
    zoom_ = z;
    resized();
}

void Editor::setZoomAndNotify(double z) {
    double previous = zoom_;
    setZoom(z);
    if (!window_) return;
    if (!host_.requestResize(pointWidth(), pointHeight())) {
        zoom_ = clampZoom(previous);
        resized();
    }
}

void Editor::setBodyScales(std::vector<double> scales) {
    std::vector<double> kept;
    for (double s : scales)
        if (s > 0.1) kept.push_back(s);
    if (kept.empty()) return;
    bool same = kept.size() == bodyScales_.size() && std::equal(kept.begin(), kept.end(), bodyScales_.begin());
    if (same) return;
    bodyScales_ = std::move(kept);
    resized();
}

void Editor::setExactEdges(bool on) {
    if (on == exactEdges_) return;
    exactEdges_ = on;
    resized();
}

void Editor::resized() {
    if (header_) {
        header_->bounds = Rect{0, 0, int(std::lround(bodyScale() * width_ / scale_)), headerHeight_};
        header_->onBoundsChanged();
    }
    if (window_) window_->resize(pixelWidth(), pixelHeight());
    applySizeLimits();
    fullRepaint_ = true;
}

void Editor::applySizeLimits() {
    if (!window_ || !resizable_) return;
    double s = bodyScale();
    int hp = headerPixelHeight();
    int minW = minW_ > 0 ? ceilPoints(double(std::lround(minW_ * s)), scale_) : 0;
    int minH = ceilPoints(double(hp + std::lround(minH_ * s)), scale_);
    int maxW = maxW_ > 0 ? ceilPoints(double(std::lround(maxW_ * s)), scale_) : 0;
    int maxH = maxH_ > 0 ? ceilPoints(double(hp + std::lround(maxH_ * s)), scale_) : 0;
    window_->setSizeLimits(true, minW, minH, maxW, maxH);
}

void Editor::setResizable(int minW, int minH, int maxW, int maxH) {
    resizable_ = true;
    minW_ = std::max(1, minW);
    minH_ = std::max(1, minH);
    maxW_ = maxW < 1 ? 0 : std::max(minW_, maxW);
    maxH_ = maxH < 1 ? 0 : std::max(minH_, maxH);

    const EditorHost::Session& session = host_.session();
    int w = session.width >= 1 ? session.width : width_;
    int h = session.height >= 1 ? session.height : height_;
    clampBody(w, h);
    if (w == width_ && h == height_) {
        if (onResize) onResize(w, h);
    } else {
        applyBodySize(w, h);
    }
    applySizeLimits();
}

void Editor::clampBody(int& w, int& h) const {
    w = std::max({w, minW_, 1});
    h = std::max({h, minH_, 1});
    if (maxW_ > 0) w = std::min(w, maxW_);
    if (maxH_ > 0) h = std::min(h, maxH_);
}

void Editor::applyBodySize(int w, int h) {
    width_ = w;
    height_ = h;
    root_->bounds = Rect{0, 0, w, h};
    EditorHost::Session& session = host_.session();
    session.width = w;
    session.height = h;
    resized();
    if (onResize) onResize(w, h);
    fullRepaint_ = true;
}

void Editor::fitScreen(int& w, int& h) const {
    Rect area;
    if (!resizable_ || !window_ || !window_->usableArea(area) || area.w < 1 || area.h < 1) return;
    const double s = bodyScale();
    w = std::min(w, int(std::floor(area.w / s + 1e-9)));
    h = std::min(h, int(std::floor((area.h - headerPixelHeight()) / s + 1e-9)));
    clampBody(w, h);
}

bool Editor::resizeBody(int w, int h) {
    if (!resizable_) return false;
    clampBody(w, h);
    fitScreen(w, h);
    if (w == width_ && h == height_) return true;
    int oldW = width_, oldH = height_;
    applyBodySize(w, h);
    if (!window_) return true;
    if (host_.requestResize(pointWidth(), pointHeight())) return true;
    applyBodySize(oldW, oldH);
    return false;
}

void Editor::resizeLogical(int w, int h) {
    if (w == width_ && h == height_) return;
    closeOverlay();
    width_ = w;
    height_ = h;
    root_->bounds = Rect{0, 0, w, h};
    resized();
    if (window_) host_.requestResize(pointWidth(), pointHeight());
}

void Editor::adjustHostSize(int& w, int& h) const {
    if (!resizable_) {
        w = pointWidth();
        h = pointHeight();
        return;
    }
    double s = bodyScale();
    int hp = headerPixelHeight();
    int lw = int(std::floor(w * scale_ / s + 1e-6));
    int lh = int(std::floor((h * scale_ - hp) / s + 1e-6));
    clampBody(lw, lh);
    w = ceilPoints(double(std::lround(lw * s)), scale_);
    h = ceilPoints(double(hp + std::lround(lh * s)), scale_);
}

bool Editor::setHostSize(int w, int h) {
    hostW_ = w;
    hostH_ = h;
    if (!resizable_) return false;
    double s = bodyScale();
    int lw = int(std::floor(w * scale_ / s + 1e-6));
    int lh = int(std::floor((h * scale_ - headerPixelHeight()) / s + 1e-6));
    clampBody(lw, lh);
    if (lw == width_ && lh == height_) return true;
    CurrentScope scope(*this);
    applyBodySize(lw, lh);
    return true;
}

void Editor::refitToHost() {
    int w = hostW_ >= 1 ? hostW_ : pointWidth();
    int h = hostH_ >= 1 ? hostH_ : pointHeight();
    setHostSize(w, h);
}

void Editor::setHeader(std::unique_ptr<Widget> header, int height) {
    header_ = std::move(header);
    headerHeight_ = header_ ? height : 0;
    if (header_) header_->setEditor(this);
    resized();
}

Rect Editor::headerToRoot(Rect r) const {
    double s = bodyScale();
    double k = scale_ / s;
    int hp = headerPixelHeight();
    long top = std::lround(r.y * scale_);
    Rect out;
    out.x = int(std::lround(r.x * k));
    out.w = int(std::lround(r.w * k));
    out.y = int(std::lround(double(top - hp) / s));
    out.h = int(std::lround(double(std::lround((r.y + r.h) * scale_) - top) / s));
    return out;
}

void Editor::resetRoot(int w, int h) {
    releaseCapture();
    closeAllOverlays();
    destroyRetired();
    dropTarget_ = capture_ = hover_ = focus_ = nullptr;

    auto fresh = std::make_unique<RootWidget>();
    fresh->bounds = Rect{0, 0, w, h};
    root_ = std::move(fresh);
    width_ = w;
    height_ = h;
    root_->setEditor(this);
    resized();
    if (window_) host_.requestResize(pointWidth(), pointHeight());
}

}  // namespace lumo::gui
