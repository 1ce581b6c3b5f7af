#include "platform/linux/wake.h"

#include <SDL2/SDL.h>

#include <atomic>

namespace lumo::platform {

namespace {

std::atomic<uint32_t> g_type{0};

}  // namespace

void registerWakeEvent() {
    if (g_type.load() == 0) {
        uint32_t t = SDL_RegisterEvents(1);
        if (t != uint32_t(-1)) g_type.store(t);
    }
}

uint32_t wakeEventType() { return g_type.load(); }

bool pushWake(uint32_t windowId) {
    uint32_t type = g_type.load();
    if (type == 0 || windowId == 0) return false;
    SDL_Event e{};
    e.type = type;
    e.user.windowID = windowId;
    return SDL_PushEvent(&e) == 1;
}

}  // namespace lumo::platform
