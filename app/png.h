#pragma once
// PNG files of canvases: the harness's screenshots and the demo catalog's pictures.
#include <string>

#include "gui/draw/canvas.h"

namespace tqapp {

// The canvas as RGBA PNG bytes; empty for an empty canvas or when encoding fails.
std::string encodePng(const lumo::gui::Canvas& canvas);

// Writes bytes through a sibling temporary file renamed into place; false with a message.
bool writeFileAtomic(const std::string& path, const std::string& bytes, std::string& error);

}  // namespace tqapp
