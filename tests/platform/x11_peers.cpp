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

// The text of a property, removed after reading.
std::string takeText(Display* d, Window w, Atom property) {
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::string s;
    if (XGetWindowProperty(d, w, property, 0, 1 << 16, True, AnyPropertyType, &type, &format, &n, &after, &data) ==
            Success &&
        data && format == 8)
        s.assign(reinterpret_cast<char*>(data), n);
    if (data) XFree(data);
    return s;
}

}  // namespace

// ---- drop target

DropTargetPeer::DropTargetPeer(int x, int y, int w, int h, std::string answer) : answer_(std::move(answer)) {
    thread_ = std::thread([=, this] { run(x, y, w, h); });
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ready_ && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
    Window root = DefaultRootWindow(d);
    XSetWindowAttributes a{};
    a.override_redirect = True;  // placed where asked, window manager or not
    a.background_pixel = 0x808080;
    Window win = XCreateWindow(d, root, x, y, unsigned(w), unsigned(h), 0, CopyFromParent, InputOutput, CopyFromParent,
                               CWOverrideRedirect | CWBackPixel, &a);
    Atom aware = XInternAtom(d, "XdndAware", False), position = XInternAtom(d, "XdndPosition", False),
         enter = XInternAtom(d, "XdndEnter", False), leave = XInternAtom(d, "XdndLeave", False),
         drop = XInternAtom(d, "XdndDrop", False), status = XInternAtom(d, "XdndStatus", False),
         finished = XInternAtom(d, "XdndFinished", False), selection = XInternAtom(d, "XdndSelection", False),
         uriList = XInternAtom(d, "text/uri-list", False), prop = XInternAtom(d, "PEER_DATA", False);
    long version = 5;
    XChangeProperty(d, win, aware, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&version), 1);
    XMapRaised(d, win);
    XSync(d, False);
    ready_ = true;
    Atom answer = actionAtom(d, answer_);
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
            clientMessage(d, source, source, status, long(win), answer ? 1 : 0, 0, 0, long(answer));
        } else if (m.message_type == leave) {
            ++seen_.leaves;
        } else if (m.message_type == drop) {
            ++seen_.drops;
            if (answer) {
                XConvertSelection(d, selection, uriList, prop, win, Time(m.data.l[2]));
                XFlush(d);
                mutex_.unlock();
                waitFor(d, 5.0, stop_, [&](XEvent& r) { return r.type == SelectionNotify; });
                mutex_.lock();
                seen_.data = takeText(d, win, prop);
            }
            clientMessage(d, source, source, finished, long(win), answer ? 1 : 0, long(answer), 0, 0);
        }
        return false;
    });
    closePeer(d);
}

// ---- drag source

DragSourcePeer::DragSourcePeer(unsigned long target, std::string uriList, std::string action,
                               std::vector<std::pair<int, int>> points, bool drop)
    : uris_(std::move(uriList)), action_(std::move(action)) {
    thread_ = std::thread([=, this] { run(target, points, drop); });
}

DragSourcePeer::~DragSourcePeer() { thread_.join(); }

std::vector<DragSourcePeer::Answer> DragSourcePeer::statuses() {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
}

void DragSourcePeer::run(unsigned long target, std::vector<std::pair<int, int>> points, bool drop) {
    Display* d = openPeer();
    if (!d) {
        done_ = true;
        return;
    }
    Window root = DefaultRootWindow(d);
    Window src = XCreateSimpleWindow(d, root, 0, 0, 1, 1, 0, 0, 0);
    Atom selection = XInternAtom(d, "XdndSelection", False), uriList = XInternAtom(d, "text/uri-list", False),
         proxyAtom = XInternAtom(d, "XdndProxy", False), status = XInternAtom(d, "XdndStatus", False),
         finishedAtom = XInternAtom(d, "XdndFinished", False);
    XSetSelectionOwner(d, selection, src, CurrentTime);
    // The target's messages go to its proxy when it names one.
    Window sendTo = Window(target);
    {
        Atom type = 0;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, Window(target), proxyAtom, 0, 1, False, XA_WINDOW, &type, &format, &n, &after,
                               &data) == Success &&
            data && n == 1)
            sendTo = *reinterpret_cast<Window*>(data);
        if (data) XFree(data);
    }
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
    clientMessage(d, sendTo, Window(target), XInternAtom(d, "XdndEnter", False), long(src), 5L << 24, long(uriList), 0,
                  0);
    Atom action = actionAtom(d, action_);
    for (auto [x, y] : points) {
        clientMessage(d, sendTo, Window(target), XInternAtom(d, "XdndPosition", False), long(src), 0,
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
    if (drop) {
        clientMessage(d, sendTo, Window(target), XInternAtom(d, "XdndDrop", False), long(src), 0, CurrentTime, 0, 0);
        XClientMessageEvent m{};
        finished = waitFor(d, 5.0, never, [&](XEvent& e) { return serve(e, finishedAtom, m); });
        if (finished) {
            finish.accepted = m.data.l[1] & 1;
            finish.action = actionWord(d, Atom(m.data.l[2]));
        }
    } else {
        clientMessage(d, sendTo, Window(target), XInternAtom(d, "XdndLeave", False), long(src), 0, 0, 0, 0);
    }
    XDestroyWindow(d, src);
    closePeer(d);
    done_ = true;
}

// ---- stand-in window manager

StandInWm::StandInWm() {
    thread_ = std::thread([this] { run(); });
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ready_ && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

StandInWm::~StandInWm() {
    stop_ = true;
    thread_.join();
}

std::vector<StandInWm::Message> StandInWm::messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

void StandInWm::run() {
    Display* d = openPeer();
    if (!d) return;
    Window root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureNotifyMask);
    XSync(d, False);
    ready_ = true;
    Atom wmState = XInternAtom(d, "_NET_WM_STATE", False);
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
            std::vector<Atom> now;
            Atom type = 0;
            int format = 0;
            unsigned long n = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(d, m.window, wmState, 0, 64, False, XA_ATOM, &type, &format, &n, &after, &data) ==
                    Success &&
                data)
                now.assign(reinterpret_cast<Atom*>(data), reinterpret_cast<Atom*>(data) + n);
            if (data) XFree(data);
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

HostWindow::HostWindow(int w, int h) {
    Display* d = openPeer();
    display_ = d;
    if (!d) return;
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.background_pixel = 0x204060;
    window_ = XCreateWindow(d, DefaultRootWindow(d), 600, 40, unsigned(w), unsigned(h), 0, CopyFromParent,
                            InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
    XMapRaised(d, window_);
    XSync(d, False);
}

HostWindow::~HostWindow() {
    auto* d = static_cast<Display*>(display_);
    if (!d) return;
    if (window_) XDestroyWindow(d, window_);
    closePeer(d);
}

void HostWindow::resize(int w, int h) {
    auto* d = static_cast<Display*>(display_);
    XResizeWindow(d, window_, unsigned(w), unsigned(h));
    XSync(d, False);
}

void HostWindow::destroy() {
    auto* d = static_cast<Display*>(display_);
    XDestroyWindow(d, window_);
    XSync(d, False);
    window_ = 0;
}

void HostWindow::focus(bool on) {
    auto* d = static_cast<Display*>(display_);
    XSetInputFocus(d, on ? window_ : None, RevertToNone, CurrentTime);
    XSync(d, False);
}

unsigned long HostWindow::parentOf(unsigned long window) {
    auto* d = static_cast<Display*>(display_);
    Window r = 0, parent = 0, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, Window(window), &r, &parent, &kids, &n)) return 0;
    if (kids) XFree(kids);
    return parent;
}

bool HostWindow::sizeOf(unsigned long window, int& w, int& h) {
    auto* d = static_cast<Display*>(display_);
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, Window(window), &a)) return false;
    w = a.width;
    h = a.height;
    return true;
}

unsigned long HostWindow::focused() {
    auto* d = static_cast<Display*>(display_);
    Window f = 0;
    int revert = 0;
    XGetInputFocus(d, &f, &revert);
    return f;
}

unsigned long HostWindow::goneId() {
    auto* d = static_cast<Display*>(display_);
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XDestroyWindow(d, w);
    XSync(d, False);
    return w;
}

// ---- pinch

std::vector<lumo::platform::PinchStep> pinchFromEvents(double x, double y, const std::vector<double>& scales,
                                                       bool cancelled, bool control) {
    std::vector<lumo::platform::PinchStep> steps;
    for (size_t i = 0; i < scales.size(); ++i) {
        XIGesturePinchEvent e{};
        e.type = GenericEvent;
        e.evtype = i == 0 ? XI_GesturePinchBegin : i + 1 == scales.size() ? XI_GesturePinchEnd : XI_GesturePinchUpdate;
        e.detail = 2;  // fingers
        e.event_x = x;
        e.event_y = y;
        e.scale = scales[i];
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

}  // namespace wintest
