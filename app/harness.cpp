#include "app/harness.h"

#include <sys/stat.h>

#include <cerrno>
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

bool screenshotTarget(const std::string& path, std::string& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return true;  // nothing there, or the write says why not
    if (S_ISREG(st.st_mode)) return true;
    error = S_ISDIR(st.st_mode) ? path + " is a folder"
                                : path + " is not a regular file; only a file is replaced by a screenshot";
    return false;
}

int runHeadless(lumo::gui::Editor& editor, const EntryOptions& o) {
    std::string error;
    if (!paintableSize(editor.pixelWidth(), editor.pixelHeight(), error)) {
        std::fprintf(stderr, "ardune-manager: %s\n", error.c_str());
        return 2;
    }
    int status = 0;
    if (!o.screenshot.empty()) {
        lumo::gui::Canvas canvas;
        paintOnce(editor, canvas);
        const std::string png = lumo::gui::encodePng(canvas);
        error = "cannot encode the picture";
        // Written whole beside the target and renamed over it: the old file stays whole when the
        // write fails, and other links to it keep its bytes.
        if (png.empty() || !screenshotTarget(o.screenshot, error) ||
            !tqm::writeFileAtomic(o.screenshot, png, 0666, false, error)) {
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
