#pragma once
// The program's command line: every word it takes, checked before anything starts, and the entry's
// own options read from it:
//   --size WxH        body size in logical units
//   --zoom Z          the editor's zoom
//   --scale S         display scale (of the headless paint, or of the window)
//   --screenshot FILE paint once the catalog is loaded, write a PNG and exit (no display needed)
//   --dump-tree       print the widget tree as JSON and exit (no display needed)
//   --help            print the usage and exit
// The manager's own words (--source, --root, ...) are only checked here; the manager reads them.
#include <string>
#include <vector>

namespace tqapp {

struct EntryOptions {
    int width = 0;  // 0: the editor's own size
    int height = 0;
    double zoom = 0.0;   // 0: the manager's own zoom
    double scale = 0.0;  // 0: 1 headless, the display's in a window
    std::string screenshot;
    std::string dataDir;  // --data-dir: every data folder under it
    bool dumpTree = false;
    bool help = false;

    // Screenshots and tree dumps run without a window.
    bool headless() const { return !screenshot.empty() || dumpTree; }
};

// The largest picture the program paints, in device pixels: each side, and in all.
constexpr long long kLargestPaintSide = 16384;
constexpr long long kLargestPaintArea = 1ll << 26;

// Checks the words after the program name: an unknown word, a word this program does not support,
// a value missing (or another option in its place), an option given twice or a value out of range
// is refused with a message (false). "--help" anywhere wins over everything else.
bool parseEntryOptions(const std::vector<std::string>& words, EntryOptions& options, std::string& error);
// The same over the stored command line.
bool readEntryOptions(EntryOptions& options, std::string& error);
// What --help prints.
std::string usageText();

// What the options change for the whole process: the data folders and, for a window, the display
// scale (kept in the process: the environment programs the manager starts get stays as it was).
void applyToProcess(const EntryOptions& options);

// A paint of w x h device pixels stays within the limits above; false with a message otherwise.
bool paintableSize(double w, double h, std::string& error);

// "WxH" with positive integers of at most kLargestPaintSide; false for anything else.
bool parseSize(const std::string& text, int& w, int& h);
// A plain decimal number in the C locale (no sign, no exponent); false for anything else.
bool parseNumber(const std::string& text, double& value);

}  // namespace tqapp
