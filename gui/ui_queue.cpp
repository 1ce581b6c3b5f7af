#include "gui/ui_queue.h"

namespace lumo::gui {

bool UiQueue::post(Task f) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!alive_) return false;
    pending_.push_back(std::move(f));
    if (wake_ && !wakePending_) {
        wakePending_ = true;
        wake_();
    }
    return true;
}

bool UiQueue::alive() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return alive_;
}

std::vector<UiQueue::Task> UiQueue::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    wakePending_ = false;
    std::vector<Task> out;
    out.swap(pending_);
    return out;
}

void UiQueue::setWake(std::function<void()> wake) {
    std::function<void()> old;
    std::lock_guard<std::mutex> lock(mutex_);
    old.swap(wake_);
    wake_ = std::move(wake);
    wakePending_ = false;
    if (wake_ && !pending_.empty()) {
        wakePending_ = true;
        wake_();
    }
}

std::vector<UiQueue::Task> UiQueue::shutdown() {
    std::lock_guard<std::mutex> lock(mutex_);
    alive_ = false;
    wake_ = nullptr;
    wakePending_ = false;
    std::vector<Task> out;
    out.swap(pending_);
    return out;
}

}  // namespace lumo::gui
