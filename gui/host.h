#pragma once
// The three interfaces through which an editor reaches the world: the embedding host, the platform
// window back end and a native popup surface. Implementations override the slots they support.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/device_control.h"
#include "gui/draw/canvas.h"
#include "gui/menu_item.h"
#include "gui/plugin_def.h"

namespace lumo::gui {

class Editor;

// Rounded-corner style of a native window; 0 is the platform's default, other values are the
// platform layer's own.
using CornerStyle = int32_t;

struct FileType {
    std::string name;
    std::vector<std::string> extensions;
};

// The picture shown under the pointer while files are dragged out of the window.
struct DragImage {
    Bitmap image;
    int hotX = 0;
    int hotY = 0;
};

// How a file drag out of the window ended.
struct DragResult {
    bool dropped = false;
    int operation = 0;
};

class EditorHost {
public:
    // Outlives editors: the host keeps it while editors come and go.
    struct Session {
        std::vector<double> slotA;
        std::vector<double> slotB;
        uint32_t activeSlot = 0;
        std::string presetName;
        std::string presetPath;
        uint32_t generation = 0;  // raised when the parameter state is replaced wholesale
        int width = 0;            // the editor's last logical body size
        int height = 0;
    };

    virtual ~EditorHost() = default;
    virtual Session& session() { return session_; }
    virtual const PluginDef& def() const = 0;
    virtual double getValue(unsigned id) const = 0;
    virtual void beginEdit(unsigned id) = 0;
    virtual void performEdit(unsigned id, double value) = 0;
    virtual void endEdit(unsigned id) = 0;
    virtual bool showHostContextMenu(unsigned, int, int) { return false; }
    // A size in points; true when the host resized its window. A host refuses unless it overrides
    // this: a standalone host that owns its window answers for itself.
    virtual bool requestResize(int, int) { return false; }
    virtual float meter(int, int) const { return 0.0f; }
    virtual void nextMeterFrame() {}
    virtual int scope(int, float*, int) const { return 0; }
    virtual std::shared_ptr<void> sharedObject() const { return {}; }
    virtual bool isStandalone() const { return false; }
    virtual audio::DeviceControl* audioDevices() { return nullptr; }

private:
    Session session_;
};

// A native borderless window that shows one popup overlay.
class PopupSurface {
public:
    virtual ~PopupSurface() = default;
    virtual void present(const Canvas& canvas, int x, int y) = 0;  // top-left at a window point
    virtual void hide() = 0;
    virtual void raise() = 0;
    virtual void setCorners(CornerStyle) = 0;
    virtual void setActivates(bool) = 0;
    virtual void takeKeyboard() = 0;
    virtual bool moveTo(int, int) { return false; }
};

// The window back end of one editor. Sizes are device pixels unless said otherwise.
class PlatformWindow {
public:
    using Factory = std::function<std::unique_ptr<PlatformWindow>(Editor&)>;

    // Builds the back end for an editor and opens nothing; never null. Without a platform window
    // layer installed (setFactory) this is a headless window that cannot open.
    static std::unique_ptr<PlatformWindow> create(Editor& editor);
    // Installs the window layer's factory; returns the previous one.
    static Factory setFactory(Factory factory);

    virtual ~PlatformWindow() = default;
    virtual bool attach(void* parent, int w, int h) = 0;
    virtual bool openTopLevel(const char* title, int w, int h) = 0;
    virtual void runMessageLoop() = 0;
    virtual void setTitle(const std::string& title, bool flag) = 0;
    virtual void closeTopLevel() = 0;
    virtual void closeCancelled() = 0;
    virtual void setCustomFrame(bool) = 0;
    virtual void minimizeWindow() = 0;
    virtual void toggleMaximizeWindow() = 0;
    virtual bool windowMaximized() const = 0;
    virtual void toggleFullScreenWindow() = 0;
    virtual bool windowFullScreen() const = 0;
    virtual bool windowActive() const = 0;
    virtual void systemMenusChanged() = 0;
    virtual void setWindowOnTop(bool) = 0;
    virtual void setCornerStyle(CornerStyle) {}
    virtual void beginWindowDrag() = 0;
    virtual void beginWindowResize() {}
    virtual void close() = 0;
    virtual void show(bool) = 0;
    virtual void resize(int w, int h) = 0;
    // Limits in points (device pixels / display scale); 0 for no maximum.
    virtual void setSizeLimits(bool resizable, int minW, int minH, int maxW, int maxH) = 0;
    virtual void invalidate() = 0;
    virtual void invalidateRect(Rect r) = 0;
    virtual bool startFrames() = 0;
    virtual void stopFrames() = 0;
    // Called from any thread to bring the next tick forward.
    virtual bool postWake() { return false; }
    virtual double systemScale() const = 0;
    virtual int popupMenu(const std::vector<MenuItem>& items, int x, int y) = 0;
    virtual void screenOrigin(int& x, int& y) const = 0;
    virtual bool fileDialog(bool save, const std::string& title, const std::string& extension,
                            const std::string& name, std::string& path) = 0;
    virtual bool openFilesDialog(const std::string& title, const std::string& types,
                                 const std::vector<std::string>& extensions, bool multiple,
                                 std::vector<std::string>& paths) = 0;
    virtual bool folderDialog(const std::string& title, std::string& path) = 0;
    virtual bool openDialog(const std::string& title, const std::vector<FileType>& types, bool multiple,
                            std::vector<std::string>& paths);
    virtual bool saveDialog(const std::string& title, const FileType& type, const std::string& name,
                            std::string& path);
    virtual void* nativeHandle() const = 0;
    virtual bool hasPopups() const = 0;
    virtual std::unique_ptr<PopupSurface> createPopup() = 0;
    virtual bool workArea(int x, int y, Rect& area) const = 0;
    // The usable area (less panels and docks) of the display the window is on, or opens on while it
    // is not open yet, in device pixels; false when unknown.
    virtual bool usableArea(Rect&) const { return false; }
    virtual void heldModifiers(bool& shift, bool& command, bool& option) const = 0;
    virtual void startFileDrag(const std::vector<std::string>& paths, const DragImage& image, bool move) = 0;
    virtual void startFileDrag(const std::vector<std::string>& paths, const DragImage& image, bool move,
                               std::function<void(const DragResult&)> done) = 0;
    virtual void updateFileDrag(const DragImage& image) = 0;
};

// A window that opens nothing: what create gives while no window layer is installed.
class HeadlessWindow : public PlatformWindow {
public:
    bool attach(void*, int, int) override { return false; }
    bool openTopLevel(const char*, int, int) override { return false; }
    void runMessageLoop() override {}
    void setTitle(const std::string&, bool) override {}
    void closeTopLevel() override {}
    void closeCancelled() override {}
    void setCustomFrame(bool) override {}
    void minimizeWindow() override {}
    void toggleMaximizeWindow() override {}
    bool windowMaximized() const override { return false; }
    void toggleFullScreenWindow() override {}
    bool windowFullScreen() const override { return false; }
    bool windowActive() const override { return false; }
    void systemMenusChanged() override {}
    void setWindowOnTop(bool) override {}
    void beginWindowDrag() override {}
    void close() override {}
    void show(bool) override {}
    void resize(int, int) override {}
    void setSizeLimits(bool, int, int, int, int) override {}
    void invalidate() override {}
    void invalidateRect(Rect) override {}
    bool startFrames() override { return false; }
    void stopFrames() override {}
    double systemScale() const override { return 1.0; }
    int popupMenu(const std::vector<MenuItem>&, int, int) override { return -1; }
    void screenOrigin(int& x, int& y) const override { x = y = 0; }
    bool fileDialog(bool, const std::string&, const std::string&, const std::string&, std::string&) override {
        return false;
    }
    bool openFilesDialog(const std::string&, const std::string&, const std::vector<std::string>&, bool,
                         std::vector<std::string>&) override {
        return false;
    }
    bool folderDialog(const std::string&, std::string&) override { return false; }
    void* nativeHandle() const override { return nullptr; }
    bool hasPopups() const override { return false; }
    std::unique_ptr<PopupSurface> createPopup() override { return nullptr; }
    bool workArea(int, int, Rect&) const override { return false; }
    void heldModifiers(bool& shift, bool& command, bool& option) const override {
        shift = command = option = false;
    }
    void startFileDrag(const std::vector<std::string>&, const DragImage&, bool) override {}
    void startFileDrag(const std::vector<std::string>&, const DragImage&, bool,
                       std::function<void(const DragResult&)>) override {}
    void updateFileDrag(const DragImage&) override {}
};

}  // namespace lumo::gui
