#include <gtest/gtest.h>

#include <cmath>

#include "gui/draw/svg_read.h"

using namespace lumo::gui::svgread;

namespace {

bool parse(const std::string& text, XNode& root) {
    size_t pos = 0;
    root = XNode{};
    return parseXml(text, pos, root);
}

}  // namespace

TEST(SvgMarkup, ElementsAndAttributes) {
    XNode r;
    ASSERT_TRUE(parse("<svg/>", r));
    ASSERT_EQ(r.children.size(), 1u);
    EXPECT_EQ(r.children[0].name, "svg");
    EXPECT_TRUE(r.children[0].attrs.empty());
    EXPECT_TRUE(r.children[0].children.empty());

    ASSERT_TRUE(parse("<?xml version=\"1.0\"?><!DOCTYPE svg><a:svg xmlns:a='u' k = v checked><b/></a:svg>", r));
    ASSERT_EQ(r.children.size(), 1u);
    const XNode& s = r.children[0];
    EXPECT_EQ(s.name, "svg");
    ASSERT_EQ(s.attrs.size(), 3u);
    EXPECT_EQ(s.attrs[0].first, "xmlns:a");
    EXPECT_EQ(*s.attr("k"), "v");
    EXPECT_EQ(*s.attr("checked"), "");
    EXPECT_EQ(s.attr("K"), nullptr);
    EXPECT_EQ(s.children.size(), 1u);

    // An unquoted value keeps a following "/" and the element stays open.
    ASSERT_TRUE(parse("<a x=1/><b/>", r));
    ASSERT_EQ(r.children.size(), 1u);
    EXPECT_EQ(*r.children[0].attr("x"), "1/");
    EXPECT_EQ(r.children[0].children.size(), 1u);

    // A stray end tag at the top level ends the document.
    ASSERT_TRUE(parse("<a/></x><b/>", r));
    EXPECT_EQ(r.children.size(), 1u);
}

TEST(SvgMarkup, TextEntitiesAndCdata) {
    EXPECT_EQ(decodeEntities("&amp;&#65;&#x42;&#200;&foo;&;"), "&AB&foo;&;");
    EXPECT_EQ(decodeEntities("a & b"), "a & b");
    EXPECT_EQ(decodeEntities(";&amp;;&#66;&&"), ";&;B&&");
    EXPECT_EQ(decodeEntities("&lt;&gt;&quot;&apos;&#0;&#-3;&#X7e;"), "<>\"'~");
    XNode r;
    ASSERT_TRUE(parse("<s a=\"x&amp;y\" b=z&amp;>one <![CDATA[&lt;]]> two<c>in</c></s>", r));
    const XNode& s = r.children[0];
    EXPECT_EQ(*s.attr("a"), "x&y");
    EXPECT_EQ(*s.attr("b"), "z&amp;");  // unquoted values are taken as they stand
    EXPECT_EQ(s.text, "one &lt; two");
    EXPECT_EQ(s.children[0].text, "in");
}

TEST(SvgMarkup, FailuresAndDepth) {
    XNode r;
    for (const char* bad : {"<a><!-- never ends", "<![CDATA[ open", "<!DOCTYPE x", "<a></a", "<a b=\"1>",
                            "<a b", "<a"}) {
        EXPECT_FALSE(parse(bad, r)) << bad;
    }
    auto nested = [](int levels) {
        std::string s;
        for (int i = 0; i < levels; ++i) s += "<g>";
        return s;
    };
    EXPECT_TRUE(parse(nested(kMaxDepth), r));
    EXPECT_FALSE(parse(nested(kMaxDepth + 1), r));
    EXPECT_FALSE(parse(nested(200000), r));  // no stack exhaustion
    EXPECT_TRUE(parse("<a>open at the end", r));
}

TEST(SvgMarkup, Numbers) {
    struct Case {
        const char* text;
        std::vector<double> values;
        char stop;  // the character the cursor rests on afterwards
    } cases[] = {
        {" ,, -1.5e3x", {-1500}, 'x'},
        {"e5", {}, 'e'},
        {"1.5.3", {1.5, 0.3}, 0},
        {"10-5", {10, -5}, 0},
        {"24px", {24}, 'p'},
        {"5. .5", {5, 0.5}, 0},
        {" . 1", {}, '.'},
        {"2e", {2}, 'e'},
        {"0x10", {0}, 'x'},
        {"+3,-4", {3, -4}, 0},
        {"- 1", {}, '-'},
        {"1e400", {HUGE_VAL}, 0},
    };
    for (const auto& c : cases) {
        Num n{c.text};
        std::vector<double> got;
        double v = 42;
        while (n.number(v)) got.push_back(v);
        EXPECT_EQ(got, c.values) << c.text;
        EXPECT_EQ(*n.p, c.stop) << c.text;
    }
}
