// The platform window's factory and its default dialog operations.
#include "gui/host.h"

namespace lumo::gui {

namespace {

PlatformWindow::Factory& factory() {
    static PlatformWindow::Factory f;
    return f;
}

}  // namespace

std::unique_ptr<PlatformWindow> PlatformWindow::create(Editor& editor) {
    if (Factory& f = factory()) {
        if (std::unique_ptr<PlatformWindow> w = f(editor)) return w;
    }
    return std::make_unique<HeadlessWindow>();
}

PlatformWindow::Factory PlatformWindow::setFactory(Factory f) {
    Factory old = std::move(factory());
    factory() = std::move(f);
    return old;
}

bool PlatformWindow::openDialog(const std::string& title, const std::vector<FileType>& types, bool multiple,
                                std::vector<std::string>& paths) {
    std::vector<std::string> extensions;
    for (const FileType& t : types) extensions.insert(extensions.end(), t.extensions.begin(), t.extensions.end());
    return openFilesDialog(title, std::string(), extensions, multiple, paths);
}

bool PlatformWindow::saveDialog(const std::string& title, const FileType& type, const std::string& name,
                                std::string& path) {
    return fileDialog(true, title, type.extensions.empty() ? std::string() : type.extensions.front(), name, path);
}

}  // namespace lumo::gui
