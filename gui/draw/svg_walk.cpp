// The document walk: inherited drawing state per element, declarations and transforms applied,
// and every supported shape element turned into path segments with paints and stroke style.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "gui/draw/svg_read.h"

namespace lumo::gui::svgread {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kArcK = 0.5522847498;  // 4/3 (sqrt 2 - 1)

// The first attribute of the name read as a number, or the default.
double numAttr(const XNode& node, const char* name, double def) {
    const std::string* v = node.attr(name);
    if (!v) return def;
    Num n{v->c_str()};
    double out = def;
    return n.number(out) ? out : def;
}

bool hasNumAttr(const XNode& node, const char* name, double& out) {
    const std::string* v = node.attr(name);
    if (!v) return false;
    Num n{v->c_str()};
    return n.number(out);
}

// Opacity values: a number (1 when unreadable), per cent when marked, clamped to 0..1.
double opacityOf(const std::string& v) {
    Num n{v.c_str()};
    double x = 1.0;
    if (!n.number(x)) x = 1.0;
    if (v.find('%') != std::string::npos) x /= 100.0;
    if (std::isnan(x)) return 1.0;
    return std::clamp(x, 0.0, 1.0);
}

bool skippedElement(const std::string& name) {
    static const char* const kSkip[] = {"defs",           "title",          "desc",   "metadata", "style",
                                        "clipPath",       "mask",           "pattern", "linearGradient",
                                        "radialGradient", "symbol",         "marker", "filter",   "text",
                                        "script"};
    for (const char* s : kSkip)
        if (name == s) return true;
    return false;
}

}  // namespace

Matrix Matrix::operator*(const Matrix& m) const {
    Matrix r;
    r.a = a * m.a + c * m.b;
    r.b = b * m.a + d * m.b;
    r.c = a * m.c + c * m.d;
    r.d = b * m.c + d * m.d;
    r.e = a * m.e + c * m.f + e;
    r.f = b * m.e + d * m.f + f;
    return r;
}

Matrix parseTransform(const std::string& text) {
    Matrix total;
    size_t pos = 0;
    for (;;) {
        while (pos < text.size() && (isSpace(text[pos]) || text[pos] == ',')) ++pos;
        size_t open = text.find('(', pos);
        if (open == std::string::npos) break;
        size_t close = text.find(')', open);
        if (close == std::string::npos) break;
        std::string name = trim(text.substr(pos, open - pos));
        std::string args = text.substr(open + 1, close - open - 1);
        std::vector<double> v;
        Num num{args.c_str()};
        double x;
        while (num.number(x)) v.push_back(x);
        pos = close + 1;

        Matrix m;
        size_t n = v.size();
        if (name == "matrix") {
            if (n >= 6) m = {v[0], v[1], v[2], v[3], v[4], v[5]};
        } else if (name == "translate") {
            if (n >= 1) {
                m.e = v[0];
                m.f = n >= 2 ? v[1] : 0.0;
            }
        } else if (name == "scale") {
            if (n >= 1) {
                m.a = v[0];
                m.d = n >= 2 ? v[1] : v[0];
            }
        } else if (name == "rotate") {
            if (n >= 1) {
                double t = v[0] * kPi / 180.0, cs = std::cos(t), sn = std::sin(t);
                m.a = cs;
                m.b = sn;
                m.c = -sn;
                m.d = cs;
                if (n >= 3) {
                    m.e = v[1] - v[1] * cs + v[2] * sn;
                    m.f = v[2] - v[1] * sn - v[2] * cs;
                }
            }
        } else if (name == "skewX") {
            if (n >= 1) m.c = std::tan(v[0] * kPi / 180.0);  // degrees, like rotate
        } else if (name == "skewY") {
            if (n >= 1) m.b = std::tan(v[0] * kPi / 180.0);
        }
        total = total * m;
    }
    return total;
}

namespace {

// A one-point segment with the point mapped through the matrix.
Svg::Seg pointSeg(char cmd, const Matrix& m, double x, double y) {
    Svg::Seg s;
    s.cmd = cmd;
    s.p[0] = m.a * x + m.c * y + m.e;
    s.p[1] = m.b * x + m.d * y + m.f;
    return s;
}

}  // namespace

void Builder::move(double x, double y) {
    segs.push_back(pointSeg('M', *m, x, y));
    cx = sx = x;
    cy = sy = y;
}

void Builder::line(double x, double y) {
    segs.push_back(pointSeg('L', *m, x, y));
    cx = x;
    cy = y;
}

void Builder::cubic(double x1, double y1, double x2, double y2, double x, double y) {
    Svg::Seg s;
    s.cmd = 'C';
    const double pts[6] = {x1, y1, x2, y2, x, y};
    for (int i = 0; i < 6; i += 2) {
        s.p[i] = m->a * pts[i] + m->c * pts[i + 1] + m->e;
        s.p[i + 1] = m->b * pts[i] + m->d * pts[i + 1] + m->f;
    }
    segs.push_back(s);
    cx = x;
    cy = y;
}

void Builder::quad(double qx, double qy, double x, double y) {
    double x0 = cx, y0 = cy;
    cubic(x0 + 2.0 / 3.0 * (qx - x0), y0 + 2.0 / 3.0 * (qy - y0), x + 2.0 / 3.0 * (qx - x),
          y + 2.0 / 3.0 * (qy - y), x, y);
}

void Builder::close() {
    Svg::Seg s;
    s.cmd = 'Z';
    segs.push_back(s);
    cx = sx;
    cy = sy;
}

void Builder::arc(double rx, double ry, double rotation, bool large, bool sweep, double x, double y) {
    if (x == cx && y == cy) return;
    rx = std::fabs(rx);
    ry = std::fabs(ry);
    if (!(rx >= 1e-12) || !(ry >= 1e-12)) {
        line(x, y);
        return;
    }
    double phi = rotation * kPi / 180.0, cp = std::cos(phi), sp = std::sin(phi);
    double hx = (cx - x) / 2, hy = (cy - y) / 2;
    double x1 = cp * hx + sp * hy, y1 = -sp * hx + cp * hy;
    double lambda = x1 * x1 / (rx * rx) + y1 * y1 / (ry * ry);
    if (lambda > 1) {
        double s = std::sqrt(lambda);
        rx *= s;
        ry *= s;
    }
    double rx2 = rx * rx, ry2 = ry * ry;
    double num = rx2 * ry2 - rx2 * y1 * y1 - ry2 * x1 * x1;
    double den = rx2 * y1 * y1 + ry2 * x1 * x1;
    double k = std::sqrt(std::max(0.0, num / den));
    if (large == sweep) k = -k;
    double cxp = k * rx * y1 / ry, cyp = -k * ry * x1 / rx;
    double ccx = cp * cxp - sp * cyp + (cx + x) / 2;
    double ccy = sp * cxp + cp * cyp + (cy + y) / 2;
    double ux = (x1 - cxp) / rx, uy = (y1 - cyp) / ry;
    double vx = (-x1 - cxp) / rx, vy = (-y1 - cyp) / ry;
    double t1 = std::atan2(uy, ux);
    double dt = std::atan2(vy, vx) - t1;
    if (!sweep && dt > 0) dt -= 2 * kPi;
    if (sweep && dt < 0) dt += 2 * kPi;
    // dt lies within one turn when finite; NaN from absurd input draws one piece.
    double pieces = std::ceil(std::fabs(dt) / (kPi / 2) - 1e-9);
    int n = (pieces >= 1 && pieces <= 4) ? (int)pieces : 1;
    double delta = dt / n, t = 4.0 / 3.0 * std::tan(delta / 4);
    auto point = [&](double a, double& px, double& py) {
        double ca = std::cos(a), sa = std::sin(a);
        px = ccx + rx * cp * ca - ry * sp * sa;
        py = ccy + rx * sp * ca + ry * cp * sa;
    };
    auto deriv = [&](double a, double& dx, double& dy) {
        double ca = std::cos(a), sa = std::sin(a);
        dx = -rx * cp * sa - ry * sp * ca;
        dy = -rx * sp * sa + ry * cp * ca;
    };
    double a = t1;
    for (int i = 0; i < n; ++i) {
        double b = a + delta;
        double p0x, p0y, p1x, p1y, d0x, d0y, d1x, d1y;
        point(a, p0x, p0y);
        point(b, p1x, p1y);
        deriv(a, d0x, d0y);
        deriv(b, d1x, d1y);
        if (i == n - 1) {
            p1x = x;
            p1y = y;
        }
        cubic(p0x + t * d0x, p0y + t * d0y, p1x - t * d1x, p1y - t * d1y, p1x, p1y);
        a = b;
    }
}

void ellipse(Builder& b, double cx, double cy, double rx, double ry) {
    const double k = kArcK;
    b.move(cx + rx, cy);
    b.cubic(cx + rx, cy + k * ry, cx + k * rx, cy + ry, cx, cy + ry);
    b.cubic(cx - k * rx, cy + ry, cx - rx, cy + k * ry, cx - rx, cy);
    b.cubic(cx - rx, cy - k * ry, cx - k * rx, cy - ry, cx, cy - ry);
    b.cubic(cx + k * rx, cy - ry, cx + rx, cy - k * ry, cx + rx, cy);
    b.close();
}

void parsePathData(const std::string& d, Builder& b) {
    Num num{d.c_str()};
    char prev = 0;          // the command that repeats with more numbers
    char last = 0;          // the command just done, for S and T reflections
    double c2x = 0, c2y = 0;  // previous cubic's second control point
    double qx = 0, qy = 0;    // previous quadratic's control point
    for (;;) {
        while (*num.p && (isSpace(*num.p) || *num.p == ',')) ++num.p;
        if (!*num.p) return;
        char cmd;
        if (std::isalpha((unsigned char)*num.p)) {
            cmd = *num.p++;
            if (!std::strchr("MLHVCSQTAZ", std::toupper((unsigned char)cmd))) return;
        } else {
            if (!prev) return;
            cmd = prev;
        }
        const bool rel = std::islower((unsigned char)cmd) != 0;
        const char up = (char)std::toupper((unsigned char)cmd);
        const double ox = rel ? b.cx : 0.0, oy = rel ? b.cy : 0.0;
        double v[7];
        // The previous control point mirrored about the current point, or the current point.
        auto reflect = [&](bool follows, double px, double py, double& x, double& y) {
            x = follows ? 2 * b.cx - px : b.cx;
            y = follows ? 2 * b.cy - py : b.cy;
        };
        auto read = [&](int count) {
            for (int i = 0; i < count; ++i)
                if (!num.number(v[i])) return false;
            return true;
        };
        switch (up) {
            case 'M':
                if (!read(2)) return;
                b.move(v[0] + ox, v[1] + oy);
                prev = rel ? 'l' : 'L';
                break;
            case 'L':
                if (!read(2)) return;
                b.line(v[0] + ox, v[1] + oy);
                prev = cmd;
                break;
            case 'H':
                if (!read(1)) return;
                b.line(v[0] + ox, b.cy);
                prev = cmd;
                break;
            case 'V':
                if (!read(1)) return;
                b.line(b.cx, v[0] + oy);
                prev = cmd;
                break;
            case 'C':
                if (!read(6)) return;
                c2x = v[2] + ox;
                c2y = v[3] + oy;
                b.cubic(v[0] + ox, v[1] + oy, c2x, c2y, v[4] + ox, v[5] + oy);
                prev = cmd;
                break;
            case 'S': {
                if (!read(4)) return;
                double x1, y1;
                reflect(last == 'C' || last == 'S', c2x, c2y, x1, y1);
                c2x = v[0] + ox;
                c2y = v[1] + oy;
                b.cubic(x1, y1, c2x, c2y, v[2] + ox, v[3] + oy);
                prev = cmd;
                break;
            }
            case 'Q':
                if (!read(4)) return;
                qx = v[0] + ox;
                qy = v[1] + oy;
                b.quad(qx, qy, v[2] + ox, v[3] + oy);
                prev = cmd;
                break;
            case 'T': {
                if (!read(2)) return;
                double x1, y1;
                reflect(last == 'Q' || last == 'T', qx, qy, x1, y1);
                qx = x1;
                qy = y1;
                b.quad(qx, qy, v[0] + ox, v[1] + oy);
                prev = cmd;
                break;
            }
            case 'A': {
                if (!read(3)) return;
                bool flags[2];
                for (bool& f : flags) {
                    while (*num.p && (isSpace(*num.p) || *num.p == ',')) ++num.p;
                    if (*num.p != '0' && *num.p != '1') return;
                    f = *num.p++ == '1';
                }
                if (!num.number(v[3]) || !num.number(v[4])) return;
                b.arc(v[0], v[1], v[2], flags[0], flags[1], v[3] + ox, v[4] + oy);
                prev = cmd;
                break;
            }
            case 'Z':
                b.close();
                prev = 0;
                break;
        }
        last = up;
    }
}

Decls SvgReader::props(const XNode& node) const {
    std::vector<std::string> classes;
    if (const std::string* cls = node.attr("class")) {
        size_t i = 0;
        while (i < cls->size()) {
            while (i < cls->size() && isSpace((*cls)[i])) ++i;
            size_t b = i;
            while (i < cls->size() && !isSpace((*cls)[i])) ++i;
            if (i > b) classes.push_back(cls->substr(b, i - b));
        }
    }
    std::vector<const Rule*> matched;
    for (const auto& r : rules) {
        if (!r.tag.empty() && r.tag != node.name) continue;
        if (!r.cls.empty() && std::find(classes.begin(), classes.end(), r.cls) == classes.end()) continue;
        matched.push_back(&r);
    }
    std::stable_sort(matched.begin(), matched.end(), [](const Rule* a, const Rule* b) {
        return a->specificity != b->specificity ? a->specificity < b->specificity : a->order < b->order;
    });
    Decls out = node.attrs;
    for (const Rule* r : matched) out.insert(out.end(), r->decls.begin(), r->decls.end());
    if (const std::string* style = node.attr("style")) {
        Decls own = declarations(*style);
        out.insert(out.end(), own.begin(), own.end());
    }
    return out;
}

void SvgReader::walk(const XNode& node, State state) {
    if (skippedElement(node.name)) return;
    bool hidden = false;  // "display: none"; like every property, a later entry overrides it
    for (const auto& [name, value] : props(node)) {
        if (value == "inherit") continue;
        if (name == "display") {
            hidden = value == "none";
        } else if (name == "fill") {
            paintOf(value, state.fill);
        } else if (name == "stroke") {
            paintOf(value, state.stroke);
        } else if (name == "color") {
            Svg::Paint p;
            if (paintOf(value, p) && p.kind == 1) {
                state.hasColor = true;
                state.color = p.color;
            }
        } else if (name == "stroke-width") {
            Num n{value.c_str()};
            double w;
            if (n.number(w)) state.strokeWidth = std::max(w, 0.0);
        } else if (name == "stroke-miterlimit") {
            Num n{value.c_str()};
            double w;
            if (n.number(w)) state.miterLimit = std::max(w, 1.0);
        } else if (name == "stroke-linecap") {
            state.cap = value == "round" ? 1 : value == "square" ? 2 : 0;
        } else if (name == "stroke-linejoin") {
            state.join = value == "round" ? 1 : value == "bevel" ? 2 : 0;
        } else if (name == "fill-rule") {
            state.evenOdd = value == "evenodd";
        } else if (name == "fill-opacity") {
            state.fillOpacity = opacityOf(value);
        } else if (name == "stroke-opacity") {
            state.strokeOpacity = opacityOf(value);
        } else if (name == "opacity") {
            state.opacity *= opacityOf(value);
        } else if (name == "shape-rendering") {
            state.crisp = value == "crispEdges" || value == "optimizeSpeed";
        } else if (name == "visibility") {
            state.visible = !(value == "hidden" || value == "collapse");
        }
    }
    if (hidden) return;
    if (const std::string* t = node.attr("transform")) state.matrix = state.matrix * parseTransform(*t);

    Builder b;
    b.m = &state.matrix;
    const std::string& tag = node.name;
    if (tag == "path") {
        if (const std::string* d = node.attr("d")) parsePathData(*d, b);
    } else if (tag == "rect") {
        double x = numAttr(node, "x", 0), y = numAttr(node, "y", 0);
        double w = numAttr(node, "width", 0), h = numAttr(node, "height", 0);
        if (w > 0 && h > 0) {
            double rx = 0, ry = 0;
            bool hasRx = hasNumAttr(node, "rx", rx) && rx >= 0;
            bool hasRy = hasNumAttr(node, "ry", ry) && ry >= 0;
            if (!hasRx) rx = hasRy ? ry : 0;
            if (!hasRy) ry = hasRx ? rx : 0;
            rx = std::min(rx, w / 2);
            ry = std::min(ry, h / 2);
            if (!(rx > 0) || !(ry > 0)) {
                b.move(x, y);
                b.line(x + w, y);
                b.line(x + w, y + h);
                b.line(x, y + h);
                b.close();
            } else {
                const double kx = kArcK * rx, ky = kArcK * ry;
                b.move(x + rx, y);
                b.line(x + w - rx, y);
                b.cubic(x + w - rx + kx, y, x + w, y + ry - ky, x + w, y + ry);
                b.line(x + w, y + h - ry);
                b.cubic(x + w, y + h - ry + ky, x + w - rx + kx, y + h, x + w - rx, y + h);
                b.line(x + rx, y + h);
                b.cubic(x + rx - kx, y + h, x, y + h - ry + ky, x, y + h - ry);
                b.line(x, y + ry);
                b.cubic(x, y + ry - ky, x + rx - kx, y, x + rx, y);
                b.close();
            }
        }
    } else if (tag == "circle") {
        double r = numAttr(node, "r", 0);
        if (r > 0) ellipse(b, numAttr(node, "cx", 0), numAttr(node, "cy", 0), r, r);
    } else if (tag == "ellipse") {
        double rx = numAttr(node, "rx", 0), ry = numAttr(node, "ry", 0);
        if (rx > 0 && ry > 0) ellipse(b, numAttr(node, "cx", 0), numAttr(node, "cy", 0), rx, ry);
    } else if (tag == "line") {
        b.move(numAttr(node, "x1", 0), numAttr(node, "y1", 0));
        b.line(numAttr(node, "x2", 0), numAttr(node, "y2", 0));
    } else if (tag == "polyline" || tag == "polygon") {
        if (const std::string* pts = node.attr("points")) {
            Num n{pts->c_str()};
            double x, y;
            bool first = true;
            while (n.number(x) && n.number(y)) {
                if (first) b.move(x, y);
                else b.line(x, y);
                first = false;
            }
            if (!first && tag == "polygon") b.close();
        }
    }
    shape(state, b);
    for (const auto& child : node.children) walk(child, state);
}

void SvgReader::shape(const State& state, const Builder& b) {
    if (b.segs.empty() || !state.visible) return;
    Svg::Shape s;
    s.segments = b.segs;
    s.fill = state.fill;
    s.stroke = state.stroke;
    for (Svg::Paint* p : {&s.fill, &s.stroke}) {
        if (p->kind == 2 && state.hasColor) {
            p->kind = 1;
            p->color = state.color;
        }
    }
    const Matrix& m = state.matrix;
    s.style.width = state.strokeWidth * std::sqrt(std::fabs(m.a * m.d - m.b * m.c));
    s.style.cap = state.cap;
    s.style.join = state.join;
    s.style.miterLimit = state.miterLimit;
    s.fillOpacity = state.opacity * state.fillOpacity;
    s.strokeOpacity = state.opacity * state.strokeOpacity;
    s.evenOdd = state.evenOdd;
    s.crisp = state.crisp;
    if (s.fill.kind != 0 || (s.stroke.kind != 0 && s.style.width > 0)) svg->shapes.push_back(std::move(s));
}

}  // namespace lumo::gui::svgread
