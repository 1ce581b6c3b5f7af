#pragma once
// A mouse-cursor picture held at several display scales; the window layer renders it for its scale
// and caches the result by id.
#include <cstdint>
#include <vector>

#include "gui/draw/canvas.h"

namespace lumo::gui {

struct CursorImage {
    struct Entry {
        double scale = 1.0;
        Bitmap bitmap;
    };

    uint64_t id = nextId();  // the window layer's cache key: every image made gets its own
    std::vector<Entry> images;  // ascending scale, at most one entry per exact scale

    // Process-wide, thread-safe; the first id is 1.
    static uint64_t nextId();

    // Adds (or replaces) the picture for a scale; empty bitmaps and scales <= 0 are ignored.
    void add(const Bitmap& bitmap, double scale);
    // Size in logical units, from the smallest-scale entry; 0 without entries.
    int width() const;
    int height() const;
    // The picture for a display scale, nearest-resampled when no entry has the exact size.
    Bitmap render(double scale) const;
};

}  // namespace lumo::gui
