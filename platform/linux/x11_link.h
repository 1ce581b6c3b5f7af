#pragma once
// The window services SDL2 has no call for, done through X11 on the window SDL made: file drags in
// (with positions, the source's operations and the answer) and out, pinch gestures, moves by the
// window manager, caption double-clicks and embedding into a host window.
//
// The link talks to the server over a connection of its own: SDL answers drag-and-drop messages
// that reach its connection by itself (always "copy") and frees input-extension event data before
// it hands the raw events on, so neither can be taken over there. Drag messages reach the link's
// connection through a proxy window (XdndProxy on SDL's window). The link is polled from the
// window's loop; SDL keeps everything else.
//
// No Xlib header here: its macros (None, Bool, Status) clash with the toolkit's names.
#include <SDL2/SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/editor.h"

namespace lumo::platform {

// Drag operations as the editor's drag source integers count them (a bit each).
constexpr int32_t kOpCopy = 1;
constexpr int32_t kOpLink = 2;
constexpr int32_t kOpGeneric = 4;
constexpr int32_t kOpPrivate = 8;
constexpr int32_t kOpMove = 16;

// The move among the window manager's move-resize directions (0 to 7 are the edges and corners).
constexpr int kWmMove = 8;

// What a drop target answers the source: none without an accepting target; move when the source
// allows it and the target prefers moving; else generic when allowed and preferred; else copy,
// generic or link, the first the source allows (none when it allows none of them).
int32_t answerOperation(int32_t sourceOps, bool accepted, bool preferMove);

// The local paths of a text/uri-list (file URIs on this host; others and comments are skipped).
std::vector<std::string> pathsFromUriList(const std::string& text);
// A text/uri-list of paths, each line a file URI ending with CR LF.
std::string uriListOf(const std::vector<std::string>& paths);

// One step of a touchpad pinch as the link reads it off the server.
struct PinchStep {
    int phase = gui::kPhaseNone;  // began, changed, ended or cancelled
    double x = 0.0, y = 0.0;      // in the window, SDL units
    double scale = 1.0;           // since the gesture began
    bool shift = false, control = false, alt = false;
    uint32_t time = 0;            // the server's time of the event, in ms (0: unknown, taken as now)
};
// The magnify event for a step: the factor is the change since the previous step, whose scale
// `last` holds (1 at the start of a gesture) and which becomes the step's.
gui::MagnifyEvent magnifyOf(const PinchStep& step, double& last);

// How long a drag waits on the other program before it gives up: for the answer to a position or a
// drop it sent, and for the next message of a drag coming in. Tests shorten it.
inline uint32_t dragWaitMs = 5000;

class X11Link {
public:
    // Null when the window is no X11 one or the display cannot be reached. `alive` expires with
    // the window that owns the link: nothing of the link is touched after an editor call expired it.
    static std::unique_ptr<X11Link> open(SDL_Window* window, gui::Editor& editor, std::weak_ptr<bool> alive);
    ~X11Link();

    // Handles what reached the link's connection. True while an exchange (a drag, a gesture) runs:
    // the loop should then come back within a few milliseconds.
    bool pump();

    // Makes the window a child of the host window `parent` (an X window id); false when that does
    // not exist. The window follows the host's size and takes the keyboard when the host gets it.
    bool embed(unsigned long parent);
    bool embedded() const;
    // The host window went away while the window was embedded in it (and the window with it).
    bool hostGone() const;
    // Learns from the server whether the host window has gone though its news has not been read.
    void checkHost();
    // Asks the window manager to move the window with the held button, or to resize it from an edge
    // or corner (`direction` as the manager's move-resize request counts them, kWmMove for a move);
    // false when no button is held.
    bool moveWithPointer(int direction = kWmMove);
    // Drags files out of the window with the held button; `done` hears how it ended, once, unless
    // the window goes first. False (and `done` not called) when no drag can start: no button held,
    // another drag running.
    bool startFileDrag(const std::vector<std::string>& paths, const gui::DragImage& image, bool move,
                       std::function<void(const gui::DragResult&)> done);
    void updateFileDrag(const gui::DragImage& image);
    bool dragging() const;

    // Whether the server sends pinch gestures (its input extension is 2.4 or later).
    bool pinches() const;
    // Passes one pinch step on to the editor, as the gesture events do.
    void pinch(const PinchStep& step);

    // While one lives, the requests SDL makes of an embedded window are the window's own: an error
    // one of them gets because the window has gone is no reason to end, since the host may take the
    // window away, and what SDL made for it with it, at any moment; any other error still reaches
    // the handler from before. Nothing for a null link or a window not embedded.
    class OwnRequests {
    public:
        explicit OwnRequests(const X11Link* link);
        ~OwnRequests();
        OwnRequests(const OwnRequests&) = delete;
        OwnRequests& operator=(const OwnRequests&) = delete;

    private:
        void* display_ = nullptr;  // SDL's connection
        unsigned long first_ = 0;  // the number of the first request
    };

    struct State;  // x11_state.h

private:
    explicit X11Link(std::unique_ptr<State> s);
    void dispatch(void* xevent);
    void letSdlButtonGo(int button, int rootX, int rootY);
    std::unique_ptr<State> s_;
};

}  // namespace lumo::platform
