// Installs the window layer before main in every program that links lumo_window.
#include "platform/linux/window_layer.h"

namespace {

const bool g_installed = (lumo::platform::installWindowLayer(), true);

}  // namespace
