// Single-line text entry: UTF-8 editing by keys, refused characters, mouse positions and drawing.
#include <gtest/gtest.h>

#include <string>

#include "gui/text_entry.h"
#include "menu_test_helpers.h"

using namespace lumo::gui;

namespace {

KeyEvent key(Key k, bool shift = false) { return menutest::keyPress(k, shift); }

KeyEvent typed(uint32_t c, bool command = false) {
    KeyEvent e;
    e.character = c;
    e.command = command;
    return e;
}

// Every character advances 4 pixels; no pictures.
BitmapFont fourWide() {
    BitmapFont f;
    f.space = 4;
    for (int c = 1; c < 256; ++c)
        if (c != 32) f.glyphs[char32_t(c)].adv = 4;
    f.cap_height = 7;
    f.descent = 2;
    return f;
}

const std::string kEuro = "\xE2\x82\xAC";      // 3 bytes
const std::string kClef = "\xF0\x9D\x84\x9E";  // 4 bytes

}  // namespace

TEST(TextEntry, BeginSelectsEverything) {
    TextEntry t;
    EXPECT_EQ(t.key(typed('x')), TextEntry::kNotHandled);  // idle until begin
    t.begin("");
    EXPECT_EQ(t.caret, 0u);
    EXPECT_EQ(t.anchor, 0u);
    t.begin(kClef);
    EXPECT_EQ(t.anchor, 0u);
    EXPECT_EQ(t.caret, 4u);
    EXPECT_EQ(t.key(typed('z')), TextEntry::kHandled);
    EXPECT_EQ(t.text, "z");
}

TEST(TextEntry, KeysWalkWholeCharacters) {
    TextEntry t;
    t.begin("a" + kEuro + "b" + kClef);
    struct Step {
        KeyEvent e;
        int result;
        std::string text;
        size_t caret, anchor;
    };
    const std::string all = "a" + kEuro + "b" + kClef;
    const Step steps[] = {
        {key(Key::Left), 1, all, 0, 0},  // collapses to the lower end
        {key(Key::Right), 1, all, 1, 1},
        {key(Key::Right), 1, all, 4, 4},  // over the three bytes of the euro sign
        {key(Key::Left, true), 1, all, 1, 4},
        {key(Key::Right), 1, all, 4, 4},  // collapses to the upper end
        {key(Key::End), 1, all, 9, 9},
        {key(Key::Backspace), 1, "a" + kEuro + "b", 5, 5},
        {key(Key::Left), 1, "a" + kEuro + "b", 4, 4},
        {key(Key::Backspace), 1, "ab", 1, 1},
        {key(Key::Delete), 1, "a", 1, 1},
        {key(Key::Delete), 1, "a", 1, 1},
        {key(Key::Home, true), 1, "a", 0, 1},
        {key(Key::Up), 1, "a", 0, 1},
        {key(Key::Down), 1, "a", 0, 1},
        {key(Key::Delete), 1, "", 0, 0},
        {key(Key::Backspace), 1, "", 0, 0},
        {key(Key::Left), 1, "", 0, 0},
        {key(Key::Enter), 2, "", 0, 0},
        {key(Key::Tab), 2, "", 0, 0},
        {key(Key::Escape), 3, "", 0, 0},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(t.key(steps[i].e), steps[i].result);
        EXPECT_EQ(t.text, steps[i].text);
        EXPECT_EQ(t.caret, steps[i].caret);
        EXPECT_EQ(t.anchor, steps[i].anchor);
    }
    EXPECT_TRUE(t.active);  // the owner ends the edit
}

TEST(TextEntry, TextReplacedByTheOwnerKeepsPositionsInsideIt) {
    // The owner may set the text while editing; stale positions past its end or inside a character
    // are pulled back before a key works on them.
    struct Case {
        const char* what;
        KeyEvent e;
        std::string text;
        size_t caret, anchor;
    };
    const Case cases[] = {
        {"backspace", key(Key::Backspace), "a", 1, 1},
        {"delete", key(Key::Delete), "a", 1, 1},
        {"left", key(Key::Left), "a" + kEuro, 1, 1},
        {"right", key(Key::Right), "a" + kEuro, 4, 4},
        {"typed", typed('x'), "ax", 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TextEntry t;
        t.begin("abcdefgh");
        t.key(key(Key::End));
        t.anchor = 2;
        t.text = "a" + kEuro;  // caret 8 lies past the end, anchor 2 inside the euro sign: it is selected
        t.key(c.e);
        EXPECT_EQ(t.text, c.text);
        EXPECT_EQ(t.caret, c.caret);
        EXPECT_EQ(t.anchor, c.anchor);
    }
    TextEntry t;
    t.begin("a" + kEuro);
    t.caret = t.anchor = 2;  // inside the euro sign
    t.key(typed('x'));
    EXPECT_EQ(t.text, "ax" + kEuro);

    // A stray continuation byte is a character of its own: text typed before it stays in order.
    TextEntry stray;
    stray.begin("\x9a");
    stray.key(key(Key::Home));
    stray.key(typed(0xFC));
    stray.key(typed('a'));
    EXPECT_EQ(stray.text, "\xc3\xbc" "a\x9a");
}

TEST(TextEntry, TypedCharacters) {
    struct Case {
        uint32_t c;
        bool command;
        int result;
        std::string text;  // after typing into "ab" with "b" selected
    };
    const Case cases[] = {
        {'x', false, 1, "ax"},
        {0xE9, false, 1, "a\xC3\xA9"},
        {0x20AC, false, 1, "a" + kEuro},
        {0x1D11E, false, 1, "a" + kClef},
        {' ', false, 1, "a "},
        {0xA0, false, 1, "a\xC2\xA0"},
        {0xE000, false, 1, "a\xEE\x80\x80"},
        {0x10FFFF, false, 1, "a\xF4\x8F\xBF\xBF"},
        {0, false, 0, "ab"},
        {31, false, 0, "ab"},
        {127, false, 0, "ab"},
        {0x80, false, 0, "ab"},
        {0x85, false, 0, "ab"},
        {0x9F, false, 0, "ab"},
        {0xD800, false, 0, "ab"},
        {0xDFFF, false, 0, "ab"},
        {0x110000, false, 0, "ab"},
        {'c', true, 0, "ab"},
        {'a', true, 1, "ab"},
        {'A', true, 1, "ab"},
        {1, true, 1, "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.c);
        TextEntry t;
        t.begin("ab");
        t.key(key(Key::End));
        t.key(key(Key::Left, true));
        EXPECT_EQ(t.key(typed(c.c, c.command)), c.result);
        EXPECT_EQ(t.text, c.text);
        if (c.command && c.result == 1) {
            EXPECT_EQ(t.anchor, 0u);  // select all
            EXPECT_EQ(t.caret, 2u);
        } else if (c.result == 0) {
            EXPECT_EQ(t.anchor, 2u);  // the selection stays
            EXPECT_EQ(t.caret, 1u);
        }
    }
    // Keys without an editing meaning go the way of characters.
    TextEntry t;
    t.begin("");
    KeyEvent space = key(Key::Space);
    space.character = ' ';
    EXPECT_EQ(t.key(space), 1);
    EXPECT_EQ(t.key(key(Key::PageUp)), 0);
    EXPECT_EQ(t.key(key(Key::F5)), 0);
    EXPECT_EQ(t.text, " ");
}

TEST(TextEntry, MousePositionsFollowTheLastDraw) {
    BitmapFont f = fourWide();
    TextEntry t;
    t.begin("ab" + kEuro);
    EXPECT_EQ(t.indexAt(0), t.text.size());  // never drawn

    Canvas c;
    c.resize(100, 20);
    Paint p{c, Rect{10, 0, 80, 20}, 2.0, false, {}, {}};
    t.draw(p, f, 14, 15, nullptr, 0xFF0000FF, 0xFFFFFFFF, false, 2, 12);
    EXPECT_EQ(t.originX, 4);
    // Pen positions (device): 4, 8, 12, then 16 after the euro sign, one character of three bytes.
    struct Case {
        int x;  // logical, x 2 in device
        size_t index;
    };
    const Case cases[] = {{0, 0}, {2, 0}, {3, 0} /* 6: tie of 4 and 8 */, {4, 1}, {5, 1}, {6, 2},
                          {7, 2} /* 14: tie of 12 and 16 */, {8, 5},  {50, 5}};
    for (const Case& k : cases) EXPECT_EQ(t.indexAt(k.x), k.index) << k.x;

    t.press(2, false, false);
    EXPECT_EQ(t.caret, 0u);
    EXPECT_EQ(t.anchor, 0u);
    EXPECT_TRUE(t.dragging);
    t.drag(6);
    EXPECT_EQ(t.caret, 2u);
    EXPECT_EQ(t.anchor, 0u);
    t.press(12, true, false);  // extends from the anchor
    EXPECT_EQ(t.caret, 5u);
    EXPECT_EQ(t.anchor, 0u);
    t.press(0, false, true);
    EXPECT_FALSE(t.dragging);
    EXPECT_EQ(t.caret, 5u);
    t.drag(0);
    EXPECT_EQ(t.caret, 5u);  // no drag after select-all
}

TEST(TextEntry, DrawsSelectionAndCaretAtLeastOnePixelWide) {
    BitmapFont f = fourWide();
    Canvas c;
    c.resize(40, 20);
    Paint p{c, Rect{0, 0, 40, 20}, 1.0, false, {}, {}};
    TextEntry t;
    t.begin("abc");
    t.key(key(Key::Home));
    t.key(key(Key::Right));
    t.key(key(Key::Right, true));
    c.clear(0);
    t.draw(p, f, 10, 12, nullptr, 0xFF0000FF, 0xFF00FF00, true, 3, 9);
    auto px = [&](int x, int y) { return c.pixels[size_t(y * c.width + x)]; };
    for (int x = 0; x < 40; ++x) EXPECT_EQ(px(x, 5), (x >= 14 && x < 18) ? pixelOf(0xFF0000FF) : 0u) << x;

    // Caret with no selection at scale 1: one pixel wide after "a".
    t.key(key(Key::Left));
    c.clear(0);
    t.draw(p, f, 10, 12, nullptr, 0xFF0000FF, 0xFF00FF00, true, 3, 9);
    for (int x = 0; x < 40; ++x) EXPECT_EQ(px(x, 5), x == 14 ? pixelOf(0xFF00FF00) : 0u) << x;

    // drawIn, right-aligned with pad 2 in a 30-wide rectangle at x 5: pen at 5 + 30 - (2 + 12) = 21.
    c.clear(0);
    t.drawIn(p, f, Rect{5, 0, 30, 20}, 1, 12, nullptr, 0xFF0000FF, 0xFF00FF00, true, 2);
    EXPECT_EQ(t.originX, 21);
    // caret top 12 - (1 + 7) = 4, height 2 + max(2, 1) + 7 = 11
    EXPECT_EQ(px(25, 3), 0u);
    EXPECT_EQ(px(25, 4), pixelOf(0xFF00FF00));
    EXPECT_EQ(px(25, 14), pixelOf(0xFF00FF00));
    EXPECT_EQ(px(25, 15), 0u);
}

TEST(PlainText, MapsPunctuationAndReplacesTheRest) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain ASCII ~", "plain ASCII ~"},
        {"a\xE2\x80\x93" "b\xE2\x80\x94" "c\xE2\x88\x92", "a-b-c-"},
        {"\xE2\x80\x9Cq\xE2\x80\x9D", "\"q\""},
        {"\xE2\x80\x98\xE2\x80\x99\xE2\x80\xB2\xE2\x80\xB3", "'''\""},
        {"wait\xE2\x80\xA6", "wait..."},
        {"a\xC2\xA0" "b", "a b"},
        {"caf\xC3\xA9", "caf?"},
        {kClef, "?"},
        {"\x80x", "?x"},     // stray continuation byte
        {"ab\xC3", "ab?"},   // cut two-byte sequence
        {"\xE2\x80", "?"},   // cut three-byte sequence
        {"\xFF\xFF", "?"},   // a four-byte lead takes what follows
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(plainText(in), out) << in;
}
