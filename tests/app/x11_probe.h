#pragma once
// The test's own view of the X server: the top-level window of a process (by _NET_WM_PID), and a
// ping of its event loop (_NET_WM_PING, which the window layer answers from its loop), so a test can
// tell a window that stopped answering from one that is only slow.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "gui/draw/canvas.h"

namespace apptest {

class X11Probe {
public:
    X11Probe() : display_(XOpenDisplay(nullptr)) {
        if (!display_) return;
        // Windows come and go while they are searched: a request about a gone one is no failure.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        root_ = DefaultRootWindow(display_);
        pidAtom_ = XInternAtom(display_, "_NET_WM_PID", False);
        protocols_ = XInternAtom(display_, "WM_PROTOCOLS", False);
        ping_ = XInternAtom(display_, "_NET_WM_PING", False);
        XSelectInput(display_, root_, SubstructureNotifyMask);
    }
    ~X11Probe() {
        stopPings();
        if (display_) XCloseDisplay(display_);
    }
    bool ok() const { return display_ != nullptr; }
    // The display the probe reached (":101"); empty when it could not open one.
    std::string name() const { return display_ ? DisplayString(display_) : ""; }

    // The mapped top-level window of the process; 0 when there is none within the time.
    Window windowOf(pid_t pid, double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        // The window layer may replace its first window while it sets up: the same one found
        // twice half a second apart is the one.
        Window last = 0;
        while (std::chrono::steady_clock::now() < end) {
            Window found;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                found = search(root_, pid, 0);
            }
            if (found && found == last) return found;
            last = found;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        return 0;
    }

    // Pings the window every 200 ms on a thread of its own and keeps the longest wait for an answer
    // (a ping still unanswered counts with its age).
    void startPings(Window w) {
        window_ = w;
        running_ = true;
        thread_ = std::thread([this] { pingLoop(); });
    }
    void stopPings() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }
    double longestGap() const { return longest_.load(); }
    // How many pings were answered so far. The window layer answers a ping as it takes in events:
    // two answers to pings sent after a moment mean the loop has been round once whole since, and has
    // handled every event the server had for it at that moment.
    int answers() const { return answers_.load(); }

    // What the window shows, read back from the server (0xAARRGGBB, opaque); empty when it cannot be read.
    lumo::gui::Canvas capture(Window w) {
        std::lock_guard<std::mutex> lock(mutex_);
        lumo::gui::Canvas c;
        XWindowAttributes a;
        if (!XGetWindowAttributes(display_, w, &a)) return c;
        XImage* image = XGetImage(display_, w, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
        if (!image) return c;
        c.resize(a.width, a.height);
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x)
                c.pixels[size_t(y) * size_t(a.width) + size_t(x)] = 0xFF000000u | (XGetPixel(image, x, y) & 0xFFFFFFu);
        XDestroyImage(image);
        return c;
    }

private:
    Window search(Window w, pid_t pid, int depth) {
        if (depth > 3) return 0;
        Atom type;
        int format;
        unsigned long n = 0, after;
        unsigned char* data = nullptr;
        if (w != root_ && XGetWindowProperty(display_, w, pidAtom_, 0, 1, False, XA_CARDINAL, &type, &format, &n,
                                             &after, &data) == Success &&
            data) {
            const long value = n ? *reinterpret_cast<long*>(data) : 0;
            XFree(data);
            XWindowAttributes a;
            if (value == pid && XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable) return w;
        }
        Window rootOut, parent, *children = nullptr;
        unsigned int count = 0;
        Window found = 0;
        if (XQueryTree(display_, w, &rootOut, &parent, &children, &count)) {
            for (unsigned int i = 0; i < count && !found; ++i) found = search(children[i], pid, depth + 1);
            if (children) XFree(children);
        }
        return found;
    }

    void pingLoop() {
        using clock = std::chrono::steady_clock;
        long stamp = 1;
        while (running_) {
            const auto sent = clock::now();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                XEvent e{};
                e.xclient.type = ClientMessage;
                e.xclient.window = window_;
                e.xclient.message_type = protocols_;
                e.xclient.format = 32;
                e.xclient.data.l[0] = long(ping_);
                e.xclient.data.l[1] = ++stamp;
                e.xclient.data.l[2] = long(window_);
                XSendEvent(display_, window_, False, NoEventMask, &e);
                XFlush(display_);
            }
            bool answered = false;
            while (running_ && !answered) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    while (XPending(display_)) {
                        XEvent r;
                        XNextEvent(display_, &r);
                        if (r.type == ClientMessage && r.xclient.message_type == protocols_ &&
                            long(r.xclient.data.l[0]) == long(ping_) && r.xclient.data.l[1] == stamp)
                            answered = true;
                    }
                }
                if (answered) ++answers_;
                const double age = std::chrono::duration<double>(clock::now() - sent).count();
                if (age > longest_) longest_ = age;
                if (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }

    Display* display_ = nullptr;
    Window root_ = 0, window_ = 0;
    Atom pidAtom_ = 0, protocols_ = 0, ping_ = 0;
    std::mutex mutex_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<double> longest_{0.0};
    std::atomic<int> answers_{0};
};

}  // namespace apptest
