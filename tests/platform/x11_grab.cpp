#include "x11_grab.h"

#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace wintest {

namespace {

bool x11Of(SDL_Window* window, SDL_SysWMinfo& info) {
    SDL_VERSION(&info.version);
    return window && SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11;
}

int shiftOf(unsigned long mask) {
    int s = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++s;
    }
    return s;
}

// A rectangle of a drawable as opaque 0xFFRRGGBB pixels; empty when it cannot be read.
lumo::gui::Bitmap grab(::Display* d, ::Drawable w, int left, int top, int width, int height) {
    lumo::gui::Bitmap out;
    XImage* img = XGetImage(d, w, left, top, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    if (!img) return out;
    out.w = width;
    out.h = height;
    out.pixels.resize(size_t(out.w) * size_t(out.h));
    int rs = shiftOf(img->red_mask), gs = shiftOf(img->green_mask), bs = shiftOf(img->blue_mask);
    for (int y = 0; y < out.h; ++y) {
        for (int x = 0; x < out.w; ++x) {
            unsigned long p = XGetPixel(img, x, y);
            uint32_t r = uint32_t((p & img->red_mask) >> rs), g = uint32_t((p & img->green_mask) >> gs),
                     b = uint32_t((p & img->blue_mask) >> bs);
            out.pixels[size_t(y) * size_t(out.w) + size_t(x)] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
    XDestroyImage(img);
    return out;
}

}  // namespace

lumo::gui::Bitmap grabWindow(SDL_Window* window) {
    SDL_SysWMinfo info;
    if (!x11Of(window, info)) return {};
    ::Display* d = info.info.x11.display;
    ::Window w = info.info.x11.window;
    XSync(d, False);
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, w, &a) || a.map_state != IsViewable) return {};
    return grab(d, w, 0, 0, a.width, a.height);
}

lumo::gui::Bitmap grabScreen(SDL_Window* window, int x, int y, int w, int h) {
    SDL_SysWMinfo info;
    if (!x11Of(window, info)) return {};
    ::Display* d = info.info.x11.display;
    XSync(d, False);
    return grab(d, DefaultRootWindow(d), x, y, w, h);
}

std::function<void()> serverSync(SDL_Window* window) {
    SDL_SysWMinfo info;
    if (!x11Of(window, info)) return [] {};
    return [d = info.info.x11.display] { XSync(d, False); };
}

std::function<void()> failingRequest(SDL_Window* window, unsigned long goneWindow) {
    SDL_SysWMinfo info;
    if (!x11Of(window, info)) return [] {};
    return [d = info.info.x11.display, goneWindow] {
        if (goneWindow)
            XMapWindow(d, goneWindow);
        else
            XFreePixmap(d, XAllocID(d));
        XSync(d, False);
    };
}

unsigned long x11WindowId(SDL_Window* window) {
    SDL_SysWMinfo info;
    return x11Of(window, info) ? static_cast<unsigned long>(info.info.x11.window) : 0ul;
}

std::string x11DisplayName(SDL_Window* window) {
    SDL_SysWMinfo info;
    return x11Of(window, info) ? std::string(DisplayString(info.info.x11.display)) : std::string();
}

unsigned long nextRequestOf(SDL_Window* window) {
    SDL_SysWMinfo info;
    return x11Of(window, info) ? NextRequest(info.info.x11.display) : 0ul;
}

}  // namespace wintest
