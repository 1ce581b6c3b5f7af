// The job window's behaviour: which tasks the ticks select, the buttons of each state, hit names,
// clicks, and the clock that follows the model's job.
#include "manager/windows/job_window.h"

#include <algorithm>
#include <cmath>

#include "gui/editor.h"
#include "manager/pixel_look/primitives.h"
#include "manager/model/model.h"
#include "manager/view/view.h"

namespace tqapp {

namespace {

constexpr char kOneJob[] = "One job at a time: wait for the other one to finish";

bool inside(int x, int y, lumo::gui::Rect r) { return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h; }

bool userPurge(const tqm::Task& t) { return t.op == "purge" && t.format == "user"; }

// "A", "A and B", "A, B and C".
std::string joinNames(const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += i + 1 == names.size() ? " and " : ", ";
        out += names[i];
    }
    return out;
}

std::string tickedLabels(const JobPlan& plan) {
    std::string out;
    for (const JobChoice& c : plan.choices)
        if (c.on) out += (out.empty() ? "" : ", ") + c.label;
    return out;
}

}  // namespace

JobStart jobStart(const JobPlan& plan) {
    JobStart s;
    s.tasks = plan.tickedTasks();
    if (s.tasks.empty()) return s;
    s.dataDeleted = std::any_of(s.tasks.begin(), s.tasks.end(), userPurge);
    const std::string suffix = s.dataDeleted ? ", its data deleted" : "";
    if (plan.appChoices && !plan.titleVerb.empty()) {
        std::vector<std::string> names;
        for (const JobChoice& c : plan.choices)
            if (c.on) names.push_back(c.name.empty() ? c.label : c.name);
        s.title = plan.titleVerb + " " + joinNames(names);
        s.doneText = joinNames(names) + " " + plan.doneVerb + suffix;
    } else if (plan.selfUpdate || plan.selfInstall || plan.selfRemoval) {
        s.title = plan.jobTitle;
        s.doneText = plan.doneText;
    } else {
        // A plan without ticks has no list to put in parentheses.
        const std::string labels = tickedLabels(plan);
        const std::string which = labels.empty() ? "" : " (" + labels + ")";
        s.title = plan.jobTitle + which;
        s.doneText = plan.doneText + which + suffix;
    }
    return s;
}

JobWindow::JobWindow(Model& m, std::weak_ptr<bool> aliveToken, JobPlan p)
    : model(m), alive(std::move(aliveToken)), plan(std::move(p)) {
    name = "job";
    bounds = {0, 0, kWidth, height(plan)};
}

JobWindow::~JobWindow() {
    if (onClosed && !alive.expired()) onClosed();
}

int JobWindow::height(const JobPlan& plan) { return plan.offersData || plan.selfInstall ? 318 : 292; }

bool JobWindow::stoppable() const {
    const Model* m = liveModel();
    return m && m->busy && m->stoppable && m->cancel;
}

std::vector<JobWindow::Button> JobWindow::buttons() const {
    std::vector<Button> out;
    auto add = [&](const char* id, std::string label) { out.push_back({id, std::move(label), {}, true}); };
    switch (state) {
        case Choose:
            add("go", plan.verb);
            add("cancel", plan.selfUpdate ? "LATER" : plan.selfInstall ? "NOT NOW" : "CANCEL");
            break;
        case Running:
            add("stop", "CANCEL");
            add("hide", "HIDE");
            break;
        case Done:
            if (plan.selfUpdate) {
                add("restart", "RESTART");
                add("close", "LATER");
            } else if (plan.selfInstall) {
                add("finish", "OPEN");
                add("close", "LATER");
            } else if (plan.selfRemoval) {
                add("finish", "CLOSE");
            } else {
                if (!plan.removal && firstOn()) add("open", "OPEN FOLDER");
                add("close", "CLOSE");
            }
            break;
        case Failed:
            add("retry", "RETRY");
            add("close", "CLOSE");
            break;
        default:
            add("go", plan.verb);
            add("close", "CLOSE");
            break;
    }
    const int n = int(out.size());
    const int w = (208 - 6 * n) / n;
    const int y = extraRow() ? 294 : 268;
    for (int i = 0; i < n; ++i) {
        Button& b = out[size_t(i)];
        const int x = 8 + i * (w + 6);
        b.rect = {x, y, n > 1 && i == n - 1 ? 210 - x : w, 16};
        if (b.id == "go" || b.id == "retry") b.enabled = anyOn();
        if (b.id == "stop") b.enabled = stoppable();
    }
    return out;
}

const JobChoice* JobWindow::firstOn() const {
    for (const JobChoice& c : plan.choices)
        if (c.on) return &c;
    return nullptr;
}

bool JobWindow::anyOn() const { return plan.choices.empty() || plan.selfInstall || plan.selfRemoval || firstOn(); }

bool JobWindow::anyOnOf(const std::string& id) const {
    return std::any_of(plan.choices.begin(), plan.choices.end(), [&](const JobChoice& c) { return c.on && c.id == id; });
}

std::string JobWindow::formatsText() const { return tickedLabels(plan); }

std::vector<lumo::gui::Rect> JobWindow::choiceRects(const lumo::gui::Paint* paint) const {
    const double scale = paint ? paint->scale : paintedScale;
    const lumo::gui::BitmapFont* bold = dev::font(scale, true, false);
    std::vector<lumo::gui::Rect> out;
    // The row's inside ends one unit short of its outline's right side. A choice reaching past it is
    // cut there (its label then ends in "..."), and one with no room left for its box is empty:
    // nothing answers the pointer where nothing is seen.
    constexpr int kRowEnd = 8 + 202 - 1;
    int x = 12;
    for (const JobChoice& c : plan.choices) {
        const int w = bold ? int(std::ceil(bold->width(c.label) / scale)) + 13 : 37;
        const int room = std::min(w + 2, kRowEnd - x);
        out.push_back({x, 176, room < 9 ? 0 : room, 14});
        x += w + 12;
    }
    return out;
}

std::string JobWindow::hit(int x, int y) const {
    if (inside(x, y, kClose)) return "x";
    const bool choosing = state == Choose || state == Failed || state == Cancelled;
    if (choosing) {
        const std::vector<lumo::gui::Rect> rects = choiceRects();
        for (size_t i = 0; i < rects.size(); ++i)
            if (inside(x, y, rects[i])) return "fmt:" + plan.choices[i].id;
    }
    if (state == Choose && plan.offersData && inside(x, y, {12, 202, 194, 14})) return "data";
    if (state == Choose && plan.selfInstall) {
        if (inside(x, y, {12, 202, 80, 14})) return "scope:user";
        if (inside(x, y, {100, 202, 100, 14})) return "scope:system";
    }
    for (const Button& b : buttons())
        if (inside(x, y, b.rect)) return b.enabled ? b.id : std::string();
    return {};
}

std::string JobWindow::statusText() const {
    switch (state) {
        case Choose: {
            if (plan.selfInstall)
                return plan.scope == tqm::Scope::User ? "FOR ME: NO ADMIN PROMPTS" : "ALL USERS: AN ADMIN PROMPT A JOB";
            const bool someTick = plan.choices.empty() || plan.selfRemoval || firstOn();
            if (plan.offersData && someTick) {
                if (plan.deleteData)
                    return "DELETES ITS " + upper(plan.dataNote) + (plan.dataKept.empty() ? "" : ". " + upper(plan.dataKept));
                return "KEEPS ITS " + upper(plan.dataNote) + " FOR A LATER INSTALL";
            }
            if (!someTick) return plan.appChoices ? "TICK AN APP" : "TICK A FORMAT";
            return "READY";
        }
        case Running: {
            const Model* m = liveModel();
            return !m || m->progressText.empty() ? "WORKING" : upper(m->progressText);
        }
        case Done:
            if (plan.selfUpdate) return "READY: RESTART TO USE IT";
            if (plan.selfRemoval) return "REMOVED: CLOSE TO FINISH";
            return upper(plan.doneText);
        case Failed: return error.empty() ? "FAILED" : upper(error);
        default: return "CANCELLED";
    }
}

void JobWindow::go() {
    Model* m = liveModel();
    if (!m) return;
    if (m->busy) {
        error = kOneJob;
        state = Failed;
        return;
    }
    if (plan.selfInstall && onScope) onScope(plan.scope);
    JobStart s = jobStart(plan);
    if (s.tasks.empty()) return;
    plan.dataDeleted = s.dataDeleted;
    if (plan.appChoices && !plan.titleVerb.empty()) {
        plan.jobTitle = s.title;
        plan.doneText = s.doneText;
    }
    m->run(std::move(s.tasks), std::move(s.title), std::move(s.doneText));
    generation = m->jobGeneration;
    error.clear();
    state = Running;
    if (onStarted) onStarted(plan);
}

void JobWindow::press(const std::string& hitName) {
    if (hitName.rfind("fmt:", 0) == 0) {
        const std::string id = hitName.substr(4);
        for (JobChoice& c : plan.choices)
            if (c.id == id) c.on = !c.on;
    } else if (hitName == "data") {
        plan.deleteData = !plan.deleteData;
    } else if (hitName == "scope:user" || hitName == "scope:system") {
        plan.scope = hitName == "scope:user" ? tqm::Scope::User : tqm::Scope::System;
    } else if (hitName == "go" || hitName == "retry") {
        go();
    } else if (hitName == "stop") {
        if (stoppable()) liveModel()->cancel->exchange(true);
    } else if (hitName == "open") {
        if (onOpenFolder && firstOn()) onOpenFolder(firstOn()->where);
    } else if (hitName == "restart") {
        if (onRestart && liveModel()) onRestart();  // both reach into the view: only while it lives
        return;
    } else if (hitName == "finish") {
        if (onFinish && liveModel()) onFinish();
        return;
    } else if (hitName == "x" || hitName == "cancel" || hitName == "close" || hitName == "hide") {
        if (editor) editor->closePopup(this);
        return;
    }
    repaint();
}

void JobWindow::tick() {
    const Model* m = liveModel();
    if (state == Running && m && m->doneGeneration == generation) {
        if (m->ok) {
            state = Done;
            flash = 1.0;
        } else if (!m->cancelled) {
            state = Failed;
            error = m->note;
        } else {
            state = Cancelled;
        }
    }
    phase += state == Running ? 0.06 : state == Failed ? 0.0 : 1.0 / 30;
    flash = std::max(0.0, flash - 1.0 / 36);
    clock += 1.0 / 30;
    if (std::string now = statusText(); now != lastStatus) {
        lastStatus = std::move(now);
        statusSince = clock;
    }
    double target = progress;
    if (state == Choose)
        target = 0;
    else if (state == Done)
        target = 1.0;
    else if (state == Running && m)
        target = m->fraction;
    progress = std::abs(target - progress) < 0.002 ? target : progress + (target - progress) * 0.18;
    repaint();
}

bool JobWindow::onMouseDown(const lumo::gui::MouseEvent& e) {
    pressed = hit(e.x, e.y);
    if (e.y < kBarHeight && pressed.empty()) {
        dragging = true;
        dragStart[0] = e.x;
        dragStart[1] = e.y;
    }
    repaint();
    return true;
}

void JobWindow::onMouseDrag(const lumo::gui::MouseEvent& e) {
    if (dragging) {
        // The bar stays inside the main window: dragged as far as the pointer goes, the window can
        // still be taken back.
        if (!editor) return;
        const int x = std::max(kGrip - bounds.w, std::min(e.x + bounds.x - dragStart[0], editor->logicalWidth() - kGrip));
        const int y = std::max(0, std::min(e.y + bounds.y - dragStart[1], editor->logicalHeight() - kBarHeight));
        editor->movePopup(this, x, y);
        return;
    }
    std::string h = hit(e.x, e.y);
    if (h != pressed) h.clear();
    if (h == hover) return;
    hover = std::move(h);
    repaint();
}

void JobWindow::onMouseUp(const lumo::gui::MouseEvent& e) {
    const std::string was = std::move(pressed);
    pressed.clear();
    dragging = false;
    if (!was.empty() && hit(e.x, e.y) == was) {
        press(was);  // may close and retire the window: nothing of it is touched after this
        return;
    }
    hover = hit(e.x, e.y);
    repaint();
}

void JobWindow::onMouseMove(const lumo::gui::MouseEvent& e) {
    std::string h = hit(e.x, e.y);
    if (h == hover) return;
    hover = std::move(h);
    repaint();
}

void JobWindow::onMouseLeave() {
    if (hover.empty()) return;
    hover.clear();
    repaint();
}

void JobWindow::describe(lumo::gui::WidgetInfo& info) const {
    info.value = statusText();
    info.parts.push_back({"job:x", kClose, true, false});
    for (const Button& b : buttons()) info.parts.push_back({"job:" + b.id, b.rect, b.enabled, false});
    if (state == Choose || state == Failed || state == Cancelled) {
        const std::vector<lumo::gui::Rect> rects = choiceRects();
        for (size_t i = 0; i < rects.size(); ++i)
            info.parts.push_back({"job:fmt:" + plan.choices[i].id, rects[i], rects[i].w > 0, plan.choices[i].on});
    }
    if (state == Choose && plan.offersData) info.parts.push_back({"job:data", {12, 202, 194, 14}, true, plan.deleteData});
    if (state == Choose && plan.selfInstall) {
        info.parts.push_back({"job:scope:user", {12, 202, 80, 14}, true, plan.scope == tqm::Scope::User});
        info.parts.push_back({"job:scope:system", {100, 202, 100, 14}, true, plan.scope == tqm::Scope::System});
    }
}

}  // namespace tqapp
