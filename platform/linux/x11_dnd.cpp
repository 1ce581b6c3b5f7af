// File drags through the X drag-and-drop protocol (version 5): the window as a drop target that
// tells the editor where the drag is and answers the source with an operation, and as a source
// that drags the editor's files out to other programs.
#include <X11/keysym.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unistd.h>

#include "platform/linux/x11_state.h"

namespace lumo::platform {

namespace {

constexpr int kVersion = 5;
constexpr long kMaxListLongs = 1 << 20;   // 4 MiB of uri list at most

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool thisHost(std::string_view host) {
    if (host.empty() || host == "localhost") return true;
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 && host == name;
}

int32_t opsOfAction(const X11Link::State& s, Atom a) {
    if (a == s.xdndActionCopy) return kOpCopy | kOpGeneric;
    if (a == s.xdndActionMove) return kOpMove;
    if (a == s.xdndActionLink) return kOpLink;
    if (a == s.xdndActionPrivate) return kOpPrivate;
    return 0;
}

Atom actionOf(const X11Link::State& s, int32_t op) {
    switch (op) {
    case kOpMove: return s.xdndActionMove;
    case kOpLink: return s.xdndActionLink;
    case kOpPrivate: return s.xdndActionPrivate;
    case kOpCopy:
    case kOpGeneric: return s.xdndActionCopy;
    default: return None;
    }
}

int32_t operationOfAction(const X11Link::State& s, Atom a) {
    if (a == s.xdndActionMove) return kOpMove;
    if (a == s.xdndActionLink) return kOpLink;
    if (a == s.xdndActionPrivate) return kOpPrivate;
    return a == s.xdndActionCopy ? kOpCopy : 0;
}

// A property of atoms (or windows); empty when it is missing or of another format.
std::vector<unsigned long> longsOf(Display* d, Window w, Atom property, Atom type) {
    std::vector<unsigned long> out;
    Atom actual = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 64, False, type, &actual, &format, &n, &after, &data) == Success &&
        data && format == 32 && actual == type) {
        auto* v = reinterpret_cast<unsigned long*>(data);
        out.assign(v, v + n);
    }
    if (data) XFree(data);
    return out;
}

// ---- the window as a drop target

// The drag in ends: its source's window is watched no more (for the drag; the host it may be
// keeps what the embedding selected).
void forgetSource(X11Link::State& s) {
    Window source = s.in.source;
    s.in = {};
    if (source && source != s.proxy) {
        s.selectOn(source);
        ErrorTrap::take(s.d);  // gone meanwhile
    }
}

void answerPosition(X11Link::State& s) {
    auto& in = s.in;
    in.positioned = false;
    std::weak_ptr<bool> alive = s.alive;
    bool over = false;
    if (!in.paths.empty()) {
        bool shift = false, control = false, alt = false;
        s.modifiers(shift, control, alt);
        s.editor->setDragSource(in.ops, 0);
        over = s.editor->dragOver(in.x, in.y, in.paths, shift, control, alt);
        if (alive.expired()) return;
    }
    in.answer = answerOperation(in.ops, over, over && s.editor->dropAnswer());
    in.accepted = in.answer != 0;
    // Bit 1: positions keep coming while the pointer stays inside the window.
    s.send(in.source, s.xdndStatus, long(s.window), (in.answer ? 1 : 0) | 2, 0, 0, long(actionOf(s, in.answer)));
    ErrorTrap::take(s.d);
}

void dropNow(X11Link::State& s) {
    auto in = s.in;  // the drag ends here, whatever the editor does
    forgetSource(s);
    std::weak_ptr<bool> alive = s.alive;
    bool dropped = false;
    int32_t op = 0;
    if (in.accepted && !in.paths.empty()) {
        bool shift = false, control = false, alt = false;
        s.modifiers(shift, control, alt);
        s.editor->setDragSource(in.ops, 0);
        dropped = s.editor->drop(in.x, in.y, in.paths, shift, control, alt);
        if (alive.expired()) return;
        if (dropped) op = answerOperation(in.ops, true, s.editor->dropAnswer());
    } else {
        s.editor->dragLeave();
        if (alive.expired()) return;
    }
    s.send(in.source, s.xdndFinished, long(s.window), dropped ? 1 : 0, long(actionOf(s, op)), 0, 0);
    ErrorTrap::take(s.d);
}

void incoming(X11Link::State& s, const XClientMessageEvent& m) {
    auto& in = s.in;
    Window source = Window(m.data.l[0]);
    if (m.message_type == s.xdndEnter) {
        if (in.source) {
            // A drag that never left (its source gone): the editor forgets its target first.
            std::weak_ptr<bool> alive = s.alive;
            forgetSource(s);
            s.editor->dragLeave();
            if (alive.expired()) return;
        }
        // A source that dies without a leave or a drop ends the drag (its DestroyNotify); one that
        // is gone already starts none. The proxy is the window's own, when it drags onto itself.
        in = {};
        in.source = source;
        if (source != s.proxy) {
            ErrorTrap::take(s.d);
            s.selectOn(source);
            if (ErrorTrap::take(s.d) != 0) {
                in = {};
                return;
            }
        }
        in.heardTicks = SDL_GetTicks();
        in.version = int((unsigned long)(m.data.l[1]) >> 24);
        std::vector<unsigned long> types;
        if (m.data.l[1] & 1)
            types = longsOf(s.d, source, s.xdndTypeList, XA_ATOM);
        else
            types = {(unsigned long)m.data.l[2], (unsigned long)m.data.l[3], (unsigned long)m.data.l[4]};
        in.uris = std::find(types.begin(), types.end(), s.uriList) != types.end();
        ErrorTrap::take(s.d);
        return;
    }
    if (source != in.source || !in.source) return;
    in.heardTicks = SDL_GetTicks();
    if (m.message_type == s.xdndPosition) {
        s.windowPoint(int((m.data.l[2] >> 16) & 0xFFFF), int(m.data.l[2] & 0xFFFF), in.x, in.y);
        Atom action = Atom(m.data.l[4]);
        in.ops = opsOfAction(s, action);
        // The source's list of actions, when it gives one, counts too.
        for (unsigned long a : longsOf(s.d, source, s.xdndActionList, XA_ATOM)) in.ops |= opsOfAction(s, Atom(a));
        ErrorTrap::take(s.d);
        if (!in.uris) {
            s.send(in.source, s.xdndStatus, long(s.window), 2, 0, 0, None);
            ErrorTrap::take(s.d);
            return;
        }
        if (!in.haveData) {
            // The paths come first: the answer waits for them (the source waits for the answer).
            in.positioned = true;
            if (!in.asked) {
                in.asked = true;
                XConvertSelection(s.d, s.xdndSelection, s.uriList, s.transfer, s.proxy, Time(m.data.l[3]));
                XFlush(s.d);
            }
            return;
        }
        answerPosition(s);
    } else if (m.message_type == s.xdndLeave) {
        forgetSource(s);
        s.editor->dragLeave();
    } else if (m.message_type == s.xdndDrop) {
        if (in.asked && !in.haveData) {
            in.dropPending = true;
            return;
        }
        dropNow(s);
    }
}

void incomingData(X11Link::State& s, const XSelectionEvent& e) {
    auto& in = s.in;
    if (!in.source || !in.asked || in.haveData) return;
    in.haveData = true;
    if (e.property != None) {
        Atom actual = 0;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(s.d, s.proxy, s.transfer, 0, kMaxListLongs, True, AnyPropertyType, &actual, &format, &n,
                               &after, &data) == Success &&
            data && format == 8 && after == 0)
            in.paths = pathsFromUriList(std::string(reinterpret_cast<char*>(data), n));
        // A list that does not fit is refused whole (no paths: the drag is not accepted); its cut
        // end would name another file. The server keeps what is left unread: it goes.
        if (after != 0) XDeleteProperty(s.d, s.proxy, s.transfer);
        if (data) XFree(data);
    }
    std::weak_ptr<bool> alive = s.alive;
    if (in.positioned) {
        answerPosition(s);
        if (alive.expired()) return;
    }
    if (s.in.dropPending) dropNow(s);
}

// ---- the window as a drag source

// The drag-aware window under a root point: the top-level there (the drag's picture skipped), then
// down through its children to the first that carries XdndAware. Its version and the window its
// messages go to come back too: its proxy, when it names one that names itself (any other is
// stale or stray, and the window itself is used).
Window awareWindowAt(X11Link::State& s, int rx, int ry, int& version, Window& sendTo) {
    Window top = 0;
    Window r = 0, parent = 0, *kids = nullptr;
    unsigned n = 0;
    if (XQueryTree(s.d, s.root, &r, &parent, &kids, &n)) {
        for (unsigned i = n; i-- > 0 && !top;) {
            Window w = kids[i];
            if (w == s.out.imageWindow || w == s.proxy) continue;
            XWindowAttributes a;
            if (!XGetWindowAttributes(s.d, w, &a) || a.map_state != IsViewable) continue;
            int b = a.border_width * 2;
            if (rx >= a.x && ry >= a.y && rx < a.x + a.width + b && ry < a.y + a.height + b) top = w;
        }
        if (kids) XFree(kids);
    }
    for (Window w = top; w;) {
        std::vector<unsigned long> aware = longsOf(s.d, w, s.xdndAware, XA_ATOM);
        if (!aware.empty()) {
            version = int(std::min<unsigned long>(aware[0], kVersion));
            std::vector<unsigned long> proxy = longsOf(s.d, w, s.xdndProxy, XA_WINDOW);
            sendTo = w;
            if (!proxy.empty()) {
                std::vector<unsigned long> itself = longsOf(s.d, Window(proxy[0]), s.xdndProxy, XA_WINDOW);
                if (!itself.empty() && itself[0] == proxy[0]) sendTo = Window(proxy[0]);
            }
            ErrorTrap::take(s.d);
            return version >= 3 ? w : 0;
        }
        int x = 0, y = 0;
        Window child = 0;
        if (!XTranslateCoordinates(s.d, s.root, w, rx, ry, &x, &y, &child)) break;
        w = child;
    }
    ErrorTrap::take(s.d);
    return 0;
}

void sendPosition(X11Link::State& s) {
    auto& out = s.out;
    out.pendingMove = false;
    out.waiting = true;
    out.positionTicks = SDL_GetTicks();
    s.send(out.sendTo, s.xdndPosition, long(s.proxy), 0, (long(out.rootX) << 16) | (out.rootY & 0xFFFF),
           long(out.time), long(out.move ? s.xdndActionMove : s.xdndActionCopy), out.target);
    ErrorTrap::take(s.d);
}

void leaveTarget(X11Link::State& s) {
    auto& out = s.out;
    if (out.target) s.send(out.sendTo, s.xdndLeave, long(s.proxy), 0, 0, 0, 0, out.target);
    ErrorTrap::take(s.d);
    out.target = 0;
    out.accepted = false;
    out.action = None;
    out.waiting = false;
}

void pointerAt(X11Link::State& s, int rx, int ry, Time time) {
    auto& out = s.out;
    out.rootX = rx;
    out.rootY = ry;
    out.time = time;
    if (out.imageWindow) XMoveWindow(s.d, out.imageWindow, rx - out.hotX, ry - out.hotY);
    int version = 0;
    Window sendTo = 0;
    Window t = awareWindowAt(s, rx, ry, version, sendTo);
    if (t != out.target) {
        leaveTarget(s);
        if (t) {
            out.target = t;
            out.sendTo = sendTo;
            out.version = version;
            s.send(sendTo, s.xdndEnter, long(s.proxy), long(version) << 24, long(s.uriList), 0, 0, t);
            ErrorTrap::take(s.d);
        }
    }
    if (!out.target) return;
    if (out.waiting)
        out.pendingMove = true;
    else
        sendPosition(s);
}

// The button came up: a drop where the target accepted, else the drag ends undropped.
void release(X11Link::State& s) {
    auto& out = s.out;
    if (out.target && out.waiting) {
        out.released = true;  // decided when the answer comes
        return;
    }
    if (out.target && out.accepted) {
        s.send(out.sendTo, s.xdndDrop, long(s.proxy), 0, long(out.time), 0, 0, out.target);
        ErrorTrap::take(s.d);
        out.dropped = true;
        out.dropTicks = SDL_GetTicks();
        XUngrabPointer(s.d, CurrentTime);
        XUngrabKeyboard(s.d, CurrentTime);
        if (out.imageWindow) XUnmapWindow(s.d, out.imageWindow);
        XFlush(s.d);
        return;
    }
    leaveTarget(s);
    finishDrag(s, false, 0);
}

void answerSelection(X11Link::State& s, const XSelectionRequestEvent& r) {
    XEvent e{};
    e.xselection.type = SelectionNotify;
    e.xselection.requestor = r.requestor;
    e.xselection.selection = r.selection;
    e.xselection.target = r.target;
    e.xselection.time = r.time;
    e.xselection.property = r.property ? r.property : r.target;
    if (r.target == s.uriList && !s.out.paths.empty()) {
        std::string list = uriListOf(s.out.paths);
        XChangeProperty(s.d, r.requestor, e.xselection.property, s.uriList, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(list.data()), int(list.size()));
    } else if (r.target == s.targets) {
        Atom offered[] = {s.targets, s.uriList};
        XChangeProperty(s.d, r.requestor, e.xselection.property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(offered), 2);
    } else {
        e.xselection.property = None;
    }
    XSendEvent(s.d, r.requestor, False, NoEventMask, &e);
    ErrorTrap::take(s.d);
}

bool outgoing(X11Link::State& s, XEvent& e) {
    auto& out = s.out;
    if (e.type == SelectionRequest) {
        if (e.xselectionrequest.selection != s.xdndSelection) return false;
        answerSelection(s, e.xselectionrequest);
        return true;
    }
    if (!out.active) return false;
    switch (e.type) {
    case MotionNotify:
        if (!out.dropped) {
            // Only the newest of a run of moves counts.
            while (XCheckTypedEvent(s.d, MotionNotify, &e)) {}
            pointerAt(s, e.xmotion.x_root, e.xmotion.y_root, e.xmotion.time);
        }
        return true;
    case ButtonRelease:
        if (!out.dropped) {
            out.rootX = e.xbutton.x_root;
            out.rootY = e.xbutton.y_root;
            out.time = e.xbutton.time;
            release(s);
        }
        return true;
    case KeyPress:
        if (!out.dropped && XLookupKeysym(&e.xkey, 0) == XK_Escape) {
            leaveTarget(s);
            finishDrag(s, false, 0);
        }
        return true;
    case ClientMessage: {
        const XClientMessageEvent& m = e.xclient;
        if (Window(m.data.l[0]) != out.target || !out.target) return m.message_type == s.xdndStatus ||
                                                                         m.message_type == s.xdndFinished;
        if (m.message_type == s.xdndStatus && !out.dropped) {
            out.waiting = false;
            out.accepted = m.data.l[1] & 1;
            out.action = out.accepted ? Atom(m.data.l[4]) : None;
            if (out.released)
                release(s);
            else if (out.pendingMove)
                sendPosition(s);
            return true;
        }
        if (m.message_type == s.xdndFinished && out.dropped) {
            bool accepted = out.version < 5 || (m.data.l[1] & 1);
            Atom action = out.version < 5 ? out.action : Atom(m.data.l[2]);
            finishDrag(s, accepted, accepted ? operationOfAction(s, action) : 0);
            return true;
        }
        return false;
    }
    default: return false;
    }
}

void showImage(X11Link::State& s, const gui::DragImage& image) {
    auto& out = s.out;
    if (out.imageWindow) {
        XDestroyWindow(s.d, out.imageWindow);
        out.imageWindow = 0;
    }
    const gui::Bitmap& b = image.image;
    int screen = DefaultScreen(s.d);
    Visual* v = DefaultVisual(s.d, screen);
    // The picture as it is only where the server's pixels are 0x00RRGGBB words.
    if (b.empty() || DefaultDepth(s.d, screen) != 24 || v->red_mask != 0xFF0000 || v->blue_mask != 0xFF) return;
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.save_under = True;
    out.hotX = image.hotX;
    out.hotY = image.hotY;
    out.imageWindow = XCreateWindow(s.d, s.root, out.rootX - out.hotX, out.rootY - out.hotY, unsigned(b.w),
                                    unsigned(b.h), 0, CopyFromParent, InputOutput, CopyFromParent,
                                    CWOverrideRedirect | CWSaveUnder, &a);
    Pixmap p = XCreatePixmap(s.d, out.imageWindow, unsigned(b.w), unsigned(b.h), 24);
    std::vector<uint32_t> pixels(b.pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) {
        // Over a light grey, so that a picture with see-through parts still reads.
        uint32_t px = b.pixels[i], al = px >> 24, grey = 0xE0 * (255 - al);
        auto ch = [&](int shift) { return (((px >> shift) & 0xFF) * al + grey + 127) / 255 << shift; };
        pixels[i] = ch(16) | ch(8) | ch(0);
    }
    XImage* img = XCreateImage(s.d, v, 24, ZPixmap, 0, reinterpret_cast<char*>(pixels.data()), unsigned(b.w),
                               unsigned(b.h), 32, b.w * 4);
    if (img) {
        GC gc = XCreateGC(s.d, p, 0, nullptr);
        XPutImage(s.d, p, gc, img, 0, 0, 0, 0, unsigned(b.w), unsigned(b.h));
        XFreeGC(s.d, gc);
        img->data = nullptr;  // ours
        XDestroyImage(img);
    }
    XSetWindowBackgroundPixmap(s.d, out.imageWindow, p);
    XFreePixmap(s.d, p);
    XMapRaised(s.d, out.imageWindow);
    XFlush(s.d);
}

}  // namespace

int32_t answerOperation(int32_t sourceOps, bool accepted, bool preferMove) {
    if (!accepted) return 0;
    if (preferMove && (sourceOps & kOpMove)) return kOpMove;
    if (preferMove && (sourceOps & kOpGeneric)) return kOpGeneric;
    for (int32_t op : {kOpCopy, kOpGeneric, kOpLink})
        if (sourceOps & op) return op;
    return 0;
}

std::vector<std::string> pathsFromUriList(const std::string& text) {
    // A list may hold a hundred thousand lines: each is looked at in place and decoded a run at a
    // time between its escapes, never a character at a time.
    std::vector<std::string> paths;
    const std::string_view all(text);
    size_t at = 0;
    while (at < all.size()) {
        size_t end = all.find('\n', at);
        if (end == std::string_view::npos) end = all.size();
        std::string_view line = all.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\0')) line.remove_suffix(1);
        if (line.substr(0, 7) != "file://") continue;  // comments and blank lines too
        const size_t slash = line.find('/', 7);
        if (slash == std::string_view::npos || !thisHost(line.substr(7, slash - 7))) continue;
        std::string path;
        path.reserve(line.size() - slash);
        bool bad = false;
        for (size_t i = slash; i < line.size();) {
            const size_t escape = std::min(line.find('%', i), line.size());
            path.append(line.substr(i, escape - i));
            if (escape == line.size()) break;
            const int hi = escape + 2 < line.size() ? hexValue(line[escape + 1]) : -1;
            const int lo = hi >= 0 ? hexValue(line[escape + 2]) : -1;
            if (lo < 0) {
                bad = true;
                break;
            }
            path += char(hi * 16 + lo);
            i = escape + 3;
        }
        if (!bad && path.find('\0') == std::string::npos) paths.push_back(std::move(path));
    }
    return paths;
}

std::string uriListOf(const std::vector<std::string>& paths) {
    std::string out;
    for (const std::string& p : paths) {
        out += "file://";
        for (unsigned char c : p) {
            if (std::isalnum(c) || std::strchr("/-_.~", c)) {
                out += char(c);
            } else {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", c);
                out += hex;
            }
        }
        out += "\r\n";
    }
    return out;
}

bool dndEvent(X11Link::State& s, XEvent& e) {
    if (e.type == ClientMessage) {
        const XClientMessageEvent& m = e.xclient;
        if (m.message_type == s.xdndEnter || m.message_type == s.xdndPosition || m.message_type == s.xdndLeave ||
            m.message_type == s.xdndDrop) {
            incoming(s, m);
            return true;
        }
        return outgoing(s, e);
    }
    if (e.type == SelectionNotify && e.xselection.requestor == s.proxy) {
        incomingData(s, e.xselection);
        return true;
    }
    if (e.type == DestroyNotify && s.in.source && e.xdestroywindow.window == s.in.source) {
        s.in = {};
        std::weak_ptr<bool> alive = s.alive;
        s.editor->dragLeave();
        // A host that closes while it drags is still a host that closes.
        return alive.expired() || e.xdestroywindow.window != s.host;
    }
    return outgoing(s, e);
}

void finishDrag(X11Link::State& s, bool dropped, int32_t operation) {
    auto& out = s.out;
    XUngrabPointer(s.d, CurrentTime);
    XUngrabKeyboard(s.d, CurrentTime);
    if (out.imageWindow) XDestroyWindow(s.d, out.imageWindow);
    syncSdlPointer(s);
    std::function<void(const gui::DragResult&)> done = std::move(out.done);
    std::vector<std::string> paths = std::move(out.paths);
    out = {};
    out.paths = std::move(paths);  // a target may still ask for them
    gui::DragResult r;
    r.dropped = dropped;
    r.operation = operation;
    if (done) done(r);
}

bool X11Link::startFileDrag(const std::vector<std::string>& paths, const gui::DragImage& image, bool move,
                            std::function<void(const gui::DragResult&)> done) {
    State& s = *s_;
    if (s.out.active || paths.empty()) return false;
    Window r = 0, c = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(s.d, s.root, &r, &c, &rx, &ry, &wx, &wy, &mask);
    int button = (mask & Button1Mask) ? 1 : (mask & Button2Mask) ? 2 : (mask & Button3Mask) ? 3 : 0;
    if (!button) return false;
    XSetSelectionOwner(s.d, s.xdndSelection, s.proxy, CurrentTime);
    if (XGetSelectionOwner(s.d, s.xdndSelection) != s.proxy) return false;
    letSdlButtonGo(button, rx, ry);
    XSync(s.sdlDisplay, False);
    int grabbed = XGrabPointer(s.d, s.root, False, PointerMotionMask | ButtonReleaseMask, GrabModeAsync,
                               GrabModeAsync, None, None, CurrentTime);
    if (grabbed != GrabSuccess) return false;
    XGrabKeyboard(s.d, s.root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    s.out = {};
    s.out.active = true;
    s.out.paths = paths;
    s.out.move = move;
    s.out.done = std::move(done);
    s.out.rootX = rx;
    s.out.rootY = ry;
    showImage(s, image);
    pointerAt(s, rx, ry, CurrentTime);
    XFlush(s.d);
    return true;
}

void X11Link::updateFileDrag(const gui::DragImage& image) {
    if (s_->out.active && !s_->out.dropped) showImage(*s_, image);
}

bool X11Link::dragging() const { return s_->out.active; }

void dragTimeouts(X11Link::State& s) {
    auto& out = s.out;
    std::weak_ptr<bool> alive = s.alive;
    uint32_t now = SDL_GetTicks();
    if (out.active && out.dropped && now - out.dropTicks > dragWaitMs) {
        finishDrag(s, false, 0);
        if (alive.expired()) return;
    } else if (out.active && out.waiting && now - out.positionTicks > dragWaitMs) {
        // A target that stopped answering keeps the drag (and the pointer) no longer, released or not.
        leaveTarget(s);
        finishDrag(s, false, 0);
        if (alive.expired()) return;
    }
    auto& in = s.in;
    if (!in.source || now - in.heardTicks <= dragWaitMs) return;
    // A source that sends nothing while the pointer stays still is no lost one: the drag goes on
    // while a button is held over the window (and is looked at again after the next wait).
    int rx = 0, ry = 0;
    unsigned mask = 0;
    bool inside = false;
    if (s.pointer(rx, ry, mask, inside) && inside &&
        (mask & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask))) {
        in.heardTicks = now;
        return;
    }
    forgetSource(s);
    s.editor->dragLeave();
}

}  // namespace lumo::platform
