// The UI queue's drain and wake-up, the tick in its fixed order, frames and window invalidation.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "gui/editor.h"

namespace lumo::gui {

namespace {

constexpr uint32_t kCaretTicks = 12;    // at 30 ticks a second the caret flips every 0.4 s
constexpr double kFrameLinger = 0.25;   // frames stop this long after the last request

}  // namespace

double Editor::now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void Editor::armWake(bool on) {
    if (on && window_) {
        PlatformWindow* w = window_.get();
        queue_->setWake([w] { w->postWake(); });
    } else {
        queue_->setWake(nullptr);
    }
}

void Editor::drainPosted() {
    std::vector<UiQueue::Task> tasks = queue_->take();
    if (tasks.empty()) return;
    std::weak_ptr<bool> alive = alive_;
    CurrentScope scope(*this);
    for (auto& t : tasks) {
        t();
        // A closure that destroyed the editor: the rest were still pending then and never run.
        if (alive.expired()) return;
    }
}

// Both walks stop at once when a handler destroyed the editor (and with it the tree).
void Editor::tickAll(Widget* w, const std::weak_ptr<bool>& alive) {
    w->tick();
    if (alive.expired()) return;
    for (size_t i = 0; i < w->children.size(); ++i) {
        tickAll(w->children[i].get(), alive);
        if (alive.expired()) return;
    }
}

void Editor::frameAll(Widget* w, double t, const std::weak_ptr<bool>& alive) {
    if (!w->visible) return;
    w->onFrame(t);
    if (alive.expired()) return;
    for (size_t i = 0; i < w->children.size(); ++i) {
        frameAll(w->children[i].get(), t, alive);
        if (alive.expired()) return;
    }
}

void Editor::tick() {
    std::weak_ptr<bool> alive = alive_;
    drainPosted();
    if (alive.expired()) return;  // a posted closure destroyed the editor
    CurrentScope scope(*this);
    undo_.sync();
    host_.nextMeterFrame();

    if (++caretCounter_ % kCaretTicks == 0) {
        caretPhase_ = !caretPhase_;
        // Only a widget taking text draws a caret; a list holding the keys stays as it is.
        if (focus_ && focus_->takingText())
            requestRepaintArea(deviceRect(focus_, Rect{0, 0, focus_->bounds.w, focus_->bounds.h}));
    }
    if (onOpenFiles && !pendingFiles_.empty()) {
        std::vector<std::string> files;
        files.swap(pendingFiles_);
        auto callback = onOpenFiles;  // it may replace itself or destroy the editor
        callback(files);
        if (alive.expired()) return;
    }

    tickAll(root_.get(), alive);
    if (alive.expired()) return;
    if (header_) tickAll(header_.get(), alive);
    for (size_t i = 0; !alive.expired() && i < overlays_.size(); ++i) tickAll(overlays_[i].widget.get(), alive);
    if (alive.expired()) return;

    if (frameWanted_) {
        if (!framesRunning_ && window_) framesRunning_ = window_->startFrames();
        if (!framesRunning_) frame(now());
        if (alive.expired()) return;
    }
    invalidateWindow();
}

void Editor::frame(double t) {
    std::weak_ptr<bool> alive = alive_;
    CurrentScope scope(*this);
    ++frameStats_.linkTicks;
    bool wanted = frameWanted_;
    frameWanted_ = false;
    if (wanted) {
        frameAll(root_.get(), t, alive);
        if (alive.expired()) return;
        if (header_) frameAll(header_.get(), t, alive);
        for (size_t i = 0; !alive.expired() && i < overlays_.size(); ++i)
            frameAll(overlays_[i].widget.get(), t, alive);
        if (alive.expired()) return;
    }
    if (!frameWanted_ && framesRunning_ && now() - lastFrameRequest_ > kFrameLinger) {
        framesRunning_ = false;
        if (window_) window_->stopFrames();
    }
    invalidateWindow();
}

void Editor::requestFrame() {
    frameWanted_ = true;
    lastFrameRequest_ = now();
    if (!framesRunning_ && window_) framesRunning_ = window_->startFrames();
}

void Editor::paintSoon() {
    movePopupWindows();
    if (!window_) return;
    if (!fullRepaint_ && dirty_.empty()) return;
    lastFrameRequest_ = now();
    if (framesRunning_) return;  // the next frame invalidates
    framesRunning_ = window_->startFrames();
    if (!framesRunning_) invalidateWindow();
}

Editor::PaintScope::~PaintScope() {
    if (!alive_.expired()) editor_.paintSoon();
}

bool Editor::frameStatsOn() {
    static const bool on = std::getenv("LUMO_FRAMESTATS") != nullptr;
    return on;
}

void Editor::FrameStats::add(double paintMs, double presentMs, bool partialPaint) {
    add(paintMs, presentMs, partialPaint, now());
}

void Editor::FrameStats::add(double paintMs, double presentMs, bool partialPaint, double t) {
    if (windowStart == 0.0) windowStart = t;
    ++frames;
    paintSum += paintMs;
    presentSum += presentMs;
    if (paintMs > paintMax) paintMax = paintMs;
    if (presentMs > presentMax) presentMax = presentMs;
    if (partialPaint) ++partial;
    double elapsed = t - windowStart;
    if (elapsed < 1.0) return;
    std::printf(
        "lumo frames: %d drawn in %.2f s (%.1f / s, %d partial; display link %.1f / s), paint %.2f ms avg %.2f max, "
        "present %.2f ms avg %.2f max\n",
        frames, elapsed, frames / elapsed, partial, linkTicks / elapsed, paintSum / frames, paintMax,
        presentSum / frames, presentMax);
    std::fflush(stdout);
    *this = FrameStats{};
    windowStart = t;
}

void Editor::invalidateWindow() {
    if (!window_) return;
    if (fullRepaint_) {
        window_->invalidate();
        return;
    }
    for (const Rect& r : dirty_) window_->invalidateRect(r);
}

}  // namespace lumo::gui
