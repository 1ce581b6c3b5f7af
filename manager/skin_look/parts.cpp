// Skin-look painting of the named parts of the drawing order: window buttons (drawn by code with a
// vector glyph), pills in their pointer state, sort pill and arrow, scrollbar arrows and cap, the
// inspector's buttons, tick boxes, lamps and format labels, and the main button's word. Each part
// is drawn where the part table puts it.
#include <algorithm>
#include <cmath>

#include "engine/layout.h"
#include "gui/draw/clip_scope.h"
#include "gui/draw/svg.h"
#include "gui/place.h"
#include "manager/model/model.h"
#include "manager/skin_look/look.h"
#include "manager/view/view.h"

namespace tqapp {

using lumo::gui::Bitmap;
using lumo::gui::Canvas;
using lumo::gui::ClipScope;
using lumo::gui::Rect;

namespace {

// The close (a cross) or minimise (a bar near the foot) glyph, parsed once.
const lumo::gui::Svg& windowGlyph(bool close) {
    auto doc = [](const char* width, const char* d) {
        return lumo::gui::Svg::parse(
            std::string("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\" fill=\"none\" "
                        "stroke=\"currentColor\" stroke-linecap=\"butt\" stroke-linejoin=\"miter\">"
                        "<path stroke-width=\"") +
            width + "\" d=\"" + d + "\"/></svg>");
    };
    static const lumo::gui::Svg x = doc("2.2", "M6.9 6.9L17.1 17.1M17.1 6.9L6.9 17.1");
    static const lumo::gui::Svg minus = doc("2.65", "M6.6 16.9H17.4");
    return close ? x : minus;
}

}  // namespace

std::string SkinLook::look(const ManagerView& v, const MainId& id, const std::string& normal, const std::string& hover,
                              const std::string& pressed) {
    if (v.held(id)) return pressed;
    if (v.hot(id)) return hover;
    return normal;
}

void SkinLook::sprite(const ManagerView& v, Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& name, const MainId& id,
                         const std::string& home, double gain) {
    const Rect at = v.partRect(id), from = v.spriteRect(home);
    put(v, canvas, pack, name, at.x - from.x, at.y - from.y, {}, gain, true);
}

void SkinLook::pill(const ManagerView& v, Canvas& canvas, const lumo::gui::AssetPack& pack, const MainId& id, const std::string& prefix) {
    const std::string st = look(v, id, "normal", "hover", "pressed");
    // These four brighten their normal face for the hover look.
    const bool brightens = id.kind == MainPart::Sort || id.kind == MainPart::Account || id.kind == MainPart::MainPill ||
                           id.kind == MainPart::UpdateAll;
    if (st == "hover" && brightens)
        sprite(v, canvas, pack, prefix + "_normal", id, prefix + "_normal", 1.1);
    else
        sprite(v, canvas, pack, prefix + "_" + st, id, prefix + "_normal");
}

void SkinLook::part(ManagerView& v, Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& name) {
    const tqm::Row* row = v.selected();
    if (name == "sort:arrow") {
        put(v, canvas, pack, v.sortAscending_ ? "sort_arrow_down" : "sort_arrow_up", 0, 0, {}, 1.0, true);
        return;
    }
    if (name == "main_pill:label") {
        const std::string word = upper(row ? ManagerView::buttonWord(*row, v.mainAction()) : std::string("install"));
        const Rect S = v.partRect(mainPart(MainPart::MainPill));
        const Rect B = boxRect((*v.managerLayout_)["label_main"]);
        const Rect L = v.mapRect(B);
        const lumo::gui::Sprite* P = managerSkin().pack(1.0).sprite("main_pill_normal");
        Rect box{S.x, S.y + B.y - (P ? P->y : 0), S.w, L.h};
        if (v.held(mainPart(MainPart::MainPill))) box.y += 1;
        const double gain = v.enabled(mainPart(MainPart::MainPill)) ? 1.0 : ManagerView::kOffGain;
        v.centred(canvas, pack, "bold", word, box, "lbl_main", gain);
        return;
    }
    const std::optional<MainId> id = partOf(name);
    if (!id) return;
    // A part that cannot act shows its normal face dimmed.
    const double gain = v.enabled(*id) ? 1.0 : ManagerView::kOffGain;
    auto three = [&](const std::string& stem, const char* normal, const char* hover, const char* pressed) {
        sprite(v, canvas, pack, stem + look(v, *id, normal, hover, pressed), *id, stem + normal, gain);
    };
    const std::string f = ManagerView::slotKey(id->index);
    switch (id->kind) {
        case MainPart::WinClose:
        case MainPart::WinMin: windowButton(v, canvas, id->kind == MainPart::WinClose); break;
        case MainPart::Sort: pill(v, canvas, pack, *id, "sort_pill"); break;
        case MainPart::ScrollUp: three("sb_up_", "normal", "hover", "pressed"); break;
        case MainPart::ScrollDown: three("sb_down_", "normal", "hover", "pressed"); break;
        case MainPart::Cap: {
            const MainId cap = *id;
            const char* face = v.pointer().isPressed(cap) ? "cap_sb_grabbed" : v.pointer().isHover(cap) ? "cap_sb_hover" : "cap_sb";
            sprite(v, canvas, pack, face, cap, "cap_sb");
            break;
        }
        case MainPart::Open: three("open_", "up", "hover", "down"); break;
        case MainPart::More: three("more_", "up", "hover", "down"); break;
        case MainPart::MainPill:
            if (gain != 1.0)
                sprite(v, canvas, pack, "main_pill_normal", *id, "main_pill_normal", gain);
            else
                pill(v, canvas, pack, *id, "main_pill");
            break;
        case MainPart::UpdateAll: pill(v, canvas, pack, *id, "update_all"); break;
        case MainPart::Account: pill(v, canvas, pack, *id, "account"); break;
        case MainPart::Check:
            sprite(v, canvas, pack, "check_" + f + (v.held(*id) ? "_press_" : "_") + (v.ticked(row, f) ? "on" : "off"), *id,
                   "check_" + f + "_off", v.offered(row, f) ? 1.0 : ManagerView::kOffGain);
            break;
        case MainPart::Led:
            sprite(v, canvas, pack, "led_" + f + (v.installedHere(row, f) ? "_on" : "_off"), *id, "led_" + f + "_off");
            break;
        case MainPart::Label: {
            const double shown = v.slotFormat(row, f) == v.pathFormat() ? 1.15 : 0.85;
            v.slotLabel(canvas, pack, row, f, "lbl_format", v.offered(row, f) ? shown : ManagerView::kOffGain);
            break;
        }
        default: break;
    }
}

void SkinLook::windowButton(const ManagerView& v, Canvas& canvas, bool close) {
    const MainId id = mainPart(close ? MainPart::WinClose : MainPart::WinMin);
    const bool down = v.held(id);
    const bool hot = v.hot(id);
    const Rect slot = v.partRect(id);
    const double x = slot.x, y = slot.y;
    const int32_t t = lumo::gui::wholePixels(v.paintScale_);
    const int32_t ox = v.paintX_, oy = v.paintY_;
    auto span = [&](double a, double b) { return v.dev(b) - v.dev(a); };
    canvas.fillRect({ox + v.dev(x + 2), oy + v.dev(y + 15), span(x + 2, x + 15), span(y + 15, y + 16)}, 0x5A000000u);
    canvas.fillRect({ox + v.dev(x + 3), oy + v.dev(y + 16), span(x + 3, x + 14), span(y + 16, y + 17)}, 0x28000000u);

    const int32_t L = ox + v.dev(x + 1), R = ox + v.dev(x + 16), T = oy + v.dev(y), B = oy + v.dev(y + 15);
    const int32_t W = R - L - 2 * t, H = B - T - 2 * t;
    constexpr lumo::gui::Color kEdge = 0xEB0A0A0Au;
    canvas.fillRect({L + t, T, W, t}, kEdge);
    canvas.fillRect({L + t, B - t, W, t}, kEdge);
    canvas.fillRect({L, T + t, t, H}, kEdge);
    canvas.fillRect({R - t, T + t, t, H}, kEdge);
    if (H > 0) {
        const double from = down ? 160 : hot ? 236 : 222, to = down ? 200 : hot ? 180 : 156;
        for (int32_t r = 0; r < H; ++r) {
            const double f = H == 1 ? 0.0 : double(r) / double(H - 1);
            const uint32_t g = uint32_t(std::lround(from + f * (to - from)));
            canvas.fillRect({L + t, T + t + r, W, 1}, 0xFF000000u | g << 16 | g << 8 | g);
        }
    }
    canvas.fillRect({L + t, T + t, W, t}, down ? 0x32000000u : 0x96FFFFFFu);
    canvas.fillRect({L + t, T + H, W, t}, down ? 0x46FFFFFFu : 0x28000000u);
    for (const auto& [cx, cy] : {std::pair{L + t, T + t}, {L + W, T + t}, {L + t, T + H}, {L + W, T + H}})
        canvas.fillRect({cx, cy, t, t}, kEdge);

    const int32_t g = std::max<int32_t>(1, int32_t(std::lround((close ? 17 : 15) * v.paintScale_)));
    Bitmap& glyph = glyphCache[g + (close ? 1000000 : 0)];
    if (glyph.w < 1 || glyph.h < 1) {
        lumo::gui::SvgDraw opts;
        opts.current = 0xFFFFFFFFu;
        opts.samples = 16;
        opts.snap = true;
        opts.alpha = 255;
        opts.stretch = false;
        glyph = windowGlyph(close).render(g, g, 0, 0, g, g, opts);
    }
    canvas.drawBitmapTinted(glyph, int32_t(std::lround(ox + (x + 8.5) * v.paintScale_ - g * 0.5)),
                            int32_t(std::lround(oy + (y + 7.5 + (down ? 1 : 0)) * v.paintScale_ - g * 0.5)),
                            0xFF000000u);
}

}  // namespace tqapp
