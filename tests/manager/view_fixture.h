#pragma once
// The manager's main window in a headless editor: the command line is the test's own, the
// catalog is the model fixture's signed one (in a folder or behind the loopback server), and
// posted closures are run by the test in place of the editor's tick.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gui/editor.h"
#include "manager/model/model.h"
#include "manager/view/view.h"
#include "platform/platform.h"
#include "tests/manager/model_fixture.h"

namespace testsupport {

// The main window's part table as (printed name, rectangle) pairs, in the table's order.
inline std::vector<std::pair<std::string, lumo::gui::Rect>> hitRects(const tqapp::ManagerView& view) {
    std::vector<std::pair<std::string, lumo::gui::Rect>> out;
    const tqapp::MainParts table = view.parts();
    for (const tqapp::Part<tqapp::MainId>& p : table.parts()) out.emplace_back(tqapp::partName(p.id), p.rect);
    return out;
}

// The printed name of a hovered or pressed part; empty for none.
inline std::string nameOf(const std::optional<tqapp::MainId>& id) { return id ? tqapp::partName(*id) : std::string(); }

class ViewHost : public lumo::gui::EditorHost {
public:
    const lumo::PluginDef& def() const override { return definition; }
    double getValue(unsigned) const override { return 0.0; }
    void beginEdit(unsigned) override {}
    void performEdit(unsigned, double) override {}
    void endEdit(unsigned) override {}
    bool isStandalone() const override { return true; }
    // The window's size follows the editor's requests when set (a host that owns its window).
    bool requestResize(int, int) override { return acceptsResize; }

    lumo::PluginDef definition;
    bool acceptsResize = false;
};

class ViewTest : public ModelTest {
protected:
    ~ViewTest() override {
        close();
        storeArgs({});
    }

    // The words every run gets: a private root and the test's catalog.
    std::vector<std::string> baseArgs() const {
        return {"manager", "--root", path("root"), "--source", source.empty() ? catalog.source() : source,
                "--pub", catalog.publicKeyHex()};
    }

    // Opens the window with these words after the base ones.
    // A view made by the test (a subclass) stands in for the plain one when given.
    tqapp::ManagerView& open(std::vector<std::string> more = {}, bool withBase = true,
                             std::unique_ptr<tqapp::ManagerView> made = nullptr) {
        std::vector<std::string> words = withBase ? baseArgs() : std::vector<std::string>{"manager"};
        words.insert(words.end(), more.begin(), more.end());
        storeArgs(words);
        close();
        host = std::make_unique<ViewHost>();  // a fresh session: no size left from the last window
        editor = made ? tqapp::createManagerEditor(*host, std::move(made)) : tqapp::createManagerEditor(*host);
        view = dynamic_cast<tqapp::ManagerView*>(editor->root()->children.at(0).get());
        return *view;
    }

    // The program's command line: the first word is the program's name.
    static void storeArgs(const std::vector<std::string>& words) {
        std::vector<const char*> argv;
        for (const std::string& w : words) argv.push_back(w.c_str());
        lumo::storeStandaloneArgs(int(argv.size()), argv.data());
    }

    // Closes the window once its catalog load has ended, the pictures fetched after the rows
    // included: no worker outlives the test's folders, its server or the process.
    void close() {
        if (view && view->model())
            pumpWhile([this] { return view->model()->loading || view->model()->fetchingPictures; });
        view = nullptr;
        editor.reset();
    }

    // Runs the editor's posted closures until the catalog load was applied.
    bool viewLoaded() {
        return pumpWhile([this] { return view->model()->loading; });
    }
    // Runs the editor's posted closures while busy() holds; false when it still does after ten seconds.
    bool pumpWhile(const std::function<bool()>& busy) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (busy()) {
            for (auto& task : editor->uiQueue()->take()) task();
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    // One frame of the window: the editor's tick (posted closures, widget ticks) and a paint, which
    // also destroys the popups closed since the last one.
    void frame() {
        editor->tick();
        editor->paint(canvas);
    }
    // Frames until done() holds; false after fifteen seconds.
    bool frameUntil(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        for (;;) {
            frame();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    // The next press comes a second after now and after the press before, as a user's does after
    // what opened last: a popup takes no press in the first moment after its opening, and two
    // presses on one place are no double click.
    void later() {
        lastPress_ = std::max(lastPress_, lumo::gui::Editor::now()) + 1.0;
        editor->setPendingEventTime(lastPress_);
    }
    double lastPress_ = 0;

    // The display list as ids, "APPS" and "PLUGINS".
    std::vector<std::string> shown() const {
        std::vector<std::string> out;
        for (int32_t i : view->displayList())
            out.push_back(i == tqapp::ManagerView::kAppsHeader      ? "APPS"
                          : i == tqapp::ManagerView::kPluginsHeader ? "PLUGINS"
                                                                    : view->model()->rows[size_t(i)].id);
        return out;
    }

    // The user-data folder of the private root.
    std::string userData() const { return path("root") + "/data"; }

    std::unique_ptr<ViewHost> host;
    std::string source;  // the catalog source when not the folder
    std::unique_ptr<lumo::gui::Editor> editor;
    tqapp::ManagerView* view = nullptr;
    lumo::gui::Canvas canvas;  // what frame paints into
};

// A plain row for list tests.
inline tqm::Row row(const std::string& id, const std::string& name, tqm::State state = tqm::State::Absent,
                    const std::string& version = "", uint8_t kind = 0) {
    tqm::Row r;
    r.id = id;
    r.name = name;
    r.state = state;
    r.version = version;
    r.kind = kind;
    return r;
}

// A rectangle as "(x, y, w, h)", for comparisons that print well when they fail.
inline std::string str(const lumo::gui::Rect& r) {
    return "(" + std::to_string(r.x) + ", " + std::to_string(r.y) + ", " + std::to_string(r.w) + ", " +
           std::to_string(r.h) + ")";
}

// Pointer offsets far outside the main window, one towards each corner.
inline constexpr std::pair<int, int> kFarAway[] = {{-5000, -5000}, {5000, 5000}, {-5000, 5000}, {5000, -5000}};

// A popup's bar lies inside the editor's window, with at least 40 units of it across: it can be taken again.
inline bool barInReach(const lumo::gui::Editor& editor, const lumo::gui::Rect& b, int barHeight) {
    return b.y >= 0 && b.y + barHeight <= editor.logicalHeight() && b.x + b.w >= 40 && b.x <= editor.logicalWidth() - 40;
}

}  // namespace testsupport
