// Writes the toolkit's font packs: for each pack scale (1, 1.5, 2, 3) an index "<scale>x.json" and a
// blob "<scale>x.pack" of concatenated PNG glyph images, one image per glyph.
//
//   lumo_fontpack <out dir> <sans> <sans bold> <condensed> <condensed bold>
//
// The four "tqnative" fonts come from the hand-drawn pixel glyphs of fontpack_pixels.h, placed on
// a fixed grid anchored at the pen and the baseline: a design pixel d (relative to that anchor)
// starts at output pixel floor(f d) and is ceil(f) pixels wide at scale f. At 1x, 2x and 3x that
// is an exact integer magnification; at 1.5x every stroke is 2 pixels thick whatever its place on
// the grid, and a one-pixel gap stays one pixel. Every regular advance is even, so the pen
// positions of a text at 1.5x are exactly 1.5 times those at 1x.
//
// The bold faces are made from the same drawings: a column that is a one-pixel gap between two
// inks is doubled first, so that no counter closes, and then every stroke is thickened to the
// right by floor(f) pixels (one design pixel at 1x, 2x and 3x; one pixel at 1.5x, which makes the
// 1.5x stems 3 pixels, 1.5 times the 1x ones). The few glyphs where doubling would thicken a middle
// stem are drawn bold by hand (kBoldGlyphs) and thickened the same way.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gui/draw/font_utf8.h"
#include "gui/draw/png_write.h"
#include "json/json.h"
#include "tools/fontpack_pixels.h"

namespace {

struct Image {
    int w = 0;
    int h = 0;
    std::vector<uint8_t> alpha;  // coverage; the glyph colour is white
};

struct GlyphOut {
    char32_t c = 0;
    int x = 0, y = 0, w = 0, h = 0, adv = 0;
    std::string image;
};

struct FontOut {
    std::string name;
    int space = 0, capHeight = 0, xHeight = 0, descent = 0, pixelScale = 1, ascent = 0, lineHeight = 0;
    int underlinePos = 1, underlineSize = 1;
    std::vector<GlyphOut> glyphs;
};

struct Pack {
    double scale = 1;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    std::vector<FontOut> fonts;
};

// The glyph image in white, its coverage as alpha.
std::vector<uint8_t> encodePng(const Image& img) {
    std::vector<uint32_t> argb(img.alpha.size());
    for (size_t i = 0; i < argb.size(); ++i) argb[i] = uint32_t(img.alpha[i]) << 24 | 0xFFFFFFu;
    const std::string png = lumo::gui::encodePng(img.w, img.h, argb);
    return std::vector<uint8_t>(png.begin(), png.end());
}

std::string scaleLabel(double f) {
    std::ostringstream s;
    s << f;
    return s.str();
}

// ---- pixel glyphs

using Rows = std::vector<std::string>;
constexpr int kCapRows = 7;  // rows above the baseline

// A glyph's name line: "= c" for a printable ASCII character, "= U+XXXX" for any other.
bool glyphName(const std::string& line, char32_t& c) {
    if (line.size() < 3 || line[0] != '=' || line[1] != ' ') return false;
    if (line.size() == 3) {
        c = char32_t(uint8_t(line[2]));
        return true;
    }
    if (line.compare(2, 2, "U+") != 0 || line.size() > 10) return false;
    c = 0;
    for (size_t k = 4; k < line.size(); ++k) {
        const char h = line[k];
        const int v = h >= '0' && h <= '9' ? h - '0' : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
        if (v < 0) return false;
        c = c << 4 | char32_t(v);
    }
    return line.size() > 4;
}

std::string nameOf(char32_t c) { return lumo::gui::utf8Of(c); }

bool parseGlyphs(const char* text, std::map<char32_t, Rows>& out, std::string& error) {
    std::istringstream in(text);
    std::string line;
    char32_t current = 0;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (char32_t named = 0; glyphName(line, named)) {
            current = named;
            if (out.count(current)) {
                error = "glyph drawn twice: " + nameOf(current);
                return false;
            }
            out[current];
            continue;
        }
        if (!current || line.find_first_not_of(".#") != std::string::npos) {
            error = "bad glyph row: " + line;
            return false;
        }
        out[current].push_back(line);
    }
    for (auto& [c, rows] : out) {
        size_t w = 0;
        for (auto& r : rows) w = std::max(w, r.size());
        if (rows.size() > 9) {
            error = "glyph has more than 9 rows: " + nameOf(c);
            return false;
        }
        for (auto& r : rows) r.resize(w, '.');
        rows.resize(9, std::string(w, '.'));
    }
    return true;
}

bool parsePixels(std::map<char32_t, Rows>& out, std::string& error) {
    if (!parseGlyphs(fontpack::kPixelGlyphs, out, error)) return false;
    for (const auto& [c, rows] : out)
        if (rows[0].size() % 2 == 0 || rows[0].size() > 5) {
            error = "glyph must be 1, 3 or 5 columns: " + nameOf(c);
            return false;
        }
    for (char32_t c = 33; c < 127; ++c)
        if (!out.count(c)) {
            error = "missing glyph: " + nameOf(c);
            return false;
        }
    if (!out.count(lumo::gui::kReplacementChar)) {
        error = "missing glyph: the replacement mark";
        return false;
    }
    return true;
}

// Doubles every column that is a one-pixel gap between two inks, in one row or from a row to the
// next (as between the slash and the rings of "%"), so that the bold thickening, which fills one
// pixel to the right of every ink, leaves each such gap open.
Rows widenForBold(const Rows& rows) {
    const size_t w = rows[0].size();
    std::vector<bool> twice(w, false);
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t q = r > 0 ? r - 1 : r; q <= r + 1 && q < rows.size(); ++q)
            for (size_t k = 1; k + 1 < w; ++k)
                if (rows[r][k - 1] == '#' && rows[r][k] == '.' && rows[q][k] == '.' && rows[q][k + 1] == '#')
                    twice[k] = true;
    Rows out;
    for (const auto& r : rows) {
        std::string o;
        for (size_t k = 0; k < w; ++k) o.append(twice[k] ? 2 : 1, r[k]);
        out.push_back(o);
    }
    return out;
}

// The drawing a hand-drawn bold glyph is thickened from: each run of ink one pixel shorter on the
// right. False when the bold glyph has a run of one pixel, which no thickening gives.
bool thinBold(const Rows& bold, Rows& thin) {
    thin.clear();
    for (const auto& r : bold) {
        std::string t(r.size(), '.');
        for (size_t i = 0; i + 1 < r.size(); ++i)
            if (r[i] == '#' && r[i + 1] == '#') t[i] = '#';
        for (size_t i = 0; i < r.size(); ++i) {
            const bool back = t[i] == '#' || (i > 0 && t[i - 1] == '#');
            if (back != (r[i] == '#')) return false;
        }
        t.pop_back();
        thin.push_back(t);
    }
    return true;
}

int lo(double f, int d) { return int(std::floor(f * d)); }
int stroke(double f) { return int(std::ceil(f - 1e-9)); }  // output pixels of one design pixel
int boldExtra(double f) { return std::max(1, int(std::floor(f))); }

// One glyph at scale f; y is relative to the baseline, image trimmed to its inked rows. The
// image is `extra` pixels wider than the drawing and every ink is thickened by that many pixels
// to its right.
void pixelGlyph(const Rows& rows, double f, int extra, Image& img, int& x, int& y) {
    int first = 0, last = int(rows.size()) - 1;
    while (first < last && rows[size_t(first)].find('#') == std::string::npos) ++first;
    while (last > first && rows[size_t(last)].find('#') == std::string::npos) --last;
    const int w = int(rows[0].size());
    const int t = stroke(f);
    const int d0 = first - kCapRows, dLast = last - kCapRows;
    img.w = lo(f, w - 1) + t + extra;
    img.h = lo(f, dLast) + t - lo(f, d0);
    img.alpha.assign(size_t(img.w) * size_t(img.h), 0);
    x = 0;
    y = lo(f, d0);
    for (int r = first; r <= last; ++r) {
        const int dy = r - kCapRows;
        for (int c = 0; c < w; ++c) {
            if (rows[size_t(r)][size_t(c)] != '#') continue;
            for (int oy = lo(f, dy); oy < lo(f, dy) + t; ++oy)
                for (int ox = lo(f, c); ox < lo(f, c) + t + extra; ++ox)
                    img.alpha[size_t(oy - y) * size_t(img.w) + size_t(ox)] = 255;
        }
    }
}

// Metrics of the pixel font in design pixels: above the baseline round up, below round down.
FontOut pixelMetrics(const std::string& name, double f, int ascent, int descent) {
    FontOut font;
    font.name = name;
    auto up = [f](int m) { return int(std::ceil(f * m - 1e-9)); };
    font.ascent = up(ascent);
    font.descent = lo(f, descent);
    font.lineHeight = font.ascent + font.descent;
    font.capHeight = up(kCapRows);
    font.xHeight = up(5);
    font.space = lo(f, 4);
    font.pixelScale = std::max(1, int(std::floor(f)));
    font.underlinePos = lo(f, 1);
    font.underlineSize = lo(f, 2) - lo(f, 1);
    return font;
}

void addPixelFonts(Pack& pack, const std::map<char32_t, Rows>& glyphs, const std::map<char32_t, Rows>& boldThin,
                   bool bold) {
    const double f = pack.scale;
    const std::string base = bold ? "tqnative_bold" : "tqnative";
    const std::string shortName = bold ? "tqnative_short_bold" : "tqnative_short";
    FontOut full = pixelMetrics(base, f, 8, 3);
    FontOut compact = pixelMetrics(shortName, f, kCapRows, 2);
    for (const auto& [c, design] : glyphs) {
        const auto drawn = boldThin.find(c);
        const Rows rows = !bold ? design : drawn != boldThin.end() ? drawn->second : widenForBold(design);
        Image img;
        GlyphOut g;
        g.c = c;
        pixelGlyph(rows, f, bold ? boldExtra(f) : 0, img, g.x, g.y);
        g.w = img.w;
        g.h = img.h;
        g.adv = lo(f, int(rows[0].size()) + (bold ? 2 : 1));
        g.image = base + ":" + std::to_string(uint32_t(c));
        pack.files.emplace_back(g.image, encodePng(img));
        full.glyphs.push_back(g);
        compact.glyphs.push_back(g);  // same pictures, tighter line
    }
    pack.fonts.push_back(full);
    pack.fonts.push_back(compact);
}

// ---- FreeType fonts

// Printable ASCII, and for the faces that carry them the Latin-1 Supplement (its no-break space
// and soft hyphen excepted: they draw as a space and nothing), Latin Extended-A and the replacement
// mark. A character the face does not have is left out, for the fonts' own fallback.
std::vector<char32_t> renderedChars(bool latin) {
    std::vector<char32_t> out;
    for (char32_t c = 33; c < 127; ++c) out.push_back(c);
    if (!latin) return out;
    for (char32_t c = 0xA1; c <= 0x17F; ++c)
        if (c != 0xAD) out.push_back(c);
    out.push_back(lumo::gui::kReplacementChar);
    return out;
}

bool addRendered(Pack& pack, FT_Library lib, const std::string& path, const std::string& name, double em,
                 bool latin, std::string& error) {
    FT_Face face = nullptr;
    if (FT_New_Face(lib, path.c_str(), 0, &face)) {
        error = "cannot open " + path;
        return false;
    }
    const double px = em * pack.scale;
    FT_Set_Char_Size(face, 0, FT_F26Dot6(std::lround(px * 64)), 72, 72);
    const FT_Int32 flags = FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT;
    auto r26 = [](long v) { return int(std::lround(double(v) / 64.0)); };

    FontOut font;
    font.name = name;
    font.ascent = r26(face->size->metrics.ascender);
    font.descent = -r26(face->size->metrics.descender);
    font.lineHeight = r26(face->size->metrics.height);
    font.pixelScale = std::max(1, int(std::floor(pack.scale)));
    font.underlinePos = std::max(1, -r26(FT_MulFix(face->underline_position, face->size->metrics.y_scale)));
    font.underlineSize = std::max(1, r26(FT_MulFix(face->underline_thickness, face->size->metrics.y_scale)));
    if (!FT_Load_Char(face, ' ', flags)) font.space = r26(face->glyph->advance.x);
    if (!FT_Load_Char(face, 'H', flags)) font.capHeight = face->glyph->bitmap_top;
    if (!FT_Load_Char(face, 'x', flags)) font.xHeight = face->glyph->bitmap_top;

    for (char32_t c : renderedChars(latin)) {
        if ((c > 126 && FT_Get_Char_Index(face, FT_ULong(c)) == 0) || FT_Load_Char(face, FT_ULong(c), flags)) continue;
        const FT_Bitmap& bm = face->glyph->bitmap;
        GlyphOut g;
        g.c = c;
        g.adv = r26(face->glyph->advance.x);
        g.x = face->glyph->bitmap_left;
        g.y = -face->glyph->bitmap_top;
        g.w = int(bm.width);
        g.h = int(bm.rows);
        if (g.w > 0 && g.h > 0 && bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
            Image img;
            img.w = g.w;
            img.h = g.h;
            img.alpha.resize(size_t(g.w) * size_t(g.h));
            for (int yy = 0; yy < g.h; ++yy)
                for (int xx = 0; xx < g.w; ++xx)
                    img.alpha[size_t(yy) * size_t(g.w) + size_t(xx)] = bm.buffer[yy * bm.pitch + xx];
            g.image = name + ":" + std::to_string(uint32_t(c));
            pack.files.emplace_back(g.image, encodePng(img));
        }
        font.glyphs.push_back(g);
    }
    FT_Done_Face(face);
    pack.fonts.push_back(font);
    return true;
}

// ---- output

bool writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), std::streamsize(data.size()));
    out.close();  // a failed flush shows here
    return !out.fail();
}

bool writePack(const Pack& pack, const std::string& dir) {
    std::string blob;
    std::ostringstream idx;
    idx << "{\n\"scale\": " << scaleLabel(pack.scale) << ",\n\"width\": 0,\n\"height\": 0,\n\"text_scale\": "
        << std::max(1, int(std::floor(pack.scale))) << ",\n\"files\": {";
    for (size_t i = 0; i < pack.files.size(); ++i) {
        idx << (i ? ",\n" : "\n") << "\"" << pack.files[i].first << "\": [" << blob.size() << ", "
            << pack.files[i].second.size() << "]";
        blob.append(pack.files[i].second.begin(), pack.files[i].second.end());
    }
    idx << "\n},\n\"sprites\": {},\n\"fonts\": {";
    for (size_t i = 0; i < pack.fonts.size(); ++i) {
        const FontOut& f = pack.fonts[i];
        idx << (i ? ",\n" : "\n") << "\"" << f.name << "\": {\"space\": " << f.space << ", \"cap_height\": "
            << f.capHeight << ", \"x_height\": " << f.xHeight << ", \"descent\": " << f.descent
            << ", \"pixel_scale\": " << f.pixelScale << ", \"ascent\": " << f.ascent
            << ", \"line_height\": " << f.lineHeight << ", \"underline_pos\": " << f.underlinePos
            << ", \"underline_size\": " << f.underlineSize << ",\n \"glyphs\": {";
        for (size_t j = 0; j < f.glyphs.size(); ++j) {
            const GlyphOut& g = f.glyphs[j];
            idx << (j ? ",\n  " : "\n  ") << lumo::jsonQuote(lumo::gui::utf8Of(g.c)) << ": {\"x\": " << g.x << ", \"y\": " << g.y
                << ", \"w\": " << g.w << ", \"h\": " << g.h << ", \"adv\": " << g.adv;
            if (!g.image.empty()) idx << ", \"image\": \"" << g.image << "\"";
            idx << "}";
        }
        idx << "}}";
    }
    idx << "\n}\n}\n";
    const std::string base = dir + "/" + scaleLabel(pack.scale) + "x";
    return writeFile(base + ".json", idx.str()) && writeFile(base + ".pack", blob);
}

// ---- the manager skin's fonts

// `lumo_fontpack --skin <out dir> <sans> <sans bold> <condensed> <condensed bold>` writes the
// manager skin's five faces at the skin's six scales, as "<scale>x.json" and "<scale>x.pack" like the
// toolkit's packs; the skin generator (lumo_skinpack) adds its artwork to them. Ems are pixels at
// 1x; the cap heights there are 7 (bold, small, val), 8 (head) and 5 (pill).
int writeSkinFonts(const std::string& dir, char* const* fonts) {
    struct Face {
        const char* name;
        int file;  // 0 sans, 1 sans bold, 2 condensed, 3 condensed bold
        double em;
    };
    const Face faces[] = {{"bold", 1, 7.9}, {"head", 1, 11.0}, {"pill", 3, 7.2}, {"small", 3, 8.25}, {"val", 2, 9.0}};
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib)) {
        std::fprintf(stderr, "FreeType does not start\n");
        return 1;
    }
    std::string error;
    bool ok = true;
    std::vector<Pack> packs;
    for (double scale : {1.0, 1.2, 1.25, 1.5, 2.0, 3.0}) {
        Pack& pack = packs.emplace_back();
        pack.scale = scale;
        for (const Face& f : faces)
            if (!addRendered(pack, lib, fonts[f.file], f.name, f.em, true, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                ok = false;
            }
    }
    FT_Done_FreeType(lib);
    for (size_t i = 0; ok && i < packs.size(); ++i)
        if (!writePack(packs[i], dir)) {
            std::fprintf(stderr, "cannot write the %gx skin fonts into %s\n", packs[i].scale, dir.c_str());
            ok = false;
        }
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::string(argv[1]) == "--skin") return writeSkinFonts(argv[2], argv + 3);
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s <out dir> <sans> <sans bold> <condensed> <condensed bold>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::string error;
    std::map<char32_t, Rows> pixels;
    if (!parsePixels(pixels, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::map<char32_t, Rows> boldDrawn, boldThin;
    if (!parseGlyphs(fontpack::kBoldGlyphs, boldDrawn, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    for (const auto& [c, rows] : boldDrawn)
        if (!thinBold(rows, boldThin[c])) {
            std::fprintf(stderr, "bold glyph with a run of one pixel: %s\n", nameOf(c).c_str());
            return 1;
        }
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib)) {
        std::fprintf(stderr, "FreeType does not start\n");
        return 1;
    }
    // Ems in pixels at 1x: the "tahoma" numbers are cap heights (DejaVu's caps are 0.73 em).
    struct Rendered {
        const char* name;
        const char* path;
        double em;
    };
    const Rendered rendered[] = {
        {"tahoma6", argv[4], 8.25},  {"tahoma6_bold", argv[5], 8.25}, {"tahoma7", argv[4], 9.6},
        {"tahoma7_bold", argv[5], 9.6}, {"tqsans", argv[2], 11.0},   {"tqsans_bold", argv[3], 11.0},
        {"tqsans_title", argv[3], 15.0},
    };
    // Every pack is made before any is written, so a font that fails leaves the committed packs alone.
    int status = 0;
    std::vector<Pack> packs;
    for (double scale : {1.0, 1.5, 2.0, 3.0}) {
        Pack& pack = packs.emplace_back();
        pack.scale = scale;
        for (const Rendered& r : rendered)
            if (!addRendered(pack, lib, r.path, r.name, r.em, false, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                status = 1;
            }
        addPixelFonts(pack, pixels, boldThin, false);
        addPixelFonts(pack, pixels, boldThin, true);
    }
    FT_Done_FreeType(lib);
    if (status) return status;
    for (const Pack& pack : packs)
        if (!writePack(pack, dir)) {
            std::fprintf(stderr, "cannot write the %gx pack into %s\n", pack.scale, dir.c_str());
            status = 1;
        }
    return status;
}
