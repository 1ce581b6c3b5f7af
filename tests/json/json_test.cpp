#include <gtest/gtest.h>

#include <string>

#include "json/json.h"

using lumo::Json;

namespace {

std::string nested(int depth, const std::string& inner) {
    return std::string(size_t(depth), '[') + inner + std::string(size_t(depth), ']');
}

}  // namespace

TEST(Json, RejectsMalformedDocuments) {
    for (const char* text : {"[1,2,]", "{\"a\":1,}", "{a:1}", "", "   \n\t", ".5", "+1", "NaN", "-inf", "1e301",
                             "\"abc", "\"\\u12\"", "[1 2]", "{\"a\" 1}", "\"abc\\", "-", "[", "{\"a\":}"}) {
        Json v = Json::parse(std::string(text));
        EXPECT_EQ(v.kind, Json::Null) << text;
        EXPECT_TRUE(v.items.empty() && v.members.empty() && v.text.empty()) << text;
    }
}

TEST(Json, NumbersAsStrtodReadsThem) {
    struct Case {
        const char* text;
        double want;
    } cases[] = {{"0x10", 16}, {"007", 7}, {"1.", 1}, {"1e300", 1e300}, {"-2.5e-3", -0.0025}, {"-0", 0}};
    for (const Case& c : cases) {
        Json v = Json::parse(std::string(c.text));
        ASSERT_EQ(v.kind, Json::Number) << c.text;
        EXPECT_DOUBLE_EQ(v.number, c.want) << c.text;
    }
}

TEST(Json, LiteralsObjectsAndTrailingBytes) {
    Json v = Json::parse(std::string("{\"b\":true,\"a\":1,\"a\":2,\"n\":null,\"f\":false} trailing junk"));
    ASSERT_EQ(v.kind, Json::Object);
    EXPECT_EQ(v["a"].number, 2);
    EXPECT_EQ(v["b"].kind, Json::Bool);
    EXPECT_EQ(v["b"].number, 1.0);
    EXPECT_EQ(v["f"].number, 0.0);
    EXPECT_EQ(v["n"].kind, Json::Null);
    // Members are ordered by key bytes, not document order.
    EXPECT_EQ(v.object().begin()->first, "a");
    EXPECT_EQ(Json::parse(std::string("[true,false]"))[1].kind, Json::Bool);
    EXPECT_EQ(Json::parse(std::string("[truex]")).kind, Json::Null);
}

TEST(Json, NestingLimit) {
    EXPECT_EQ(Json::parse(nested(64, "1")).kind, Json::Array);
    EXPECT_EQ(Json::parse(nested(65, "1")).kind, Json::Null);
    EXPECT_EQ(Json::parse(nested(65, "")).kind, Json::Array);
    // Deep input far past the limit fails quickly instead of exhausting the stack.
    EXPECT_EQ(Json::parse(nested(100000, "")).kind, Json::Null);
}

TEST(Json, TopLevelAloneKeepsPlainMembersAndPassesOverTheRest) {
    const std::string text = "{\"scale\": 1.5, \"files\": {\"a]\\\"}\": [1, {\"b\": \"[\"}]}, \"name\": \"x\", "
                             "\"list\": [[2]], \"on\": true}";
    const Json top = Json::parseTop(text.data(), text.size());
    ASSERT_EQ(top.kind, Json::Object);
    EXPECT_EQ(top["scale"].number, 1.5);
    EXPECT_EQ(top["name"].string(), "x");
    EXPECT_EQ(top["on"].kind, Json::Bool);
    EXPECT_EQ(top["files"].kind, Json::Object);
    EXPECT_TRUE(top["files"].object().empty());
    EXPECT_EQ(top["list"].kind, Json::Array);
    EXPECT_TRUE(top["list"].array().empty());
    // A text cut inside a nested string or container, or nested past the parser's limit, is no document.
    for (const std::string& text : {std::string("{\"a\": {\"b\": \"}\"}"), std::string("{\"a\": [1, [2]"),
                                    "{\"a\": " + nested(65, "") + "}"})
        EXPECT_EQ(Json::parseTop(text.data(), text.size()).kind, Json::Null) << text;
    EXPECT_EQ(Json::parseTop(nested(65, "").data(), 130).kind, Json::Array);
}

TEST(Json, StringEscapes) {
    EXPECT_EQ(Json::parse(std::string("\"\\u00e9\"")).string(), "\xC3\xA9");
    EXPECT_EQ(Json::parse(std::string("\"\\ud83d\\ude00\"")).string().size(), 6u);
    EXPECT_EQ(Json::parse(std::string("\"\\q\\/\\\\\\\"\"")).string(), "q/\\\"");
    EXPECT_EQ(Json::parse(std::string("\"a\nb\"")).string(), "a\nb");
    EXPECT_EQ(Json::parse(std::string("\"\\b\\f\\n\\r\\t\\u0041\\u07ff\"")).string(),
              "\b\f\n\r\tA\xDF\xBF");
    std::string withNul = Json::parse(std::string("\"a\\u0000b\"")).string();
    EXPECT_EQ(withNul, std::string("a\0b", 3));
}

// A key given again keeps only its last value; bytes above 0x7F and DEL are plain string bytes; take
// is handed "[" for each array of the top-level object (an empty one too) and its items, and no others;
// what it takes is left out. Each text is shown as its "a", then the calls to take.
TEST(Json, RepeatedKeysHighBytesAndTakenItems) {
    const auto show = [](const auto& self, const Json& j) -> std::string {
        std::string out = j.isNumber() ? std::to_string(int(j.number)) : j.kind == Json::String ? j.text : "";
        for (const Json& item : j.items) out += "[" + self(self, item) + "]";
        for (const auto& [key, value] : j.members) out += "{" + key + ":" + self(self, value) + "}";
        return out;
    };
    const std::string high = std::string("\x7F\xC3\xA9\xFF\x80") + std::string(100, '\xE2');
    const std::pair<std::string, std::string> cases[] = {
        {R"({"a": {"x": 1, "y": 2}, "a": {"z": 3}})", "{z:3} |"},
        {R"({"a": "a text longer than a short string holds", "a": 7})", "7 |"},
        {R"({"a": [11, 12, 13], "a": [14]})", "[14] | a[ a11 a12 a13 a[ a14"},  // take answers false above 9
        {R"({"a": [1], "b": [[2], {"c": [3]}], "a": {"b": [2]}})", "{b:[2]} | a[ a1 b[ b? b?"},
        {"{\"a\": [\"" + high + "\", 12, 3], \"" + high + "\": 1}", "[" + high + "][12] | a[ a? a12 a3"},
        {R"({"a": []})", " | a["},
        {R"({"o": {"a": [1]}, "a": 7})", "7 |"},
        {R"([[1], {"a": [2]}])", " |"},
        {R"({"a": [1, 2,]})", " | a[ a1 a2"},  // fails after items were handed: no document
    };
    for (const auto& [text, want] : cases) {
        std::string seen;
        const Json doc = Json::parse(text, [&](const std::string& key, Json* item) {
            seen += " " + key + (!item ? "[" : item->isNumber() ? std::to_string(int(item->number)) : "?");
            return !item || (item->isNumber() && item->number <= 9);
        });
        EXPECT_EQ(show(show, doc.isObject() ? doc["a"] : Json()) + " |" + seen, want) << text;
    }
    EXPECT_EQ(Json::parse(std::string("\"") + high + "\"").string(), high);
}

TEST(Json, NulByteEndsTheText) {
    const char data[] = "[1]\0garbage";
    EXPECT_EQ(Json::parse(data, sizeof data - 1).kind, Json::Array);
    const char cut[] = "[1,\0 2]";
    EXPECT_EQ(Json::parse(cut, sizeof cut - 1).kind, Json::Null);
    EXPECT_EQ(Json::parse(nullptr, 0).kind, Json::Null);
}

TEST(Json, LookupsNeverFailAndShareEmptyValues) {
    Json arr = Json::parse(std::string("[1,\"x\"]"));
    Json obj = Json::parse(std::string("{\"k\":[1]}"));
    Json num = Json::parse(std::string("3"));
    EXPECT_EQ(&arr["k"], &obj["missing"]);
    EXPECT_EQ(&obj[0], &arr[5]);
    EXPECT_NE(&arr["k"], &arr[5]);  // key and index lookups have their own empty value
    EXPECT_EQ(&num.string(), &arr.string());
    EXPECT_TRUE(num.array().empty());
    EXPECT_TRUE(num.object().empty());
    EXPECT_EQ(&num.array(), &obj.array());
    EXPECT_EQ(obj["k"][0].number, 1);
    EXPECT_EQ(arr[1].string(), "x");
    EXPECT_EQ(arr[-1].kind, Json::Null);
}

TEST(JsonQuote, EscapesAndRoundTrips) {
    EXPECT_EQ(lumo::jsonQuote(""), "\"\"");
    EXPECT_EQ(lumo::jsonQuote(std::string(1, '\x01')), "\"\\u0001\"");
    EXPECT_EQ(lumo::jsonQuote("\x1b"), "\"\\u001b\"");
    EXPECT_EQ(lumo::jsonQuote("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
    EXPECT_EQ(lumo::jsonQuote("a\"b\\c\td\ne\rf\x7f"), "\"a\\\"b\\\\c\\td\\ne\\rf\x7f\"");
    EXPECT_EQ(lumo::jsonQuote("\b\f\x1f"), "\"\\u0008\\u000c\\u001f\"");
    // Every byte string survives a round trip through the parser, NUL included.
    std::string all;
    for (int c = 1; c < 256; ++c) all += char(c);
    all += std::string(1, '\0') + "tail";
    EXPECT_EQ(lumo::Json::parse(lumo::jsonQuote(all)).string(), all);
}
