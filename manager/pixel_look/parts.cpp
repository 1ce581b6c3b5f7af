// The pixel look's named parts: window buttons, scrollbar arrows and cap, the inspector's buttons,
// tick boxes, lamps and format labels, the main button and its word, and the column headers; each
// where the part table puts it.
#include "manager/pixel_look/primitives.h"
#include "manager/model/model.h"
#include "manager/pixel_look/look.h"
#include "manager/view/view.h"

namespace tqapp {
namespace {

using lumo::gui::Rect;

// The account icon: a head over shoulders.
constexpr const char* kAccount[] = {"..###..", "..###..", "..###..", ".......", ".#####.", "#######", "#######"};

Rect lowered(Rect r, bool down) { return {r.x, r.y + (down ? 1 : 0), r.w, r.h}; }

// A button's word in the colour of its state: dim while the button cannot act.
const char* labelKey(const ManagerView& v, const MainId& id) { return v.enabled(id) ? "lbl_main" : "fmt_off"; }

}  // namespace

void PixelLook::devPart(ManagerView& v, const lumo::gui::Paint& p, const std::string& name) {
    lumo::gui::Canvas& canvas = p.canvas;
    const lumo::gui::AssetPack& pack = managerSkin().pack(v.paintScale_);
    const tqm::Row* row = v.selected();
    if (name == "sort") {
        devHeaders(v, p);
        return;
    }
    if (name == "main_pill:label") {
        const MainId pill = mainPart(MainPart::MainPill);
        const std::string word = row ? upper(v.mainAction().verb) : std::string("INSTALL");
        v.centred(canvas, pack, "bold", word, lowered(v.partRect(pill), v.held(pill)), labelKey(v, pill), 1.0);
        return;
    }
    const std::optional<MainId> id = partOf(name);
    if (!id) return;
    const bool hot = v.hot(*id);
    const bool down = v.held(*id);
    const int u = dev::one(v.paintScale_);
    const Rect box = v.partRect(*id);
    const std::string f = ManagerView::slotKey(id->index);
    switch (id->kind) {
        case MainPart::WinClose:
        case MainPart::WinMin: {
            // The button is 13 dots square; at 1.5 that is a pixel more than the 17-unit slot, so the
            // slot grows round its centre rather than cut the button's foot.
            Rect slot = devRect(v, box);
            const int side = 13 * u;
            if (slot.w < side) slot = {slot.x - (side - slot.w) / 2, slot.y, side, slot.h};
            if (slot.h < side) slot = {slot.x, slot.y - (side - slot.h) / 2, slot.w, side};
            dev::squareButton(p, slot, id->kind == MainPart::WinClose, hot, down);
            break;
        }
        case MainPart::ScrollUp:
        case MainPart::ScrollDown:
            if (down) canvas.strokeRect(devRect(v, box), dev::cream, u);
            dev::arrow(p, devRect(v, box), id->kind == MainPart::ScrollUp ? 'u' : 'd', hot || down ? dev::cream : dev::wave);
            break;
        case MainPart::Cap: {
            if (v.maxScroll() <= 0) return;
            const lumo::gui::Color fill = v.pointer().isPressed(*id) ? dev::cream
                                          : v.pointer().isHover(*id) ? dev::wave
                                                                   : dev::dim;
            canvas.fillRect(devRect(v, box), fill);
            break;
        }
        case MainPart::Open:
        case MainPart::More:
        case MainPart::UpdateAll: {
            dev::button(p, devRect(v, box), hot, down, v.enabled(*id));
            const char* word = id->kind == MainPart::Open ? "OPEN" : id->kind == MainPart::More ? "MORE" : "UPDATE ALL";
            v.centred(canvas, pack, "small", word, lowered(box, down), labelKey(v, *id), 1.0);
            break;
        }
        case MainPart::Account:
            dev::button(p, devRect(v, box), hot, down, true);
            dev::pixelsIn(p, devRect(v, lowered(box, down)), kAccount, hot || down ? dev::cream : dev::wave);
            break;
        case MainPart::MainPill: dev::button(p, devRect(v, box), hot, down, v.enabled(*id)); break;
        case MainPart::Check:
            dev::checkbox(p, devRect(v, v.faceRect("check_" + f + "_off", box)), v.ticked(row, f), hot, down, v.offered(row, f));
            break;
        case MainPart::Led: dev::lamp(p, devRect(v, box), v.installedHere(row, f)); break;
        case MainPart::Label: {
            const char* key = !v.offered(row, f) ? "fmt_off" : v.slotFormat(row, f) == v.pathFormat() ? "fmt_pick" : "fmt";
            v.slotLabel(canvas, pack, row, f, key, 1.0);
            break;
        }
        default: break;
    }
}

}  // namespace tqapp
