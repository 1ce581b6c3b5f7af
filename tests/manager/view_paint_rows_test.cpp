// The row list in the skin look: status words of every state and of a running or failed job, names
// and versions shortened with "...", pictures used, resized once or missing, the logo box, the empty
// list's messages, the selected line last, and a display list the model's rows have outrun.
#include "tests/manager/skin_paint_support.h"

#include <algorithm>

#include "gui/draw/font_utf8.h"
#include "manager/pixel_look/look.h"
#include "tests/manager/parts_support.h"

using namespace skintest;
using tqm::State;

namespace {

class RowPaint : public SkinPaintTest {
protected:
    // A window in the skin look on the big catalog, with one row per given state (the rest removed).
    void rowsInStates(const std::vector<State>& states) {
        openBig();
        auto& rows = view->model()->rows;
        std::vector<tqm::Row> kept;
        for (const tqm::Row& r : rows)
            if (r.kind == 0 && kept.size() < states.size()) kept.push_back(r);
        for (size_t i = 0; i < kept.size(); ++i) {
            kept[i].state = states[i];
            kept[i].name = "Row" + std::to_string(i);
        }
        rows = kept;
        view->changed();
    }
    std::vector<std::string> paintTexts(double scale = 1.0) {
        TextRecorder rec;
        paintWindow(scale, view->pageWidth(), view->pageHeight() + 200);
        std::vector<std::string> out;
        for (const Drawn& d : rec.texts()) out.push_back(d.text);
        return out;
    }
    static bool has(const std::vector<std::string>& v, const std::string& s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    }
    // A logical rectangle of the view in device pixels.
    Rect device(Rect r) const {
        const int x0 = view->dev(r.x), y0 = view->dev(r.y);
        return {x0, y0, view->dev(r.x + r.w) - x0, view->dev(r.y + r.h) - y0};
    }
    static Rect grown(Rect r, int by) { return {r.x - by, r.y - by, r.w + 2 * by, r.h + 2 * by}; }
    // The darkest and lightest (0 to 255) ink of the texts drawn inside box, or of the one named.
    static std::pair<int, int> inkLightness(const Canvas& c, Rect box, const std::string& text = "") {
        int lo = 255, hi = -1;
        for (const Drawn& d : drawnTexts())
            if (pixeltest::inside(d.ink, box) && (text.empty() || d.text == text))
                for (int y = d.ink.y; y < d.ink.y + d.ink.h; ++y)
                    for (int x = d.ink.x; x < d.ink.x + d.ink.w; ++x) {
                        const uint32_t p = pixeltest::at(c, x, y);
                        const int l = int(((p >> 16 & 255) * 3 + (p >> 8 & 255) * 6 + (p & 255)) / 10);
                        lo = std::min(lo, l), hi = std::max(hi, l);
                    }
        return {lo, hi};
    }
    // A paint with the pointer over and pressed on the named parts ("": none).
    Canvas paintPointed(double scale, int w, int h, const std::string& hover, const std::string& pressed) {
        view->pointer().hover = tqapp::partOf(hover);
        view->pointer().pressed = tqapp::partOf(pressed);
        const Canvas c = paintWindow(scale, w, h);
        view->pointer().hover.reset();
        view->pointer().pressed.reset();
        return c;
    }
    // The window in the skin look (--look tq) or the pixel look on the catalog last published.
    void openLook(bool skinLook) {
        open(skinLook ? std::vector<std::string>{"--steps", "--look", "tq"} : std::vector<std::string>{"--steps"});
    }
};

TEST_F(RowPaint, StatusWordsOfEveryStateAndOfJobs) {
    rowsInStates({State::Absent, State::Installed, State::Update, State::NeedsManager, State::Unavailable,
                  State::Delisted, State::Installed, State::Absent});
    auto& m = *view->model();
    m.busy = true;
    m.jobIds[m.rows[6].id] = 1;
    m.progressText = "Downloading 90 %";
    m.fraction = 0.4;  // the row shows the job's share done, not the package's
    m.failed[m.rows[7].id] = 1;
    const std::vector<std::string> t = paintTexts();
    for (const char* word : {"Get", "Installed", "Update", "Needs app", "Not here", "Delisted", "40 %", "Error"})
        EXPECT_TRUE(has(t, word)) << word;
    // Pills: absent rows install, the update row updates, the failed row retries; the running row has none.
    EXPECT_EQ(std::count(t.begin(), t.end(), "Install"), 1);
    EXPECT_EQ(std::count(t.begin(), t.end(), "Update"), 2);  // the status word and the pill
    EXPECT_TRUE(has(t, "Retry"));
    m.busy = false;
    m.jobIds.clear();
}

TEST_F(RowPaint, LongNamesAndVersionsEndInDots) {
    openBig();
    view->selectIndex(-1);
    view->select("");
    TextRecorder rec;
    paintWindow(2.0, view->pageWidth(), view->pageHeight() + 300);
    bool name = false, version = false;
    for (const Drawn& d : rec.texts()) {
        name = name || d.text.rfind("Granular", 0) == 0;
        version = version || d.text.rfind("v10.20", 0) == 0;
        if (d.text.rfind("Granular", 0) == 0 || d.text.rfind("v10.20", 0) == 0) {
            EXPECT_EQ(d.text.substr(d.text.size() - 3), "...") << d.text;
        }
    }
    EXPECT_TRUE(name && version);
    // At a wider window the name column grows and the name is whole.
    TextRecorder wide;
    paintWindow(1.0, 900, 700);
    EXPECT_TRUE(wide.has("Granular Cloud Machine Deluxe Edition"));
}

TEST_F(RowPaint, PicturesUsedResizedOnceOrMissing) {
    openBig();
    const std::string with = "p0", without = "p2";
    tqapp::art::Pictures& pictures = view->model()->pictures;
    struct Case {
        double scale;
        int w, h;
        bool catalogs;  // the catalog's own picture is used
    };
    for (const Case& k : {Case{1.0, 68, 12, true}, Case{2.0, 136, 24, true}, Case{1.5, 102, 18, false},
                          Case{3.0, 204, 36, false}, Case{1.25, 85, 15, false}}) {
        view->paintAt(k.scale, view->paintX(), view->paintY());
        const lumo::gui::Bitmap* p = view->rowThumb(with, 1.0);
        ASSERT_NE(p, nullptr) << k.scale;
        EXPECT_EQ(p->w, k.w) << k.scale;
        EXPECT_EQ(p->h, k.h) << k.scale;
        const std::string label = scaleName(k.scale);
        EXPECT_EQ(p == pictures.get(with, tqapp::art::Kind::Row, label, 1 << 14, 1 << 14), k.catalogs) << k.scale;
        EXPECT_EQ(view->rowThumb(with, 1.0), p) << "made once";
        EXPECT_EQ(view->rowThumb(without, 1.0), nullptr);
    }
    // Every row draws its name whether or not it has a picture.
    const std::vector<std::string> t = paintTexts();
    for (const tqm::Row& r : view->model()->rows)
        EXPECT_TRUE(std::any_of(t.begin(), t.end(), [&](const std::string& s) { return s.rfind(r.name.substr(0, 4), 0) == 0; }))
            << r.name;
}

// A picture the catalog changes is resized again: a resized copy is kept by the file it was made
// from, never by the entry alone.
TEST_F(RowPaint, AChangedPictureIsResizedAgain) {
    openBig();
    view->paintAt(1.5, view->paintX(), view->paintY());
    const lumo::gui::Bitmap* first = view->rowThumb("p0", 1.0);
    ASSERT_NE(first, nullptr);
    const std::vector<uint32_t> was = first->pixels;
    std::string text = bigCatalog();
    const uint32_t c1 = 0xFF000000u | 0x305070u, c2 = 0xFF202428u;
    const std::string old = pattern("art/p0-row@2x.png", 136, 24, c1, c2);
    const std::string fresh = pattern("art/p0-row@2x.png", 136, 24, 0xFFFF0000u, 0xFF00FF00u);
    ASSERT_NE(text.find(old), std::string::npos);
    text.replace(text.find(old), old.size(), fresh);
    catalog.publish(text);
    view->model()->reload();
    ASSERT_TRUE(view->model()->catalog && view->model()->catalog->ok) << view->model()->catalog->note;
    view->paintAt(1.5, view->paintX(), view->paintY());
    const lumo::gui::Bitmap* second = view->rowThumb("p0", 1.0);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->pixels, was);
}

TEST_F(RowPaint, LogoBoxShowsThePictureOrTheName) {
    openBig();
    auto selectId = [&](const std::string& id) {
        for (size_t i = 0; i < view->displayList().size(); ++i)
            if (view->displayList()[i] >= 0 && view->model()->rows[size_t(view->displayList()[i])].id == id)
                view->selectIndex(int(i));
    };
    struct Case {
        const char* id;
        double scale;
        bool picture;
    };
    // Logos at 1x (80 x 60) and 2x: a scale without its own takes the nearest one resized.
    for (const Case& k : {Case{"p0", 1.0, true}, Case{"p0", 2.0, true}, Case{"p0", 1.5, true}, Case{"p0", 1.2, true},
                          Case{"p0", 3.0, true}, Case{"p2", 1.0, false}}) {
        selectId(k.id);
        const std::string name = view->selected()->name;
        TextRecorder rec;
        Canvas c = paintWindow(k.scale, view->pageWidth(), view->pageHeight());
        const lumo::gui::Rect box = view->mapRect(tqapp::layoutRect((*view->managerLayout())["logo_view"]));
        const lumo::gui::Rect dbox{view->dev(box.x), view->dev(box.y), view->dev(box.w), view->dev(box.h)};
        int names = 0;
        for (const Drawn& d : rec.texts())
            names += d.text == name && pixeltest::inside(d.ink, dbox);
        EXPECT_EQ(names, k.picture ? 0 : 1) << k.id << " at " << k.scale;
        const lumo::gui::Bitmap* logo = view->logoPicture(k.id, box);
        ASSERT_EQ(logo != nullptr, k.picture) << k.id << " at " << k.scale;
        if (k.picture) {
            EXPECT_EQ(logo->w, std::lround(80 * k.scale)) << k.scale;
            EXPECT_EQ(logo->h, std::lround(60 * k.scale)) << k.scale;
            const int x = view->dev(box.x) + (view->dev(box.w) - logo->w) / 2;
            const int y = view->dev(box.y) + (view->dev(box.h) - logo->h) / 2;
            // The glass lies over the logo: its corner pixels follow the picture's pattern, not the well.
            EXPECT_NE(pixeltest::at(c, x + 1, y + 1), pixeltest::at(c, x + 5, y + 1)) << k.scale;
        }
    }
}

// A logo the size of the layout's box is shown whole under the glass of its well (drawn a little
// shorter than the box) at every scale, at the page's width and widened, made smaller only as needed.
TEST_F(RowPaint, ALogoStaysInsideItsWellAtEveryScale) {
    const double scales[] = {1.0, 1.2, 1.25, 1.5, 2.0, 3.0};
    auto plugin = [&](const std::string& id, uint32_t colour) {
        std::string logos;
        for (double s : scales) {
            char label[16];
            std::snprintf(label, sizeof label, "%gx", s);
            logos += (logos.empty() ? "\"" : ", \"") + std::string(label) + "\": " +
                     pattern("art/" + id + "-logo@" + label + ".png", int(std::lround(97 * s)), int(std::lround(75 * s)),
                             colour, colour);
        }
        return "{\"id\": \"" + id + "\", \"name\": \"Same\", \"version\": \"1.0.0\", \"art\": {\"logo\": {" + logos + "}}}";
    };
    catalog.publish("{\"schema\": 1, \"sequence\": 7, \"plugins\": [" + plugin("a", 0xFF2060C0u) + ", " +
                    plugin("b", 0xFFC08020u) + "]}");
    openLook(true);
    for (const int wider : {0, 47}) {
        for (double s : scales) {
            SCOPED_TRACE(testing::Message() << "scale " << s << ", " << wider << " units wider");
            const int w = view->pageWidth() + wider, h = view->pageHeight();
            view->select("a");
            const Canvas first = paintWindow(s, w, h);
            view->select("b");
            ASSERT_EQ(view->selectedId(), "b");
            const Canvas second = paintWindow(s, w, h);
            // The well: what its glass changes on a plain grey canvas.
            Canvas grey = pixeltest::paper(first.width, first.height);
            std::fill(grey.pixels.begin(), grey.pixels.end(), 0xFF808080u);
            Canvas glassed = grey;
            skin.glass(*view, glassed, tqapp::managerSkin().pack(s), "over_4");
            const Rect well = partstest::changedBox(grey, glassed);
            ASSERT_GT(well.w, 0);
            // The logo: what differs between the two near the well (the list's selected line lies further off).
            const int m = view->dev(8);
            int x0 = first.width, y0 = first.height, x1 = -1, y1 = -1;
            for (int y = std::max(0, well.y - m); y < std::min(first.height, well.y + well.h + m); ++y)
                for (int x = std::max(0, well.x - m); x < std::min(first.width, well.x + well.w + m); ++x)
                    if (pixeltest::at(first, x, y) != pixeltest::at(second, x, y))
                        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
            ASSERT_GE(x1, 0) << "no logo drawn";
            const Rect logo{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
            EXPECT_TRUE(pixeltest::inside(logo, well)) << logo.x << "," << logo.y << " " << logo.w << "x" << logo.h;
            EXPECT_TRUE(logo.w >= well.w - view->dev(4) || logo.h >= well.h - view->dev(4)) << logo.w << "x" << logo.h;
        }
    }
}

// A start on 2,000 entries with pictures decodes nothing until the window paints, and then only the
// pictures of the rows it shows and the selected entry's logo, however long the list.
TEST_F(RowPaint, AStartDecodesOnlyThePicturesOfTheRowsOnScreen) {
    std::string plugins;
    for (int i = 0; i < 2000; ++i) {
        const std::string id = "e" + std::to_string(i);
        const uint32_t c = 0xFF000000u | (uint32_t(i) * 2654435761u >> 8);
        plugins += std::string(i ? ", " : "") + "{\"id\": \"" + id + "\", \"name\": \"Entry " + std::to_string(i) +
                   "\", \"version\": \"1.0.0\", \"art\": {\"row\": {\"1x\": " +
                   pattern("art/" + id + "-row.png", 68, 12, c, 0xFF202428u) + "}, \"logo\": {\"1x\": " +
                   pattern("art/" + id + "-logo.png", 80, 60, c, 0xFF202428u) + "}}}";
    }
    catalog.publish("{\"schema\": 1, \"sequence\": 7, \"plugins\": [" + plugins + "]}");
    // The pictures are in the cache already, as on every start after the first.
    const std::string art = tqapp::art::cacheDir(userData()) + "/art";
    std::filesystem::create_directories(art);
    std::filesystem::copy(catalog.source() + "/art", art, std::filesystem::copy_options::recursive);
    openLook(true);
    ASSERT_EQ(view->model()->rows.size(), 2000u);
    const tqapp::art::Pictures& pictures = view->model()->pictures;
    EXPECT_EQ(pictures.decodes(), 0u);
    view->selectIndex(2);
    paintWindow(1.0, view->pageWidth(), view->pageHeight());
    // Whole rows in the list, one cut at either end, and the selected entry's logo.
    const size_t need = size_t(view->listRect().h / view->rowPitch()) + 2 + 1;
    ASSERT_LT(need, 100u);
    EXPECT_GT(pictures.decodes(), 0u);
    EXPECT_LE(pictures.decodes(), need);
    // Another scale resizes what is held rather than decoding again.
    const size_t before = pictures.decodes();
    paintWindow(2.0, view->pageWidth(), view->pageHeight());
    EXPECT_EQ(pictures.decodes(), before);
    EXPECT_LE(pictures.heldBytes(), tqapp::art::Pictures::kBudget);
}

// Scrolling down and back through more pictures than the decoded budget holds: every row shows its
// own picture, and nothing kept from an earlier page points at one the budget let go.
TEST_F(RowPaint, ScrollingPastTheBudgetShowsEveryRowItsOwnPicture) {
    constexpr int kEntries = 200;
    auto colour = [](int i) { return 0xFF000000u | (uint32_t(i + 1) * 2654435761u >> 8); };
    std::string plugins;
    for (int i = 0; i < kEntries; ++i)
        plugins += std::string(i ? ", " : "") + "{\"id\": \"e" + std::to_string(i) + "\", \"name\": \"Entry " +
                   std::to_string(i) + "\", \"version\": \"1.0.0\", \"art\": {\"row\": {\"1x\": " +
                   pattern("art/e" + std::to_string(i) + ".png", 68, 12, colour(i), 0xFF202428u) + "}}}";
    catalog.publish("{\"schema\": 1, \"sequence\": 7, \"plugins\": [" + plugins + "]}");
    openLook(true);
    auto& m = *view->model();
    ASSERT_EQ(m.rows.size(), size_t(kEntries));
    // Room for about two pages of pictures.
    const int lines = view->listRect().h / view->rowPitch() + 2;
    m.pictures = tqapp::art::Pictures(size_t(68 * 12 * 4 * 2 * lines));
    m.pictures.setCatalog(m.catalog, tqapp::art::cacheDir(userData()));
    const int end = view->rowPitch() * kEntries;
    for (const bool back : {false, true})
        for (int at = 0; at < end; at += view->listRect().h) {
            view->setScroll(back ? end - at : at);
            paintWindow(1.0, view->pageWidth(), view->pageHeight());
            const auto [first, last] = view->linesInView();
            for (size_t i = first; i < last; ++i) {
                const int32_t e = view->displayList()[i];
                if (e < 0) continue;
                const std::string& id = m.rows[size_t(e)].id;
                const lumo::gui::Bitmap* b = view->rowPicture(size_t(e), 1.0);
                ASSERT_NE(b, nullptr) << id;
                ASSERT_EQ(b->w, 68) << id;
                EXPECT_EQ(b->pixels[4], colour(std::stoi(id.substr(1)))) << id << (back ? " on the way back" : "");
            }
        }
    EXPECT_LE(m.pictures.heldBytes(), size_t(68 * 12 * 4 * 2 * lines));
    EXPECT_GT(m.pictures.decodes(), size_t(kEntries));  // the budget did let pictures go
}

// A catalog whose only logo is wider than the box can ever show is refused, and the search for
// another scale ends: the name is drawn in its place, the window does not hang.
TEST_F(RowPaint, ALogoTooLargeForEveryScaleLeavesTheName) {
    catalog.publish("{\"schema\": 1, \"sequence\": 7, \"plugins\": [{\"id\": \"wide\", \"name\": \"Wide\", "
                    "\"version\": \"1.0.0\", \"art\": {\"logo\": {\"2x\": " +
                    pattern("art/wide-logo@2x.png", 6000, 4, 0xFF305070u, 0xFF202428u) + "}}}]}");
    openLook(true);
    for (size_t i = 0; i < view->displayList().size(); ++i)
        if (view->displayList()[i] >= 0) view->selectIndex(int(i));
    ASSERT_NE(view->selected(), nullptr);
    for (const double scale : {1.0, 2.0, 3.0}) {
        TextRecorder rec;
        paintWindow(scale, view->pageWidth(), view->pageHeight());
        const lumo::gui::Rect box = view->mapRect(tqapp::layoutRect((*view->managerLayout())["logo_view"]));
        EXPECT_EQ(view->logoPicture("wide", box), nullptr) << scale;
        EXPECT_TRUE(std::any_of(rec.texts().begin(), rec.texts().end(), [](const Drawn& d) { return d.text == "Wide"; }))
            << scale;
    }
}

TEST_F(RowPaint, EmptyListMessages) {
    openBig();
    auto& m = *view->model();
    const std::vector<tqm::Row> rows = m.rows;
    m.rows.clear();
    view->changed();
    struct Case {
        const char* what;
        bool loading;
        bool failed;
        const char* message;
    };
    for (const Case& k : {Case{"loading", true, false, "Loading the catalog..."},
                          Case{"failed", false, true, "No catalog"}, Case{"empty", false, false, "No plugins"}}) {
        m.loading = k.loading;
        const bool was = m.catalog->ok;
        m.catalog->ok = !k.failed;
        TextRecorder rec;
        paintWindow(1.0, view->pageWidth(), view->pageHeight());
        m.catalog->ok = was;
        bool found = false;
        for (const Drawn& d : rec.texts())
            if (d.text == k.message && d.ink.y < view->listRect().y + view->listRect().h) {  // not the status line
                found = true;
                // Centred across the list, its baseline 40 units below the list's top.
                const int mid = d.ink.x + d.ink.w / 2;
                EXPECT_NEAR(mid, view->listRect().x + view->listRect().w / 2, 2) << k.what;
                EXPECT_LE(d.ink.y + d.ink.h, view->listRect().y + 42) << k.what;
                EXPECT_GE(d.ink.y + d.ink.h, view->listRect().y + 36) << k.what;
            }
        EXPECT_TRUE(found) << k.what;
    }
    m.loading = false;
}

TEST_F(RowPaint, SelectedLineIsPaintedLastAndHeadersCarryARule) {
    openBig();
    view->selectIndex(4);
    const std::string name = view->selected()->name;
    TextRecorder rec;
    Canvas c = paintWindow(1.0, view->pageWidth(), view->pageHeight());
    std::vector<std::string> names;
    for (const Drawn& d : rec.texts())
        for (const tqm::Row& r : view->model()->rows)
            if (d.text == r.name || (d.text.size() > 3 && r.name.rfind(d.text.substr(0, d.text.size() - 3), 0) == 0))
                names.push_back(r.name);
    ASSERT_FALSE(names.empty());
    // The row names come in list order with the selected one moved to the end (before the inspector's title).
    const auto last = std::find(names.begin(), names.end(), name);
    ASSERT_NE(last, names.end());
    EXPECT_EQ(std::count(names.begin(), last, name), 0);
    EXPECT_TRUE(rec.has("APPS"));
    EXPECT_TRUE(rec.has("PLUGINS"));
}

TEST_F(RowPaint, RowPillsAndPlatesFollowThePointer) {
    rowsInStates({State::Installed, State::Absent, State::Installed});
    view->select(view->model()->rows[0].id);
    int line = -1;  // the display line of the row with a pill
    for (size_t i = 0; i < view->displayList().size(); ++i)
        if (view->displayList()[i] >= 0 && view->model()->rows[size_t(view->displayList()[i])].state == State::Absent)
            line = int(i);
    ASSERT_GE(line, 0);
    const std::string row = "row:" + std::to_string(line), pill = "rowpill:" + std::to_string(line);
    auto look = [&](const std::string& hover, const std::string& pressed) {
        return pixeltest::hashOf(paintPointed(2.0, view->pageWidth(), view->pageHeight(), hover, pressed));
    };
    const uint64_t normal = look("", ""), rowHover = look(row, ""), pillHover = look(pill, ""),
                   pillDown = look(pill, pill);
    EXPECT_NE(normal, rowHover) << "a hovered plate is brighter";
    EXPECT_NE(rowHover, pillHover) << "the pill's own hover look";
    EXPECT_NE(pillHover, pillDown) << "the pill's pressed look";
    EXPECT_EQ(look(pill, "update_all"), look(row, "update_all")) << "while another is held the pill stays normal";
    // The selected line keeps its selected plate when hovered.
    const std::string selected = "row:" + std::to_string(view->selectedIndex());
    EXPECT_EQ(look(selected, ""), normal);
}

// Names a catalog may hold that nobody tuned the window for, in both looks at three scales: accents,
// a tab, a character no face has, an empty name, 120 characters, a long version. Every letter shows,
// or its stand-in, nothing leaves its cell, and the selected line's pill keeps its word legible
// under the pointer.
TEST_F(RowPaint, NamesOfAnyKindShowWholeInsideTheirCells) {
    std::string longName;  // 120 characters, some of two bytes
    for (int i = 0; i < 12; ++i) longName += "R\xC3\xA9sonance ";
    struct Entry {
        const char* id;
        std::string name;
        const char* version;
        std::string shown;  // the row's name, before any "..."
    };
    const std::vector<Entry> entries = {
        {"t.accents", "\xC3\x9Cn\xC3\xAF" "code D\xC3\xA9l\xC3\xA0y \xC3\x86\xC3\x98\xC3\x85", "1.0.0", ""},
        {"t.tab", "Tab\there", "3.0.0-beta", ""},
        {"t.unknown", "Echo \xE9\x9F\xB3 Box", "2.0", ""},
        {"com.test.blank", "", "2.1", "blank"},
        {"t.long", longName, "10.20.300.4000-beta.12", ""},
    };
    std::string plugins;
    for (const Entry& e : entries) {
        const std::string item = std::string(e.id) + ".vst3";
        plugins += std::string(plugins.empty() ? "" : ", ") + "{\"id\": \"" + e.id + "\", \"name\": " + lumo::jsonQuote(e.name) +
                   ", \"version\": \"" + e.version + "\", \"packages\": {\"vst3\": {\"mac\": " +
                   catalog.file("plugins/" + item + ".zip", testsupport::JobCatalog::pluginZip(item, "vst3"), item) + "}}}";
    }
    catalog.publish("{\"schema\": 1, \"sequence\": 7, \"plugins\": [" + plugins + "], \"apps\": []}");
    std::vector<Canvas> sheet;
    for (const bool skinLook : {true, false}) {
        openLook(skinLook);
        view->selectIndex(1);
        for (const double scale : {1.0, 1.5, 2.0}) {
            SCOPED_TRACE((skinLook ? "skin look at " : "pixel look at ") + scaleName(scale));
            // Wide enough for every name but the long one, as the window widens itself to fit names.
            const int w = view->minimumWidth() + 160, h = view->pageHeight();
            const lumo::Json& m = *view->managerLayout();
            const Rect N = tqapp::layoutRect(m["row_name"]), V = tqapp::layoutRect(m["row_version"]);
            auto cell = [&](int line, bool name) {  // a line's name or version cell
                view->setSize(w, h);
                const int shift = view->xAxis().shiftAt(view->rowFirstX() + V.x + V.w * 0.5);
                const Rect c = tqapp::PixelLook::devCol(*view, name ? 0 : 1);
                const int x0 = !name ? (skinLook ? view->rowFirstX() + V.x + 1 + shift : c.x)  // the skin's recess
                                     : view->rowFirstX() + (skinLook ? lumo::gui::jsonInt(m["row_name_x"], 0) : 111);
                const int x1 = !name ? (skinLook ? x0 + V.w - 2 : c.x + c.w) : skinLook ? view->rowFirstX() + N.x + N.w + shift : c.x + c.w;
                return device({x0, view->rowFirstY() + line * view->rowPitch() - view->scroll(), x1 - x0, view->rowPitch()});
            };
            auto nameCellOf = [&](const Canvas& c, int line) {
                const Rect r = cell(line, true);
                std::vector<uint32_t> out;
                for (int y = r.y; y < r.y + r.h; ++y)
                    for (int x = r.x; x < r.x + r.w; ++x) out.push_back(pixeltest::at(c, x, y));
                return out;
            };
            TextRecorder rec;
            const Canvas c = paintWindow(scale, w, h);
            for (size_t line = 0; line < view->displayList().size(); ++line) {
                tqm::Row& row = view->model()->rows[size_t(view->displayList()[line])];
                const Entry& e = *std::find_if(entries.begin(), entries.end(), [&](const Entry& k) { return row.id == k.id; });
                const std::string shown = e.shown.empty() ? e.name : e.shown;
                EXPECT_EQ(row.name, shown);
                int names = 0, versions = 0;
                for (const Drawn& d : rec.texts()) {
                    const bool cut = d.text.size() > 3 && d.text.ends_with("...");
                    const std::string stem = d.text.substr(0, d.text.size() - (cut ? 3 : 0));
                    const Rect band = cell(int(line), true), list = device(view->listRect());
                    if (d.ink.y < band.y || d.ink.y >= band.y + band.h || d.ink.x >= list.x + list.w)
                        continue;  // another line, the inspector or the status line
                    if ((cut || d.text == shown) && shown.rfind(stem, 0) == 0 && !stem.empty()) {
                        ++names;  // only the 120 characters are cut
                        EXPECT_TRUE(pixeltest::inside(d.ink, band) && cut == (e.id == std::string("t.long")))
                            << e.id << ": " << testsupport::str(d.ink) << (cut ? " cut" : "");
                    } else if ((std::string("v") + e.version).rfind(stem, 0) == 0 && stem.size() > 1) {
                        ++versions;
                        EXPECT_TRUE(pixeltest::inside(d.ink, cell(int(line), false))) << d.text << ": " << testsupport::str(d.ink);
                    }
                }
                EXPECT_EQ(names, 1) << e.id;
                EXPECT_EQ(versions, 1) << e.id;
            }
            // A tab shows as a space, a character no face has as the replacement mark (not nothing), and
            // in the pixel look an accented letter as its base letter.
            const std::tuple<std::string, std::string, bool> sames[] = {
                {"Tab\there", "Tab here", true},
                {"Echo \xE9\x9F\xB3 Box", "Echo \xEF\xBF\xBD Box", true},
                {"Echo \xE9\x9F\xB3 Box", "Echo  Box", false},
                {entries[0].name, "Unicode Delay AEOA", !skinLook}};
            for (const auto& [name, as, same] : sames)
                for (size_t line = 0; line < view->displayList().size(); ++line) {
                    tqm::Row& row = view->model()->rows[size_t(view->displayList()[line])];
                    if (row.name != name) continue;
                    row.name = as;
                    EXPECT_EQ(nameCellOf(paintWindow(scale, w, h), int(line)) == nameCellOf(c, int(line)), same) << as;
                    row.name = name;
                }
            // The selected line's pill word stands out from its face when hovered and pressed.
            for (const bool pressed : {false, true}) {
                TextRecorder words;
                const Canvas hot = paintPointed(scale, w, h, "rowpill:1", pressed ? "rowpill:1" : "");
                const auto [lo, hi] = inkLightness(hot, grown(device(view->drawnRect(*tqapp::partOf("rowpill:1"))), 2));
                EXPECT_GE(hi - lo, 100) << (pressed ? "pressed" : "hovered");
            }
            // The contact sheet for a person: the list's lines of every paint, one under the other.
            const Rect list = device(view->listRect());
            Canvas& lines = sheet.emplace_back(pixeltest::paper(list.x + list.w, view->dev(5 * view->rowPitch() + 6)));
            for (int y = 0; y < lines.height; ++y)
                std::copy_n(c.pixels.begin() + ptrdiff_t(list.y + y) * c.width, lines.width, lines.pixels.begin() + ptrdiff_t(y) * lines.width);
        }
    }
    Canvas out = pixeltest::paper(std::max(sheet[2].width, sheet[5].width), 0);  // the widest: both at 2x
    for (const Canvas& c : sheet)
        for (int y = 0; y < c.height; ++y, ++out.height) {
            out.pixels.resize(out.pixels.size() + size_t(out.width), pixeltest::kPaper);
            std::copy_n(c.pixels.begin() + ptrdiff_t(y) * c.width, std::min(c.width, out.width),
                        out.pixels.end() - out.width);
        }
    EXPECT_TRUE(pixeltest::writePicture(out, "held-out-names.png"));
    EXPECT_TRUE(pixeltest::writePicture(pixeltest::enlarged(out, 2), "held-out-names@2x.png"));
}

// With no row selected (after a removal, while loading) the main button and MORE cannot act: they are
// drawn dimmed, take no pointer looks, and a click on them opens nothing.
TEST_F(RowPaint, InspectorButtonsWithNoRowAreOffAndDoNothing) {
    catalog.publish(bigCatalog());
    for (const bool skinLook : {true, false}) {
        openLook(skinLook);
        auto& m = *view->model();
        auto paintAs = [&](const char* hover, const char* pressed) {  // and the brightest ink of the main button's word
            TextRecorder rec;
            const Canvas c = paintPointed(2.0, view->pageWidth(), view->pageHeight(), hover, pressed);
            return std::pair{pixeltest::hashOf(c), inkLightness(c, grown(device(view->partRect(*tqapp::partOf("main_pill"))), 4), "INSTALL").second};
        };
        view->selectIndex(view->displayList()[0] < 0 ? 1 : 0);  // a plug-in that is not installed
        ASSERT_EQ(tqapp::upper(view->mainAction().verb), "INSTALL");
        const int lit = paintAs("", "").second;
        EXPECT_NE(paintAs("main_pill", "").first, paintAs("", "").first) << "with a row the button answers";
        for (const bool loading : {false, true}) {
            SCOPED_TRACE(std::string(skinLook ? "skin look " : "pixel look ") + (loading ? "while loading" : "after a removal"));
            const std::vector<tqm::Row> rows = m.rows;
            if (loading) m.rows.clear(), m.loading = true, view->changed();
            view->select("");
            ASSERT_EQ(view->selected(), nullptr);
            EXPECT_LT(paintAs("", "").second, lit - 40) << "the word is dimmed";
            for (const char* part : {"main_pill", "more"}) {
                EXPECT_EQ(paintAs(part, "").first, paintAs("", "").first) << part << " hovered";
                EXPECT_EQ(paintAs(part, part).first, paintAs("", "").first) << part << " pressed";
                const Rect b = view->partRect(*tqapp::partOf(part));
                lumo::gui::MouseEvent e;
                e.x = b.x + b.w / 2, e.y = b.y + b.h / 2;
                view->onMouseDown(e);
                view->onMouseUp(e);
                EXPECT_TRUE(editor->popups().empty() && !m.busy) << part << " acted";
            }
            m.loading = false, m.rows = rows, view->changed();
        }
    }
}

TEST_F(RowPaint, AListOutrunByTheRowsIsMadeAgainBeforeItIsUsed) {
    openBig();
    auto& m = *view->model();
    const size_t before = view->displayList().size();
    // The rows shrink behind the view's back, as a refresh without its change call would do.
    m.rows.resize(3);
    ++m.rowsGeneration;
    for (const auto& [hit, r] : testsupport::hitRects(*view)) EXPECT_NE(hit.rfind("row:", 0), 0u) << "stale line " << hit;
    paintWindow(1.0, view->pageWidth(), view->pageHeight());
    EXPECT_LT(view->displayList().size(), before);
    for (int32_t e : view->displayList()) EXPECT_LT(e, 3);
    EXPECT_FALSE(testsupport::hitRects(*view).empty());
}

TEST_F(RowPaint, UpperCaseAndNameOrderReadLatinLetters) {
    EXPECT_EQ(tqapp::upper("\xe9" "t\xe9 \xff"), "\xe9" "T\xe9 \xff");  // bytes that are no UTF-8 stay
    EXPECT_EQ(tqapp::upper("d\xc3\xa9l\xc3\xa0y \xc5\x93 \xc3\x9f \xc3\xbf"),
              "D\xc3\x89L\xc3\x80Y \xc5\x92 \xc3\x9f \xc5\xb8");
    rowsInStates({State::Absent, State::Absent, State::Absent, State::Absent, State::Absent});
    auto& rows = view->model()->rows;
    const std::vector<std::string> names = {"\xc3\x9cn\xc3\xaf" "code", "zeta", "Alpha", "\xc3\xa9" "cho", "tape"};
    for (size_t i = 0; i < names.size(); ++i) rows[i].name = names[i];
    // Case and accents folded: "Ünïcode" among the U's, "écho" among the E's.
    const std::vector<std::string> order = {"Alpha", "\xc3\xa9" "cho", "tape", "\xc3\x9cn\xc3\xaf" "code", "zeta"};
    for (bool ascending : {true, false}) {
        view->setSort("name", ascending);
        std::vector<std::string> got;
        for (int32_t e : view->displayList()) got.push_back(rows[size_t(e)].name);
        EXPECT_EQ(got, ascending ? order : std::vector<std::string>(order.rbegin(), order.rend()));
    }
}

}  // namespace
