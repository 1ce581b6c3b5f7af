#include <gtest/gtest.h>

#include "fakes.h"

using namespace lumo::gui;

namespace {

std::unique_ptr<Widget> box(int x, int y, int w, int h, const std::string& name = "") {
    auto b = std::make_unique<Widget>();
    b->bounds = Rect{x, y, w, h};
    b->name = name;
    return b;
}

struct Decliner : Widget {
    bool wantsMouse() const override { return false; }
};

}  // namespace

TEST(WidgetTree, AddAndRemoveKeepOrderAndOwnership) {
    Widget parent;
    Widget* a = parent.add(box(0, 0, 1, 1, "a"));
    Widget* b = parent.add(box(0, 0, 1, 1, "b"));
    Widget* c = parent.add(box(0, 0, 1, 1, "c"));
    EXPECT_EQ(b->parent, &parent);

    Widget stranger;
    EXPECT_EQ(parent.remove(&stranger), nullptr);
    EXPECT_EQ(parent.children.size(), 3u);

    std::unique_ptr<Widget> out = parent.remove(b);
    ASSERT_EQ(out.get(), b);
    EXPECT_EQ(out->parent, nullptr);
    ASSERT_EQ(parent.children.size(), 2u);
    EXPECT_EQ(parent.children[0].get(), a);
    EXPECT_EQ(parent.children[1].get(), c);
}

TEST(WidgetTree, MakeBuildsAChildOnTop) {
    Widget parent;
    parent.add(box(0, 0, 1, 1, "first"));
    Label* label = parent.make<Label>();
    label->text = "made";
    ASSERT_EQ(parent.children.size(), 2u);
    EXPECT_EQ(parent.children.back().get(), label);
    EXPECT_EQ(label->parent, &parent);
}

TEST(WidgetTree, HitTestTable) {
    // root 100x100; lower (0,0,50,50) wants the mouse; decliner on top of it; hidden and disabled
    // boxes on top of everything at (60,0); a clipped container at (0,60).
    Widget root;
    Widget* lower = root.add(box(0, 0, 50, 50, "lower"));
    Widget* inner = lower->add(box(10, 10, 10, 10, "inner"));
    auto dec = std::make_unique<Decliner>();
    dec->bounds = Rect{0, 0, 50, 50};
    root.add(std::move(dec));
    Widget* right = root.add(box(60, 0, 40, 40, "right"));
    Widget* hidden = root.add(box(60, 0, 40, 40, "hidden"));
    hidden->visible = false;
    hidden->add(box(0, 0, 40, 40));
    Widget* disabled = root.add(box(60, 0, 40, 40, "disabled"));
    disabled->enabled = false;

    struct Case {
        int x, y;
        Widget* expected;
    } cases[] = {
        {5, 5, lower},       // falls through the decliner to the sibling below
        {15, 15, inner},     // deepest first
        {50, 10, nullptr},   // right edge is outside
        {10, 50, nullptr},   // bottom edge is outside
        {49, 49, lower},
        {70, 10, right},     // hidden and disabled boxes on top are skipped with their insides
        {-1, 0, nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(root.hitTest(c.x, c.y), c.expected) << c.x << "," << c.y;
    EXPECT_EQ(root.hitTest(5, 5) == &root, false);  // never itself

    struct Clipper : Widget {
        Rect childClip() const override { return Rect{0, 0, 5, 5}; }
    };
    auto clip = std::make_unique<Clipper>();
    clip->bounds = Rect{0, 60, 40, 40};
    Widget* clipChild = clip->add(box(0, 0, 40, 40, "clipped"));
    root.add(std::move(clip));
    EXPECT_EQ(root.hitTest(2, 62), clipChild);
    EXPECT_EQ(root.hitTest(20, 80), root.children.back().get());  // outside its child clip: itself only
}

TEST(WidgetTree, RepaintWithoutEditorOnlyCounts) {
    Widget w;
    w.repaint();
    w.repaintArea();
    w.repaintArea(Rect{1, 1, 2, 2});
    w.requestFrame();
    EXPECT_EQ(w.repaints, 3u);
    EXPECT_FALSE(w.focused());
}

TEST(WidgetTree, ThemeAndBuiltins) {
    const auto& t = theme();
    EXPECT_EQ(t[0], 0xFF221F1Eu);  // #1E1F22 stored 0xAABBGGRR
    EXPECT_EQ(t[5], 0xFFFFC46Cu);  // #6CC4FF
    for (Color c : t) EXPECT_EQ(c >> 24, 0xFFu);

    Label label;
    label.text = "v";
    WidgetInfo info;
    label.describe(info);
    EXPECT_EQ(info.value, "v");
    EXPECT_EQ(info.param, -1);
    EXPECT_FALSE(label.wantsMouse());
    EXPECT_FALSE(Panel().wantsMouse());
    EXPECT_FALSE(RootWidget().wantsMouse());
}

TEST(WidgetDraw, PanelBorderFollowsScale) {
    struct Case {
        double scale;
        int border;
    } cases[] = {{1.0, 1}, {1.4, 1}, {2.0, 2}, {2.6, 3}};
    for (const Case& c : cases) {
        Canvas canvas;
        canvas.resize(20, 20);
        Panel panel;
        panel.fill = 0xFF0000FFu;
        panel.border = 0xFF00FF00u;
        panel.draw(Paint{canvas, Rect{0, 0, 20, 20}, c.scale, false, {}, {}});
        int measured = 0;
        while (measured < 10 && canvas.pixels[size_t(10 * 20 + measured)] == pixelOf(panel.border)) ++measured;
        EXPECT_EQ(measured, c.border) << c.scale;
        EXPECT_EQ(canvas.pixels[size_t(10 * 20 + 10)], pixelOf(panel.fill));
    }
}

TEST(WidgetDraw, LabelAlignment) {
    auto drawnColumns = [](const Label& l, int w) {
        Canvas canvas;
        canvas.resize(w, 20);
        const_cast<Label&>(l).draw(Paint{canvas, Rect{0, 0, w, 20}, 1.0, false, {}, {}});
        int first = -1, last = -1;
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < 20; ++y)
                if (canvas.pixels[size_t(y * w + x)] != 0) {
                    if (first < 0) first = x;
                    last = x;
                }
        return std::make_pair(first, last);
    };
    Label left;
    left.text = "MM";
    Label right = Label();
    right.text = "MM";
    right.align = 1;
    int advance = Font::mono13().advance;
    auto l = drawnColumns(left, 60);
    auto r = drawnColumns(right, 60);
    ASSERT_GE(l.first, 0);
    EXPECT_LT(l.second, 2 * advance);
    EXPECT_GE(r.first, 60 - 2 * advance);
    Label empty;
    empty.align = 1;
    EXPECT_EQ(drawnColumns(empty, 60).first, -1);
}

TEST(WidgetLifetime, DestroyedWidgetIsForgottenByItsEditor) {
    struct Focusable : Widget {
        int* blurs;
        explicit Focusable(int* b) : blurs(b) {}
        bool wantsFocus() const override { return true; }
        void onBlur() override { ++*blurs; }
    };
    fakes::Host host;
    int blurs = 0;
    {
        Editor editor(host, 100, 100);
        Widget* holder = editor.root()->add(box(0, 0, 50, 50));
        Widget* f = holder->add(std::make_unique<Focusable>(&blurs));
        editor.setFocus(f);
        ASSERT_EQ(editor.focus(), f);
        // The whole subtree goes: the editor must not keep pointing at the freed child.
        editor.root()->remove(holder).reset();
        EXPECT_EQ(editor.focus(), nullptr);
        Widget* g = editor.root()->add(std::make_unique<Focusable>(&blurs));
        editor.setFocus(g);  // no onBlur on the freed widget
        EXPECT_EQ(blurs, 0);
    }
    EXPECT_EQ(blurs, 1);  // the editor's teardown blurs the live focus once
}

TEST(WidgetLifetime, DestroyedWidgetLeavesNoHoverCaptureOrDropTarget) {
    struct Target : Widget {
        int* calls;
        explicit Target(int* c) : calls(c) {}
        bool onMouseDown(const MouseEvent&) override { return true; }
        void onMouseDrag(const MouseEvent&) override { ++*calls; }
        void onMouseUp(const MouseEvent&) override { ++*calls; }
        bool onDragOver(const DropEvent&) override { return true; }
        void onDragLeave() override { ++*calls; }
    };
    fakes::Host host;
    int calls = 0;
    Editor editor(host, 100, 100);
    Widget* t = editor.root()->add(std::make_unique<Target>(&calls));
    t->bounds = {0, 0, 50, 50};
    editor.mouseMove(10, 10, false, false, false);
    editor.mouseDown(10, 10, 0, false, false, false, false);
    ASSERT_EQ(editor.hover(), t);
    ASSERT_EQ(editor.capture(), t);
    editor.mouseUp(10, 10, 0);
    calls = 0;
    ASSERT_TRUE(editor.dragOver(10, 10, {"/x"}, false, false, false));
    ASSERT_EQ(editor.dropTarget(), t);
    editor.mouseDown(10, 10, 0, false, false, false, false);
    editor.root()->remove(t).reset();
    EXPECT_EQ(editor.hover(), nullptr);
    EXPECT_EQ(editor.capture(), nullptr);
    EXPECT_EQ(editor.dropTarget(), nullptr);
    // Later input reaches nothing freed (the sanitizer build would see it).
    editor.mouseMove(20, 20, false, false, false);
    editor.mouseUp(20, 20, 0);
    editor.dragLeave();
    EXPECT_EQ(calls, 0);
}

TEST(WidgetLifetime, RemovedWidgetMayOutliveItsEditor) {
    fakes::Host host;
    std::unique_ptr<Widget> kept;
    {
        Editor editor(host, 10, 10);
        Widget* w = editor.root()->add(box(0, 0, 5, 5));
        kept = editor.root()->remove(w);
        EXPECT_EQ(kept->editor, &editor);  // keeps its editor pointer
    }
    kept.reset();  // must not reach the freed editor
    SUCCEED();
}
