// The job window's painting in the pixel look: frame and bar, the swirl with the brand mark, the
// info rows (product, ticks, destination, status), the progress bar and the buttons. Every part
// (close box, tick boxes, data tick, scope options, buttons) is drawn where the part table puts it.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "gui/chrome/logo.h"
#include "gui/draw/clip_scope.h"
#include "gui/place.h"
#include "manager/model/model.h"
#include "manager/pixel_look/primitives.h"
#include "manager/pixel_look/primitives_internal.h"
#include "manager/windows/job_window.h"

namespace tqapp {

namespace {

using lumo::gui::BitmapFont;
using lumo::gui::Color;
using lumo::gui::Paint;
using lumo::gui::Rect;

int lr(double v) { return int(std::lround(v)); }

using dev::baselineIn;

// One line of text in a logical rectangle: cut to fit inside the margin (units) on both sides,
// left-aligned at the margin or centred; dy moves it down by device pixels.
void text(const Paint& p, const BitmapFont* f, Rect logical, const std::string& s, Color c, int margin, bool centred,
          int dy = 0) {
    dev::textIn(p, f, logical, s, c, margin, centred, dy);
}

// A one-unit outline of a logical rectangle.
void outline(const Paint& p, Rect logical, Color c) { p.canvas.strokeRect(dev::device(p, logical), c, dev::one(p.scale)); }

// A tick box in the slot of a logical rectangle. Where nine dots of the unit are wider than the slot
// (scale 1.5: 18 pixels in 14), the slot grows to the right, so the box keeps its four edges.
void tickBox(const Paint& p, Rect logical, bool on, bool hot, bool down) {
    Rect slot = dev::device(p, logical);
    slot.w = std::max(slot.w, 9 * dev::one(p.scale));
    dev::checkbox(p, slot, on, hot, down, true);
}

}  // namespace

void JobWindow::draw(const Paint& p) {
    const double s = p.scale;
    paintedScale = s > 0 && std::isfinite(s) ? s : 1.0;
    const int u = dev::one(s);
    const Rect whole = dev::device(p, Rect{0, 0, kWidth, bounds.h});
    dev::ClipScope clip(p.canvas, whole);
    const Rect figure = dev::device(p, kFigure);
    // The repaint of the moving figure at each tick reaches only the figure and the bare panel
    // around it (below the bar, inside the frame, above the first row's label): nothing else is
    // drawn, and the panel colour only around the figure, which the figure fills itself.
    const Rect around = dev::device(p, Rect{2, kBarHeight + 2, kWidth - 4, 138 - kBarHeight - 2});
    const Rect c = p.canvas.clip;
    const auto within = [&c](const Rect& r) {
        return c.x >= r.x && c.y >= r.y && c.x + c.w <= r.x + r.w && c.y + c.h <= r.y + r.h;
    };
    const bool figureOnly = within(around);
    // The repaint of a scrolling status line reaches only its row (its label, its box and a few
    // units of bare panel around them): the row alone is drawn.
    const Rect box = statusBox();
    if (within(dev::device(p, Rect{2, box.y - 10, kWidth - 4, 10 + box.h + 3}))) {
        p.canvas.fillRect(c, dev::bg);
        drawStatus(p);
        return;
    }
    if (figureOnly) {
        const int right = figure.x + figure.w, bottom = figure.y + figure.h;
        for (const Rect& r : {Rect{c.x, c.y, c.w, figure.y - c.y}, Rect{c.x, bottom, c.w, c.y + c.h - bottom},
                              Rect{c.x, figure.y, figure.x - c.x, figure.h}, Rect{right, figure.y, c.x + c.w - right, figure.h}})
            p.canvas.fillRect(r, dev::bg);
    } else {
        p.canvas.fillRect(whole, dev::bg);
    }
    PartTable<JobPartId> table;
    if (!figureOnly) {
        table = parts();  // laid out for this paint's scale
        p.canvas.strokeRect(whole, dev::rule, u);
        if (const Part<JobPartId>* close = table.find(kJobClose))
            dev::windowBar(p, kWidth, kBarHeight, close->rect, hot(*close), down(*close));
    }

    // The figure, brightening with the job's progress and flashing once on success.
    const Model* m = liveModel();
    const double energy = flash * 0.6 + (state == Running && m ? m->fraction * 0.25 : 0.0);
    swirl.draw(p.canvas, figure, u, s, phase, energy, state == Failed);
    outline(p, Rect{8, 30, 202, 102}, dev::rule);

    drawMark(p, figure);
    if (figureOnly) return;

    drawInfoRows(p, table);
    if (extraRow()) drawExtraRow(p, table);
    drawProgress(p);
    drawButtons(p, table);
}

void JobWindow::drawMark(const Paint& p, Rect figure) {
    // The brand mark over the figure, ringed in the panel colour so it reads over any glyph.
    const double s = p.scale;
    const int u = dev::one(s);
    dev::ClipScope inFigure(p.canvas, figure);
    const Rect logo = dev::device(p, Rect{9, 56, 200, 36});
    const double factor = s * 1.8;
    const BitmapFont* bold = dev::font(s, true, false);
    const std::string word = "ARDUNE SYSTEMS";
    const int top = dev::device(p, Rect{0, 0, 0, 0}).y;
    const int wordX = bold ? figure.x + (figure.w - bold->width(word)) / 2 : 0;
    const int wordY = top + lr(98 * s) + lr(7 * s);
    const Color ring = dev::bg, lit = dev::cream;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if ((dx != 0 || dy != 0) && bold) bold->draw(p.canvas, wordX + dx * u, wordY + dy * u, word, &ring);
    if (bold) bold->draw(p.canvas, wordX, wordY, word, &lit);

    // The mark's outline would be filled nine times at every paint of the moving figure under it.
    // What the fills do is found once, by the rasteriser itself at the very same place: over black
    // and over white (a pixel both give alike is the fills' alone: each step of the blend rule is
    // monotone), and in white over clear for each fill's weight (its alpha there), which the edge
    // pixels are blended with later by the same rule. The same pixels, bit for bit, without
    // rasterising again.
    Rect places[9];
    int n = 0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (dx != 0 || dy != 0) places[n++] = Rect{logo.x + dx * u, logo.y + dy * u, logo.w, logo.h};
    places[n++] = logo;
    const auto colour = [&](int i) { return i + 1 < n ? ring : lit; };
    const Rect reach = lumo::gui::intersect(Rect{logo.x - u, logo.y - u, logo.w + 2 * u, logo.h + 2 * u}, figure);
    // A figure partly off the canvas or colours of their own alpha: filled as they are.
    if (figure.x < 0 || figure.y < 0 || reach.empty() || (ring >> 24) != 0xFF || (lit >> 24) != 0xFF) {
        for (int i = 0; i < n; ++i) lumo::gui::drawArduneLogo(p.canvas, places[i], factor, colour(i));
        return;
    }
    MarkLayer& m = mark_;
    const auto same = [](Rect a, Rect b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; };
    if (!(m.factor == factor && m.unit == u && same(m.logo, logo) && same(m.figure, figure))) {
        m = MarkLayer{};
        m.logo = logo;
        m.figure = figure;
        m.reach = reach;
        m.factor = factor;
        m.unit = u;
        const size_t w = size_t(reach.w), h = size_t(reach.h);
        auto canvasOf = [&](uint32_t fill) {
            lumo::gui::Canvas c;
            c.resize(reach.x + reach.w, reach.y + reach.h);
            std::fill(c.pixels.begin(), c.pixels.end(), fill);
            c.clip = figure;
            return c;
        };
        auto at = [&](const lumo::gui::Canvas& c, size_t x, size_t y) {
            return c.pixels[(size_t(reach.y) + y) * size_t(c.width) + size_t(reach.x) + x];
        };
        lumo::gui::Canvas black = canvasOf(0xFF000000u), white = canvasOf(0xFFFFFFFFu);
        std::vector<uint8_t> weights(w * h * size_t(n));
        for (int i = 0; i < n; ++i) {
            lumo::gui::drawArduneLogo(black, places[i], factor, colour(i));
            lumo::gui::drawArduneLogo(white, places[i], factor, colour(i));
            lumo::gui::Canvas clear = canvasOf(0);
            lumo::gui::drawArduneLogo(clear, places[i], factor, 0xFFFFFFFFu);
            for (size_t y = 0; y < h; ++y)
                for (size_t x = 0; x < w; ++x) weights[(y * w + x) * size_t(n) + size_t(i)] = uint8_t(at(clear, x, y) >> 24);
        }
        m.fixed.w = reach.w;
        m.fixed.h = reach.h;
        m.fixed.pixels.assign(w * h, 0u);
        for (size_t y = 0; y < h; ++y)
            for (size_t x = 0; x < w; ++x) {
                const uint8_t* wt = &weights[(y * w + x) * size_t(n)];
                if (std::all_of(wt, wt + n, [](uint8_t v) { return v == 0; })) continue;
                if (at(black, x, y) == at(white, x, y)) {
                    m.fixed.pixels[y * w + x] = at(black, x, y);
                    continue;
                }
                MarkLayer::Edge e{int(x) + reach.x, int(y) + reach.y, {}};
                std::copy(wt, wt + n, e.weights);
                m.edges.push_back(e);
            }
    }
    p.canvas.drawBitmap(m.fixed, reach.x, reach.y);
    for (const MarkLayer::Edge& e : m.edges)
        for (int i = 0; i < n; ++i)
            if (e.weights[i]) p.canvas.blendPixel(e.x, e.y, Color(e.weights[i]) << 24 | (colour(i) & 0xFFFFFFu));
}

void JobWindow::drawInfoRows(const Paint& p, const PartTable<JobPartId>& table) {
    const BitmapFont* regular = dev::font(p.scale, false, false);
    const BitmapFont* bold = dev::font(p.scale, true, false);
    const int destination = extraRow() ? 3 : 2;
    const std::string second = plan.selfUpdate    ? "VERSION"
                                : plan.selfInstall ? "SHORTCUTS"
                                : plan.selfRemoval ? "ALSO REMOVE"
                                : plan.appChoices  ? "APPS"
                                                   : "FORMATS";
    const std::pair<int, std::string> labels[] = {{0, "PRODUCT"}, {1, second}, {destination, "DESTINATION"}};
    for (const auto& [k, label] : labels) {
        text(p, regular, Rect{8, 140 + 26 * k, 202, 9}, label, dev::wave, 0, false);
        outline(p, Rect{8, 150 + 26 * k, 202, 14}, dev::rule);
    }
    auto value = [&](int k, const std::string& s) { text(p, regular, Rect{8, 150 + 26 * k, 202, 14}, s, dev::cream, 4, false); };
    value(0, plan.title);

    if (choosing() && !plan.selfUpdate) {
        // Long labels end in "..." at the row's side (the table cuts their boxes there); the clip
        // keeps the sides exact. (Top and bottom stay open: at scale 1.5 a tick box of nine dots is
        // taller than the row's inside.)
        const int u = dev::one(p.scale);
        const Rect row = dev::device(p, Rect{8, 176, 202, 14});
        dev::ClipScope inRow(p.canvas, Rect{row.x + u, row.y, row.w - 2 * u, row.h});
        for (const Part<JobPartId>& part : table.parts()) {
            if (part.id.kind == JobPart::Shift) {
                const Color ink = !part.enabled ? dev::dim : down(part) || hot(part) ? dev::cream : dev::wave;
                dev::arrow(p, dev::device(p, part.rect), part.id.index < 0 ? 'l' : 'r', ink);
                continue;
            }
            if (part.id.kind != JobPart::Choice || part.rect.w <= 0) continue;
            const JobChoice& c = plan.choices[size_t(part.id.index)];
            const Rect r = part.rect;
            tickBox(p, Rect{r.x, r.y, 9, r.h}, part.checked, hot(part), down(part));
            text(p, bold, Rect{r.x + 13, r.y, r.w - 13, r.h}, c.label, part.checked ? dev::cream : dev::wave, 0, false);
        }
    } else if (plan.selfUpdate) {
        value(1, plan.fromVersion + "  >  " + plan.toVersion);
    } else if (plan.selfInstall || plan.selfRemoval) {
        const std::string f = formatsText();
        value(1, f.empty() ? "NONE" : f);
    } else {
        value(1, formatsText());
    }

    const JobChoice* first = firstOn();
    value(destination, !plan.where.empty() ? plan.where : first ? first->where : std::string());
    drawStatus(p);
}

void JobWindow::drawStatus(const Paint& p) {
    const BitmapFont* regular = dev::font(p.scale, false, false);
    const Rect box = statusBox();
    text(p, regular, Rect{box.x, box.y - 10, box.w, 9}, "STATUS", dev::wave, 0, false);
    outline(p, box, dev::rule);
    if (!regular) return;
    const std::string s = statusText();
    const Color c = state == Choose ? dev::wave : dev::cream;
    const Rect r = dev::device(p, box);
    const int m = lr(4 * p.scale);
    const int width = regular->width(s);
    scrollingStatus = Rect{};
    if (width <= r.w - 2 * m) {
        text(p, regular, box, s, c, 4, false);
        return;
    }
    // Too long: it scrolls left, copies of it a gap apart.
    scrollingStatus = box;
    paintedShift = statusShift(*regular, s, p.scale);
    const int period = width + lr(40 * p.scale);
    dev::ClipScope clip(p.canvas, Rect{r.x + m, r.y, std::max(0, r.w - 2 * m), r.h});
    const int y = baselineIn(*regular, r);
    for (int x = r.x + m - paintedShift; x < r.x + r.w; x += period) regular->draw(p.canvas, x, y, s, &c);
}

int JobWindow::statusShift(const BitmapFont& font, const std::string& s, double scale) const {
    const int period = font.width(s) + lr(40 * scale);
    const double cycle = period / (24 * scale) + 1.5;
    const double t = std::fmod(std::max(0.0, clock - statusSince), cycle);
    return t < 1.5 ? 0 : int((t - 1.5) * 24 * scale);
}

void JobWindow::drawExtraRow(const Paint& p, const PartTable<JobPartId>& table) {
    const BitmapFont* regular = dev::font(p.scale, false, false);
    const BitmapFont* bold = dev::font(p.scale, true, false);
    const int u = dev::one(p.scale);
    outline(p, Rect{8, 202, 202, 14}, dev::rule);
    if (plan.offersData) {
        text(p, regular, Rect{8, 192, 202, 9}, "ALSO DELETE", dev::wave, 0, false);
        if (const Part<JobPartId>* tick = table.find(kJobData)) {
            const Rect r = tick->rect;
            tickBox(p, Rect{r.x, r.y, 9, r.h}, tick->checked, hot(*tick), down(*tick));
            text(p, bold, Rect{r.x + 13, r.y, r.w - 13, r.h}, plan.dataLabel, tick->checked ? dev::cream : dev::wave, 0,
                 false);
        } else {
            text(p, regular, Rect{8, 202, 202, 14}, plan.dataDeleted ? plan.dataLabel : "NOTHING: ITS DATA IS KEPT",
                 dev::cream, 4, false);
        }
        return;
    }
    text(p, regular, Rect{8, 192, 202, 9}, "PLUGINS GO", dev::wave, 0, false);
    // The two options: a square box with a dot for the chosen one, and the label beside it.
    for (const Part<JobPartId>& part : table.parts()) {
        if (part.id.kind != JobPart::Scope) continue;
        const Rect r = part.rect;
        const Rect box = dev::device(p, Rect{r.x, r.y + 2, 9, 9});
        p.canvas.fillRect(box, dev::bg);
        p.canvas.strokeRect(box, part.enabled && down(part) ? dev::cream : hot(part) ? dev::wave : dev::dim, u);
        // The dot in the middle of the box: three units in at whole scales, centred where the box is
        // not nine units of the unit (scales 1.2 and 1.5).
        if (part.checked)
            p.canvas.fillRect(Rect{box.x + (box.w - 3 * u) / 2, box.y + (box.h - 3 * u) / 2, 3 * u, 3 * u}, dev::cream);
        const char* label = part.id == jobScope(tqm::Scope::User) ? "FOR ME" : "ALL USERS";
        text(p, bold, Rect{r.x + 13, r.y, r.w - 13, r.h}, label, part.checked ? dev::cream : dev::wave, 0, false);
    }
}

void JobWindow::drawProgress(const Paint& p) {
    const BitmapFont* regular = dev::font(p.scale, false, false);
    const int u = dev::one(p.scale);
    const Rect bar = dev::device(p, Rect{8, extraRow() ? 272 : 246, 202, 12});
    const Color c = state == Failed ? dev::wave : dev::cream;
    const int reserve = (regular ? regular->width("100%") : lr(24 * p.scale)) + 8 * u + lr(6 * p.scale);
    int cell = (bar.w - reserve) / 18;
    cell = std::max(u, cell - cell % u);

    // Brackets: a bar of full height with ticks pointing inwards at top and bottom.
    auto bracket = [&](int x, bool left) {
        p.canvas.fillRect(Rect{left ? x : x + 2 * u, bar.y, u, bar.h}, c);
        p.canvas.fillRect(Rect{x, bar.y, 3 * u, u}, c);
        p.canvas.fillRect(Rect{x, bar.y + bar.h - u, 3 * u, u}, c);
    };
    const int x0 = bar.x + 4 * u;
    bracket(bar.x, true);
    bracket(x0 + 18 * cell + u, false);

    const double shown = std::clamp(progress, 0.0, 1.0);
    const int n = lr(shown * 18);
    const int top = bar.y + u, h = bar.h - 2 * u;
    p.canvas.fillRect(Rect{x0, top, n * cell, h}, c);
    // The rest of the strip dotted: every second row of dots, every second column, alternate rows shifted.
    for (int row = 0; row * u < h; row += 2)
        for (int col = n * cell / u; col * u < 18 * cell; ++col)
            if ((col + row / 2) % 2 == 0) p.canvas.fillRect(Rect{x0 + col * u, top + row * u, u, u}, c);

    if (!regular) return;
    char percent[8];
    std::snprintf(percent, sizeof percent, "%d%%", lr(shown * 100));
    regular->draw(p.canvas, bar.x + bar.w - regular->width(percent), baselineIn(*regular, bar), percent, &c);
}

void JobWindow::drawButtons(const Paint& p, const PartTable<JobPartId>& table) {
    const BitmapFont* bold = dev::font(p.scale, true, false);
    const int u = dev::one(p.scale);
    for (const Part<JobPartId>& part : table.parts()) {
        if (part.id.kind != JobPart::Button) continue;
        const bool isDown = down(part);
        dev::button(p, dev::device(p, part.rect), hot(part), isDown, part.enabled);
        text(p, bold, part.rect, buttonLabel(part.id), part.enabled ? dev::cream : dev::dim, 2, true, isDown ? u : 0);
    }
}

}  // namespace tqapp
