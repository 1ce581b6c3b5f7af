#pragma once
// The swirl: the job window's animated figure. A field of tiny dot glyphs on the panel colour whose
// density follows a slowly drifting, domain-warped value noise; it brightens with energy and thins
// out on failure. Deterministic: the same arguments always give the same picture.
#include <cstdint>
#include <vector>

#include "gui/draw/canvas.h"

namespace tqapp {

class Swirl {
public:
    Swirl();

    // Smooth 3-D value noise in [0, 1].
    float noise(float x, float y, float z) const;
    // Fractal sum of noise over octaves (at least one), in [0, 1].
    float fbm(float x, float y, float z, int octaves) const;
    // The figure's density at logical point (x, y) and phase t, in [0, 1].
    float field(float x, float y, float t) const;

    // Paints the figure into the device rectangle area (clipped to it; the clip is restored). unit is
    // one glyph dot in device pixels, scale the device pixels per logical unit, phase the animation
    // time, energy the brightening (0 none, about 1 full); failed thins the figure out.
    void draw(lumo::gui::Canvas& canvas, lumo::gui::Rect area, int unit, double scale, double phase,
              double energy, bool failed);

    // The glyph level (0 to 9) of cell (c, r) for a field value f, or -1 for the faint dot grid.
    static int glyphFor(float f, double energy, float cellPhase, double phase, bool failed, int c, int r);

    uint8_t permutation[512];        // 0..255 shuffled, then repeated
    float values[256];               // one random value per lattice hash
    std::vector<float> cellPhases;   // one per glyph cell, row-major
    int gridColumns = 0;             // the grid the cell phases were made for
    int gridRows = 0;
};

}  // namespace tqapp
