#pragma once
// Vector paths: polylines in double-precision canvas coordinates. Curves are flattened into line
// segments when they are added, so a path holds only points. Filled by fillPath (raster.h) and
// stroked by strokePath (stroke.h).
#include <vector>

namespace lumo::gui {

struct Pt {
    double x = 0;
    double y = 0;
};

class Path {
public:
    struct Sub {
        std::vector<Pt> points;  // never empty once created
        bool closed = false;
    };

    std::vector<Sub> subs;  // in creation order
    Pt current;             // the current point

    void moveTo(double x, double y);
    // After a closed sub-path, a line or curve starts a new sub-path at the current point (the
    // closed one's start) rather than extending the closed polygon.
    void lineTo(double x, double y);
    void cubicTo(double c1x, double c1y, double c2x, double c2y, double x, double y);
    void close();

    void rect(double x, double y, double w, double h);
    void roundRect(double x, double y, double w, double h, double r);
    void circle(double cx, double cy, double r);

    // A copy with every point (and the current point) mapped to (x * sx + tx, y * sy + ty).
    // Curves are not flattened again.
    Path transformed(double sx, double sy, double tx, double ty) const;
    Path transformed(double s, double tx, double ty) const { return transformed(s, s, tx, ty); }

private:
    void startIfNeeded();
};

// Number of segments a cubic from p0 with controls c1, c2 to p is flattened into: ceil(2 x the
// control polygon's length), 3 below 4, at most 64. Non-finite lengths count as long.
int cubicSegments(Pt p0, Pt c1, Pt c2, Pt p);

}  // namespace lumo::gui
