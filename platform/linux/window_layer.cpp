#include "platform/linux/window_layer.h"

#include <SDL2/SDL.h>
#include <X11/Xlib.h>

#include <string>

#include "platform/linux/sdl_window.h"

namespace lumo::platform {

namespace {

// Only a desktop's display counts: SDL would otherwise fall back to drawing off screen or to
// taking over the console.
bool desktopDriver() {
    const char* d = SDL_GetCurrentVideoDriver();
    return d && (SDL_strcmp(d, "x11") == 0 || SDL_strcmp(d, "wayland") == 0);
}

// The display probe's connection, held until SDL's own is open: on a server with no other client
// the last one to leave resets the server, and SDL's connection would wait through that.
Display* probe = nullptr;

void closeProbe() {
    if (probe) XCloseDisplay(probe);
    probe = nullptr;
}

// SDL's video, once up, stays up for the life of the process (UI thread only): the display
// connection is made once, however many windows come and go. Quitting it would unload the X
// libraries and leave what they keep for the process behind as unattributable leaks.
bool videoUp() {
    static bool up = false;
    if (up) return true;
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,wayland");  // SDL_VIDEODRIVER in the environment still wins
    // A click that activates the window also reaches the widget under it.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    // The close handshake answers the window's own close request; SDL_QUIT stays for signals.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // The canvas is drawn in software: the window's surface goes straight to the server (shared
    // memory where it can), without a GL driver and its threads in between.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    bool started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    if (!started && probe) {
        // The X server answered a moment ago: SDL's start on it failed once and fell through to
        // Wayland. X11 is tried once more, alone.
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
        started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    }
    closeProbe();
    if (!started) return false;
    if (!desktopDriver()) {
        const std::string driver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        SDL_SetError("the video driver \"%s\" shows no window on a desktop", driver.c_str());
        return false;
    }
    up = true;
    return true;
}

}  // namespace

bool displayReachable() {
    // An X server answers: a connection opened (and held until SDL's video opens its own), a
    // fraction of what SDL's video costs. A driver named in the environment, or no X server
    // (Wayland alone), is asked of SDL itself.
    if (!SDL_getenv("SDL_VIDEODRIVER")) {
        if (const char* name = SDL_getenv("DISPLAY"); name && *name) {
            if (probe || (probe = XOpenDisplay(nullptr))) return true;
        }
        if (!SDL_getenv("WAYLAND_DISPLAY")) return false;
    }
    return videoUp();
}

std::unique_ptr<gui::PlatformWindow> makeSdlWindow(gui::Editor& editor) {
    if (!videoUp()) return nullptr;
    return std::make_unique<SdlWindow>(editor);
}

std::string videoError() {
    const char* e = SDL_GetError();
    return e ? e : "";
}

void installWindowLayer() { gui::PlatformWindow::setFactory(makeSdlWindow); }

}  // namespace lumo::platform
