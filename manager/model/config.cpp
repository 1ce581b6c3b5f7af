// The manager's own version, read from the bundle it runs from.
#include "manager/model/config.h"

#include <algorithm>
#include <cctype>

#include "engine/apps.h"
#include "engine/running.h"

namespace tqapp {

std::string ownVersion(const std::string& program) {
    const std::string bundle = tqm::selfItem(program);
    if (program.empty() || bundle == program) return kVersion;
    const std::string v = tqm::bundleVersion(bundle);
    // It goes into the log, the status line and the desktop entry: only a plain version text is taken.
    const bool plain = !v.empty() && std::all_of(v.begin(), v.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+';
    });
    return plain ? v : std::string(kVersion);
}

}  // namespace tqapp
