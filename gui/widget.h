#pragma once
// The retained widget tree: the Widget base with its virtual operations, the input records handed
// to widgets, the three small built-in widgets and the default theme.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/draw/canvas.h"

namespace lumo::gui {

class Editor;
struct CursorImage;

struct Point {
    int32_t x = 0;
    int32_t y = 0;
};

// Key codes; 0 marks a character event.
enum class Key : int32_t {
    None = 0,
    Enter = 1,
    Escape = 2,
    Backspace = 3,
    Delete = 4,
    Left = 5,
    Right = 6,
    Home = 7,
    End = 8,
    Tab = 9,
    Up = 10,
    Down = 11,
    PageUp = 12,
    PageDown = 13,
    Space = 14,
    F1 = 15,
    F2,
    F3,
    F4,
    F5,
    F6,
    F7,
    F8,
    F9,
    F10,
    F11,
    F12 = 26,
};

// A key press or release; with command set it is a shortcut.
struct KeyEvent {
    Key key = Key::None;
    uint32_t character = 0;  // Unicode code point, 0 for none
    bool shift = false;
    bool command = false;
    bool option = false;
};

constexpr int kUnknownPos = -32768;

enum MouseButton : int { kButtonLeft = 0, kButtonRight = 1 };

// Scroll and magnify phases.
enum Phase : int {
    kPhaseNone = 0,
    kPhaseMayBegin = 1,
    kPhaseBegan = 2,
    kPhaseChanged = 3,
    kPhaseEnded = 4,
    kPhaseCancelled = 5,
};

// Where and when a pointer event happened; shared by the mouse, scroll and magnify records.
struct EventPosition {
    int x = kUnknownPos;  // local to the receiving widget
    int y = kUnknownPos;
    int windowX = 0;
    int windowY = 0;
    int screenX = 0;
    int screenY = 0;
    float fineX = float(kUnknownPos);
    float fineY = float(kUnknownPos);
    double time = 0.0;  // seconds on the editor clock
};

struct MouseEvent : EventPosition {
    int button = kButtonLeft;
    bool shift = false;
    bool command = false;
    bool option = false;
    bool doubleClick = false;
    float wheelSteps = 0.0f;
};

struct ScrollEvent : EventPosition {
    float deltaX = 0.0f;  // device pixels
    float deltaY = 0.0f;
    float stepsX = 0.0f;  // wheel steps
    float stepsY = 0.0f;
    bool precise = false;  // from a trackpad
    int phase = kPhaseNone;
    int momentumPhase = kPhaseNone;
    bool shift = false;
    bool command = false;
    bool option = false;
};

struct MagnifyEvent : EventPosition {
    float factor = 1.0f;  // 1.0 = no change
    int phase = kPhaseNone;
    bool shift = false;
    bool command = false;
    bool option = false;
};

// A file drag over the editor.
struct DropEvent {
    int x = kUnknownPos;
    int y = kUnknownPos;
    std::vector<std::string> paths;
    bool shift = false;
    bool command = false;
    bool option = false;
    int32_t sourceOps = 7;  // what the drag source allows (written by the platform layer)
    int32_t sourceInfo = 0;
    bool preferMove = false;  // the target's move preference, false before each offer
};

// What a widget reports about itself for the automation tree.
struct WidgetInfo {
    struct Part {
        std::string label;
        Rect rect;  // relative to the widget
        bool enabled = true;
        bool checked = false;
    };
    std::string value;
    int64_t param = -1;  // parameter id the widget edits, -1 for none
    std::vector<Part> parts;
};

// What Widget::draw gets: the target canvas and where the widget lands on it.
struct Paint {
    Canvas& canvas;
    Rect rect;             // the widget's rectangle in device pixels
    double scale = 1.0;    // device pixels per logical unit
    bool exact = false;    // edges rounded from absolute logical positions
    Point logical;         // sum of the bounds origins of the widget and its ancestors
    Point base;            // canvas position of the tree's logical (0, 0)
};

class Widget {
public:
    Widget() = default;
    virtual ~Widget();
    Widget(const Widget&) = delete;
    Widget& operator=(const Widget&) = delete;

    // Virtual operations; their order is shared by every subclass in the system.
    virtual void describe(WidgetInfo&) const {}
    virtual Rect childClip() const { return {}; }  // empty: children are not clipped
    virtual bool opaque() const { return false; }
    virtual void draw(const Paint&) {}
    virtual void tick() {}
    virtual void onFrame(double) {}
    virtual bool onMouseDown(const MouseEvent&) { return false; }
    virtual void onMouseDrag(const MouseEvent&) {}
    virtual void onMouseUp(const MouseEvent&) {}
    virtual bool onMouseWheel(const MouseEvent&) { return false; }
    virtual bool onScroll(const ScrollEvent&) { return false; }
    virtual bool onMagnify(const MagnifyEvent&) { return false; }
    virtual void onMouseEnter() {}
    virtual void onMouseLeave() {}
    virtual void onMouseMove(const MouseEvent&) {}
    virtual void onBoundsChanged() {}
    virtual bool wantsFocus() const { return false; }
    virtual void onFocus() {}
    virtual void onBlur() {}
    virtual bool onKey(const KeyEvent&) { return false; }
    virtual bool onKeyUp(const KeyEvent&) { return false; }
    virtual bool wantsShortcuts() const { return false; }
    virtual bool takingText() const { return false; }
    virtual bool wantsMouse() const { return true; }
    virtual bool hitsAt(int, int) const { return true; }
    virtual int cursor() const { return 0; }
    virtual const CursorImage* customCursor() const { return nullptr; }
    virtual bool onDragOver(const DropEvent&) { return false; }
    virtual void onDragLeave() {}
    virtual bool onDrop(const DropEvent&) { return false; }

    // Tree operations.
    Widget* add(std::unique_ptr<Widget> child);
    template <class T>
    T* add(std::unique_ptr<T> child) {
        T* raw = child.get();
        add(std::unique_ptr<Widget>(std::move(child)));
        return raw;
    }
    // Makes a child of type T from the arguments and adds it on top.
    template <class T, class... Args>
    T* make(Args&&... args) {
        return add(std::make_unique<T>(std::forward<Args>(args)...));
    }
    std::unique_ptr<Widget> remove(Widget* child);  // empty when not a child
    void setEditor(Editor* e);                       // for the whole subtree

    void repaint();
    void repaintArea();
    void repaintArea(Rect local);
    void requestFrame();
    bool focused() const;
    Rect absoluteBounds() const;
    Widget* hitTest(int x, int y);  // deepest descendant under a local point; never this widget
    void undoStep(const std::function<void()>& f);

    Rect bounds;  // relative to the parent, logical units
    bool visible = true;
    bool enabled = true;
    std::string tooltip;
    std::string name;         // automation name
    uint8_t windowPart = 0;   // 0 nothing, 1 a caption
    std::vector<std::unique_ptr<Widget>> children;  // drawn first to last, hit last to first
    Widget* parent = nullptr;
    Editor* editor = nullptr;
    uint64_t repaints = 0;
};

// Window parts a widget can be to the platform window.
constexpr uint8_t kWindowPartNone = 0;
constexpr uint8_t kWindowPartCaption = 1;

class Label : public Widget {
public:
    void describe(WidgetInfo& info) const override;
    void draw(const Paint& p) override;
    bool wantsMouse() const override { return false; }

    std::string text;  // ASCII
    Color color = 0xFFE6E6E6u;
    uint8_t align = 0;  // 1 right, anything else left
};

class Panel : public Widget {
public:
    void draw(const Paint& p) override;
    bool wantsMouse() const override { return false; }

    Color fill = 0;
    Color border = 0;
};

// The body root every editor makes.
class RootWidget : public Widget {
public:
    void draw(const Paint& p) override;
    bool wantsMouse() const override { return false; }
};

// The nine default colours; the first is the background.
const std::array<Color, 9>& theme();

}  // namespace lumo::gui
