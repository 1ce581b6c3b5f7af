// The click dispatcher: what a completed click on each part does. The actions themselves live
// with the row list, the row actions, the row menu and the plans; this file only routes to them.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/layout.h"
#include "manager/model/model.h"
#include "manager/view/view.h"

namespace tqapp {
namespace {

bool plainApp(const tqm::Row* row) { return row && row->kind == 1 && !row->appPlugin(); }

bool isFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

}  // namespace

bool ManagerView::enabled(const MainId& id) const {
    return (id.kind != MainPart::MainPill && id.kind != MainPart::More) || selected() != nullptr;
}

void ManagerView::click(const MainId& id) {
    const tqm::Row* row = selected();
    switch (id.kind) {
        case MainPart::WinClose:
            if (editor) editor->closeStandaloneWindow();
            break;
        case MainPart::WinMin:
            if (editor) editor->minimizeWindow();
            break;
        case MainPart::Status:
            if (offersSelfUpdate()) openSelfUpdate();
            break;
        case MainPart::Account: openAccount(); break;
        case MainPart::Column: {
            const std::string column = id.index >= 0 && id.index < 4 ? kColumnKeys[id.index] : "";
            setSort(column, column == sortColumn_ ? !sortAscending_ : true);
            break;
        }
        case MainPart::Sort: setSort(sortColumn_, !sortAscending_); break;
        case MainPart::ScrollUp: setScroll(scroll_ - rowPitch_); break;
        case MainPart::ScrollDown: setScroll(scroll_ + rowPitch_); break;
        case MainPart::Open: openShownFolder(); break;
        case MainPart::More:
            if (row) moreMenu(*row);
            break;
        case MainPart::MainPill:
            if (row) runAction(*row, mainAction());
            break;
        case MainPart::UpdateAll: updateAll(); break;
        case MainPart::Check: tickSlot(slotKey(id.index)); break;
        case MainPart::Label:
        case MainPart::Led:
            if (!plainApp(row)) setShownFormat(row ? slotFormat(row, slotKey(id.index)) : slotKey(id.index));
            break;
        case MainPart::RowPill: {
            const int i = id.index;
            if (model_ && i >= 0 && size_t(i) < displayList_.size() && displayList_[size_t(i)] >= 0 &&
                size_t(displayList_[size_t(i)]) < model_->rows.size())
                rowAction(model_->rows[size_t(displayList_[size_t(i)])]);
            break;
        }
        // The cap and the lines act on the press alone.
        case MainPart::Cap:
        case MainPart::Row: break;
    }
    repaint();
}

std::string ManagerView::slotKey(int32_t index) { return index >= 0 && index < 3 ? kSlotKeys[index] : ""; }

void ManagerView::tickSlot(const std::string& slot) {
    const tqm::Row* row = selected();
    if (!row) return;
    if (plainApp(row)) {
        toggleCompanion(*row, slot);
        return;
    }
    if (!offered(row, slot)) return;
    bool& tick = wanted(*row)[slotFormat(row, slot)];  // a missing entry counts as unticked
    tick = !tick;
}

void ManagerView::openShownFolder() {
    if (!model_) return;
    const std::string format = pathFormat();
    const std::string shown = shownDir().string();
    const tqm::Layout& layout = model_->config.layout;
    const std::string root = plainApp(selected()) || format == "app" ? layout.appsDir() : layout.formatRoot(format);
    if (isFolder(shown))
        openPath(shown, false);
    else if (isFolder(root))
        openPath(root, false);
    else
        model_->say(shown + " is not there yet");
}

}  // namespace tqapp
