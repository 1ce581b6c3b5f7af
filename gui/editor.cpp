// Editor record and lifetime, the current editor, window attachment, the standalone run and the
// thin window, dialog, system-menu and file-drag operations.
#include "gui/editor.h"

#include <algorithm>
#include <chrono>

namespace lumo::gui {

namespace {

Editor* g_current = nullptr;
bool g_systemButtonsHidden = false;

// Editors alive now, so that a widget outliving its editor never reaches a freed one.
std::vector<const Editor*>& liveEditors() {
    static std::vector<const Editor*> editors;
    return editors;
}

}  // namespace

// ---- construction and destruction

Editor::Editor(EditorHost& host, int w, int h)
    : host_(host), undo_(host), root_(std::make_unique<RootWidget>()), width_(w), height_(h) {
    root_->bounds = Rect{0, 0, w, h};
    root_->editor = this;
    liveEditors().push_back(this);
}

Editor::~Editor() {
    // Workers' later posts are refused; what is still pending is destroyed unrun.
    { auto unrun = queue_->shutdown(); }

    Editor* before = g_current;
    std::weak_ptr<bool> beforeAlive = before ? before->alive_ : std::weak_ptr<bool>();
    makeCurrent();

    if (Widget* f = focus_) {
        focus_ = nullptr;
        blurring_ = true;
        f->onBlur();
        blurring_ = false;
    }
    detach();
    if (Widget* c = capture_) {
        capture_ = nullptr;
        c->onMouseUp(cancelEvent());
    }

    destroyRetired();
    while (!overlays_.empty()) {
        Overlay o = std::move(overlays_.back());
        overlays_.pop_back();
    }
    retireSurfaces();
    header_.reset();
    root_.reset();
    destroyRetired();

    dropTarget_ = capture_ = hover_ = focus_ = keyOverlay_ = nullptr;

    g_current = nullptr;
    if (before && before != this && !beforeAlive.expired()) {
        g_current = before;
        for (auto& hook : before->activations_)
            if (hook.first) hook.first();
    }
    auto& live = liveEditors();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

// ---- current editor

Editor* Editor::current() { return g_current; }

void Editor::makeCurrent() {
    if (g_current == this) return;
    if (Editor* old = g_current) {
        for (size_t i = old->activations_.size(); i-- > 0;)
            if (old->activations_[i].second) old->activations_[i].second();
    }
    g_current = this;
    for (size_t i = 0; i < activations_.size(); ++i)
        if (activations_[i].first) activations_[i].first();
}

void Editor::addActivation(std::function<void()> activate, std::function<void()> deactivate) {
    activations_.emplace_back(std::move(activate), std::move(deactivate));
}

bool Editor::isLive(const Editor* editor) {
    const auto& live = liveEditors();
    return std::find(live.begin(), live.end(), editor) != live.end();
}

Editor::CurrentScope::CurrentScope(Editor& editor) : previous_(g_current) {
    if (previous_) previousAlive_ = previous_->alive_;
    editor.makeCurrent();
}

Editor::CurrentScope::~CurrentScope() {
    // The scope's own editor may have been destroyed by a handler: only the editor that is current
    // now (always a live one) and the remembered one are touched.
    if (!previous_ || previousAlive_.expired() || g_current == previous_) return;
    previous_->makeCurrent();
}

// ---- window attachment

bool Editor::attach(void* parent) {
    std::weak_ptr<bool> alive = alive_;
    detach();
    if (alive.expired()) return false;
    window_ = PlatformWindow::create(*this);
    bool ok = window_->attach(parent, pixelWidth(), pixelHeight());
    if (ok) {
        armWake(true);
        fullRepaint_ = true;
    } else {
        window_.reset();
    }
    return ok;
}

void Editor::attachWindow(std::unique_ptr<PlatformWindow> window) {
    // A wake posted from a worker must never reach the window about to be destroyed.
    armWake(false);
    if (window_) {
        // The old window's popup surfaces go before it, and its frames stop with it.
        std::weak_ptr<bool> alive = alive_;
        closeAllPopups();
        if (alive.expired()) return;
        retireSurfaces();
        framesRunning_ = false;
    }
    window_ = std::move(window);
    if (window_) {
        if (!title_.empty()) window_->setTitle(title_, titleFlag_);
        armWake(true);
    }
    fullRepaint_ = true;
}

void Editor::detach() {
    armWake(false);
    std::weak_ptr<bool> alive = alive_;
    closeAllPopups();
    if (alive.expired()) return;  // a handler of a closing popup destroyed the editor (and the window)
    retireSurfaces();
    if (window_) {
        window_->close();
        window_.reset();
    }
    framesRunning_ = false;
}

void Editor::show(bool on) {
    if (on && window_) window_->show(true);
}

void Editor::runStandalone(const char* title) {
    std::weak_ptr<bool> alive = alive_;
    detach();
    if (alive.expired()) return;
    window_ = PlatformWindow::create(*this);
    setScale(window_->systemScale());
    // A window never opens larger than its screen's usable area (a size kept from a larger screen).
    int fitW = width_, fitH = height_;
    fitScreen(fitW, fitH);
    if (fitW != width_ || fitH != height_) {
        CurrentScope scope(*this);
        applyBodySize(fitW, fitH);
    }
    if (!window_->openTopLevel(title, pixelWidth(), pixelHeight())) {
        window_.reset();
        return;
    }
    if (!title_.empty()) window_->setTitle(title_, titleFlag_);
    applySizeLimits();
    if (customFrame_) window_->setCustomFrame(true);
    if (onTop_) window_->setWindowOnTop(true);
    if (cornerStyle_ != 0) window_->setCornerStyle(cornerStyle_);

    // The loop may end with the editor destroyed (the standalone teardown); touch nothing then.
    armWake(true);
    window_->runMessageLoop();
    if (alive.expired()) return;
    armWake(false);

    // Popups first: their surfaces belong to the window.
    closeAllPopups();
    if (alive.expired()) return;
    retireSurfaces();
    window_.reset();
    framesRunning_ = false;
}

void Editor::closeStandaloneWindow() {
    if (window_) window_->closeTopLevel();
}

void Editor::standaloneCloseCancelled() {
    if (window_) window_->closeCancelled();
}

std::function<void()>& Editor::standaloneTeardown() {
    static std::function<void()> teardown;
    return teardown;
}

// ---- window operations

void Editor::setWindowTitle(const std::string& title, bool flag) {
    if (title == title_ && flag == titleFlag_) return;
    title_ = title;
    titleFlag_ = flag;
    if (window_) window_->setTitle(title_, titleFlag_);
}

void Editor::setCustomFrame(bool on) {
    customFrame_ = on;
    if (window_) window_->setCustomFrame(on);
}

void Editor::setWindowOnTop(bool on) {
    onTop_ = on;
    if (window_) window_->setWindowOnTop(on);
}

void Editor::setCornerStyle(CornerStyle style) {
    cornerStyle_ = style;
    if (window_) window_->setCornerStyle(style);
}

void Editor::setSystemButtonsHidden(bool hidden) { g_systemButtonsHidden = hidden; }
bool Editor::systemButtonsHidden() { return g_systemButtonsHidden; }
int Editor::systemButtonsWidth() { return g_systemButtonsHidden ? 0 : kSystemButtonsWidth; }

uint8_t Editor::windowPartAt(int x, int y) {
    CurrentScope scope(*this);
    Point local;
    Widget* w = pick(x, y, local);
    return w ? w->windowPart : 0;
}

void Editor::minimizeWindow() {
    if (window_) window_->minimizeWindow();
}
void Editor::toggleMaximizeWindow() {
    if (window_) window_->toggleMaximizeWindow();
}
bool Editor::windowMaximized() const { return window_ && window_->windowMaximized(); }
void Editor::toggleFullScreenWindow() {
    if (window_) window_->toggleFullScreenWindow();
}
bool Editor::windowFullScreen() const { return window_ && window_->windowFullScreen(); }
bool Editor::windowActive() const { return window_ && window_->windowActive(); }
void Editor::windowActivated() {
    CurrentScope current(*this);
    if (onWindowActivated) onWindowActivated();
}

void Editor::beginWindowDrag() {
    releaseCapture();
    if (window_) window_->beginWindowDrag();
}

void Editor::beginWindowResize() {
    releaseCapture();
    if (window_) window_->beginWindowResize();
}

void Editor::setSystemMenus(SystemMenuBar bar) {
    systemMenus_ = std::move(bar);
    if (window_) window_->systemMenusChanged();
}

void Editor::releaseCapture() {
    if (Widget* c = capture_) {
        capture_ = nullptr;
        c->onMouseUp(cancelEvent());
    }
}

MouseEvent Editor::cancelEvent() const {
    MouseEvent e;  // local and fine positions unknown
    e.windowX = lastX_;
    e.windowY = lastY_;
    int ox = 0, oy = 0;
    if (window_) window_->screenOrigin(ox, oy);
    e.screenX = lastX_ + ox;
    e.screenY = lastY_ + oy;
    e.time = lastEventTime_ > 0.0 ? lastEventTime_ : now();
    return e;
}

// ---- dialogs, native menus and file drags

bool Editor::fileDialog(bool save, const std::string& title, const std::string& extension, const std::string& name,
                        std::string& path) {
    return window_ && window_->fileDialog(save, title, extension, name, path);
}

bool Editor::openDialog(const std::string& title, const std::vector<FileType>& types, bool multiple,
                        std::vector<std::string>& paths) {
    paths.clear();
    return window_ && window_->openDialog(title, types, multiple, paths) && !paths.empty();
}

bool Editor::saveDialog(const std::string& title, const FileType& type, const std::string& name, std::string& path) {
    return window_ && window_->saveDialog(title, type, name, path);
}

bool Editor::openFilesDialog(const std::string& title, const std::string& types,
                             const std::vector<std::string>& extensions, bool multiple,
                             std::vector<std::string>& paths) {
    paths.clear();
    return window_ && window_->openFilesDialog(title, types, extensions, multiple, paths) && !paths.empty();
}

bool Editor::folderDialog(const std::string& title, std::string& path) {
    return window_ && window_->folderDialog(title, path);
}

int Editor::popupMenu(const std::vector<MenuItem>& items, int x, int y) {
    return window_ ? window_->popupMenu(items, x, y) : -1;
}

void Editor::heldModifiers(bool& shift, bool& command, bool& option) const {
    shift = command = option = false;
    if (window_) window_->heldModifiers(shift, command, option);
}

double Editor::systemScale() const { return window_ ? window_->systemScale() : 1.0; }

bool Editor::popupsEscape() const { return window_ && window_->hasPopups(); }

bool Editor::startFileDrag(const std::vector<std::string>& paths, const DragImage& image, bool move) {
    if (!window_ || paths.empty()) return false;
    capture_ = nullptr;  // the drag takes the mouse over: no mouse-up
    window_->startFileDrag(paths, image, move);
    return true;
}

bool Editor::startFileDrag(const std::vector<std::string>& paths, const DragImage& image, bool move,
                           std::function<void(const DragResult&)> done) {
    if (!window_ || paths.empty()) return false;
    capture_ = nullptr;
    window_->startFileDrag(paths, image, move, std::move(done));
    return true;
}

void Editor::updateFileDrag(const DragImage& image) {
    if (window_) window_->updateFileDrag(image);
}

void Editor::openFiles(const std::vector<std::string>& paths) {
    pendingFiles_.insert(pendingFiles_.end(), paths.begin(), paths.end());
}

// ---- focus and forgotten widgets

void Editor::setFocus(Widget* w) {
    if (w == focus_ || blurring_) return;
    Widget* old = focus_;
    focus_ = w;
    if (old) {
        std::weak_ptr<bool> alive = alive_;
        blurring_ = true;
        old->onBlur();
        if (alive.expired()) return;  // the blur handler destroyed the editor
        blurring_ = false;
        if (focus_ != w) return;  // the blur handler destroyed w
    }
    if (!w) {
        fullRepaint_ = true;
        return;
    }
    int i = overlayIndexOf(w);
    if (overlays_.empty() || i < 0)
        keyOverlay_ = nullptr;
    else if (overlays_[size_t(i)].activates)
        keyOverlay_ = overlays_[size_t(i)].widget.get();
    if (keyOverlay_) {
        for (Overlay& o : overlays_)
            if (o.widget.get() == keyOverlay_ && o.surface) o.surface->takeKeyboard();
    }
    fullRepaint_ = true;
    w->onFocus();
}

void Editor::forgetWidget(const Widget* w) {
    if (!w) return;
    if (capture_ == w) capture_ = nullptr;
    if (hover_ == w) hover_ = nullptr;
    if (focus_ == w) focus_ = nullptr;
    if (keyOverlay_ == w) keyOverlay_ = nullptr;
    if (dropTarget_ == w) dropTarget_ = nullptr;
    for (Watch* watch : watches_)
        if (watch->get() == w) watch->set(nullptr);
}

Editor::Watch::Watch(Editor& editor, Widget* w) : editor_(editor), alive_(editor.alive_), w_(w) {
    editor_.watches_.push_back(this);
}

Editor::Watch::~Watch() {
    if (alive_.expired()) return;
    auto& list = editor_.watches_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

}  // namespace lumo::gui
