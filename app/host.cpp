#include "app/host.h"

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

bool StandaloneHost::requestResize(int, int) {
    if (!editor) return false;
    if (lumo::gui::PlatformWindow* w = editor->window()) w->resize(editor->pixelWidth(), editor->pixelHeight());
    return true;
}

}  // namespace tqapp
