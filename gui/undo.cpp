#include "gui/undo.h"

#include <algorithm>

#include "gui/host.h"

namespace lumo::gui {

namespace {

// NaN on either side counts as a difference.
bool differs(double a, double b) { return !(a == b); }

}  // namespace

UndoHistory::UndoHistory(EditorHost& host) : host_(host), generation_(host.session().generation) {}

std::vector<double> UndoHistory::snapshot() const {
    const auto& params = host_.def().params;
    std::vector<double> values;
    values.reserve(params.size());
    for (const ParamDef& p : params)
        values.push_back((p.flags & kParamNoUndoSnapshot) ? 0.0 : host_.getValue(p.id));
    return values;
}

void UndoHistory::sync() {
    uint32_t g = host_.session().generation;
    if (g == generation_) return;
    generation_ = g;
    steps_.clear();
    position_ = 0;
    if (depth_ >= 1) baseline_ = snapshot();
}

void UndoHistory::begin() {
    sync();
    if (depth_++ == 0) baseline_ = snapshot();
}

void UndoHistory::commit() {
    sync();
    if (depth_ == 0) return;
    if (--depth_ != 0) return;
    std::vector<double> current = snapshot();
    const auto& params = host_.def().params;
    Step step;
    size_t n = std::min(current.size(), baseline_.size());
    for (size_t i = 0; i < n && i < params.size(); ++i) {
        if (params[i].flags & (kParamNoUndoSnapshot | kParamNoUndoStep)) continue;
        if (differs(current[i], baseline_[i])) step.push_back({i, baseline_[i], current[i]});
    }
    if (step.empty()) return;
    steps_.resize(position_);
    steps_.push_back(std::move(step));
    position_ = steps_.size();
    if (steps_.size() > kMaxSteps) {
        steps_.erase(steps_.begin());
        position_ = steps_.size();
    }
}

void UndoHistory::put(const Step& step, bool after) {
    const auto& params = host_.def().params;
    for (const Change& c : step) {
        if (c.index >= params.size()) continue;
        unsigned id = params[c.index].id;
        double v = after ? c.after : c.before;
        if (differs(host_.getValue(id), v)) {
            host_.beginEdit(id);
            host_.performEdit(id, v);
            host_.endEdit(id);
        }
    }
}

void UndoHistory::undo() {
    sync();
    if (position_ == 0 || generation_ != host_.session().generation) return;
    --position_;
    Step step = steps_[position_];  // the host's edit calls may reach back into the history
    put(step, false);
}

void UndoHistory::redo() {
    sync();
    if (position_ == steps_.size() || generation_ != host_.session().generation) return;
    Step step = steps_[position_++];
    put(step, true);
}

void UndoHistory::apply(const std::vector<double>& values) {
    const auto& params = host_.def().params;
    for (size_t i = 0; i < values.size() && i < params.size(); ++i) {
        if (params[i].flags & kParamNoUndoSnapshot) continue;
        unsigned id = params[i].id;
        if (differs(host_.getValue(id), values[i])) {
            host_.beginEdit(id);
            host_.performEdit(id, values[i]);
            host_.endEdit(id);
        }
    }
}

UndoStep::UndoStep(UndoHistory* history) : history_(history) {}

UndoStep::~UndoStep() {
    if (history_) history_->commit();
}

}  // namespace lumo::gui
