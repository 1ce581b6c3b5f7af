#pragma once
// Plans and a bare model for the job window's tests.
#include <memory>
#include <string>
#include <vector>

#include "gui/ui_queue.h"
#include "manager/windows/job_window.h"
#include "manager/model/model.h"
#include "tests/manager/parts_support.h"

namespace jobtest {

// A format plan as the row actions make one: "Synth" in VST3 and CLAP, both ticked.
inline tqapp::JobPlan formatPlan(const std::string& verb = "INSTALL") {
    tqapp::JobPlan p;
    p.verb = verb;
    p.title = "SYNTH";
    p.choices = {{"vst3", "VST3", true, "/plugins/VST3", ""}, {"clap", "CLAP", true, "/plugins/CLAP", ""}};
    p.tasks = {{"install", "synth", "vst3"}, {"install", "synth", "clap"}};
    p.jobTitle = "Installing Synth";
    p.doneText = "Synth installed";
    return p;
}

// An app removal with its data offered: the app and its plug-in formats, the two purges.
inline tqapp::JobPlan dataPlan() {
    tqapp::JobPlan p;
    p.verb = "REMOVE";
    p.title = "STUDIO";
    p.removal = true;
    p.choices = {{"studio", "STANDALONE", true, "/Applications", "Studio"}, {"vst3", "VST3", true, "/plugins/VST3", ""}};
    p.tasks = {{"remove", "studio", "app"}, {"remove", "studio", "vst3"}, {"purge", "studio", "machine"},
               {"purge", "studio", "user"}};
    p.jobTitle = "Removing Studio";
    p.doneText = "Studio removed";
    p.offersData = true;
    p.dataLabel = "STUDIO'S DATA";
    p.dataNote = "presets and settings";
    p.dataKept = "your recordings stay";
    return p;
}

// A model that never loads: the tests set its job fields by hand.
struct BareModel {
    std::shared_ptr<lumo::gui::UiQueue> queue = std::make_shared<lumo::gui::UiQueue>();
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    tqapp::Config config;  // named, not a temporary: g++ 12 at -O2 takes a temporary's map for unset
    tqapp::Model model{config, queue, [] {}};

    // Pretends a job runs: the model's fields as a download in progress leaves them.
    void running(const std::string& text, double fraction, bool stoppable) {
        model.busy = true;
        model.stoppable = stoppable;
        model.progressText = text;
        model.fraction = fraction;
        model.cancel = std::make_shared<std::atomic<bool>>(false);
    }
    // Pretends the job of generation g ended.
    void ended(uint32_t g, bool ok, bool cancelled, const std::string& note) {
        model.busy = false;
        model.stoppable = false;
        model.doneGeneration = g;
        model.ok = ok;
        model.cancelled = cancelled;
        model.note = note;
        model.fraction = 1.0;
    }
    std::unique_ptr<tqapp::JobWindow> window(tqapp::JobPlan plan) {
        return std::make_unique<tqapp::JobWindow>(model, std::weak_ptr<bool>(alive), std::move(plan));
    }
};

// The tick boxes of the current table, in the plan's order.
inline std::vector<lumo::gui::Rect> choiceRects(const tqapp::JobWindow& w) {
    std::vector<lumo::gui::Rect> out;
    const tqapp::PartTable<tqapp::JobPartId> table = w.parts();
    for (const auto& part : table.parts())
        if (part.id.kind == tqapp::JobPart::Choice) out.push_back(part.rect);
    return out;
}

}  // namespace jobtest
