#include "platform/linux/sdl_input.h"

#include <cmath>

namespace lumo::platform {

int windowPoint(double position, double ratio) { return int(std::floor(position * ratio + 1e-9)); }

double timeOfAge(uint32_t ageMs, double now) { return now - (ageMs < 10000u ? ageMs / 1000.0 : 0.0); }

int buttonOf(uint8_t sdlButton, bool control) {
    if (sdlButton == SDL_BUTTON_LEFT) return control ? gui::kButtonRight : gui::kButtonLeft;
    if (sdlButton == SDL_BUTTON_RIGHT) return gui::kButtonRight;
    return -1;
}

bool isDoubleClick(int clicks) { return clicks >= 2 && clicks % 2 == 0; }

Modifiers modifiersOf(uint16_t mod) {
    Modifiers m;
    m.shift = (mod & KMOD_SHIFT) != 0;
    m.control = (mod & KMOD_CTRL) != 0;
    m.command = m.control;
    m.option = (mod & KMOD_ALT) != 0;
    return m;
}

gui::Key keyOf(SDL_Keycode code) {
    using gui::Key;
    switch (code) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return Key::Enter;
    case SDLK_ESCAPE: return Key::Escape;
    case SDLK_BACKSPACE: return Key::Backspace;
    case SDLK_DELETE: return Key::Delete;
    case SDLK_LEFT: return Key::Left;
    case SDLK_RIGHT: return Key::Right;
    case SDLK_HOME: return Key::Home;
    case SDLK_END: return Key::End;
    case SDLK_TAB: return Key::Tab;
    case SDLK_UP: return Key::Up;
    case SDLK_DOWN: return Key::Down;
    case SDLK_PAGEUP: return Key::PageUp;
    case SDLK_PAGEDOWN: return Key::PageDown;
    case SDLK_SPACE: return Key::Space;
    default: break;
    }
    if (code >= SDLK_F1 && code <= SDLK_F12) return Key(int(Key::F1) + int(code - SDLK_F1));
    return Key::None;
}

std::vector<uint32_t> codePoints(const std::string& s) {
    std::vector<uint32_t> out;
    size_t i = 0;
    while (i < s.size()) {
        uint8_t b = uint8_t(s[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        uint32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1Fu) : extra == 2 ? (b & 0x0Fu) : (b & 0x07u);
        bool ok = extra >= 0 && i + size_t(extra) < s.size();
        for (int k = 1; ok && k <= extra; ++k) {
            uint8_t c = uint8_t(s[i + size_t(k)]);
            if ((c >> 6) != 2) ok = false;
            cp = (cp << 6) | (c & 0x3Fu);
        }
        static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
        if (ok && (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += size_t(extra) + 1;
    }
    return out;
}

SDL_SystemCursor systemCursorFor(int code) {
    switch (code) {
    case 3: return SDL_SYSTEM_CURSOR_SIZENS;
    case 4: return SDL_SYSTEM_CURSOR_SIZEWE;
    case 8: return SDL_SYSTEM_CURSOR_SIZENWSE;
    case 12: return SDL_SYSTEM_CURSOR_SIZENESW;
    default: return SDL_SYSTEM_CURSOR_ARROW;
    }
}

}  // namespace lumo::platform
