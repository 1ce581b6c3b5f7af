// The SDL window's input: pointer events as window points (SDL position x ratio, rounded down) with
// the event's time, keys and text through the editor's window key source, file drops and cursors.
#include <cmath>

#include "gui/draw/cursor_image.h"
#include "platform/linux/sdl_input.h"
#include "platform/linux/sdl_window.h"

namespace lumo::platform {

using gui::Editor;

namespace {

constexpr int32_t kDropOperations = 7;  // copy, link and generic: what a file manager's drag allows
constexpr float kPointsPerStep = 10.0f;  // the scroll distance of one wheel step

}  // namespace

void SdlWindow::takeTime(uint32_t sdlTicks) {
    // SDL stamps events in milliseconds since it started; the editor's clock is Editor::now.
    editor_.setPendingEventTime(timeOfAge(SDL_GetTicks() - sdlTicks, Editor::now()));
}

void SdlWindow::mouseMotion(const SDL_MouseMotionEvent& e) {
    if (frameMotion(e)) return;
    std::weak_ptr<bool> alive = alive_;
    double r = pixelRatio();
    int x = windowPoint(e.x, r), y = windowPoint(e.y, r);
    Modifiers m = modifiersOf(uint16_t(SDL_GetModState()));
    takeTime(e.timestamp);
    editor_.mouseMove(x, y, m.shift, m.command, m.option);
    if (!alive.expired()) setCursorAt(x, y);
}

void SdlWindow::mouseButton(const SDL_MouseButtonEvent& e, bool down) {
    if (e.button == SDL_BUTTON_LEFT && framePress(e, down)) return;
    std::weak_ptr<bool> alive = alive_;
    Modifiers m = modifiersOf(uint16_t(SDL_GetModState()));
    int button = buttonOf(e.button, m.control);
    if (e.button == SDL_BUTTON_LEFT) {
        // The release of a control-press is the release of the button it was passed as.
        if (down)
            leftAsRight_ = button == gui::kButtonRight;
        else
            button = leftAsRight_ ? gui::kButtonRight : gui::kButtonLeft;
    }
    if (button < 0) return;
    double r = pixelRatio();
    int x = windowPoint(e.x, r), y = windowPoint(e.y, r);
    takeTime(e.timestamp);
    if (down)
        editor_.mouseDown(x, y, button, m.shift, m.command, m.option, isDoubleClick(e.clicks));
    else
        editor_.mouseUp(x, y, button);
    if (!alive.expired()) setCursorAt(x, y);
}

void SdlWindow::wheel(const SDL_MouseWheelEvent& e) {
    std::weak_ptr<bool> alive = alive_;
    double r = pixelRatio();
    int x = windowPoint(e.mouseX, r), y = windowPoint(e.mouseY, r);
    float flip = e.direction == SDL_MOUSEWHEEL_FLIPPED ? -1.0f : 1.0f;
    float sx = e.preciseX * flip, sy = e.preciseY * flip;
    Modifiers m = modifiersOf(uint16_t(SDL_GetModState()));
    // A scroll first, for widgets that scroll by distance; wheel steps when none took it.
    gui::ScrollEvent s;
    s.stepsX = sx;
    s.stepsY = sy;
    float pixels = float(kPointsPerStep * editor_.scale());
    s.deltaX = sx * pixels;
    s.deltaY = sy * pixels;
    s.shift = m.shift;
    s.command = m.command;
    s.option = m.option;
    takeTime(e.timestamp);
    if (editor_.scroll(x, y, s) || alive.expired() || sy == 0.0f) return;
    takeTime(e.timestamp);
    editor_.mouseWheel(x, y, sy, m.shift, m.command);
}

bool SdlWindow::deliverKey(const gui::KeyEvent& e, bool press) {
    return editor_.deliverKey(Editor::KeySource::Window, e, press,
                       [this, e, press] { return press ? editor_.keyEvent(e) : editor_.keyUp(e); });
}

void SdlWindow::keyDown(const SDL_KeyboardEvent& e) {
    Modifiers m = modifiersOf(e.keysym.mod);
    gui::Key key = keyOf(e.keysym.sym);
    swallowSpaceText_ = false;
    if (key != gui::Key::None) {
        std::weak_ptr<bool> alive = alive_;
        bool handled = deliverKey(gui::KeyEvent{key, 0, m.shift, m.command, m.option}, true);
        // A space nobody took as a key goes on as the character its text event brings.
        if (!alive.expired() && key == gui::Key::Space) swallowSpaceText_ = handled;
        return;
    }
    // Characters come as text; with command held there is no text, so the key is the shortcut.
    SDL_Keycode c = e.keysym.sym;
    if (m.command && c >= 32 && c < 127) {
        gui::KeyEvent k{gui::Key::None, uint32_t(c), m.shift, true, m.option};
        editor_.deliverKey(Editor::KeySource::Window, k, true,
                           [this, k] { return editor_.wantsShortcuts() && editor_.keyEvent(k); });
    }
}

void SdlWindow::keyUp(const SDL_KeyboardEvent& e) {
    Modifiers m = modifiersOf(e.keysym.mod);
    gui::Key key = keyOf(e.keysym.sym);
    SDL_Keycode c = e.keysym.sym;
    if (key != gui::Key::None)
        deliverKey(gui::KeyEvent{key, 0, m.shift, m.command, m.option}, false);
    else if (c >= 32 && c < 127)
        deliverKey(gui::KeyEvent{gui::Key::None, uint32_t(c), m.shift, m.command, m.option}, false);
}

void SdlWindow::text(const char* utf8) {
    std::weak_ptr<bool> alive = alive_;
    Modifiers m = modifiersOf(uint16_t(SDL_GetModState()));
    for (uint32_t cp : codePoints(utf8 ? utf8 : "")) {
        if (cp == ' ' && swallowSpaceText_) {
            swallowSpaceText_ = false;
            continue;
        }
        if (cp < 32 || cp == 127) continue;
        deliverKey(gui::KeyEvent{gui::Key::None, cp, m.shift, false, m.option}, true);
        if (alive.expired()) return;
    }
}

void SdlWindow::dropped() {
    std::vector<std::string> paths;
    paths.swap(drops_);
    if (paths.empty() || !window_) return;
    // SDL tells no drop position: the pointer stands where the files were let go.
    int gx = 0, gy = 0, wx = 0, wy = 0;
    SDL_GetGlobalMouseState(&gx, &gy);
    SDL_GetWindowPosition(window_, &wx, &wy);
    double r = pixelRatio();
    int x = windowPoint(gx - wx, r), y = windowPoint(gy - wy, r);
    Modifiers m = modifiersOf(uint16_t(SDL_GetModState()));
    std::weak_ptr<bool> alive = alive_;
    editor_.setDragSource(kDropOperations, 0);
    bool over = editor_.dragOver(x, y, paths, m.shift, m.command, m.option);
    if (alive.expired()) return;
    if (over)
        editor_.drop(x, y, paths, m.shift, m.command, m.option);
    else
        editor_.dragLeave();
}

void SdlWindow::setCursorAt(int x, int y) {
    double scale = 1.0;
    SDL_Cursor* cursor = nullptr;
    if (const gui::CursorImage* image = editor_.customCursorAt(x, y, scale)) {
        auto key = std::make_pair(image->id, scale);
        auto it = imageCursors_.find(key);
        if (it == imageCursors_.end()) {
            gui::Bitmap b = image->render(scale);
            SDL_Surface* s = b.empty() ? nullptr
                                       : SDL_CreateRGBSurfaceWithFormatFrom(b.pixels.data(), b.w, b.h, 32, b.w * 4,
                                                                            SDL_PIXELFORMAT_ARGB8888);
            SDL_Cursor* c = s ? SDL_CreateColorCursor(s, b.w / 2, b.h / 2) : nullptr;
            if (s) SDL_FreeSurface(s);
            it = imageCursors_.emplace(key, c).first;
        }
        cursor = it->second;
    }
    if (!cursor) {
        int code = editor_.cursorAt(x, y);
        auto it = systemCursors_.find(code);
        if (it == systemCursors_.end()) it = systemCursors_.emplace(code, SDL_CreateSystemCursor(systemCursorFor(code))).first;
        cursor = it->second;
    }
    if (cursor && cursor != shownCursor_) {
        SDL_SetCursor(cursor);
        shownCursor_ = cursor;
    }
}

}  // namespace lumo::platform
