// How open menus answer the pointer, the wheel, the keys and the tick, driven through the editor's
// own entry points at display scale 2 (window points are device pixels, twice the logical units).
#include <gtest/gtest.h>

#include <memory>

#include "fakes.h"
#include "gui/menu.h"
#include "menu_test_helpers.h"

using namespace lumo::gui;

namespace {

using menutest::item;
using menutest::separator;

constexpr int kScale = 2;

MenuItem parentOf(const std::string& label, std::vector<MenuItem> kids) {
    MenuItem m = item(label, 0);
    m.children = std::move(kids);
    return m;
}

// A body button that opens the fixture's menu under (or over) itself when pressed.
class MenuButton : public Widget {
public:
    std::function<void(Rect anchor)> open;
    bool onMouseDown(const MouseEvent&) override {
        open(absoluteBounds());
        return true;
    }
};

class Menus : public ::testing::Test {
protected:
    Menus() {
        ed.setScale(kScale);
        look.rowHeight = 20;
        look.padTop = 2;
    }
    ListPopup* open(std::vector<MenuItem> items, Rect anchor = Rect{10, 10, 80, 20}) {
        auto list = std::make_unique<ListPopup>(look, std::move(items), Rect{0, 0, 120, 0});
        list->onPick = [this](int id) {
            picks.push_back(id);
            overlaysAtPick = ed.overlays().size();
        };
        list->onClose = [this] { ++closed; };
        return openMenu(ed, std::move(list), anchor);
    }

    // Input at a point local to a popup, in logical units; x defaults into the label column.
    static int wx(const ListPopup* l, int x) { return (l->bounds.x + x) * kScale; }
    static int wy(const ListPopup* l, int y) { return (l->bounds.y + y) * kScale; }
    static int rowY(const ListPopup* l, int row) { return l->yOf(row) + 10; }
    void move(const ListPopup* l, int x, int y, bool shift = false) { ed.mouseMove(wx(l, x), wy(l, y), shift, false, false); }
    void down(const ListPopup* l, int x, int y, bool shift = false) {
        ed.mouseDown(wx(l, x), wy(l, y), kButtonLeft, shift, false, false, false);
    }
    void up(const ListPopup* l, int x, int y) { ed.mouseUp(wx(l, x), wy(l, y), kButtonLeft); }
    void hoverRow(const ListPopup* l, int row) { move(l, 20, rowY(l, row)); }
    void click(const ListPopup* l, int row, int x = 20) {
        down(l, x, rowY(l, row));
        up(l, x, rowY(l, row));
    }
    bool key(Key k, bool shift = false) { return ed.keyEvent(menutest::keyPress(k, shift)); }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) ed.tick();
    }
    void paint() { ed.paint(canvas); }

    fakes::Host host;
    Editor ed{host, 400, 300};
    Canvas canvas;
    MenuLook look;
    std::vector<int> picks;
    size_t overlaysAtPick = 99;
    int closed = 0;
};

}  // namespace

TEST_F(Menus, ButtonNearTheBottomOpensAboveAndAClickPicksOnce) {
    ListPopup* l = nullptr;
    auto* button = ed.root()->add(std::make_unique<MenuButton>());
    button->bounds = Rect{10, 260, 80, 20};
    button->open = [&](Rect anchor) { l = open({item("One", 1), item("Two", 2), item("Off", 3, false)}, anchor); };
    ed.mouseDown(30 * kScale, 270 * kScale, kButtonLeft, false, false, false, false);
    ed.mouseUp(30 * kScale, 270 * kScale, kButtonLeft);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->bounds.y + l->bounds.h, 260);  // ends at the button's top
    EXPECT_EQ(ed.overlays().size(), 1u);

    click(l, 2);  // disabled: nothing, the menu stays
    EXPECT_TRUE(picks.empty());
    EXPECT_EQ(ed.overlays().size(), 1u);
    down(l, 20, rowY(l, 1));
    EXPECT_EQ(l->armedRow, 1);
    EXPECT_TRUE(picks.empty());  // picks happen on the release
    up(l, 20, rowY(l, 1));
    EXPECT_EQ(picks, std::vector<int>{2});
    EXPECT_EQ(overlaysAtPick, 0u);
    EXPECT_TRUE(ed.overlays().empty());
    EXPECT_EQ(closed, 0);  // kept until the next paint
    paint();
    EXPECT_EQ(closed, 1);
    // A second click where the menu was reaches the body, not a stale menu.
    ed.mouseDown(30 * kScale, 230 * kScale, kButtonLeft, false, false, false, false);
    ed.mouseUp(30 * kScale, 230 * kScale, kButtonLeft);
    EXPECT_EQ(picks.size(), 1u);
}

TEST_F(Menus, ReleaseOrPressOutsideClosesTheWholeChain) {
    ListPopup* l = open({parentOf("More", {item("Deep", 7)}), item("Plain", 1)});
    hoverRow(l, 0);
    ASSERT_EQ(ed.overlays().size(), 2u);
    ListPopup* sub = l->submenu;
    ASSERT_NE(sub, nullptr);
    down(sub, 20, rowY(sub, 0));  // pressed inside, dragged out and released there
    move(sub, 20, -40);
    EXPECT_EQ(sub->hover, -1);
    up(sub, 20, -40);
    EXPECT_TRUE(ed.overlays().empty());
    EXPECT_TRUE(picks.empty());

    l = open({parentOf("More", {item("Deep", 7)}), item("Plain", 1)});
    hoverRow(l, 0);
    ASSERT_EQ(ed.overlays().size(), 2u);
    ed.mouseDown(390 * kScale, 290 * kScale, kButtonLeft, false, false, false, false);
    EXPECT_TRUE(ed.overlays().empty());
    EXPECT_TRUE(picks.empty());
}

TEST_F(Menus, SubmenusOpenAtOnceAndSwitchOnTheFourthTick) {
    ListPopup* l = open({parentOf("A", {item("a1", 11)}), parentOf("B", {item("b1", 21), item("b2", 22)}),
                         item("C", 3)});
    hoverRow(l, 0);
    ASSERT_EQ(ed.overlays().size(), 2u);
    EXPECT_EQ(l->submenuRow, 0);
    EXPECT_TRUE(ed.overlays()[1].chained);
    ListPopup* subA = l->submenu;
    EXPECT_EQ(subA->items[0].label, "a1");
    EXPECT_EQ(subA->bounds.x, l->bounds.x + l->bounds.w);  // beside its parent
    EXPECT_EQ(subA->bounds.y, l->bounds.y + l->yOf(0) - 2);

    hoverRow(l, 1);
    ticks(3);
    EXPECT_EQ(l->submenuRow, 0);
    ticks(1);
    EXPECT_EQ(l->submenuRow, 1);
    ASSERT_EQ(ed.overlays().size(), 2u);
    EXPECT_EQ(l->submenu->items.size(), 2u);

    hoverRow(l, 2);  // a plain row closes the submenu on the fourth tick
    ticks(3);
    EXPECT_EQ(ed.overlays().size(), 2u);
    ticks(1);
    EXPECT_EQ(ed.overlays().size(), 1u);
    EXPECT_EQ(l->submenuRow, -1);
    EXPECT_EQ(l->submenu, nullptr);

    // A pick in a submenu reaches the top list's callback after the chain has closed.
    hoverRow(l, 1);
    ListPopup* subB = l->submenu;
    ASSERT_NE(subB, nullptr);
    hoverRow(subB, 1);
    EXPECT_EQ(l->submenuRow, 1);  // leaving the parent keeps its submenu
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
        EXPECT_TRUE(key(s.key));
        EXPECT_EQ(l->hover, s.hover);
    }
    hoverRow(l, 1);
    move(l, 20, -30);  // the pointer passes through and leaves: no hover
    EXPECT_EQ(l->hover, -1);
    key(Key::Up);
    EXPECT_EQ(l->hover, 3);  // from nothing, up takes the last selectable row
    EXPECT_FALSE(key(Key::Home));
    EXPECT_TRUE(key(Key::Enter));
    EXPECT_EQ(picks, std::vector<int>{3});
    EXPECT_TRUE(ed.overlays().empty());

    ListPopup* dead = open({separator(), item("Off", 1, false)});
    for (Key k : {Key::Down, Key::Up, Key::Enter}) {
        EXPECT_TRUE(key(k));
        EXPECT_EQ(dead->hover, -1);
    }
    EXPECT_EQ(ed.overlays().size(), 1u);
    EXPECT_TRUE(key(Key::Escape));
    EXPECT_TRUE(ed.overlays().empty());
    EXPECT_EQ(picks.size(), 1u);
}

TEST_F(Menus, KeysOpenAndCloseSubmenus) {
    ListPopup* l = open({parentOf("A", {item("a1", 11), item("a2", 12)}), item("B", 2)});
    std::vector<int> sides;
    l->onSide = [&](int s) { sides.push_back(s); };
    key(Key::Down);
    key(Key::Right);
    ASSERT_EQ(ed.overlays().size(), 2u);
    ListPopup* sub = l->submenu;
    EXPECT_EQ(sub->hover, 0);  // opened by keyboard: its first row is selected
    key(Key::Right);           // no submenu there: the menu bar hears of it
    EXPECT_EQ(sides, std::vector<int>{1});
    key(Key::Escape);  // closes only the submenu
    EXPECT_EQ(ed.overlays().size(), 1u);
    EXPECT_EQ(l->submenuRow, -1);
    key(Key::Left);
    EXPECT_EQ(sides, (std::vector<int>{1, -1}));
    EXPECT_EQ(ed.overlays().size(), 1u);
}

TEST_F(Menus, HeldScrollArrowRepeatsEveryThirdTick) {
    std::vector<MenuItem> items;
    for (int i = 0; i < 20; ++i) items.push_back(item("Row " + std::to_string(i), i));
    ListPopup* l = open(items, Rect{10, 100, 80, 20});  // 164 high: 8 rows
    ASSERT_TRUE(l->scrollbarShown());
    ASSERT_EQ(l->visibleRows(), 8);
    const int x = l->bounds.w - 4, y = l->bounds.h - 2;  // on the lower arrow
    down(l, x, y);
    EXPECT_EQ(l->top, 1);
    ticks(2);
    EXPECT_EQ(l->top, 1);
    ticks(1);
    EXPECT_EQ(l->top, 2);
    ticks(3);
    EXPECT_EQ(l->top, 3);
    ticks(60);
    EXPECT_EQ(l->top, 12);  // never past count - visible rows
    up(l, x, y);
    ticks(3);
    EXPECT_EQ(l->autoScroll, 0);
    EXPECT_EQ(ed.overlays().size(), 1u);

    // The wheel moves one row per event whatever the delta.
    ed.mouseWheel(wx(l, 20), wy(l, 20), 5.0f, false, false);
    EXPECT_EQ(l->top, 11);
    ed.mouseWheel(wx(l, 20), wy(l, 20), -0.1f, false, false);
    ed.mouseWheel(wx(l, 20), wy(l, 20), -0.1f, false, false);
    EXPECT_EQ(l->top, 12);

    // Dragging the thumb to the strip's top scrolls to the first row.
    down(l, x, l->thumbTop() + 2);
    move(l, x, 0);
    EXPECT_EQ(l->top, 0);
    up(l, x, 0);

    ListPopup* fits = open({item("a", 1)});
    ed.mouseWheel(wx(fits, 20), wy(fits, 10), -1.0f, false, false);
    EXPECT_EQ(fits->top, 0);
}

TEST_F(Menus, SlidersSnapDragAndReportFinalValues) {
    look.sliderLabelWidth = 16;  // in a 120 wide popup: the track runs from 17 to 117
    look.sliderValueWidth = 2;
    auto slider = std::make_shared<MenuSlider>();
    slider->step = 0.25;
    std::vector<std::pair<double, bool>> changes;
    slider->onChange = [&](double v, bool final) { changes.push_back({v, final}); };
    MenuItem row = item("Level", 5);
    row.slider = slider;
    ListPopup* l = open({row, item("Other", 6)});
    int x0 = 0, x1 = 0;
    ASSERT_TRUE(l->sliderTrack(0, x0, x1));
    ASSERT_EQ(x1 - x0, 100);
    const int y = rowY(l, 0);

    // With shift one unit is a thousandth of the range: the drag lands on 0.374, then 0.375.
    down(l, x0, y, true);
    EXPECT_EQ(slider->value, 0.0);
    EXPECT_EQ(l->armedRow, -1);
    move(l, x0 + 374, y, true);
    EXPECT_EQ(slider->value, 0.25);
    move(l, x0 + 375, y, true);
    EXPECT_EQ(slider->value, 0.5);
    move(l, x0 + 376, y, true);  // unchanged and not final: no report
    up(l, x0 + 376, y);
    EXPECT_EQ(changes, (std::vector<std::pair<double, bool>>{{0.25, false}, {0.5, false}, {0.5, true}}));

    // A press on the track jumps there; shift mid-drag slows the drag without a jump.
    slider->step = 0;
    changes.clear();
    down(l, x0 + 10, y);
    EXPECT_DOUBLE_EQ(slider->value, 0.1);
    move(l, x0 + 15, y);
    EXPECT_DOUBLE_EQ(slider->value, 0.15);
    move(l, x0 + 15, y, true);
    EXPECT_DOUBLE_EQ(slider->value, 0.15);
    move(l, x0 + 25, y, true);
    EXPECT_DOUBLE_EQ(slider->value, 0.16);
    move(l, x0 + 25, y);
    EXPECT_DOUBLE_EQ(slider->value, 0.16);
    up(l, x0 + 25, y);
    ASSERT_FALSE(changes.empty());
    EXPECT_TRUE(changes.back().second);
    EXPECT_EQ(ed.overlays().size(), 1u);  // a slider row never picks
    EXPECT_TRUE(picks.empty());

    // Keys step by a hundredth of the range (ten times that with shift), each a final report.
    hoverRow(l, 0);
    slider->value = 0.5;
    key(Key::Right);
    EXPECT_DOUBLE_EQ(slider->value, 0.51);
    key(Key::Left, true);
    EXPECT_DOUBLE_EQ(slider->value, 0.41);

    // A menu closed mid-drag ends the drag with a final report.
    down(l, x0 + 5, y);
    changes.clear();
    ed.closeAllOverlays();
    paint();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_TRUE(changes[0].second);
    EXPECT_EQ(closed, 1);

    // Destroyed mid-drag with no editor to cancel the drag first, it still ends with a final report.
    auto loose = std::make_unique<ListPopup>(look, std::vector<MenuItem>{row}, Rect{0, 0, 120, 24});
    loose->onMouseDown(menutest::mouseAt(x0 + 5, 12));
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
    move(l, x, rowY(l, 0));
    EXPECT_EQ(l->actionHover, 0);
    down(l, x, rowY(l, 0));
    EXPECT_EQ(l->armedRow, -1);
    up(l, x, rowY(l, 0));
    EXPECT_EQ(actions, std::vector<int>{9});
    EXPECT_EQ(ed.overlays().size(), 1u);
    click(l, 0);
    EXPECT_EQ(picks, std::vector<int>{9});
}

// A handler that ends the editor while a pick closes the overlays above the menu: the pick still
// reports and nothing of the editor or the menu is touched afterwards (run under AddressSanitizer).
TEST(MenuTeardown, PickSurvivesAClosingHandlerThatEndsTheEditor) {
    struct EndsOnBlur : Widget {
        std::function<void()> end;
        bool wantsFocus() const override { return true; }
        void onBlur() override {
            auto f = end;  // this widget goes with the editor
            f();
        }
    };
    fakes::Host host;
    auto ed = std::make_unique<Editor>(host, 400, 300);
    MenuLook look;
    std::vector<int> picks;
    auto list = std::make_unique<ListPopup>(look, std::vector<MenuItem>{item("One", 1)}, Rect{0, 0, 120, 0});
    list->onPick = [&](int id) { picks.push_back(id); };
    ListPopup* l = openMenu(*ed, std::move(list), Rect{10, 10, 80, 20});
    auto above = std::make_unique<EndsOnBlur>();
    above->bounds = Rect{200, 10, 50, 50};
    above->end = [&] { ed.reset(); };
    EndsOnBlur* raw = above.get();
    ed->openPopup(std::move(above), PopupOptions{});
    ed->setFocus(raw);
    l->pick(0);
    EXPECT_EQ(ed, nullptr);
    EXPECT_EQ(picks, std::vector<int>{1});
}
