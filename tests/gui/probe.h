#pragma once
// A widget that writes every event it receives into a shared log, with optional behaviour per
// handler, and a popup surface that keeps what it was asked to show.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakes.h"

namespace probe {

using namespace lumo::gui;
using Log = std::shared_ptr<std::vector<std::string>>;

inline Log newLog() { return std::make_shared<std::vector<std::string>>(); }

class Probe : public Widget {
public:
    Probe(Log log, std::string id, Rect b = {}) : log_(std::move(log)), id_(std::move(id)) { bounds = b; }

    bool onMouseDown(const MouseEvent& e) override {
        note("down " + pos(e.x, e.y));
        return press ? press(e) : takesPress;
    }
    void onMouseDrag(const MouseEvent& e) override { note("drag " + pos(e.x, e.y)); }
    void onMouseUp(const MouseEvent& e) override { note("up " + pos(e.x, e.y)); }
    bool onMouseWheel(const MouseEvent& e) override {
        note("wheel " + pos(e.x, e.y));
        return takesWheel;
    }
    bool onScroll(const ScrollEvent& e) override {
        note("scroll " + pos(e.x, e.y));
        return takesWheel;
    }
    bool onMagnify(const MagnifyEvent& e) override {
        note("magnify " + pos(e.x, e.y));
        return takesWheel;
    }
    void onMouseEnter() override { note("enter"); }
    void onMouseLeave() override { note("leave"); }
    void onMouseMove(const MouseEvent& e) override { note("move " + pos(e.x, e.y)); }
    bool wantsFocus() const override { return focusable; }
    void onFocus() override { note("focus"); }
    void onBlur() override {
        note("blur");
        if (blur) blur();
    }
    bool onKey(const KeyEvent& e) override {
        note("key " + std::to_string(int(e.key)) + ":" + std::to_string(e.character));
        return key ? key(e) : takesKeys;
    }
    bool onKeyUp(const KeyEvent&) override {
        note("keyup");
        return takesKeys;
    }
    bool wantsShortcuts() const override { return shortcuts; }
    bool wantsMouse() const override { return mouse; }
    bool opaque() const override { return isOpaque; }
    int cursor() const override { return cursorShape; }
    bool onDragOver(const DropEvent& e) override {
        note("over " + pos(e.x, e.y));
        return acceptsDrop;
    }
    void onDragLeave() override { note("dragleave"); }
    bool onDrop(const DropEvent& e) override {
        note("drop " + std::to_string(e.paths.size()));
        return acceptsDrop;
    }
    void draw(const Paint& p) override {
        ++draws;
        if (fill) p.canvas.fillRect(p.rect, fill);
    }

    std::function<bool(const MouseEvent&)> press;
    std::function<bool(const KeyEvent&)> key;
    std::function<void()> blur;
    bool takesPress = true;
    bool takesWheel = false;
    bool takesKeys = false;
    bool focusable = false;
    bool shortcuts = false;
    bool mouse = true;
    bool isOpaque = false;
    bool acceptsDrop = false;
    int cursorShape = 0;
    Color fill = 0;
    int draws = 0;

private:
    static std::string pos(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }
    void note(const std::string& what) { log_->push_back(id_ + " " + what); }

    Log log_;
    std::string id_;
};

template <class... Args>
Probe* addProbe(Widget* parent, Args&&... args) {
    return parent->add(std::make_unique<Probe>(std::forward<Args>(args)...));
}

// Keeps the last canvas and position a popup was shown with.
class ShowingSurface : public fakes::Surface {
public:
    using fakes::Surface::Surface;
    void present(const Canvas& c, int x, int y) override {
        shown = c;
        at = Point{x, y};
        ++presents;
    }
    bool moveTo(int x, int y) override {
        at = Point{x, y};
        return movable;
    }
    void raise() override { ++raises; }

    Canvas shown;
    Point at;
    int presents = 0;
    int raises = 0;
    bool movable = true;
};

// A window whose popups are ShowingSurfaces; the last one made is kept for the test.
class PopupWindow : public fakes::Window {
public:
    using fakes::Window::Window;
    std::unique_ptr<PopupSurface> createPopup() override {
        auto s = std::make_unique<ShowingSurface>(log);
        last = s.get();
        return s;
    }
    void screenOrigin(int& x, int& y) const override {
        x = originX;
        y = originY;
    }
    bool startFrames() override {
        ++starts;
        return frames;
    }
    void stopFrames() override { ++stops; }
    void invalidate() override { ++invalidations; }
    void invalidateRect(Rect) override { ++rectInvalidations; }
    bool hasPopups() const override { return popupsEscape; }

    fakes::Log log = fakes::newLog();
    ShowingSurface* last = nullptr;
    int originX = 0;
    int originY = 0;
    int starts = 0;
    int stops = 0;
    int invalidations = 0;
    int rectInvalidations = 0;
    bool popupsEscape = true;
};

inline PopupWindow* attachPopupWindow(Editor& e) {
    auto w = std::make_unique<PopupWindow>(fakes::newLog());
    PopupWindow* raw = w.get();
    e.attachWindow(std::move(w));
    return raw;
}

inline int count(const Log& log, const std::string& entry) {
    int n = 0;
    for (const auto& s : *log) n += s == entry;
    return n;
}

}  // namespace probe
