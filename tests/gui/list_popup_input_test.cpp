// How open menus answer the pointer, the wheel, the keys and the editor's tick.
#include <gtest/gtest.h>

#include <memory>

#include "fakes.h"
#include "gui/menu.h"
#include "menu_test_helpers.h"

using namespace lumo::gui;

namespace {

MouseEvent at(int x, int y, bool shift = false) { return menutest::mouseAt(x, y, shift); }
KeyEvent press(Key k, bool shift = false) { return menutest::keyPress(k, shift); }
using menutest::item;
using menutest::separator;

MenuItem parentOf(const std::string& label, std::vector<MenuItem> kids) {
    MenuItem m = item(label, 0);
    m.children = std::move(kids);
    return m;
}

class Menus : public ::testing::Test {
protected:
    Menus() {
        look.rowHeight = 20;
        look.padTop = 2;
    }
    ListPopup* open(std::vector<MenuItem> items, Rect anchor = Rect{10, 10, 80, 20}) {
        auto list = std::make_unique<ListPopup>(look, std::move(items), Rect{0, 0, 120, 0});
        list->onPick = [this](int id) {
            picks.push_back(id);
            overlaysAtPick = ed.overlays().size();
        };
        return openMenu(ed, std::move(list), anchor);
    }
    // The middle of a row, local to the popup.
    static int rowY(const ListPopup* l, int row) { return l->yOf(row) + 10; }
    void click(ListPopup* l, int row) {
        l->onMouseDown(at(20, rowY(l, row)));
        l->onMouseUp(at(20, rowY(l, row)));
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) ed.tick();
    }

    fakes::Host host;
    Editor ed{host, 400, 300};
    MenuLook look;
    std::vector<int> picks;
    size_t overlaysAtPick = 99;
};

}  // namespace

TEST_F(Menus, ClickPicksOnceAfterTheMenuHasClosed) {
    ListPopup* l = open({item("One", 1), item("Two", 2), item("Off", 3, false)});
    click(l, 2);  // disabled: nothing, the menu stays
    EXPECT_TRUE(picks.empty());
    EXPECT_EQ(ed.overlays().size(), 1u);
    l->onMouseDown(at(20, rowY(l, 1)));
    EXPECT_EQ(l->armedRow, 1);
    EXPECT_TRUE(picks.empty());  // picks happen on the release
    l->onMouseUp(at(20, rowY(l, 1)));
    EXPECT_EQ(picks, std::vector<int>{2});
    EXPECT_EQ(overlaysAtPick, 0u);
    EXPECT_TRUE(ed.overlays().empty());
}

TEST_F(Menus, ReleaseOutsideClosesTheWholeChain) {
    ListPopup* l = open({parentOf("More", {item("Deep", 7)}), item("Plain", 1)});
    l->onMouseMove(at(20, rowY(l, 0)));
    ASSERT_EQ(ed.overlays().size(), 2u);
    ListPopup* sub = l->submenu;
    ASSERT_NE(sub, nullptr);
    sub->onMouseDown(at(5, -40));
    sub->onMouseUp(at(5, -40));
    EXPECT_TRUE(ed.overlays().empty());
    EXPECT_TRUE(picks.empty());
}

TEST_F(Menus, SubmenusOpenAtOnceAndSwitchOnTheFourthTick) {
    ListPopup* l = open({parentOf("A", {item("a1", 11)}), parentOf("B", {item("b1", 21), item("b2", 22)}),
                         item("C", 3)});
    l->onMouseMove(at(20, rowY(l, 0)));
    ASSERT_EQ(ed.overlays().size(), 2u);
    EXPECT_EQ(l->submenuRow, 0);
    EXPECT_TRUE(ed.overlays()[1].chained);
    ListPopup* subA = l->submenu;
    EXPECT_EQ(subA->items[0].label, "a1");
    EXPECT_EQ(subA->bounds.x, l->bounds.x + l->bounds.w);  // beside its parent
    EXPECT_EQ(subA->bounds.y, l->bounds.y + l->yOf(0) - 2);

    l->onMouseMove(at(20, rowY(l, 1)));
    ticks(3);
    EXPECT_EQ(l->submenuRow, 0);
    ticks(1);
    EXPECT_EQ(l->submenuRow, 1);
    ASSERT_EQ(ed.overlays().size(), 2u);
    EXPECT_EQ(l->submenu->items.size(), 2u);

    l->onMouseMove(at(20, rowY(l, 2)));  // a plain row closes the submenu on the fourth tick
    ticks(3);
    EXPECT_EQ(ed.overlays().size(), 2u);
    ticks(1);
    EXPECT_EQ(ed.overlays().size(), 1u);
    EXPECT_EQ(l->submenuRow, -1);
    EXPECT_EQ(l->submenu, nullptr);

    // A pick in a submenu reaches the top list's callback after the chain has closed.
    l->onMouseMove(at(20, rowY(l, 1)));
    ListPopup* subB = l->submenu;
    click(subB, 1);
    EXPECT_EQ(picks, std::vector<int>{22});
    EXPECT_EQ(overlaysAtPick, 0u);
}

TEST_F(Menus, KeysMoveWithoutWrapping) {
    ListPopup* l = open({separator(), item("X", 1), item("Y", 2, false), item("Z", 3), separator()});
    struct Step {
        Key key;
        int hover;
    };
    const Step steps[] = {{Key::Down, 1}, {Key::Down, 3}, {Key::Down, 3}, {Key::Up, 1}, {Key::Up, 1}};
    for (const Step& s : steps) {
        EXPECT_TRUE(l->onKey(press(s.key)));
        EXPECT_EQ(l->hover, s.hover);
    }
    l->hover = -1;
    l->onKey(press(Key::Up));
    EXPECT_EQ(l->hover, 3);  // from nothing, up takes the last selectable row
    EXPECT_FALSE(l->onKey(press(Key::Home)));
    EXPECT_TRUE(l->onKey(press(Key::Enter)));
    EXPECT_EQ(picks, std::vector<int>{3});
    EXPECT_TRUE(ed.overlays().empty());

    ListPopup* dead = open({separator(), item("Off", 1, false)});
    for (Key k : {Key::Down, Key::Up, Key::Enter}) {
        EXPECT_TRUE(dead->onKey(press(k)));
        EXPECT_EQ(dead->hover, -1);
    }
    EXPECT_EQ(ed.overlays().size(), 1u);
    EXPECT_TRUE(dead->onKey(press(Key::Escape)));
    EXPECT_TRUE(ed.overlays().empty());
    EXPECT_TRUE(picks.size() == 1);
}

TEST_F(Menus, KeysOpenAndCloseSubmenus) {
    ListPopup* l = open({parentOf("A", {item("a1", 11), item("a2", 12)}), item("B", 2)});
    std::vector<int> sides;
    l->onSide = [&](int s) { sides.push_back(s); };
    l->onKey(press(Key::Down));
    l->onKey(press(Key::Right));
    ASSERT_EQ(ed.overlays().size(), 2u);
    ListPopup* sub = l->submenu;
    EXPECT_EQ(sub->hover, 0);  // opened by keyboard: its first row is selected
    sub->onKey(press(Key::Right));  // no submenu there: the menu bar hears of it
    EXPECT_EQ(sides, std::vector<int>{1});
    sub->onKey(press(Key::Escape));  // closes only the submenu
    EXPECT_EQ(ed.overlays().size(), 1u);
    EXPECT_EQ(l->submenuRow, -1);
    l->onKey(press(Key::Left));
    EXPECT_EQ(sides, (std::vector<int>{1, -1}));
    EXPECT_EQ(ed.overlays().size(), 1u);
}

TEST_F(Menus, HeldScrollArrowRepeatsEveryThirdTick) {
    std::vector<MenuItem> items;
    for (int i = 0; i < 20; ++i) items.push_back(item("Row " + std::to_string(i), i));
    ListPopup* l = open(items, Rect{10, 100, 80, 20});  // 164 high: 8 rows
    ASSERT_TRUE(l->scrollbarShown());
    ASSERT_EQ(l->visibleRows(), 8);
    const int x = l->bounds.w - 4, y = l->bounds.h - 2;
    EXPECT_EQ(l->scrollbarPart(y), 1);
    EXPECT_EQ(l->itemAt(x, 50), -1);  // the strip is no row
    l->onMouseDown(at(x, y));
    EXPECT_EQ(l->top, 1);
    ticks(2);
    EXPECT_EQ(l->top, 1);
    ticks(1);
    EXPECT_EQ(l->top, 2);
    ticks(3);
    EXPECT_EQ(l->top, 3);
    ticks(60);
    EXPECT_EQ(l->top, 12);  // never past count - visible rows
    l->onMouseUp(at(x, y));
    EXPECT_EQ(l->autoScroll, 0);
    EXPECT_EQ(ed.overlays().size(), 1u);

    // The wheel moves one row per event whatever the delta.
    MouseEvent wheel = at(20, 20);
    wheel.wheelSteps = 5.0f;
    EXPECT_TRUE(l->onMouseWheel(wheel));
    EXPECT_EQ(l->top, 11);
    wheel.wheelSteps = -0.1f;
    l->onMouseWheel(wheel);
    l->onMouseWheel(wheel);
    EXPECT_EQ(l->top, 12);

    // Dragging the thumb to the strip's top scrolls to the first row.
    l->onMouseDown(at(x, l->thumbTop() + 2));
    l->onMouseDrag(at(x, 0));
    EXPECT_EQ(l->top, 0);
    l->onMouseUp(at(x, 0));

    ListPopup* fits = open({item("a", 1)});
    wheel.wheelSteps = -1;
    EXPECT_TRUE(fits->onMouseWheel(wheel));  // consumed without effect
    EXPECT_EQ(fits->top, 0);
}

TEST_F(Menus, SlidersSnapDragAndReportFinalValues) {
    auto slider = std::make_shared<MenuSlider>();
    slider->step = 0.25;
    std::vector<std::pair<double, bool>> changes;
    slider->onChange = [&](double v, bool final) { changes.push_back({v, final}); };
    MenuItem row = item("Level", 5);
    row.slider = slider;
    ListPopup* l = open({row, item("Other", 6)});

    l->slideTo(0, 0.374, false);
    EXPECT_EQ(slider->value, 0.25);
    l->slideTo(0, 0.375, false);
    EXPECT_EQ(slider->value, 0.5);
    l->slideTo(0, 0.5, false);  // unchanged and not final: no report
    l->slideTo(0, 7, true);
    EXPECT_EQ(slider->value, 1.0);
    EXPECT_EQ(changes, (std::vector<std::pair<double, bool>>{{0.25, false}, {0.5, false}, {1.0, true}}));

    // A press on the track jumps there; shift mid-drag slows the drag without a jump.
    slider->step = 0;
    int x0 = 0, x1 = 0;
    ASSERT_TRUE(l->sliderTrack(0, x0, x1));
    const double span = x1 - x0;
    changes.clear();
    l->onMouseDown(at(x0, rowY(l, 0)));
    EXPECT_EQ(slider->value, 0.0);
    EXPECT_EQ(l->armedRow, -1);
    l->onMouseDrag(at(x0 + 5, rowY(l, 0)));
    EXPECT_DOUBLE_EQ(slider->value, 5 / span);
    l->onMouseDrag(at(x0 + 5, rowY(l, 0), true));
    EXPECT_DOUBLE_EQ(slider->value, 5 / span);
    l->onMouseDrag(at(x0 + 15, rowY(l, 0), true));
    EXPECT_DOUBLE_EQ(slider->value, 5 / span + 1 / span);
    l->onMouseDrag(at(x0 + 15, rowY(l, 0), false));
    EXPECT_DOUBLE_EQ(slider->value, 5 / span + 1 / span);
    l->onMouseUp(at(x0 + 15, rowY(l, 0)));
    ASSERT_FALSE(changes.empty());
    EXPECT_TRUE(changes.back().second);
    EXPECT_EQ(ed.overlays().size(), 1u);  // a slider row never picks
    EXPECT_TRUE(picks.empty());

    // Keys step by a hundredth of the range (ten times that with shift), each a final report.
    l->hover = 0;
    slider->value = 0.5;
    l->onKey(press(Key::Right));
    EXPECT_DOUBLE_EQ(slider->value, 0.51);
    l->onKey(press(Key::Left, true));
    EXPECT_DOUBLE_EQ(slider->value, 0.41);

    // A popup destroyed mid-drag ends the drag with a final report.
    auto loose = std::make_unique<ListPopup>(look, std::vector<MenuItem>{row}, Rect{0, 0, 120, 24});
    loose->onMouseDown(at(x0 + 5, 12));
    changes.clear();
    loose.reset();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_TRUE(changes[0].second);
}

TEST_F(Menus, ActionButtonsReportWithoutClosing) {
    MenuItem row = item("Recent file", 9);
    row.action = true;
    ListPopup* l = open({row});
    std::vector<int> actions;
    l->onAction = [&](int id) { actions.push_back(id); };
    const int x = l->bounds.w - 1 - 10;  // inside the square cell at the right end
    EXPECT_TRUE(l->inAction(0, x));
    EXPECT_FALSE(l->inAction(0, 20));
    l->onMouseMove(at(x, rowY(l, 0)));
    EXPECT_EQ(l->actionHover, 0);
    l->onMouseDown(at(x, rowY(l, 0)));
    EXPECT_EQ(l->armedRow, -1);
    l->onMouseUp(at(x, rowY(l, 0)));
    EXPECT_EQ(actions, std::vector<int>{9});
    EXPECT_EQ(ed.overlays().size(), 1u);
    click(l, 0);
    EXPECT_EQ(picks, std::vector<int>{9});
}
