// The manager's program: the elevated helper's entry (linked in with the engine) has already run
// before main when the command line asked for it. Here the command line is stored, the data
// folder override applied, and the manager's editor made; then either one headless paint or
// tree dump, or the standalone window until the user closes it.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/harness.h"
#include "app/host.h"
#include "app/options.h"
#include "manager/view/view.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    lumo::storeStandaloneArgs(argc, argv);
    if (std::string dir = lumo::standaloneArgValue("--data-dir"); !dir.empty()) lumo::setDataFolderOverride(dir);
    tqapp::EntryOptions options;
    std::string error;
    if (!tqapp::readEntryOptions(options, error)) {
        std::fprintf(stderr, "ardune-manager: %s\n", error.c_str());
        return 2;
    }
    // The window layer reads the display scale from GDK_SCALE.
    if (options.scale > 0 && !options.headless()) setenv("GDK_SCALE", lumo::standaloneArgValue("--scale").c_str(), 1);

    tqapp::StandaloneHost host;
    std::unique_ptr<lumo::gui::Editor> editor = tqapp::createManagerEditor(host);
    host.editor = editor.get();
    if (options.headless()) {
        tqapp::applyEntryOptions(*editor, options);
        return tqapp::runHeadless(*editor, options);
    }
    tqapp::EntryOptions sized = options;
    sized.scale = 0;  // the window's own
    tqapp::applyEntryOptions(*editor, sized);

    bool tornDown = false;
    lumo::gui::Editor::standaloneTeardown() = [&] {
        tornDown = true;
        host.editor = nullptr;
        editor.reset();
    };
    editor->runStandalone("Ardune Systems Manager");
    lumo::gui::Editor::standaloneTeardown() = nullptr;
    if (!tornDown) {
        std::fprintf(stderr,
                     "ardune-manager: no display to open a window on; --screenshot FILE paints the window "
                     "into a picture without one\n");
        return 1;
    }
    return 0;
}
