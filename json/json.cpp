#include "json/json.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace lumo {

namespace {

// strtod in the C locale whatever the process locale is.
double strtodC(const char* s, char** end) {
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return strtod_l(s, end, c);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void appendUtf8(std::string& out, unsigned v) {
    if (v < 0x80) {
        out += char(v);
    } else if (v < 0x800) {
        out += char(0xC0 | (v >> 6));
        out += char(0x80 | (v & 0x3F));
    } else {
        out += char(0xE0 | (v >> 12));
        out += char(0x80 | ((v >> 6) & 0x3F));
        out += char(0x80 | (v & 0x3F));
    }
}

}  // namespace

void Json::Parser::skipSpace() {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
}

bool Json::Parser::value(Json& out) {
    skipSpace();
    if (depth > 64) return false;
    const char c = *p;
    if ((c == '[' || c == '{') && depth >= keepDepth) return skipContainer(out);
    if (c == '"') {
        out.kind = String;
        return string(out.text);
    }
    if (c == '[') {
        ++depth;
        bool ok = array(out);
        --depth;
        return ok;
    }
    if (c == '{') {
        ++depth;
        bool ok = object(out);
        --depth;
        return ok;
    }
    if (p[0] == 't' && p[1] == 'r' && p[2] == 'u' && p[3] == 'e') {
        out.kind = Bool;
        out.number = 1.0;
        p += 4;
        return true;
    }
    if (p[0] == 'f' && p[1] == 'a' && p[2] == 'l' && p[3] == 's' && p[4] == 'e') {
        out.kind = Bool;
        out.number = 0.0;
        p += 5;
        return true;
    }
    if (p[0] == 'n' && p[1] == 'u' && p[2] == 'l' && p[3] == 'l') {
        out.kind = Null;
        p += 4;
        return true;
    }
    if (c != '-' && (c < '0' || c > '9')) return false;
    char* end = nullptr;
    double v = strtodC(p, &end);
    if (end == p || std::isnan(v) || std::fabs(v) > 1e300) return false;
    out.kind = Number;
    out.number = v;
    p = end;
    return true;
}

bool Json::Parser::skipContainer(Json& out) {
    out.kind = *p == '[' ? Array : Object;
    int32_t level = 0;
    for (;; ++p) {
        const char c = *p;
        if (c == '\0') return false;
        if (c == '"') {
            for (++p; *p != '"'; ++p) {
                if (*p == '\0') return false;
                if (*p == '\\' && p[1] != '\0') ++p;
            }
        } else if (c == '[' || c == '{') {
            if (++level + depth > 65) return false;  // as deep as value() lets a container go
        } else if (c == ']' || c == '}') {
            if (--level == 0) {
                ++p;
                return true;
            }
        }
    }
}

bool Json::Parser::array(Json& out) {
    out.kind = Array;
    ++p;
    // An array that is a member of the top-level object has its items handed to take, when set.
    const std::string* key = depth == 2 ? takeKey : nullptr;
    if (key) (*take)(*key, nullptr);
    skipSpace();
    if (*p == ']') {
        ++p;
        return true;
    }
    for (;;) {
        // Read in place: a big document moves no finished subtrees about.
        Json& item = out.items.emplace_back();
        if (!value(item)) return false;
        if (key && (*take)(*key, &item)) out.items.pop_back();
        skipSpace();
        if (*p == ',') {
            ++p;
            continue;
        }
        if (*p == ']') {
            ++p;
            return true;
        }
        return false;
    }
}

bool Json::Parser::object(Json& out) {
    out.kind = Object;
    ++p;
    skipSpace();
    if (*p == '}') {
        ++p;
        return true;
    }
    for (;;) {
        skipSpace();
        std::string key;
        if (!string(key)) return false;
        skipSpace();
        if (*p != ':') return false;
        ++p;
        // The last of equal keys wins; the value is read in place.
        auto [at, fresh] = out.members.try_emplace(std::move(key));
        if (!fresh) at->second = Json();
        if (take && depth == 1) takeKey = &at->first;
        if (!value(at->second)) return false;
        skipSpace();
        if (*p == ',') {
            ++p;
            continue;
        }
        if (*p == '}') {
            ++p;
            return true;
        }
        return false;
    }
}

bool Json::Parser::string(std::string& out) {
    if (*p != '"') return false;
    ++p;
    for (;;) {
        const char c = *p;
        if (c == '\0') return false;
        if (c == '"') {
            ++p;
            return true;
        }
        if (c != '\\') {
            // Copy the run of plain bytes up to the next quote, backslash or end in one go.
            const char* start = p;
            p += std::strcspn(p, "\"\\");  // stops at the end, too
            out.append(start, size_t(p - start));
            continue;
        }
        const char e = p[1];
        if (e == '\0') return false;
        p += 2;
        switch (e) {
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            unsigned v = 0;
            for (int i = 0; i < 4; ++i) {
                int d = hexDigit(p[i]);  // stops at the NUL, which is no digit
                if (d < 0) return false;
                v = v * 16 + unsigned(d);
            }
            p += 4;
            appendUtf8(out, v);
            break;
        }
        default: out += e; break;
        }
    }
}

namespace {

// The value at the start of text; containers nested deeper than keepDepth are skipped, left empty.
Json parseText(const std::string& text, int32_t keepDepth, const Json::Take* take = nullptr) {
    Json::Parser parser;
    parser.p = text.c_str();
    parser.keepDepth = keepDepth;
    parser.take = take && *take ? take : nullptr;
    Json out;
    if (!parser.value(out)) return Json();
    return out;
}

std::string textOf(const void* data, size_t size) {
    return data ? std::string(static_cast<const char*>(data), size) : std::string();
}

}  // namespace

Json Json::parse(const std::string& text) { return parseText(text, Parser{}.keepDepth); }

Json Json::parse(const void* data, size_t size) { return parse(textOf(data, size)); }

Json Json::parse(const std::string& text, const Take& take) { return parseText(text, Parser{}.keepDepth, &take); }

Json Json::parseTop(const void* data, size_t size) { return parseText(textOf(data, size), 1); }

const Json& Json::nullKey() {
    static const Json v;
    return v;
}

const Json& Json::nullIndex() {
    static const Json v;
    return v;
}

const Json& Json::operator[](const std::string& key) const {
    if (kind != Object) return nullKey();
    auto it = members.find(key);
    return it == members.end() ? nullKey() : it->second;
}

const Json& Json::operator[](size_t index) const {
    if (kind != Array || index >= items.size()) return nullIndex();
    return items[index];
}

const std::string& Json::string() const {
    static const std::string empty;
    return kind == String ? text : empty;
}

const std::vector<Json>& Json::array() const {
    static const std::vector<Json> empty;
    return kind == Array ? items : empty;
}

const std::map<std::string, Json>& Json::object() const {
    static const std::map<std::string, Json> empty;
    return kind == Object ? members : empty;
}

std::string jsonQuote(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c < 0x20) {
                static const char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            } else {
                out += char(c);
            }
        }
    }
    out += '"';
    return out;
}

}  // namespace lumo
