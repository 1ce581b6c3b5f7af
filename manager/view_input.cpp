// Pointer input: the hit list (every clickable thing by name with its rectangle), the press,
// move and release handlers and the automation description built from the same list.
#include <algorithm>
#include <cstdlib>

#include "manager/model.h"
#include "manager/view.h"

namespace tqapp {

std::vector<std::pair<std::string, lumo::gui::Rect>> ManagerView::hitRects() const {
    std::vector<std::pair<std::string, lumo::gui::Rect>> out;
    // Row bands: a line's visible part inside the list, leaving a gap of 2 to the next line.
    const int32_t right = listRect.x + listRect.w, bottom = listRect.y + listRect.h;
    const int32_t x0 = std::max(rowFirstX, listRect.x);
    // A list made from rows the model has since replaced names no line until it is made again.
    const bool current = !model || model->rowsGeneration == listedGeneration;
    for (size_t i = 0; current && i < displayList.size(); ++i) {
        if (displayList[i] < 0) continue;
        const int64_t top = int64_t(rowFirstY) + int64_t(i) * rowPitch - scroll;
        const int64_t y0 = std::max<int64_t>(top, listRect.y);
        const int64_t y1 = std::min<int64_t>(bottom, top + rowPitch - 2);
        if (right - x0 < 1 || y1 - y0 < 1) continue;
        out.push_back({"row:" + std::to_string(i), {x0, int32_t(y0), right - x0, int32_t(y1 - y0)}});
    }
    return out;
}

std::string ManagerView::hit(int x, int y) const {
    for (const auto& [name, r] : hitRects())
        if (x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h) return name;
    return {};
}

void ManagerView::click(const std::string&) { repaint(); }

bool ManagerView::onMouseDown(const lumo::gui::MouseEvent& e) {
    pressedHit = hit(e.x, e.y);
    if (pressedHit == "cap:sb") {
        dragStartY = e.y;
        dragStartScroll = scroll;
    }
    if (pressedHit.rfind("row:", 0) == 0) selectIndex(std::atoi(pressedHit.c_str() + 4));
    repaint();
    return true;
}

void ManagerView::onMouseUp(const lumo::gui::MouseEvent& e) {
    const std::string name = std::move(pressedHit);
    pressedHit.clear();
    if (!name.empty() && hit(e.x, e.y) == name) click(name);
    hoverHit = hit(e.x, e.y);
    repaint();
}

void ManagerView::onMouseMove(const lumo::gui::MouseEvent& e) {
    std::string h = hit(e.x, e.y);
    if (h == hoverHit) return;
    hoverHit = std::move(h);
    repaint();
}

void ManagerView::onMouseLeave() {
    if (hoverHit.empty()) return;
    hoverHit.clear();
    repaint();
}

void ManagerView::describe(lumo::gui::WidgetInfo& info) const {
    info.value = statusText();
    for (const auto& [name, r] : hitRects()) info.parts.push_back({name, r, true, false});
}

}  // namespace tqapp
