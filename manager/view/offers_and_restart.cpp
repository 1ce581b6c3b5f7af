// The offers made once after the first catalog load (install the manager, update it), the restart
// into a new instance and the system's opener.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/running.h"
#include "platform/platform.h"
#include "manager/model/model.h"
#include "manager/model/setup.h"
#include "manager/view/view.h"

extern char** environ;

namespace tqapp {
namespace {

// A run that only paints a picture or prints the tree records no offer as made: the real window
// that follows must still make it.
bool picturesOnly() { return lumo::hasStandaloneArg("--screenshot") || lumo::hasStandaloneArg("--dump-tree"); }

}  // namespace

bool ManagerView::offerInstall() {
    if (!model_) return false;
    if (model_->config.harness && !lumo::hasStandaloneArg("--offer-install")) return false;
    const setup::Where where(model_->config.layout.root);
    if (setup::runningInstalled(where, model_->config.program)) return false;
    if (setup::installed(where) || setting("install_offered") == "1") return false;
    if (!picturesOnly()) setSetting("install_offered", "1");
    openInstall();
    return true;
}

void ManagerView::offerSelfUpdate() {
    if (!model_) return;
    const std::string version = model_->managerUpdate();
    if (!offersSelfUpdate() || model_->busy) return;
    if (!model_->managerRequired() && setting("offered") == version) return;
    if (!picturesOnly()) setSetting("offered", version);
    openSelfUpdate();
}

std::vector<std::string> restartWords(const std::vector<std::string>& words) {
    // Where the new instance finds its catalog, installs and data, and how it looks; each with its
    // value when it takes one. Everything else ran once in this instance and is left out.
    struct Kept {
        const char* name;
        bool value;
    };
    static constexpr Kept kKept[] = {{"--source", true}, {"--pub", true},  {"--root", true},   {"--scope", true},
                                      {"--data-dir", true}, {"--offline", false}, {"--look", true}, {"--size", true},
                                      {"--zoom", true},   {"--scale", true}};
    std::vector<std::string> out;
    for (size_t i = 0; i < words.size(); ++i)
        for (const Kept& k : kKept) {
            if (words[i] != k.name) continue;
            if (k.value && i + 1 >= words.size()) break;
            out.push_back(words[i]);
            if (k.value) out.push_back(words[++i]);
            break;
        }
    return out;
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
        // The words this instance was started with that say where and how it runs: its catalog,
        // root and scope come back, a screenshot or an uninstall does not run again.
        words = restartWords(lumo::standaloneArgs());
        words.insert(words.begin(), path);
    } else {
        words = {"xdg-open", path};
    }
    // The opener ends with an error when it finds no program for the path (or that program fails):
    // the status line says so, as it does for a missing opener. Its word comes through the UI queue,
    // and only while this view lives.
    std::function<void(int)> ended;
    if (!newInstance && model_ && model_->queue)
        ended = [queue = model_->queue, view = this, token = std::weak_ptr<bool>(alive_), path](int code) {
            if (code == 0) return;
            queue->post([view, token, path, code] {
                if (!token.lock() || !view->model_) return;
                view->model_->say(code == 3 ? "No program here opens " + path
                                            : "Could not open " + path + ": xdg-open failed (" + std::to_string(code) + ")");
            });
        };
    // The system's opener (and what it starts) talks on its output as it goes: none of that is the
    // user's business.
    if (startDetached(std::move(words), std::move(ended), !newInstance)) return true;
    if (model_) model_->say(newInstance ? "Cannot start " + path : "No program to open folders here: install xdg-utils");
    return false;
}

bool startDetached(std::vector<std::string> words, std::function<void(int)> ended, bool quiet) {
    if (words.empty()) return false;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t silenced;
    posix_spawn_file_actions_init(&silenced);
    posix_spawn_file_actions_addopen(&silenced, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&silenced, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&silenced, 1, 2);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], quiet ? &silenced : nullptr, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&silenced);
    if (spawned != 0) return false;
    // The program is never waited for by the caller; a thread reaps it so no zombie is left, and
    // tells its exit code when asked to.
    std::thread([pid, ended = std::move(ended)] {
        int status = 0;
        pid_t got = -1;
        while ((got = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        if (ended && got == pid) ended(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }).detach();
    return true;
}

}  // namespace tqapp
