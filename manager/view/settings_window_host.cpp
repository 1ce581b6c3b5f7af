// The settings window's host: the main window fills the window's callbacks, opens it centred (or
// raises the one already open), and carries out what it asks: the install scope, a format's folder
// chosen or reset, the log folder and the licence notices.
//
// Like the job window, a closed settings window is retired by the editor and destroyed at the next
// paint, when its onClosed runs; the view's pointer is cleared only by the window it names, and a
// retired window counts as closed (openAccountWindow).
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <utility>

#include "engine/install.h"
#include "engine/util.h"
#include "manager/windows/settings_window.h"
#include "manager/model/model.h"
#include "manager/model/notices.h"
#include "manager/model/settings_file.h"
#include "manager/model/setup.h"
#include "manager/view/view.h"

namespace tqapp {

namespace {

namespace fs = std::filesystem;

constexpr const char* kWaitForJob = "Wait for the job to finish first";

// Whether a program of that name is an executable file in a folder of PATH. On this platform the
// folder dialog is zenity's: without it there is none.
bool onPath(const char* program) { return !tqm::findOnPath(program).empty(); }

// The window's callbacks: each reaches the model through the view at the moment it is called.
AccountWindow::Host hostOf(ManagerView* v) {
    AccountWindow::Host h;
    h.layout = [v] { return v->model() ? v->model()->config.layout : tqm::Layout{}; };
    h.setScope = [v](tqm::Scope scope) { return v->applyScope(scope); };
    h.setFolder = [v](const std::string& format) { v->chooseFolder(format); };
    h.resetFolder = [v](const std::string& format) { v->resetFolder(format); };
    h.version = [v] { return v->model() ? v->model()->config.version : std::string(); };
    h.managerUpdate = [v] { return v->model() ? v->model()->managerUpdate() : std::string(); };
    h.offersUpdate = [v] { return v->offersSelfUpdate(); };
    h.loading = [v] { return v->model() && v->model()->loading; };
    h.catalogLoaded = [v] { return v->model() && v->model()->catalog && v->model()->catalog->ok; };
    h.busy = [v] { return v->model() && v->model()->busy; };
    h.reload = [v] {
        if (v->model()) v->model()->reload();
    };
    h.openSelfUpdate = [v] { v->openSelfUpdate(); };
    h.openLog = [v] { v->openLogFolder(); };
    h.openNotices = [v] { v->openNotices(); };
    h.installState = [v] { return v->installState(); };
    h.canInstall = [v] {
        return v->model() && !setup::runningInstalled(setup::Where{v->model()->config.layout.root}, v->model()->config.program);
    };
    h.openInstall = [v] { v->openInstall(); };
    h.openUninstall = [v] { v->openUninstall(); };
    return h;
}

}  // namespace

AccountWindow* ManagerView::openAccountWindow() const {
    return accountWindow_ && editor && editor->isOverlay(accountWindow_) ? accountWindow_ : nullptr;
}

void ManagerView::openAccount() {
    if (!editor) return;
    if (AccountWindow* open = openAccountWindow()) {
        editor->raisePopup(open);
        return;
    }
    auto window = std::make_unique<AccountWindow>(hostOf(this), std::weak_ptr<bool>(alive_));
    AccountWindow* w = window.get();
    accountWindow_ = w;
    w->onClosed = [this, w] {
        if (accountWindow_ == w) accountWindow_ = nullptr;
    };
    w->bounds = {(bounds.w - AccountWindow::kWidth) / 2, (bounds.h - AccountWindow::kHeight) / 2, AccountWindow::kWidth,
                 AccountWindow::kHeight};
    lumo::gui::PopupOptions options;
    options.window = true;
    options.cornerStyle = 1;
    editor->openPopup(std::move(window), options);
}

bool ManagerView::setFolderOverride(const std::string& format, const std::string& folder) {
    if (!model_) return false;
    tqm::Layout next = model_->config.layout;
    if (folder.empty())
        next.folders.erase(format);
    else
        next.folders[format] = folder;
    if (!model_->setLayout(next)) {
        model_->say(kWaitForJob);
        return false;
    }
    if (!setSetting("folder." + format, folder)) model_->say(notSavedText(settingsFile()));
    changed();
    return true;
}

void ManagerView::chooseFolder(const std::string& format) {
    if (!editor || !model_) return;
    std::string chosen = model_->config.layout.formatRoot(format);
    if (!editor->folderDialog("Choose the " + std::string(formatTitle(format)) + " folder", chosen)) {
        if (!onPath("zenity")) model_->say("No folder dialog here: install zenity to choose a folder");
        return;
    }
    if (chosen.empty()) return;
    // What comes back is stored and later joined into install paths: only a full path of plain
    // characters is taken.
    if (holdsControlByte(chosen)) {
        model_->say("That folder's name holds a control character: nothing changed");
        return;
    }
    if (chosen.front() != '/') {
        model_->say(chosen + " is not a full folder path: nothing changed");
        return;
    }
    while (chosen.size() > 1 && chosen.back() == '/') chosen.pop_back();
    // The maker's own folder inside a format's root names that root.
    const fs::path picked(chosen);
    if (picked.filename() == tqm::kVendorDir) chosen = picked.parent_path().string();
    setFolderOverride(format, chosen);
}

void ManagerView::resetFolder(const std::string& format) { setFolderOverride(format, ""); }

void ManagerView::openLogFolder() {
    if (!model_) return;
    const fs::path folder = model_->logFile().parent_path();
    std::error_code ec;
    fs::create_directories(folder, ec);
    openPath(folder.string(), false);
}

void ManagerView::openNotices() {
    if (!model_) return;
    const std::string file = tqm::joinPath(model_->config.layout.userData(), "THIRD-PARTY-NOTICES.txt");
    if (!writeWhole(file, thirdPartyNotices())) {
        model_->say("Cannot write " + file);
        return;
    }
    openPath(file, false);
}

std::string ManagerView::installState() const {
    if (!model_) return "NOT INSTALLED";
    const setup::Where where{model_->config.layout.root};
    if (setup::runningInstalled(where, model_->config.program)) return "INSTALLED FOR THIS USER";
    if (setup::installed(where)) return "ANOTHER COPY IS INSTALLED";
    return "NOT INSTALLED";
}

}  // namespace tqapp
