// Job plans the main window opens by itself: the manager's own installation, removal and update.
// They open in the job window; until it exists they only repaint.
#include "manager/view.h"

namespace tqapp {

void ManagerView::openInstall() { repaint(); }
void ManagerView::openUninstall() { repaint(); }
void ManagerView::openSelfUpdate() { repaint(); }

}  // namespace tqapp
