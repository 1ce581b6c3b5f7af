#include "x11_peers.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "platform/linux/x11_pinch.h"
#include "platform/linux/x11_state.h"

namespace wintest {

using lumo::platform::ErrorTrap;

namespace {

Display* openPeer() {
    Display* d = XOpenDisplay(nullptr);
    if (d) ErrorTrap::watch(d);
    return d;
}

void closePeer(Display* d) {
    if (!d) return;
    ErrorTrap::take(d);
    ErrorTrap::unwatch(d);
    XCloseDisplay(d);
}

void clientMessage(Display* d, Window to, Window field, Atom type, long l0, long l1, long l2, long l3, long l4) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = field;
    e.xclient.message_type = type;
    e.xclient.format = 32;
    long l[5] = {l0, l1, l2, l3, l4};
    for (int i = 0; i < 5; ++i) e.xclient.data.l[i] = l[i];
    XSendEvent(d, to, False, NoEventMask, &e);
    XFlush(d);
}

std::string atomName(Display* d, Atom a) {
    if (!a) return "";
    char* n = XGetAtomName(d, a);
    std::string s = n ? n : "";
    if (n) XFree(n);
    return s;
}

std::string actionWord(Display* d, Atom a) {
    std::string n = atomName(d, a);
    if (n.rfind("XdndAction", 0) != 0) return "";
    std::string w = n.substr(10);
    for (char& c : w) c = char(std::tolower(static_cast<unsigned char>(c)));
    return w;
}

Atom actionAtom(Display* d, const std::string& word) {
    if (word.empty() || word == "none") return None;
    std::string n = "XdndAction" + word;
    n[10] = char(std::toupper(static_cast<unsigned char>(n[10])));
    return XInternAtom(d, n.c_str(), False);
}

// Waits up to `seconds` for an event that `handle` answers true for (it sees every event).
template <class Handle>
bool waitFor(Display* d, double seconds, const std::atomic<bool>& stop, Handle handle) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!stop && std::chrono::steady_clock::now() < end) {
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (handle(e)) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// The items of a property (char for format 8, long-sized for 32), removed after reading if asked.
template <class T>
std::vector<T> property(Display* d, Window w, Atom p, Atom type, bool remove = false) {
    Atom got = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<T> out;
    if (XGetWindowProperty(d, w, p, 0, 1 << 16, remove, type, &got, &format, &n, &after, &data) == Success && data &&
        format == int(sizeof(T) == 1 ? 8 : 32))
        out.assign(reinterpret_cast<T*>(data), reinterpret_cast<T*>(data) + n);
    if (data) XFree(data);
    return out;
}

void waitReady(const std::atomic<bool>& ready) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ready && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// An override-redirect window, placed where asked whether a window manager runs or not.
Window placedWindow(Display* d, int x, int y, int w, int h, unsigned long background) {
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.background_pixel = background;
    Window win = XCreateWindow(d, DefaultRootWindow(d), x, y, unsigned(w), unsigned(h), 0, CopyFromParent, InputOutput,
                               CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
    XMapRaised(d, win);
    XSync(d, False);
    return win;
}

Atom atom(Display* d, const char* name) { return XInternAtom(d, name, False); }

}  // namespace

// ---- drop target

DropTargetPeer::DropTargetPeer(int x, int y, int w, int h, std::string answer, bool strayProxy)
    : answer_(std::move(answer)), strayProxy_(strayProxy) {
    thread_ = std::thread([=, this] { run(x, y, w, h); });
    waitReady(ready_);
}

DropTargetPeer::~DropTargetPeer() {
    stop_ = true;
    thread_.join();
}

DropTargetPeer::Seen DropTargetPeer::seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

void DropTargetPeer::run(int x, int y, int w, int h) {
    Display* d = openPeer();
    if (!d) return;
    Window win = placedWindow(d, x, y, w, h, 0x808080);
    Atom position = atom(d, "XdndPosition"), enter = atom(d, "XdndEnter"), leave = atom(d, "XdndLeave"),
         drop = atom(d, "XdndDrop"), prop = atom(d, "PEER_DATA");
    long version = 5;
    XChangeProperty(d, win, atom(d, "XdndAware"), XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&version),
                    1);
    // The stray proxy's connection reads nothing: whatever is sent there is lost.
    Display* other = strayProxy_ ? openPeer() : nullptr;
    if (other) {
        Window stray = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 1, 1, 0, 0, 0);
        XSync(other, False);
        XChangeProperty(d, win, atom(d, "XdndProxy"), XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&stray), 1);
    }
    XSync(d, False);
    ready_ = true;
    bool frozen = answer_ == "frozen";
    Atom answer = frozen ? None : actionAtom(d, answer_);
    waitFor(d, 1e9, stop_, [&](XEvent& e) {
        if (e.type != ClientMessage) return false;
        const XClientMessageEvent& m = e.xclient;
        Window source = Window(m.data.l[0]);
        std::lock_guard<std::mutex> lock(mutex_);
        if (m.message_type == enter) {
            ++seen_.enters;
        } else if (m.message_type == position) {
            ++seen_.positions;
            seen_.requested = actionWord(d, Atom(m.data.l[4]));
            if (!frozen)
                clientMessage(d, source, source, atom(d, "XdndStatus"), long(win), answer ? 1 : 0, 0, 0, long(answer));
        } else if (m.message_type == leave) {
            ++seen_.leaves;
        } else if (m.message_type == drop) {
            ++seen_.drops;
            if (answer) {
                XConvertSelection(d, atom(d, "XdndSelection"), atom(d, "text/uri-list"), prop, win, Time(m.data.l[2]));
                XFlush(d);
                mutex_.unlock();
                waitFor(d, 5.0, stop_, [&](XEvent& r) { return r.type == SelectionNotify; });
                mutex_.lock();
                std::vector<char> text = property<char>(d, win, prop, AnyPropertyType, true);
                seen_.data.assign(text.begin(), text.end());
            }
            clientMessage(d, source, source, atom(d, "XdndFinished"), long(win), answer ? 1 : 0, long(answer), 0, 0);
        }
        return false;
    });
    closePeer(other);
    closePeer(d);
}

// ---- drag source

DragSourcePeer::DragSourcePeer(unsigned long target, std::string uriList, std::string action,
                               std::vector<std::pair<int, int>> points, End end)
    : uris_(std::move(uriList)), action_(std::move(action)) {
    thread_ = std::thread([=, this] { run(target, points, end); });
}

DragSourcePeer::~DragSourcePeer() {
    release();
    thread_.join();
}

std::vector<DragSourcePeer::Answer> DragSourcePeer::statuses() {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
}

void DragSourcePeer::run(unsigned long target, std::vector<std::pair<int, int>> points, End end) {
    Display* d = openPeer();
    if (!d) {
        done_ = true;
        return;
    }
    Window root = DefaultRootWindow(d);
    Window src = XCreateSimpleWindow(d, root, 0, 0, 1, 1, 0, 0, 0);
    Atom uriList = atom(d, "text/uri-list"), status = atom(d, "XdndStatus"), finishedAtom = atom(d, "XdndFinished");
    XSetSelectionOwner(d, atom(d, "XdndSelection"), src, CurrentTime);
    // The target's messages go to its proxy when it names one.
    std::vector<Window> proxy = property<Window>(d, Window(target), atom(d, "XdndProxy"), XA_WINDOW);
    Window sendTo = proxy.size() == 1 ? proxy[0] : Window(target);
    // Gives the data to whoever asks; true for the awaited message.
    auto serve = [&](XEvent& e, Atom awaited, XClientMessageEvent& got) {
        if (e.type == SelectionRequest) {
            const XSelectionRequestEvent& r = e.xselectionrequest;
            XEvent n{};
            n.xselection.type = SelectionNotify;
            n.xselection.requestor = r.requestor;
            n.xselection.selection = r.selection;
            n.xselection.target = r.target;
            n.xselection.time = r.time;
            n.xselection.property = None;
            if (r.target == uriList) {
                XChangeProperty(d, r.requestor, r.property, uriList, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(uris_.data()), int(uris_.size()));
                n.xselection.property = r.property;
            }
            XSendEvent(d, r.requestor, False, NoEventMask, &n);
            XFlush(d);
            return false;
        }
        if (e.type == ClientMessage && e.xclient.message_type == awaited) {
            got = e.xclient;
            return true;
        }
        return false;
    };
    std::atomic<bool> never{false};
    clientMessage(d, sendTo, Window(target), atom(d, "XdndEnter"), long(src), 5L << 24, long(uriList), 0,
                  0);
    Atom action = actionAtom(d, action_);
    for (auto [x, y] : points) {
        clientMessage(d, sendTo, Window(target), atom(d, "XdndPosition"), long(src), 0,
                      (long(x) << 16) | long(y), CurrentTime, long(action));
        XClientMessageEvent m{};
        Answer a;
        if (waitFor(d, 5.0, never, [&](XEvent& e) { return serve(e, status, m); })) {
            a.accepted = m.data.l[1] & 1;
            a.action = actionWord(d, Atom(m.data.l[4]));
        }
        std::lock_guard<std::mutex> lock(mutex_);
        statuses_.push_back(a);
    }
    if (end == End::drop) {
        clientMessage(d, sendTo, Window(target), atom(d, "XdndDrop"), long(src), 0, CurrentTime, 0, 0);
        XClientMessageEvent m{};
        finished = waitFor(d, 5.0, never, [&](XEvent& e) { return serve(e, finishedAtom, m); });
        if (finished) {
            finish.accepted = m.data.l[1] & 1;
            finish.action = actionWord(d, Atom(m.data.l[2]));
        }
    } else if (end == End::leave) {
        clientMessage(d, sendTo, Window(target), atom(d, "XdndLeave"), long(src), 0, 0, 0, 0);
    } else if (end == End::silent) {
        while (!released_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    XDestroyWindow(d, src);
    closePeer(d);
    done_ = true;
}

// ---- stand-in window manager

StandInWm::StandInWm() {
    thread_ = std::thread([this] { run(); });
    waitReady(ready_);
}

StandInWm::~StandInWm() {
    stop_ = true;
    thread_.join();
}

std::vector<StandInWm::Message> StandInWm::messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

void StandInWm::mark() {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = DefaultRootWindow(d);
    e.xclient.message_type = atom(d, "LUMO_MARK");
    e.xclient.format = 32;
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureNotifyMask, &e);
    XSync(d, False);
    XCloseDisplay(d);
}

void StandInWm::run() {
    Display* d = openPeer();
    if (!d) return;
    Window root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureNotifyMask);
    XSync(d, False);
    ready_ = true;
    Atom wmState = atom(d, "_NET_WM_STATE");
    waitFor(d, 1e9, stop_, [&](XEvent& e) {
        if (e.type != ClientMessage) return false;
        Message m;
        m.type = atomName(d, e.xclient.message_type);
        m.window = e.xclient.window;
        for (int i = 0; i < 5; ++i) m.l[i] = e.xclient.data.l[i];
        if (e.xclient.message_type == wmState) {
            m.atom1 = atomName(d, Atom(m.l[1]));
            m.atom2 = atomName(d, Atom(m.l[2]));
            // Applied as a manager would: the window's state property lists what it now is.
            std::vector<Atom> now = property<Atom>(d, m.window, wmState, XA_ATOM);
            for (Atom a : {Atom(m.l[1]), Atom(m.l[2])}) {
                if (!a) continue;
                auto it = std::find(now.begin(), now.end(), a);
                bool has = it != now.end();
                bool want = m.l[0] == 1 || (m.l[0] == 2 && !has);
                if (has && !want) now.erase(it);
                if (!has && want) now.push_back(a);
            }
            XChangeProperty(d, m.window, wmState, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(now.data()), int(now.size()));
            XFlush(d);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(m);
        return false;
    });
    closePeer(d);
}

// ---- host window

HostWindow::HostWindow(int w, int h) : display_(openPeer()) {
    if (display_) window_ = placedWindow(display_, 600, 40, w, h, 0x204060);
}

HostWindow::~HostWindow() {
    if (!display_) return;
    if (window_) XDestroyWindow(display_, window_);
    closePeer(display_);
}

void HostWindow::resize(int w, int h) {
    XResizeWindow(display_, window_, unsigned(w), unsigned(h));
    XSync(display_, False);
}

void HostWindow::destroy() {
    XDestroyWindow(display_, window_);
    XSync(display_, False);
    window_ = 0;
}

void HostWindow::focus(bool on) {
    XSetInputFocus(display_, on ? window_ : None, RevertToNone, CurrentTime);
    XSync(display_, False);
}

unsigned long HostWindow::parentOf(unsigned long window) {
    Window r = 0, parent = 0, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(display_, Window(window), &r, &parent, &kids, &n)) return 0;
    if (kids) XFree(kids);
    return parent;
}

std::pair<int, int> HostWindow::sizeOf(unsigned long window) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(display_, Window(window), &a)) return {0, 0};
    return {a.width, a.height};
}

unsigned long HostWindow::focused() {
    Window f = 0;
    int revert = 0;
    XGetInputFocus(display_, &f, &revert);
    return f;
}

unsigned long HostWindow::goneId() {
    Window w = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
    XDestroyWindow(display_, w);
    XSync(display_, False);
    return w;
}

void HostWindow::failingRequest(unsigned long window, unsigned long numberFrom) {
    // A connection nothing of the tests watches, as a host program's own.
    Display* own = XOpenDisplay(nullptr);
    if (!own) return;
    if (!window) window = goneId();
    while (NextRequest(own) < numberFrom) XNoOp(own);
    XMapWindow(own, Window(window));
    XSync(own, False);
    XCloseDisplay(own);
}

void HostWindow::dragMessage(unsigned long target, const std::string& type) {
    std::vector<Window> proxy = property<Window>(display_, Window(target), atom(display_, "XdndProxy"), XA_WINDOW);
    Window sendTo = proxy.size() == 1 ? proxy[0] : Window(target);
    Atom uriList = atom(display_, "text/uri-list");
    if (type == "enter")
        clientMessage(display_, sendTo, Window(target), atom(display_, "XdndEnter"), long(window_), 5L << 24,
                      long(uriList), 0, 0);
    else if (type == "leave")
        clientMessage(display_, sendTo, Window(target), atom(display_, "XdndLeave"), long(window_), 0, 0, 0, 0);
    else if (type == "drop")
        clientMessage(display_, sendTo, Window(target), atom(display_, "XdndDrop"), long(window_), 0, CurrentTime, 0,
                      0);
}

// ---- pinch

std::vector<lumo::platform::PinchStep> pinchFromEvents(double x, double y, const std::vector<double>& scales,
                                                       bool cancelled, bool control, unsigned long time) {
    std::vector<lumo::platform::PinchStep> steps;
    for (size_t i = 0; i < scales.size(); ++i) {
        XIGesturePinchEvent e{};
        e.type = GenericEvent;
        e.evtype = i == 0 ? XI_GesturePinchBegin : i + 1 == scales.size() ? XI_GesturePinchEnd : XI_GesturePinchUpdate;
        e.detail = 2;  // fingers
        e.event_x = x;
        e.event_y = y;
        e.scale = scales[i];
        e.time = time;
        e.flags = cancelled && i + 1 == scales.size() ? XIGesturePinchEventCancelled : 0;
        e.mods.effective = control ? ControlMask : 0;
        lumo::platform::PinchStep s;
        if (lumo::platform::pinchStepOf(e, s)) steps.push_back(s);
    }
    // An event of another kind is no step.
    XIGesturePinchEvent other{};
    other.evtype = XI_GestureSwipeBegin;
    lumo::platform::PinchStep s;
    if (lumo::platform::pinchStepOf(other, s)) steps.push_back(s);
    return steps;
}

unsigned long serverTime() {
    Display* d = openPeer();
    if (!d) return 0;
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(d, w, PropertyChangeMask);
    XChangeProperty(d, w, XA_WM_NAME, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent e;
    XWindowEvent(d, w, PropertyChangeMask, &e);
    XDestroyWindow(d, w);
    closePeer(d);
    return e.xproperty.time;
}

}  // namespace wintest
