// The click dispatcher: what a completed click on each hit name does. The actions themselves live
// with the row list, the row actions, the row menu and the plans; this file only routes to them.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/layout.h"
#include "manager/model/model.h"
#include "manager/view/view.h"

namespace tqapp {
namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool plainApp(const tqm::Row* row) { return row && row->kind == 1 && !row->appPlugin(); }

bool isFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

}  // namespace

void ManagerView::click(const std::string& name) {
    if (name == "win:close") {
        if (editor) editor->closeStandaloneWindow();
    } else if (name == "win:min") {
        if (editor) editor->minimizeWindow();
    } else if (name == "status") {
        openSelfUpdate();
    } else if (name == "account") {
        openAccount();
    } else if (startsWith(name, "col:")) {
        const std::string column = name.substr(4);
        if (column == sortColumn) {
            sortAscending = !sortAscending;
        } else {
            sortColumn = column;
            sortAscending = true;
        }
        changed();
    } else if (name == "sort") {
        sortAscending = !sortAscending;
        changed();
    } else if (name == "sb:up") {
        setScroll(scroll - rowPitch);
    } else if (name == "sb:down") {
        setScroll(scroll + rowPitch);
    } else if (name == "open") {
        openShownFolder();
    } else if (name == "more") {
        if (const tqm::Row* row = selected()) moreMenu(*row);
    } else if (name == "main_pill") {
        if (const tqm::Row* row = selected()) runAction(*row, mainAction());
    } else if (name == "update_all") {
        updateAll();
    } else if (startsWith(name, "check:")) {
        tickSlot(name.substr(6));
    } else if (startsWith(name, "label:") || startsWith(name, "led:")) {
        const std::string slot = name.substr(name.find(':') + 1);
        const tqm::Row* row = selected();
        if (!plainApp(row)) shownFormat = row ? slotFormat(row, slot) : slot;
    } else if (startsWith(name, "rowpill:")) {
        const int i = std::atoi(name.c_str() + 8);
        if (model && i >= 0 && size_t(i) < displayList.size() && displayList[size_t(i)] >= 0 &&
            size_t(displayList[size_t(i)]) < model->rows.size())
            rowAction(model->rows[size_t(displayList[size_t(i)])]);
    }
    // "cap:sb" and "row:" act on the press alone.
    repaint();
}

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
    if (!model) return;
    const std::string format = pathFormat();
    const std::string shown = shownDir().string();
    const tqm::Layout& layout = model->config.layout;
    const std::string root = plainApp(selected()) || format == "app" ? layout.appsDir() : layout.formatRoot(format);
    if (isFolder(shown))
        openPath(shown, false);
    else if (isFolder(root))
        openPath(root, false);
    else
        model->say(shown + " is not there yet");
}

}  // namespace tqapp
