#include "gui/menu_overlays.h"

#include <cmath>

namespace lumo::gui::menus {

Rect popupArea(const Editor& editor, Rect a, bool unzoomed) {
    const double s = unzoomed ? editor.scale() : editor.bodyScale();
    const int hy = unzoomed ? 0 : editor.headerPixelHeight();
    const PlatformWindow* win = editor.window();
    if (win && win->hasPopups()) {
        int cx = int(std::lround((a.x + a.w * 0.5) * s));
        int cy = int(std::lround((a.y + a.h * 0.5) * s)) + hy;
        Rect area;
        if (win->workArea(cx, cy, area)) {
            int x0 = int(std::ceil(area.x / s - 1e-9));
            int y0 = int(std::ceil((area.y - hy) / s - 1e-9));
            int x1 = int(std::floor((area.x + area.w) / s + 1e-9));
            int y1 = int(std::floor((area.y + area.h - hy) / s + 1e-9));
            return Rect{x0, y0, x1 - x0, y1 - y0};
        }
    }
    if (!unzoomed) return Rect{0, 0, editor.logicalWidth(), editor.logicalHeight()};
    const int headerPx = editor.headerPixelHeight();
    const int bodyW = editor.pixelWidth();
    const int bodyH = editor.pixelHeight() - headerPx;
    const double k = editor.scale();
    return Rect{0, editor.headerHeight(), int(std::lround(bodyW / k)),
                int(std::lround((bodyH + headerPx) / k)) - editor.headerHeight()};
}

void closeOverlaysAbove(Editor& editor, const Widget* w) {
    const int i = editor.overlayIndexOf(w);
    if (i < 0) return;
    while (editor.overlays().size() > size_t(i) + 1) {
        const size_t before = editor.overlays().size();
        editor.closeOverlayAt(before - 1);
        if (editor.overlays().size() >= before) break;  // a handler reopened one
    }
}

void closeOverlayChain(Editor& editor) {
    while (!editor.overlays().empty()) {
        const size_t before = editor.overlays().size();
        const bool chained = editor.overlays().back().chained;
        editor.closeOverlay();
        if (!chained || editor.overlays().size() >= before) break;
    }
}

}  // namespace lumo::gui::menus
