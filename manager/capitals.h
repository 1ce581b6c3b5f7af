#pragma once
// Capitals of the texts the windows show in upper case: the main window's labels and buttons, the
// job window's status line. Below every layer of the manager, so each can reach it.
#include <string>

namespace tqapp {

// Capitals of ASCII and Latin letters; bytes that are no UTF-8 are kept as they are.
std::string upper(std::string s);

}  // namespace tqapp
