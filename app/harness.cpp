#include "app/harness.h"

#include <cstdio>

#include "engine/atomic_write.h"
#include "gui/draw/png_write.h"

namespace tqapp {

void applyEntryOptions(lumo::gui::Editor& editor, const EntryOptions& o) {
    if (o.scale > 0) editor.setScale(o.scale);
    if (o.zoom > 0) editor.setZoom(o.zoom);
    if (o.width > 0) editor.resizeBody(o.width, o.height);
}

void paintOnce(lumo::gui::Editor& editor, lumo::gui::Canvas& canvas) {
    // What the model posted while it started (the harness loads inline) lands before the paint.
    editor.drainPosted();
    canvas.resize(editor.pixelWidth(), editor.pixelHeight());
    editor.paint(canvas);
}

int runHeadless(lumo::gui::Editor& editor, const EntryOptions& o) {
    int status = 0;
    if (!o.screenshot.empty()) {
        lumo::gui::Canvas canvas;
        paintOnce(editor, canvas);
        const std::string png = lumo::gui::encodePng(canvas);
        std::string error = "cannot encode the picture";
        if (png.empty() || !tqm::writeFileAtomic(o.screenshot, png, 0666, false, error)) {
            std::fprintf(stderr, "ardune-manager: %s\n", error.c_str());
            status = 1;
        }
    }
    if (o.dumpTree) {
        editor.drainPosted();
        const std::string tree = editor.treeJson();
        std::fwrite(tree.data(), 1, tree.size(), stdout);
        std::fflush(stdout);
    }
    return status;
}

}  // namespace tqapp
