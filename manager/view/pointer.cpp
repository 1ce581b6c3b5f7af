// The part table (every clickable part with its rectangle, in both looks), the press, drag, move
// and release handlers, and the automation description, all read from that one table. Hover and
// press are held as part ids, so the table can be built again at any time without leaving a stale
// pointer to anything.
#include <algorithm>

#include "gui/draw/clip_scope.h"
#include "manager/model/model.h"
#include "manager/view/view.h"

namespace tqapp {

using lumo::gui::Rect;
using lumo::gui::meet;

MainParts ManagerView::parts() const {
    MainParts out;
    auto add = [&](const MainId& id, Rect r) { out.addIfSeen(id, r); };
    auto placed = [&](MainPart kind, int32_t index = -1) {
        add(mainPart(kind, index), look_->partBox(*this, mainPart(kind, index)));
    };

    add(mainPart(MainPart::WinClose), windowSlot(true));
    if (model_ && !model_->busy && model_->note.empty() && !model_->managerUpdate().empty())
        add(mainPart(MainPart::Status), mapRect(layoutRect((*managerLayout_)["status_text"])));
    add(mainPart(MainPart::WinMin), windowSlot(false));
    for (int32_t c = 0; c < 3; ++c) placed(MainPart::Column, c);
    placed(MainPart::Sort);
    placed(MainPart::ScrollUp);
    placed(MainPart::ScrollDown);
    // The cap is always listed: a press on it is what starts a drag.
    Rect cap = scrollPart(MainPart::Cap);
    cap.y += capOffset();
    out.add(mainPart(MainPart::Cap), cap);
    for (MainPart kind : {MainPart::Open, MainPart::More, MainPart::MainPill, MainPart::UpdateAll, MainPart::Account})
        placed(kind);
    for (int32_t slot = 0; slot < 3; ++slot)
        for (MainPart kind : {MainPart::Check, MainPart::Label, MainPart::Led}) placed(kind, slot);

    // The list: per visible line from the top, the pill before the band so it wins over its row.
    const int32_t right = listRect_.x + listRect_.w, bottom = listRect_.y + listRect_.h;
    const int32_t x0 = std::max(rowFirstX_, listRect_.x);
    // A list made from rows the model has since replaced names no line until it is made again.
    const bool current = !model_ || model_->rowsGeneration == listedGeneration;
    const auto [first, end] = linesInView();
    for (size_t i = first; current && i < end; ++i) {
        const int32_t entry = displayList_[i];
        if (entry < 0 || !model_ || size_t(entry) >= model_->rows.size()) continue;
        const int64_t top = int64_t(rowFirstY_) + int64_t(i) * rowPitch_ - scroll_;
        const int64_t y0 = std::max<int64_t>(top, listRect_.y);
        const int64_t y1 = std::min<int64_t>(bottom, top + rowPitch_ - 2);
        if (right - x0 < 1 || y1 - y0 < 1) continue;
        if (showsPill(model_->rows[size_t(entry)])) {
            const Rect box = look_->rowPillBox(*this, int32_t(top));
            const Rect cut = meet(box, listRect_);
            if (cut.w > 0 && cut.h > 0) out.add(mainPart(MainPart::RowPill, int32_t(i)), cut).drawn = box;
        }
        out.add(mainPart(MainPart::Row, int32_t(i)), Rect{x0, int32_t(y0), right - x0, int32_t(y1 - y0)});
    }
    return out;
}

namespace {

Rect drawnIn(const MainParts& table, const MainId& id) {
    const Part<MainId>* p = table.find(id);
    if (!p) return {};
    return p->drawn.w > 0 || p->drawn.h > 0 ? p->drawn : p->rect;
}

}  // namespace

Rect ManagerView::partRect(const MainId& id) const { return painting_ ? paintParts_.rect(id) : parts().rect(id); }

Rect ManagerView::drawnRect(const MainId& id) const {
    return painting_ ? drawnIn(paintParts_, id) : drawnIn(parts(), id);
}

std::optional<MainId> ManagerView::hitPart(int x, int y) const { return parts().hit(x, y); }

std::string ManagerView::hit(int x, int y) const {
    const std::optional<MainId> id = hitPart(x, y);
    return id ? partName(*id) : std::string();
}

bool ManagerView::onMouseDown(const lumo::gui::MouseEvent& e) {
    pointer_.down(hitPart(e.x, e.y));
    if (pointer_.isPressed(mainPart(MainPart::Cap))) {
        dragStartY = e.y;
        dragStartScroll = scroll_;
    }
    // A line is selected on the press, not on the release.
    if (pointer_.pressed && pointer_.pressed->kind == MainPart::Row) selectIndex(pointer_.pressed->index);
    repaint();
    return true;
}

void ManagerView::onMouseDrag(const lumo::gui::MouseEvent& e) {
    if (pointer_.isPressed(mainPart(MainPart::Cap))) {
        const int32_t travel = trackTravel();
        if (travel < 1) return;
        const int64_t most = std::max(maxScroll(), 0);
        const int64_t wanted = (int64_t(e.y) - dragStartY) * most / travel + dragStartScroll;
        const int32_t next = int32_t(std::clamp<int64_t>(wanted, 0, most));
        if (next == scroll_) return;
        scroll_ = next;
        repaint();
        return;
    }
    if (pointer_.drag(hitPart(e.x, e.y))) repaint();
}

void ManagerView::onMouseUp(const lumo::gui::MouseEvent& e) {
    if (const std::optional<MainId> clicked = pointer_.up(hitPart(e.x, e.y))) click(*clicked);
    // The click may have changed what lies under the pointer.
    pointer_.move(hitPart(e.x, e.y));
    repaint();
}

void ManagerView::onMouseMove(const lumo::gui::MouseEvent& e) {
    if (pointer_.move(hitPart(e.x, e.y))) repaint();
}

void ManagerView::onMouseLeave() {
    if (pointer_.leave()) repaint();
}

void ManagerView::describe(lumo::gui::WidgetInfo& info) const {
    info.value = statusText();
    parts().describe(info, partName);
}

}  // namespace tqapp
