// Start-up: the editor factory, the view's constructor (the layout values it reads once) and start,
// which turns the command line and "settings.txt" into the run configuration and starts the model.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "embedded/managerSkin.h"
#include "engine/running.h"
#include "engine/signature.h"
#include "platform/platform.h"
#include "manager/model/model.h"
#include "manager/model/setup.h"
#include "manager/view/view.h"
#include "manager/model/settings_file.h"

namespace tqapp {
namespace {

// The maker's download server; "--source" replaces it.
constexpr const char* kDefaultSource = "https://downloads.ardune.systems/manager/";

// "#rrggbb" as an opaque colour; anything else is opaque white.
lumo::gui::Color colorOf(const lumo::Json& v) {
    const std::string& s = v.string();
    if (!v.isString() || s.size() != 7) return 0xFFFFFFFFu;
    uint32_t rgb = 0;
    for (size_t i = 1; i < 7; ++i) {
        const char c = s[i];
        uint32_t d;
        if (c >= '0' && c <= '9')
            d = uint32_t(c - '0');
        else if (c >= 'a' && c <= 'f')
            d = uint32_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            d = uint32_t(c - 'A' + 10);
        else
            return 0xFFFFFFFFu;
        rgb = rgb << 4 | d;
    }
    const uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    return 0xFF000000u | b << 16 | g << 8 | r;
}

Axis axisOf(const lumo::Json& bands) {
    Axis a;
    for (const lumo::Json& e : bands.array()) {
        Axis::Band b;
        b.pos = lumo::gui::jsonInt(e[0], 0);
        b.len = lumo::gui::jsonInt(e[1], 1);
        if (b.len < 2) b.len = 1;
        a.bands.push_back(b);
    }
    return a;
}

// The caption strip ends one unit left of the minimise button.
void placeCaption(CaptionArea& caption, const ManagerView& view) {
    caption.bounds = {0, 0, view.windowSlot(false).x - 1, 25};
}

}  // namespace

const lumo::gui::Assets& managerSkin() {
    static const lumo::gui::Assets skin = [] {
        lumo::gui::Assets a;
        a.loadOnDemand(lumo::embedded::managerSkin, lumo::embedded::managerSkinCount);
        return a;
    }();
    return skin;
}

ManagerView::ManagerView() {
    name = "manager";
    const lumo::Json& layout = managerSkin().layout;
    managerLayout_ = &layout["manager"];
    layoutRects_ = &layout["rects"];
    const lumo::Json& m = *managerLayout_;
    for (const auto& [key, value] : m["colors"].object()) colors_[key] = colorOf(value);
    rowPitch_ = lumo::gui::jsonInt(m["row_pitch"], 26);
    rowFirstX_ = lumo::gui::jsonInt(m["row_first"][0], 0);
    rowFirstY_ = lumo::gui::jsonInt(m["row_first"][1], 0);
    xAxis_ = axisOf(m["stretch"]["x"]);
    yAxis_ = axisOf(m["stretch"]["y"]);
    const lumo::Json& share = m["stretch"]["inspector_share"];
    if (share.isNumber() && std::isfinite(share.number)) inspectorShare_ = std::clamp(share.number, 0.0, 0.9);
    // The designed size alone: the artwork is decoded when the window first paints, at its scale.
    const auto [width, height] = managerSkin().pageSize(1.0);
    if (width > 0 && height > 0) {
        pageWidth_ = width;
        pageHeight_ = height;
    }
    setSize(pageWidth_, pageHeight_);
}

ManagerView::~ManagerView() {
    // The window closes: its last size is kept, and a running job is stopped as STOP does (or
    // finishes) and its outcome logged before the model goes.
    saveSize();
    if (model_) model_->endJob();
    // The model goes before the resize callback and the rest of the fields.
    model_.reset();
    resizeRequest_ = nullptr;
}

void ManagerView::setModel(std::unique_ptr<Model> model) { model_ = std::move(model); }

void ManagerView::start(lumo::gui::Editor& editor) {
    Config cfg;
    cfg.layout.scope = tqm::defaultScope();
    cfg.source = lumo::standaloneArgValue("--source");
    if (cfg.source.empty()) cfg.source = kDefaultSource;
    cfg.pub = lumo::standaloneArgValue("--pub");
    if (cfg.pub.empty()) cfg.pub = tqm::builtinKeys();
    // Receipts keep the paths under the root as they were written, so the root is made absolute
    // here: a later run from another folder must find the same files inside it.
    if (std::string root = lumo::standaloneArgValue("--root"); !root.empty()) {
        std::error_code ec;
        std::filesystem::path whole = std::filesystem::absolute(root, ec).lexically_normal();
        if (!whole.has_filename() && whole.has_relative_path()) whole = whole.parent_path();  // no trailing "/"
        cfg.layout.root = ec || std::filesystem::path(root).is_absolute() ? root : whole.string();
    }
    const std::string scopeWord = lumo::standaloneArgValue("--scope");
    if (!scopeWord.empty()) cfg.layout.scope = scopeOf(scopeWord);
    cfg.offline = lumo::hasStandaloneArg("--offline");
    const std::vector<std::string> notes = applySettings(settingsPath(cfg.layout), cfg.layout, !scopeWord.empty());
    cfg.harness = false;
    for (const char* word : {"--screenshot", "--dump-tree", "--steps", "--frames"})
        cfg.harness = cfg.harness || lumo::hasStandaloneArg(word);
    cfg.program = tqm::runningProgram();
    cfg.version = ownVersion(cfg.program);

    model_.reset();
    model_ = std::make_unique<Model>(cfg, editor.uiQueue(), [this] { changed(); });

    setLook(lumo::standaloneArgValue("--look") == "tq" ? 0 : 1);  // lays the view out again
    if (!lumo::hasStandaloneArg("--zoom")) editor.setZoom(look_->zoom());
    if (!cfg.harness && !lumo::hasStandaloneArg("--size")) restoreSize();
    if (!cfg.harness) {
        const setup::Where where(cfg.layout.root);
        if (setup::runningInstalled(where, cfg.program)) setup::refreshEntry(where, cfg.version);
    }
    model_->start();
    for (const std::string& note : notes) {
        model_->log(note);
        model_->say(note);
    }
    if (std::string sel = lumo::standaloneArgValue("--select"); !sel.empty()) selectIndex(std::atoi(sel.c_str()));
}

std::unique_ptr<lumo::gui::Editor> createManagerEditor(lumo::gui::EditorHost& host) {
    return createManagerEditor(host, std::make_unique<ManagerView>());
}

std::unique_ptr<lumo::gui::Editor> createManagerEditor(lumo::gui::EditorHost& host,
                                                       std::unique_ptr<ManagerView> made) {
    const lumo::gui::Assets& skin = managerSkin();
    const lumo::gui::AssetPack& pack = skin.pack(1.0);
    const int w = pack.width > 0 ? pack.width : 426, h = pack.height > 0 ? pack.height : 344;
    auto editor = std::make_unique<lumo::gui::Editor>(host, w, h);
    editor->setBodyScales(skin.scales());
    editor->setCustomFrame(lumo::gui::Editor::customFrameSupported());
    editor->setCornerStyle(2);
    editor->setWindowTitle("Ardune Systems Manager", false);
    ManagerView* view = editor->root()->add(std::move(made));
    // The list has the keyboard from the start, not only after a click; given before start, so a
    // popup its first load opens keeps the keys it takes.
    editor->setFocus(view);
    CaptionArea* caption = editor->root()->make<CaptionArea>();
    placeCaption(*caption, *view);
    editor->onResize = [view, caption](int rw, int rh) {
        view->resized(rw, rh);
        placeCaption(*caption, *view);
    };
    // Another copy of the manager or the elevated helper may have changed the receipts meanwhile.
    editor->onWindowActivated = [view] {
        if (view->model()) view->model()->refreshIfChanged();
    };
    // A close during a job waits for the job, which is asked to stop.
    editor->onCloseAsked = [view] {
        if (!view->model() || !view->model()->busy) return true;
        view->model()->closeAfterJob();
        return false;
    };
    editor->setResizable(w, h, 0, 0);
    lumo::gui::Editor* ed = editor.get();
    view->resizeRequest_ = [ed](int rw, int rh) { ed->resizeBody(rw, rh); };
    view->start(*editor);
    // Widening to the look's minimum is the program's doing, not a size the user chose: not saved.
    view->selfResizing_ = true;
    editor->setResizable(view->minimumWidth(), h, 0, 0);
    view->selfResizing_ = false;
    return editor;
}

}  // namespace tqapp
