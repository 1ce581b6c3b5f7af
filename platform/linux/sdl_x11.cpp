// The SDL window's services that go through its X11 link: embedding into a host window, moves by
// the window manager, caption double-clicks and file drags out of the window. Without X11 (Wayland
// alone) they answer as SDL alone can: no embedding, no moves on request, drags that end at once.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "platform/linux/sdl_window.h"

namespace lumo::platform {

namespace {

constexpr uint32_t kDoubleClickMs = 500;  // SDL's own double-click time
constexpr int kDoubleClickSlop = 4;       // SDL units between the two presses
constexpr int kFrameDragSlop = 3;         // SDL units the pointer moves before a frame press is a drag

}  // namespace

void SdlWindow::openX11() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && SDL_strcmp(driver, "x11") == 0) {
        // The link is the window's drop target: SDL's own (which always answers "copy") stays out.
        for (uint32_t t : {SDL_DROPFILE, SDL_DROPTEXT, SDL_DROPBEGIN, SDL_DROPCOMPLETE}) SDL_EventState(t, SDL_DISABLE);
        x11_ = X11Link::open(window_, editor_, alive_);
        if (x11_) return;
        for (uint32_t t : {SDL_DROPFILE, SDL_DROPTEXT, SDL_DROPBEGIN, SDL_DROPCOMPLETE}) SDL_EventState(t, SDL_ENABLE);
    }
    static bool told = false;
    if (!told) {
        told = true;
        SDL_Log("no X11 on this display: windows cannot be embedded, moved on request or drag files out, "
                "and pinch gestures do not arrive");
    }
}

bool SdlWindow::attach(void* parent, int w, int h) {
    if (window_ || !parent) return false;
    if (!makeWindow("", w, h, SDL_WINDOW_ALLOW_HIGHDPI | SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS)) return false;
    if (!x11_ || !x11_->embed(reinterpret_cast<uintptr_t>(parent))) {
        destroyWindow();
        return false;
    }
    showMade();
    return true;
}

void SdlWindow::beginWindowDrag() {
    if (x11_) x11_->moveWithPointer();
}

bool SdlWindow::framePress(const SDL_MouseButtonEvent& e, bool down) {
    if (!down) {
        // The release of a frame press (SDL's own after a hand-over) goes nowhere else.
        const bool ours = framePress_.part != SDL_HITTEST_NORMAL;
        framePress_ = FramePress{};
        return ours;
    }
    if (!ownsFrameDrags()) return false;
    const SDL_HitTestResult part = frameAt(e.x, e.y);
    if (part == SDL_HITTEST_NORMAL) return false;
    framePress_ = FramePress{part, e.x, e.y, false};
    if (part == SDL_HITTEST_DRAGGABLE) captionPressed(e.timestamp);
    return true;
}

bool SdlWindow::frameMotion(const SDL_MouseMotionEvent& e) {
    FramePress& p = framePress_;
    if (p.part == SDL_HITTEST_NORMAL) return false;
    if (p.handedOver || (std::abs(e.x - p.x) < kFrameDragSlop && std::abs(e.y - p.y) < kFrameDragSlop)) return true;
    p.handedOver = true;
    // The link asks the server whether the button is still held: a click whose motion is read after
    // its release starts nothing. The window manager's directions: the edges and corners clockwise
    // from the top left (SDL's order, from its first resize part), then the move.
    const int direction = p.part == SDL_HITTEST_DRAGGABLE ? kWmMove : int(p.part) - int(SDL_HITTEST_RESIZE_TOPLEFT);
    if (x11_) x11_->moveWithPointer(direction);
    return true;
}

void SdlWindow::captionPressed(uint32_t ticks) {
    // A press on a caption (SDL's hit test took it, or the window's own frame press under X11); a
    // second one soon after the first, near it, is a double-click, which maximizes or restores.
    if (!window_) return;
    int gx = 0, gy = 0, wx = 0, wy = 0;
    SDL_GetGlobalMouseState(&gx, &gy);
    SDL_GetWindowPosition(window_, &wx, &wy);
    int x = gx - wx, y = gy - wy;
    if (!captionAt(x, y)) return;
    bool twice = captionTicks_ != 0 && ticks - captionTicks_ <= kDoubleClickMs &&
                 std::abs(x - captionX_) <= kDoubleClickSlop && std::abs(y - captionY_) <= kDoubleClickSlop;
    captionTicks_ = twice ? 0 : std::max<uint32_t>(ticks, 1);
    captionX_ = x;
    captionY_ = y;
    if (twice) toggleMaximizeWindow();
}

void SdlWindow::startFileDrag(const std::vector<std::string>& paths, const gui::DragImage& image, bool move) {
    startFileDrag(paths, image, move, nullptr);
}

void SdlWindow::startFileDrag(const std::vector<std::string>& paths, const gui::DragImage& image, bool move,
                              std::function<void(const gui::DragResult&)> done) {
    if (x11_ && x11_->startFileDrag(paths, image, move, done)) return;
    // A drag that cannot start (no X11, no button held, another drag running) ends at once, undropped.
    if (done) later_.push_back([done = std::move(done)] { done(gui::DragResult{}); });
}

void SdlWindow::updateFileDrag(const gui::DragImage& image) {
    if (x11_) x11_->updateFileDrag(image);
}

}  // namespace lumo::platform
