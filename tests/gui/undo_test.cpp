#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "fakes.h"

using namespace lumo::gui;

namespace {

class UndoTest : public ::testing::Test {
protected:
    // ids 10, 11, 12 plain; 13 left out of snapshots; 14 never recorded.
    fakes::Host host{{{10, "a", 0}, {11, "b", 0}, {12, "c", 0}, {13, "skip", 0x8}, {14, "volatile", 0x20}}};
    UndoHistory history{host};

    void gesture(unsigned id, double v) {
        history.begin();
        host.values[id] = v;
        history.commit();
    }
};

}  // namespace

TEST_F(UndoTest, GesturesUndoAndRedo) {
    gesture(10, 1.0);
    gesture(11, 2.0);
    ASSERT_EQ(history.steps().size(), 2u);
    history.undo();
    EXPECT_EQ(host.values[11], 0.0);
    EXPECT_EQ(host.values[10], 1.0);
    history.redo();
    EXPECT_EQ(host.values[11], 2.0);
    history.redo();  // nothing to redo
    EXPECT_EQ(history.position(), 2u);

    // A gesture that changes nothing keeps the redo step.
    history.undo();
    history.begin();
    history.commit();
    EXPECT_EQ(history.steps().size(), 2u);
    // A gesture that changes something drops it.
    gesture(12, 5.0);
    EXPECT_EQ(history.steps().size(), 2u);
    EXPECT_EQ(history.position(), 2u);
    EXPECT_EQ(history.steps()[1][0].index, 2u);
}

TEST_F(UndoTest, NestedGesturesMakeOneStepAndStrayCommitsDoNothing) {
    history.commit();
    EXPECT_EQ(history.depth(), 0u);
    history.begin();
    host.values[10] = 1.0;
    history.begin();
    host.values[11] = 1.0;
    history.commit();
    EXPECT_TRUE(history.steps().empty());
    history.commit();
    ASSERT_EQ(history.steps().size(), 1u);
    EXPECT_EQ(history.steps()[0].size(), 2u);
}

TEST_F(UndoTest, HoldsTwoHundredSteps) {
    for (int i = 1; i <= 201; ++i) gesture(10, double(i));
    EXPECT_EQ(history.steps().size(), 200u);
    EXPECT_EQ(history.position(), 200u);
    for (int i = 0; i < 250; ++i) history.undo();
    EXPECT_EQ(host.values[10], 1.0);  // the first gesture (0 -> 1) is gone
}

TEST_F(UndoTest, FlagsKeepParametersOut) {
    history.begin();
    host.values[13] = 3.0;
    host.values[14] = 4.0;
    host.values[10] = 1.0;
    history.commit();
    ASSERT_EQ(history.steps().size(), 1u);
    ASSERT_EQ(history.steps()[0].size(), 1u);
    EXPECT_EQ(history.steps()[0][0].index, 0u);
    EXPECT_EQ(history.snapshot()[3], 0.0);  // flag 0x8 reads as 0

    host.edits.clear();
    history.apply({7.0, 0.0, 0.0, 9.0, 9.0});
    EXPECT_EQ(host.values[13], 3.0);  // never written
    EXPECT_EQ(host.values[14], 9.0);  // 0x20 is still part of the state
    EXPECT_EQ(host.values[10], 7.0);
    EXPECT_EQ(host.edits.size(), 6u);  // two triples: 11 and 12 were already 0
}

TEST_F(UndoTest, GenerationChangeClearsHistory) {
    gesture(10, 1.0);
    host.session().generation++;
    history.undo();
    EXPECT_EQ(host.values[10], 1.0);
    EXPECT_TRUE(history.steps().empty());

    // A generation change inside an open gesture takes a new baseline.
    history.begin();
    host.values[10] = 2.0;
    host.session().generation++;
    history.commit();
    EXPECT_TRUE(history.steps().empty());
}

TEST_F(UndoTest, NanCountsAsChangedAndPutWritesOnlyDifferences) {
    host.values[10] = std::nan("");
    history.begin();
    history.commit();
    EXPECT_EQ(history.steps().size(), 1u);  // NaN to NaN

    host.values[10] = 0.0;
    gesture(11, 1.0);
    host.edits.clear();
    host.values[11] = 0.0;  // the user already moved it back
    history.undo();
    EXPECT_TRUE(host.edits.empty());
    host.values[11] = 0.5;
    history.redo();
    history.undo();
    EXPECT_EQ(host.values[11], 0.0);
    ASSERT_GE(host.edits.size(), 3u);
    EXPECT_EQ(host.edits[host.edits.size() - 3], "begin 11");
    EXPECT_EQ(host.edits.back(), "end 11");
}

TEST(UndoWidget, UndoStepCommitsWhenTheGestureThrows) {
    fakes::Host host{{{1, "a", 0}}};
    Editor editor(host, 10, 10);
    Widget* w = editor.root()->add(std::make_unique<Widget>());
    EXPECT_THROW(w->undoStep([&] {
        host.values[1] = 1.0;
        throw std::runtime_error("x");
    }),
                 std::runtime_error);
    EXPECT_EQ(editor.undo().depth(), 0u);
    EXPECT_EQ(editor.undo().steps().size(), 1u);
}

TEST(UndoWidget, GestureThatDestroysTheEditorClosesNothingAfterwards) {
    fakes::Host host{{{1, "a", 0}}};
    auto editor = std::make_unique<Editor>(host, 10, 10);
    Widget* w = editor->root()->add(std::make_unique<Widget>());
    w->undoStep([&] {
        host.values[1] = 1.0;
        editor.reset();  // the widget and the history go with it
    });
    EXPECT_EQ(editor, nullptr);
}
