#pragma once
// The manager's plug-in definition and the standalone host that runs its editor: no parameters,
// no audio; the host owns the top-level window and answers resize requests itself.
#include "gui/editor.h"
#include "gui/host.h"
#include "gui/plugin_def.h"

namespace tqapp {

// The manager as the framework sees it: a plug-in with no parameters and an editor of its own.
const lumo::PluginDef& managerDef();

class StandaloneHost : public lumo::gui::EditorHost {
public:
    const lumo::PluginDef& def() const override { return managerDef(); }
    double getValue(unsigned) const override { return 0.0; }
    void beginEdit(unsigned) override {}
    void performEdit(unsigned, double) override {}
    void endEdit(unsigned) override {}
    bool isStandalone() const override { return true; }
    // The window follows the editor's size; without a window (headless) the size is the editor's alone.
    bool requestResize(int w, int h) override;

    lumo::gui::Editor* editor = nullptr;  // set once the editor exists
};

}  // namespace tqapp
