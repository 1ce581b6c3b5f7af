#pragma once
// A client of an X server that watches top-level windows come and go (for the tests and the
// benchmarks that run the program in a real window): the window a process maps, found by its
// _NET_WM_PID, and waits that wake on the server's events rather than on a clock. Header-only;
// its users link Xlib.
#include <poll.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>

// Xlib's macros after every other name.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace support {

class X11Watch {
public:
    // The display by name; the environment's DISPLAY when empty.
    explicit X11Watch(const std::string& name = "") : d_(XOpenDisplay(name.empty() ? nullptr : name.c_str())) {
        if (!d_) return;
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // windows come and go
        pidAtom_ = XInternAtom(d_, "_NET_WM_PID", False);
        XSelectInput(d_, DefaultRootWindow(d_), SubstructureNotifyMask);
        XSync(d_, False);
    }
    ~X11Watch() {
        if (d_) XCloseDisplay(d_);
    }
    X11Watch(const X11Watch&) = delete;
    X11Watch& operator=(const X11Watch&) = delete;

    bool ok() const { return d_ != nullptr; }
    Display* display() const { return d_; }

    // Waits until the process has mapped a window and done(window) holds: false when the time runs
    // out first. done is asked after every batch of the server's events and, with pollMs given,
    // at least that often (for what the server sends no event about, such as a window's pixels).
    bool waitUntil(pid_t pid, std::chrono::steady_clock::time_point end, const std::function<bool(Window)>& done,
                   int pollMs = -1) {
        if (pid != pid_) {
            pid_ = pid;
            window_ = 0;
        }
        for (;;) {
            while (XPending(d_)) {
                XEvent e;
                XNextEvent(d_, &e);
                if (e.type == MapNotify && !window_ && pidOf(e.xmap.window) == pid) window_ = e.xmap.window;
            }
            if (window_ && done(window_)) return true;
            const auto now = std::chrono::steady_clock::now();
            if (now >= end) return false;
            // The round trips of done() may have read events into the queue: those first.
            if (XQLength(d_) > 0) continue;
            int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count()) + 1;
            if (pollMs >= 0 && window_) left = std::min(left, pollMs);
            pollfd p{ConnectionNumber(d_), POLLIN, 0};
            ::poll(&p, 1, left);
        }
    }

    // Where a top-level window lies on the root window, and its size.
    bool geometry(Window w, int& x, int& y, int& width, int& height) const {
        XWindowAttributes a;
        Window child;
        if (!XGetWindowAttributes(d_, w, &a) || !XTranslateCoordinates(d_, w, DefaultRootWindow(d_), 0, 0, &x, &y, &child))
            return false;
        width = a.width;
        height = a.height;
        return true;
    }

private:
    long pidOf(Window w) const {
        Atom type;
        int format;
        unsigned long n = 0, after;
        unsigned char* data = nullptr;
        long value = 0;
        if (XGetWindowProperty(d_, w, pidAtom_, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after, &data) ==
                Success &&
            data) {
            if (n) value = *reinterpret_cast<long*>(data);
            XFree(data);
        }
        return value;
    }

    Display* d_ = nullptr;
    Atom pidAtom_ = 0;
    pid_t pid_ = 0;
    Window window_ = 0;  // the one pid_ mapped
};

}  // namespace support
