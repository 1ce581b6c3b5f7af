// The X11 link: its connection, the proxy window, the event pump, embedding, moves by the window
// manager and pinch gestures. Drags are in x11_dnd.cpp.
#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <vector>

#include "platform/linux/sdl_input.h"
#include "platform/linux/x11_pinch.h"
#include "platform/linux/x11_state.h"
// After the toolkit's headers: it brings Xlib's macros.
#include <SDL2/SDL_syswm.h>

namespace lumo::platform {

namespace {

std::mutex g_trapMutex;
std::map<Display*, int> g_trapped;  // the link's connections and their error counts
std::vector<std::pair<Display*, XID>> g_guarded;
constexpr unsigned long kOpenEnd = ~0ul;  // the end of a range of requests still being made
struct Owned {
    Display* d;
    unsigned long first, last;
};
std::vector<Owned> g_owned;  // request numbers of embedded windows, until their answers are all in
XErrorHandler g_before = nullptr;
bool g_installed = false;
bool g_toldGone = false;  // an error about a gone window was logged

// What a window gone with its host makes SDL's requests fail with: the window, or its parent, named
// (BadWindow), drawn on or measured (BadDrawable), and the GC SDL frees after making it on the gone
// window failed (BadGC). SDL 2's own paths here (resize, framebuffer, destroy, the parent's place)
// raise no other; anything else is a fault of the request itself.
bool goneWindowError(int code) { return code == BadWindow || code == BadDrawable || code == BadGC; }

int trapErrors(Display* d, XErrorEvent* e) {
    {
        std::lock_guard<std::mutex> lock(g_trapMutex);
        auto it = g_trapped.find(d);
        if (it != g_trapped.end()) {
            ++it->second;
            return 0;
        }
        // On SDL's connection of an embedded window, only: a request naming the window, which its
        // host may take away at any moment, or one SDL made for the window (it still frees, or never
        // made, what it made for it). Other connections (a host's own) and other errors go to the
        // handler from before.
        const bool guarded = std::any_of(g_guarded.begin(), g_guarded.end(), [&](const auto& g) {
            return g.first == d && g.second == e->resourceid;
        });
        const bool own = std::any_of(g_owned.begin(), g_owned.end(), [&](const Owned& o) {
            return o.d == d && e->serial >= o.first && e->serial <= o.last;
        });
        if ((guarded || own) && goneWindowError(e->error_code)) {
            if (!g_toldGone) {
                g_toldGone = true;
                SDL_Log("an X request (%d) named a window that is gone, or what was made for it (0x%lx, error %d); "
                        "such failures are ignored",
                        int(e->request_code), static_cast<unsigned long>(e->resourceid), int(e->error_code));
            }
            return 0;
        }
    }
    return g_before ? g_before(d, e) : 0;
}

// With the trap's lock held.
void installTrap() {
    if (!g_installed) {
        g_before = XSetErrorHandler(trapErrors);
        g_installed = true;
    }
}

}  // namespace

void ErrorTrap::watch(Display* d) {
    std::lock_guard<std::mutex> lock(g_trapMutex);
    installTrap();
    g_trapped[d] = 0;
}

void ErrorTrap::unwatch(Display* d) {
    std::lock_guard<std::mutex> lock(g_trapMutex);
    g_trapped.erase(d);
}

void ErrorTrap::guard(Display* d, Window w) {
    std::lock_guard<std::mutex> lock(g_trapMutex);
    installTrap();
    g_guarded.emplace_back(d, w);
}

void ErrorTrap::own(Display* d, unsigned long first, unsigned long last) {
    std::lock_guard<std::mutex> lock(g_trapMutex);
    installTrap();
    // Requests whose answers have all been read can get no error any more.
    const unsigned long read = LastKnownRequestProcessed(d);
    std::erase_if(g_owned, [&](const Owned& o) { return o.d == d && o.last <= read; });
    auto open = std::find_if(g_owned.begin(), g_owned.end(), [&](const Owned& o) {
        return o.d == d && o.first == first && o.last == kOpenEnd;
    });
    if (open == g_owned.end())
        g_owned.push_back(Owned{d, first, last});
    else
        open->last = last;  // closed (empty when nothing was asked: it matches nothing)
}

X11Link::OwnRequests::OwnRequests(const X11Link* link) {
    if (!link || !link->s_->host) return;
    display_ = link->s_->sdlDisplay;
    first_ = NextRequest(static_cast<Display*>(display_));
    // Open from here: SDL waits for some answers itself, and their errors come meanwhile.
    ErrorTrap::own(static_cast<Display*>(display_), first_, kOpenEnd);
}

X11Link::OwnRequests::~OwnRequests() {
    if (!display_) return;
    Display* d = static_cast<Display*>(display_);
    ErrorTrap::own(d, first_, NextRequest(d) - 1);
}

int ErrorTrap::take(Display* d) {
    XSync(d, False);
    std::lock_guard<std::mutex> lock(g_trapMutex);
    auto it = g_trapped.find(d);
    if (it == g_trapped.end()) return 0;
    int n = it->second;
    it->second = 0;
    return n;
}

gui::MagnifyEvent magnifyOf(const PinchStep& step, double& last) {
    gui::MagnifyEvent e;
    if (step.phase == gui::kPhaseBegan) last = 1.0;
    double scale = step.scale > 0.0 ? step.scale : last;
    e.factor = last > 0.0 ? float(scale / last) : 1.0f;
    last = scale;
    e.phase = step.phase;
    e.shift = step.shift;
    e.command = step.control;
    e.option = step.alt;
    return e;
}

bool pinchStepOf(const XIGesturePinchEvent& e, PinchStep& step) {
    switch (e.evtype) {
    case XI_GesturePinchBegin: step.phase = gui::kPhaseBegan; break;
    case XI_GesturePinchUpdate: step.phase = gui::kPhaseChanged; break;
    case XI_GesturePinchEnd:
        step.phase = (e.flags & XIGesturePinchEventCancelled) ? gui::kPhaseCancelled : gui::kPhaseEnded;
        break;
    default: return false;
    }
    step.x = e.event_x;
    step.y = e.event_y;
    step.scale = e.scale;
    step.time = uint32_t(e.time);
    unsigned mods = unsigned(e.mods.effective);
    step.shift = mods & ShiftMask;
    step.control = mods & ControlMask;
    step.alt = mods & Mod1Mask;
    return true;
}

void X11Link::State::windowPoint(int rootX, int rootY, int& x, int& y) const {
    int wx = 0, wy = 0;
    Window child = 0;
    XTranslateCoordinates(d, root, window, rootX, rootY, &wx, &wy, &child);
    int w = 0, pw = 0, h = 0, ph = 0;
    SDL_GetWindowSize(sdl, &w, &h);
    SDL_GetWindowSizeInPixels(sdl, &pw, &ph);
    double ratio = w > 0 && pw > 0 ? double(pw) / w : 1.0;
    x = platform::windowPoint(wx, ratio);
    y = platform::windowPoint(wy, ratio);
}

void X11Link::State::modifiers(bool& shift, bool& control, bool& alt) const {
    Window r = 0, c = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(d, root, &r, &c, &rx, &ry, &wx, &wy, &mask);
    shift = mask & ShiftMask;
    control = mask & ControlMask;
    alt = mask & Mod1Mask;
}

bool X11Link::State::pointer(int& rootX, int& rootY, unsigned& mask, bool& inside) const {
    Window r = 0, c = 0;
    int wx = 0, wy = 0;
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, window, &a) || !XQueryPointer(d, window, &r, &c, &rootX, &rootY, &wx, &wy, &mask))
        return false;
    inside = wx >= 0 && wy >= 0 && wx < a.width && wy < a.height;
    return true;
}

void X11Link::State::send(Window to, Atom type, long l0, long l1, long l2, long l3, long l4, Window field) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.display = d;
    e.xclient.window = field ? field : to;
    e.xclient.message_type = type;
    e.xclient.format = 32;
    e.xclient.data.l[0] = l0;
    e.xclient.data.l[1] = l1;
    e.xclient.data.l[2] = l2;
    e.xclient.data.l[3] = l3;
    e.xclient.data.l[4] = l4;
    XSendEvent(d, to, False, NoEventMask, &e);
}

void X11Link::State::selectOn(Window w) const {
    long mask = 0;
    if (w == host) mask |= StructureNotifyMask | FocusChangeMask;
    if (w == in.source) mask |= StructureNotifyMask;
    XSelectInput(d, w, mask);
}

double X11Link::State::timeOf(uint32_t serverTime) const {
    double now = gui::Editor::now();
    if (serverTime == 0) return now;
    uint32_t serverNow = serverMs + uint32_t(std::llround((now - serverAt) * 1000.0));
    return timeOfAge(serverNow - serverTime, now);
}

namespace {

// A pointer event for SDL's window at a root point, as the server would make it.
template <class Event>
void placePointerEvent(const X11Link::State& s, Event& e, int rootX, int rootY, int type) {
    Window child = 0;
    XTranslateCoordinates(s.d, s.root, s.window, rootX, rootY, &e.x, &e.y, &child);
    e.type = type;
    e.window = s.window;
    e.root = s.root;
    e.x_root = rootX;
    e.y_root = rootY;
    e.same_screen = True;
}

}  // namespace

void syncSdlPointer(X11Link::State& s) {
    int rx = 0, ry = 0;
    unsigned mask = 0;
    bool inside = false;
    if (!s.pointer(rx, ry, mask, inside)) return;
    XEvent e{};
    if (inside) {
        placePointerEvent(s, e.xmotion, rx, ry, MotionNotify);
        e.xmotion.state = mask;
    } else {
        placePointerEvent(s, e.xcrossing, rx, ry, LeaveNotify);
        e.xcrossing.mode = NotifyNormal;
        e.xcrossing.detail = NotifyNonlinear;
    }
    XSendEvent(s.d, s.window, False, inside ? PointerMotionMask : LeaveWindowMask, &e);
    XFlush(s.d);
}

namespace {

// The window went with its host. SDL learns it as an unmap (it never sees the real one): it would
// otherwise wait for one forever when it hides or destroys the window.
void lostHost(X11Link::State& s) {
    s.hostGone = true;
    XEvent u{};
    u.xunmap.type = UnmapNotify;
    u.xunmap.display = s.sdlDisplay;
    u.xunmap.event = s.window;
    u.xunmap.window = s.window;
    XPutBackEvent(s.sdlDisplay, &u);
}

}  // namespace

X11Link::X11Link(std::unique_ptr<State> s) : s_(std::move(s)) {}

X11Link::~X11Link() {
    // A drag still running ends with the connection (its grabs go with it); its callback is not
    // called, since what it would reach may be going too.
    if (!s_->d) return;
    if (s_->out.imageWindow) XDestroyWindow(s_->d, s_->out.imageWindow);
    XDestroyWindow(s_->d, s_->proxy);
    ErrorTrap::take(s_->d);
    ErrorTrap::unwatch(s_->d);
    XCloseDisplay(s_->d);
}

std::unique_ptr<X11Link> X11Link::open(SDL_Window* window, gui::Editor& editor, std::weak_ptr<bool> alive) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return nullptr;
    // What SDL still holds back (its own drop target switched off, say) reaches the server first.
    XSync(info.info.x11.display, False);
    Display* d = XOpenDisplay(XDisplayString(info.info.x11.display));
    if (!d) return nullptr;
    ErrorTrap::watch(d);
    auto s = std::make_unique<State>();
    s->editor = &editor;
    s->alive = std::move(alive);
    s->sdl = window;
    s->sdlDisplay = info.info.x11.display;
    s->d = d;
    s->root = DefaultRootWindow(d);
    s->window = info.info.x11.window;
    const char* names[] = {"XdndAware",        "XdndProxy",         "XdndEnter",        "XdndPosition",
                           "XdndStatus",       "XdndLeave",         "XdndDrop",         "XdndFinished",
                           "XdndSelection",    "XdndTypeList",      "XdndActionCopy",   "XdndActionMove",
                           "XdndActionLink",   "XdndActionPrivate", "XdndActionAsk",    "XdndActionList",
                           "text/uri-list",    "TARGETS",           "LUMO_TRANSFER",    "_NET_WM_MOVERESIZE",
                           "_NET_WM_STATE"};
    Atom atoms[std::size(names)];
    XInternAtoms(d, const_cast<char**>(names), int(std::size(names)), False, atoms);
    Atom* fields[] = {&s->xdndAware,      &s->xdndProxy,         &s->xdndEnter,      &s->xdndPosition,
                      &s->xdndStatus,     &s->xdndLeave,         &s->xdndDrop,       &s->xdndFinished,
                      &s->xdndSelection,  &s->xdndTypeList,      &s->xdndActionCopy, &s->xdndActionMove,
                      &s->xdndActionLink, &s->xdndActionPrivate, &s->xdndActionAsk,  &s->xdndActionList,
                      &s->uriList,        &s->targets,           &s->transfer,       &s->moveResize,
                      &s->wmState};
    for (size_t i = 0; i < std::size(names); ++i) *fields[i] = atoms[i];

    // The proxy: drag messages for the window and the selection of files dragged out go to it.
    XSetWindowAttributes a{};
    a.override_redirect = True;
    s->proxy = XCreateWindow(d, s->root, -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent, CWOverrideRedirect, &a);
    long version = 5;
    Window proxy = s->proxy;
    for (Window w : {s->window, s->proxy}) {
        XChangeProperty(d, w, s->xdndAware, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&version), 1);
        XChangeProperty(d, w, s->xdndProxy, XA_WINDOW, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&proxy), 1);
    }
    XSelectInput(d, s->proxy, PropertyChangeMask);
    // The server's clock against the editor's, from the time of a change it makes (nothing appended).
    XChangeProperty(d, s->proxy, s->transfer, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent changed;
    XWindowEvent(d, s->proxy, PropertyChangeMask, &changed);
    s->serverMs = uint32_t(changed.xproperty.time);
    s->serverAt = gui::Editor::now();
    XDeleteProperty(d, s->proxy, s->transfer);

    // Pinch gestures, where the server's input extension has them.
    int event = 0, error = 0;
    if (XQueryExtension(d, "XInputExtension", &s->xiOpcode, &event, &error)) {
        int major = 2, minor = 4;
        if (XIQueryVersion(d, &major, &minor) == Success && (major > 2 || (major == 2 && minor >= 4))) {
            unsigned char bits[XIMaskLen(XI_GesturePinchEnd)] = {};
            XISetMask(bits, XI_GesturePinchBegin);
            XISetMask(bits, XI_GesturePinchUpdate);
            XISetMask(bits, XI_GesturePinchEnd);
            XIEventMask mask{XIAllMasterDevices, int(sizeof bits), bits};
            XISelectEvents(d, s->window, &mask, 1);
            s->pinches = ErrorTrap::take(d) == 0;
        }
    }
    if (ErrorTrap::take(d) != 0) {
        ErrorTrap::unwatch(d);
        XCloseDisplay(d);
        return nullptr;
    }
    return std::unique_ptr<X11Link>(new X11Link(std::move(s)));
}

bool X11Link::pump() {
    std::weak_ptr<bool> alive = s_->alive;
    while (XPending(s_->d) > 0) {
        XEvent e;
        XNextEvent(s_->d, &e);
        dispatch(&e);
        if (alive.expired()) return false;
    }
    dragTimeouts(*s_);
    if (alive.expired()) return false;
    return s_->out.active || s_->in.source || s_->pinching;
}

void X11Link::dispatch(void* xevent) {
    XEvent& e = *static_cast<XEvent*>(xevent);
    State& s = *s_;
    if (e.type == GenericEvent && e.xcookie.extension == s.xiOpcode) {
        if (XGetEventData(s.d, &e.xcookie)) {
            PinchStep step;
            bool ok = pinchStepOf(*static_cast<XIGesturePinchEvent*>(e.xcookie.data), step);
            XFreeEventData(s.d, &e.xcookie);
            if (ok) pinch(step);
        }
        return;
    }
    if (dndEvent(s, e)) return;
    if (s.host && e.xany.window == s.host) {
        if (e.type == ConfigureNotify) {
            // The host's size is the window's: in SDL units, which are device pixels / ratio.
            int w = 0, pw = 0, h = 0, ph = 0;
            SDL_GetWindowSize(s.sdl, &w, &h);
            SDL_GetWindowSizeInPixels(s.sdl, &pw, &ph);
            double ratio = w > 0 && pw > 0 ? double(pw) / w : 1.0;
            int nw = std::max(1, int(std::lround(e.xconfigure.width / ratio)));
            int nh = std::max(1, int(std::lround(e.xconfigure.height / ratio)));
            if (nw != w || nh != h) {
                OwnRequests own(this);
                SDL_SetWindowSize(s.sdl, nw, nh);
            }
        } else if (e.type == FocusIn && e.xfocus.detail != NotifyInferior && e.xfocus.detail != NotifyPointer) {
            XSetInputFocus(s.d, s.window, RevertToParent, CurrentTime);
            ErrorTrap::take(s.d);
        } else if (e.type == DestroyNotify && e.xdestroywindow.window == s.host) {
            lostHost(s);
        }
    }
}

void X11Link::pinch(const PinchStep& step) {
    State& s = *s_;
    s.pinching = step.phase == gui::kPhaseBegan || step.phase == gui::kPhaseChanged;
    gui::MagnifyEvent m = magnifyOf(step, s.pinchScale);
    int w = 0, pw = 0, h = 0, ph = 0;
    SDL_GetWindowSize(s.sdl, &w, &h);
    SDL_GetWindowSizeInPixels(s.sdl, &pw, &ph);
    double ratio = w > 0 && pw > 0 ? double(pw) / w : 1.0;
    s.editor->setPendingEventTime(s.timeOf(step.time));
    s.editor->magnify(platform::windowPoint(step.x, ratio), platform::windowPoint(step.y, ratio), m);
}

bool X11Link::pinches() const { return s_->pinches; }

bool X11Link::embed(unsigned long parent) {
    State& s = *s_;
    XWindowAttributes a;
    ErrorTrap::take(s.d);
    if (!parent || !XGetWindowAttributes(s.d, Window(parent), &a) || ErrorTrap::take(s.d) != 0) return false;
    s.host = Window(parent);
    s.selectOn(s.host);
    XReparentWindow(s.d, s.window, s.host, 0, 0);
    if (ErrorTrap::take(s.d) != 0) {
        s.host = 0;
        s.selectOn(Window(parent));
        ErrorTrap::take(s.d);
        return false;
    }
    ErrorTrap::guard(s.sdlDisplay, s.window);
    return true;
}

bool X11Link::embedded() const { return s_->host != 0; }

bool X11Link::hostGone() const { return s_->hostGone; }

void X11Link::checkHost() {
    State& s = *s_;
    if (!s.host || s.hostGone) return;
    XSync(s.d, False);
    XEvent e;
    if (XCheckTypedWindowEvent(s.d, s.host, DestroyNotify, &e)) lostHost(s);
}

bool X11Link::moveWithPointer(int direction) {
    State& s = *s_;
    Window r = 0, c = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    if (s.host || !XQueryPointer(s.d, s.root, &r, &c, &rx, &ry, &wx, &wy, &mask)) return false;
    int button = (mask & Button1Mask) ? 1 : (mask & Button2Mask) ? 2 : (mask & Button3Mask) ? 3 : 0;
    if (!button) return false;
    letSdlButtonGo(button, rx, ry);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = s.window;
    e.xclient.message_type = s.moveResize;
    e.xclient.format = 32;
    e.xclient.data.l[0] = rx;
    e.xclient.data.l[1] = ry;
    e.xclient.data.l[2] = direction;
    e.xclient.data.l[3] = button;
    e.xclient.data.l[4] = 1;  // a normal application
    XSendEvent(s.d, s.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    XFlush(s.d);
    return true;
}

void X11Link::letSdlButtonGo(int button, int rootX, int rootY) {
    // The press SDL saw gets its release now: the window manager or the drag takes the real one,
    // and SDL would otherwise take the next press for the same button as no change.
    State& s = *s_;
    XEvent e{};
    placePointerEvent(s, e.xbutton, rootX, rootY, ButtonRelease);
    e.xbutton.time = CurrentTime;
    e.xbutton.state = Button1Mask << (button - 1);
    e.xbutton.button = unsigned(button);
    XSendEvent(s.d, s.window, False, ButtonReleaseMask, &e);
    // SDL's connection holds the pointer since the press: it lets go, so the other side can take it.
    XUngrabPointer(s.sdlDisplay, CurrentTime);
    XFlush(s.sdlDisplay);
}

}  // namespace lumo::platform
