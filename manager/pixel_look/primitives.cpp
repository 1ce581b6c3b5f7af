// The pixel look's unit, fonts, dot bitmaps and small controls.
#include "gui/draw/clip_scope.h"
#include "manager/pixel_look/primitives.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "gui/fonts.h"
#include "gui/place.h"
#include "manager/pixel_look/primitives_internal.h"

namespace tqapp::dev {

using lumo::gui::Canvas;

int one(double scale) { return lumo::gui::wholePixels(scale); }

const lumo::gui::BitmapFont* font(double scale, bool bold, bool shortForm) {
    // Every text asks, many times a frame: the faces of the last scale asked for are kept (the fonts
    // live as long as the program).
    struct Faces {
        double scale = -1;
        const lumo::gui::BitmapFont* face[4] = {};
        bool known[4] = {};
    };
    thread_local Faces last;
    if (!(last.scale == scale)) last = Faces{scale, {}, {}};
    const int k = (bold ? 1 : 0) + (shortForm ? 2 : 0);
    if (!last.known[k]) {
        const char* name = shortForm ? (bold ? "tqnative_short_bold" : "tqnative_short")
                                     : (bold ? "tqnative_bold" : "tqnative");
        last.face[k] = lumo::gui::lumoFonts().pack(scale).font(name);
        last.known[k] = true;
    }
    return last.face[k];
}

Rect device(const Paint& p, Rect r) {
    auto mapX = [&](int x) {
        return p.exact ? int(std::lround((p.logical.x + x) * p.scale)) + p.base.x
                       : int(std::lround(x * p.scale)) + p.rect.x;
    };
    auto mapY = [&](int y) {
        return p.exact ? int(std::lround((p.logical.y + y) * p.scale)) + p.base.y
                       : int(std::lround(y * p.scale)) + p.rect.y;
    };
    const int x0 = mapX(r.x), y0 = mapY(r.y);
    return Rect{x0, y0, mapX(r.x + r.w) - x0, mapY(r.y + r.h) - y0};
}

void pixels(const Paint& p, int x, int y, Rows rows, Color c) {
    const int u = one(p.scale);
    for (size_t r = 0; r < rows.size(); ++r) {
        const char* row = rows[r];
        if (!row) continue;
        // Runs of inked cells become one rectangle each.
        for (int col = 0; row[col];) {
            if (row[col] != '#') {
                ++col;
                continue;
            }
            int end = col;
            while (row[end] == '#') ++end;
            p.canvas.fillRect(Rect{x + col * u, y + int(r) * u, (end - col) * u, u}, c);
            col = end;
        }
    }
}

void pixelsIn(const Paint& p, Rect area, Rows rows, Color c) {
    if (rows.empty()) return;
    const int u = one(p.scale);
    size_t longest = 0;
    for (const char* row : rows)
        if (row) longest = std::max(longest, std::strlen(row));
    const int w = int(longest) * u, h = int(rows.size()) * u;
    ClipScope clip(p.canvas, area);
    pixels(p, area.x + (area.w - w) / 2, area.y + (area.h - h) / 2, rows, c);
}

void button(const Paint& p, Rect r, bool hot, bool down, bool enabled) {
    const bool washed = !down && hot && enabled;
    const Color fill = down ? pressedFill : bg;
    const Color border = down ? cream : enabled ? rule : dim;
    // The wash lies on the panel colour, not on what is under the button (a selected row's light
    // plate would take the label's contrast).
    p.canvas.fillRect(r, fill);
    if (washed) p.canvas.fillRect(r, hoverWash);
    p.canvas.strokeRect(r, border, one(p.scale));
}

Color buttonInk(bool, bool, bool enabled) { return enabled ? cream : dim; }

namespace {

constexpr const char* kTick[] = {"....#", "...#.", "#.#..", ".#..."};

// A square of n dots centred in r.
Rect centredSquare(Rect r, int side) { return Rect{r.x + (r.w - side) / 2, r.y + (r.h - side) / 2, side, side}; }

}  // namespace

Rows tickRows() { return Rows(kTick); }

void checkbox(const Paint& p, Rect r, bool on, bool hot, bool down, bool enabled) {
    const int u = one(p.scale);
    ClipScope clip(p.canvas, r);
    const Rect box = centredSquare(r, 9 * u);
    const Color border = !enabled ? rule : down ? cream : hot ? wave : dim;
    p.canvas.fillRect(box, bg);
    p.canvas.strokeRect(box, border, u);
    if (on && enabled) pixels(p, box.x + (9 * u - 5 * u) / 2, box.y + (9 * u - 4 * u) / 2, Rows(kTick), cream);
}

void lamp(const Paint& p, Rect r, bool on) {
    const int u = one(p.scale);
    ClipScope clip(p.canvas, r);
    const Rect sq = centredSquare(r, 5 * u);
    if (on)
        p.canvas.fillRect(sq, cream);
    else
        p.canvas.strokeRect(sq, rule, u);
}

void arrow(const Paint& p, Rect r, char direction, Color c) {
    static constexpr const char* up[] = {"..#..", ".###.", "#####"};
    static constexpr const char* right[] = {"#..", "##.", "###", "##.", "#.."};
    static constexpr const char* left[] = {"..#", ".##", "###", ".##", "..#"};
    static constexpr const char* down[] = {"#####", ".###.", "..#.."};
    switch (direction) {
        case 'u': pixelsIn(p, r, Rows(up), c); break;
        case 'r': pixelsIn(p, r, Rows(right), c); break;
        case 'l': pixelsIn(p, r, Rows(left), c); break;
        default: pixelsIn(p, r, Rows(down), c); break;
    }
}

void squareButton(const Paint& p, Rect r, bool close, bool hot, bool down) {
    static constexpr const char* cross[] = {"##...##", "###.###", ".#####.", "..###..",
                                            ".#####.", "###.###", "##...##"};
    static constexpr const char* bar[] = {".......", ".......", ".......", ".......",
                                          ".......", "#######", "#######"};
    const int u = one(p.scale);
    ClipScope clip(p.canvas, r);
    Rect sq = centredSquare(r, 13 * u);
    // Pressed, the button sinks one dot, but never past the foot of its rectangle.
    if (down) sq.y += std::clamp(r.y + r.h - (sq.y + sq.h), 0, u);
    const bool lit = hot || down;
    if (lit)
        p.canvas.fillRect(sq, cream);
    else
        p.canvas.strokeRect(sq, wave, u);
    pixels(p, sq.x + 3 * u, sq.y + 3 * u, close ? Rows(cross) : Rows(bar), lit ? bg : wave);
}

}  // namespace tqapp::dev
