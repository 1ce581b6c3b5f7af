#pragma once
// The main window on a fuller signed catalog: twelve plug-ins in VST3, CLAP and AU mixes, two apps
// and a newer manager, loaded inline (harness mode), with a platform window that counts what the
// window buttons ask of it.
#include <cmath>
#include <string>
#include <vector>

#include "gui/host.h"
#include "tests/manager/view_fixture.h"

namespace testsupport {

// Counts the window-button requests the editor passes on.
class CountingWindow : public lumo::gui::HeadlessWindow {
public:
    explicit CountingWindow(int* closes, int* minimises) : closes_(closes), minimises_(minimises) {}
    void closeTopLevel() override { ++*closes_; }
    void minimizeWindow() override { ++*minimises_; }

private:
    int* closes_;
    int* minimises_;
};

class WindowTest : public ViewTest {
protected:
    // Twelve plug-ins (each with a one-colour row picture at 1x and 2x) and two apps; the manager's
    // latest version is newer than this program, so the status line offers the update.
    std::string fullCatalog() {
        static const char* const kNames[] = {"Aurora", "Bass Station", "Chorus Nine", "Drift", "Echo Tape",
                                             "Filter Bank", "Granular", "Hall Reverb", "Ink Delay",
                                             "Juno Pad", "Kick Designer", "Limiter Pro"};
        static const char* const kFormats[][3] = {{"vst3", "clap", "au"}, {"vst3", nullptr, nullptr},
                                                  {"vst3", "clap", nullptr}, {"clap", "au", nullptr}};
        std::string plugins;
        for (int i = 0; i < 12; ++i) {
            const std::string name = kNames[i];
            std::string id;
            for (char c : name)
                if (c != ' ') id += char(std::tolower(static_cast<unsigned char>(c)));
            const std::string v = "1." + std::to_string(i) + ".0";
            std::string packages;
            for (const char* f : kFormats[i % 4]) {
                if (!f) continue;
                const std::string item = name + "." + f;
                if (!packages.empty()) packages += ", ";
                packages += "\"" + std::string(f) + "\": {\"mac\": " +
                            catalog.file("plugins/" + id + "-" + v + "." + f + ".zip",
                                         JobCatalog::pluginZip(item, std::string(f) + " " + v), item) +
                            "}";
            }
            const uint32_t colour = 0xFF000000u | uint32_t(0x203040 + i * 0x0A0806);
            if (!plugins.empty()) plugins += ", ";
            plugins += "{\"id\": \"" + id + "\", \"name\": \"" + name + "\", \"version\": \"" + v +
                       "\", \"description\": \"" + name + " for the studio: a short text that wraps over lines.\"" +
                       ", \"packages\": {" + packages + "}, \"art\": {\"row\": {\"1x\": " +
                       picture("art/" + id + "-row.png", 68, 12, colour) + ", \"2x\": " +
                       picture("art/" + id + "-row@2x.png", 136, 24, colour) + "}}}";
        }
        std::string apps;
        for (const char* name : {"Studio", "Librarian"}) {
            const std::string n = name, item = n + ".app";
            if (!apps.empty()) apps += ", ";
            apps += "{\"id\": \"" + upperless(n) + "\", \"name\": \"" + n +
                    "\", \"version\": \"2.0.0\", \"uninstall_key\": \"" + n + "\", \"packages\": {\"mac\": " +
                    catalog.file("apps/" + n + "-2.0.0.zip", JobCatalog::appZip(item, n, n + " 2.0.0"), item, n) +
                    "}}";
        }
        const std::string manager =
            "\"manager\": {\"latest\": \"9.0.0\", \"packages\": {\"mac\": " +
            catalog.file("manager/Manager-9.0.0.zip", JobCatalog::appZip("Manager.app", "manager", "manager 9"),
                         "Manager.app") +
            "}}";
        return "{\"schema\": 1, \"sequence\": 3, " + manager + ", \"plugins\": [" + plugins + "], \"apps\": [" +
               apps + "]}";
    }

    static std::string upperless(std::string s) {
        for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }

    // The window on the full catalog in a look ("tq" the skin look, anything else the pixel look),
    // with the counting platform window attached; `made` stands in for the plain view when given.
    tqapp::ManagerView& openFull(const std::string& lookWord = "", std::unique_ptr<tqapp::ManagerView> made = nullptr) {
        if (!published) {
            catalog.publish(fullCatalog());
            published = true;
        }
        std::vector<std::string> words = {"--steps"};
        if (!lookWord.empty()) words.insert(words.end(), {"--look", lookWord});
        open(words, true, std::move(made));
        closes = minimises = 0;
        editor->attachWindow(std::make_unique<CountingWindow>(&closes, &minimises));
        // The first load of a root offers the newer manager; the tests start from a window without it.
        if (lumo::gui::Widget* offer = view->openJobWindow()) editor->closePopup(offer);
        return *view;
    }

    // A press and a release through the editor, in the view's units (the editor's are zoomed).
    int zoomed(int v) const { return int(std::ceil(v * editor->zoom() - 1e-9)); }
    void press(int x, int y) {
        later();
        editor->mouseDown(zoomed(x), zoomed(y), lumo::gui::kButtonLeft, false, false, false, false);
    }
    void release(int x, int y) { editor->mouseUp(zoomed(x), zoomed(y), lumo::gui::kButtonLeft); }
    void drag(int x, int y) { editor->mouseMove(zoomed(x), zoomed(y), false, false, false); }
    void clickAt(int x, int y) {
        press(x, y);
        release(x, y);
    }

    // The rectangle of a hit name, empty when the list has no such name.
    lumo::gui::Rect rectOf(const std::string& name) const {
        for (const auto& [n, r] : testsupport::hitRects(*view))
            if (n == name) return r;
        return {};
    }
    static int cx(const lumo::gui::Rect& r) { return r.x + r.w / 2; }
    static int cy(const lumo::gui::Rect& r) { return r.y + r.h / 2; }

    bool published = false;
    int closes = 0;
    int minimises = 0;
};

}  // namespace testsupport
