#include "platform/linux/window_layer.h"

#include <SDL2/SDL.h>

#include "platform/linux/sdl_window.h"

namespace lumo::platform {

namespace {

// Only a desktop's display counts: SDL would otherwise fall back to drawing off screen or to
// taking over the console.
bool desktopDriver() {
    const char* d = SDL_GetCurrentVideoDriver();
    return d && (SDL_strcmp(d, "x11") == 0 || SDL_strcmp(d, "wayland") == 0);
}

}  // namespace

std::unique_ptr<gui::PlatformWindow> makeSdlWindow(gui::Editor& editor) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,wayland");  // SDL_VIDEODRIVER in the environment still wins
    // A click that activates the window also reaches the widget under it.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return nullptr;
    if (!desktopDriver()) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return nullptr;
    }
    return std::make_unique<SdlWindow>(editor);
}

void installWindowLayer() { gui::PlatformWindow::setFactory(makeSdlWindow); }

}  // namespace lumo::platform
