// The click dispatcher: what a completed click on each hit name does. The actions themselves live
// with the row list, the row actions, the row menu and the plans; this file only routes to them.
#include <string>

#include "manager/model.h"
#include "manager/view.h"

namespace tqapp {
namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

void ManagerView::click(const std::string& name) {
    if (name == "win:close") {
        if (editor) editor->closeStandaloneWindow();
    } else if (name == "win:min") {
        if (editor) editor->minimizeWindow();
    } else if (name == "status") {
        openSelfUpdate();
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
    }
    repaint();
}

}  // namespace tqapp
