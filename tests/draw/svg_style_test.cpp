#include <gtest/gtest.h>

#include "gui/draw/svg_read.h"

using namespace lumo::gui;
using namespace lumo::gui::svgread;

namespace {

// The last value of a property in an element's declaration list.
std::string last(const Decls& d, const std::string& name) {
    std::string v;
    for (const auto& [n, val] : d)
        if (n == name) v = val;
    return v;
}

XNode element(const std::string& name, std::vector<std::pair<std::string, std::string>> attrs) {
    XNode n;
    n.name = name;
    n.attrs = std::move(attrs);
    return n;
}

SvgReader readerWith(const std::string& sheet) {
    XNode style;
    style.name = "style";
    style.text = sheet;
    SvgReader r;
    collectSheets(style, r.rules);
    return r;
}

}  // namespace

TEST(SvgStyle, Declarations) {
    Decls d = declarations(" fill : red ;; nothing ; stroke:blue !important;:x;w: 2 ");
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0], (std::pair<std::string, std::string>{"fill", "red"}));
    EXPECT_EQ(d[1].second, "blue");
    EXPECT_EQ(d[2].first, "");
    EXPECT_EQ(d[3], (std::pair<std::string, std::string>{"w", "2"}));
}

TEST(SvgStyle, RuleOrderAndSpecificity) {
    SvgReader r = readerWith(
        "/* note { } */ .hot { fill: red } rect { fill: blue; stroke: green } "
        ".a { opacity: 1 } /* .a { opacity: 0.7 } */ .a { opacity: 0.5 } g rect, #id, rect:hover, a>b, [x] { fill: pink } "
        "*.b { stroke: gray } circle.y.z { fill: black } rect.hot { stroke-width: 3 }");
    XNode rect = element("rect", {{"class", " a  hot "}, {"fill", "white"}});
    Decls d = r.props(rect);
    EXPECT_EQ(last(d, "fill"), "red");          // class rule beats the tag rule written after it
    EXPECT_EQ(last(d, "opacity"), "0.5");       // later of two equal rules
    EXPECT_EQ(last(d, "stroke"), "green");
    EXPECT_EQ(last(d, "stroke-width"), "3");
    XNode other = element("circle", {{"class", "b y z"}});
    Decls e = r.props(other);
    EXPECT_EQ(last(e, "stroke"), "gray");
    EXPECT_EQ(last(e, "fill"), "");  // neither unsupported selectors nor a.b.c match

    XNode styled = element("rect", {{"fill", "white"}, {"style", "fill: black !important"}, {"class", "hot"}});
    EXPECT_EQ(last(r.props(styled), "fill"), "black");  // style attribute over sheet over attribute
    XNode plain = element("path", {{"fill", "white"}});
    EXPECT_EQ(last(r.props(plain), "fill"), "white");
}

TEST(SvgStyle, Paints) {
    struct Case {
        const char* text;
        bool ok;
        int kind;
        Color color;
    } cases[] = {
        {"  #ABC ", true, 1, 0xFFCCBBAAu},
        {"#f80", true, 1, 0xFF0088FFu},
        {"#102030", true, 1, 0xFF302010u},
        {"#1234", false, 0, 0},
        {"#12345678", false, 0, 0},
        {"#12g", false, 0, 0},
        {"rgb(100%, 50%, 0)", true, 1, 0xFF0080FFu},
        {"RGB(300, -5, x)", true, 1, 0xFF0000FFu},
        {"rgb(10,20", true, 1, 0xFF00140Au},
        {"rgba(1,2,3,0.5)", false, 0, 0},
        {"TransParent", true, 0, 0},
        {"none", true, 0, 0},
        {"currentColor", true, 2, 0},
        {"Orange", true, 1, 0xFF00A5FFu},
        {"grey", true, 1, 0xFF808080u},
        {"teal", false, 0, 0},
        {"url(#g)", false, 0, 0},
    };
    for (const auto& c : cases) {
        Svg::Paint p{1, 0x12345678u};
        EXPECT_EQ(paintOf(c.text, p), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_EQ(p.kind, 1) << c.text;  // untouched
            EXPECT_EQ(p.color, 0x12345678u) << c.text;
            continue;
        }
        EXPECT_EQ(p.kind, c.kind) << c.text;
        if (c.kind == 1) {
            EXPECT_EQ(p.color, c.color) << c.text;
        }
    }
}
