// The offers made once after the first catalog load (install the manager, update it), the restart
// into a new instance and the system's opener.
#include <spawn.h>
#include <sys/wait.h>

#include <thread>

#include "engine/running.h"
#include "platform/platform.h"
#include "manager/model/model.h"
#include "manager/model/setup.h"
#include "manager/view/view.h"

extern char** environ;

namespace tqapp {

bool ManagerView::offerInstall() {
    if (!model_) return false;
    if (model_->config.harness && !lumo::hasStandaloneArg("--offer-install")) return false;
    const setup::Where where(model_->config.layout.root);
    if (setup::runningInstalled(where, model_->config.program)) return false;
    if (setup::installed(where) || setting("install_offered") == "1") return false;
    setSetting("install_offered", "1");
    openInstall();
    return true;
}

void ManagerView::offerSelfUpdate() {
    if (!model_) return;
    const std::string version = model_->managerUpdate();
    if (version.empty() || model_->busy) return;
    if (!model_->managerRequired() && setting("offered") == version) return;
    setSetting("offered", version);
    openSelfUpdate();
}

void ManagerView::restartSelf() {
    // On this platform the new instance is the program itself; a window that cannot be replaced
    // stays open and says so.
    if (model_ && !model_->config.program.empty() && !openPath(model_->config.program, true)) return;
    if (editor) editor->closeStandaloneWindow();
}

bool ManagerView::openPath(const std::string& path, bool newInstance) {
    std::vector<std::string> words;
    if (newInstance) {
        // The same words this instance was started with: its catalog, root and scope come back.
        words = lumo::standaloneArgs();
        words.insert(words.begin(), path);
    } else {
        words = {"xdg-open", path};
    }
    if (startDetached(std::move(words))) return true;
    if (model_) model_->say(newInstance ? "Cannot start " + path : "No program to open folders here: install xdg-utils");
    return false;
}

bool startDetached(std::vector<std::string> words) {
    if (words.empty()) return false;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    // The program is never waited for by the caller; a thread reaps it so no zombie is left.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace tqapp
