// The page: the whole window's background art at its design size. The window stretches it by
// repeating the page columns 84-88, 347-351 and 377-379 and the rows 152-154, so nothing drawn here
// changes along x inside those columns or along y inside those rows: panels run across them with
// plain fills and vertical-only gradients, and every mark or corner keeps clear of them.
#include "tools/skinpack_art.h"

namespace skinart {

namespace {

// A raised panel: a soft top-to-bottom fill, an outline and a one-pixel light edge inside its top.
void panel(Layer& L, const Box& b, uint32_t top, uint32_t bottom, uint32_t edge) {
    L.round(b, 3, vgrad(top, bottom, b.y0, b.y1));
    L.clipTo(b, 3);
    L.hline(b.x0, b.x1, b.y0 + L.oneUnit(), solid(0xFFFFFF, 0.035));
    L.clearClip();
    L.ring(b, 3, solid(edge));
}

// A band across the top of a panel, with a dark rule under it.
void band(Layer& L, const Box& panelBox, double y0, double y1, uint32_t top, uint32_t bottom) {
    L.clipTo(panelBox.inset(L.oneUnit()), 2);
    L.rect(Box{panelBox.x0, y0, panelBox.x1, y1}, vgrad(top, bottom, y0, y1));
    L.hline(panelBox.x0, panelBox.x1, y0, solid(0xFFFFFF, 0.04));
    L.hline(panelBox.x0, panelBox.x1, y1, solid(0x09090A));
    L.clearClip();
}

// The maker's mark beside the title: three level bars in a rounded tile.
void mark(Layer& L) {
    const Box tile{29, 6, 43, 20};
    L.round(tile, 3, vgrad(0x2B2F36, 0x1F2227, tile.y0, tile.y1));
    L.ring(tile, 3, solid(0x3A3F48));
    const double heights[3] = {5, 8, 6};
    for (int i = 0; i < 3; ++i) {
        const double x = 32 + i * 3;
        L.rect(Box{x, 17 - heights[i], x + 2, 17}, vgrad(0xB4C6DC, 0x7F95B0, 17 - heights[i], 17));
    }
}

}  // namespace

void drawPage(Layer& L) {
    const Box page{0, 0, 426, 344};
    L.rect(page, vgrad(0x151518, 0x111113, 26, 344));

    // Window bar.
    L.rect(Box{0, 0, 426, 26}, vgrad(0x1E1E22, 0x17171A, 0, 26));
    L.hline(0, 426, 25, solid(0x08080A));
    L.hline(0, 426, 26, solid(0xFFFFFF, 0.025));
    mark(L);

    // The list: column header, rows, scrollbar.
    const Box list{4, 30, 307, 316};
    panel(L, list, 0x101012, 0x0E0E10, 0x26262A);
    band(L, list, 31, 48, 0x1F1F23, 0x18181B);
    for (double x : {125.0, 177.0, 228.0}) L.vline(x, 34, 45, solid(0x2C2C31));
    L.rect(Box{283, 49, 284, 315}, solid(0x1B1B1E));
    L.rect(Box{284, 49, 306, 315}, solid(0x121214));

    // Status line.
    recess(L, Box{4, 318, 307, 340}, 3, 0x0C0C0D);

    // Inspector.
    const Box insp{309, 30, 421, 340};
    panel(L, insp, 0x17171A, 0x131315, 0x26262A);
    band(L, insp, 31, 48, 0x1F1F23, 0x18181B);
    recess(L, Box{317, 53, 414, 126}, 3, 0x0A0A0B);  // picture well
    recess(L, Box{314, 136, 418, 191}, 3, 0x111113);  // description

    // Install controls.
    const Box controls{313, 194, 417, 292};
    panel(L, controls, 0x1B1B1E, 0x171719, 0x29292D);
    band(L, controls, 195, 208, 0x222226, 0x1C1C1F);
    recess(L, Box{318, 265, 375, 281}, 3, 0x0B0B0C);  // folder path

    // The recess of the update-all pill (the account pill's is an overlay of its own).
    recess(L, Box{310, 314, 372, 333}, 9.5, 0x0B0B0C);

    // Window edge.
    L.ring(page, 0, solid(0x2A2A2E));
}

}  // namespace skinart
