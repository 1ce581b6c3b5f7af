// Settings and window size: "settings.txt" and "window.txt" in the user-data folder, the install
// scope, the size saved and restored, the widening that fits the longest name, the offers made once
// after the first catalog load, the restart and the system's opener.
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "engine/running.h"
#include "platform/platform.h"
#include "manager/model/model.h"
#include "manager/model/settings_file.h"
#include "manager/model/setup.h"
#include "manager/view/view.h"

extern char** environ;

namespace tqapp {
namespace {

// A stored size larger than this on either side is taken as damage, not as a window.
constexpr int kLargestSide = 16384;

tqm::Layout layoutOf(const ManagerView& v) { return v.model ? v.model->config.layout : tqm::Layout{}; }

}  // namespace

std::string ManagerView::settingsFile() const { return settingsPath(layoutOf(*this)); }
std::string ManagerView::sizeFile() const { return sizePath(layoutOf(*this)); }

std::string ManagerView::setting(const std::string& key) const { return settingValue(settingsFile(), key); }

bool ManagerView::setSetting(const std::string& key, const std::string& value) {
    return writeSetting(settingsFile(), key, value);
}

bool ManagerView::applyScope(tqm::Scope scope) {
    if (!model) return false;
    if (scope == model->config.layout.scope) return true;
    tqm::Layout next = model->config.layout;
    next.scope = scope;
    if (!model->setLayout(next)) {
        model->say("Wait for the job to finish first");
        return false;
    }
    setSetting("scope", tqm::scopeName(scope));
    changed();
    return true;
}

void ManagerView::resized(int w, int h) {
    setSize(w, h);
    if (!model || model->config.harness || selfResizing) return;
    // Only a size that differs from the stored one is written: the editor reports its size again
    // whenever its limits are set, and that must not turn into a write at every start.
    int sw = 0, sh = 0;
    const std::string file = sizeFile();
    if (readSize(file, sw, sh) && sw == w && sh == h) return;
    writeSize(file, w, h);
}

bool ManagerView::restoreSize() {
    int w = 0, h = 0;
    if (!readSize(sizeFile(), w, h)) return false;
    if (w < minimumWidth() || h < pageHeight || w > kLargestSide || h > kLargestSide) return false;
    sizeRestored = true;
    if (resizeRequest) resizeRequest(w, h);
    return true;
}

void ManagerView::fitNames() {
    // Widths are measured with the font at scale 1, in the layout units the window size is in.
    const lumo::gui::BitmapFont* font = fontAt(managerSkin().pack(1.0), "val", 1.0);
    if (!font || !resizeRequest || !model) return;
    const lumo::Json& m = *managerLayout;
    const lumo::gui::Rect nameBox = lumo::gui::jsonRect(m["row_name"]);
    const int margin =
        look == 0 ? lumo::gui::jsonInt(m["row_name_x"], 0) - (nameBox.x + nameBox.w) + 2 : rowFirstX;
    int widest = 0;
    for (const tqm::Row& row : model->rows) widest = std::max(widest, font->width(row.name) + 2);
    const double listShare = 1.0 - inspectorShare;
    const int need = int(std::ceil(std::max(widest + margin, 0) / listShare));
    const int width = std::max(need, look == 1 ? kPixelExtraWidth : 0) + pageWidth;
    if (width <= bounds.w) return;
    selfResizing = true;
    resizeRequest(width, bounds.h < 1 ? pageHeight : bounds.h);
    selfResizing = false;
}

bool ManagerView::offerInstall() {
    if (!model) return false;
    if (model->config.harness && !lumo::hasStandaloneArg("--offer-install")) return false;
    const setup::Where where(model->config.layout.root);
    if (setup::runningInstalled(where, model->config.program)) return false;
    if (setup::installed(where) || setting("install_offered") == "1") return false;
    setSetting("install_offered", "1");
    openInstall();
    return true;
}

void ManagerView::offerSelfUpdate() {
    if (!model) return;
    const std::string version = model->managerUpdate();
    if (version.empty() || model->busy) return;
    if (!model->managerRequired() && setting("offered") == version) return;
    setSetting("offered", version);
    openSelfUpdate();
}

void ManagerView::restartSelf() {
    // On this platform the new instance is the program itself; a window that cannot be replaced
    // stays open and says so.
    if (model && !model->config.program.empty() && !openPath(model->config.program, true)) return;
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
    if (model) model->say(newInstance ? "Cannot start " + path : "No program to open folders here: install xdg-utils");
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
