// The one place that picks the look.
#include "manager/view/look.h"

namespace tqapp {

std::unique_ptr<Look> makeLook(int32_t look) {
    if (look == 0) return makeSkinLook();
    return makePixelLook();
}

}  // namespace tqapp
