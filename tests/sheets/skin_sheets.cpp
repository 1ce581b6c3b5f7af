// skin-sheets [folder]: contact sheets of the skin packs for a person to look at, one "skin-<scale>.png"
// per pack, written into the folder (default: LUMO_TEST_PNG_DIR, else <build dir>/pictures). On top
// the page with every control in place and sample texts in the layout's colours (a window at its
// design size, three rows, the first selected), beneath it the page stretched by 60 units across and
// 40 down (repeating the band strips, as the window does), and at the bottom every sprite on a grey
// ground. The seams and the stretching rules are checked pixel by pixel in tests/skin/packs_test.cpp.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gui/draw/canvas.h"
#include "tests/skin/skin_support.h"
#include "tests/support/png.h"

using namespace skintest;
using lumo::gui::AssetPack;
using lumo::gui::BitmapFont;
using lumo::gui::Canvas;
using lumo::gui::Color;
using lumo::gui::Rect;

namespace {

struct Sheet {
    const AssetPack& p;
    Canvas& c;
    int ox = 0, oy = 0;

    int d(double v) const { return F(v, p.scale); }

    void sprite(const std::string& name, double dy = 0) {
        const auto* sp = p.sprite(name);
        if (sp && sp->image) c.drawBitmap(*sp->image, ox + sp->x, oy + sp->y + d(dy));
    }
    // Over black the "_b" picture, over white the "_w" one, in between their mix.
    void glass(const std::string& name) {
        const auto *b = p.sprite(name + "_b"), *w = p.sprite(name + "_w");
        if (!b || !w || !b->image || !w->image) return;
        for (int y = 0; y < b->h; ++y)
            for (int x = 0; x < b->w; ++x) {
                uint32_t& dst = c.pixels[size_t(oy + b->y + y) * size_t(c.width) + size_t(ox + b->x + x)];
                const uint32_t pb = b->image->pixels[size_t(y * b->w + x)], pw = w->image->pixels[size_t(y * b->w + x)];
                uint32_t out = dst & 0xFF000000u;
                for (int sh : {16, 8, 0}) {
                    const double t = ((dst >> sh) & 0xFF) / 255.0;
                    const double v = t * ((pw >> sh) & 0xFF) / 255.0 + (1 - t) * ((pb >> sh) & 0xFF) / 255.0;
                    out |= uint32_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)) << sh;
                }
                dst = out;
            }
    }
    // Text with its baseline at design y; align 'l', 'c' (in [x, x + w]) or 'r'.
    void text(const char* font, const std::string& s, double x, double y, Color colour, char align = 'l', double w = 0) {
        const BitmapFont* f = p.font(font);
        if (!f) return;
        int px = d(x);
        if (align == 'c') px += (d(w) - f->width(s)) / 2;
        if (align == 'r') px += d(w) - f->width(s);
        f->draw(c, ox + px, oy + d(y), s, &colour);
    }
    // Capitals centred in a design box [x0, y0, x1, y1].
    void centred(const char* font, const std::string& s, double x0, double y0, double x1, double y1, Color colour) {
        const BitmapFont* f = p.font(font);
        if (!f) return;
        text(font, s, x0, y0 + ((y1 - y0) + f->cap_height / p.scale) * 0.5, colour, 'c', x1 - x0);
    }
    double spriteX(const std::string& n) const { return p.sprite(n)->x / p.scale; }
    double spriteR(const std::string& n) const { return (p.sprite(n)->x + p.sprite(n)->w) / p.scale; }
};

constexpr Color kLight = 0xFFE1E1E1, kBright = 0xFFECECEC, kGrey = 0xFFA0A0A0, kDark = 0xFF1B1B1B;

void row(Sheet& s, int i, const std::string& name, const std::string& version, const std::string& status, bool pill,
         bool selected) {
    const double top = 51 + i * 26;
    const auto* plate = s.p.sprite("row_plate");
    if (plate && plate->image) {
        // The selected plate is the plate brightened 1.35 times.
        lumo::gui::Bitmap b = *plate->image;
        if (selected)
            for (uint32_t& q : b.pixels) {
                uint32_t out = q & 0xFF000000u;
                for (int sh : {16, 8, 0}) out |= uint32_t(std::min(255L, std::lround(((q >> sh) & 0xFF) * 1.35))) << sh;
                q = out;
            }
        s.c.drawBitmap(b, s.ox + plate->x, s.oy + plate->y + s.d(top - 74));
    }
    s.sprite("row_recesses", top - 74);
    s.c.fillRect(Rect{s.ox + s.d(11), s.oy + s.d(top + 5), s.d(68), s.d(12)}, 0xFF3A4A5A);  // a thumbnail
    s.text("val", name, 81, top + 15, kGrey);
    s.text("val", "v" + version, 125, top + 15, kGrey, 'r', 47);
    s.text("val", status, 177, top + 15, status == "Update" ? 0xFFD9D9D9 : kGrey, 'c', 53);
    if (pill) {
        s.sprite("row_pill_normal", top - 74);
        s.centred("small", "Update", 234, top + 4, 276, top + 19, 0xFF000000);
    } else {
        s.sprite("row_led_on", top - 49);
    }
}

void window(Sheet& s) {
    s.c.fillRect(Rect{s.ox, s.oy, s.p.width, s.p.height}, 0xFF0B0B0B);
    s.sprite("page");
    s.text("head", "ARDUNE SYSTEMS", 49, 8 + 4.5 + s.p.font("head")->cap_height / (2 * s.p.scale), 0xFFCFCFCF);
    s.sprite("sort_pill_normal");
    s.centred("small", "Name", s.spriteX("sort_pill_normal"), 36, s.spriteR("sort_pill_normal"), 42, 0xFF000000);
    s.sprite("sort_arrow_down");
    s.sprite("over_1");
    s.centred("bold", "Version", 134, 36, 161, 42, kLight);
    s.centred("bold", "Status", 186, 36, 211, 42, kLight);
    s.centred("bold", "Action", 238, 36, 263, 42, kLight);
    row(s, 1, "Reverb Hall", "2.1.0", "Installed", false, false);
    row(s, 2, "Tape Echo", "1.4.2", "Update", true, false);
    row(s, 0, "Bass Synth One", "3.0.0", "Installed", false, true);
    s.text("bold", "PLUGINS", 11, 51 + 3 * 26 + 15, kLight);
    s.sprite("sb_up_normal");
    s.sprite("sb_down_normal");
    s.sprite("over_2");
    s.sprite("cap_sb");
    s.sprite("over_3");
    s.centred("bold", "INSPECT", 336, 37, 397, 44, kBright);
    s.text("val", "Bass Synth One", 318, 134, kBright);
    s.text("val", "A warm two-oscillator bass", 318, 148, kGrey);
    s.text("val", "with a ladder filter.", 318, 159, kGrey);
    s.text("val", ".../Plug-Ins/VST3", 322, 276, kBright);
    s.sprite("open_up");
    s.centred("small", "Open", 394, 265, 410, 271, kLight);
    const struct {
        const char *f, *label;
        double x0, x1;
    } fm[] = {{"vst3", "VST3", 327, 348}, {"clap", "CLAP", 359, 381}, {"au", "AU", 393, 404}};
    for (const auto& f : fm) {
        s.sprite(std::string("check_") + f.f + (f.x0 < 390 ? "_on" : "_off"));
        s.sprite(std::string("led_") + f.f + (f.x0 < 350 ? "_on" : "_off"));
        const Color c = f.x0 < 350 ? 0xFFFFFFFF : f.x0 < 390 ? 0xFFBFBFBF : 0xFF656565;
        s.centred("small", f.label, f.x0, 236, f.x1, 242, c);
    }
    s.sprite("main_pill_normal");
    s.centred("bold", "UPDATE", s.spriteX("main_pill_normal"), 215, s.spriteR("main_pill_normal"), 222, kDark);
    s.sprite("more_up");
    s.centred("small", "More", 389, 227, 405, 231, kLight);
    s.centred("bold", "MANAGE", 342, 198, 391, 205, kBright);
    s.c.fillRect(Rect{s.ox + s.d(345), s.oy + s.d(70), s.d(40), s.d(40)}, 0xFFB06040);  // a logo picture
    s.glass("over_4");
    s.sprite("update_all_normal");
    s.centred("pill", "UPDATE ALL", s.spriteX("update_all_normal"), 321, s.spriteR("update_all_normal"), 326, kDark);
    s.sprite("over_5");
    s.sprite("account_normal");
    s.centred("pill", "ACCOUNT", s.spriteX("account_normal"), 321, s.spriteR("account_normal"), 326, kDark);
    s.text("val", "3 plugins, 1 update", 9, 319 + 18 - 5, kGrey);
}

// The page with each band's strip repeated over its extra device pixels (extras per band), the rest
// kept at its size and moved: the page alone, which shows any seam the bands would make.
struct Stretch {
    int b0, b1, extra;  // device pixels
};

int sourceOf(int v, const std::vector<Stretch>& bands) {
    int off = 0;
    for (const Stretch& b : bands) {
        if (v < b.b0 + off) return v - off;
        if (v < b.b1 + off + b.extra) return b.b0 + (v - b.b0 - off) % (b.b1 - b.b0);
        off += b.extra;
    }
    return v - off;
}

void stretchedPage(const AssetPack& p, Canvas& c, int ox, int oy, const std::vector<Stretch>& xs,
                   const std::vector<Stretch>& ys) {
    const auto* sp = p.sprite("page");
    if (!sp || !sp->image) return;
    int ex = 0, ey = 0;
    for (const Stretch& b : xs) ex += b.extra;
    for (const Stretch& b : ys) ey += b.extra;
    for (int y = 0; y < sp->h + ey; ++y)
        for (int x = 0; x < sp->w + ex; ++x)
            c.pixels[size_t(oy + y) * size_t(c.width) + size_t(ox + x)] =
                sp->image->pixels[size_t(sourceOf(y, ys) * sp->w + sourceOf(x, xs))];
}

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("LUMO_TEST_PNG_DIR");
    const std::string dir = argc > 1 ? argv[1] : env && *env ? env : LUMO_PICTURE_DIR;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    int failures = 0;
    for (double scale : kScales) {
        const AssetPack& p = skin().pack(scale);
        const int gap = F(8, scale), extraX = F(60, scale), extraY = F(40, scale);
        // Every sprite but the page, in rows on the grey ground below the two pages.
        const int width = p.width + extraX + 2 * gap, gridTop = 2 * p.height + extraY + 3 * gap;
        std::vector<std::pair<const lumo::gui::Sprite*, std::pair<int, int>>> grid;
        int x = gap, y = gridTop, rowH = 0;
        for (const auto& [name, sp] : p.sprites) {
            if (!sp.image || name == "page") continue;
            if (x + sp.w + gap > width) x = gap, y += rowH + gap, rowH = 0;
            grid.push_back({&sp, {x, y}});
            x += sp.w + gap;
            rowH = std::max(rowH, int(sp.h));
        }
        Canvas c;
        c.resize(width, y + rowH + gap);
        c.clear(0xFF505050);
        Sheet s{p, c, gap, gap};
        window(s);
        std::vector<Stretch> xs, ys;
        const int share[3] = {extraX - 2 * (extraX / 4 / 2), extraX / 4 / 2, extraX / 4 / 2};
        for (int i = 0; i < 3; ++i) xs.push_back({F(kBandsX[i].pos, scale), F(kBandsX[i].pos + kBandsX[i].len, scale), share[i]});
        ys.push_back({F(152, scale), F(154, scale), extraY});
        stretchedPage(p, c, gap, p.height + 2 * gap, xs, ys);
        for (const auto& [sp, at] : grid) c.drawBitmap(*sp->image, at.first, at.second);
        char label[16];
        std::snprintf(label, sizeof label, "%gx", scale);
        const std::string file = dir + "/skin-" + label + ".png";
        const std::string png = testsupport::encodePng(c.width, c.height, c.pixels);
        std::ofstream out(file, std::ios::binary);
        out << png;
        if (png.empty() || !out.flush()) {
            std::fprintf(stderr, "skin-sheets: could not write %s\n", file.c_str());
            ++failures;
            continue;
        }
        std::printf("%s\n", file.c_str());
    }
    return failures == 0 ? 0 : 1;
}
