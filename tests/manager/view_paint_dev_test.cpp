// The main window in the pixel look: its own boxes and columns, the whole window painted at every
// scale (rules a dot wide, the extra width, texts whole inside their clip), the headers' sort marks
// and pointer looks, and screenshots on a catalog of a dozen plug-ins and two apps.
#include "manager/pixel_look/look.h"
#include "tests/manager/skin_paint_support.h"

#include "manager/pixel_look/primitives.h"
#include "tests/manager/job_window_support.h"

using namespace skintest;
using testsupport::str;

namespace {

uint32_t px(lumo::gui::Color c) { return lumo::gui::pixelOf(c); }

class PixelWindow : public SkinPaintTest {
protected:
    // The big catalog in the pixel look, rows in mixed states, one selected.
    void openPixel() {
        catalog.publish(bigCatalog());
        open({"--steps"});
        ASSERT_TRUE(view->model()->catalog && view->model()->catalog->ok) << view->model()->catalog->note;
        ASSERT_EQ(view->look(), 1);
        mixStates();
        view->selectIndex(4);
    }
    int width() const { return view->minimumWidth(); }
};

TEST_F(PixelWindow, BoxesAndColumns) {
    open({"--steps"});
    view->setSize(view->pageWidth(), view->pageHeight());
    const char* names[] = {"main_pill", "more", "path", "open", "sb:up", "sb:down", "cap:sb", "update_all", "account"};
    for (const char* n : names) EXPECT_TRUE(tqapp::PixelLook::hasDevBox(n)) << n;
    for (const char* n : {"x", "", "row:0", "status", "MORE"}) EXPECT_FALSE(tqapp::PixelLook::hasDevBox(n)) << n;
    EXPECT_EQ(str(tqapp::PixelLook::devBox(*view, "update_all")), str(Rect{313, 316, 86, 15}));

    // At the page width the columns are the edges as they stand.
    const std::pair<const char*, Rect> columns[] = {
        {"name", {5, 31, 109, 17}}, {"version", {114, 31, 63, 17}}, {"status", {177, 31, 60, 17}},
        {"action", {237, 31, 59, 17}}};
    ASSERT_EQ(tqapp::PixelLook::devColumns(*view).size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(tqapp::PixelLook::devColumns(*view)[i].first, columns[i].first);
        EXPECT_EQ(str(tqapp::PixelLook::devColumns(*view)[i].second), str(columns[i].second));
    }
    // A band (84, 4) with 20 more units moves every edge after it by 20; one inside it moves in step.
    tqapp::Axis x = view->xAxis();
    x.bands = {{84, 4, 20}};
    view->setAxes(x, view->yAxis());
    EXPECT_EQ(str(tqapp::PixelLook::devCol(*view, 0)), str(Rect{5, 31, 129, 17}));
    EXPECT_EQ(str(tqapp::PixelLook::devCol(*view, 3)), str(Rect{257, 31, 59, 17}));
    x.bands = {{84, 4, 20}, {110, 8, 10}};  // the edge 114 lies in the second band's middle
    EXPECT_EQ(tqapp::PixelLook::devCol(x, 0).w, 109 + 20 + 5);

    // The device mapping floors each edge on its own, with a bias that never drops a whole pixel.
    view->paintAt(1.5, 10, 20);
    EXPECT_EQ(str(tqapp::PixelLook::devRect(*view, {3, 2, 1, 2})), str(Rect{14, 23, 2, 3}));
    view->paintAt(1.1, 0, 0);  // 10 x 1.1 is 11.000000000000002, 30 x 1.1 is 33.000000000000004
    EXPECT_EQ(str(tqapp::PixelLook::devRect(*view, {10, 30, 20, 0})), str(Rect{11, 33, 22, 0}));
}

TEST_F(PixelWindow, WholeWindowAtEveryScale) {
    openPixel();
    for (double s : pixeltest::kScales) {
        TextRecorder recorder;
        Canvas c = paintWindow(s, width(), view->pageHeight());
        const int u = tqapp::dev::one(s);
        EXPECT_EQ(pixeltest::count(c, pixeltest::kPaper), 0) << "unpainted pixels at " << s;
        EXPECT_EQ(c.clip.w, c.width) << "clip not put back at " << s;

        // Outlines are one dot wide: the list's left edge, the inspector's right edge (which sits at
        // 421 + 70, the extra width given to the pixel look), the window's own edge.
        auto run = [&](int x0, int y, int dx) {
            int n = 0;
            for (int x = x0; x >= 0 && x < c.width && pixeltest::at(c, x, y) == px(tqapp::dev::rule); x += dx) ++n;
            return n;
        };
        const int mid = int(std::floor(150 * s + 1e-9));
        EXPECT_EQ(run(int(std::floor(4 * s + 1e-9)), mid, 1), u) << "list edge at " << s;
        EXPECT_EQ(run(int(std::floor(491 * s + 1e-9)) - 1, mid, -1), u) << "inspector edge at " << s;
        EXPECT_EQ(run(c.width - 1, mid, -1), u) << "window edge at " << s;
        // The rule under the headers and the one left of the scrollbar: a dot at every scale.
        auto down = [&](int x, int y0) {
            int n = 0;
            for (int y = y0; y < c.height && pixeltest::at(c, x, y) == px(tqapp::dev::rule); ++y) ++n;
            return n;
        };
        const int under = int(std::floor(48 * s + 1e-9));
        EXPECT_EQ(down(int(std::floor(60 * s + 1e-9)), under), u) << "header rule at " << s;

        // The window buttons are whole at every scale: 13 dots square with a one-dot ring and their
        // glyph (a cross of 33 dots, a bar of 14), all in the idle colour.
        for (const bool close : {true, false}) {
            const Rect slot = tqapp::PixelLook::devRect(*view, view->windowSlot(close));
            int idle = 0;
            const int side = 13 * u;  // the neighbouring button may lie a pixel from the slot
            for (int y = std::max(0, slot.y - 1); y < std::min(c.height, slot.y + std::max(slot.h, side) + 1); ++y)
                for (int x = slot.x; x < std::min(c.width, slot.x + std::max(slot.w, side)); ++x)
                    idle += pixeltest::at(c, x, y) == px(tqapp::dev::wave);
            EXPECT_EQ(idle, (48 + (close ? 33 : 14)) * u * u) << (close ? "close" : "minimise") << " at " << s;
        }

        // Every text lies whole inside the window and is never cut at its side; only the lines that
        // the list or the description box cut at its top or foot may lose part of their height.
        for (const Drawn& d : recorder.texts()) {
            if (d.ink.w < 1) continue;
            EXPECT_TRUE(pixeltest::inside(d.ink, Rect{0, 0, c.width, c.height})) << d.text << " at " << s;
            EXPECT_GE(d.ink.x, d.clip.x) << "'" << d.text << "' cut at " << s;
            EXPECT_LE(d.ink.x + d.ink.w, d.clip.x + d.clip.w) << "'" << d.text << "' cut at " << s;
            if (!pixeltest::inside(d.ink, d.clip)) {
                EXPECT_TRUE(d.ink.y < d.clip.y || d.ink.y + d.ink.h > d.clip.y + d.clip.h) << d.text << " at " << s;
            }
        }
        // The inspector's title sits below the picture well's frame, clear of it.
        const Rect well = tqapp::PixelLook::devRect(*view, view->mapRect({317, 53, 97, 75}));
        int titles = 0;
        for (const Drawn& d : recorder.texts())
            if (d.text == view->selected()->name && std::abs(d.ink.x - well.x) <= 3 * u) {
                ++titles;
                EXPECT_GE(d.ink.y, well.y + well.h) << "title on the well's frame at " << s;
            }
        EXPECT_EQ(titles, 1) << s;

        // The button words sit whole inside their boxes.
        const std::string verb = tqapp::upper(view->mainAction().verb);
        const std::pair<std::string, const char*> words[] = {
            {"UPDATE ALL", "update_all"}, {"OPEN", "open"}, {"MORE", "more"}, {verb, "main_pill"}};
        for (const auto& [word, box] : words) {
            int inBox = 0;
            for (const Drawn& d : recorder.texts())
                inBox += d.text == word && pixeltest::inside(d.ink, tqapp::PixelLook::devRect(*view, tqapp::PixelLook::devBox(*view, box)));
            EXPECT_EQ(inBox, 1) << word << " at " << s;
        }
        for (const char* header : {"NAME", "VERSION", "STATUS", "ACTION", "INSPECT", "MANAGE", "APPS", "PLUGINS"})
            EXPECT_TRUE(recorder.has(header)) << header << " at " << s;
    }
}

TEST_F(PixelWindow, HeadersShowTheSortAndThePress) {
    openPixel();
    const double s = 2.0;
    view->setSort("version", true);
    Canvas c = paintWindow(s, width(), view->pageHeight());
    // Only VERSION is lit, with a down arrow left of its label.
    auto countIn = [&](const Canvas& canvas, Rect r, lumo::gui::Color colour) {
        const uint32_t pixel = px(colour);
        int n = 0;
        for (int y = r.y; y < r.y + r.h; ++y)
            for (int x = r.x; x < r.x + r.w; ++x) n += pixeltest::at(canvas, x, y) == pixel;
        return n;
    };
    for (const auto& [column, box] : tqapp::PixelLook::devColumns(*view))
        EXPECT_EQ(countIn(c, tqapp::PixelLook::devRect(*view, box), tqapp::dev::cream) > 0, column == "version") << column;
    // The arrow: 5 + 3 + 1 dots in the 5 dots that end 2 dots before the label.
    const Rect version = tqapp::PixelLook::devRect(*view, tqapp::PixelLook::devCol(*view, 1));
    const int u = tqapp::dev::one(s);
    const int pen = version.x + version.w - int(std::lround(5 * s)) - tqapp::dev::font(s, true, false)->width("VERSION");
    EXPECT_EQ(countIn(c, Rect{pen - 7 * u, version.y, 5 * u, version.h}, tqapp::dev::cream), (5 + 3 + 1) * u * u);

    // A pressed header keeps its pressed fill when the pointer leaves it; a pressed button left by
    // the pointer looks neither hot nor down.
    view->pointer().pressed = tqapp::partOf("col:name");
    view->pointer().hover = tqapp::partOf("");
    Canvas pressed = paintWindow(s, width(), view->pageHeight());
    const Rect name = tqapp::PixelLook::devRect(*view, tqapp::PixelLook::devCol(*view, 0));
    EXPECT_GT(countIn(pressed, name, tqapp::dev::pressedFill), name.w * name.h / 2);
    view->pointer().pressed = tqapp::partOf("update_all");
    Canvas left2 = paintWindow(s, width(), view->pageHeight());
    const Rect all = tqapp::PixelLook::devRect(*view, tqapp::PixelLook::devBox(*view, "update_all"));
    EXPECT_EQ(countIn(left2, all, tqapp::dev::pressedFill), 0);
    EXPECT_EQ(countIn(left2, all, tqapp::dev::cream) > 0, true);  // its label
    view->pointer().hover = tqapp::partOf("update_all");
    Canvas held = paintWindow(s, width(), view->pageHeight());
    EXPECT_GT(countIn(held, all, tqapp::dev::pressedFill), 0);
}

TEST_F(PixelWindow, ThumbOnlyWhenTheListScrollsAndInstallWithoutASelection) {
    catalog.publish(catalogText("1.0.0"));
    open({"--steps"});
    view->select("");
    ASSERT_EQ(view->maxScroll(), 0);
    TextRecorder recorder;
    Canvas c = paintWindow(1.0, width(), view->pageHeight());
    Rect cap = tqapp::PixelLook::devBox(*view, "cap:sb");
    cap.y += view->capOffset();
    const Rect d = tqapp::PixelLook::devRect(*view, cap);
    for (int y = d.y; y < d.y + d.h; ++y)
        for (int x = d.x; x < d.x + d.w; ++x) ASSERT_EQ(pixeltest::at(c, x, y), px(tqapp::dev::bg)) << x << "," << y;
    EXPECT_TRUE(recorder.has("INSTALL"));
}

TEST_F(PixelWindow, Screenshots) {
    openPixel();
    // The window as it opens: widened after the first load until the longest name fits.
    const int opened = view->bounds.w;
    EXPECT_GT(opened, width());
    view->pointer().hover = tqapp::partOf("rowpill:6");
    for (double s : {1.0, 1.25, 1.5, 2.0, 3.0}) {
        Canvas c = paintWindow(s, opened, view->pageHeight());
        writePng(c, "pixel-window-" + scaleName(s) + ".png");
        Canvas narrow = paintWindow(s, width(), view->pageHeight());
        writePng(narrow, "pixel-window-narrowest-" + scaleName(s) + ".png");
    }
    Canvas wide = paintWindow(2.0, 720, 520);
    writePng(wide, "pixel-window-2x-720x520.png");
}

TEST_F(PixelWindow, HitRectanglesOverThePaintInBothLooks) {
    // Each look's window with every hit rectangle outlined, for a person to compare what is drawn with
    // what answers the pointer; every rectangle lies inside the window.
    for (const char* lookWord : {"", "tq"}) {
        catalog.publish(bigCatalog());
        open(lookWord[0] ? std::vector<std::string>{"--steps", "--look", lookWord} : std::vector<std::string>{"--steps"});
        mixStates();
        view->selectIndex(4);
        const int w = view->minimumWidth(), h = view->pageHeight();
        Canvas c = paintWindow(2.0, w, h);
        for (const auto& [name, r] : testsupport::hitRects(*view)) {
            EXPECT_TRUE(pixeltest::inside(r, Rect{0, 0, w, h})) << name;
            c.strokeRect(Rect{r.x * 2, r.y * 2, r.w * 2, r.h * 2}, 0xFFFF00FFu, 1);
        }
        writePng(c, std::string("hit-rects-") + (lookWord[0] ? "skin" : "pixel") + "-2x.png");
    }
}

}  // namespace

// A failure the same job cannot get past is read whole in the job window's status box and in the
// narrowest window's status line, in both looks and at every scale.
TEST_F(PixelWindow, AFailureItCannotGetPastIsSaidWhole) {
    const std::string said = "Needs admin rights: not with --pub";
    for (const char* lookWord : {"pixel", "tq"}) {
        open({"--steps", "--look", lookWord});
        view->model()->say(said);
        tqapp::JobWindow job(*view->model(), {}, jobtest::formatPlan());
        job.state = tqapp::JobWindow::Failed;
        job.error = said;
        for (double s : pixeltest::kScales) {
            TextRecorder recorder;
            Canvas c = paintWindow(s, width(), view->pageHeight());
            job.draw(pixeltest::paintAt(c, 0, 0, 218, 292, s));
            EXPECT_TRUE(recorder.has(said) && job.scrollingStatus.empty()) << lookWord << " " << s;
        }
    }
}
