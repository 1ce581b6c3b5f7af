#pragma once
// The X11 link's state, shared by its source files; include it after every toolkit header, since
// Xlib's macros (None, Bool, Status) would break their names.
#include "platform/linux/x11_link.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace lumo::platform {

// Requests to other programs' windows may fail (a window gone meanwhile): errors on the link's
// connections are counted, never fatal. On SDL's connection of an embedded window, the errors a
// window gone with its host causes (BadWindow, BadDrawable, BadGC) are ignored too when they name
// a guarded window or come of a request the window owns (the first one is logged); every other
// error, and every error on another connection (a host's own), goes to the handler before.
class ErrorTrap {
public:
    static void watch(Display* d);
    static void unwatch(Display* d);
    // Errors on `d` since the last call (after a round trip that collects them).
    static int take(Display* d);
    // A gone window's errors about window `w` on another connection (SDL's) are none either, for the
    // life of the process: an embedded window dies with its host, whenever the host decides, and the
    // requests SDL makes of it afterwards fail.
    static void guard(Display* d, Window w);
    // A gone window's errors of requests `first` to `last` on `d` are none (X11Link::OwnRequests). A
    // range may be opened (`last` ~0) and closed by a second call with the same `first`.
    static void own(Display* d, unsigned long first, unsigned long last);
};

struct X11Link::State {
    gui::Editor* editor = nullptr;
    std::weak_ptr<bool> alive;
    SDL_Window* sdl = nullptr;
    Display* sdlDisplay = nullptr;  // SDL's connection, only to let its pointer grab go
    Display* d = nullptr;           // the link's own connection
    Window root = 0;
    Window window = 0;  // SDL's window
    Window proxy = 0;   // an unmapped window of the link's: drag messages, the dragged selection
    int xiOpcode = -1;
    bool pinches = false;
    double pinchScale = 1.0;
    bool pinching = false;
    Window host = 0;  // the host window the window is embedded in
    bool hostGone = false;
    // The server's clock (ms) read once at Editor::now() `serverAt`: event times become editor times.
    uint32_t serverMs = 0;
    double serverAt = 0.0;

    // Atoms.
    Atom xdndAware, xdndProxy, xdndEnter, xdndPosition, xdndStatus, xdndLeave, xdndDrop, xdndFinished,
        xdndSelection, xdndTypeList, xdndActionCopy, xdndActionMove, xdndActionLink, xdndActionPrivate,
        xdndActionAsk, xdndActionList, uriList, targets, transfer, moveResize, wmState;

    // A drag from another program over the window.
    struct Incoming {
        Window source = 0;
        int version = 0;
        bool uris = false;         // the source offers text/uri-list
        bool asked = false;        // the data was asked for
        bool haveData = false;     // ... and has come
        std::vector<std::string> paths;
        int32_t ops = 0;           // what the source allows
        bool positioned = false;   // a position waits for the data before it is answered
        int x = 0, y = 0;          // the last position, window points
        bool accepted = false;     // the last answer
        int32_t answer = 0;
        bool dropPending = false;  // the drop came before the data
        Time dropTime = 0;
        uint32_t heardTicks = 0;   // when the source's last message came
    } in;

    // A drag of the window's files out to other programs.
    struct Outgoing {
        bool active = false;
        std::vector<std::string> paths;
        bool move = false;
        std::function<void(const gui::DragResult&)> done;
        Window target = 0;   // the aware window under the pointer (0: none)
        Window sendTo = 0;   // where its messages go (its proxy when it names one)
        int version = 0;
        bool waiting = false;         // a position is unanswered
        uint32_t positionTicks = 0;   // ... since then
        bool pendingMove = false;     // the pointer moved meanwhile
        int rootX = 0, rootY = 0;
        Time time = 0;
        bool accepted = false;
        Atom action = 0;
        bool released = false;        // the button came up while a position was unanswered
        bool dropped = false;         // the drop was sent; the finish is awaited
        uint32_t dropTicks = 0;
        Window imageWindow = 0;
        int hotX = 0, hotY = 0;
    } out;

    Atom atom(const char* name) const { return XInternAtom(d, name, False); }
    // The window point (device pixels) of a root position.
    void windowPoint(int rootX, int rootY, int& x, int& y) const;
    // Shift, control and alt held now.
    void modifiers(bool& shift, bool& control, bool& alt) const;
    // The pointer's root point, its button and modifier mask and whether it is inside SDL's window;
    // false when that cannot be told (the window gone, the pointer on another screen).
    bool pointer(int& rootX, int& rootY, unsigned& mask, bool& inside) const;
    void send(Window to, Atom type, long l0, long l1, long l2, long l3, long l4, Window field = 0);
    // Selects on another program's window what the link wants of it now: of the host its size,
    // close and keyboard; of a drag's source its close. The connection has one mask a window, so
    // each change selects them together and neither overwrites the other.
    void selectOn(Window w) const;
    // The editor-clock time of a server time stamp (0: now).
    double timeOf(uint32_t serverTime) const;
};

// The drag-and-drop part of the link's event handling (x11_dnd.cpp): true when the event was one of
// its own. It may call the editor: nothing of the link is touched afterwards when `alive` expired.
bool dndEvent(X11Link::State& s, XEvent& e);
// Ends the running drag out of the window with a result for its callback.
void finishDrag(X11Link::State& s, bool dropped, int32_t operation);
// Tells SDL where the pointer is after a grab of the link's took it away: SDL ignores the
// crossings a grab makes and would otherwise take the pointer for still being where it left.
void syncSdlPointer(X11Link::State& s);
// Gives up the drags whose other program has kept quiet for longer than dragWaitMs: a drag out
// whose target has not answered a position or finished the drop ends undropped; a drag in whose
// source sent nothing, with the pointer no longer held over the window, leaves the editor. It may
// call the editor: nothing of the link is touched afterwards when `alive` expired.
void dragTimeouts(X11Link::State& s);

}  // namespace lumo::platform
