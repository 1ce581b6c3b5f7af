#pragma once
// The main window in the skin look painted into a test canvas: a window opened on a signed catalog
// of a dozen plug-ins and two apps (some with pictures), the whole window painted at a scale and
// size, the texts a paint draws (through the text probe), and pictures written for a person.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "gui/draw/bitmapfont.h"
#include "manager/skin_look/look.h"
#include "tests/manager/pixel_support.h"
#include "tests/manager/view_fixture.h"
#include "tests/support/png.h"

namespace skintest {

using lumo::gui::Canvas;
using lumo::gui::Rect;
using pixeltest::scaleName;

// One text a paint drew, with its ink box and the clip it was drawn under.
struct Drawn {
    std::string text;
    Rect ink;
    Rect clip;
};

inline std::vector<Drawn>& drawnTexts() {
    static std::vector<Drawn> texts;
    return texts;
}

// Records every text drawn while it lives.
class TextRecorder {
public:
    TextRecorder() {
        drawnTexts().clear();
        saved_ = lumo::gui::textProbe();
        lumo::gui::textProbe() = [](const std::string& text, Rect ink, Rect clip, int) {
            drawnTexts().push_back({text, ink, clip});
        };
    }
    ~TextRecorder() { lumo::gui::textProbe() = saved_; }
    TextRecorder(const TextRecorder&) = delete;
    TextRecorder& operator=(const TextRecorder&) = delete;

    const std::vector<Drawn>& texts() const { return drawnTexts(); }
    bool has(const std::string& text) const {
        for (const Drawn& d : drawnTexts())
            if (d.text == text) return true;
        return false;
    }

private:
    lumo::gui::TextProbe saved_ = nullptr;
};

class SkinPaintTest : public testsupport::ViewTest {
protected:
    // The skin look's painters, for painting one part or sprite alone.
    tqapp::SkinLook skin;

    // Gives the rows the states a person should see side by side.
    void mixStates() {
        auto& rows = view->model()->rows;
        const tqm::State states[] = {tqm::State::Installed,    tqm::State::Update,      tqm::State::Absent,
                                     tqm::State::NeedsManager, tqm::State::Unavailable, tqm::State::Delisted};
        for (size_t i = 0; i < rows.size(); ++i) {
            rows[i].state = states[i % 6];
            if (rows[i].state != tqm::State::Absent)
                for (auto& [f, fr] : rows[i].formats) fr.installed = fr.present = true, fr.version = "1.0";
        }
        view->changed();
    }

    // A picture of w x h with a diagonal two-colour pattern, so that a scaled copy shows its grain.
    std::string pattern(const std::string& rel, int w, int h, uint32_t a, uint32_t b) {
        std::vector<uint32_t> px(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) px[size_t(y) * size_t(w) + size_t(x)] = ((x + y) / 4) % 2 ? a : b;
        return art(rel, testsupport::encodePng(w, h, px));
    }

    // Twelve plug-ins (every third without pictures) and two apps; long names and versions among them.
    std::string bigCatalog() {
        static const char* const kNames[] = {"Synth",     "Delay",  "Reverb Plate", "Chorus",
                                             "Compressor", "Limiter", "Phaser",       "Tape Echo",
                                             "Granular Cloud Machine Deluxe Edition", "Filter", "Tuner Pro",
                                             "Bitcrusher"};
        std::string plugins;
        for (int i = 0; i < 12; ++i) {
            const std::string name = kNames[i];
            std::string id = "p" + std::to_string(i);
            const std::string v = i == 5 ? "10.20.300.4000-beta.12" : "1." + std::to_string(i) + ".0";
            std::string packages = "\"vst3\": {\"mac\": " +
                                   catalog.file("plugins/" + id + ".vst3.zip",
                                                testsupport::JobCatalog::pluginZip(id + ".vst3", "vst3"), id + ".vst3") +
                                   "}";
            if (i % 2 == 0)
                packages += ", \"clap\": {\"mac\": " +
                            catalog.file("plugins/" + id + ".clap.zip",
                                         testsupport::JobCatalog::pluginZip(id + ".clap", "clap"), id + ".clap") +
                            "}";
            std::string art;
            if (i % 3 != 2) {
                const uint32_t c1 = 0xFF000000u | uint32_t(0x305070 + i * 0x0B0905), c2 = 0xFF202428u;
                art = ", \"art\": {\"row\": {\"1x\": " + pattern("art/" + id + "-row.png", 68, 12, c1, c2) +
                      ", \"2x\": " + pattern("art/" + id + "-row@2x.png", 136, 24, c1, c2) +
                      "}, \"logo\": {\"1x\": " + pattern("art/" + id + "-logo.png", 80, 60, c1, c2) +
                      ", \"2x\": " + pattern("art/" + id + "-logo@2x.png", 160, 120, c1, c2) + "}}";
            }
            if (!plugins.empty()) plugins += ", ";
            plugins += "{\"id\": \"" + id + "\", \"name\": \"" + name + "\", \"version\": \"" + v +
                       "\", \"description\": \"" + name +
                       " shapes the sound of every track it is put on, with a few knobs and a wide range of "
                       "settings for the studio and the stage.\", \"packages\": {" +
                       packages + "}" + art + "}";
        }
        std::string apps;
        for (const char* name : {"Studio", "Librarian"}) {
            const std::string n = name;
            if (!apps.empty()) apps += ", ";
            apps += "{\"id\": \"" + n + "\", \"name\": \"" + n + "\", \"version\": \"2.0.1\", \"uninstall_key\": \"" +
                    n + "\", \"description\": \"The " + n + " app.\", \"packages\": {\"mac\": " +
                    catalog.file("apps/" + n + ".zip",
                                 testsupport::JobCatalog::appZip(n + ".app", n, n + " 2.0.1"), n + ".app", n) +
                    "}}";
        }
        return "{\"schema\": 1, \"sequence\": 7, \"plugins\": [" + plugins + "], \"apps\": [" + apps + "]}";
    }

    // A window in the skin look on the big catalog, loaded inline.
    void openBig() {
        catalog.publish(bigCatalog());
        open({"--steps", "--look", "tq"});
        ASSERT_TRUE(view->model()->catalog && view->model()->catalog->ok) << view->model()->catalog->note;
    }

    // Paints the whole window of w x h units at a scale into a canvas with a margin of paper around
    // it; the canvas area and clip are the window's device rectangle.
    Canvas paintWindow(double scale, int w, int h, int margin = 0) {
        view->setSize(w, h);
        const int dw = int(std::floor(w * scale + 1e-9)), dh = int(std::floor(h * scale + 1e-9));
        Canvas c = pixeltest::paper(dw + 2 * margin, dh + 2 * margin);
        c.area = c.clip = {margin, margin, dw, dh};
        const lumo::gui::Paint p{c, Rect{margin, margin, dw, dh}, scale, false, {}, {}};
        view->draw(p);
        return c;
    }

    static void writePng(const Canvas& c, const std::string& name) {
        const std::string png = testsupport::encodePng(c.width, c.height, c.pixels);
        ASSERT_FALSE(png.empty());
        std::ofstream((pixeltest::pictureDir() / name).string(), std::ios::binary)
            .write(png.data(), std::streamsize(png.size()));
    }
};

}  // namespace skintest
