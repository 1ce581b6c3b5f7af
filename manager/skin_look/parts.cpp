// Skin-look painting of the named parts of the drawing order: window buttons (drawn by code with a
// vector glyph), pills in their pointer state, sort pill and arrow, scrollbar arrows and cap, the
// inspector's buttons, tick boxes, lamps and format labels, the main button's word, and the
// inspector's texts (name, wrapped description, shown folder shortened from the front).
#include <algorithm>
#include <cmath>

#include "engine/layout.h"
#include "gui/draw/svg.h"
#include "manager/pixel_look/primitives.h"
#include "manager/model/model.h"
#include "manager/view/view.h"
#include "gui/draw/clip_scope.h"

namespace tqapp {

using lumo::gui::ClipScope;

using lumo::gui::Bitmap;
using lumo::gui::Canvas;
using lumo::gui::Rect;

namespace {

constexpr const char* kIS = "Ardune Systems Manager/Inspector Section";

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

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

void ManagerView::pill(Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& hit,
                       const std::string& prefix) {
    const std::string st = lookFor(hit, "normal", "hover", "pressed");
    // These four brighten their normal face for the hover look.
    if (st == "hover" && (hit == "sort" || hit == "account" || hit == "main_pill" || hit == "update_all"))
        put(canvas, pack, prefix + "_normal", 0, 0, {}, 1.1, true);
    else
        put(canvas, pack, prefix + "_" + st, 0, 0, {}, 1.0, true);
}

void ManagerView::part(Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& name) {
    auto sprite = [&](const std::string& s, double dy = 0, double gain = 1.0) {
        put(canvas, pack, s, 0, dy, {}, gain, true);
    };
    auto look3 = [&](const char* a, const char* b, const char* c) { return lookFor(name, a, b, c); };
    const tqm::Row* row = selected();
    const bool held = pressedHit == name && hoverHit == name;
    if (name == "win:close" || name == "win:min") {
        windowButton(canvas, name == "win:close");
    } else if (name == "sort") {
        pill(canvas, pack, "sort", "sort_pill");
    } else if (name == "sort:arrow") {
        sprite(sortAscending ? "sort_arrow_down" : "sort_arrow_up");
    } else if (name == "sb:up") {
        sprite(look3("sb_up_normal", "sb_up_hover", "sb_up_pressed"));
    } else if (name == "sb:down") {
        sprite(look3("sb_down_normal", "sb_down_hover", "sb_down_pressed"));
    } else if (name == "cap:sb") {
        sprite(pressedHit == name ? "cap_sb_grabbed" : hoverHit == name ? "cap_sb_hover" : "cap_sb", capOffset());
    } else if (name == "open") {
        sprite(look3("open_up", "open_hover", "open_down"));
    } else if (name == "more") {
        sprite(look3("more_up", "more_hover", "more_down"));
    } else if (name == "main_pill") {
        pill(canvas, pack, "main_pill", "main_pill");
    } else if (name == "main_pill:label") {
        const std::string word = upper(row ? buttonWord(*row, mainAction()) : std::string("install"));
        const Rect S = spriteRect("main_pill_normal");
        const Rect B = boxRect((*managerLayout)["label_main"]);
        const Rect L = mapRect(B);
        const lumo::gui::Sprite* P = managerSkin().pack(1.0).sprite("main_pill_normal");
        Rect box{S.x, S.y + B.y - (P ? P->y : 0), S.w, L.h};
        if (held) box.y += 1;
        centred(canvas, pack, "bold", word, box, "lbl_main", 1.0);
    } else if (name == "update_all" || name == "account") {
        pill(canvas, pack, name, name);
    } else if (startsWith(name, "check:")) {
        const std::string f = name.substr(6);
        sprite("check_" + f + (held ? "_press_" : "_") + (ticked(row, f) ? "on" : "off"), 0,
               offered(row, f) ? 1.0 : 0.45);
    } else if (startsWith(name, "led:")) {
        const std::string f = name.substr(4);
        sprite("led_" + f + (installedHere(row, f) ? "_on" : "_off"));
    } else if (startsWith(name, "label:")) {
        const std::string f = name.substr(6);
        const double gain = !offered(row, f) ? 0.45 : slotFormat(row, f) == pathFormat() ? 1.15 : 0.85;
        slotLabel(canvas, pack, row, f, "lbl_format", gain);
    }
}

void ManagerView::slotLabel(Canvas& canvas, const lumo::gui::AssetPack& pack, const tqm::Row* row,
                            const std::string& slot, const char* colorKey, double gain) {
    // A label may be wider than its slot's box ("AU" is): it may take the row up to 2 units short of
    // the nearest other label's centre, and a companion's name longer than that ends in "...".
    const lumo::Json& boxes = (*managerLayout)["label_formats"];
    const Rect box = shiftRect(boxRect(boxes[slot]));
    const double centre = box.x + box.w * 0.5;
    double nearest = 0;
    for (const auto& [other, value] : boxes.object()) {
        const Rect o = shiftRect(boxRect(value));
        const double d = std::abs(o.x + o.w * 0.5 - centre);
        if (other != slot && (nearest == 0 || d < nearest)) nearest = d;
    }
    // Nor beyond the inspector's inside (the description box's sides).
    const Rect inside = mapRect(layoutRect((*managerLayout)["desc_view"]));
    nearest = std::min({nearest, 2 * (centre - inside.x), 2 * (inside.x + inside.w - centre)});
    const int room = std::max(box.w, int(nearest) - 2);
    const Rect wide{int(std::lround(centre - room * 0.5)), box.y, room, box.h};
    std::string title = slotTitle(row, slot);
    if (const lumo::gui::BitmapFont* f = fontOf(pack, "small")) title = f->fit(title, dev(wide.w));
    centred(canvas, pack, "small", title, wide, colorKey, gain);
}

std::string ManagerView::buttonWord(const tqm::Row& row, const Action& action) {
    // Installing only an installed app's companions reinstalls nothing: that stays "install".
    if (action.verb == "install" && action.op == "install" && row.state == tqm::State::Installed &&
        !action.formats.empty())
        return "reinstall";
    return action.verb;
}

void ManagerView::inspectorText(Canvas& canvas, const lumo::gui::AssetPack& pack, const std::string& key) {
    const tqm::Row* row = selected();
    const std::string is = kIS;
    if (key == "title" && row) {
        const std::string path = is + "/Plugin Info Title Mockup";
        const Rect D = mapRect(layoutRect((*managerLayout)["desc_view"]));
        // The pixel look's picture well reaches lower than the skin's: there the title goes down as far
        // as its capitals need to clear the well's frame.
        const double y = look == 1 ? std::max(base(path), devUnderWell(pack)) : base(path);
        text(canvas, pack, "val", row->name, left(path), y, 'l', 0, "title", D.x + D.w - left(path) - 2, 1.0);
    } else if (key == "desc" && row) {
        const std::string path = is + "/Plugin Description Mockup";
        const Rect D = mapRect(layoutRect((*managerLayout)["desc_view"]));
        const std::string words =
            row->entry ? row->entry->description
                       : std::string("No longer in the catalog. It stays installed until you remove it.");
        ClipScope clip(canvas, {dev(D.x) + paintX, dev(D.y) + paintY, dev(double(D.x) + D.w) - dev(D.x),
                                dev(double(D.y) + D.h) - dev(D.y)});
        const lumo::Json& baseValue = (*layoutRects)[path]["base"];
        const double y0 = 3 + (baseValue.isNumber() ? baseValue.number : 0.0);
        std::vector<std::string> lines = wrap(pack, words, D.w - 4);
        // Only whole lines are drawn; the last one ends in "..." when more text is left.
        if (const lumo::gui::BitmapFont* f = fontOf(pack, "val")) {
            const double below = std::abs(f->descent) / paintScale;
            size_t fit = 0;
            while (fit < lines.size() && y0 + 11.0 * double(fit) + below <= D.y + D.h) ++fit;
            if (fit > 0 && fit < lines.size()) {
                std::string& last = lines[fit - 1];
                while (!last.empty() && (last.back() == ' ' || f->width(last + "...") > dev(D.w - 4))) last.pop_back();
                last += "...";
            }
            lines.resize(fit);
        }
        for (size_t n = 0; n < lines.size(); ++n)
            text(canvas, pack, "val", lines[n], left(path), y0 + 11.0 * double(n), 'l', 0, "desc", 0, 1.0);
    } else if (key == "path") {
        const std::string mock = is + "/Installation Section/Installation Controls/Filepath Mockup";
        // The pixel look has its own value box, the text 4 units in from its left edge.
        const Rect V = look == 1 ? devBox("path")
                                 : mapRect(boxRect(
                                       (*layoutRects)[is + "/Installation Section/Installation Controls/Filepath Valuebox"]["r"]));
        const double x = look == 1 ? V.x + 4.0 : left(mock);
        std::string t = shownDir();
        if (const lumo::gui::BitmapFont* f = fontOf(pack, "val")) {
            const int limit = dev(V.x + V.w - x - 4);
            if (f->width(t) > limit) {
                // The end names the folder: the front gives way. Widths are summed, not measured again.
                const int dots = f->width("...");
                int width = f->width(t);
                size_t from = 0;
                while (t.size() - from >= 2 && dots + width > limit) width -= f->advance(uint8_t(t[from++]));
                t = "..." + t.substr(from);
            }
        }
        text(canvas, pack, "val", t, x, base(mock), 'l', 0, "path", 0, 1.0);
    }
}

void ManagerView::windowButton(Canvas& canvas, bool close) {
    const std::string name = close ? "win:close" : "win:min";
    const bool down = pressedHit == name && hoverHit == name;
    const bool hot = hoverHit == name && pressedHit.empty();
    const Rect slot = windowSlot(close);
    const double x = slot.x, y = slot.y;
    const int32_t t = dev::one(paintScale);
    const int32_t ox = paintX, oy = paintY;
    auto span = [&](double a, double b) { return dev(b) - dev(a); };
    canvas.fillRect({ox + dev(x + 2), oy + dev(y + 15), span(x + 2, x + 15), span(y + 15, y + 16)}, 0x5A000000u);
    canvas.fillRect({ox + dev(x + 3), oy + dev(y + 16), span(x + 3, x + 14), span(y + 16, y + 17)}, 0x28000000u);

    const int32_t L = ox + dev(x + 1), R = ox + dev(x + 16), T = oy + dev(y), B = oy + dev(y + 15);
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

    const int32_t g = std::max<int32_t>(1, int32_t(std::lround((close ? 17 : 15) * paintScale)));
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
    canvas.drawBitmapTinted(glyph, int32_t(std::lround(ox + (x + 8.5) * paintScale - g * 0.5)),
                            int32_t(std::lround(oy + (y + 7.5 + (down ? 1 : 0)) * paintScale - g * 0.5)),
                            0xFF000000u);
}

}  // namespace tqapp
