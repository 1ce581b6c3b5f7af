#pragma once
// Reading a pinch step off an input-extension gesture event. Include after the toolkit's headers.
#include "platform/linux/x11_link.h"

#include <X11/extensions/XInput2.h>

namespace lumo::platform {

// False for events that are no pinch (begin, update or end).
bool pinchStepOf(const XIGesturePinchEvent& e, PinchStep& step);

}  // namespace lumo::platform
