// The sprites of the manager skin. Places are design units on the page; states of one control share
// their place. Pills that carry dark words are light (their brightest channel stays at or below 231,
// so the window's 1.1 hover gain keeps their shading), row plates stay at or below 188 for the
// selected row's 1.35 gain, and everything else is dark and quiet.
#include "tools/skinpack_art.h"

#include <string>

namespace skinart {

using lumo::gui::Path;

void recess(Layer& L, const Box& b, double radius, uint32_t fill) {
    L.round(b, radius, solid(fill));
    L.clipTo(b, radius);
    const double u = L.oneUnit();
    L.rect(Box{b.x0, b.y0, b.x1, b.y0 + 3 * u}, vgrad(hex(0x000000, 0.45), hex(0x000000, 0.0), b.y0, b.y0 + 3 * u));
    L.clearClip();
    L.ring(b, radius, solid(0x060607));
    // The lower rim catches the light.
    L.clipTo(b, radius);
    L.hline(b.x0, b.x1, b.y1 - u, solid(0xFFFFFF, 0.05));
    L.clearClip();
}

void lightPill(Layer& L, const Box& b, State st, bool accent) {
    const double r = (b.y1 - b.y0) * 0.5;
    uint32_t top = accent ? 0xA8C3DA : 0xC2C4C8, bottom = accent ? 0x84A3BE : 0xA0A3A8;
    uint32_t shine = accent ? 0xC6D8E6 : 0xE0E1E4;
    if (st == State::Hover) top = accent ? 0xB4CDE2 : 0xCDCFD2, bottom = accent ? 0x90AEC8 : 0xACAFB3;
    if (st == State::Pressed) top = accent ? 0x6F8DA7 : 0x8B8E93, bottom = accent ? 0x8CA9C3 : 0xA4A7AB;
    L.round(b, r, vgrad(top, bottom, b.y0, b.y1));
    L.clipTo(b.inset(L.oneUnit()), r - L.oneUnit());
    if (st == State::Pressed)
        L.hline(b.x0, b.x1, b.y0 + L.oneUnit(), solid(0x000000, 0.25));
    else
        L.hline(b.x0, b.x1, b.y0 + L.oneUnit(), solid(shine, 0.9));
    L.clearClip();
    L.ring(b, r, solid(0x08080A, 0.95));
}

void darkButton(Layer& L, const Box& b, double radius, State st) {
    uint32_t top = 0x28282D, bottom = 0x1D1D21;
    if (st == State::Hover) top = 0x313137, bottom = 0x25252A;
    if (st == State::Pressed) top = 0x161619, bottom = 0x1F1F23;
    L.round(b, radius, vgrad(top, bottom, b.y0, b.y1));
    L.clipTo(b.inset(L.oneUnit()), radius - L.oneUnit());
    L.hline(b.x0, b.x1, b.y0 + L.oneUnit(), st == State::Pressed ? solid(0x000000, 0.3) : solid(0xFFFFFF, 0.07));
    L.clearClip();
    L.ring(b, radius, solid(0x09090A));
}

Fill glyphInk(State st) {
    if (st == State::Hover) return solid(0xE4E4E8);
    if (st == State::Pressed) return solid(0xA4A4AA);
    return solid(0xB4B4BA);
}

void lamp(Layer& L, double cx, double cy, bool on) {
    if (on) {
        for (int i = 0; i < 3; ++i) L.circle(cx, cy, 4.4 - i * 0.6, solid(0x4FD08C, 0.07 + 0.05 * i));
        L.circle(cx, cy, 2.6, vgrad(0xA8F2C8, 0x3FBF7B, cy - 2.6, cy + 2.6));
        L.circle(cx - 0.7, cy - 0.8, 0.9, solid(0xFFFFFF, 0.55));
    } else {
        L.circle(cx, cy, 2.9, solid(0x3A3D42));
        L.circle(cx, cy, 2.9 - L.oneUnit(), vgrad(0x17191B, 0x25282B, cy - 2.6, cy + 2.6));
    }
}

namespace {

const char* stateName(State st, const char* normal, const char* hover, const char* pressed) {
    return st == State::Normal ? normal : st == State::Hover ? hover : pressed;
}

void chevron(Layer& L, double cx, double cy, bool up, const Fill& ink) {
    Path p;
    const double d = up ? -1 : 1;
    p.moveTo(cx - 3, cy - 1.5 * d);
    p.lineTo(cx, cy + 1.5 * d);
    p.lineTo(cx + 3, cy - 1.5 * d);
    L.stroke(p, 1.4, ink);
}

void triangle(Layer& L, double cx, double cy, bool down, const Fill& ink) {
    Path p;
    const double d = down ? 1 : -1;
    p.moveTo(cx - 3, cy - 1.75 * d);
    p.lineTo(cx + 3, cy - 1.75 * d);
    p.lineTo(cx, cy + 1.75 * d);
    p.close();
    L.shape(p, ink);
}

void folder(Layer& L, double x, double y, const Fill& ink) {
    Path p;
    p.moveTo(x, y + 7);
    p.lineTo(x, y);
    p.lineTo(x + 3.5, y);
    p.lineTo(x + 4.5, y + 1.5);
    p.lineTo(x + 9, y + 1.5);
    p.lineTo(x + 9, y + 7);
    p.close();
    L.stroke(p, 1.1, ink);
    L.hline(x, x + 9, y + 3, ink);
}

void tick(Layer& L, const Box& face, const Fill& ink) {
    Path p;
    p.moveTo(face.x0 + 2.5, face.cy() + 0.2);
    p.lineTo(face.x0 + 4.6, face.cy() + 2.4);
    p.lineTo(face.x1 - 2.3, face.cy() - 2.6);
    L.stroke(p, 1.6, ink, 0);
}

void checkBox(Layer& L, const Box& b, bool on, bool pressed) {
    const Box face = b.inset(1);
    if (on) {
        L.round(face, 2, pressed ? vgrad(0x6E8CA6, 0x7F9DB7, face.y0, face.y1) : vgrad(0xA2BFD7, 0x7C9DB9, face.y0, face.y1));
        L.ring(face, 2, solid(0x0A0A0C));
        tick(L, face, solid(0x101317));
    } else {
        L.round(face, 2, pressed ? solid(0x222226) : vgrad(0x0D0D0F, 0x151518, face.y0, face.y1));
        L.ring(face, 2, solid(pressed ? 0x67676F : 0x4A4A52));
    }
}

// Scrollbar arrow buttons and the cap.
void arrowButton(Layer& L, const Box& b, bool up, State st) {
    darkButton(L, b, 2.5, st);
    chevron(L, b.cx(), b.cy() + (st == State::Pressed ? 0.5 : 0), up, glyphInk(st));
}

void cap(Layer& L, const Box& b, int look) {  // 0 normal, 1 hover, 2 grabbed
    const uint32_t top[3] = {0x4A4B51, 0x57585E, 0x86A4BD}, bottom[3] = {0x37383D, 0x424349, 0x66849D};
    L.round(b, 3, vgrad(top[look], bottom[look], b.y0, b.y1));
    L.clipTo(b.inset(L.oneUnit()), 2);
    L.hline(b.x0, b.x1, b.y0 + L.oneUnit(), solid(0xFFFFFF, 0.12));
    L.clearClip();
    L.ring(b, 3, solid(0x09090A));
    for (int i = -1; i <= 1; ++i) {
        const double y = b.cy() + i * 3 - 0.5;
        L.hline(b.x0 + 3, b.x1 - 3, y, solid(0x000000, 0.35));
        L.hline(b.x0 + 3, b.x1 - 3, y + 1, solid(0xFFFFFF, 0.12));
    }
}

void addStates3(std::vector<Art>& out, const char* normal, const char* hover, const char* pressed, Box place,
                const std::function<void(Layer&, State)>& draw) {
    for (State st : {State::Normal, State::Hover, State::Pressed})
        out.push_back({stateName(st, normal, hover, pressed), place, Art::Picture, [draw, st](Layer& L) { draw(L, st); }});
}

void addPill(std::vector<Art>& out, const std::string& prefix, Box place, bool accent) {
    out.push_back({prefix + "_normal", place, Art::Picture, [=](Layer& L) { lightPill(L, place, State::Normal, accent); }});
    out.push_back({prefix + "_pressed", place, Art::Picture, [=](Layer& L) { lightPill(L, place, State::Pressed, accent); }});
}

// The glass over the picture well: a sheen on the upper part, a shade at the foot, a bright rim.
void glass(Layer& L, const Box& b) {
    L.clipTo(b, 3);
    L.rect(b, [&](double, double y) {
        const double t = (y - b.y0) / (b.y1 - b.y0);
        if (t < 0.42) return hex(0xFFFFFF, 0.085 * (1 - t / 0.42) + 0.015);
        if (t > 0.7) return hex(0x000000, 0.28 * (t - 0.7) / 0.3);
        return hex(0xFFFFFF, 0.0);
    });
    L.hline(b.x0, b.x1, b.y0 + L.oneUnit(), solid(0xFFFFFF, 0.10));
    L.clearClip();
    L.ring(b, 3, solid(0xFFFFFF, 0.05));
}

}  // namespace

std::vector<Art> skinArt() {
    std::vector<Art> out;
    out.push_back({"page", Box{0, 0, 426, 344}, Art::Picture, drawPage});

    // Overlays.
    out.push_back({"over_1", xywh(7, 35, 8, 9), Art::Picture, [](Layer& L) {
                       for (int i = 0; i < 3; ++i) {
                           const double y = 36 + i * 3;
                           L.rect(Box{7, y, 8, y + 1}, solid(0x8A8A92));
                           L.rect(Box{10, y, 15, y + 1}, solid(0x6C6C74));
                       }
                   }});
    const Box groove = xywh(292, 64, 6, 236);
    out.push_back({"over_2", groove, Art::Picture, [=](Layer& L) { recess(L, groove, 3, 0x070708); }});
    out.push_back({"over_3", xywh(285, 64, 21, 236), Art::Picture, [](Layer& L) {
                       for (double y = 66; y < 300; y += 12) {
                           const bool major = int(y - 66) % 48 == 0;
                           L.rect(Box{major ? 285.0 : 286.0, y, 288, y + 1}, solid(0x34343A));
                           L.rect(Box{302, y, major ? 305.0 : 304.0, y + 1}, solid(0x34343A));
                       }
                   }});
    const Box well = xywh(317, 53, 97, 73);
    out.push_back({"over_4", well, Art::Glass, [=](Layer& L) { glass(L, well); }});
    const Box accountRecess{372, 314, 420, 333};
    out.push_back({"over_5", accountRecess, Art::Picture, [=](Layer& L) { recess(L, accountRecess, 9.5, 0x0B0B0C); }});

    // Column header: sort pill and arrow.
    addPill(out, "sort_pill", xywh(17, 33, 39, 12), false);
    const Box arrow = xywh(59, 36, 8, 6);
    out.push_back({"sort_arrow_down", arrow, Art::Picture, [=](Layer& L) { triangle(L, arrow.cx(), arrow.cy(), true, solid(0xA8A8AE)); }});
    out.push_back({"sort_arrow_up", arrow, Art::Picture, [=](Layer& L) { triangle(L, arrow.cx(), arrow.cy(), false, solid(0xA8A8AE)); }});

    // Scrollbar.
    const Box up = xywh(288, 51, 14, 10), down = xywh(288, 302, 14, 10), capBox = xywh(289, 63, 12, 24);
    addStates3(out, "sb_up_normal", "sb_up_hover", "sb_up_pressed", up, [=](Layer& L, State st) { arrowButton(L, up, true, st); });
    addStates3(out, "sb_down_normal", "sb_down_hover", "sb_down_pressed", down,
               [=](Layer& L, State st) { arrowButton(L, down, false, st); });
    out.push_back({"cap_sb", capBox, Art::Picture, [=](Layer& L) { cap(L, capBox, 0); }});
    out.push_back({"cap_sb_hover", capBox, Art::Picture, [=](Layer& L) { cap(L, capBox, 1); }});
    out.push_back({"cap_sb_grabbed", capBox, Art::Picture, [=](Layer& L) { cap(L, capBox, 2); }});

    // Inspector buttons.
    const Box open = xywh(377, 261, 39, 15), more = xywh(381, 210, 32, 24);
    addStates3(out, "open_up", "open_hover", "open_down", open, [=](Layer& L, State st) {
        darkButton(L, open, 3, st);
        folder(L, open.x0 + 3.5, open.y0 + 4 + (st == State::Pressed ? 0.5 : 0), glyphInk(st));
    });
    addStates3(out, "more_up", "more_hover", "more_down", more, [=](Layer& L, State st) {
        darkButton(L, more, 3, st);
        for (int i = -1; i <= 1; ++i)
            L.circle(more.cx() + i * 4.5, 216 + (st == State::Pressed ? 0.5 : 0), 1.4, glyphInk(st));
    });
    addPill(out, "main_pill", xywh(318, 210, 58, 15), true);
    addPill(out, "update_all", xywh(312, 316, 58, 15), false);
    addPill(out, "account", xywh(374, 316, 44, 15), false);

    // Formats: tick box, lamp and label hit box, centred under each label.
    struct Format {
        const char* name;
        double x;  // left of the tick box
        Box label;
    };
    const Format formats[] = {{"vst3", 326, Box{325, 234, 350, 244}},
                              {"clap", 358, Box{357, 234, 383, 244}},
                              {"au", 387, Box{391, 234, 406, 244}}};
    for (const Format& f : formats) {
        const std::string n = f.name;
        const Box box = xywh(f.x, 245, 13, 13), led = xywh(f.x + 15, 247, 9, 9);
        out.push_back({"check_" + n + "_off", box, Art::Picture, [=](Layer& L) { checkBox(L, box, false, false); }});
        out.push_back({"check_" + n + "_on", box, Art::Picture, [=](Layer& L) { checkBox(L, box, true, false); }});
        out.push_back({"check_" + n + "_press_off", box, Art::Picture, [=](Layer& L) { checkBox(L, box, false, true); }});
        out.push_back({"check_" + n + "_press_on", box, Art::Picture, [=](Layer& L) { checkBox(L, box, true, true); }});
        out.push_back({"led_" + n + "_on", led, Art::Picture, [=](Layer& L) { lamp(L, led.cx(), led.cy(), true); }});
        out.push_back({"led_" + n + "_off", led, Art::Picture, [=](Layer& L) { lamp(L, led.cx(), led.cy(), false); }});
        out.push_back({"label_" + n, f.label, Art::HitOnly, nullptr});
    }

    // Rows: drawn on the reference line whose top-left is (7, 74), lamps on the one at (7, 49).
    const Box plate = xywh(7, 74, 276, 24);
    out.push_back({"row_plate", plate, Art::Picture, [=](Layer& L) {
                       L.round(plate, 3, vgrad(0x1D1D21, 0x18181B, plate.y0, plate.y1));
                       L.clipTo(plate, 3);
                       L.hline(plate.x0, plate.x1, plate.y0, solid(0x2A2A2F));
                       L.hline(plate.x0, plate.x1, plate.y1 - L.oneUnit(), solid(0x0B0B0C));
                       L.clearClip();
                   }});
    out.push_back({"row_recesses", xywh(10, 76, 270, 20), Art::Picture, [](Layer& L) {
                       recess(L, Box{10, 78, 80, 92}, 2, 0x0D0D0F);
                       for (const Box& b : {Box{126, 76, 177, 95}, Box{178, 76, 228, 95}, Box{230, 76, 280, 95}})
                           recess(L, b, 3, 0x111113);
                   }});
    const Box rowPill = xywh(234, 78, 42, 16);
    addStates3(out, "row_pill_normal", "row_pill_hover", "row_pill_pressed", rowPill,
               [=](Layer& L, State st) { lightPill(L, rowPill, st, false); });
    const Box rowLed = xywh(261, 53, 14, 15);
    out.push_back({"row_led_on", rowLed, Art::Picture, [=](Layer& L) { lamp(L, rowLed.cx(), rowLed.cy(), true); }});
    out.push_back({"row_led_off", rowLed, Art::Picture, [=](Layer& L) { lamp(L, rowLed.cx(), rowLed.cy(), false); }});
    return out;
}

}  // namespace skinart
