// The skin look's parts by pointer state: pills, the sort header, scrollbar arrows and the inspector's
// buttons in their hover and pressed looks, window buttons drawn by code, labels that sink with their
// button; the main button's word, the shown folder shortened from the front and the description.
#include "manager/pixel_look/primitives.h"
#include "tests/manager/skin_paint_support.h"

using namespace skintest;

namespace {

class PartPaint : public SkinPaintTest {
protected:
    void SetUp() override {
        SkinPaintTest::SetUp();
        openBig();
        view->setSize(view->pageWidth(), view->pageHeight());
    }
    // One part alone at a scale, in the given pointer state.
    Canvas partAlone(const std::string& part, double scale, const std::string& hover, const std::string& pressed) {
        const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(scale);
        view->paintAt(pack.scale, 0, 0);
        view->pointer().hover = tqapp::partOf(hover);
        view->pointer().pressed = tqapp::partOf(pressed);
        Canvas c = pixeltest::paper(int(view->pageWidth() * scale) + 1, int(view->pageHeight() * scale) + 1);
        skin.part(*view, c, pack, part);
        view->pointer().hover.reset();
        view->pointer().pressed.reset();
        return c;
    }
    // One sprite alone, as put draws it.
    Canvas spriteAlone(const std::string& sprite, double scale, double gain) {
        const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(scale);
        view->paintAt(pack.scale, view->paintX(), view->paintY());
        Canvas c = pixeltest::paper(int(view->pageWidth() * scale) + 1, int(view->pageHeight() * scale) + 1);
        skin.put(*view, c, pack, sprite, 0, 0, {}, gain, true);
        return c;
    }
};

TEST_F(PartPaint, PillsAndButtonsInTheirHoverAndPressedLooks) {
    struct Case {
        const char* part;
        const char* hit;
        const char* normal;
        const char* hover;  // drawn while hovered; gain 1.1 of the normal sprite when null
        const char* pressed;
    };
    const Case cases[] = {
        {"sort", "sort", "sort_pill_normal", nullptr, "sort_pill_pressed"},
        {"account", "account", "account_normal", nullptr, "account_pressed"},
        {"update_all", "update_all", "update_all_normal", nullptr, "update_all_pressed"},
        {"main_pill", "main_pill", "main_pill_normal", nullptr, "main_pill_pressed"},
        {"sb:up", "sb:up", "sb_up_normal", "sb_up_hover", "sb_up_pressed"},
        {"sb:down", "sb:down", "sb_down_normal", "sb_down_hover", "sb_down_pressed"},
        {"open", "open", "open_up", "open_hover", "open_down"},
        {"more", "more", "more_up", "more_hover", "more_down"},
    };
    for (const Case& k : cases)
        for (double s : pixeltest::kScales) {
            const std::string at = std::string(k.part) + " at " + std::to_string(s);
            const uint64_t normal = pixeltest::hashOf(partAlone(k.part, s, "", ""));
            const uint64_t hover = pixeltest::hashOf(partAlone(k.part, s, k.hit, ""));
            const uint64_t pressed = pixeltest::hashOf(partAlone(k.part, s, k.hit, k.hit));
            EXPECT_EQ(normal, pixeltest::hashOf(spriteAlone(k.normal, s, 1.0))) << at;
            EXPECT_EQ(hover, pixeltest::hashOf(k.hover ? spriteAlone(k.hover, s, 1.0) : spriteAlone(k.normal, s, 1.1)))
                << at;
            EXPECT_EQ(pressed, pixeltest::hashOf(spriteAlone(k.pressed, s, 1.0))) << at;
            EXPECT_NE(normal, hover) << at;
            EXPECT_NE(normal, pressed) << at;
            // Pressed elsewhere, or hovered while another is held: the normal look.
            EXPECT_EQ(pixeltest::hashOf(partAlone(k.part, s, "", k.hit)), normal) << at;
            EXPECT_EQ(pixeltest::hashOf(partAlone(k.part, s, k.hit, "win:close")), normal) << at;
        }
}

// Copies box of src into dst at (x, y), each pixel k x k.
void enlargeInto(Canvas& dst, const Canvas& src, lumo::gui::Rect box, int x, int y, int k) {
    for (int j = 0; j < box.h * k; ++j)
        for (int i = 0; i < box.w * k; ++i)
            if (x + i < dst.width && y + j < dst.height)
                dst.pixels[size_t(y + j) * size_t(dst.width) + size_t(x + i)] =
                    pixeltest::at(src, box.x + i / k, box.y + j / k);
}

TEST_F(PartPaint, WindowButtonsByCode) {
    // A sheet for a person: both buttons, normal, hot and pressed, at every scale, four times enlarged.
    Canvas sheet = pixeltest::paper(6 * 60 * 4 + 40, 5 * 60 * 4 / 2 + 40);
    int row = 0;
    for (double s : pixeltest::kScales) {
        int col = 0;
        for (bool close : {true, false})
            for (int state = 0; state < 3; ++state) {
                const std::string name = close ? "win:close" : "win:min";
                const Canvas c = partAlone(name, s, state ? name : "", state == 2 ? name : "");
                const lumo::gui::Rect slot = view->windowSlot(close);
                const lumo::gui::Rect box{view->dev(slot.x), view->dev(slot.y), view->dev(slot.x + 17) - view->dev(slot.x),
                                          view->dev(slot.y + 17) - view->dev(slot.y)};
                enlargeInto(sheet, c, box, 4 + col * 244 / 1, 4 + row * 124 / 1, s >= 2 ? 2 : 4);
                col += 1;
            }
        ++row;
    }
    writePng(sheet, "skin-window-buttons.png");
    for (bool close : {true, false})
        for (double s : pixeltest::kScales) {
            const std::string name = close ? "win:close" : "win:min";
            const std::string at = name + " at " + std::to_string(s);
            const Canvas normal = partAlone(name, s, "", "");
            const Canvas hot = partAlone(name, s, name, "");
            const Canvas down = partAlone(name, s, name, name);
            EXPECT_NE(pixeltest::hashOf(normal), pixeltest::hashOf(hot)) << at;
            EXPECT_NE(pixeltest::hashOf(normal), pixeltest::hashOf(down)) << at;
            EXPECT_EQ(pixeltest::hashOf(partAlone(name, s, "", name)), pixeltest::hashOf(normal)) << at;
            // The face with its shadow stays inside the slot.
            const lumo::gui::Rect slot = view->windowSlot(close);
            const lumo::gui::Rect dslot{view->dev(slot.x), view->dev(slot.y), view->dev(slot.x + 17) - view->dev(slot.x),
                                        view->dev(slot.y + 17) - view->dev(slot.y)};
            EXPECT_TRUE(pixeltest::inside(pixeltest::inkBox(normal), dslot)) << at;
            // The outline is one dot wide: whole pixels at every scale.
            const int t = tqapp::dev::one(s);
            const int L = view->dev(slot.x + 1), T = view->dev(slot.y), midY = view->dev(slot.y + 7.5);
            auto dark = [&](int x) { return (pixeltest::at(normal, x, midY) >> 16 & 0xFF) < 20; };
            for (int k = 0; k < t; ++k) EXPECT_TRUE(dark(L + k)) << at;
            EXPECT_FALSE(dark(L + t)) << at;
            // The glyph sinks by one unit while pressed: its darkest pixels move down.
            auto glyphTop = [&](const Canvas& c) {
                const int R = view->dev(slot.x + 16), B = view->dev(slot.y + 15);
                for (int y = T + 2 * t; y < B - 2 * t; ++y)
                    for (int x = L + 2 * t; x < R - 2 * t; ++x)
                        if ((pixeltest::at(c, x, y) >> 8 & 0xFF) < 60) return y;
                return -1;
            };
            const int up = glyphTop(normal), sunk = glyphTop(down);
            ASSERT_GE(up, 0) << at;
            EXPECT_NEAR(sunk - up, s, 1.0) << at;
        }
}

TEST_F(PartPaint, LabelsSinkWithTheirHeldButton) {
    const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(2.0);
    view->paintAt(2.0, view->paintX(), view->paintY());
    for (const char* key : {"update_all", "account"}) {
        auto inkY = [&](const std::string& hover, const std::string& pressed) {
            view->pointer().hover = tqapp::partOf(hover);
            view->pointer().pressed = tqapp::partOf(pressed);
            Canvas c = pixeltest::paper(900, 700);
            TextRecorder rec;
            view->label(c, pack, key);
            view->pointer().hover.reset();
            view->pointer().pressed.reset();
            return rec.texts().empty() ? -1 : rec.texts()[0].ink.y;
        };
        const int rest = inkY("", "");
        ASSERT_GE(rest, 0) << key;
        EXPECT_EQ(inkY(key, key), rest + 2) << key;  // one unit at 2x
        EXPECT_EQ(inkY(key, ""), rest) << key;
        EXPECT_EQ(inkY("", key), rest) << key;
    }
}

TEST_F(PartPaint, MainButtonWordFollowsTheSelectedRow) {
    const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(1.0);
    view->paintAt(1.0, view->paintX(), view->paintY());
    auto word = [&] {
        Canvas c = pixeltest::paper(500, 400);
        TextRecorder rec;
        skin.part(*view, c, pack, "main_pill:label");
        return rec.texts().empty() ? std::string() : rec.texts()[0].text;
    };
    view->select("");
    EXPECT_EQ(word(), "INSTALL");
    auto& rows = view->model()->rows;
    tqm::Row& r = rows[0];
    view->select(r.id);
    for (auto& [f, fr] : r.formats) fr.installed = fr.present = false;
    EXPECT_EQ(word(), r.entry ? "INSTALL" : "");
    for (auto& [f, fr] : r.formats) fr.installed = fr.present = true;
    view->forgetTicks();
    EXPECT_EQ(word(), "REMOVE");
    for (auto& [f, fr] : r.formats) fr.update = fr.available = true;
    EXPECT_EQ(word(), "UPDATE");
}

TEST_F(PartPaint, ShownFolderIsShortenedFromTheFront) {
    const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(1.0);
    view->paintAt(1.0, 0, 0);
    const lumo::gui::BitmapFont* f = view->fontOf(pack, "val");
    ASSERT_NE(f, nullptr);
    view->select("");
    const std::string dir = view->shownDir();
    Canvas c = pixeltest::paper(500, 400);
    TextRecorder rec;
    view->inspectorText(c, pack, "path");
    ASSERT_EQ(rec.texts().size(), 1u);
    const std::string shown = rec.texts()[0].text;
    ASSERT_GT(dir.size(), 8u);
    EXPECT_EQ(shown.substr(0, 3), "...");
    EXPECT_EQ(dir.substr(dir.size() - (shown.size() - 3)), shown.substr(3)) << "the end of the folder stays";
    const lumo::gui::Rect V = view->mapRect(tqapp::boxRect(
        (*view->layoutRects())["Ardune Systems Manager/Inspector Section/Installation Section/Installation "
                             "Controls/Filepath Valuebox"]["r"]));
    EXPECT_LE(rec.texts()[0].ink.x + rec.texts()[0].ink.w, V.x + V.w - 4 + 1);
    // A wide window shows more of it.
    view->setSize(1400, 344);
    TextRecorder wide;
    view->inspectorText(c, pack, "path");
    ASSERT_EQ(wide.texts().size(), 1u);
    EXPECT_GT(wide.texts()[0].text.size(), shown.size());
}

TEST_F(PartPaint, DescriptionWrapsInsideItsBox) {
    const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(2.0);
    view->paintAt(2.0, 0, 0);
    view->selectIndex(4);
    ASSERT_NE(view->selected(), nullptr);
    Canvas c = pixeltest::paper(900, 700);
    TextRecorder rec;
    view->inspectorText(c, pack, "desc");
    ASSERT_GE(rec.texts().size(), 3u);
    const lumo::gui::Rect D = view->mapRect(tqapp::layoutRect((*view->managerLayout())["desc_view"]));
    const lumo::gui::Rect box{view->dev(D.x), view->dev(D.y), view->dev(D.x + D.w) - view->dev(D.x),
                              view->dev(D.y + D.h) - view->dev(D.y)};
    for (const Drawn& d : rec.texts()) {
        EXPECT_EQ(d.clip.x, box.x);
        EXPECT_EQ(d.clip.h, box.h) << "lines below the box are cut by the clip";
        EXPECT_LE(d.ink.x + d.ink.w, box.x + box.w - 2 * 2 + 1) << d.text;
    }
    EXPECT_EQ(c.clip.w, c.width) << "the clip is put back";
    EXPECT_EQ(pixeltest::inkBox(c).y + pixeltest::inkBox(c).h <= box.y + box.h, true);
}

// A description longer than its box shows only whole lines, the last one ending in "...", in both
// looks.
TEST_F(PartPaint, LongDescriptionShowsWholeLinesAndEndsInDots) {
    std::string words;
    for (int i = 0; i < 12; ++i) words += "Every knob of this plug-in shapes the sound in its own way. ";
    for (const char* look : {"tq", "pixel"}) {
        SCOPED_TRACE(look);
        open({"--steps", "--look", look});
        view->selectIndex(4);
        const tqm::Row* row = view->selected();
        ASSERT_TRUE(row && row->entry);
        for (tqm::Plugin& p : view->model()->catalog->catalog.plugins)
            if (p.id == row->id) p.description = words;
        for (double s : pixeltest::kScales) {
            const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(s);
            view->paintAt(pack.scale, 0, 0);
            Canvas c = pixeltest::paper(int(900 * s), int(700 * s));
            TextRecorder rec;
            view->inspectorText(c, pack, "desc");
            ASSERT_GE(rec.texts().size(), 2u) << s;
            const lumo::gui::Rect D = view->mapRect(tqapp::layoutRect((*view->managerLayout())["desc_view"]));
            std::string shown;
            for (const Drawn& d : rec.texts()) {
                EXPECT_LE(d.ink.y + d.ink.h, view->dev(D.y + D.h)) << s << " " << d.text << ": a line cut by the box";
                EXPECT_LE(d.ink.x + d.ink.w, view->dev(D.x + D.w)) << s << " " << d.text;
                shown += d.text + " ";
            }
            const std::string last = rec.texts().back().text;
            ASSERT_GE(last.size(), 3u);
            EXPECT_EQ(last.substr(last.size() - 3), "...") << s;
            // What is shown is the start of the text, in order.
            shown = shown.substr(0, shown.size() - 4);
            EXPECT_EQ(words.substr(0, shown.size()), shown) << s;
        }
        for (double s : {1.0, 2.0})
            writePng(paintWindow(s, view->minimumWidth() + 300, view->pageHeight()),
                     std::string("long-description-") + look + "-" + scaleName(s) + ".png");
    }
}

// A companion's name wider than its slot ends in "...": labels never meet and stay in the
// inspector; the format titles of a plug-in are shown whole. Both looks.
TEST_F(PartPaint, CompanionLabelsKeepToTheirSlots) {
    for (const char* look : {"tq", "pixel"}) {
        SCOPED_TRACE(look);
        open({"--steps", "--look", look});
        for (tqm::Plugin& p : view->model()->catalog->catalog.apps)
            if (p.id == "Studio") p.companions = {{"p8", "1.0"}, {"p0", "1.0"}};  // "Granular Cloud Machine ...", "Synth"
        for (tqm::Row& r : view->model()->rows)  // only apps go along with an app: these two stand for apps
            if (r.id == "p8" || r.id == "p0") r.kind = 1;
        const lumo::gui::Rect D = view->mapRect(tqapp::layoutRect((*view->managerLayout())["desc_view"]));
        auto labels = [&](double s) {
            const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(s);
            view->paintAt(pack.scale, 0, 0);
            Canvas c = pixeltest::paper(int(1200 * s), int(700 * s));
            std::vector<Drawn> drawn;
            for (const char* f : {"vst3", "clap", "au"}) {
                TextRecorder rec;
                skin.part(*view, c, pack, std::string("label:") + f);
                for (const Drawn& d : rec.texts())
                    if (!d.text.empty()) drawn.push_back(d);
            }
            for (size_t i = 0; i < drawn.size(); ++i) {
                EXPECT_GE(drawn[i].ink.x, view->dev(D.x)) << s << " " << drawn[i].text;
                EXPECT_LE(drawn[i].ink.x + drawn[i].ink.w, view->dev(D.x + D.w)) << s << " " << drawn[i].text;
                if (i > 0) {
                    EXPECT_LT(drawn[i - 1].ink.x + drawn[i - 1].ink.w + 1, drawn[i].ink.x) << s << " " << drawn[i].text;
                }
            }
            return drawn;
        };
        for (double s : pixeltest::kScales) {
            view->select("Studio");
            const std::vector<Drawn> app = labels(s);
            ASSERT_EQ(app.size(), 2u) << s;
            EXPECT_EQ(app[0].text.substr(0, 2), "GR") << s;
            EXPECT_EQ(app[0].text.substr(app[0].text.size() - 3), "...") << s;
            EXPECT_EQ(app[1].text.substr(0, 2), "SY") << s;
            view->select("p1");
            const std::vector<Drawn> plugin = labels(s);
            ASSERT_EQ(plugin.size(), 3u) << s;
            EXPECT_EQ(plugin[0].text + " " + plugin[1].text + " " + plugin[2].text, "VST3 CLAP AU") << s;
        }
        view->select("Studio");
        for (double s : {1.0, 2.0})
            writePng(paintWindow(s, view->minimumWidth(), view->pageHeight()),
                     std::string("companion-labels-") + look + "-" + scaleName(s) + ".png");
    }
}

}  // namespace
