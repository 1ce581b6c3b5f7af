// The row list in the skin look: status words of every state and of a running or failed job, names
// and versions shortened with "...", pictures used, resized once or missing, the logo box, the empty
// list's messages, the selected line last, and a display list the model's rows have outrun.
#include "tests/manager/skin_paint_support.h"

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
};

TEST_F(RowPaint, StatusWordsOfEveryStateAndOfJobs) {
    rowsInStates({State::Absent, State::Installed, State::Update, State::NeedsManager, State::Unavailable,
                  State::Delisted, State::Installed, State::Absent});
    auto& m = *view->model();
    m.busy = true;
    m.jobIds[m.rows[6].id] = 1;
    m.progressText = "Downloading 40%";
    m.failed[m.rows[7].id] = 1;
    const std::vector<std::string> t = paintTexts();
    for (const char* word : {"Get", "Installed", "Update", "Needs app", "Not here", "Delisted", "40%", "Error"})
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
    open({"--steps", "--look", "tq"});
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
        view->pointer().hover = tqapp::partOf(hover);
        view->pointer().pressed = tqapp::partOf(pressed);
        const uint64_t h = pixeltest::hashOf(paintWindow(2.0, view->pageWidth(), view->pageHeight()));
        view->pointer().hover.reset();
        view->pointer().pressed.reset();
        return h;
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

TEST_F(RowPaint, UpperCaseLeavesHighBytesAlone) {
    EXPECT_EQ(tqapp::upper("\xe9" "t\xe9 \xff"), "\xe9" "T\xe9 \xff");
    rowsInStates({State::Absent, State::Absent, State::Absent});
    auto& rows = view->model()->rows;
    rows[0].name = "\xc3\xa9" "cho";
    rows[1].name = "zeta";
    rows[2].name = "Alpha";
    view->changed();
    ASSERT_EQ(view->displayList().size(), 3u);
    EXPECT_EQ(rows[size_t(view->displayList()[0])].name, "Alpha");
    EXPECT_EQ(rows[size_t(view->displayList()[2])].name, "\xc3\xa9" "cho");  // bytes above 0x7f sort last
}

}  // namespace
