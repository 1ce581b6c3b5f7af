// The pixel look's named parts: window buttons, scrollbar arrows and cap, the inspector's buttons,
// tick boxes, lamps and format labels, the main button and its word, and the column headers.
#include "manager/pixel_look/primitives.h"
#include "manager/model/model.h"
#include "manager/view/view.h"

namespace tqapp {
namespace {

using lumo::gui::Rect;

// The account icon: a head over shoulders.
constexpr const char* kAccount[] = {"..###..", "..###..", "..###..", ".......", ".#####.", "#######", "#######"};

Rect lowered(Rect r, bool down) { return {r.x, r.y + (down ? 1 : 0), r.w, r.h}; }

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

void ManagerView::devPart(const lumo::gui::Paint& p, const std::string& name) {
    const bool hot = hoverHit == name && pressedHit.empty();
    const bool down = pressedHit == name && hoverHit == name;
    lumo::gui::Canvas& canvas = p.canvas;
    const lumo::gui::AssetPack& pack = managerSkin().pack(paintScale);
    const int u = dev::one(paintScale);
    const tqm::Row* row = selected();

    if (name == "sort") {
        devHeaders(p);
    } else if (name == "win:close" || name == "win:min") {
        const bool close = name == "win:close";
        // The button is 13 dots square; at 1.5 that is a pixel more than the 17-unit slot, so the
        // slot grows round its centre rather than cut the button's foot.
        Rect slot = devRect(windowSlot(close));
        const int side = 13 * u;
        if (slot.w < side) slot = {slot.x - (side - slot.w) / 2, slot.y, side, slot.h};
        if (slot.h < side) slot = {slot.x, slot.y - (side - slot.h) / 2, slot.w, side};
        dev::squareButton(p, slot, close, hot, down);
    } else if (name == "sb:up" || name == "sb:down") {
        const Rect box = devRect(devBox(name));
        if (down) canvas.strokeRect(box, dev::cream, u);
        dev::arrow(p, box, name == "sb:up" ? 'u' : 'd', hot || down ? dev::cream : dev::wave);
    } else if (name == "cap:sb") {
        if (maxScroll() <= 0) return;
        Rect cap = devBox("cap:sb");
        cap.y += capOffset();
        const lumo::gui::Color fill = pressedHit == "cap:sb" ? dev::cream : hoverHit == "cap:sb" ? dev::wave : dev::dim;
        canvas.fillRect(devRect(cap), fill);
    } else if (name == "open" || name == "more" || name == "update_all") {
        const Rect box = devBox(name);
        dev::button(p, devRect(box), hot, down, true);
        const char* word = name == "open" ? "OPEN" : name == "more" ? "MORE" : "UPDATE ALL";
        centred(canvas, pack, "small", word, lowered(box, down), "lbl_main", 1.0);
    } else if (name == "account") {
        const Rect box = devBox(name);
        dev::button(p, devRect(box), hot, down, true);
        dev::pixelsIn(p, devRect(lowered(box, down)), kAccount, hot || down ? dev::cream : dev::wave);
    } else if (name == "main_pill") {
        dev::button(p, devRect(devBox(name)), hot, down, true);
    } else if (name == "main_pill:label") {
        const bool held = pressedHit == "main_pill" && hoverHit == "main_pill";
        const std::string word = row ? upper(mainAction().verb) : std::string("INSTALL");
        centred(canvas, pack, "bold", word, lowered(devBox("main_pill"), held), "lbl_main", 1.0);
    } else if (startsWith(name, "check:")) {
        const std::string f = name.substr(6);
        dev::checkbox(p, devRect(faceRect("check_" + f + "_off")), ticked(row, f), hot, down, offered(row, f));
    } else if (startsWith(name, "led:")) {
        const std::string f = name.substr(4);
        dev::lamp(p, devRect(spriteRect("led_" + f + "_off")), installedHere(row, f));
    } else if (startsWith(name, "label:")) {
        const std::string f = name.substr(6);
        const char* key = !offered(row, f) ? "fmt_off" : slotFormat(row, f) == pathFormat() ? "fmt_pick" : "fmt";
        slotLabel(canvas, pack, row, f, key, 1.0);
    }
}

}  // namespace tqapp
