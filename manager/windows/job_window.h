#pragma once
// The job window: the small popup in which one job is confirmed with its ticks, started, followed
// (swirl, progress bar, status line), stopped while it downloads, retried and closed.
//
//   jobStart ............ the tasks and texts a plan starts with its current ticks (job_window.cpp)
//   JobPartId ........... a part of the window: close box, button, tick box, data tick, scope option
//   JobWindow ........... state, the part table, clicks, the pointer, ticks of the clock (job_window.cpp)
//   JobWindow::draw ..... the pixel-look painting, read from the part table (job_window_paint.cpp)
//
// Coordinates are window units at scale 1 (218 wide, 292 or 318 high); drawing maps them through
// the paint as the pixel-look primitives do. Where each part lies, whether it takes the pointer and
// whether it is ticked is decided once, by layParts(); painting, hits and the description read that
// table. The window holds the model by reference and touches it only while the view's alive token
// lives. Closing it never stops its job.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/jobs.h"
#include "gui/draw/bitmapfont.h"
#include "gui/widget.h"
#include "manager/model/job_plan.h"
#include "manager/parts.h"
#include "manager/windows/popup_window.h"
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

// The kinds of parts; the index tells repeated parts apart: the choice's place in the plan, the
// button's JobButton, the scope option's tqm::Scope.
// Shift is one of the two arrows that page through tick boxes too many for their row (index -1
// back, +1 on).
enum class JobPart : uint8_t { Close, Button, Choice, Data, Scope, Shift };
// The buttons; Shut is the one named "close" (the close box is JobPart::Close, "x").
enum class JobButton : int32_t { Go, Cancel, Stop, Hide, Open, Restart, Finish, Shut, Retry };
using JobPartId = PartId<JobPart>;

inline JobPartId jobButton(JobButton b) { return {JobPart::Button, int32_t(b)}; }
inline JobPartId jobChoice(size_t index) { return {JobPart::Choice, int32_t(index)}; }
inline JobPartId jobScope(tqm::Scope s) { return {JobPart::Scope, int32_t(s)}; }
inline constexpr JobPartId kJobShiftBack{JobPart::Shift, -1};
inline constexpr JobPartId kJobShiftOn{JobPart::Shift, 1};
inline constexpr JobPartId kJobClose{JobPart::Close, -1};
inline constexpr JobPartId kJobData{JobPart::Data, -1};

class JobWindow : public PopupWindow<JobPartId> {
public:
    enum State : uint32_t { Choose = 0, Running = 1, Done = 2, Failed = 3, Cancelled = 4 };

    // A button as the table places it, with its label.
    struct Button {
        JobPartId id;
        std::string label;
        lumo::gui::Rect rect;
        bool enabled = true;
    };

    static constexpr int kWidth = 218;
    static constexpr lumo::gui::Rect kClose{198, 2, 18, 18};
    // The longest time between the two presses of a double click (the window layer's).
    static constexpr double kDoubleClickTime = 0.5;
    // The moving figure: the one part a tick repaints while nothing else changes.
    static constexpr lumo::gui::Rect kFigure{9, 31, 200, 100};

    JobWindow(Model& model, std::weak_ptr<bool> alive, JobPlan plan);
    ~JobWindow() override;

    // 318 for a plan with the data row or the scope row, else 292.
    static int height(const JobPlan& plan);

    void describe(lumo::gui::WidgetInfo& info) const override;
    void draw(const lumo::gui::Paint& p) override;
    bool opaque() const override { return true; }  // draw fills the whole rectangle
    void tick() override;

    // The name a part goes by ("x", "go", "fmt:vst3", "data", "scope:user", "choices:back"); empty
    // for a choice the plan does not hold.
    std::string partName(const JobPartId& id) const;
    // The buttons of the table, left to right, with their labels.
    std::vector<Button> buttons() const;
    const JobChoice* firstOn() const;
    bool anyOn() const;
    bool anyOnOf(const std::string& id) const;
    std::string formatsText() const;
    std::string statusText() const;
    void go();
    void press(const JobPartId& id) override;
    // GO and STOP share one place: a press on STOP within the double-click time of the press that
    // started the job is the second half of a double click on GO, and neither it nor its release
    // stops the job. A later press does.
    bool onMouseDown(const lumo::gui::MouseEvent& e) override;

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
    bool retryable = true;  // a failure the same job may get past: RETRY is offered
    Swirl swirl;
    double phase = 0;
    double flash = 0;
    double progress = 0;
    std::string lastStatus;
    double statusSince = 0;
    double clock = 0;
    lumo::gui::Rect scrollingStatus;  // the status box while its text scrolls (the last paint's); empty otherwise
    int paintedShift = 0;             // how far the last paint scrolled the status text (device pixels)
    double paintedScale = 1.0;  // the scale of the last paint: the tick boxes' labels are measured in its font
    size_t firstChoice = 0;     // the first tick box shown while they do not all fit their row
    double pressedAt = 0;       // the last press's time on the editor's clock (0: not known)
    double startedAt = 0;       // the time of the press that started the running job (0: none known)

protected:
    // The one place that lays the parts out for the current state and the last paint's scale: the
    // close box, the buttons, the tick boxes (each label measured in the bold font; with more than
    // their row holds, the ones from firstChoice that fit and two arrows at the row's end to page
    // through the others), the data tick and the scope options. The scope options are listed in every state of a self-install plan (they
    // are drawn in each) but take the pointer only while choosing.
    PartTable<JobPartId> layParts() const override;

private:
    bool extraRow() const { return plan.offersData || plan.selfInstall; }
    // The status line's box, the info rows' last (its label above it).
    lumo::gui::Rect statusBox() const { return {8, 150 + 26 * (extraRow() ? 4 : 3), 202, 14}; }
    // How far a status text too long for its box is scrolled left at the clock's time, in device
    // pixels of the scale: it stands still for a moment after each change or wrap, then moves.
    int statusShift(const lumo::gui::BitmapFont& font, const std::string& s, double scale) const;
    bool choosing() const { return state == Choose || state == Failed || state == Cancelled; }
    // The buttons of the state, left to right, with their labels.
    std::vector<std::pair<JobButton, std::string>> buttonRow() const;
    std::string buttonLabel(const JobPartId& id) const;
    void layChoices(PartTable<JobPartId>& t) const;
    bool stoppable() const;
    // Hot: under the pointer with nothing pressed; down: pressed and under the pointer.
    bool hot(const Part<JobPartId>& part) const { return part.enabled && pointer.isHover(part.id) && !pointer.pressed; }
    bool down(const Part<JobPartId>& part) const { return pointer.isHeld(part.id); }
    void drawInfoRows(const lumo::gui::Paint& p, const PartTable<JobPartId>& table);
    void drawExtraRow(const lumo::gui::Paint& p, const PartTable<JobPartId>& table);
    void drawProgress(const lumo::gui::Paint& p);
    void drawButtons(const lumo::gui::Paint& p, const PartTable<JobPartId>& table);
    // The status row: its label, its box and the text in it.
    void drawStatus(const lumo::gui::Paint& p);
    void drawMark(const lumo::gui::Paint& p, lumo::gui::Rect figure);

    // What the brand mark's nine fills (eight ring offsets, then the mark) do to the figure under
    // them, kept while the mark stays in place at one scale (job_window_paint.cpp): the pixels they
    // leave the same whatever lies under them, and the edge pixels with the weight of each fill.
    struct MarkLayer {
        struct Edge {
            int x, y;
            uint8_t weights[9];
        };
        lumo::gui::Rect logo, figure, reach;
        double factor = 0;
        int unit = 0;
        lumo::gui::Bitmap fixed;  // alpha 255 where the fills decide the pixel alone, 0 elsewhere
        std::vector<Edge> edges;
    };
    MarkLayer mark_;
};

}  // namespace tqapp
