#pragma once
// Real-window test support: a window opened as the standalone run opens it (without its loop),
// a widget that records what reaches it, SDL event pushing and the read-back comparison.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../gui/fakes.h"
#include "platform/linux/sdl_window.h"
#include "tests/support/ctest_display.h"
#include "tests/support/png.h"
#include "x11_grab.h"
#include "x11_peers.h"

namespace wintest {

using namespace lumo::gui;
using lumo::platform::SdlWindow;

// Sets an environment variable for the length of a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

// The window for an editor, opened at the display scale the way Editor::runStandalone does it;
// null when no display is reachable.
inline SdlWindow* openWindow(Editor& ed, const char* title = "lumo test") {
    std::unique_ptr<PlatformWindow> pw = PlatformWindow::create(ed);
    auto* w = dynamic_cast<SdlWindow*>(pw.get());
    if (!w) return nullptr;
    ed.setScale(w->systemScale());
    // The X pointer goes to a corner before the window opens, centred on the screen: a fresh server
    // keeps the pointer at its centre, where it would enter and leave the window on its own. Only
    // pushed events move it then.
    SDL_WarpMouseGlobal(0, 0);
    if (!w->openTopLevel(title, ed.pixelWidth(), ed.pixelHeight())) return nullptr;
    ed.attachWindow(std::move(pw));
    return w;
}

// The display a window opened on; empty when it did not open.
inline std::string displayOf(SdlWindow* w) { return w ? x11DisplayName(w->sdlWindow()) : std::string(); }

// The window opened, on the display the test was given (see LUMO_NEED_DISPLAY).
#define LUMO_NEED_WINDOW(w) LUMO_NEED_DISPLAY(displayOf(w))

// Everything that reaches the widget, one line an event.
class Recorder : public Widget {
public:
    bool onMouseDown(const MouseEvent& e) override {
        log.push_back("down " + pos(e) + " b" + std::to_string(e.button) + (e.doubleClick ? " double" : "") +
                      (e.command ? " cmd" : ""));
        return true;
    }
    void onMouseDrag(const MouseEvent& e) override { log.push_back("drag " + pos(e)); }
    void onMouseUp(const MouseEvent& e) override { log.push_back("up " + pos(e) + " b" + std::to_string(e.button)); }
    void onMouseMove(const MouseEvent& e) override { log.push_back("move " + pos(e)); }
    void onMouseLeave() override { log.push_back("leave"); }
    bool onMouseWheel(const MouseEvent& e) override {
        log.push_back("wheel " + pos(e) + " " + std::to_string(int(e.wheelSteps)));
        return true;
    }
    bool wantsFocus() const override { return true; }
    bool onKey(const KeyEvent& e) override {
        log.push_back("key " + std::to_string(int(e.key)) + ":" + std::to_string(e.character) +
                      (e.command ? " cmd" : ""));
        return takesKeys;
    }
    bool wantsShortcuts() const override { return shortcuts; }
    bool onDragOver(const DropEvent& e) override {
        log.push_back("over " + std::to_string(e.x) + "," + std::to_string(e.y));
        sourceOps = e.sourceOps;
        const_cast<DropEvent&>(e).preferMove = preferMove;  // the answer the event carries back
        return true;
    }
    void onDragLeave() override { log.push_back("dragleave"); }
    bool onDrop(const DropEvent& e) override {
        std::string s = "drop " + std::to_string(e.x) + "," + std::to_string(e.y);
        for (const auto& p : e.paths) s += " " + p;
        log.push_back(s);
        return true;
    }
    int cursor() const override { return cursorShape; }
    void draw(const Paint& p) override { p.canvas.fillRect(p.rect, fill); }

    std::vector<std::string> log;
    bool takesKeys = true;
    bool shortcuts = false;
    int cursorShape = 0;
    bool preferMove = false;
    int32_t sourceOps = 0;
    Color fill = 0xFF2040C0u;

private:
    static std::string pos(const MouseEvent& e) { return std::to_string(e.x) + "," + std::to_string(e.y); }
};

// Pushes an event for the window and runs the loop until it has been handled.
inline bool holds(const std::vector<std::string>& log, const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
}

inline void pushAndRun(SdlWindow& w, SDL_Event e) {
    SDL_PushEvent(&e);
    w.runFor(0.05);
}

inline SDL_Event mouseButton(const SdlWindow& w, bool down, int x, int y, uint8_t clicks = 1,
                             uint8_t button = SDL_BUTTON_LEFT) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = w.windowId();
    e.button.button = button;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = clicks;
    e.button.x = x;
    e.button.y = y;
    e.button.timestamp = SDL_GetTicks();
    return e;
}

inline SDL_Event mouseMotion(const SdlWindow& w, int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = w.windowId();
    e.motion.x = x;
    e.motion.y = y;
    e.motion.timestamp = SDL_GetTicks();
    return e;
}

inline SDL_Event windowEvent(const SdlWindow& w, uint8_t what) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = w.windowId();
    e.window.event = what;
    return e;
}

inline bool writePng(const Bitmap& b, const std::string& name) {
    std::string dir = LUMO_TEST_SHOTS;
    std::string mk = "mkdir -p '" + dir + "'";
    if (std::system(mk.c_str()) != 0) return false;
    std::ofstream f(dir + "/" + name, std::ios::binary);
    f << testsupport::encodePng(b.w, b.h, b.pixels);
    return bool(f);
}

// The window's picture on the server equals a fresh Editor::paint, pixel for pixel; the picture
// goes to the shots folder under `name`.
inline void expectShowsPaint(Editor& ed, SdlWindow& w, const std::string& name) {
    w.runFor(0.1);
    Bitmap shown = grabWindow(w.sdlWindow());
    ASSERT_FALSE(shown.empty()) << "the window could not be read back";
    EXPECT_TRUE(writePng(shown, name));
    Canvas c;
    ed.paint(c);
    ASSERT_EQ(shown.w, c.width);
    ASSERT_EQ(shown.h, c.height);
    size_t differing = 0, first = 0;
    for (size_t i = 0; i < c.pixels.size(); ++i) {
        if ((c.pixels[i] | 0xFF000000u) != shown.pixels[i] && differing++ == 0) first = i;
    }
    EXPECT_EQ(differing, 0u) << "first at " << first % size_t(c.width) << "," << first / size_t(c.width);
}

// A panel with a label along the top and a recorder at (20, 40), 100 x 50 points.
struct Scene {
    fakes::Host host;
    std::unique_ptr<Editor> ed;
    Recorder* rec = nullptr;

    Scene() {
        host.standalone = true;
        ed = std::make_unique<Editor>(host, 160, 100);
        auto panel = std::make_unique<Panel>();
        panel->fill = 0xFF303840u;
        panel->border = 0xFFE0C060u;
        panel->bounds = Rect{4, 4, 152, 30};
        auto label = std::make_unique<Label>();
        label->text = "Window";
        label->bounds = Rect{6, 6, 80, 20};
        panel->add(std::move(label));
        ed->root()->add(std::move(panel));
        auto r = std::make_unique<Recorder>();
        r->bounds = Rect{20, 40, 100, 50};
        rec = ed->root()->add(std::move(r));
    }

    // A caption along the top edge.
    void addCaption() {
        auto caption = std::make_unique<Widget>();
        caption->bounds = Rect{0, 0, 160, 4};
        caption->windowPart = kWindowPartCaption;
        ed->root()->add(std::move(caption));
    }

    // A widget of the test's own in the free corner to the right of the recorder.
    template <class T>
    T* corner() {
        T* w = ed->root()->add(std::make_unique<T>());
        w->bounds = Rect{130, 40, 20, 20};
        return w;
    }
};

// A root point of a point in the window (SDL units are pixels at scale 1).
inline std::pair<int, int> rootOf(SdlWindow& w, int x, int y) {
    int wx = 0, wy = 0;
    SDL_GetWindowPosition(w.sdlWindow(), &wx, &wy);
    return {wx + x, wy + y};
}

// The pointer moved to a point in the window.
inline std::string at(SdlWindow& w, int x, int y) {
    auto [rx, ry] = rootOf(w, x, y);
    return "mousemove " + std::to_string(rx) + " " + std::to_string(ry);
}

// Runs the window until `done` holds or `seconds` have passed; whether it holds.
template <class Done>
bool soon(SdlWindow& w, double seconds, Done done) {
    w.runFor(seconds, done);
    return done();
}

// Runs the window until it has handled every event the server had sent it by now: a marker put
// into SDL's queue behind them has been taken out.
inline void handleEventsSoFar(SdlWindow& w) {
    static const uint32_t marker = SDL_RegisterEvents(1);
    serverSync(w.sdlWindow())();
    SDL_PumpEvents();
    SDL_Event e{};
    e.type = marker;
    SDL_PushEvent(&e);
    w.runFor(3.0, [] { return SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, marker, marker) == 0; });
}

inline bool xdotool(const std::string& words) {
    return std::system(("xdotool " + words + " >/dev/null 2>&1").c_str()) == 0;
}

#define LUMO_NEED_XDOTOOL                                                                                   \
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "skipped: xdotool is not installed"

// How long drags wait on the other program, while it lives.
struct DragWait {
    explicit DragWait(uint32_t ms) : before(lumo::platform::dragWaitMs) { lumo::platform::dragWaitMs = ms; }
    ~DragWait() { lumo::platform::dragWaitMs = before; }
    uint32_t before;
};

}  // namespace wintest
