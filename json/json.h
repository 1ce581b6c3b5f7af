#pragma once
// lumo::Json: the one read-only JSON document model of the system.
// Parsing never says why it failed (any error gives Null); lookups never fail
// (a missing key, index or wrong kind gives a shared empty value).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace lumo {

struct Json {
    enum Kind : int32_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

    Kind kind = Null;
    double number = 0.0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;

    static Json parse(const std::string& text);
    static Json parse(const void* data, size_t size);
    // The top-level value alone: its plain members or items are kept; nested arrays and objects are
    // passed over by their brackets and strings and stand as empty ones.
    static Json parseTop(const void* data, size_t size);
    // As parse, handing each item of an array that is a member of the top-level object to take as
    // soon as it is read: take(key, nullptr) when such an array begins, then take(key, &item) for
    // each item, which is not kept in the document when take answers true. A document's long lists
    // of records need never stand whole in memory.
    using Take = std::function<bool(const std::string& key, Json* item)>;
    static Json parse(const std::string& text, const Take& take);

    const Json& operator[](const std::string& key) const;
    const Json& operator[](const char* key) const { return (*this)[std::string(key)]; }
    const Json& operator[](size_t index) const;
    const Json& operator[](int index) const { return index < 0 ? nullIndex() : (*this)[size_t(index)]; }

    const std::string& string() const;
    const std::vector<Json>& array() const;
    const std::map<std::string, Json>& object() const;

    bool isNull() const { return kind == Null; }
    bool isNumber() const { return kind == Number; }
    bool isString() const { return kind == String; }
    bool isArray() const { return kind == Array; }
    bool isObject() const { return kind == Object; }

    // The cursor of the recursive-descent parser over a NUL-terminated text.
    struct Parser {
        const char* p = nullptr;
        int32_t depth = 0;
        int32_t keepDepth = 1 << 30;  // containers nested deeper than this are skipped, left empty
        const Take* take = nullptr;
        const std::string* takeKey = nullptr;  // the top-level member being read, when take is set
        bool value(Json& out);
        bool object(Json& out);
        bool array(Json& out);
        bool string(std::string& out);
        bool skipContainer(Json& out);
        void skipSpace();
    };

private:
    static const Json& nullKey();
    static const Json& nullIndex();
};

// The JSON string literal of text, quotes included, for the JSON files written by hand: '"', '\\'
// and every control character escaped; other bytes (UTF-8 text) are kept as they are.
std::string jsonQuote(const std::string& text);

}  // namespace lumo
