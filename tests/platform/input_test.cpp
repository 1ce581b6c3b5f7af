#include <gtest/gtest.h>

#include "platform/linux/sdl_input.h"
#include "platform/linux/x11_link.h"

namespace {

using namespace lumo::platform;
using lumo::gui::Key;

TEST(Input, WindowPointsAreRoundedDown) {
    struct Case {
        double position, ratio;
        int point;
    };
    for (const Case& c : std::vector<Case>{{10, 1, 10}, {10.5, 1, 10}, {10.5, 2, 21}, {7, 1.5, 10}, {-0.5, 2, -1},
                                           {0.3, 3, 0}, {1.0 / 3.0, 3, 1}}) {
        EXPECT_EQ(windowPoint(c.position, c.ratio), c.point) << c.position << " x " << c.ratio;
    }
}

TEST(Input, ButtonsClicksAndModifiers) {
    EXPECT_EQ(buttonOf(SDL_BUTTON_LEFT, false), 0);
    EXPECT_EQ(buttonOf(SDL_BUTTON_LEFT, true), 1);
    EXPECT_EQ(buttonOf(SDL_BUTTON_RIGHT, false), 1);
    EXPECT_EQ(buttonOf(SDL_BUTTON_MIDDLE, false), -1);
    const bool doubles[] = {false, false, true, false, true, false, true};
    for (int clicks = 0; clicks < 7; ++clicks) EXPECT_EQ(isDoubleClick(clicks), doubles[clicks]) << clicks;
    Modifiers m = modifiersOf(KMOD_RSHIFT | KMOD_LCTRL | KMOD_RALT);
    EXPECT_TRUE(m.shift && m.command && m.option && m.control);
    m = modifiersOf(KMOD_NONE | KMOD_NUM | KMOD_CAPS);
    EXPECT_FALSE(m.shift || m.command || m.option || m.control);
}

TEST(Input, KeysAndText) {
    struct Case {
        SDL_Keycode code;
        Key key;
    };
    for (const Case& c : std::vector<Case>{{SDLK_RETURN, Key::Enter},
                                           {SDLK_KP_ENTER, Key::Enter},
                                           {SDLK_ESCAPE, Key::Escape},
                                           {SDLK_BACKSPACE, Key::Backspace},
                                           {SDLK_DELETE, Key::Delete},
                                           {SDLK_PAGEDOWN, Key::PageDown},
                                           {SDLK_SPACE, Key::Space},
                                           {SDLK_F1, Key::F1},
                                           {SDLK_F12, Key::F12},
                                           {SDLK_a, Key::None},
                                           {SDLK_F13, Key::None}}) {
        EXPECT_EQ(keyOf(c.code), c.key) << c.code;
    }
    EXPECT_EQ(codePoints("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5"), (std::vector<uint32_t>{'a', 0xE9, 0x20AC, 0x1F3B5}));
    // A stray continuation, a cut sequence, an overlong form and a surrogate each give U+FFFD.
    EXPECT_EQ(codePoints("\x80x"), (std::vector<uint32_t>{0xFFFD, 'x'}));
    EXPECT_EQ(codePoints("\xE2\x82"), (std::vector<uint32_t>{0xFFFD, 0xFFFD}));
    EXPECT_EQ(codePoints("\xC0\xAF"), (std::vector<uint32_t>{0xFFFD, 0xFFFD}));
    EXPECT_EQ(codePoints("\xED\xA0\x80"), (std::vector<uint32_t>{0xFFFD, 0xFFFD, 0xFFFD}));
}

TEST(Input, CursorShapes) {
    EXPECT_EQ(systemCursorFor(0), SDL_SYSTEM_CURSOR_ARROW);
    EXPECT_EQ(systemCursorFor(3), SDL_SYSTEM_CURSOR_SIZENS);
    EXPECT_EQ(systemCursorFor(4), SDL_SYSTEM_CURSOR_SIZEWE);
    EXPECT_EQ(systemCursorFor(8), SDL_SYSTEM_CURSOR_SIZENWSE);
    EXPECT_EQ(systemCursorFor(12), SDL_SYSTEM_CURSOR_SIZENESW);
    EXPECT_EQ(systemCursorFor(99), SDL_SYSTEM_CURSOR_ARROW);
}

TEST(Input, DropAnswerFollowsTheSourcesOperationsAndTheTargetsPreference) {
    struct Case {
        int32_t ops;
        bool accepted, preferMove;
        int32_t answer;
    };
    const int32_t all = kOpCopy | kOpLink | kOpGeneric | kOpMove;
    for (const Case& c : std::vector<Case>{{all, false, true, 0},
                                           {all, true, true, kOpMove},
                                           {all, true, false, kOpCopy},
                                           {kOpGeneric | kOpLink, true, true, kOpGeneric},
                                           {kOpGeneric | kOpLink, true, false, kOpGeneric},
                                           {kOpLink, true, true, kOpLink},
                                           {kOpMove, true, false, 0},
                                           {kOpPrivate, true, true, 0}}) {
        EXPECT_EQ(answerOperation(c.ops, c.accepted, c.preferMove), c.answer)
            << c.ops << " " << c.accepted << " " << c.preferMove;
    }
}

TEST(Input, UriListsCarryLocalPathsOnly) {
    struct Case {
        std::string text;
        std::vector<std::string> paths;
    };
    for (const Case& c : std::vector<Case>{
             {"file:///tmp/a.vst3\r\nfile:///tmp/b%20b.clap\r\n", {"/tmp/a.vst3", "/tmp/b b.clap"}},
             {"# a comment\nfile://localhost/x%2Fy%25\n\nhttp://example.org/z\n", {"/x/y%"}},
             {"file://elsewhere.invalid/etc/passwd\r\nfile:///ok", {"/ok"}},
             {"file:///bad%2\r\nfile:///nul%00x\r\nfile:///good\r\n", {"/good"}},
             {"file:/no-authority\r\nfile://", {}},
             {"file:///%41b%42%43\nfile:///c%\n", {"/AbBC"}},
         }) {
        EXPECT_EQ(pathsFromUriList(c.text), c.paths) << c.text;
    }
    // What goes out comes back as it was, whatever the characters.
    const std::vector<std::string> paths = {"/tmp/b b.clap", "/x/%25 #?&", "/caf\xC3\xA9/\r\n"};
    std::string list = uriListOf(paths);
    EXPECT_EQ(list.find(' '), std::string::npos);
    EXPECT_EQ(pathsFromUriList(list), paths);
}

}  // namespace
