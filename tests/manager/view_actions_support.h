#pragma once
// The main window with rows made by hand: entries the test owns, format rows from short flag
// texts, and what the row actions left behind (the open job window's plan, the open row menu).
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "gui/list_popup.h"
#include "manager/windows/job_window.h"
#include "tests/manager/view_fixture.h"

namespace testsupport {

class ActionView : public ViewTest {
public:
    void SetUp() override {
        open();
        ASSERT_TRUE(viewLoaded());
    }
    void TearDown() override {
        // A job set up by hand is not running: the model must not wait for it.
        if (view && view->model()) view->model()->busy = false;
    }

    // A catalog entry kept alive by the test.
    tqm::Plugin& entry(const std::string& id, const std::string& name, const std::string& version) {
        tqm::Plugin& p = entries.emplace_back();
        p.id = id;
        p.name = name;
        p.version = version;
        p.packages["app"]["mac"].item = name + ".app";
        return p;
    }

    // A format row from flags: A available, I installed, P present, U update.
    static tqm::FormatRow fmt(const std::string& flags, const std::string& path = "") {
        tqm::FormatRow f;
        f.available = flags.find('A') != std::string::npos;
        f.installed = flags.find('I') != std::string::npos;
        f.present = flags.find('P') != std::string::npos;
        f.update = flags.find('U') != std::string::npos;
        f.path = path;
        return f;
    }

    static tqm::Row make(const std::string& id, const std::string& name, const tqm::Plugin* e, tqm::State state,
                         uint8_t kind, std::map<std::string, tqm::FormatRow> formats, const std::string& version = "") {
        tqm::Row r = row(id, name, state, version, kind);
        r.entry = e;
        r.formats = std::move(formats);
        return r;
    }

    // Puts the rows in the model and selects the first.
    void setRows(std::vector<tqm::Row> rows) {
        view->model()->rows = std::move(rows);
        view->model()->note.clear();
        view->select(view->model()->rows.empty() ? "" : view->model()->rows.front().id);
        view->changed();
    }
    const tqm::Row& rowOf(const std::string& id) const {
        for (const tqm::Row& r : view->model()->rows)
            if (r.id == id) return r;
        static const tqm::Row none;
        return none;
    }

    // The plan of the open job window; null when none opened. closeAll() starts afresh.
    const tqapp::JobPlan* plan() const {
        const tqapp::JobWindow* w = view->openJobWindow();
        return w ? &w->plan : nullptr;
    }
    void closeAll() {
        editor->closeAllOverlays();
        view->model()->note.clear();
    }
    // The open list popup (the row menu), or null.
    lumo::gui::ListPopup* menu() const {
        for (const auto& p : editor->popups())
            if (auto* l = dynamic_cast<lumo::gui::ListPopup*>(p.widget)) return l;
        return nullptr;
    }

    static std::vector<std::string> taskTexts(const tqapp::JobPlan& p) {
        std::vector<std::string> out;
        for (const tqm::Task& t : p.tasks) out.push_back(t.op + " " + t.id + " " + t.format);
        return out;
    }
    // "LABEL" or "LABEL*" when ticked.
    static std::vector<std::string> choiceTexts(const tqapp::JobPlan& p) {
        std::vector<std::string> out;
        for (const tqapp::JobChoice& c : p.choices) out.push_back(c.label + (c.on ? "*" : ""));
        return out;
    }
    // What the last action left, in one line: "VERB | task, task | CHOICE*, CHOICE" for an open
    // plan, else "note: " and the status note.
    std::string opened() const {
        const tqapp::JobPlan* p = plan();
        if (!p) return "note: " + view->model()->note;
        auto join = [](const std::vector<std::string>& v) {
            std::string s;
            for (const std::string& x : v) s += (s.empty() ? "" : ", ") + x;
            return s;
        };
        return p->verb + " | " + join(taskTexts(*p)) + " | " + join(choiceTexts(*p));
    }

    std::deque<tqm::Plugin> entries;
};

}  // namespace testsupport
