// A small program to see the window layer at work: a panel with a label and a pad that counts
// clicks, shows the horizontal resize cursor, opens a window overlay and follows the wheel.
// lumo-window-demo [--scale S]: S sets the display scale (as GDK_SCALE does).
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "gui/editor.h"
#include "platform/platform.h"

namespace {

using namespace lumo::gui;

class DemoHost : public EditorHost {
public:
    const lumo::PluginDef& def() const override { return def_; }
    double getValue(unsigned) const override { return 0.0; }
    void beginEdit(unsigned) override {}
    void performEdit(unsigned, double) override {}
    void endEdit(unsigned) override {}
    bool isStandalone() const override { return true; }

private:
    lumo::PluginDef def_;
};

class Pad : public Widget {
public:
    void draw(const Paint& p) override {
        p.canvas.fillRect(p.rect, hot ? theme()[7] : theme()[6]);
        int factor = 1;
        const Font& font = Font::forScale(p.scale, factor);
        std::string text = "clicks " + std::to_string(clicks) + "  wheel " + std::to_string(wheel);
        p.canvas.drawText(p.rect.x + int(8 * p.scale), p.rect.y + int(8 * p.scale), text.c_str(), theme()[3], font,
                          factor);
    }
    bool onMouseDown(const MouseEvent& e) override {
        ++clicks;
        repaint();
        if (e.button == kButtonRight && editor) {
            auto note = std::make_unique<Panel>();
            note->fill = theme()[5];
            note->border = theme()[3];
            note->bounds = Rect{int(e.windowX / editor->bodyScale()), int(e.windowY / editor->bodyScale()), 120, 60};
            PopupOptions o;
            o.window = true;
            editor->openPopup(std::move(note), o);
        }
        return true;
    }
    bool onMouseWheel(const MouseEvent& e) override {
        wheel += int(e.wheelSteps);
        repaint();
        return true;
    }
    void onMouseEnter() override { hot = true, repaint(); }
    void onMouseLeave() override { hot = false, repaint(); }
    int cursor() const override { return 4; }

    int clicks = 0;
    int wheel = 0;
    bool hot = false;
};

}  // namespace

int main(int argc, char** argv) {
    lumo::storeStandaloneArgs(argc, argv);
    if (std::string s = lumo::standaloneArgValue("--scale"); !s.empty()) setenv("GDK_SCALE", s.c_str(), 1);
    DemoHost host;
    auto editor = std::make_unique<Editor>(host, 360, 200);
    auto label = std::make_unique<Label>();
    label->text = "lumo window layer: click, right-click, wheel, Escape";
    label->bounds = Rect{12, 10, 336, 20};
    editor->root()->add(std::move(label));
    auto pad = std::make_unique<Pad>();
    pad->bounds = Rect{12, 40, 336, 148};
    editor->root()->add(std::move(pad));
    editor->keyHook = [&editor](const KeyEvent& e) {
        if (e.key == Key::Escape) editor->closeStandaloneWindow();
        return e.key == Key::Escape;
    };
    Editor::standaloneTeardown() = [&editor] { editor.reset(); };
    editor->runStandalone("lumo window demo");
    Editor::standaloneTeardown() = nullptr;
    if (editor) {
        std::fprintf(stderr, "lumo-window-demo: no display to open a window on\n");
        return 1;
    }
    return 0;
}
