// Painting: the paint state every painter reads, and the two looks' entry points.
#include "manager/model.h"
#include "manager/view.h"

namespace tqapp {

void ManagerView::draw(const lumo::gui::Paint& p) {
    paint = &p;
    // The scale of the skin pack the paint uses; without packs, the paint's own.
    const lumo::gui::Assets& skin = managerSkin();
    paintScale = skin.packs.empty() ? p.scale : skin.pack(p.scale).scale;
    paintX = p.rect.x;
    paintY = p.rect.y;
    // Until the looks paint their parts the window is one quiet, dark field.
    p.canvas.fillRect(p.rect, 0xFF111111u);
    paint = nullptr;
}

}  // namespace tqapp
