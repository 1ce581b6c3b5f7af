#pragma once
// A test's hook at one step of the install-folder protocol (the engine's renameFault seam), for as
// long as the object lives: `act` runs before each such step and answers the error number the step
// then fails with, or 0 to let it go on.
#include <functional>
#include <utility>

#include "engine/install_folder.h"

namespace testsupport {

class AtStep {
public:
    AtStep(tqm::detail::RenameStep step, std::function<int()> act) {
        hook() = {step, std::move(act)};
        tqm::detail::renameFault = &fire;
    }
    ~AtStep() {
        tqm::detail::renameFault = nullptr;
        hook() = {};
    }
    AtStep(const AtStep&) = delete;
    AtStep& operator=(const AtStep&) = delete;

private:
    struct Hook {
        tqm::detail::RenameStep step{};
        std::function<int()> act;
    };
    static Hook& hook() {
        static Hook h;
        return h;
    }
    static int fire(tqm::detail::RenameStep step) { return hook().act && step == hook().step ? hook().act() : 0; }
};

}  // namespace testsupport
