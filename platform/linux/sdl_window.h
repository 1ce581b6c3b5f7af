#pragma once
// The editor's window on SDL2: one top-level window, its message loop with the 1/30 s tick and
// the frame ticks, painting and presenting the editor's canvas, input translation, cursors, file
// drops, folder and file dialogs through zenity, and the close handshake. Popups are overlays
// inside the window (createPopup gives none): see window_layer.h.
#include <SDL2/SDL.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gui/editor.h"
#include "platform/linux/x11_link.h"

namespace lumo::platform {

constexpr double kTickSeconds = 1.0 / 30.0;

class SdlWindow : public gui::PlatformWindow {
public:
    // SDL's video must be up (makeSdlWindow).
    explicit SdlWindow(gui::Editor& editor);
    ~SdlWindow() override;

    // Embeds into a host X window (the parent is its id); false without X11 or when it does not exist.
    bool attach(void* parent, int w, int h) override;
    bool openTopLevel(const char* title, int w, int h) override;
    void runMessageLoop() override;
    void setTitle(const std::string& title, bool flag) override;
    void closeTopLevel() override;
    void closeCancelled() override;
    void setCustomFrame(bool on) override;
    void minimizeWindow() override;
    void toggleMaximizeWindow() override;
    bool windowMaximized() const override;
    void toggleFullScreenWindow() override;
    bool windowFullScreen() const override;
    bool windowActive() const override;
    void systemMenusChanged() override {}  // no menu bar on this platform
    void setWindowOnTop(bool on) override;
    void beginWindowDrag() override;
    void close() override;
    void show(bool on) override;
    void resize(int w, int h) override;
    void setSizeLimits(bool resizable, int minW, int minH, int maxW, int maxH) override;
    void invalidate() override { dirty_ = true; }
    void invalidateRect(gui::Rect) override { dirty_ = true; }
    bool startFrames() override;
    void stopFrames() override { framesOn_ = false; }
    bool postWake() override;
    double systemScale() const override;
    int popupMenu(const std::vector<gui::MenuItem>&, int, int) override { return -1; }
    void screenOrigin(int& x, int& y) const override;
    bool fileDialog(bool save, const std::string& title, const std::string& extension, const std::string& name,
                    std::string& path) override;
    bool openFilesDialog(const std::string& title, const std::string& types, const std::vector<std::string>& extensions,
                         bool multiple, std::vector<std::string>& paths) override;
    bool folderDialog(const std::string& title, std::string& path) override;
    void* nativeHandle() const override { return window_; }
    bool hasPopups() const override { return false; }
    std::unique_ptr<gui::PopupSurface> createPopup() override { return nullptr; }
    bool workArea(int x, int y, gui::Rect& area) const override;
    bool usableArea(gui::Rect& area) const override;
    void heldModifiers(bool& shift, bool& command, bool& option) const override;
    void startFileDrag(const std::vector<std::string>& paths, const gui::DragImage& image, bool move) override;
    void startFileDrag(const std::vector<std::string>& paths, const gui::DragImage& image, bool move,
                       std::function<void(const gui::DragResult&)> done) override;
    void updateFileDrag(const gui::DragImage& image) override;

    // Runs the loop until the window has closed, `until` answers true or `seconds` have passed;
    // false when the window closed. Nothing of the window is touched after a close whose teardown
    // destroyed it.
    bool runFor(double seconds, const std::function<bool()>& until = nullptr);

    // Whether the widget under a point in SDL window units is a caption (the window is dragged from it).
    bool captionAt(int x, int y);
    // What a press at a point in SDL window units starts: a move from a caption, a resize from an edge
    // of a resizable window without the system's frame, or nothing (SDL_HITTEST_NORMAL).
    SDL_HitTestResult frameAt(int x, int y);
    // Presses on the frame are the window's own (not SDL's) when the X11 link is there.
    bool ownsFrameDrags() const { return x11_ != nullptr; }

    SDL_Window* sdlWindow() const { return window_; }
    uint32_t windowId() const { return windowId_; }
    // SDL window units per device pixel are 1 / ratio (1 under X11).
    double pixelRatio() const;
    // The X11 services of the window; null on a display without X11.
    X11Link* x11() const { return x11_.get(); }

private:
    bool loop(double until, const std::function<bool()>& stop);
    // The next event, waiting up to `ms` for it (0: none waited for).
    bool nextEvent(SDL_Event& e, int ms);
    void dispatch(const SDL_Event& e);
    void windowEvent(const SDL_WindowEvent& e);
    void mouseMotion(const SDL_MouseMotionEvent& e);
    void mouseButton(const SDL_MouseButtonEvent& e, bool down);
    void wheel(const SDL_MouseWheelEvent& e);
    void keyDown(const SDL_KeyboardEvent& e);
    void keyUp(const SDL_KeyboardEvent& e);
    void text(const char* utf8);
    void dropped();
    void setCursorAt(int x, int y);
    void takeTime(uint32_t sdlTicks);
    void paintNow();
    void present(const std::vector<gui::Rect>& rects);
    void confirmClose();
    void sizeChanged();
    // Moves the window (about to be w x h SDL units) as little as needed to lie within the usable
    // area of its display.
    void keepOnScreen(int w, int h);
    void destroyWindow();
    bool deliverKey(const gui::KeyEvent& e, bool press);
    bool makeWindow(const char* title, int w, int h, uint32_t flags);
    void showMade();
    void openX11();
    void captionPressed(uint32_t ticks);
    // A left press on the frame, and the motions and release after it: true when taken.
    bool framePress(const SDL_MouseButtonEvent& e, bool down);
    bool frameMotion(const SDL_MouseMotionEvent& e);

    gui::Editor& editor_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    SDL_Window* window_ = nullptr;
    uint32_t windowId_ = 0;
    gui::Canvas canvas_;
    bool dirty_ = true;
    bool framesOn_ = false;
    double frameInterval_ = 1.0 / 60.0;
    double nextTick_ = 0.0;
    double nextFrame_ = 0.0;
    bool closeRequested_ = false;  // a close waits for the end of the current loop turn
    bool closed_ = false;
    bool swallowSpaceText_ = false;  // a handled space key: its text is not a character too
    bool leftAsRight_ = false;       // the held left button was pressed with control
    bool resizable_ = false;
    std::vector<std::string> drops_;
    std::map<int, SDL_Cursor*> systemCursors_;
    std::map<std::pair<uint64_t, double>, SDL_Cursor*> imageCursors_;
    SDL_Cursor* shownCursor_ = nullptr;
    std::vector<std::function<void()>> later_;  // run at the start of the next loop turn
    std::unique_ptr<X11Link> x11_;
    mutable bool toldFit_ = false;  // the scale drawn differs from the one asked for, and was said
    uint32_t captionTicks_ = 0;  // the last press on a caption, for its double-click
    int captionX_ = 0, captionY_ = 0;
    // The left button pressed on the frame, until it is released: the window manager's move or
    // resize starts once the pointer has moved with the button still held (never for a click).
    struct FramePress {
        SDL_HitTestResult part = SDL_HITTEST_NORMAL;
        int x = 0, y = 0;
        bool handedOver = false;  // asked of the window manager already
    };
    FramePress framePress_;
};

}  // namespace lumo::platform
