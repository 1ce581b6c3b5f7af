#pragma once
// The program entry's own options, read from the stored command line:
//   --size WxH        body size in logical units
//   --zoom Z          the editor's zoom
//   --scale S         display scale (of the headless paint, or of the window as GDK_SCALE gives it)
//   --screenshot FILE paint once the catalog is loaded, write a PNG and exit (no display needed)
//   --dump-tree       print the widget tree as JSON and exit (no display needed)
#include <string>

namespace tqapp {

struct EntryOptions {
    int width = 0;  // 0: the editor's own size
    int height = 0;
    double zoom = 0.0;   // 0: the manager's own zoom
    double scale = 0.0;  // 0: 1 headless, the display's in a window
    std::string screenshot;
    bool dumpTree = false;

    // Screenshots and tree dumps run without a window.
    bool headless() const { return !screenshot.empty() || dumpTree; }
};

// Reads the options; false with a message for a value that is not a number or out of range.
bool readEntryOptions(EntryOptions& options, std::string& error);

// "WxH" with positive integers; false for anything else.
bool parseSize(const std::string& text, int& w, int& h);
// A plain decimal number in the C locale (no sign, no exponent); false for anything else.
bool parseNumber(const std::string& text, double& value);

}  // namespace tqapp
