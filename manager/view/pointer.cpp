// Pointer input: the hit list (every clickable thing by name with its rectangle, in both looks), the
// press, drag, move and release handlers, and the automation description built from the same list.
// Hover and press are held as hit names, so the list can be rebuilt at any time without leaving a
// stale pointer to anything.
#include <algorithm>
#include <cstdlib>

#include "manager/model/model.h"
#include "manager/view/view.h"
#include "gui/draw/clip_scope.h"

namespace tqapp {

using lumo::gui::meet;
namespace {

using lumo::gui::Rect;
using HitList = std::vector<std::pair<std::string, Rect>>;

constexpr const char* kSlots[] = {"vst3", "clap", "au"};

}  // namespace

HitList ManagerView::hitRects() const {
    HitList out;
    // An entry through a part: the pixel look's own box when it has one, else the part's sprite box.
    auto through = [&](const std::string& name, const std::string& sprite) {
        const Rect r = look == 1 && hasDevBox(name) ? devBox(name) : spriteRect(sprite);
        if (r.w >= 1) out.emplace_back(name, r);
    };
    auto add = [&](const std::string& name, Rect r) {
        if (r.w >= 1) out.emplace_back(name, r);
    };

    add("win:close", windowSlot(true));
    if (model && !model->busy && model->note.empty() && !model->managerUpdate().empty())
        add("status", mapRect(layoutRect((*managerLayout)["status_text"])));
    add("win:min", windowSlot(false));
    if (look == 1)
        for (const auto& [column, box] : devColumns())
            if (column != "action") add("col:" + column, box);
    if (look == 0) through("sort", "sort_pill_normal");
    through("sb:up", "sb_up_normal");
    through("sb:down", "sb_down_normal");
    // The cap is always listed: a press on it is what starts a drag.
    Rect cap = scrollPart("cap:sb", "cap_sb");
    cap.y += capOffset();
    out.emplace_back("cap:sb", cap);
    through("open", "open_up");
    through("more", "more_up");
    through("main_pill", "main_pill_normal");
    through("update_all", "update_all_normal");
    through("account", "account_normal");
    for (const char* f : kSlots) {
        const std::string slot = f;
        through("check:" + slot, "check_" + slot + "_off");
        through("label:" + slot, "label_" + slot);
        through("led:" + slot, "led_" + slot + "_off");
    }

    // The list: per visible line from the top, the pill before the band so it wins over its row.
    const int32_t right = listRect.x + listRect.w, bottom = listRect.y + listRect.h;
    const int32_t x0 = std::max(rowFirstX, listRect.x);
    const Rect pill = layoutRect((*managerLayout)["row_pill"]);
    const int32_t pillShift = xAxis.shiftAt(rowFirstX + pill.x + pill.w * 0.5);
    // A list made from rows the model has since replaced names no line until it is made again.
    const bool current = !model || model->rowsGeneration == listedGeneration;
    for (size_t i = 0; current && i < displayList.size(); ++i) {
        const int32_t entry = displayList[i];
        if (entry < 0 || !model || size_t(entry) >= model->rows.size()) continue;
        const int64_t top = int64_t(rowFirstY) + int64_t(i) * rowPitch - scroll;
        const int64_t y0 = std::max<int64_t>(top, listRect.y);
        const int64_t y1 = std::min<int64_t>(bottom, top + rowPitch - 2);
        if (right - x0 < 1 || y1 - y0 < 1) continue;
        const std::string index = std::to_string(i);
        if (showsPill(model->rows[size_t(entry)])) {
            const Rect box = look == 1 ? devRowButton(int32_t(top))
                                       : Rect{rowFirstX + pill.x + pillShift, int32_t(top) + pill.y, pill.w, pill.h};
            const Rect cut = meet(box, listRect);
            if (cut.w > 0 && cut.h > 0) out.emplace_back("rowpill:" + index, cut);
        }
        out.emplace_back("row:" + index, Rect{x0, int32_t(y0), right - x0, int32_t(y1 - y0)});
    }
    return out;
}

std::string ManagerView::hit(int x, int y) const {
    for (const auto& [name, r] : hitRects())
        if (x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h) return name;
    return {};
}

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

void ManagerView::onMouseDrag(const lumo::gui::MouseEvent& e) {
    if (pressedHit == "cap:sb") {
        const int32_t travel = trackTravel();
        if (travel < 1) return;
        const int64_t most = std::max(maxScroll(), 0);
        const int64_t wanted = (int64_t(e.y) - dragStartY) * most / travel + dragStartScroll;
        const int32_t next = int32_t(std::clamp<int64_t>(wanted, 0, most));
        if (next == scroll) return;
        scroll = next;
        repaint();
        return;
    }
    // During a press only the pressed item lights up, and only while the pointer is over it.
    const bool over = hit(e.x, e.y) == pressedHit;
    if ((hoverHit == pressedHit) == over) return;
    hoverHit = over ? pressedHit : std::string();
    repaint();
}

void ManagerView::onMouseUp(const lumo::gui::MouseEvent& e) {
    const std::string name = std::move(pressedHit);
    pressedHit.clear();
    if (!name.empty() && hit(e.x, e.y) == name) click(name);
    // The click may have changed what lies under the pointer.
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
