// Menu placement: the pure rules of dropdownRect and submenuRect, and openMenu on an editor.
#include <gtest/gtest.h>

#include <memory>

#include "fakes.h"
#include "gui/menu.h"

using namespace lumo::gui;

namespace {

bool same(Rect a, Rect b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }

std::string str(Rect r) {
    return "(" + std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.w) + "," +
           std::to_string(r.h) + ")";
}

std::vector<MenuItem> rows(int n) {
    std::vector<MenuItem> v(size_t(n), MenuItem{});
    for (int i = 0; i < n; ++i) {
        v[size_t(i)].label = "Item " + std::to_string(i);
        v[size_t(i)].id = 100 + i;
    }
    return v;
}

MenuLook plainLook() {
    MenuLook l;
    l.rowHeight = 20;
    l.padTop = 2;  // pad 4 in all
    return l;
}

}  // namespace

TEST(MenuPlacement, DropdownRect) {
    const Rect area{0, 0, 400, 300};
    struct Case {
        const char* what;
        Rect anchor;
        int w, h;
        Rect area;
        int minH;
        Rect want;
    };
    const Case cases[] = {
        {"below", {50, 20, 80, 20}, 100, 100, area, 60, {50, 40, 100, 100}},
        {"above when only that fits", {50, 250, 80, 20}, 100, 100, area, 60, {50, 150, 100, 100}},
        {"roomier lower side", {50, 100, 80, 20}, 100, 250, area, 60, {50, 120, 100, 180}},
        {"roomier upper side", {50, 180, 80, 20}, 100, 250, area, 60, {50, 0, 100, 180}},
        {"minimum over the room", {50, 45, 80, 10}, 100, 250, {0, 0, 400, 100}, 60, {50, 40, 100, 60}},
        {"minimum capped by the list, upper side", {50, 45, 80, 10}, 100, 50, {0, 0, 400, 80}, 60, {50, -5, 100, 50}},
        {"wider than the area", {50, 20, 80, 20}, 400, 100, area, 60, {0, 40, 400, 100}},
        {"anchor left of the area", {5, 20, 80, 20}, 100, 100, {20, 0, 400, 300}, 60, {20, 40, 100, 100}},
        {"pushed left to stay inside", {350, 20, 40, 20}, 100, 100, area, 60, {300, 40, 100, 100}},
    };
    for (const Case& c : cases) {
        Rect got = dropdownRect(c.anchor, c.w, c.h, c.area, c.minH);
        EXPECT_TRUE(same(got, c.want)) << c.what << ": " << str(got);
    }
}

TEST(MenuPlacement, SubmenuRect) {
    const Rect area{0, 0, 400, 300};
    const Rect parent{100, 50, 120, 200};
    const Rect row{100, 80, 120, 20};
    struct Case {
        const char* what;
        Rect parent, row;
        int w, h;
        Rect area;
        bool preferLeft;
        Rect want;
    };
    const Case cases[] = {
        {"right, first rows level", parent, row, 100, 60, area, false, {217, 78, 100, 60}},
        {"left at the area's right edge", {290, 50, 110, 200}, row, 100, 60, area, false, {193, 78, 100, 60}},
        {"left when preferred", parent, row, 100, 60, area, true, {3, 78, 100, 60}},
        {"preferred left that does not fit", {50, 50, 120, 200}, row, 100, 60, area, true, {167, 78, 100, 60}},
        {"neither side, equal room: right", {50, 50, 300, 200}, row, 100, 60, area, false, {300, 78, 100, 60}},
        {"neither side, more room left", {60, 50, 300, 200}, row, 100, 60, area, false, {0, 78, 100, 60}},
        {"pushed up to end at the bottom", parent, {100, 280, 120, 20}, 100, 60, area, false, {217, 240, 100, 60}},
        {"held below the area's top", parent, {100, 90, 120, 20}, 100, 60, {0, 100, 400, 200}, false,
         {217, 100, 100, 60}},
        {"no taller than the area", parent, row, 100, 400, area, false, {217, 0, 100, 300}},
    };
    for (const Case& c : cases) {
        Rect got = submenuRect(c.parent, c.row, 2, c.w, c.h, c.area, 3, c.preferLeft);
        EXPECT_TRUE(same(got, c.want)) << c.what << ": " << str(got);
    }
}

TEST(MenuPlacement, OpenMenu) {
    struct Case {
        const char* what;
        int editorH;
        int count;
        Rect anchor;
        int measured;  // 0: the look has no width measure
        Rect want;
    };
    const Case cases[] = {
        {"below", 300, 5, {10, 20, 80, 20}, 0, {10, 40, 80, 104}},
        {"near the bottom: above, whole", 300, 10, {50, 250, 80, 20}, 0, {50, 46, 80, 204}},
        // A list cut to rows scrolls: ten units wider for the scrollbar strip.
        {"lower side, cut to rows, top kept", 300, 20, {10, 100, 80, 20}, 0, {10, 120, 90, 164}},
        {"upper side, cut to rows, meets the anchor", 300, 20, {10, 180, 80, 20}, 0, {10, 16, 90, 164}},
        // Three rows need 64; the lower side has 30, so the list rises past the anchor but stays
        // where its lower side put it instead of jumping above the anchor and out of the area.
        {"three-row minimum on the lower side", 60, 10, {10, 10, 80, 20}, 0, {10, -4, 90, 64}},
        {"measured narrower than the anchor", 300, 3, {10, 20, 80, 20}, 50, {10, 40, 80, 64}},
        {"measured wider than the anchor", 300, 3, {10, 20, 80, 20}, 150, {10, 40, 150, 64}},
        {"scrolling, pushed left by the strip", 200, 20, {315, 10, 80, 20}, 0, {310, 30, 90, 164}},
    };
    for (const Case& c : cases) {
        fakes::Host host;
        Editor ed(host, 400, c.editorH);
        MenuLook look = plainLook();
        if (c.measured) look.measureWidth = [m = c.measured](const std::vector<MenuItem>&, double) { return m; };
        ListPopup* list = openMenu(ed, std::make_unique<ListPopup>(look, rows(c.count), Rect{}), c.anchor);
        ASSERT_NE(list, nullptr);
        EXPECT_TRUE(same(list->bounds, c.want)) << c.what << ": " << str(list->bounds);
        EXPECT_EQ(ed.overlays().size(), 1u);
    }
}

TEST(MenuPlacement, OpenMenuScrollsToTheCheckedRowAndOpensAsOverlay) {
    fakes::Host host;
    Editor ed(host, 400, 300);
    MenuLook look = plainLook();
    look.frameMargin = 4;
    std::vector<MenuItem> items = rows(20);
    items[15].checked = true;
    ListPopup* a = openMenu(ed, std::make_unique<ListPopup>(look, items, Rect{}), Rect{10, 100, 80, 20});
    EXPECT_EQ(a->visibleRows(), 8);
    EXPECT_EQ(a->top, 8);  // row 15 is the last one shown
    EXPECT_EQ(a->hover, -1);
    EXPECT_EQ(ed.overlays()[0].margin, 4);
    EXPECT_FALSE(ed.overlays()[0].unzoomed);

    // Another menu closes the first unless asked to keep it.
    openMenu(ed, std::make_unique<ListPopup>(look, rows(2), Rect{}), Rect{10, 10, 80, 20});
    EXPECT_EQ(ed.overlays().size(), 1u);
    ListPopup* c = openMenu(ed, std::make_unique<ListPopup>(look, rows(2), Rect{}), Rect{10, 10, 80, 20},
                            kMenuKeepOverlays | kMenuUnzoomed);
    EXPECT_EQ(ed.overlays().size(), 2u);
    EXPECT_TRUE(ed.overlays()[1].unzoomed);
    EXPECT_FALSE(ed.overlays()[1].chained);
    EXPECT_TRUE(c->unzoomed);
}

TEST(MenuPlacement, SubmenuTallerThanTheAreaScrollsInWholeRows) {
    fakes::Host host;
    Editor ed(host, 400, 300);
    std::vector<MenuItem> items = rows(3);
    items[1].children = rows(30);  // 604 high
    ListPopup* l = openMenu(ed, std::make_unique<ListPopup>(plainLook(), items, Rect{0, 0, 120, 0}), Rect{10, 100, 80, 20});
    l->openSub(1, false);
    ASSERT_EQ(ed.overlays().size(), 2u);
    const ListPopup* sub = l->submenu;
    // Beside the parent, ten units wider for the scrollbar strip, 14 whole rows from the area's top.
    EXPECT_TRUE(same(sub->bounds, Rect{130, 0, 130, 14 * 20 + 4})) << str(sub->bounds);
    EXPECT_TRUE(sub->scrollbarShown());
    EXPECT_EQ(sub->visibleRows(), 14);
}
