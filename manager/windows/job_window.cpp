// The job window's behaviour: which tasks the ticks select, the part table of each state (buttons,
// tick boxes, data tick, scope options) and the names its parts go by, clicks, the pointer, and the
// clock that follows the model's job.
#include "manager/windows/job_window.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iterator>
#include <utility>

#include "gui/editor.h"
#include "manager/capitals.h"
#include "manager/model/model.h"
#include "manager/pixel_look/primitives.h"

namespace tqapp {

namespace {

constexpr char kOneJob[] = "One job at a time: wait for the other one to finish";

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
        // Each item under what the job does to it: "Updating Studio, installing Tuner".
        std::vector<std::pair<std::string, std::string>> verbs;  // title verb, done verb; in order
        std::vector<std::vector<std::string>> names;
        for (const JobChoice& c : plan.choices) {
            if (!c.on) continue;
            const std::pair<std::string, std::string> verb =
                plan.installedAnew.count(c.id) ? std::pair<std::string, std::string>{"Installing", "installed"}
                                               : std::pair{plan.titleVerb, plan.doneVerb};
            const size_t at = size_t(std::find(verbs.begin(), verbs.end(), verb) - verbs.begin());
            if (at == verbs.size()) verbs.push_back(verb), names.emplace_back();
            names[at].push_back(c.name.empty() ? c.label : c.name);
        }
        for (size_t i = 0; i < verbs.size(); ++i) {
            std::string verb = verbs[i].first;
            if (i > 0 && !verb.empty()) verb[0] = char(std::tolower(static_cast<unsigned char>(verb[0])));
            s.title += (i > 0 ? ", " : "") + verb + " " + joinNames(names[i]);
            s.doneText += (i > 0 ? ", " : "") + joinNames(names[i]) + " " + verbs[i].second;
        }
        s.doneText += suffix;
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

std::vector<std::pair<JobButton, std::string>> JobWindow::buttonRow() const {
    using B = JobButton;
    switch (state) {
        case Choose: return {{B::Go, plan.verb}, {B::Cancel, plan.selfUpdate ? "LATER" : plan.selfInstall ? "NOT NOW" : "CANCEL"}};
        case Running: return {{B::Stop, "CANCEL"}, {B::Hide, "HIDE"}};
        case Done:
            if (plan.selfUpdate) return {{B::Restart, "RESTART"}, {B::Shut, "LATER"}};
            if (plan.selfInstall) return {{B::Finish, "OPEN"}, {B::Shut, "LATER"}};
            if (plan.selfRemoval) return {{B::Finish, "CLOSE"}};
            if (!plan.removal && firstOn()) return {{B::Open, "OPEN FOLDER"}, {B::Shut, "CLOSE"}};
            return {{B::Shut, "CLOSE"}};
        case Failed:
            if (!retryable) return {{B::Shut, "CLOSE"}};
            return {{B::Retry, "RETRY"}, {B::Shut, "CLOSE"}};
        default: return {{B::Go, plan.verb}, {B::Shut, "CLOSE"}};
    }
}

PartTable<JobPartId> JobWindow::layParts() const {
    PartTable<JobPartId> t;
    t.add(kJobClose, kClose);

    // The buttons share the row evenly, six units apart; the last one ends at the frame's inside.
    const std::vector<std::pair<JobButton, std::string>> row = buttonRow();
    const int n = int(row.size());
    const int w = (208 - 6 * n) / n;
    const int y = extraRow() ? 294 : 268;
    for (int i = 0; i < n; ++i) {
        const JobButton b = row[size_t(i)].first;
        const int x = 8 + i * (w + 6);
        const bool enabled = b == JobButton::Go || b == JobButton::Retry ? anyOn() : b == JobButton::Stop ? stoppable() : true;
        t.add(jobButton(b), {x, y, n > 1 && i == n - 1 ? 210 - x : w, 16}, enabled);
    }

    if (choosing() && !plan.selfUpdate) layChoices(t);
    if (state == Choose && plan.offersData) t.add(kJobData, {12, 202, 194, 14}, true, plan.deleteData);
    if (plan.selfInstall) {
        t.add(jobScope(tqm::Scope::User), {12, 202, 80, 14}, state == Choose, plan.scope == tqm::Scope::User);
        t.add(jobScope(tqm::Scope::System), {100, 202, 100, 14}, state == Choose, plan.scope == tqm::Scope::System);
    }
    return t;
}

void JobWindow::layChoices(PartTable<JobPartId>& t) const {
    // Each box holds its tick and its label, measured in the bold font of the last paint's scale.
    // The row's inside ends one unit short of its outline's right side: a lone choice reaching past
    // it is cut there (its label then ends in "...").
    const lumo::gui::BitmapFont* bold = dev::font(paintedScale, true, false);
    constexpr int kFirstX = 12, kRowEnd = 8 + 202 - 1, kArrow = 10;
    std::vector<int> widths;
    for (const JobChoice& c : plan.choices)
        widths.push_back(bold ? int(std::ceil(bold->width(c.label) / paintedScale)) + 13 : 37);
    int end = kFirstX;  // where the boxes end, all in one row
    for (size_t i = 0; i < widths.size(); ++i) end = (i ? end + 10 : end) + widths[i] + 2;
    const bool paged = widths.size() > 1 && end > kRowEnd;

    // More boxes than the row holds: the ones from firstChoice that fit whole (the first one always,
    // cut when it must be) left of two arrows, so that every box, ticked or not, can be reached.
    const size_t first = paged ? std::min(firstChoice, widths.size() - 1) : 0;
    const int rowEnd = paged ? kRowEnd - 2 * kArrow - 3 : kRowEnd;
    size_t shownEnd = first;
    int x = kFirstX;
    for (size_t i = first; i < widths.size(); ++i) {
        const int cw = widths[i];
        if (paged && i > first && x + cw + 2 > rowEnd) break;
        t.add(jobChoice(i), {x, 176, std::min(cw + 2, rowEnd - x), 14}, true, plan.choices[i].on);
        x += cw + 12;
        shownEnd = i + 1;
    }
    if (!paged) return;
    t.add(kJobShiftBack, {kRowEnd - 2 * kArrow - 1, 176, kArrow, 14}, first > 0);
    t.add(kJobShiftOn, {kRowEnd - kArrow, 176, kArrow, 14}, shownEnd < widths.size());
}

std::string JobWindow::partName(const JobPartId& id) const {
    switch (id.kind) {
        case JobPart::Close: return "x";
        case JobPart::Data: return "data";
        case JobPart::Shift: return id.index < 0 ? "choices:back" : "choices:on";
        case JobPart::Scope: return id.index == int32_t(tqm::Scope::User) ? "scope:user" : "scope:system";
        case JobPart::Choice:
            return id.index >= 0 && size_t(id.index) < plan.choices.size() ? "fmt:" + plan.choices[size_t(id.index)].id
                                                                          : std::string();
        case JobPart::Button: break;
    }
    static const char* const kNames[] = {"go", "cancel", "stop", "hide", "open", "restart", "finish", "close", "retry"};
    return id.index >= 0 && id.index < int32_t(std::size(kNames)) ? kNames[id.index] : "";
}

std::string JobWindow::buttonLabel(const JobPartId& id) const {
    for (auto& [b, label] : buttonRow())
        if (jobButton(b) == id) return label;
    return {};
}

std::vector<JobWindow::Button> JobWindow::buttons() const {
    std::vector<Button> out;
    const PartTable<JobPartId> table = parts();
    for (const Part<JobPartId>& part : table.parts())
        if (part.id.kind == JobPart::Button) out.push_back({part.id, buttonLabel(part.id), part.rect, part.enabled});
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
            if (m && m->closing) return upper(m->closingNote());
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
        retryable = true;
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
    progress = 0;  // a new job's bar starts empty rather than easing down from the last one's
    if (onStarted) onStarted(plan);
}

void JobWindow::press(const JobPartId& id) {
    switch (id.kind) {
        case JobPart::Close:
            if (editor) editor->closePopup(this);
            return;
        case JobPart::Choice:
            if (id.index >= 0 && size_t(id.index) < plan.choices.size()) plan.choices[size_t(id.index)].on = !plan.choices[size_t(id.index)].on;
            break;
        case JobPart::Data: plan.deleteData = !plan.deleteData; break;
        case JobPart::Shift:
            if (id.index < 0 && firstChoice > 0) --firstChoice;
            if (id.index > 0 && firstChoice + 1 < plan.choices.size()) ++firstChoice;
            break;
        case JobPart::Scope: plan.scope = id.index == int32_t(tqm::Scope::User) ? tqm::Scope::User : tqm::Scope::System; break;
        case JobPart::Button:
            switch (JobButton(id.index)) {
                case JobButton::Go:
                case JobButton::Retry:
                    go();
                    startedAt = state == Running ? pressedAt : 0.0;
                    break;
                case JobButton::Stop:
                    if (stoppable()) liveModel()->cancel->exchange(true);
                    break;
                case JobButton::Open:
                    if (onOpenFolder && firstOn()) onOpenFolder(firstOn()->where);
                    break;
                case JobButton::Restart:
                    if (onRestart && liveModel()) onRestart();  // both reach into the view: only while it lives
                    return;
                case JobButton::Finish:
                    if (onFinish && liveModel()) onFinish();
                    return;
                case JobButton::Cancel:
                case JobButton::Hide:
                case JobButton::Shut:
                    if (editor) editor->closePopup(this);
                    return;
            }
            break;
    }
    repaint();
}

bool JobWindow::onMouseDown(const lumo::gui::MouseEvent& e) {
    pressedAt = e.time;
    if (startedAt > 0.0 && e.time >= startedAt && e.time < startedAt + kDoubleClickTime &&
        hit(e.x, e.y) == std::optional<JobPartId>(jobButton(JobButton::Stop))) {
        pointer.down(std::nullopt);  // held, so its release stops nothing either
        return true;
    }
    return PopupWindow::onMouseDown(e);
}

void JobWindow::tick() {
    const uint32_t stateBefore = state;
    const double flashBefore = flash, progressBefore = progress, phaseBefore = phase;
    const Model* m = liveModel();
    if (state == Running && m && m->doneGeneration == generation) {
        if (m->ok) {
            // A finished job shows all of its bar at once, not after the easing has crept up to it.
            state = Done;
            flash = 1.0;
            progress = 1.0;
        } else if (!m->cancelled) {
            state = Failed;
            error = m->note;
            retryable = m->retryable;
        } else {
            state = Cancelled;
        }
    }
    phase += state == Running ? 0.06 : state == Failed ? 0.0 : 1.0 / 30;
    flash = std::max(0.0, flash - 1.0 / 36);
    clock += 1.0 / 30;
    bool statusChanged = false;
    if (std::string now = statusText(); now != lastStatus) {
        lastStatus = std::move(now);
        statusSince = clock;
        statusChanged = true;
    }
    // The bar shows the figure the status line says, at once: a running job's share done, all of
    // it once done, none once stopped (nothing was done); a failed job's stays where it stopped.
    if (state == Choose || state == Cancelled)
        progress = 0;
    else if (state == Done)
        progress = 1.0;
    else if (state == Running && m)
        progress = m->fraction;
    if (state != stateBefore || flash != flashBefore || progress != progressBefore || statusChanged) {
        repaint();
        return;
    }
    // Only the figure moves (and a status too long for its box scrolls, between its pauses): the
    // rest of the window, and the main window under it, stay as they are.
    if (phase != phaseBefore) repaintArea(kFigure);
    if (scrollingStatus.empty()) return;
    if (const lumo::gui::BitmapFont* regular = dev::font(paintedScale, false, false);
        regular && statusShift(*regular, lastStatus, paintedScale) != paintedShift)
        repaintArea(scrollingStatus);
}

void JobWindow::describe(lumo::gui::WidgetInfo& info) const {
    info.value = statusText();
    // The scope options are named only while they can be chosen.
    const PartTable<JobPartId> table = parts();
    for (const Part<JobPartId>& part : table.parts())
        if (part.id.kind != JobPart::Scope || part.enabled)
            info.parts.push_back({"job:" + partName(part.id), part.rect, part.enabled, part.checked});
}

}  // namespace tqapp
