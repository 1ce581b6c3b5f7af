// Style sheets and paints: simple-selector rules from style elements, declaration lists, and
// paint and colour values.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>

#include "gui/draw/svg_read.h"

namespace lumo::gui::svgread {

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isSpace(s[b])) ++b;
    while (e > b && isSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

Decls declarations(const std::string& text) {
    Decls out;
    size_t pos = 0;
    for (;;) {
        size_t semi = text.find(';', pos);
        std::string piece = text.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos);
        size_t colon = piece.find(':');
        if (colon != std::string::npos) {
            std::string name = trim(piece.substr(0, colon));
            std::string value = trim(piece.substr(colon + 1));
            size_t imp;
            if (value.size() >= 10 && (imp = value.find("!important")) != std::string::npos)
                value = trim(value.substr(0, imp));
            out.emplace_back(std::move(name), std::move(value));
        }
        if (semi == std::string::npos) break;
        pos = semi + 1;
    }
    return out;
}

namespace {

void addRules(const std::string& sheet, std::vector<Rule>& rules) {
    size_t pos = 0;
    // The next "{" and "/*" at or after pos, searched again only once passed, so that long runs of
    // comments or rules stay linear.
    size_t brace = sheet.find('{'), comment = sheet.find("/*");
    for (;;) {
        if (brace != std::string::npos && brace < pos) brace = sheet.find('{', pos);
        if (brace == std::string::npos) return;
        if (comment != std::string::npos && comment < pos) comment = sheet.find("/*", pos);
        if (comment != std::string::npos && comment < brace) {
            size_t end = sheet.find("*/", comment + 2);
            if (end == std::string::npos) return;
            pos = end + 2;
            continue;
        }
        size_t close = sheet.find('}', brace + 1);
        if (close == std::string::npos) return;
        std::string selectors = sheet.substr(pos, brace - pos);
        Decls decls = declarations(sheet.substr(brace + 1, close - brace - 1));
        size_t from = 0;
        for (;;) {
            size_t comma = selectors.find(',', from);
            std::string piece =
                trim(selectors.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
            // Combinators, ids, attribute selectors and pseudo-classes are not supported.
            if (!piece.empty() && piece.find_first_of(" #+:>[~") == std::string::npos) {
                Rule r;
                size_t dot = piece.find('.');
                r.tag = piece.substr(0, dot);
                if (dot != std::string::npos) r.cls = piece.substr(dot + 1);
                if (r.tag == "*") r.tag.clear();
                r.specificity = (r.cls.empty() ? 0 : 10) + (r.tag.empty() ? 0 : 1);
                r.order = (int32_t)rules.size();
                r.decls = decls;
                rules.push_back(std::move(r));
            }
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
        pos = close + 1;
    }
}

const std::map<std::string, uint32_t>& names() {
    static const std::map<std::string, uint32_t> table = {
        {"black", 0x000000},  {"white", 0xffffff}, {"red", 0xff0000},    {"green", 0x008000},
        {"blue", 0x0000ff},   {"gray", 0x808080},  {"grey", 0x808080},   {"silver", 0xc0c0c0},
        {"yellow", 0xffff00}, {"orange", 0xffa500},
    };
    return table;
}

Color opaque(uint32_t r, uint32_t g, uint32_t b) { return 0xFF000000u | (b << 16) | (g << 8) | r; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void collectSheets(const XNode& node, std::vector<Rule>& rules) {
    if (node.name == "style") addRules(node.text, rules);
    for (const auto& c : node.children) collectSheets(c, rules);
}

bool paintOf(const std::string& text, Svg::Paint& paint) {
    std::string t = trim(text);
    std::string lower = t;
    for (auto& c : lower) c = (char)std::tolower((unsigned char)c);
    if (lower == "none" || lower == "transparent") {
        paint.kind = 0;
        return true;
    }
    if (lower == "currentcolor") {
        paint.kind = 2;
        return true;
    }
    if (!t.empty() && t[0] == '#' &&
        std::all_of(t.begin() + 1, t.end(), [](char c) { return hexValue(c) >= 0; })) {
        if (t.size() == 4) {
            paint.kind = 1;
            paint.color = opaque(hexValue(t[1]) * 17u, hexValue(t[2]) * 17u, hexValue(t[3]) * 17u);
            return true;
        }
        if (t.size() == 7) {
            auto byte = [&](size_t i) { return (uint32_t)(hexValue(t[i]) * 16 + hexValue(t[i + 1])); };
            paint.kind = 1;
            paint.color = opaque(byte(1), byte(3), byte(5));
            return true;
        }
    }
    if (lower.compare(0, 4, "rgb(") == 0) {
        size_t end = lower.find(')', 4);
        std::string inner = lower.substr(4, end == std::string::npos ? std::string::npos : end - 4);
        double ch[3] = {0, 0, 0};
        size_t from = 0;
        for (int i = 0; i < 3; ++i) {
            size_t comma = inner.find(',', from);
            std::string part = trim(inner.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
            Num num{part.c_str()};
            double v = 0;
            if (!num.number(v)) v = 0;
            // Percentages as v x 255 / 100: "50%" is 127.5 and rounds to 128.
            if (part.find('%') != std::string::npos) v = v * 255.0 / 100.0;
            ch[i] = v;
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
        uint32_t c[3];
        for (int i = 0; i < 3; ++i) {
            double v = std::isnan(ch[i]) ? 0.0 : std::clamp(ch[i], 0.0, 255.0);
            c[i] = (uint32_t)std::round(v);
        }
        paint.kind = 1;
        paint.color = opaque(c[0], c[1], c[2]);
        return true;
    }
    auto it = names().find(lower);
    if (it == names().end()) return false;
    uint32_t v = it->second;
    paint.kind = 1;
    paint.color = opaque(v >> 16, (v >> 8) & 0xFF, v & 0xFF);
    return true;
}

}  // namespace lumo::gui::svgread
