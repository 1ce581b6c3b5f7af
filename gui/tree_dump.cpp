// Widget lookup by name path and the widget-tree document for automation. Both only read the tree.
#include <cxxabi.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <typeinfo>

#include "gui/editor.h"
#include "json/json.h"

namespace lumo::gui {

namespace {

struct Found {
    const Widget* widget;
    Rect rect;  // widget-local: the whole widget, or the matched item
    bool item;
};

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < path.size()) {
        if (path[i] == '/') {
            ++i;
            continue;
        }
        if (path.compare(i, 5, "item:") == 0) {  // runs to the end, slashes included
            out.push_back(path.substr(i));
            break;
        }
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        out.push_back(path.substr(i, j - i));
        i = j;
    }
    return out;
}

bool segmentMatches(const Widget& w, const std::string& segment) {
    if (!w.name.empty() && w.name == segment) return true;
    if (!startsWith(segment, "param:")) return false;
    WidgetInfo info;
    w.describe(info);
    return info.param >= 0 && std::to_string(info.param) == segment.substr(6);
}

void collect(const Widget& w, const std::vector<std::string>& segments, std::vector<Found>& matches) {
    if (!w.visible) return;
    const std::string& last = segments.back();
    bool match = segmentMatches(w, last);
    bool item = false;
    Rect rect{0, 0, w.bounds.w, w.bounds.h};
    if (!match && startsWith(last, "item:")) {
        WidgetInfo info;
        w.describe(info);
        for (const WidgetInfo::Part& part : info.parts) {
            if (part.label == last.substr(5)) {
                match = item = true;
                rect = part.rect;
                break;
            }
        }
    }
    if (match) {
        // The earlier segments name a subsequence of the ancestor chain.
        size_t k = segments.size() - 1;
        if (item && k > 0 && segmentMatches(w, segments[k - 1])) --k;
        for (const Widget* p = w.parent; p && k > 0; p = p->parent)
            if (segmentMatches(*p, segments[k - 1])) --k;
        if (k == 0) matches.push_back(Found{&w, rect, item});
    }
    for (const auto& child : w.children) collect(*child, segments, matches);
}

// An item rectangle placed inside its widget's device rectangle.
Rect placeItem(const Rect& device, const Rect& item, double f) {
    auto r = [](double v) { return int(std::lround(v)); };
    return Rect{device.x + r(item.x * f), device.y + r(item.y * f), r((item.x + item.w) * f) - r(item.x * f),
                r((item.y + item.h) * f) - r(item.y * f)};
}

// The dynamic class name without its namespaces and enclosing classes; template arguments kept.
std::string typeName(const Widget& w) {
    const char* mangled = typeid(w).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : mangled;
    std::free(demangled);
    size_t cut = 0;
    int depth = 0;
    for (size_t i = 0; i + 1 < name.size(); ++i) {
        if (name[i] == '<') ++depth;
        else if (name[i] == '>') --depth;
        else if (depth == 0 && name[i] == ':' && name[i + 1] == ':') cut = i + 2;
    }
    return name.substr(cut);
}

const char* boolText(bool b) { return b ? "true" : "false"; }

}  // namespace

Widget* Editor::findByName(const std::string& path, int* count, Rect* rect) const {
    std::vector<std::string> segments = splitPath(path);
    std::vector<Found> matches;
    if (!segments.empty()) {
        for (size_t i = overlays_.size(); i-- > 0;) collect(*overlays_[i].widget, segments, matches);
        if (header_) collect(*header_, segments, matches);
        collect(*root_, segments, matches);
    }
    if (count) *count = int(matches.size());
    if (matches.empty()) return nullptr;
    const Found& first = matches.front();
    if (rect) {
        const Widget& w = *first.widget;
        Rect device = deviceRect(&w, Rect{0, 0, w.bounds.w, w.bounds.h});
        *rect = first.item ? placeItem(device, first.rect, spaceOf(&w).first) : device;
    }
    return const_cast<Widget*>(first.widget);
}

namespace {

struct TreeWriter {
    const Editor& editor;
    std::string out;

    void widget(const Widget& w, int indent, bool parentVisible) {
        const std::string pad(size_t(indent), ' ');
        bool visible = parentVisible && w.visible;
        out += pad + "{\"type\": ";
        out += lumo::jsonQuote(typeName(w));
        if (!w.name.empty()) {
            out += ", \"name\": ";
            out += lumo::jsonQuote(w.name);
        }
        Rect d = editor.deviceRect(&w, Rect{0, 0, w.bounds.w, w.bounds.h});
        char buf[160];
        std::snprintf(buf, sizeof buf,
                      ", \"x\": %d, \"y\": %d, \"w\": %d, \"h\": %d, \"visible\": %s, \"enabled\": %s, \"mouse\": %s",
                      d.x, d.y, d.w, d.h, boolText(visible), boolText(w.enabled), boolText(w.wantsMouse()));
        out += buf;
        if (editor.focus() == &w) out += ", \"focused\": true";
        if (editor.hover() == &w) out += ", \"hovered\": true";
        WidgetInfo info;
        w.describe(info);
        if (info.param >= 0) out += ", \"param\": " + std::to_string(info.param);
        if (!info.value.empty()) {
            out += ", \"value\": ";
            out += lumo::jsonQuote(info.value);
        }
        if (!w.tooltip.empty()) {
            out += ", \"tooltip\": ";
            out += lumo::jsonQuote(w.tooltip);
        }
        if (!info.parts.empty()) {
            double f = editor.spaceOf(&w).first;
            out += ", \"items\": [\n";
            for (size_t i = 0; i < info.parts.size(); ++i) {
                const WidgetInfo::Part& part = info.parts[i];
                Rect r = placeItem(d, part.rect, f);
                out += pad + "  {\"label\": ";
                out += lumo::jsonQuote(part.label);
                std::snprintf(buf, sizeof buf, ", \"x\": %d, \"y\": %d, \"w\": %d, \"h\": %d, \"enabled\": %s, \"checked\": %s}",
                              r.x, r.y, r.w, r.h, boolText(part.enabled), boolText(part.checked));
                out += buf;
                out += i + 1 < info.parts.size() ? ",\n" : "\n";
            }
            out += pad + "]";
        }
        if (!w.children.empty()) {
            out += ", \"children\": [\n";
            for (size_t i = 0; i < w.children.size(); ++i) {
                widget(*w.children[i], indent + 2, visible);
                out += i + 1 < w.children.size() ? ",\n" : "\n";
            }
            out += pad + "]";
        }
        out += "}";
    }
};

}  // namespace

std::string Editor::treeJson() const {
    TreeWriter writer{*this, {}};
    char buf[200];
    std::snprintf(buf, sizeof buf,
                  "{\"width\": %d, \"height\": %d, \"dpi\": %.4g, \"zoom\": %.4g, \"scale\": %.4g, \"headerHeight\": %d,\n",
                  pixelWidth(), pixelHeight(), scale_, zoom_, bodyScale(), headerPixelHeight());
    std::string& out = writer.out;
    out += buf;
    out += "\"header\": ";
    if (header_) {
        out += "\n";
        writer.widget(*header_, 0, true);
    } else {
        out += "null";
    }
    out += ",\n\"body\":\n";
    writer.widget(*root_, 0, true);
    out += ",\n\"overlays\": [";
    for (size_t i = 0; i < overlays_.size(); ++i) {
        out += i == 0 ? "\n" : ",\n";
        writer.widget(*overlays_[i].widget, 0, true);
    }
    out += overlays_.empty() ? "]}\n" : "\n]}\n";
    return out;
}

}  // namespace lumo::gui
