// Writes the manager skin's six packs: for each scale (1, 1.2, 1.25, 1.5, 2, 3) an index
// "<scale>x.json" and a blob "<scale>x.pack". Each holds the skin fonts made by
// `lumo_fontpack --skin` (read from <fonts dir>, same file names) and the artwork of
// skinpack_art.cpp drawn at that scale.
//
//   lumo_skinpack <fonts dir> <out dir>
//
// A sprite whose design box is (x, y, w, h) sits at x' = F(x), y' = F(y) with size
// F(x + w) - x' by F(y + h) - y', F(v) = floor(v * scale + 1e-9): the window's own rule, so the
// page's edges and every sprite's edges fall on the same device pixels. Glass overlays are written
// twice, over black ("<name>_b") and over white ("<name>_w").
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "gui/draw/png_write.h"
#include "json/json.h"
#include "tools/skinpack_art.h"

namespace {

using lumo::Json;
using skinart::Art;

const double kScales[] = {1.0, 1.2, 1.25, 1.5, 2.0, 3.0};
constexpr int kPageW = 426, kPageH = 344;

std::string scaleLabel(double f) {
    std::ostringstream s;
    s << f;
    return s.str();
}

bool readFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), std::streamsize(data.size()));
    out.close();
    return !out.fail();
}

// The JSON text of a parsed value: objects, arrays, strings and numbers, as the font index holds.
void writeJson(std::ostream& o, const Json& v) {
    switch (v.kind) {
    case Json::Number:
        if (v.number == std::floor(v.number) && std::fabs(v.number) < 1e15)
            o << (long long)v.number;
        else
            o << v.number;
        break;
    case Json::String: o << lumo::jsonQuote(v.string()); break;
    case Json::Bool: o << (v.number != 0 ? "true" : "false"); break;
    case Json::Array: {
        o << "[";
        for (size_t i = 0; i < v.array().size(); ++i) {
            if (i) o << ", ";
            writeJson(o, v.array()[i]);
        }
        o << "]";
        break;
    }
    case Json::Object: {
        o << "{";
        bool first = true;
        for (const auto& [k, m] : v.object()) {
            o << (first ? "" : ", ") << lumo::jsonQuote(k) << ": ";
            writeJson(o, m);
            first = false;
        }
        o << "}";
        break;
    }
    default: o << "null";
    }
}

struct Out {
    std::string blob;
    std::ostringstream files, sprites;
    bool anyFile = false, anySprite = false;

    void file(const std::string& name, size_t offset, size_t length) {
        files << (anyFile ? ",\n" : "\n") << lumo::jsonQuote(name) << ": [" << offset << ", " << length << "]";
        anyFile = true;
    }
    void image(const std::string& name, int w, int h, const std::vector<uint32_t>& px) {
        const std::string png = lumo::gui::encodePng(w, h, px);
        file(name, blob.size(), png.size());
        blob += png;
    }
    void sprite(const std::string& name, const skinart::Layer& L, const Art& a, double s, bool withImage) {
        sprites << (anySprite ? ",\n" : "\n") << lumo::jsonQuote(name) << ": {\"x\": " << skinart::deviceEdge(a.place.x0, s)
                << ", \"y\": " << skinart::deviceEdge(a.place.y0, s) << ", \"w\": " << L.width()
                << ", \"h\": " << L.height();
        if (withImage) sprites << ", \"image\": " << lumo::jsonQuote(name);
        sprites << "}";
        anySprite = true;
    }
};

bool makePack(double s, const std::string& fontsDir, const std::string& outDir, const std::vector<Art>& art) {
    const std::string base = scaleLabel(s) + "x";
    std::string fontIndex, fontBlob;
    if (!readFile(fontsDir + "/" + base + ".json", fontIndex) || !readFile(fontsDir + "/" + base + ".pack", fontBlob)) {
        std::fprintf(stderr, "cannot read the %s font pack in %s\n", base.c_str(), fontsDir.c_str());
        return false;
    }
    const Json fonts = Json::parse(fontIndex);
    if (!fonts["fonts"].isObject()) {
        std::fprintf(stderr, "the %s font pack has no fonts\n", base.c_str());
        return false;
    }
    Out out;
    out.blob = fontBlob;  // the glyphs' offsets stay as they are
    for (const auto& [name, entry] : fonts["files"].object())
        out.file(name, size_t(entry[size_t(0)].number), size_t(entry[size_t(1)].number));

    for (const Art& a : art) {
        skinart::Layer L(a.place, s);
        if (a.draw) a.draw(L);
        switch (a.kind) {
        case Art::Picture:
            out.image(a.name, L.width(), L.height(), L.pixels());
            out.sprite(a.name, L, a, s, true);
            break;
        case Art::Glass:
            out.image(a.name + "_b", L.width(), L.height(), L.overBlack());
            out.image(a.name + "_w", L.width(), L.height(), L.overWhite());
            out.sprite(a.name + "_b", L, a, s, true);
            out.sprite(a.name + "_w", L, a, s, true);
            break;
        case Art::HitOnly: out.sprite(a.name, L, a, s, false); break;
        }
    }

    std::ostringstream idx;
    idx << "{\n\"scale\": " << base.substr(0, base.size() - 1) << ",\n\"width\": " << skinart::deviceEdge(kPageW, s)
        << ",\n\"height\": " << skinart::deviceEdge(kPageH, s) << ",\n\"text_scale\": " << std::max(1, int(std::floor(s)))
        << ",\n\"files\": {" << out.files.str() << "\n},\n\"sprites\": {" << out.sprites.str() << "\n},\n\"fonts\": ";
    writeJson(idx, fonts["fonts"]);
    idx << "\n}\n";
    if (!writeFile(outDir + "/" + base + ".json", idx.str()) || !writeFile(outDir + "/" + base + ".pack", out.blob)) {
        std::fprintf(stderr, "cannot write the %s pack into %s\n", base.c_str(), outDir.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <fonts dir> <out dir>\n", argv[0]);
        return 2;
    }
    const std::vector<Art> art = skinart::skinArt();
    for (double s : kScales)
        if (!makePack(s, argv[1], argv[2], art)) return 1;
    return 0;
}
