#pragma once
// The top-level object of one user interface: it owns the widget tree (body root and optional
// header), the overlay stack, the undo history, the platform window and the UI task queue, and is
// the single entry point for everything the platform layer and the host feed into the interface.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/host.h"
#include "gui/ui_queue.h"
#include "gui/undo.h"
#include "gui/widget.h"

namespace lumo::gui {

struct Place;

// How an overlay is opened (Editor::openPopup). Options marked (w) count only for a window overlay.
// Presses and keys read three of them under other names: a keyboard-modal window is "modal" (presses
// outside it are swallowed), any other window overlay "lets outside presses through" (it stays open
// and the press reaches what lies under it), and an activating window "takes keys" (a press inside
// it makes it the key overlay).
struct PopupOptions {
    bool unzoomed = false;   // display-scale layer: no zoom, no header offset
    bool chained = false;    // opened over the top overlay and closes with it
    int margin = 0;          // logical units around the widget on its popup canvas
    bool fullCanvas = false; // kept only with a margin: the widget also draws over the whole canvas
    bool window = false;     // behaves as a window of its own
    bool keyboardModal = false;  // (w) unhandled keys go no further
    bool floating = false;       // (w) keeps its place on the screen when the host window moves
    CornerStyle cornerStyle = 0;
    int cornerRadius = 0;
    bool activates = false;  // (w) its native window becomes the key window
    int frameWidth = 0;      // (w) above 0 adds a resize frame
    int minWidth = 0;
    int minHeight = 0;
};

class Editor {
public:
    // The default list of display and body scales.
    static constexpr std::array<double, 4> kScales = {1.0, 1.5, 2.0, 3.0};
    // The smallest zoom kept; below it the zoom is this one.
    static constexpr double kSmallestZoom = 0.5;
    // The logical width a custom frame keeps free for the system window buttons.
    static constexpr int kSystemButtonsWidth = 78;

    // Sits around a window overlay and resizes it.
    class PopupFrame : public Widget {
    public:
        bool onMouseDown(const MouseEvent& e) override;
        void onMouseDrag(const MouseEvent& e) override;
        int cursor() const override;

        Widget* target = nullptr;
        bool unzoomed = false;
        int minW = 1;
        int minH = 1;
        int edges = 0;  // being dragged: 1 left, 2 top, 4 right, 8 bottom
        int pressX = 0;  // press point in screen coordinates
        int pressY = 0;
        Rect pressBounds;  // the target's bounds at the press
    };

    struct Overlay {
        std::unique_ptr<Widget> widget;
        bool unzoomed = false;  // display-scale layer: no zoom, no header offset
        bool chained = false;   // closes with the overlay below it
        int margin = 0;
        bool window = false;
        bool keyboardModal = false;
        bool activates = false;
        int cornerRadius = 0;
        bool fullCanvas = false;
        bool floating = false;
        bool originRecorded = false;
        int originX = 0;
        int originY = 0;
        std::unique_ptr<PopupSurface> surface;
        Rect presented{0, 0, -1, 0};  // w is -1 until first shown
        std::unique_ptr<PopupFrame> frame;
        Canvas canvas;  // the popup's own canvas when it has a surface
        double fracX = 0.0;
        double fracY = 0.0;
    };

    // One overlay as callers that track their own popups see it.
    struct PopupInfo {
        Widget* widget = nullptr;
        bool window = false;
        bool keyboardModal = false;
        bool hasSurface = false;
        Rect rect;  // device pixels, as popupRect gives it
    };

    enum class KeySource : int { Window = 0, Host = 1 };

    // Frame statistics, kept when LUMO_FRAMESTATS is set; one line a second on standard output.
    struct FrameStats {
        double windowStart = 0.0;
        int frames = 0;
        int linkTicks = 0;  // Editor::frame calls
        double paintSum = 0.0;
        double paintMax = 0.0;
        double presentSum = 0.0;
        double presentMax = 0.0;
        int partial = 0;

        void add(double paintMs, double presentMs, bool partialPaint);
        void add(double paintMs, double presentMs, bool partialPaint, double at);  // at: now()
    };

    // The application's entries for the system menu bar; read by the platform layer.
    struct SystemMenuBar {
        struct Menu {
            std::string title;
            std::vector<MenuItem> items;
        };
        std::vector<Menu> menus;
        std::function<void(int id)> onPick;
    };

    // Makes an editor current for the length of an entry point and restores the one before.
    class CurrentScope {
    public:
        explicit CurrentScope(Editor& editor);
        ~CurrentScope();
        CurrentScope(const CurrentScope&) = delete;
        CurrentScope& operator=(const CurrentScope&) = delete;

    private:
        Editor* previous_;
        std::weak_ptr<bool> previousAlive_;
    };

    // Asks for a repaint soon after an input entry point, when the editor still exists then.
    class PaintScope {
    public:
        explicit PaintScope(Editor& editor) : editor_(editor), alive_(editor.alive_) {}
        ~PaintScope();
        PaintScope(const PaintScope&) = delete;
        PaintScope& operator=(const PaintScope&) = delete;

    private:
        Editor& editor_;
        std::weak_ptr<bool> alive_;
    };

    Editor(EditorHost& host, int w, int h);
    ~Editor();
    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

    // Callbacks set by the application.
    std::function<void(int w, int h)> onResize;
    std::function<void(const std::vector<std::string>&)> onOpenFiles;
    std::function<void(bool overTarget)> onDrag;
    std::function<bool(const KeyEvent&)> shortcutHook;
    std::function<bool(const KeyEvent&)> keyHook;
    // The window became the key window: a moment to look again at what others changed meanwhile.
    std::function<void()> onWindowActivated;
    // The window is asked to close (its close box, the window manager's, a signal): false keeps it
    // open, and the application closes it itself later (closeStandaloneWindow).
    std::function<bool()> onCloseAsked;

    // ---- current editor
    static Editor* current();
    void makeCurrent();
    void addActivation(std::function<void()> activate, std::function<void()> deactivate);
    // Objects that may outlive the editor keep a weak pointer to this and test whether it expired.
    std::weak_ptr<bool> aliveToken() const { return alive_; }
    static bool isLive(const Editor* editor);

    // ---- window
    bool attach(void* parent);
    void attachWindow(std::unique_ptr<PlatformWindow> window);
    void detach();
    void show(bool on);
    void runStandalone(const char* title);
    PlatformWindow* window() const { return window_.get(); }
    void closeStandaloneWindow();
    void standaloneCloseCancelled();
    static std::function<void()>& standaloneTeardown();

    void setWindowTitle(const std::string& title, bool flag);
    void setCustomFrame(bool on);
    void setWindowOnTop(bool on);
    void setCornerStyle(CornerStyle style);
    static bool customFrameSupported() { return true; }
    static void setSystemButtonsHidden(bool hidden);
    static bool systemButtonsHidden();
    static int systemButtonsWidth();
    uint8_t windowPartAt(int x, int y);
    void minimizeWindow();
    void toggleMaximizeWindow();
    bool windowMaximized() const;
    void toggleFullScreenWindow();
    bool windowFullScreen() const;
    bool windowActive() const;
    // Told by the platform layer when the window becomes the key window; calls onWindowActivated.
    void windowActivated();
    void beginWindowDrag();
    void beginWindowResize();
    void setSystemMenus(SystemMenuBar bar);
    const SystemMenuBar& systemMenus() const { return systemMenus_; }
    void releaseCapture();
    MouseEvent cancelEvent() const;

    bool fileDialog(bool save, const std::string& title, const std::string& extension, const std::string& name,
                    std::string& path);
    bool openDialog(const std::string& title, const std::vector<FileType>& types, bool multiple,
                    std::vector<std::string>& paths);
    bool saveDialog(const std::string& title, const FileType& type, const std::string& name, std::string& path);
    bool openFilesDialog(const std::string& title, const std::string& types,
                         const std::vector<std::string>& extensions, bool multiple, std::vector<std::string>& paths);
    bool folderDialog(const std::string& title, std::string& path);
    int popupMenu(const std::vector<MenuItem>& items, int x, int y);
    void heldModifiers(bool& shift, bool& command, bool& option) const;
    double systemScale() const;
    bool popupsEscape() const;
    bool startFileDrag(const std::vector<std::string>& paths, const DragImage& image, bool move);
    bool startFileDrag(const std::vector<std::string>& paths, const DragImage& image, bool move,
                       std::function<void(const DragResult&)> done);
    void updateFileDrag(const DragImage& image);
    void openFiles(const std::vector<std::string>& paths);

    // ---- size, scale and zoom
    static double snapScale(double v, const std::vector<double>& list);
    static double snapScale(double v);
    void setScale(double v);
    void setZoom(double z);
    void setZoomAndNotify(double z);
    void setBodyScales(std::vector<double> scales);
    void setExactEdges(bool on);
    void setResizable(int minW, int minH, int maxW, int maxH);
    void clampBody(int& w, int& h) const;
    // Narrows a body size asked for by the program to what the usable area of the window's display
    // holds (never below the minimum); unchanged while the window cannot tell.
    void fitScreen(int& w, int& h) const;
    void applyBodySize(int w, int h);
    // Within the limits and, for a resizable body, the screen (fitScreen).
    bool resizeBody(int w, int h);
    void resizeLogical(int w, int h);
    void adjustHostSize(int& w, int& h) const;
    bool setHostSize(int w, int h);
    void refitToHost();
    void setHeader(std::unique_ptr<Widget> header, int height);
    Rect headerToRoot(Rect r) const;
    void resetRoot(int w, int h);
    void applySizeLimits();

    double scale() const { return scale_; }
    double zoom() const { return zoom_; }
    const std::vector<double>& bodyScales() const { return bodyScales_; }
    double bodyScale() const;  // snapScale(scale x zoom, body scales)
    bool exactEdges() const { return exactEdges_; }
    bool resizable() const { return resizable_; }
    int minWidth() const { return minW_; }
    int minHeight() const { return minH_; }
    int maxWidth() const { return maxW_; }
    int maxHeight() const { return maxH_; }
    int logicalWidth() const { return width_; }
    int logicalHeight() const { return height_; }
    int hostWidth() const { return hostW_; }
    int hostHeight() const { return hostH_; }
    int headerHeight() const { return headerHeight_; }
    int headerPixelHeight() const;
    int pixelWidth() const;
    int pixelHeight() const;
    // The window's smallest size in device pixels were it drawn at display scale `scale` (and zoom
    // `zoom`, else the editor's): the body's minimum (its only size when it is not resizable)
    // under the header.
    void smallestPixelSize(double scale, int& w, int& h) const { smallestPixelSize(scale, zoom_, w, h); }
    void smallestPixelSize(double scale, double zoom, int& w, int& h) const;
    int pointWidth() const;
    int pointHeight() const;

    // ---- tree, focus and the widgets the editor points at
    EditorHost& host() const { return host_; }
    UndoHistory& undo() { return undo_; }
    RootWidget* root() const { return root_.get(); }
    Widget* header() const { return header_.get(); }
    Widget* focus() const { return focus_; }
    Widget* hover() const { return hover_; }
    Widget* capture() const { return capture_; }
    Widget* dropTarget() const { return dropTarget_; }
    Widget* keyOverlay() const { return keyOverlay_; }
    void setFocus(Widget* w);
    // A widget being destroyed: every pointer to it is dropped, no handler called.
    void forgetWidget(const Widget* w);

    // ---- overlays
    void openPopup(std::unique_ptr<Widget> w, const PopupOptions& options);
    void pushOverlay(std::unique_ptr<Widget> w, bool unzoomed);
    void setOverlay(std::unique_ptr<Widget> w, bool unzoomed);
    void closeOverlay();
    void closeAllOverlays();
    void closeOverlayAt(size_t index);
    void closeOverlayChain();
    void closeOverlayChainAt(size_t index);
    void closeOverlaysAbove(const Widget* w);
    void closePopup(const Widget* w);
    void closePopupAlone(const Widget* w);
    void closeAllPopups();
    void dismissPopups();
    bool hostMoved(bool noMove);
    void raisePopup(const Widget* w);
    void raiseOverlayAt(size_t index);
    void movePopup(Widget* w, int x, int y);
    void movePopupWindows();
    void retireSurfaces();
    const std::vector<Overlay>& overlays() const { return overlays_; }
    std::vector<PopupInfo> popups() const;
    int overlayIndexOf(const Widget* w) const;  // by the widget's root ancestor; -1 for none
    bool isOverlay(const Widget* w) const { return overlayIndexOf(w) >= 0; }
    void noteKeyWindow(const Widget* w);
    void keysFrom(const PopupSurface* surface);
    bool inKeyWindow(const Widget* w) const;
    size_t keyTop() const;  // n: overlay n - 1 takes the keys; 0 for none
    Rect popupRect(const Overlay& o) const;
    bool overlayContains(const Overlay& o, int x, int y) const;
    Rect popupArea(Rect anchor, bool unzoomed) const;
    Widget* pick(int x, int y, Point& local);

    // ---- keys and focus
    bool keyEvent(const KeyEvent& e);
    bool keyUp(const KeyEvent& e);
    bool wantsShortcuts() const;
    bool capturingKeys() const;
    bool deliverKey(KeySource source, const KeyEvent& e, bool press, const std::function<bool()>& handler);
    bool hostKeyDown(const KeyEvent& e);
    bool hostKeyUp(const KeyEvent& e);
    bool focusTakesKeys = false;   // a focused widget takes every key
    bool clickClaimsKeys = false;  // a press in the editor makes it claim keys
    bool keysClaimed = false;      // cleared by the platform layer when the window stops being key

    // ---- mouse, scroll, magnify and drops
    void mouseDown(int x, int y, int button, bool shift, bool command, bool option, bool doubleClick);
    void mouseMove(int x, int y, bool shift, bool command, bool option);
    void mouseUp(int x, int y, int button);
    void mouseWheel(int x, int y, float steps, bool shift, bool command);
    bool scroll(int x, int y, ScrollEvent& e);
    bool magnify(int x, int y, MagnifyEvent& e);
    void mouseLeave();
    int cursorAt(int x, int y);
    const CursorImage* customCursorAt(int x, int y, double& scale);
    bool dragOver(int x, int y, const std::vector<std::string>& paths, bool shift, bool command, bool option);
    void dragLeave();
    bool drop(int x, int y, const std::vector<std::string>& paths, bool shift, bool command, bool option);
    Widget* dropTargetAt(int x, int y, const std::vector<std::string>& paths, bool shift, bool command, bool option,
                         DropEvent& event);
    void setDropTarget(Widget* w);
    Point localFor(const Widget* w, int x, int y) const;
    void preciseFor(const Widget* w, int x, int y, float& fx, float& fy) const;
    MouseEvent makeEvent(Point local, int x, int y, int button, bool shift, bool command, bool option,
                         bool doubleClick, const Widget* w) const;
    double takeEventTime();
    // Written by the platform layer before it calls an entry point.
    void setPendingEventTime(double t) { pendingEventTime_ = t; }
    void setDragSource(int32_t ops, int32_t info) {
        dragSourceOps_ = ops;
        dragSourceInfo_ = info;
    }
    bool dropAnswer() const { return dropAnswer_; }

    // ---- painting
    void paint(Canvas& canvas);
    void paintPartial(Canvas& canvas);
    void paintPopup(Overlay& o);
    void drawWidget(Widget& w, Canvas& canvas, Rect origin, double factor, Rect clip);
    void drawWidgetAt(Widget& w, Canvas& canvas, Rect parentDevice, Point parentLogical, Point base, double factor,
                      Rect clip);
    const std::vector<Rect>& painted() const { return painted_; }
    bool lastPaintPartial() const { return lastPaintPartial_; }
    uint64_t paintCount() const { return paintCount_; }

    // ---- tree dump and lookup
    Widget* findByName(const std::string& path, int* count = nullptr, Rect* rect = nullptr) const;
    std::string treeJson() const;

    // ---- repaint bookkeeping
    void repaintAll() { fullRepaint_ = true; }
    bool fullRepaintPending() const { return fullRepaint_; }
    const std::vector<Rect>& dirtyRects() const { return dirty_; }
    void requestRepaintArea(Rect r);
    Rect deviceRect(const Widget* w, Rect r) const;
    std::pair<double, int> spaceOf(const Widget* w) const;  // factor and y offset of w's tree

    // ---- ticks, frames and the UI queue
    static double now();
    const std::shared_ptr<UiQueue>& uiQueue() const { return queue_; }
    void drainPosted();
    void armWake(bool on);
    void tick();
    void frame(double t);
    void requestFrame();
    void paintSoon();
    void invalidateWindow();
    bool framesRunning() const { return framesRunning_; }
    bool caretPhase() const { return caretPhase_; }
    FrameStats& frameStats() { return frameStats_; }
    static bool frameStatsOn();  // LUMO_FRAMESTATS, read once per process

private:
    // A widget pointer that becomes null when the widget is destroyed, for handlers that may destroy
    // what they run in. Safe to leave after the editor itself was destroyed.
    class Watch {
    public:
        Watch(Editor& editor, Widget* w);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;
        Widget* get() const { return w_; }
        void set(Widget* w) { w_ = w; }

    private:
        Editor& editor_;
        std::weak_ptr<bool> alive_;
        Widget* w_;
    };

    struct KeyRecord {
        bool valid = false;
        KeySource source = KeySource::Window;
        Key key = Key::None;
        uint32_t character = 0;
        bool command = false;
        bool press = false;
        bool result = false;
        double time = 0.0;
    };

    void resized();
    int overlayOfRoot(const Widget* root) const;
    void destroyRetired();
    void closeFrom(size_t lowest);
    void closeWidgets(const std::vector<const Widget*>& widgets);
    bool inLiveTree(const Widget* w) const;
    Widget* effectiveFocus() const;
    void takePointer(int x, int y);  // the event time and the last pointer position
    template <class Offer>
    bool bubble(Widget* start, Offer&& offer, Widget** by = nullptr);
    void drawPlaced(Widget& w, Canvas& canvas, const Place& parent, double factor, Rect clip);
    void drawHitMap(Canvas& canvas);
    static void tickAll(Widget* w, const std::weak_ptr<bool>& alive);
    static void frameAll(Widget* w, double t, const std::weak_ptr<bool>& alive);

    // size limits
    bool resizable_ = false;
    int minW_ = 1;
    int minH_ = 1;
    int maxW_ = 0;
    int maxH_ = 0;

    EditorHost& host_;
    UndoHistory undo_;
    std::unique_ptr<RootWidget> root_;
    std::unique_ptr<Widget> header_;
    int headerHeight_ = 0;
    int width_ = 0;
    int height_ = 0;
    int hostW_ = 0;
    int hostH_ = 0;
    double scale_ = 1.0;
    double zoom_ = 1.0;
    std::vector<double> bodyScales_{kScales.begin(), kScales.end()};

    // paint state
    bool fullRepaint_ = true;
    std::vector<Rect> dirty_;
    const Canvas* lastCanvas_ = nullptr;  // only compared
    std::vector<Rect> painted_;
    bool lastPaintPartial_ = false;
    bool exactEdges_ = false;
    uint64_t paintCount_ = 0;

    // frames, timing and input state
    bool frameWanted_ = false;
    bool framesRunning_ = false;
    double lastFrameRequest_ = 0.0;
    uint32_t caretCounter_ = 0;
    bool caretPhase_ = false;
    int lastX_ = 0;
    int lastY_ = 0;
    double pendingEventTime_ = 0.0;
    double lastEventTime_ = 0.0;  // the event being dispatched, 0 until the first
    FrameStats frameStats_;
    int32_t dragSourceOps_ = 7;
    int32_t dragSourceInfo_ = 0;
    bool dropAnswer_ = false;

    std::unique_ptr<PlatformWindow> window_;

    Widget* capture_ = nullptr;
    Widget* hover_ = nullptr;
    Widget* focus_ = nullptr;
    Widget* keyOverlay_ = nullptr;
    bool blurring_ = false;
    Widget* dropTarget_ = nullptr;

    std::vector<Overlay> overlays_;
    std::vector<std::unique_ptr<Widget>> retired_;  // widgets of closed overlays
    std::vector<std::unique_ptr<PopupSurface>> retiringSurfaces_;

    std::vector<std::pair<std::function<void()>, std::function<void()>>> activations_;
    KeyRecord keyDownRecord_;
    KeyRecord keyUpRecord_;
    std::vector<Watch*> watches_;

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::shared_ptr<UiQueue> queue_ = std::make_shared<UiQueue>();

    std::string title_;
    bool titleFlag_ = false;
    bool customFrame_ = false;
    bool onTop_ = false;
    CornerStyle cornerStyle_ = 0;
    SystemMenuBar systemMenus_;
    std::vector<std::string> pendingFiles_;
};

}  // namespace lumo::gui
