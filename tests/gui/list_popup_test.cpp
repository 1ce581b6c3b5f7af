// List popup geometry in both row modes, item replacement, the automation parts and drawing,
// with a picture of an open menu at 1x and 2x.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "fakes.h"
#include "gui/fonts.h"
#include "gui/menu.h"
#include "menu_test_helpers.h"
#include "pictures.h"

using namespace lumo::gui;

namespace {

using menutest::item;
using menutest::separator;

MenuLook look20(int separatorHeight = 0, bool shown = true) {
    MenuLook l;
    l.rowHeight = 20;
    l.padTop = 2;
    l.separatorHeight = separatorHeight;
    l.separatorsShown = shown;
    return l;
}

std::vector<MenuItem> mixed() { return {item("A"), separator(), item("B"), separator(), item("C")}; }

// A pointer move to a point local to a popup, at the editor's display scale (no header, no zoom).
void moveTo(Editor& ed, const ListPopup* l, int x, int y) {
    const double s = ed.scale();
    ed.mouseMove(int(std::lround((l->bounds.x + x) * s)), int(std::lround((l->bounds.y + y) * s)), false, false,
                 false);
}


}  // namespace

TEST(ListPopupGeometry, RowsInBothModes) {
    struct Case {
        const char* what;
        MenuLook look;
        int height;  // popup height
        int content, visible, y2;
        std::vector<std::pair<int, int>> hits;  // y -> row
    };
    const Case cases[] = {
        {"uniform", look20(), 200, 104, 5, 42, {{0, -1}, {1, -1}, {2, 0}, {21, 0}, {22, 1}, {101, 4}, {102, -1}}},
        {"uniform, scrolling", look20(), 64, 104, 3, 42, {{61, 2}, {62, -1}}},
        {"short separators", look20(6), 200, 76, 5, 28, {{21, 0}, {22, 1}, {27, 1}, {28, 2}, {73, 4}, {74, -1}}},
        {"short separators, scrolling", look20(6), 50, 76, 3, 28, {{47, 2}, {48, -1}}},
        {"hidden separators", look20(0, false), 200, 64, 5, 22, {{21, 0}, {22, 2}, {41, 2}, {42, 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ListPopup l(c.look, mixed(), Rect{0, 0, 100, c.height});
        EXPECT_EQ(ListPopup::heightOf(c.look, mixed()), c.content);
        EXPECT_EQ(l.visibleRows(), c.visible);
        EXPECT_EQ(l.yOf(2), c.y2);
        EXPECT_EQ(l.scrollbarShown(), c.content > c.height);
        for (auto [y, row] : c.hits) EXPECT_EQ(l.itemAt(y), row) << "y " << y;
    }
}

TEST(ListPopupGeometry, ScrollingKeepsTheTopInRange) {
    std::vector<MenuItem> items;
    for (int i = 0; i < 20; ++i) items.push_back(item("Row", i));
    ListPopup l(look20(), items, Rect{0, 0, 100, 104});  // five rows show
    l.ensureVisible(12);
    EXPECT_EQ(l.top, 8);
    EXPECT_EQ(l.itemAt(2), 8);
    EXPECT_EQ(l.yOf(9), 22);
    l.ensureVisible(3);
    EXPECT_EQ(l.top, 3);
    l.ensureVisible(19);
    EXPECT_EQ(l.top, 15);
    // The thumb runs from below the upper arrow to above the lower one.
    const int a = 10;
    EXPECT_EQ(l.thumbLength(), std::max(6, 5 * (104 - 2 * a - 2) / 20));
    EXPECT_EQ(l.thumbTop() + l.thumbLength(), 104 - a - 2);

    // Fewer items than the top: clamped back.
    l.setItems({item("a"), item("b"), item("c"), item("d"), item("e"), item("f"), item("g")});
    EXPECT_EQ(l.top, 2);
}

TEST(ListPopupGeometry, ScrollingStopsWithTheLastRowAtTheBottom) {
    // Ten rows and a separator after every second one (15 items) in a popup with 100 units of room.
    std::vector<MenuItem> items;
    for (int i = 0; i < 10; ++i) {
        items.push_back(item("Row", i));
        if (i % 2) items.push_back(separator());
    }
    struct Case {
        const char* what;
        MenuLook look;
        int lastTop;  // the first of the rows that fill the room up to the end
    };
    const Case cases[] = {{"uniform", look20(), 10}, {"short separators", look20(6), 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ListPopup l(c.look, items, Rect{0, 0, 100, 104});
        ASSERT_TRUE(l.scrollbarShown());
        MouseEvent down;
        down.wheelSteps = -1.0f;
        for (int i = 0; i < 40; ++i) l.onMouseWheel(down);
        EXPECT_EQ(l.top, c.lastTop);
        EXPECT_EQ(l.top + l.visibleRows(), int(items.size()));
        l.ensureVisible(int(items.size()) - 1);
        EXPECT_EQ(l.top, c.lastTop);
        // Dragging the thumb to the bottom ends at the same place.
        l.top = 0;
        l.dragThumb(104);
        EXPECT_EQ(l.top, c.lastTop);
    }
}

TEST(ListPopupGeometry, SetItemsForgetsRowsPastTheNewEnd) {
    fakes::Host host;
    Editor ed(host, 400, 300);
    auto slider = std::make_shared<MenuSlider>();
    std::vector<std::pair<double, bool>> changes;
    slider->onChange = [&](double v, bool final) { changes.push_back({v, final}); };
    std::vector<MenuItem> items = {item("a"), item("b"), item("more"), item("level"), item("x")};
    items[2].children = {item("deep", 9)};
    items[3].slider = slider;
    items[4].action = true;
    ListPopup* l = openMenu(ed, std::make_unique<ListPopup>(look20(), items, Rect{0, 0, 150, 0}), Rect{10, 10, 80, 20});
    moveTo(ed, l, 20, l->yOf(2) + 5);  // opens the submenu
    ASSERT_EQ(ed.overlays().size(), 2u);
    moveTo(ed, l, 150 - 1 - 5, l->yOf(4) + 5);  // action hover on row 4, pending row 4
    EXPECT_EQ(l->actionHover, 4);
    EXPECT_EQ(l->pendingRow, 4);
    int x0 = 0, x1 = 0;
    ASSERT_TRUE(l->sliderTrack(3, x0, x1));
    ed.mouseDown(l->bounds.x + x0 + 2, l->bounds.y + l->yOf(3) + 5, kButtonLeft, false, false, false, false);
    ASSERT_EQ(l->sliderRow, 3);

    l->setItems({item("only", 1)});
    EXPECT_EQ(l->sliderRow, -1);
    EXPECT_EQ(l->submenuRow, -1);
    EXPECT_EQ(l->submenu, nullptr);
    EXPECT_EQ(l->pendingRow, -1);
    EXPECT_EQ(l->actionHover, -1);
    EXPECT_EQ(l->hover, -1);
    EXPECT_EQ(ed.overlays().size(), 1u);  // the stale submenu closed
    ASSERT_FALSE(changes.empty());
    EXPECT_TRUE(changes.back().second);  // the interrupted drag ended
    // The old rows are gone for ticks, the rest of the drag, the release and the paint.
    for (int i = 0; i < 6; ++i) ed.tick();
    moveTo(ed, l, 20, l->yOf(3) + 5);
    ed.mouseUp(l->bounds.x + 20, l->bounds.y + l->yOf(3) + 5, kButtonLeft);
    Canvas c;
    ed.paint(c);
    EXPECT_EQ(ed.overlays().size(), 1u);
}

TEST(ListPopupGeometry, DescribeListsTheShownRows) {
    std::vector<MenuItem> items = {item("Open", 1), separator(), item("Save", 2), item("Gone", 3)};
    items[2].checked = true;
    items[3].enabled = false;
    ListPopup full(look20(), items, Rect{0, 0, 100, 200});
    WidgetInfo info;
    full.describe(info);
    ASSERT_EQ(info.parts.size(), 3u);
    EXPECT_EQ(info.parts[1].label, "Save");
    EXPECT_EQ(info.parts[1].rect.y, 42);
    EXPECT_EQ(info.parts[1].rect.w, 100);
    EXPECT_EQ(info.parts[1].rect.h, 20);
    EXPECT_TRUE(info.parts[1].checked);
    EXPECT_FALSE(info.parts[2].enabled);

    ListPopup scrolled(look20(), items, Rect{0, 0, 100, 44});  // two rows and the strip
    scrolled.top = 1;
    WidgetInfo part;
    scrolled.describe(part);
    ASSERT_EQ(part.parts.size(), 1u);
    EXPECT_EQ(part.parts[0].label, "Save");
    EXPECT_EQ(part.parts[0].rect.y, 22);
    EXPECT_EQ(part.parts[0].rect.w, 90);
}

TEST(ListPopupDrawing, OpenMenuWithSubmenuAndSliderAtOneAndTwo) {
    ListSkin skin;
    skin.font = "tqnative";
    skin.text = 0xFFE8E8E8u;
    skin.hoverFill = 0xFFB07030u;
    skin.background = 0xFF302A26u;
    skin.border = 0xFF6A625Cu;
    skin.rowHeight = 18;
    skin.textInset = 8;

    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        fakes::Host host;
        Editor ed(host, 500, 200);
        ed.setScale(scale);
        auto volume = std::make_shared<MenuSlider>();
        volume->value = 0.6;
        volume->format = [](double v) { return std::to_string(int(std::lround(v * 100))) + " %"; };
        std::vector<MenuItem> items = {item("New preset", 1), item("Open...", 2), separator(), item("Recent files"),
                                       item("Volume"), item("Locked", 4), item("Compact view", 5)};
        items[3].children = {item("Bright pad", 31), item("Deep bass", 32), item("A name too long to fit in the row", 33)};
        items[4].slider = volume;
        items[5].enabled = false;
        items[6].checked = true;
        ListPopup* l = openMenu(ed, std::make_unique<ListPopup>(lumoFonts(), skin, items, Rect{}), Rect{20, 10, 90, 16});
        EXPECT_EQ(l->bounds.w, 220);  // a slider row makes the menu at least 220 wide
        moveTo(ed, l, 30, l->yOf(3) + 5);
        ASSERT_EQ(ed.overlays().size(), 2u);
        ListPopup* sub = l->submenu;
        moveTo(ed, sub, 30, sub->yOf(1) + 5);

        Canvas c;
        ed.paint(c);
        ASSERT_EQ(c.width, 500 * int(scale));
        ASSERT_TRUE(pictures::write(c, "menu-" + std::to_string(int(scale)) + "x.png"));
        auto px = [&](int x, int y) { return c.pixels[size_t(y * c.width + x)]; };
        auto dev = [scale](int v) { return int(std::lround(v * scale)); };
        // The open submenu's row and the hovered submenu row are lit; the checked row is inverted.
        EXPECT_EQ(px(dev(l->bounds.x + 3), dev(l->bounds.y + l->yOf(3) + 1)), pixelOf(skin.hoverFill));
        EXPECT_EQ(px(dev(sub->bounds.x + 3), dev(sub->bounds.y + sub->yOf(1) + 1)), pixelOf(skin.hoverFill));
        EXPECT_EQ(px(dev(l->bounds.x + 3), dev(l->bounds.y + l->yOf(6) + 1)), pixelOf(skin.text));
        // The slider's filled track reaches 60 % of the way in the text colour.
        int x0 = 0, x1 = 0;
        ASSERT_TRUE(l->sliderTrack(4, x0, x1));
        const int trackY = dev(l->bounds.y + l->yOf(4)) + dev(18) / 2;
        EXPECT_EQ(px(dev(l->bounds.x) + dev(x0) + 1, trackY), pixelOf(skin.text));
        EXPECT_NE(px(dev(l->bounds.x + x1) - 2, trackY), pixelOf(skin.text));
    }
}

TEST(ListPopupDrawing, AScrollingMenuShowsItsLongestLabelInFull) {
    ListSkin skin;
    skin.font = "tqnative";
    skin.rowHeight = 18;
    skin.textInset = 8;
    std::vector<MenuItem> items;
    for (int i = 1; i <= 40; ++i) items.push_back(item("Preset number " + std::to_string(i), i));
    items[2].label = "Preset number 3 of the factory bank";
    for (double scale : {1.0, 1.5, 2.0, 3.0}) {
        SCOPED_TRACE(scale);
        MenuLook look = menuLook(lumoFonts(), skin);
        // Every label the rows draw, with the room it was given.
        std::vector<std::string> cut;
        int drawn = 0;
        look.drawText = [&, inner = look.drawText](const Paint& p, Rect r, const std::string& text, Color colour,
                                                    bool plain) {
            const BitmapFont* f = lumoFonts().pack(p.scale).font("tqnative");
            ++drawn;
            if (f->fit(text, r.w - 2 * int(std::lround(skin.textInset * p.scale))) != text) cut.push_back(text);
            inner(p, r, text, colour, plain);
        };
        fakes::Host host;
        Editor ed(host, 300, 160);
        ed.setScale(scale);
        ListPopup* l = openMenu(ed, std::make_unique<ListPopup>(look, items, Rect{}), Rect{10, 10, 60, 16});
        ASSERT_TRUE(l->scrollbarShown());
        Canvas c;
        ed.paint(c);
        ASSERT_TRUE(pictures::write(c, "menu-scrolling-" + std::to_string(int(scale * 10)) + ".png"));
        EXPECT_EQ(drawn, l->visibleRows());
        EXPECT_TRUE(cut.empty()) << cut.front();
    }
}
