#pragma once
// The job window: the small popup in which one job is confirmed with its ticks, started, followed
// (swirl, progress bar, status line), stopped while it downloads, retried and closed.
//
//   jobStart ............ the tasks and texts a plan starts with its current ticks (job_window.cpp)
//   JobWindow ........... state, buttons, hit names, actions, ticks of the clock (job_window.cpp)
//   JobWindow::draw ..... the pixel-look painting (job_window_paint.cpp)
//
// Coordinates are window units at scale 1 (218 wide, 292 or 318 high); drawing maps them through
// the paint as the pixel-look primitives do. The window holds the model by reference and touches
// it only while the view's alive token lives. Closing it never stops its job.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/jobs.h"
#include "gui/widget.h"
#include "manager/model/job_plan.h"
#include "manager/windows/swirl.h"

namespace tqapp {

class Model;

// What a plan starts with its current ticks: the tasks the ticked choices select (a user-data purge
// only with its own tick), the manager's own steps for its own plans, and the two texts for the model.
struct JobStart {
    std::vector<tqm::Task> tasks;  // empty: nothing to start
    std::string title;
    std::string doneText;
    bool dataDeleted = false;  // the tasks hold the user-data purge
};
JobStart jobStart(const JobPlan& plan);

class JobWindow : public lumo::gui::Widget {
public:
    enum State : uint32_t { Choose = 0, Running = 1, Done = 2, Failed = 3, Cancelled = 4 };

    struct Button {
        std::string id;
        std::string label;
        lumo::gui::Rect rect;
        bool enabled = true;
    };

    static constexpr int kWidth = 218;
    static constexpr int kBarHeight = 22;
    static constexpr int kGrip = 40;  // width of the bar that a drag keeps inside the main window
    static constexpr lumo::gui::Rect kClose{198, 2, 18, 18};

    JobWindow(Model& model, std::weak_ptr<bool> alive, JobPlan plan);
    ~JobWindow() override;

    // 318 for a plan with the data row or the scope row, else 292.
    static int height(const JobPlan& plan);

    void describe(lumo::gui::WidgetInfo& info) const override;
    void draw(const lumo::gui::Paint& p) override;
    void tick() override;
    bool onMouseDown(const lumo::gui::MouseEvent& e) override;
    void onMouseDrag(const lumo::gui::MouseEvent& e) override;
    void onMouseUp(const lumo::gui::MouseEvent& e) override;
    void onMouseLeave() override;
    void onMouseMove(const lumo::gui::MouseEvent& e) override;

    std::vector<Button> buttons() const;
    const JobChoice* firstOn() const;
    bool anyOn() const;
    bool anyOnOf(const std::string& id) const;
    std::string formatsText() const;
    // One box per choice, in window units; the labels are measured in the font of the paint's scale,
    // without a paint in that of the last paint (scale 1 before the first), so that hits and the
    // description agree with what the window shows.
    std::vector<lumo::gui::Rect> choiceRects(const lumo::gui::Paint* paint = nullptr) const;
    std::string hit(int x, int y) const;
    std::string statusText() const;
    void go();
    void press(const std::string& name);

    // The model while the view that owns it lives.
    Model* liveModel() const { return alive.expired() ? nullptr : &model; }

    std::function<void()> onClosed;
    std::function<void(const std::string&)> onOpenFolder;
    std::function<void(const JobPlan&)> onStarted;
    std::function<void()> onRestart;
    std::function<void()> onFinish;
    std::function<void(tqm::Scope)> onScope;

    Model& model;
    std::weak_ptr<bool> alive;
    JobPlan plan;
    uint32_t state = Choose;
    uint32_t generation = 0;
    std::string error;
    Swirl swirl;
    double phase = 0;
    double flash = 0;
    double progress = 0;
    std::string lastStatus;
    double statusSince = 0;
    double clock = 0;
    std::string hover;
    std::string pressed;
    bool dragging = false;
    int32_t dragStart[2] = {0, 0};
    double paintedScale = 1.0;  // the scale of the last paint

private:
    bool extraRow() const { return plan.offersData || plan.selfInstall; }
    bool stoppable() const;
    void drawInfoRows(const lumo::gui::Paint& p);
    void drawExtraRow(const lumo::gui::Paint& p);
    void drawProgress(const lumo::gui::Paint& p);
    void drawButtons(const lumo::gui::Paint& p);
    void drawStatus(const lumo::gui::Paint& p, lumo::gui::Rect box);
};

}  // namespace tqapp
