#pragma once
// Installing plug-ins and applications (tqm::Engine::install, installApp) and the running-app check.
#include <string>

namespace tqm {

// The maker's subfolder inside each plug-in format folder.
inline constexpr char kVendorDir[] = "Ardune Systems";

// The full path of a running process whose program file lies inside the application folder
// `path`, or the empty string. Processes whose program cannot be read are skipped.
std::string appRunning(const std::string& path);

}  // namespace tqm
