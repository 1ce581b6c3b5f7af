// The SDL window's life and its window operations: opening, sizes and limits, title, frame, state,
// scale, screen geometry, modifiers, dialogs and file drags.
#include "platform/linux/sdl_window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "platform/linux/dialogs.h"
#include "platform/linux/sdl_input.h"
#include "platform/linux/wake.h"
#include "platform/platform.h"

namespace lumo::platform {

namespace {

constexpr int kResizeBorder = 5;  // SDL units along the edges of a window without the system's frame
constexpr int kNoMaximum = 16384;

// The desktop's scale where SDL reports none of its own (X11): the program's own choice when it
// made one, else GDK_SCALE, the setting X11 desktops use for high-density screens.
double desktopScale() {
    if (const double own = lumo::displayScaleOverride(); own > 0) return own;  // drawn at the nearest scale
    const char* s = std::getenv("GDK_SCALE");
    if (!s || !*s) return 1.0;
    char* end = nullptr;
    double v = std::strtod(s, &end);
    return end && *end == '\0' && v >= 1.0 && v <= 3.0 ? v : 1.0;
}

// Under X11 SDL would ask the window manager for the move or resize when it reads the press, which
// may be after the release: the manager then takes the next release as the end, and the window
// follows the pointer until another click. There the window makes the request itself, once the
// pointer moves with the button held (sdl_x11.cpp); elsewhere SDL's hit test does.
SDL_HitTestResult hitTest(SDL_Window*, const SDL_Point* p, void* data) {
    auto* self = static_cast<SdlWindow*>(data);
    return self->ownsFrameDrags() ? SDL_HITTEST_NORMAL : self->frameAt(p->x, p->y);
}

}  // namespace

SdlWindow::SdlWindow(gui::Editor& editor) : editor_(editor) { registerWakeEvent(); }

SdlWindow::~SdlWindow() {
    destroyWindow();
    for (auto& [code, c] : systemCursors_) SDL_FreeCursor(c);
    for (auto& [key, c] : imageCursors_) SDL_FreeCursor(c);
}

void SdlWindow::destroyWindow() {
    if (!window_) return;
    X11Link::OwnRequests own(x11_.get());  // the host may have taken the window already
    if (x11_) x11_->checkHost();
    if (x11_ && x11_->hostGone()) SDL_PumpEvents();  // SDL takes in that the window is gone
    x11_.reset();
    SDL_SetWindowHitTest(window_, nullptr, nullptr);
    SDL_DestroyWindow(window_);
    window_ = nullptr;
}

bool SdlWindow::openTopLevel(const char* title, int w, int h) {
    if (window_ || !makeWindow(title, w, h, SDL_WINDOW_ALLOW_HIGHDPI | SDL_WINDOW_HIDDEN)) return false;
    // Centred on the whole display, a window may cover a panel or, larger than the display, start
    // off its edges.
    int sw = 0, sh = 0;
    SDL_GetWindowSize(window_, &sw, &sh);
    keepOnScreen(sw, sh);
    showMade();
    return true;
}

bool SdlWindow::makeWindow(const char* title, int w, int h, uint32_t flags) {
    window_ = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, std::max(1, w),
                               std::max(1, h), flags);
    if (!window_) return false;
    windowId_ = SDL_GetWindowID(window_);
    SDL_FlushEvent(SDL_QUIT);  // a signal's quit that an earlier window left unanswered
    double r = pixelRatio();
    if (r != 1.0) SDL_SetWindowSize(window_, std::max(1, int(std::lround(w / r))), std::max(1, int(std::lround(h / r))));
    SDL_DisplayMode mode;
    int display = SDL_GetWindowDisplayIndex(window_);
    if (display >= 0 && SDL_GetCurrentDisplayMode(display, &mode) == 0 && mode.refresh_rate >= 30)
        frameInterval_ = 1.0 / mode.refresh_rate;
    // The window is dragged from widgets that are captions, with or without the system's frame.
    SDL_SetWindowHitTest(window_, hitTest, this);
    openX11();
    return true;
}

void SdlWindow::showMade() {
    SDL_ShowWindow(window_);
    closed_ = false;
    dirty_ = true;
    nextTick_ = gui::Editor::now() + kTickSeconds;
    // A screen of another density than the guess made before opening.
    later_.push_back([this] {
        if (double s = systemScale(); s != editor_.scale()) editor_.setScale(s);
    });
}

void SdlWindow::setTitle(const std::string& title, bool) {
    if (window_) SDL_SetWindowTitle(window_, title.c_str());
}

void SdlWindow::closeTopLevel() { closeRequested_ = true; }

void SdlWindow::closeCancelled() { closeRequested_ = false; }

void SdlWindow::setCustomFrame(bool on) {
    if (window_) SDL_SetWindowBordered(window_, on ? SDL_FALSE : SDL_TRUE);
}

SDL_HitTestResult SdlWindow::frameAt(int x, int y) {
    if (!window_) return SDL_HITTEST_NORMAL;
    int w = 0, h = 0;
    SDL_GetWindowSize(window_, &w, &h);
    // A window without the system's frame is resized from its edges.
    uint32_t flags = SDL_GetWindowFlags(window_);
    if ((flags & SDL_WINDOW_RESIZABLE) && (flags & SDL_WINDOW_BORDERLESS)) {
        bool l = x < kResizeBorder, r = x >= w - kResizeBorder;
        bool t = y < kResizeBorder, b = y >= h - kResizeBorder;
        if (t && l) return SDL_HITTEST_RESIZE_TOPLEFT;
        if (t && r) return SDL_HITTEST_RESIZE_TOPRIGHT;
        if (b && l) return SDL_HITTEST_RESIZE_BOTTOMLEFT;
        if (b && r) return SDL_HITTEST_RESIZE_BOTTOMRIGHT;
        if (t) return SDL_HITTEST_RESIZE_TOP;
        if (b) return SDL_HITTEST_RESIZE_BOTTOM;
        if (l) return SDL_HITTEST_RESIZE_LEFT;
        if (r) return SDL_HITTEST_RESIZE_RIGHT;
    }
    return captionAt(x, y) ? SDL_HITTEST_DRAGGABLE : SDL_HITTEST_NORMAL;
}

bool SdlWindow::captionAt(int x, int y) {
    double r = pixelRatio();
    return editor_.windowPartAt(windowPoint(x, r), windowPoint(y, r)) == 1;
}

void SdlWindow::minimizeWindow() {
    if (window_) SDL_MinimizeWindow(window_);
}

void SdlWindow::toggleMaximizeWindow() {
    if (!window_) return;
    if (windowMaximized())
        SDL_RestoreWindow(window_);
    else
        SDL_MaximizeWindow(window_);
}

bool SdlWindow::windowMaximized() const { return window_ && (SDL_GetWindowFlags(window_) & SDL_WINDOW_MAXIMIZED); }

void SdlWindow::toggleFullScreenWindow() {
    if (window_) SDL_SetWindowFullscreen(window_, windowFullScreen() ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
}

bool SdlWindow::windowFullScreen() const {
    return window_ && (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP);
}

bool SdlWindow::windowActive() const { return window_ && (SDL_GetWindowFlags(window_) & SDL_WINDOW_INPUT_FOCUS); }

void SdlWindow::setWindowOnTop(bool on) {
    if (window_) SDL_SetWindowAlwaysOnTop(window_, on ? SDL_TRUE : SDL_FALSE);
}

void SdlWindow::close() {
    destroyWindow();
    closed_ = true;
    closeRequested_ = false;
}

void SdlWindow::show(bool on) {
    if (!window_) return;
    if (on)
        SDL_ShowWindow(window_);
    else
        SDL_HideWindow(window_);
}

void SdlWindow::resize(int w, int h) {
    dirty_ = true;
    if (!window_) return;
    double r = pixelRatio();
    int sw = std::max(1, int(std::lround(w / r))), sh = std::max(1, int(std::lround(h / r)));
    int cw = 0, ch = 0;
    SDL_GetWindowSize(window_, &cw, &ch);
    if (cw == sw && ch == sh) return;
    // Moved first, so that whoever sees the new size sees it where it stays.
    keepOnScreen(sw, sh);
    SDL_SetWindowSize(window_, sw, sh);
}

void SdlWindow::keepOnScreen(int w, int h) {
    // A window inside a host's, or one the display's own mode places, stays where it is.
    if (!window_ || (x11_ && x11_->embedded()) || windowMaximized() || windowFullScreen()) return;
    const int display = SDL_GetWindowDisplayIndex(window_);
    SDL_Rect b;
    if (display < 0 || SDL_GetDisplayUsableBounds(display, &b) != 0 || b.w < 1 || b.h < 1) return;
    int x = 0, y = 0;
    SDL_GetWindowPosition(window_, &x, &y);
    // Back left and up as far as the window needs; a window larger than the area keeps its
    // top-left corner (and so its title bar) in it.
    const int nx = std::max(b.x, std::min(x, b.x + b.w - w)), ny = std::max(b.y, std::min(y, b.y + b.h - h));
    if (nx != x || ny != y) SDL_SetWindowPosition(window_, nx, ny);
}

void SdlWindow::setSizeLimits(bool resizable, int minW, int minH, int maxW, int maxH) {
    resizable_ = resizable;
    if (!window_) return;
    SDL_SetWindowResizable(window_, resizable ? SDL_TRUE : SDL_FALSE);
    // Points to SDL units: points x scale are device pixels, ratio device pixels make one unit.
    double k = editor_.scale() / pixelRatio();
    auto units = [k](int points, int none) { return points > 0 ? std::max(1, int(std::lround(points * k))) : none; };
    SDL_SetWindowMinimumSize(window_, units(minW, 1), units(minH, 1));
    SDL_SetWindowMaximumSize(window_, units(maxW, kNoMaximum), units(maxH, kNoMaximum));
}

bool SdlWindow::startFrames() {
    if (!framesOn_) nextFrame_ = gui::Editor::now();
    framesOn_ = true;
    return true;
}

bool SdlWindow::postWake() { return pushWake(windowId_); }

double SdlWindow::pixelRatio() const {
    if (!window_) return 1.0;
    int w = 0, h = 0, pw = 0, ph = 0;
    SDL_GetWindowSize(window_, &w, &h);
    SDL_GetWindowSizeInPixels(window_, &pw, &ph);
    return w > 0 && pw > 0 ? double(pw) / w : 1.0;
}

double SdlWindow::systemScale() const {
    const double asked = desktopScale() * pixelRatio();
    const double wanted = gui::Editor::snapScale(asked);
    // A window whose smallest size at that scale is larger than the usable area of its display is
    // drawn at the largest scale at which it fits; when none does, at the smallest scale and the
    // largest zoom below the editor's at which it fits (the smallest body when none does). An
    // embedded window's size is its host's business.
    gui::Rect area;
    if ((x11_ && x11_->embedded()) || !usableArea(area)) return wanted;
    const auto fits = [&](double s, double z) {
        int w = 0, h = 0;
        editor_.smallestPixelSize(s, z, w, h);
        return w <= area.w && h <= area.h;
    };
    const double zoom = editor_.zoom();
    double fit = gui::Editor::kScales.front(), fitZoom = zoom;
    for (const double s : gui::Editor::kScales)
        if (s <= wanted && fits(s, zoom)) fit = s;
    if (!fits(fit, zoom)) {
        // Each body the zoom can be lowered to, from the largest: scale x zoom is exactly that body.
        std::vector<double> bodies = editor_.bodyScales();
        std::sort(bodies.begin(), bodies.end(), std::greater<>());
        fitZoom = std::min(zoom, std::max(gui::Editor::kSmallestZoom, bodies.back() / fit));
        for (const double b : bodies)
            if (b / fit < zoom && b / fit >= gui::Editor::kSmallestZoom && fits(fit, b / fit)) {
                fitZoom = b / fit;
                break;
            }
    }
    if ((fit != wanted || fitZoom != zoom) && !toldFit_) {
        toldFit_ = true;
        int w = 0, h = 0, fw = 0, fh = 0;
        editor_.smallestPixelSize(wanted, w, h);
        editor_.smallestPixelSize(fit, fitZoom, fw, fh);
        // A scale between the ones drawn is named as asked, with the one it would be drawn at.
        char scale[64];
        if (asked == wanted)
            std::snprintf(scale, sizeof scale, "%g", wanted);
        else
            std::snprintf(scale, sizeof scale, "%g (drawn at %g)", asked, wanted);
        SDL_Log("the smallest window at scale %s and zoom %g (%dx%d) is larger than the screen's usable area "
                "(%dx%d): it is drawn at scale %g and zoom %g (%dx%d at the least)",
                scale, zoom, w, h, area.w, area.h, fit, fitZoom, fw, fh);
    } else if (asked != wanted && !toldFit_) {
        // It fits, at a scale other than the one asked for: said as well, once.
        toldFit_ = true;
        SDL_Log("scale %g is drawn at %g, the nearest scale drawn", asked, wanted);
    }
    // The editor's own zoom is lowered here: the caller takes the scale.
    if (fitZoom != zoom) editor_.setZoom(fitZoom);
    return fit;
}

void SdlWindow::screenOrigin(int& x, int& y) const {
    x = y = 0;
    if (!window_) return;
    int wx = 0, wy = 0;
    SDL_GetWindowPosition(window_, &wx, &wy);
    double r = pixelRatio();
    x = int(std::lround(wx * r));
    y = int(std::lround(wy * r));
}

bool SdlWindow::workArea(int, int, gui::Rect& area) const {
    if (!window_) return false;
    int display = SDL_GetWindowDisplayIndex(window_);
    SDL_Rect b;
    if (display < 0 || SDL_GetDisplayUsableBounds(display, &b) != 0) return false;
    int wx = 0, wy = 0;
    SDL_GetWindowPosition(window_, &wx, &wy);
    double r = pixelRatio();
    area = gui::Rect{int(std::lround((b.x - wx) * r)), int(std::lround((b.y - wy) * r)), int(std::lround(b.w * r)),
                     int(std::lround(b.h * r))};
    return true;
}

bool SdlWindow::usableArea(gui::Rect& area) const {
    // A window not open yet opens centred on the first display.
    const int display = window_ ? SDL_GetWindowDisplayIndex(window_) : 0;
    SDL_Rect b;
    if (display < 0 || SDL_GetDisplayUsableBounds(display, &b) != 0) return false;
    const double r = pixelRatio();
    area = gui::Rect{int(std::lround(b.x * r)), int(std::lround(b.y * r)), int(std::lround(b.w * r)),
                     int(std::lround(b.h * r))};
    return true;
}

void SdlWindow::heldModifiers(bool& shift, bool& command, bool& option) const {
    Modifiers m = modifiersOf(uint16_t(SDL_GetModState()));
    shift = m.shift;
    command = m.command;
    option = m.option;
}

bool SdlWindow::fileDialog(bool save, const std::string& title, const std::string& extension, const std::string& name,
                           std::string& path) {
    return window_ && zenityFile(save, title, extension, name, path);
}

bool SdlWindow::openFilesDialog(const std::string& title, const std::string& types,
                                const std::vector<std::string>& extensions, bool multiple,
                                std::vector<std::string>& paths) {
    return window_ && zenityFiles(title, types, extensions, multiple, paths);
}

bool SdlWindow::folderDialog(const std::string& title, std::string& path) {
    return window_ && zenityFolder(title, path);
}

}  // namespace lumo::platform
