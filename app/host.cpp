#include "app/host.h"

#include <memory>

#include "manager/model/config.h"

namespace tqapp {

const lumo::PluginDef& managerDef() {
    static const lumo::PluginDef def = [] {
        lumo::PluginDef d;
        d.id = "systems.ardune.manager";
        d.name = "Ardune Systems Manager";
        d.maker = "Ardune Systems";
        d.version = kVersion;
        return d;
    }();
    return def;
}

bool displayReachable() {
    StandaloneHost host;
    lumo::gui::Editor probe(host, 1, 1);
    const std::unique_ptr<lumo::gui::PlatformWindow> window = lumo::gui::PlatformWindow::create(probe);
    return !dynamic_cast<lumo::gui::HeadlessWindow*>(window.get());
}

bool StandaloneHost::requestResize(int, int) {
    if (!editor) return false;
    if (lumo::gui::PlatformWindow* w = editor->window()) w->resize(editor->pixelWidth(), editor->pixelHeight());
    return true;
}

}  // namespace tqapp
