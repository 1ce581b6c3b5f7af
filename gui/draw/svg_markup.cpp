// A small, forgiving markup reader for SVG text: elements, attributes, character data. It does
// not validate; it fails only for constructs that never end and for absurdly deep nesting.
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>

#include "gui/draw/svg_read.h"

namespace lumo::gui::svgread {

const std::string* XNode::attr(const std::string& key) const {
    for (const auto& a : attrs)
        if (a.first == key) return &a.second;
    return nullptr;
}

bool isSpace(char c) { return std::isspace((unsigned char)c) != 0; }

namespace {

bool startsWith(const std::string& s, size_t pos, const char* lit) {
    return s.compare(pos, std::strlen(lit), lit) == 0;
}

bool readStartTag(const std::string& text, size_t& pos, XNode& parent, int depth) {
    const size_t n = text.size();
    XNode node;
    ++pos;  // '<'
    size_t b = pos;
    while (pos < n && !isSpace(text[pos]) && text[pos] != '/' && text[pos] != '>') ++pos;
    node.name = text.substr(b, pos - b);
    size_t colon = node.name.find(':');
    if (colon != std::string::npos) node.name.erase(0, colon + 1);

    bool selfClosing = false;
    for (;;) {
        while (pos < n && isSpace(text[pos])) ++pos;
        if (pos >= n) return false;
        char c = text[pos];
        if (c == '>') {
            ++pos;
            break;
        }
        if (c == '/') {
            selfClosing = true;
            ++pos;
            continue;
        }
        b = pos;
        while (pos < n && text[pos] != '=' && !isSpace(text[pos]) && text[pos] != '/' && text[pos] != '>') ++pos;
        std::string name = text.substr(b, pos - b);
        std::string value;
        while (pos < n && isSpace(text[pos])) ++pos;
        if (pos < n && text[pos] == '=') {
            ++pos;
            while (pos < n && isSpace(text[pos])) ++pos;
            if (pos < n && (text[pos] == '"' || text[pos] == '\'')) {
                size_t end = text.find(text[pos], pos + 1);
                if (end == std::string::npos) return false;
                value = decodeEntities(text.substr(pos + 1, end - pos - 1));
                pos = end + 1;
            } else {
                b = pos;
                while (pos < n && !isSpace(text[pos]) && text[pos] != '>') ++pos;
                value = text.substr(b, pos - b);
            }
        }
        if (!name.empty()) node.attrs.emplace_back(std::move(name), std::move(value));
    }
    if (!selfClosing && !parseXml(text, pos, node, depth + 1)) return false;
    parent.children.push_back(std::move(node));
    return true;
}

}  // namespace

bool parseXml(const std::string& text, size_t& pos, XNode& parent, int depth) {
    const size_t n = text.size();
    while (pos < n) {
        if (text[pos] != '<') {
            size_t end = text.find('<', pos);
            if (end == std::string::npos) end = n;
            parent.text += decodeEntities(text.substr(pos, end - pos));
            pos = end;
        } else if (startsWith(text, pos, "<!--")) {
            size_t end = text.find("-->", pos + 4);
            if (end == std::string::npos) return false;
            pos = end + 3;
        } else if (startsWith(text, pos, "<![CDATA[")) {
            size_t end = text.find("]]>", pos + 9);
            if (end == std::string::npos) return false;
            parent.text.append(text, pos + 9, end - pos - 9);
            pos = end + 3;
        } else if (startsWith(text, pos, "<?") || startsWith(text, pos, "<!")) {
            size_t end = text.find('>', pos + 2);
            if (end == std::string::npos) return false;
            pos = end + 1;
        } else if (startsWith(text, pos, "</")) {
            size_t end = text.find('>', pos + 2);
            if (end == std::string::npos) return false;
            pos = end + 1;
            return true;
        } else {
            // The element would sit one level below this content.
            if (depth + 1 > kMaxDepth) return false;
            if (!readStartTag(text, pos, parent, depth)) return false;
        }
    }
    return true;
}

std::string decodeEntities(const std::string& s) {
    if (s.find('&') == std::string::npos) return s;
    std::string out;
    out.reserve(s.size());
    // The next ";" is searched again only once passed, so a run of "&" without one stays linear.
    size_t semi = s.find(';');
    for (size_t i = 0; i < s.size(); ++i) {
        if (semi != std::string::npos && semi <= i) semi = s.find(';', i + 1);
        if (s[i] != '&' || semi == std::string::npos) {
            out += s[i];
            continue;
        }
        std::string name = s.substr(i + 1, semi - i - 1);
        if (name == "amp") {
            out += '&';
        } else if (name == "lt") {
            out += '<';
        } else if (name == "gt") {
            out += '>';
        } else if (name == "quot") {
            out += '"';
        } else if (name == "apos") {
            out += '\'';
        } else if (!name.empty() && name[0] == '#') {
            bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
            long v = std::strtol(name.c_str() + (hex ? 2 : 1), nullptr, hex ? 16 : 10);
            if (v >= 1 && v <= 127) out += (char)v;
        } else {
            out.append(s, i, semi - i + 1);
        }
        i = semi;
    }
    return out;
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

locale_t cLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    return loc;
}

}  // namespace

bool Num::number(double& out) {
    while (*p && (isSpace(*p) || *p == ',')) ++p;
    const char* s = p;
    const char* q = p;
    if (*q == '+' || *q == '-') ++q;
    int digits = 0;
    while (isDigit(*q)) ++q, ++digits;
    if (*q == '.') {
        const char* r = q + 1;
        int frac = 0;
        while (isDigit(*r)) ++r, ++frac;
        if (digits + frac > 0) {
            q = r;
            digits += frac;
        }
    }
    if (digits == 0) return false;
    if (*q == 'e' || *q == 'E') {
        const char* r = q + 1;
        if (*r == '+' || *r == '-') ++r;
        if (isDigit(*r)) {
            while (isDigit(*r)) ++r;
            q = r;
        }
    }
    // Only the accepted text is converted, so "0x10" stays 0 and "inf" is never a number.
    std::string t(s, (size_t)(q - s));
    out = strtod_l(t.c_str(), nullptr, cLocale());
    p = q;
    return true;
}

}  // namespace lumo::gui::svgread
