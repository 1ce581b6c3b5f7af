#pragma once
// The SDL event that wakes a window's loop from another thread.
#include <cstdint>

namespace lumo::platform {

// Registers the event type once per process; call on the UI thread before the first wake.
void registerWakeEvent();
uint32_t wakeEventType();
// Any thread: queues a wake for the window with that id.
bool pushWake(uint32_t windowId);

}  // namespace lumo::platform
