#pragma once
// Running the manager's editor without a window: the entry's size, zoom and scale, one paint
// into a PNG and the widget-tree dump.
#include <string>

#include "app/options.h"
#include "gui/editor.h"

namespace tqapp {

// Size, zoom and scale of the options; what is not given stays as the editor has it.
void applyEntryOptions(lumo::gui::Editor& editor, const EntryOptions& options);

// Paints the editor once at its pixel size (after the UI queue ran) into the canvas.
void paintOnce(lumo::gui::Editor& editor, lumo::gui::Canvas& canvas);

// A screenshot may be written at path: nothing is there, or a regular file (which is replaced);
// false with a message for a folder, a link, a device or anything else.
bool screenshotTarget(const std::string& path, std::string& error);

// The screenshot and the tree dump of the options; the process status: 0 done, 1 a failure,
// 2 a size too large to paint (told on stderr).
int runHeadless(lumo::gui::Editor& editor, const EntryOptions& options);

}  // namespace tqapp
