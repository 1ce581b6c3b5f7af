#include "app/options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <map>

#include "gui/editor.h"
#include "platform/platform.h"

namespace tqapp {
namespace {

// The numbers the window is drawn at; a value outside is refused, naming the range (and what it
// draws, when a note says). The help and the refusals read them from here.
struct Range {
    double least, most;
    const char* note = nullptr;
    bool holds(double v) const { return v >= least && v <= most; }
};
// Scales above the toolkit's largest would be drawn at that one, and one between its scales at the
// nearest of them.
static_assert(lumo::gui::Editor::kScales == std::array<double, 4>{1.0, 1.5, 2.0, 3.0}, "the scales the note names");
constexpr Range kScaleRange{0.5, lumo::gui::Editor::kScales.back(),
                            "drawn at the nearest of 1, 1.5, 2 and 3 (a window says so when that differs)"};
// The body is drawn at scale x zoom snapped to the toolkit's scales: past the largest scale over
// the smallest, every zoom draws the same picture; below the editor's smallest, it draws that one.
// Zooms within the range may still draw alike: at scale 1, every one up to 1 draws at 1.
constexpr Range kZoomRange{lumo::gui::Editor::kSmallestZoom,
                           lumo::gui::Editor::kScales.back() / lumo::gui::Editor::kScales.front(),
                           "the body is drawn at scale x zoom rounded to the nearest scale drawn, so at scale 1 "
                           "every zoom up to 1 draws the same"};

// "from 0.5 to 3": the shortest decimal text of each end, in the C locale.
std::string rangeText(const Range& r) {
    auto text = [](double v) {
        char buf[32];
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
        return std::string(buf, ec == std::errc() ? end : buf);
    };
    return "from " + text(r.least) + " to " + text(r.most);
}

// Every word the program takes. value: what follows the word (nullptr for a switch).
struct Word {
    const char* name;
    const char* value;
    const char* help;
    const Range* range = nullptr;  // said after the help
};

constexpr Word kWords[] = {
    {"--source", "URL|DIR", "the catalog's base: a web address ending in \"/\" or a folder"},
    {"--pub", "KEYS", "the catalog's public keys, comma-separated hexadecimal"},
    {"--root", "DIR", "the folder everything is installed under"},
    {"--scope", "user|system", "the install scope (outranks the stored one)"},
    {"--data-dir", "DIR", "the manager's own data folders under DIR"},
    {"--offline", nullptr, "no network: the cached catalog only"},
    {"--look", "tq|pixel", "tq: the skin look; otherwise the pixel look"},
    {"--size", "WxH", "body size in logical units, such as 760x420"},
    {"--zoom", "Z", "zoom", &kZoomRange},
    {"--scale", "S", "display scale", &kScaleRange},
    {"--select", "N", "the row at this place in the list is selected at start"},
    {"--uninstall", nullptr, "opens the manager's own removal once the catalog is loaded"},
    {"--offer-install", nullptr, "lets the install offer open under --screenshot or --dump-tree"},
    {"--screenshot", "FILE", "paints the window once the catalog is loaded into a PNG and exits (no display needed)"},
    {"--dump-tree", nullptr, "prints the widget tree as JSON and exits (no display needed)"},
    {"--help", nullptr, "prints this text and exits"},
};

// Words of the automation harness this program does not carry.
constexpr const char* kUnsupported[] = {"--steps", "--frames"};

const Word* findWord(const std::string& w) {
    for (const Word& word : kWords)
        if (w == word.name) return &word;
    return nullptr;
}

bool parseInt(const char* begin, const char* end, int& value) {
    auto [at, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && at == end && value > 0;
}

// Checks every word, that each option that takes a value has one and that none is given twice:
// the manager reads one value of each, and which one would be a guess.
bool checkWords(const std::vector<std::string>& words, std::string& error) {
    std::map<std::string, std::string> given;  // option -> its value
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        for (const char* name : kUnsupported)
            if (w == name) {
                error = w + " is not supported by this program";
                return false;
            }
        const Word* word = findWord(w);
        if (!word) {
            error = (w.rfind('-', 0) == 0 ? "unknown option " : "unexpected word ") + w + " (--help lists the options)";
            return false;
        }
        const bool valued = word->value != nullptr;
        // A value never starts with "--": that is the next option, and this one's value is missing.
        if (valued && (i + 1 >= words.size() || words[i + 1].empty() || words[i + 1].rfind("--", 0) == 0)) {
            error = w + " needs a value: " + word->value;
            return false;
        }
        const std::string value = valued ? words[++i] : std::string();
        if (const auto [first, fresh] = given.emplace(w, value); !fresh) {
            error = w + " is given twice" + (valued ? " (" + first->second + ", then " + value + ")" : "") +
                    ": give it once";
            return false;
        }
    }
    return true;
}

// The value after the first word equal to name; empty when there is none.
std::string valueOf(const std::vector<std::string>& words, const char* name) {
    for (size_t i = 0; i + 1 < words.size(); ++i)
        if (words[i] == name) return words[i + 1];
    return {};
}

bool has(const std::vector<std::string>& words, const char* name) {
    for (const std::string& w : words)
        if (w == name) return true;
    return false;
}

}  // namespace

bool parseSize(const std::string& text, int& w, int& h) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return false;
    const char* s = text.data();
    return parseInt(s, s + x, w) && parseInt(s + x + 1, s + text.size(), h) && w <= kLargestPaintSide &&
           h <= kLargestPaintSide;
}

bool parseNumber(const std::string& text, double& value) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
    auto [at, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && at == text.data() + text.size() && std::isfinite(value);
}

bool paintableSize(double w, double h, std::string& error) {
    if (w <= kLargestPaintSide && h <= kLargestPaintSide && w * h <= double(kLargestPaintArea)) return true;
    error = "the window would be " + std::to_string(std::llround(w)) + "x" + std::to_string(std::llround(h)) +
            " pixels; at most " + std::to_string(kLargestPaintSide) + " a side and " +
            std::to_string(kLargestPaintArea) + " in all are painted: give a smaller --size, --zoom or --scale";
    return false;
}

bool parseEntryOptions(const std::vector<std::string>& words, EntryOptions& o, std::string& error) {
    o = EntryOptions{};
    if (has(words, "--help") || has(words, "-h")) {
        o.help = true;
        return true;
    }
    if (!checkWords(words, error)) return false;
    const std::string size = valueOf(words, "--size"), zoom = valueOf(words, "--zoom"),
                      scale = valueOf(words, "--scale");
    o.screenshot = valueOf(words, "--screenshot");
    o.dataDir = valueOf(words, "--data-dir");
    if (!size.empty() && !parseSize(size, o.width, o.height)) {
        error = "--size wants WxH in whole units up to " + std::to_string(kLargestPaintSide) + ", such as 760x420: " +
                size;
        return false;
    }
    if (!zoom.empty() && (!parseNumber(zoom, o.zoom) || !kZoomRange.holds(o.zoom))) {
        error = "--zoom wants a number " + rangeText(kZoomRange) + " (" + kZoomRange.note + "): " + zoom;
        return false;
    }
    if (!scale.empty() && (!parseNumber(scale, o.scale) || !kScaleRange.holds(o.scale))) {
        error = "--scale wants a number " + rangeText(kScaleRange) + " (the largest scale drawn): " + scale;
        return false;
    }
    // What is known of the painted size before the editor exists; the headless paint checks the
    // editor's own size again.
    if (o.width > 0) {
        const double factor = (o.zoom > 0 ? o.zoom : 1.0) * (o.scale > 0 ? o.scale : 1.0);
        if (!paintableSize(o.width * factor, o.height * factor, error)) return false;
    }
    o.dumpTree = has(words, "--dump-tree");
    return true;
}

bool readEntryOptions(EntryOptions& o, std::string& error) {
    return parseEntryOptions(lumo::standaloneArgs(), o, error);
}

void applyToProcess(const EntryOptions& o) {
    if (!o.dataDir.empty()) lumo::setDataFolderOverride(o.dataDir);
    if (o.scale > 0 && !o.headless()) lumo::setDisplayScaleOverride(o.scale);
}

std::string usageText() {
    std::string text = "usage: ardune-manager [options]\n";
    for (const Word& w : kWords) {
        std::string head = std::string("  ") + w.name + (w.value ? std::string(" ") + w.value : std::string());
        head.resize(std::max<size_t>(head.size() + 2, 28), ' ');
        text += head + w.help + (w.range ? ", " + rangeText(*w.range) : std::string()) +
                (w.range && w.range->note ? std::string("; ") + w.range->note : std::string()) + "\n";
    }
    return text;
}

}  // namespace tqapp
