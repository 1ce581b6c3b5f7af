// The SDL window's message loop: the 1/30 s tick, frame ticks at the display rate, wake-ups from
// other threads, painting and presenting the canvas, and the close handshake.
#include <algorithm>
#include <cmath>

#include "platform/linux/sdl_window.h"
#include "platform/linux/wake.h"
#include "platform/linux/window_layer.h"

namespace lumo::platform {

using gui::Editor;

namespace {

constexpr int kEventBatch = 256;
constexpr double kBusyLinkSeconds = 0.005;

}  // namespace

void SdlWindow::runMessageLoop() { loop(0.0, nullptr); }

bool SdlWindow::runFor(double seconds, const std::function<bool()>& until) {
    return loop(Editor::now() + seconds, until);
}

bool SdlWindow::loop(double until, const std::function<bool()>& stop) {
    std::weak_ptr<bool> alive = alive_;
    auto dead = [&alive] { return alive.expired(); };
    while (!closed_) {
        if (stop && stop()) return true;
        if (dead()) return false;
        double t = Editor::now();
        if (until > 0.0 && t >= until) return true;

        if (!later_.empty()) {
            std::vector<std::function<void()>> work;
            work.swap(later_);
            for (auto& f : work) {
                f();
                if (dead()) return false;
            }
        }
        if (t >= nextTick_) {
            // Late ticks are dropped rather than run in a burst: one tick stands for 1/30 s.
            nextTick_ = t - nextTick_ < kTickSeconds ? nextTick_ + kTickSeconds : t + kTickSeconds;
            {
                Editor::CurrentScope scope(editor_);
                editor_.dismissPopups();
            }
            if (dead()) return false;
            editor_.tick();
            if (dead()) return false;
        }
        if (framesOn_ && t >= nextFrame_) {
            nextFrame_ = t - nextFrame_ < frameInterval_ ? nextFrame_ + frameInterval_ : t + frameInterval_;
            editor_.frame(t);
            if (dead()) return false;
        }
        if (closeRequested_) {
            confirmClose();
            if (dead()) return false;
            continue;
        }
        if (dirty_ && window_) {
            paintNow();
            if (dead()) return false;
        }

        // The X11 link's connection wakes nobody: it is read each turn, and often while it is busy.
        bool linkBusy = x11_ && x11_->pump();
        if (dead()) return false;
        double next = nextTick_;
        if (linkBusy) next = std::min(next, Editor::now() + kBusyLinkSeconds);
        if (framesOn_) next = std::min(next, nextFrame_);
        if (until > 0.0) next = std::min(next, until);
        if (!later_.empty() || closeRequested_ || (dirty_ && window_)) next = Editor::now();
        int ms = std::clamp(int(std::ceil((next - Editor::now()) * 1000.0)), 0, 1000);
        SDL_Event e;
        bool got = nextEvent(e, ms);
        // A bounded batch: a flood of events never holds the tick back for long.
        for (int n = 0; got; ++n) {
            dispatch(e);
            if (dead()) return false;
            if (closed_ || n >= kEventBatch) break;
            got = nextEvent(e, 0);
        }
    }
    return false;
}

bool SdlWindow::nextEvent(SDL_Event& e, int ms) {
    // Reading the server's events, SDL asks about the window and its parent (the place of a moved
    // window), which the host may have taken meanwhile.
    X11Link::OwnRequests own(x11_.get());
    return (ms > 0 ? SDL_WaitEventTimeout(&e, ms) : SDL_PollEvent(&e)) == 1;
}

void SdlWindow::confirmClose() {
    // Unless the application holds the window open, the close stands: the window goes, the loop
    // ends and, when the program set one, the teardown runs once (moved out first) before the
    // terminate is confirmed by returning.
    closeRequested_ = false;
    const bool held = editor_.onCloseAsked && !editor_.onCloseAsked();
    closeHeld(held);
    if (held) return;
    closed_ = true;
    if (window_) SDL_HideWindow(window_);
    std::function<void()> teardown = std::move(Editor::standaloneTeardown());
    Editor::standaloneTeardown() = nullptr;
    if (teardown) teardown();  // may destroy the editor and this window
}

void SdlWindow::dispatch(const SDL_Event& e) {
    std::weak_ptr<bool> alive = alive_;
    if (e.type == wakeEventType() && e.type != 0) {
        if (e.user.windowID != windowId_) return;
        editor_.drainPosted();
        if (!alive.expired()) editor_.invalidateWindow();
        return;
    }
    switch (e.type) {
    case SDL_QUIT: closeTopLevel(); break;
    case SDL_WINDOWEVENT:
        if (e.window.windowID == windowId_) windowEvent(e.window);
        break;
    case SDL_MOUSEMOTION:
        if (e.motion.windowID == windowId_) mouseMotion(e.motion);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (e.button.windowID == windowId_) mouseButton(e.button, e.type == SDL_MOUSEBUTTONDOWN);
        break;
    case SDL_MOUSEWHEEL:
        if (e.wheel.windowID == windowId_) wheel(e.wheel);
        break;
    case SDL_KEYDOWN:
        if (e.key.windowID == windowId_) keyDown(e.key);
        break;
    case SDL_KEYUP:
        if (e.key.windowID == windowId_) keyUp(e.key);
        break;
    case SDL_TEXTINPUT:
        if (e.text.windowID == windowId_) text(e.text.text);
        break;
    case SDL_DROPBEGIN: drops_.clear(); break;
    case SDL_DROPFILE:
        if (e.drop.file) {
            drops_.emplace_back(e.drop.file);
            SDL_free(e.drop.file);
        }
        break;
    case SDL_DROPTEXT: SDL_free(e.drop.file); break;
    case SDL_DROPCOMPLETE: dropped(); break;
    default: break;
    }
}

void SdlWindow::windowEvent(const SDL_WindowEvent& e) {
    switch (e.event) {
    case SDL_WINDOWEVENT_CLOSE: closeTopLevel(); break;
    case SDL_WINDOWEVENT_EXPOSED:
        // The server lost the picture: show the canvas again; paint first when it is not current.
        if (canvas_.width == editor_.pixelWidth() && canvas_.height == editor_.pixelHeight())
            present({gui::Rect{0, 0, canvas_.width, canvas_.height}});
        else
            dirty_ = true;
        break;
    case SDL_WINDOWEVENT_SIZE_CHANGED: sizeChanged(); break;
    case SDL_WINDOWEVENT_HIT_TEST: captionPressed(e.timestamp); break;
    case SDL_WINDOWEVENT_FOCUS_GAINED: editor_.windowActivated(); break;
    case SDL_WINDOWEVENT_FOCUS_LOST: editor_.keysClaimed = false; break;
    case SDL_WINDOWEVENT_LEAVE: editor_.mouseLeave(); break;
    case SDL_WINDOWEVENT_DISPLAY_CHANGED:
    case SDL_WINDOWEVENT_MOVED:
        if (double s = systemScale(); s != editor_.scale()) editor_.setScale(s);
        break;
    default: break;
    }
}

void SdlWindow::sizeChanged() {
    dirty_ = true;
    // An embedded window passes every size its host gives on: the editor decides whether it follows.
    if (!window_ || !(resizable_ || (x11_ && x11_->embedded()))) return;
    int w = 0, h = 0;
    SDL_GetWindowSize(window_, &w, &h);
    // SDL units to points: ratio device pixels a unit, scale device pixels a point.
    double k = pixelRatio() / editor_.scale();
    editor_.setHostSize(int(std::lround(w * k)), int(std::lround(h * k)));
}

void SdlWindow::paintNow() {
    std::weak_ptr<bool> alive = alive_;
    dirty_ = false;
    double t0 = Editor::now();
    editor_.paint(canvas_);
    if (alive.expired()) return;
    double t1 = Editor::now();
    if (editor_.lastPaintPartial())
        present(editor_.painted());
    else
        present({gui::Rect{0, 0, canvas_.width, canvas_.height}});
    if (Editor::frameStatsOn())
        editor_.frameStats().add((t1 - t0) * 1000.0, (Editor::now() - t1) * 1000.0, editor_.lastPaintPartial());
}

void SdlWindow::present(const std::vector<gui::Rect>& rects) {
    if (!window_ || canvas_.width < 1 || canvas_.height < 1) return;
    // SDL makes the surface's server side again after a resize, of a window the host may have taken.
    X11Link::OwnRequests own(x11_.get());
    SDL_Surface* target = SDL_GetWindowSurface(window_);
    if (!target) return;
    // The canvas is opaque 0xAARRGGBB: to a window surface without alpha it is handed as the same
    // format less its alpha byte, so the blit copies rows rather than converting each pixel.
    const uint32_t format = target->format->format == SDL_PIXELFORMAT_RGB888 ? SDL_PIXELFORMAT_RGB888 : SDL_PIXELFORMAT_ARGB8888;
    SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(canvas_.pixels.data(), canvas_.width, canvas_.height, 32,
                                                             canvas_.width * 4, format);
    if (!source) return;
    SDL_SetSurfaceBlendMode(source, SDL_BLENDMODE_NONE);
    std::vector<SDL_Rect> shown;
    bool whole = false;
    for (const gui::Rect& r : rects) {
        SDL_Rect s{r.x, r.y, r.w, r.h};
        SDL_Rect all{0, 0, canvas_.width, canvas_.height};
        SDL_Rect clipped;
        if (!SDL_IntersectRect(&s, &all, &clipped)) continue;
        whole = whole || (clipped.w == canvas_.width && clipped.h == canvas_.height);
        SDL_Rect d = clipped;
        SDL_BlitSurface(source, &clipped, target, &d);
        shown.push_back(d);
    }
    SDL_FreeSurface(source);
    if (whole && (target->w > canvas_.width || target->h > canvas_.height)) {
        // A window larger than the editor (a window manager's choice) shows the background around it.
        gui::Color bg = gui::theme()[0];
        uint32_t px = SDL_MapRGB(target->format, uint8_t(bg), uint8_t(bg >> 8), uint8_t(bg >> 16));
        SDL_Rect right{canvas_.width, 0, target->w - canvas_.width, target->h};
        SDL_Rect below{0, canvas_.height, canvas_.width, target->h - canvas_.height};
        for (SDL_Rect* r : {&right, &below}) {
            if (r->w > 0 && r->h > 0) {
                SDL_FillRect(target, r, px);
                shown.push_back(*r);
            }
        }
    }
    if (!shown.empty()) SDL_UpdateWindowSurfaceRects(window_, shown.data(), int(shown.size()));
}

}  // namespace lumo::platform
