#pragma once
// Closures posted from any thread and run in order on the UI thread by the editor's tick.
// Shared by the editor and the workers; dead (refusing posts) from the editor's teardown on.
#include <functional>
#include <mutex>
#include <vector>

namespace lumo::gui {

class UiQueue {
public:
    using Task = std::function<void()>;

    // Any thread. False (the closure dropped unrun) once the queue is dead.
    bool post(Task f);
    bool alive() const;

    // UI thread: the whole pending list, leaving the queue empty and ready for the next wake.
    std::vector<Task> take();
    // Replaces the wake function (called under the lock, so it must not post); with closures
    // already pending, a new function is called at once.
    void setWake(std::function<void()> wake);
    // Marks the queue dead, drops the wake and hands back what was still pending (to be destroyed
    // unrun by the caller, outside the lock).
    std::vector<Task> shutdown();

private:
    mutable std::mutex mutex_;
    std::vector<Task> pending_;
    bool alive_ = true;
    bool wakePending_ = false;
    std::function<void()> wake_;
};

}  // namespace lumo::gui
