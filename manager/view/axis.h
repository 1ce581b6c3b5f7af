#pragma once
// The stretch geometry of the main window along one axis. The window is designed as one fixed page;
// when it is larger, a few bands of the page (strips [pos, pos + len)) grow by their `extra` units
// while everything else keeps its size and moves.
#include <cstdint>
#include <vector>

namespace tqapp {

struct Axis {
    struct Band {
        int32_t pos = 0;
        int32_t len = 1;
        int32_t extra = 0;
    };
    // Copy source pixels [src, src + len) of a bitmap to [dst, dst + dstLen), scaled when stretched.
    struct Seg {
        int32_t src = 0;
        int32_t len = 0;
        int32_t dst = 0;
        int32_t dstLen = 0;
        bool stretched = false;
    };

    std::vector<Band> bands;

    // A design coordinate at the current size: a point inside a band moves proportionally, a point
    // past it by the band's whole extra.
    double map(double v) const;
    // The extras of the bands whose centre lies at or before c.
    int32_t shiftAt(double c) const;
    // The sum of every band's extra.
    int32_t total() const;
    // Spreads `extra` units over the bands: with several, the first gets all but floor(extra x share),
    // which the others split (the first of them one unit more while a remainder lasts).
    void spread(int32_t extra, double share);
    // Cuts a bitmap span (start, len in pixels of a pack at `scale`) into segments at the current size.
    // A span that may not be sliced is only moved.
    std::vector<Seg> segments(int32_t start, int32_t len, double scale, bool sliceable) const;
};

// floor(a x scale + 1e-9): design units to the pixels of a pack.
int32_t scaled(double a, double scale);

}  // namespace tqapp
