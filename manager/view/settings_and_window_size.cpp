// Settings and window size: "settings.txt" and "window.txt" in the user-data folder, the install
// scope, the size saved and restored, and the widening that fits the longest name.
#include <algorithm>
#include <cmath>

#include "manager/model/model.h"
#include "manager/model/settings_file.h"
#include "manager/view/view.h"
#include "manager/windows/job_window.h"
#include "manager/windows/settings_window.h"

namespace tqapp {
namespace {

// A stored size larger than this on either side is taken as damage, not as a window.
constexpr int kLargestSide = 16384;
// Seconds without a size change after which a new size counts as settled and is written.
constexpr double kSizeSettles = 0.5;

tqm::Layout layoutOf(const ManagerView& v) { return v.model() ? v.model()->config.layout : tqm::Layout{}; }

}  // namespace

std::string ManagerView::settingsFile() const { return settingsPath(layoutOf(*this)); }
std::string ManagerView::sizeFile() const { return sizePath(layoutOf(*this)); }

std::string ManagerView::setting(const std::string& key) const { return settingValue(settingsFile(), key); }

bool ManagerView::setSetting(const std::string& key, const std::string& value) {
    return writeSetting(settingsFile(), key, value);
}

bool ManagerView::applyScope(tqm::Scope scope) {
    if (!model_) return false;
    if (scope == model_->config.layout.scope) return true;
    tqm::Layout next = model_->config.layout;
    next.scope = scope;
    if (!model_->setLayout(next)) {
        model_->say("Wait for the job to finish first");
        return false;
    }
    if (!setSetting("scope", tqm::scopeName(scope))) model_->say(notSavedText(settingsFile()));
    changed();
    return true;
}

void ManagerView::resized(int w, int h) {
    setSize(w, h);
    // A smaller window takes its popups back inside.
    if (JobWindow* job = openJobWindow()) job->keepInside();
    if (AccountWindow* account = openAccountWindow()) account->keepInside();
    if (!model_ || model_->config.harness || selfResizing_) return;
    sizeUnsaved_ = true;
    unsavedW_ = w;
    unsavedH_ = h;
    sizeChangedAt_ = lumo::gui::Editor::now();
}

void ManagerView::tick() {
    if (sizeUnsaved_ && lumo::gui::Editor::now() - sizeChangedAt_ >= kSizeSettles) saveSize();
}

void ManagerView::saveSize() {
    if (!sizeUnsaved_ || !model_) return;
    sizeUnsaved_ = false;
    // Only a size that differs from the stored one is written: the editor reports its size again
    // whenever its limits are set, and that must not turn into a write at every start.
    int sw = 0, sh = 0;
    const std::string file = sizeFile();
    if (readSize(file, sw, sh) && sw == unsavedW_ && sh == unsavedH_) return;
    writeSize(file, unsavedW_, unsavedH_);
}

bool ManagerView::restoreSize() {
    int w = 0, h = 0;
    if (!readSize(sizeFile(), w, h)) return false;
    if (w < minimumWidth() || h < pageHeight_ || w > kLargestSide || h > kLargestSide) return false;
    sizeRestored_ = true;
    if (resizeRequest_) resizeRequest_(w, h);
    return true;
}

void ManagerView::fitNames() {
    // Widths are measured with the font at scale 1, in the layout units the window size is in.
    const lumo::gui::BitmapFont* font = fontAt(managerSkin().pack(1.0), "val", 1.0);
    if (!font || !resizeRequest_ || !model_) return;
    const int margin = look_->nameMargin(*this);
    int widest = 0;
    for (const tqm::Row& row : model_->rows) widest = std::max(widest, font->width(row.name) + 2);
    const double listShare = 1.0 - inspectorShare_;
    const int need = int(std::ceil(std::max(widest + margin, 0) / listShare));
    const int width = std::max(need, look_->extraWidth()) + pageWidth_;
    if (width <= bounds.w) return;
    selfResizing_ = true;
    resizeRequest_(width, bounds.h < 1 ? pageHeight_ : bounds.h);
    selfResizing_ = false;
}

}  // namespace tqapp
