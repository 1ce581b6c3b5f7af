// Writes small valid inputs for every harness: fuzz_seeds <folder> makes <folder>/<target>/.
// The corpus kept in the tree (tests/fuzz/corpus) was written by it; run it there again after a
// harness changes its input layout.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/jobs.h"
#include "engine/receipt.h"
#include "tests/support/job_fixture.h"
#include "tests/support/png.h"
#include "tests/support/zip_maker.h"
#include "tools/catalog_signing.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

std::string g_out;

void seed(const std::string& target, const std::string& name, const std::string& data) {
    const fs::path dir = fs::path(g_out) / target;
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(data.data(), std::streamsize(data.size()));
}

std::string nul(const std::string& a, const std::string& b) { return a + std::string(1, '\0') + b; }

const char* const kSvgs[] = {
    "<svg viewBox=\"0 0 20 20\"><path d=\"M2 2H18V18Z L2 18\"/></svg>",
    "<svg viewBox=\"0 0 20 20\"><circle cx=\"10\" cy=\"10\" r=\"6.3\" fill=\"red\"/>"
    "<ellipse cx=\"5\" cy=\"5\" rx=\"3\" ry=\"2\" fill-opacity=\"0.5\"/></svg>",
    "<svg width=\"24\" height=\"12\"><rect x=\"1\" y=\"1\" width=\"20\" height=\"8\" rx=\"2\" fill=\"#0f0\" "
    "stroke=\"currentColor\" stroke-width=\"1.5\" shape-rendering=\"crispEdges\"/></svg>",
    "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\" fill=\"none\" stroke=\"currentColor\" "
    "stroke-width=\"2\" stroke-linecap=\"round\" stroke-linejoin=\"round\"><polyline points=\"4 12 9 17 20 6\"/>"
    "<polygon points=\"1,1 5,1 3,4\" fill-rule=\"evenodd\"/><line x1=\"0\" y1=\"0\" x2=\"24\" y2=\"24\"/></svg>",
    "<?xml version=\"1.0\"?><!-- c --><svg viewBox=\"0,0,10,10\"><style>.a{fill:red}</style><defs><path id=\"p\" "
    "d=\"M0 0\"/></defs><g transform=\"translate(1 2) scale(2) rotate(30) matrix(1 0 0 1 0 0)\" opacity=\"0.5\">"
    "<path class=\"a\" style=\"stroke:blue;stroke-miterlimit:3\" d=\"M1 1c1 2 3 4 5 6s1 1 2 2q1 1 2 2t3 3a2 2 0 0 1 "
    "3 3l1-1h2v2z\"/><text>x &amp; y</text></g></svg>",
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <folder>\n");
        return 2;
    }
    g_out = argv[1];
    std::error_code ec;
    const fs::path work = fs::temp_directory_path() / "lumo-fuzz-seeds";
    fs::remove_all(work, ec);

    // Catalog, signed; its text is the JSON seed too.
    JobCatalog catalog((work / "source").string());
    const std::string text = catalog.text("1.0.0", 3);
    catalog.publish(text);
    const std::string signature = readFile((work / "source/catalog.json.sig").string());
    seed("catalog", "signed", nul(nul(text, signature), catalog.publicKeyHex()));
    seed("catalog", "builtin", nul(text, signature));
    const std::string sha(64, 'a');
    const std::string full =
        "{\"schema\": 1, \"sequence\": 9, \"published\": \"2024-05-06\", \"base_url\": \"https://x/\","
        " \"manager\": {\"latest\": \"2.0\", \"minimum\": \"1.0\", \"packages\": {\"mac\": {\"path\": \"m.zip\","
        " \"sha256\": \"" + sha + "\", \"size\": 1, \"item\": \"Manager.app\", \"exe\": \"manager\"}}},"
        " \"plugins\": [{\"id\": \"p\", \"name\": \"P\", \"version\": \"1.0\", \"license\": \"free\","
        " \"description\": \"d\", \"min_manager\": \"1.0\", \"art\": {\"row\": {\"1x\": {\"path\": \"a/r.png\","
        " \"sha256\": \"" + sha + "\"}}, \"logo\": {\"2x\": {\"path\": \"a/l.png\"}}},"
        " \"packages\": {\"vst3\": {\"mac\": {\"path\": \"p.zip\", \"sha256\": \"" + sha +
        "\", \"size\": 2, \"item\": \"P.vst3\"}}}}],"
        " \"apps\": [{\"id\": \"s\", \"name\": \"S\", \"version\": \"3\", \"uninstall_key\": \"S\","
        " \"packages\": {\"mac\": {\"path\": \"s.zip\", \"sha256\": \"" + sha +
        "\", \"size\": 3, \"item\": \"S.app\", \"exe\": \"S\"}},"
        " \"plugin_packages\": {\"clap\": {\"mac\": {\"path\": \"c.zip\", \"sha256\": \"" + sha +
        "\", \"size\": 4, \"item\": \"S.clap\"}}}, \"companions\": [{\"id\": \"p\", \"min_version\": \"1.0\"}],"
        " \"data\": {\"note\": \"n\", \"kept\": \"k\", \"paths\": {\"mac\": {\"user\": [\"%APPDATA%\\\\Ardune Systems\\\\S\"],"
        " \"machine\": [\"%PROGRAMDATA%\\\\Ardune Systems\\\\S\"]}}}}],"
        " \"shared_data\": {\"mac\": {\"user\": [\"%APPDATA%\\\\Ardune Systems\\\\Shared\"]}}}";
    seed("catalog", "full", full);
    seed("json", "catalog", text);
    seed("json", "small", "[1, -2.5e3, \"a\\u00e9\\n\", true, false, null, {\"k\": {}}, []]");

    // Zips of the unpacker's item.
    const std::string item = "Synth.vst3";
    seed("unpack", "bundle", JobCatalog::pluginZip(item, "marker"));
    seed("unpack", "deflated",
         makeZip({zipDir(item + "/"), zipFile(item + "/Contents/Info.plist", std::string(300, 'x'), 0644, true),
                  zipFile(item + "/Contents/MacOS/Synth", "bin", 0755, true)}));
    seed("unpack", "links",
         makeZip({zipDir(item + "/"), zipFile(item + "/Contents/Versions/A/Synth", "bin", 0755),
                  zipLink(item + "/Contents/Versions/Current", "A"),
                  zipLink(item + "/Contents/Synth", "Versions/Current/Synth")}));
    seed("unpack", "file", makeZip({zipFile(item, "one file")}));
    // Entry descriptions read by FuzzedDataProvider: any bytes are one; these pick a few shapes.
    seed("unpack_entries", "mixed", std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b", 12) +
                                        "Contents/MacOS/Synth..ab\x7f\x10\x20\x30");
    seed("unpack_entries", "ones", std::string(64, '\x01'));
    seed("unpack_entries", "high", std::string(48, '\xf3') + "item");

    // Receipts.
    tqm::Receipt receipt;
    receipt.catalog_sequence = 7;
    receipt.plugins["synth"].formats["vst3"] = {"1.2.0", "/x/Synth.vst3", std::string(64, 'a'),
                                                "2024-01-02T03:04:05Z", "", ""};
    receipt.plugins["studio"].formats["app"] = {"2.0", "/x/Studio.app", std::string(64, 'b'), "2024-01-02T03:04:05Z",
                                                "Studio", "Studio"};
    seed("receipt", "two", tqm::receiptText(receipt));
    seed("receipt", "empty", tqm::receiptText(tqm::Receipt()));

    // Jobs: helper words, then the job text.
    const std::string words = "--tqm-apply\n--scope\nsystem\n--job\nj\n--result\nr";
    seed("job", "install",
         nul(words, tqm::jobs::jobText("@DATA@", {}, {{"install", "synth", "vst3"}, {"install", "studio", "app"}})));
    seed("job", "folders", nul(words, tqm::jobs::jobText("@DATA@", {{"vst3", "@ROOT@/mine"}},
                                                         {{"install", "synth", "vst3"}, {"remove", "synth", "vst3"},
                                                          {"purge", "studio", "machine"}, {"install", "x", "clap"}})));
    seed("job", "nodata", nul("--job\nj\n--result\nr", tqm::jobs::jobText("", {}, {{"remove", "tuner", "app"}})));

    // Pictures.
    std::vector<uint32_t> px;
    for (uint32_t i = 0; i < 6 * 5; ++i) px.push_back(0x80000000u | (i * 0x050A0F));
    const std::string png = encodePng(6, 5, px);
    const std::string dot = encodePng(1, 1, {0xFFFF0000u});
    seed("bitmap", "six", png);
    seed("bitmap", "dot", dot);
    seed("bitmap", "blank", encodeBlankPng(9, 3));

    // An asset pack: two pictures, sprites and a font.
    const std::string index =
        "{\"scale\": 1, \"width\": 40, \"height\": 30, \"text_scale\": 1, \"files\": {\"a.png\": [0, " +
        std::to_string(png.size()) + "], \"b.png\": [" + std::to_string(png.size()) + ", " +
        std::to_string(dot.size()) +
        "]}, \"sprites\": {\"knob\": {\"x\": 1, \"y\": 2, \"w\": 6, \"h\": 5, \"image\": \"a.png\"},"
        " \"dot\": {\"image\": \"b.png\"}}, \"fonts\": {\"f\": {\"space\": 2, \"cap_height\": 5, \"descent\": 1,"
        " \"pixel_scale\": 1, \"ascent\": 5, \"line_height\": 7, \"glyphs\": {\"A\": {\"x\": 0, \"y\": -5, \"w\": 6,"
        " \"h\": 5, \"adv\": 7, \"image\": \"a.png\"}, \"g\": {\"y\": -1, \"adv\": 2, \"image\": \"b.png\"}}}}}";
    seed("assets", "pack", nul(index, png + dot));

    for (size_t i = 0; i < sizeof kSvgs / sizeof kSvgs[0]; ++i) seed("svg", "svg" + std::to_string(i), kSvgs[i]);

    seed("bitmapfont", "plain", std::string("\x05\x30") + "Hello, &world... g|y");
    seed("bitmapfont", "utf8", std::string("\xfe\x10") + "caf\xc3\xa9 \xe2\x80\x94 &&x\t\x7f");
    seed("text_entry", "utf8", std::string("\x08") + "a\xe2\x82\xac" + "b" + "\x01\x02\x03\x04\x05\x00\x07\x01");

    fs::remove_all(work, ec);
    return 0;
}
