#pragma once
// Inside the SVG reader: the markup tree, the number cursor, style rules and paints, and the
// document walk that turns elements into shapes. Only svg*.cpp and their tests use this.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "gui/draw/svg.h"

namespace lumo::gui::svgread {

// One element of the markup.
struct XNode {
    std::string name;  // namespace prefix removed
    std::vector<std::pair<std::string, std::string>> attrs;
    std::vector<XNode> children;
    std::string text;  // character data directly inside this element

    const std::string* attr(const std::string& key) const;
};

// Deeper markup than this fails to parse.
constexpr int kMaxDepth = 256;

// Reads content from pos into parent; false for constructs that never end or nesting deeper than
// kMaxDepth (the caller then discards the tree).
bool parseXml(const std::string& text, size_t& pos, XNode& parent, int depth = 0);
std::string decodeEntities(const std::string& s);

// Reads numbers from a NUL-terminated text, in the C locale.
struct Num {
    const char* p;
    bool number(double& out);
};

bool isSpace(char c);
std::string trim(const std::string& s);

using Decls = std::vector<std::pair<std::string, std::string>>;
Decls declarations(const std::string& text);

struct Rule {
    std::string tag;  // empty matches any element
    std::string cls;  // empty matches any element
    int32_t specificity = 0;
    int32_t order = 0;
    Decls decls;
};

void collectSheets(const XNode& node, std::vector<Rule>& rules);
bool paintOf(const std::string& text, Svg::Paint& paint);

// x' = a x + c y + e, y' = b x + d y + f
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    Matrix operator*(const Matrix& m) const;
};
Matrix parseTransform(const std::string& text);

struct State {
    Svg::Paint fill{1, 0xFF000000u};
    Svg::Paint stroke{0, 0xFF000000u};
    bool hasColor = false;
    Color color = 0xFF000000u;
    double strokeWidth = 1.0;
    double miterLimit = 4.0;
    double fillOpacity = 1.0;
    double strokeOpacity = 1.0;
    double opacity = 1.0;
    int32_t cap = 0;
    int32_t join = 0;
    bool evenOdd = false;
    bool crisp = false;
    bool visible = true;
    Matrix matrix;
};

// Makes the segments of one element: points go through the element's matrix when stored; the
// current point and sub-path start stay in the element's own coordinates.
struct Builder {
    std::vector<Svg::Seg> segs;
    const Matrix* m = nullptr;
    double cx = 0, cy = 0;  // current point
    double sx = 0, sy = 0;  // start of the sub-path

    void move(double x, double y);
    void line(double x, double y);
    void cubic(double x1, double y1, double x2, double y2, double x, double y);
    void quad(double qx, double qy, double x, double y);
    void close();
    void arc(double rx, double ry, double rotation, bool large, bool sweep, double x, double y);
};

void ellipse(Builder& b, double cx, double cy, double rx, double ry);
void parsePathData(const std::string& d, Builder& b);

class SvgReader {
public:
    std::vector<Rule> rules;
    Svg* svg = nullptr;

    Decls props(const XNode& node) const;
    void walk(const XNode& node, State state);
    void shape(const State& state, const Builder& b);
};

}  // namespace lumo::gui::svgread
