#pragma once
// Finding the manager's own running program and the item a self-update replaces.
#include <string>

namespace tqm {

// The running executable, made canonical as far as it exists; the raw path when that fails;
// empty when the system cannot tell.
std::string runningProgram();

// The enclosing <name>.app when the program lies at <name>.app/Contents/MacOS/<program>,
// else the program path itself.
std::string selfItem(const std::string& program);

}  // namespace tqm
