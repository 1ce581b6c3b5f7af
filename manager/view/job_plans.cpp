// Job windows: a plan becomes an open job window centred on the view; a running job is brought back
// into view; and the manager's own plans (its removal, installation and update).
//
// The editor does not destroy a closed popup at once: it retires it and destroys it at the next
// paint, when the window's onClosed runs. So the view's pointer may name a window that is already
// closed, and a late onClosed may come after a newer window was stored. The pointer is therefore
// cleared only by the window it names, and openJobWindow() answers only for a window still open.
#include <utility>

#include "manager/windows/job_window.h"
#include "manager/model/model.h"
#include "manager/model/setup.h"
#include "manager/view/view.h"

namespace tqapp {

namespace {

constexpr const char* kProduct = "Ardune Systems Manager";

// The start of each of the manager's own plans.
JobPlan ownPlan(const char* verb, const std::string& title, const std::string& where) {
    JobPlan plan;
    plan.verb = verb;
    plan.title = title;
    plan.where = where;
    return plan;
}

}  // namespace

bool ManagerView::showsRunningJob() {
    if (!model_) return true;
    if (!model_->busy) return false;
    showRunningJob();
    return true;
}

JobWindow* ManagerView::openJobWindow() const {
    return jobWindow_ && editor && editor->isOverlay(jobWindow_) ? jobWindow_ : nullptr;
}

void ManagerView::openJob(JobPlan plan, bool showRunning, std::function<void()> onFinish) {
    if (!model_) return;
    if (!editor) {
        // No window to confirm in: the plan runs as its default ticks stand, as the window would start it.
        JobStart s = jobStart(plan);
        model_->run(std::move(s.tasks), std::move(s.title), std::move(s.doneText));
        return;
    }
    if (JobWindow* old = openJobWindow()) editor->closePopup(old);

    const int h = JobWindow::height(plan);
    auto window = std::make_unique<JobWindow>(*model_, std::weak_ptr<bool>(alive_), std::move(plan));
    JobWindow* w = window.get();
    if (showRunning) {
        w->generation = model_->jobGeneration;
        w->state = JobWindow::Running;
    }
    jobWindow_ = w;
    w->onClosed = [this, w] {
        if (jobWindow_ == w) jobWindow_ = nullptr;
    };
    w->onOpenFolder = [this](const std::string& path) { openPath(path, false); };
    w->onStarted = [this](const JobPlan& started) { lastPlan = started; };
    w->onRestart = [this] { restartSelf(); };
    w->onFinish = std::move(onFinish);
    w->onScope = [this](tqm::Scope scope) { applyScope(scope); };
    w->bounds = {(bounds.w - JobWindow::kWidth) / 2, (bounds.h - h) / 2, JobWindow::kWidth, h};

    lumo::gui::PopupOptions options;
    options.window = true;
    options.cornerStyle = 1;
    editor->openPopup(std::move(window), options);
}

void ManagerView::showRunningJob() {
    if (JobWindow* w = openJobWindow(); w && w->state == JobWindow::Running) {
        editor->raisePopup(w);
        return;
    }
    openJob(lastPlan, true, {});
}

void ManagerView::openUninstall() {
    if (showsRunningJob()) return;
    const setup::Where where{model_->config.layout.root};
    JobPlan plan = ownPlan("REMOVE", std::string(kProduct) + " " + model_->config.version, where.dir().string());
    plan.selfRemoval = true;
    int rows = 0;
    for (const tqm::Row& row : model_->rows) {
        if (row.kind == 1 && !row.appPlugin()) continue;
        bool any = false;
        for (const auto& [format, f] : row.formats) {
            if (!f.installed || format == "app") continue;
            plan.tasks.push_back({"remove", row.id, format});
            any = true;
        }
        rows += any;
    }
    plan.choices.push_back({"plugins", "PLUGINS (" + std::to_string(rows) + ")", false, {}, {}});
    plan.jobTitle = "Removing the manager";
    plan.doneText = "The manager is removed";
    const std::string program = model_->config.program;
    openJob(std::move(plan), false, [this, where, program] {
        if (setup::runningInstalled(where, program)) setup::removeAfterExit(where.dir());
        if (editor) editor->closeStandaloneWindow();
    });
}

void ManagerView::openInstall() {
    if (showsRunningJob()) return;
    const setup::Where where{model_->config.layout.root};
    JobPlan plan = ownPlan("INSTALL", std::string(kProduct) + " " + model_->config.version, where.dir().string());
    plan.selfInstall = true;
    plan.scope = model_->config.layout.scope;
    plan.choices.push_back({"startmenu", "START MENU", true, {}, {}});
    plan.choices.push_back({"desktop", "DESKTOP", false, {}, {}});
    plan.jobTitle = "Installing the manager";
    plan.doneText = "Installed: open it from the Start menu";
    openJob(std::move(plan), false, [this, where] {
        setup::launch(where.exe());
        if (editor) editor->closeStandaloneWindow();
    });
}

void ManagerView::openSelfUpdate() {
    if (showsRunningJob()) return;
    const std::string next = model_->managerUpdate();
    if (next.empty()) return;
    JobPlan plan = ownPlan("UPDATE", kProduct, model_->config.program);
    plan.selfUpdate = true;
    plan.tasks.push_back({"self", "manager", "app"});
    plan.jobTitle = "Updating the manager to " + next;
    plan.doneText = "Manager " + next + " installed";
    plan.fromVersion = model_->config.version;
    plan.toVersion = next;
    openJob(std::move(plan), false, {});
}

}  // namespace tqapp
