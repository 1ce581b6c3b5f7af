// The SDL window under a real X server (xvfb-run -a): what it shows, the input it passes on, its
// clocks, overlays and the close handshake.
#include <cstdio>
#include <thread>
#include <tuple>

#include "gui/draw/cursor_image.h"

#include "window_support.h"

namespace {

using namespace wintest;
using namespace lumo::platform;

// A scene in a window at display scale 1 or 2 (through GDK_SCALE).
class AtScale : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        w = openWindow(*s.ed);
        LUMO_NEED_WINDOW(w);
    }
    int scale = GetParam();
    ScopedEnv env{"GDK_SCALE", std::to_string(scale)};
    Scene s;
    SdlWindow* w = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Window, AtScale, ::testing::Values(1, 2));

TEST_P(AtScale, ShowsWhatTheEditorPaints) {
    EXPECT_EQ(s.ed->scale(), double(scale));
    int pw = 0, ph = 0;
    SDL_GetWindowSizeInPixels(w->sdlWindow(), &pw, &ph);
    EXPECT_EQ(pw, 160 * scale);
    EXPECT_EQ(ph, 100 * scale);
    expectShowsPaint(*s.ed, *w, "window-" + std::to_string(scale) + "x.png");
    // A partial repaint reaches the screen too (the comparison's own paint made the next one full).
    for (Color fill : {0xFF10A040u, 0xFF8030A0u}) {
        s.rec->fill = fill;
        s.rec->repaintArea();
        s.ed->paintSoon();
        w->runFor(0.1);
    }
    EXPECT_TRUE(s.ed->lastPaintPartial());
    expectShowsPaint(*s.ed, *w, "window-" + std::to_string(scale) + "x-partial.png");
}

TEST_P(AtScale, PushedEventsReachTheWidgetAtWindowPoints) {
    // SDL positions are device pixels here; the recorder's origin is (20, 40) logical, and the
    // point is the last device pixel of logical (27, 45) across.
    const int x = 27 * scale + scale - 1, y = 45 * scale;
    pushAndRun(*w, mouseMotion(*w, x, y));
    pushAndRun(*w, mouseButton(*w, true, x, y, 1));
    pushAndRun(*w, mouseButton(*w, false, x, y, 1));
    pushAndRun(*w, mouseButton(*w, true, x, y, 2));
    pushAndRun(*w, mouseButton(*w, false, x, y, 2));
    pushAndRun(*w, mouseButton(*w, true, x, y, 3));
    pushAndRun(*w, mouseButton(*w, false, x, y, 3));
    SDL_SetModState(KMOD_LCTRL);
    pushAndRun(*w, mouseButton(*w, true, x, y, 1));
    pushAndRun(*w, mouseButton(*w, false, x, y, 1));
    SDL_SetModState(KMOD_NONE);
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.windowID = w->windowId();
    wheel.wheel.y = 2;
    wheel.wheel.preciseY = 2.0f;
    wheel.wheel.mouseX = x;
    wheel.wheel.mouseY = y;
    pushAndRun(*w, wheel);
    const std::vector<std::string> expected = {"move 7,5",  "down 7,5 b0",     "up 7,5 b0", "down 7,5 b0 double",
                                               "up 7,5 b0", "down 7,5 b0",     "up 7,5 b0", "down 7,5 b1 cmd",
                                               "up 7,5 b1", "wheel 7,5 2"};
    EXPECT_EQ(s.rec->log, expected);
}

TEST(Window, KeysAndTextReachTheFocus) {
    Scene s;
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    pushAndRun(*w, mouseButton(*w, true, 30, 50));
    pushAndRun(*w, mouseButton(*w, false, 30, 50));
    ASSERT_EQ(s.ed->focus(), s.rec);
    s.rec->log.clear();
    auto key = [&](SDL_Keycode k, uint16_t mod) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.windowID = w->windowId();
        e.key.keysym.sym = k;
        e.key.keysym.mod = mod;
        pushAndRun(*w, e);
    };
    auto text = [&](const char* t) {
        SDL_Event e{};
        e.type = SDL_TEXTINPUT;
        e.text.windowID = w->windowId();
        SDL_strlcpy(e.text.text, t, sizeof e.text.text);
        pushAndRun(*w, e);
    };
    key(SDLK_LEFT, KMOD_NONE);
    key(SDLK_F5, KMOD_NONE);
    text("a\xC3\xA9");
    key(SDLK_c, KMOD_LCTRL);  // no shortcut wanted: the focus never sees it
    s.rec->shortcuts = true;
    key(SDLK_c, KMOD_LCTRL);
    key(SDLK_SPACE, KMOD_NONE);  // taken as a key: its text is no character
    text(" ");
    s.rec->takesKeys = false;
    key(SDLK_SPACE, KMOD_NONE);  // declined: its text goes on as the character
    text(" ");
    const std::vector<std::string> expected = {"key 5:0", "key 19:0", "key 0:97", "key 0:233", "key 0:99 cmd",
                                               "key 14:0", "key 14:0", "key 0:32"};
    EXPECT_EQ(s.rec->log, expected);
}

TEST(Window, KeyWindowLossClearsClaimedKeys) {
    Scene s;
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    s.ed->clickClaimsKeys = true;
    pushAndRun(*w, mouseButton(*w, true, 5, 5));
    pushAndRun(*w, mouseButton(*w, false, 5, 5));
    EXPECT_TRUE(s.ed->keysClaimed);
    pushAndRun(*w, windowEvent(*w, SDL_WINDOWEVENT_FOCUS_LOST));
    EXPECT_FALSE(s.ed->keysClaimed);
}

// Focus given by the X server, to one window, the other and back, reaches each window's editor as an
// activation.
TEST(Window, GainedFocusActivatesTheEditor) {
    Scene a, b;
    SdlWindow* wa = openWindow(*a.ed, "first");
    LUMO_NEED_WINDOW(wa);
    SdlWindow* wb = openWindow(*b.ed, "second");
    ASSERT_TRUE(wb);
    int activated[2] = {0, 0};
    a.ed->onWindowActivated = [&] { ++activated[0]; };
    b.ed->onWindowActivated = [&] { ++activated[1]; };
    for (int i : {0, 1, 0}) {
        SdlWindow* w = i == 0 ? wa : wb;
        const int before = activated[i];
        SDL_SetWindowInputFocus(w->sdlWindow());
        w->runFor(5.0, [&] { return activated[i] > before; });  // a window's loop reads its own events
        EXPECT_GT(activated[i], before) << "window " << i;
    }
}

TEST(Window, DroppedFilesReachTheWidgetUnderThePointer) {
    Scene s;
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    w->runFor(0.05);
    SDL_WarpMouseInWindow(w->sdlWindow(), 30, 50);
    SDL_Event e{};
    e.type = SDL_DROPBEGIN;
    SDL_PushEvent(&e);
    for (const char* p : {"/tmp/a.vst3", "/tmp/b b.clap"}) {
        SDL_Event f{};
        f.type = SDL_DROPFILE;
        f.drop.file = SDL_strdup(p);
        SDL_PushEvent(&f);
    }
    e.type = SDL_DROPCOMPLETE;
    pushAndRun(*w, e);
    EXPECT_TRUE(holds(s.rec->log, "over 10,10"));
    EXPECT_TRUE(holds(s.rec->log, "drop 10,10 /tmp/a.vst3 /tmp/b b.clap"));
}

// A widget with a picture of its own for the pointer.
class Pictured : public Widget {
public:
    Pictured() {
        Bitmap b;
        b.w = b.h = 8;
        b.pixels.assign(64, 0xFFFF0000u);
        image.add(b, 1.0);
    }
    const CursorImage* customCursor() const override { return &image; }
    CursorImage image;
};

TEST(Window, CursorFollowsTheShapeUnderThePointer) {
    Scene s;
    s.corner<Pictured>();
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    s.rec->cursorShape = 4;
    pushAndRun(*w, mouseMotion(*w, 5, 5));
    SDL_Cursor* arrow = SDL_GetCursor();
    pushAndRun(*w, mouseMotion(*w, 30, 50));
    SDL_Cursor* resize = SDL_GetCursor();
    pushAndRun(*w, mouseMotion(*w, 135, 45));
    SDL_Cursor* picture = SDL_GetCursor();
    EXPECT_NE(arrow, resize);
    EXPECT_NE(picture, arrow);
    EXPECT_NE(picture, resize);
    pushAndRun(*w, mouseMotion(*w, 6, 6));
    EXPECT_EQ(SDL_GetCursor(), arrow);
    pushAndRun(*w, mouseMotion(*w, 136, 46));
    EXPECT_EQ(SDL_GetCursor(), picture);  // made once, then taken from the cache
}

// Takes scrolls; the wheel steps come only when no widget took the scroll.
class Scroller : public Widget {
public:
    bool onScroll(const ScrollEvent& e) override {
        steps += e.stepsY;
        deltas += e.deltaY;
        return true;
    }
    bool onMouseWheel(const MouseEvent&) override { return ++wheels, true; }
    float steps = 0, deltas = 0;
    int wheels = 0;
};

TEST(Window, WheelScrollsFirst) {
    Scene s;
    Scroller* scroller = s.corner<Scroller>();
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.windowID = w->windowId();
    wheel.wheel.y = -1;
    wheel.wheel.preciseY = -1.5f;
    wheel.wheel.mouseX = 135;
    wheel.wheel.mouseY = 45;
    pushAndRun(*w, wheel);
    EXPECT_FLOAT_EQ(scroller->steps, -1.5f);
    EXPECT_GT(scroller->deltas * scroller->steps, 0.0f);  // the same direction in pixels
    EXPECT_EQ(scroller->wheels, 0);
}

// A scale between those drawn is drawn at the nearest, and the window says so once, even where
// it fits the screen; a scale drawn as asked is not mentioned.
TEST(Window, AScaleDrawnAtAnotherIsSaidOnce) {
    static std::vector<std::string> said;
    SDL_LogSetOutputFunction([](void*, int, SDL_LogPriority, const char* m) { said.emplace_back(m); }, nullptr);
    for (const auto& [asked, drawn, line] : std::vector<std::tuple<std::string, double, std::string>>{
             {"2.5", 3.0, "scale 2.5 is drawn at 3, the nearest scale drawn"}, {"1.2", 1.0, "scale 1.2 is drawn at 1"},
             {"2", 2.0, ""}}) {
        SCOPED_TRACE(asked);
        ScopedEnv env{"GDK_SCALE", asked};
        said.clear();
        Scene s;
        SdlWindow* w = openWindow(*s.ed);
        LUMO_NEED_WINDOW(w);
        EXPECT_EQ(w->systemScale(), drawn);
        EXPECT_EQ(s.ed->scale(), drawn);
        EXPECT_EQ(said.size(), line.empty() ? 0u : 1u);
        EXPECT_EQ(said.empty() ? "" : said[0].substr(0, line.size()), line);
    }
    SDL_LogSetOutputFunction(nullptr, nullptr);
}

TEST(Window, UserResizeReachesTheEditorWithinItsLimits) {
    Scene s;
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    s.ed->setResizable(100, 60, 400, 300);
    EXPECT_TRUE(SDL_GetWindowFlags(w->sdlWindow()) & SDL_WINDOW_RESIZABLE);
    struct Case {
        int w, h;        // asked of the window
        int bodyW, bodyH;  // the editor's body afterwards
    };
    for (const Case& c : std::vector<Case>{{240, 150, 240, 150}, {50, 40, 100, 60}, {900, 900, 400, 300}}) {
        SDL_SetWindowSize(w->sdlWindow(), c.w, c.h);
        w->runFor(2.0, [&] { return s.ed->logicalWidth() == c.bodyW && s.ed->logicalHeight() == c.bodyH; });
        EXPECT_EQ(s.ed->logicalWidth(), c.bodyW) << c.w;
        EXPECT_EQ(s.ed->logicalHeight(), c.bodyH) << c.h;
    }
    SDL_SetWindowSize(w->sdlWindow(), 240, 150);
    w->runFor(2.0, [&] { return s.ed->logicalWidth() == 240; });
    expectShowsPaint(*s.ed, *w, "window-resized.png");
}

TEST(Window, CaptionsDragTheWindowWithOrWithoutTheSystemFrame) {
    Scene s;
    s.addCaption();
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    for (bool custom : {false, true}) {
        s.ed->setCustomFrame(custom);
        EXPECT_EQ(bool(SDL_GetWindowFlags(w->sdlWindow()) & SDL_WINDOW_BORDERLESS), custom);
        EXPECT_TRUE(w->captionAt(80, 2));
        EXPECT_FALSE(w->captionAt(80, 50));
    }
}

// Counts ticks and frames; at its first tick a worker posts a closure and is joined.
class Clock : public Widget {
public:
    void tick() override {
        ++ticks;
        if (ticks == 1) {
            auto q = editor->uiQueue();
            std::thread([q, this] { q->post([this] { ranAtTick = ticks; }); }).join();
        }
        if (wantFrames) requestFrame();
    }
    void onFrame(double t) override {
        ++frames;
        EXPECT_GE(t, lastFrame);
        lastFrame = t;
    }
    int ticks = 0;
    int frames = 0;
    int ranAtTick = -1;
    double lastFrame = 0.0;
    bool wantFrames = true;
};

TEST(Window, TimerTicksFramesAndWakes) {
    Scene s;
    Clock* clock = s.ed->root()->add(std::make_unique<Clock>());
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    w->runFor(10.0, [&] { return clock->ticks >= 4 && clock->frames >= 4; });
    EXPECT_GE(clock->ticks, 4);
    EXPECT_GE(clock->frames, 4);
    // The wake ran the posted closure before the next tick.
    EXPECT_EQ(clock->ranAtTick, 1);
    // Frames stop a while after the last request.
    clock->wantFrames = false;
    w->runFor(10.0, [&] { return !s.ed->framesRunning(); });
    EXPECT_FALSE(s.ed->framesRunning());
}

TEST(Window, WindowPopupOpensAndClosesAsAnOverlay) {
    Scene s;
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    auto popup = std::make_unique<Panel>();
    popup->fill = 0xFF40C0F0u;
    popup->border = 0xFFFFFFFFu;
    popup->bounds = Rect{60, 20, 80, 60};
    Panel* p = popup.get();
    PopupOptions o;
    o.window = true;
    s.ed->openPopup(std::move(popup), o);
    ASSERT_EQ(s.ed->popups().size(), 1u);
    EXPECT_FALSE(s.ed->popups()[0].hasSurface);
    EXPECT_FALSE(s.ed->popupsEscape());
    expectShowsPaint(*s.ed, *w, "window-popup-open.png");
    Bitmap open = grabWindow(w->sdlWindow());
    ASSERT_FALSE(open.empty());
    EXPECT_EQ(open.pixels[size_t(50 * open.w + 100)], pixelOf(0xFF40C0F0u));
    s.ed->closePopup(p);
    expectShowsPaint(*s.ed, *w, "window-popup-closed.png");
    Bitmap closed = grabWindow(w->sdlWindow());
    ASSERT_FALSE(closed.empty());
    EXPECT_NE(closed.pixels[size_t(50 * closed.w + 150)], pixelOf(0xFF40C0F0u));
}

// Runs one step a tick; closes the window when the steps run out (or after a safety limit).
class Script : public Widget {
public:
    void tick() override {
        if (step < steps.size()) {
            auto f = steps[step++];
            f();
        } else if (++idle > 300) {
            timedOut = true;
            editor->closeStandaloneWindow();
        }
    }
    std::vector<std::function<void()>> steps;
    size_t step = 0;
    int idle = 0;
    bool timedOut = false;
};

TEST(Window, CloseHandshakeRunsTheTeardownOnceAndARefusedCloseKeepsTheWindow) {
    {
        Scene probe;
        LUMO_NEED_WINDOW(openWindow(*probe.ed));
    }
    Scene s;
    Script* script = s.ed->root()->add(std::make_unique<Script>());
    int teardowns = 0;
    int ticksAfterRefusal = 0;
    bool* timedOut = &script->timedOut;
    bool timedOutSeen = false;
    Editor* ed = s.ed.get();
    script->steps = {
        [&] {
            ed->closeStandaloneWindow();
            ed->standaloneCloseCancelled();  // the application refuses
        },
        [&] { ++ticksAfterRefusal; },
        [&] { ++ticksAfterRefusal; },
        [&] {
            auto* w = dynamic_cast<SdlWindow*>(ed->window());
            SDL_Event e = windowEvent(*w, SDL_WINDOWEVENT_CLOSE);  // the window manager's close button
            SDL_PushEvent(&e);
        },
    };
    Editor::standaloneTeardown() = [&] {
        ++teardowns;
        timedOutSeen = *timedOut;
        s.ed.reset();
    };
    s.ed->runStandalone("lumo close");
    EXPECT_EQ(teardowns, 1);
    EXPECT_FALSE(timedOutSeen);
    EXPECT_EQ(ticksAfterRefusal, 2);
    EXPECT_EQ(s.ed, nullptr);
    EXPECT_FALSE(bool(Editor::standaloneTeardown()));
    Editor::standaloneTeardown() = nullptr;
}

TEST(Window, ClickFromTheXServerThroughXdotool) {
    Scene s;
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "skipped: xdotool is not installed";
    w->runFor(0.1);
    unsigned long id = x11WindowId(w->sdlWindow());
    ASSERT_NE(id, 0ul);
    std::string cmd = "xdotool mousemove --window " + std::to_string(id) + " 33 47 click 1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    w->runFor(5.0, [&] {
        for (const auto& l : s.rec->log)
            if (l.rfind("up ", 0) == 0) return true;
        return false;
    });
    std::vector<std::string> presses;
    for (const auto& l : s.rec->log)
        if (l.rfind("down ", 0) == 0 || l.rfind("up ", 0) == 0) presses.push_back(l);
    EXPECT_EQ(presses, (std::vector<std::string>{"down 13,7 b0", "up 13,7 b0"}));
}

// ---- the services that go through X11: drags in and out, pinch, moves, caption clicks, embedding

TEST(Window, FilesDraggedInAreOfferedAtEachPositionAndAnswered) {
    struct Case {
        const char* action;  // what the other program asks for
        bool preferMove;     // what the widget under the pointer prefers
        const char* answer;  // what the window answers over the widget ("" refused)
    };
    for (const Case& c : std::vector<Case>{
             {"copy", false, "copy"}, {"move", true, "move"}, {"move", false, ""}, {"link", true, "link"}}) {
        SCOPED_TRACE(c.action);
        Scene s;
        SdlWindow* w = openWindow(*s.ed);
        LUMO_NEED_WINDOW(w);
        s.rec->preferMove = c.preferMove;
        w->runFor(0.05);
        // Over the recorder, over the panel (nobody takes it there), over the recorder, then the drop.
        auto over = rootOf(*w, 30, 50), off = rootOf(*w, 100, 20);
        DragSourcePeer source(x11WindowId(w->sdlWindow()), "file:///tmp/a.vst3\r\nfile:///tmp/b%20b.clap\r\n",
                              c.action, {over, off, over}, DragSourcePeer::End::drop);
        ASSERT_TRUE(soon(*w, 15.0, [&] { return source.done(); }));
        std::vector<DragSourcePeer::Answer> st = source.statuses();
        const bool accepted = *c.answer != '\0';
        auto said = [](const DragSourcePeer::Answer& a) { return std::to_string(a.accepted) + " " + a.action; };
        const std::string answer = std::to_string(accepted) + " " + c.answer;
        ASSERT_EQ(st.size(), 3u);
        EXPECT_EQ(said(st[0]) + ", " + said(st[1]) + ", " + said(st[2]), answer + ", 0 , " + answer);
        ASSERT_TRUE(source.finished);
        EXPECT_EQ(said(source.finish), answer);
        EXPECT_TRUE(holds(s.rec->log, "over 10,10"));
        EXPECT_TRUE(holds(s.rec->log, "dragleave"));  // left for the panel
        EXPECT_EQ(holds(s.rec->log, "drop 10,10 /tmp/a.vst3 /tmp/b b.clap"), accepted);
        const std::string a = c.action;
        EXPECT_EQ(s.rec->sourceOps, a == "move" ? kOpMove : a == "copy" ? kOpCopy | kOpGeneric : kOpLink);
    }
    // Drags that end without a drop: one that leaves, one whose source dies on the way (long before
    // the wait is over), one whose source goes quiet with no button held over the window.
    using End = DragSourcePeer::End;
    for (auto [end, waitMs] :
         std::vector<std::pair<End, uint32_t>>{{End::leave, 5000}, {End::vanish, 5000}, {End::silent, 300}}) {
        DragWait wait(waitMs);
        Scene s;
        SdlWindow* w = openWindow(*s.ed);
        LUMO_NEED_WINDOW(w);
        DragSourcePeer source(x11WindowId(w->sdlWindow()), "file:///tmp/a.vst3\r\n", "copy", {rootOf(*w, 30, 50)},
                              end);
        w->runFor(2.0, [&] { return holds(s.rec->log, "dragleave"); });
        EXPECT_EQ(s.rec->log, (std::vector<std::string>{"over 10,10", "dragleave"})) << int(end);
        EXPECT_TRUE(end != End::silent || !source.done());  // a silent source is given up while it lives
        EXPECT_FALSE(w->x11()->pump()) << int(end);  // no drag left running
        source.release();
        w->runFor(10.0, [&] { return source.done(); });
    }
}

// Starts a file drag when pressed, with a picture under the pointer.
class Dragger : public Widget {
public:
    bool onMouseDown(const MouseEvent&) override {
        DragImage image;
        image.image.w = image.image.h = 8;
        image.image.pixels.assign(64, 0x80FF8000u);
        editor->startFileDrag({"/tmp/out one.vst3", "/tmp/two.clap"}, image, move,
                              [this](const DragResult& r) { results.push_back(r); });
        return false;
    }
    bool move = false;
    std::vector<DragResult> results;
};

TEST(Window, FilesDragOutToAnotherProgramWhichAnswers) {
    struct Case {
        bool move;
        const char* answer;  // the other program's
        bool escape;         // Escape before the release
        int operation;       // 0: not dropped
    };
    for (const Case& c : std::vector<Case>{{false, "copy", false, kOpCopy},
                                           {true, "move", false, kOpMove},
                                           {false, "none", false, 0},
                                           {false, "copy", true, 0},
                                           {false, "frozen", false, 0}}) {
        const bool dropped = c.operation != 0;
        // The frozen program never answers: the release comes while a position waits for it, and
        // the drag ends after the wait, the pointer free again.
        SCOPED_TRACE(std::string(c.answer) + (c.escape ? " escape" : ""));
        bool frozen = std::string(c.answer) == "frozen";
        DragWait wait(frozen ? 1000 : dragWaitMs);
        Scene s;
        Dragger* dragger = s.corner<Dragger>();
        dragger->move = c.move;
        SdlWindow* w = openWindow(*s.ed);
        LUMO_NEED_WINDOW(w);
        LUMO_NEED_XDOTOOL;
        DropTargetPeer target(100, 100, 200, 150, c.answer);
        ASSERT_TRUE(target.ready());
        w->runFor(0.1);
        ASSERT_TRUE(xdotool(at(*w, 135, 45) + " mousedown 1"));
        ASSERT_TRUE(soon(*w, 3.0, [&] { return w->x11()->dragging(); }));
        xdotool("mousemove 150 150");
        w->runFor(3.0, [&] { return target.seen().positions > 0; });
        xdotool("mousemove 160 170");
        if (!frozen) w->runFor(3.0, [&] { return target.seen().positions > 1; });
        xdotool(c.escape ? "key Escape" : "mouseup 1");
        w->runFor(8.0, [&] { return !dragger->results.empty(); });
        if (c.escape) xdotool("mouseup 1");
        ASSERT_EQ(dragger->results.size(), 1u);
        EXPECT_EQ(dragger->results[0].dropped, dropped);
        EXPECT_EQ(dragger->results[0].operation, c.operation);
        w->runFor(2.0, [&] { return target.seen().leaves + target.seen().drops > 0; });
        DropTargetPeer::Seen seen = target.seen();
        EXPECT_EQ(seen.enters, 1);
        EXPECT_EQ(seen.requested, c.move ? "move" : "copy");
        EXPECT_EQ(seen.drops, dropped ? 1 : 0);  // an escaped drag never drops
        EXPECT_EQ(seen.leaves, dropped ? 0 : 1);
        EXPECT_EQ(seen.data, dropped ? "file:///tmp/out%20one.vst3\r\nfile:///tmp/two.clap\r\n" : "");
        EXPECT_FALSE(w->x11()->dragging());
        // The window takes presses again afterwards.
        xdotool(at(*w, 30, 50) + " click 1");
        EXPECT_TRUE(soon(*w, 3.0, [&] { return holds(s.rec->log, "down 10,10 b0"); }));
    }
}

// Records the magnify events that reach it.
class Magnifier : public Widget {
public:
    bool onMagnify(const MagnifyEvent& e) override {
        char line[96];
        std::snprintf(line, sizeof line, "%d,%d x%.3f phase %d%s", e.x, e.y, double(e.factor), e.phase,
                      e.command ? " cmd" : "");
        log.push_back(line);
        return true;
    }
    std::vector<std::string> log;
};

TEST(Window, PinchGesturesBecomeMagnifyEvents) {
    Scene s;
    Magnifier* m = s.corner<Magnifier>();
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    ASSERT_NE(w->x11(), nullptr);
    std::printf("the server %s pinch gestures\n", w->x11()->pinches() ? "sends" : "does not send");
    for (bool cancelled : {false, true}) {
        m->log.clear();
        for (const lumo::platform::PinchStep& step : pinchFromEvents(135.5, 45, {1.0, 1.25, 1.5, 1.5}, cancelled, true))
            w->x11()->pinch(step);
        const std::vector<std::string> expected = {"5,5 x1.000 phase 2 cmd", "5,5 x1.250 phase 3 cmd",
                                                   "5,5 x1.200 phase 3 cmd",
                                                   cancelled ? "5,5 x1.000 phase 5 cmd" : "5,5 x1.000 phase 4 cmd"};
        EXPECT_EQ(m->log, expected);
    }
}

// Hands the press to the window manager as a move.
class Mover : public Widget {
public:
    bool onMouseDown(const MouseEvent&) override {
        editor->beginWindowDrag();
        return true;
    }
};

TEST(Window, WindowManagerMovesOnRequestAndCaptionDoubleClicksMaximize) {
    Scene s;
    s.corner<Mover>();
    s.addCaption();
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    LUMO_NEED_XDOTOOL;
    StandInWm wm;
    ASSERT_TRUE(wm.ready());
    w->runFor(0.1);
    auto of = [&](const std::string& type) {
        std::vector<StandInWm::Message> found;
        for (const auto& m : wm.messages())
            if (m.type == type) found.push_back(m);
        return found;
    };
    auto count = [&](const std::string& type) { return int(of(type).size()); };
    auto presses = [&] {
        std::vector<std::string> found;
        for (const auto& l : s.rec->log)
            if (l.rfind("down ", 0) == 0 || l.rfind("up ", 0) == 0) found.push_back(l);
        return found;
    };
    const unsigned long id = x11WindowId(w->sdlWindow());
    auto [mx, my] = rootOf(*w, 135, 45);
    xdotool(at(*w, 135, 45) + " mousedown 1");
    w->runFor(3.0, [&] { return count("_NET_WM_MOVERESIZE") > 0; });
    xdotool("mouseup 1");
    std::vector<StandInWm::Message> got = of("_NET_WM_MOVERESIZE");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].window, id);
    EXPECT_EQ(std::vector<long>(got[0].l, got[0].l + 4), (std::vector<long>{mx, my, 8, 1}));
    // The press the window manager took leaves no button held: the next click is a click.
    xdotool(at(*w, 30, 50) + " click 1");
    w->runFor(3.0, [&] { return holds(s.rec->log, "up 10,10 b0"); });
    EXPECT_EQ(presses(), (std::vector<std::string>{"down 10,10 b0", "up 10,10 b0"}));

    // Two presses on the caption maximize, two more restore; one alone only moves.
    const std::string onCaption = at(*w, 80, 2);
    for (bool maximized : {true, false}) {
        int before = count("_NET_WM_STATE");
        xdotool(onCaption + " click --repeat 2 --delay 120 1");
        ASSERT_TRUE(soon(*w, 3.0, [&] { return count("_NET_WM_STATE") > before && w->windowMaximized() == maximized; }))
            << maximized;
        got = of("_NET_WM_STATE");
        EXPECT_EQ(got.back().l[0], maximized ? 1 : 0);
        EXPECT_EQ(got.back().atom1 + " " + got.back().atom2, "_NET_WM_STATE_MAXIMIZED_VERT _NET_WM_STATE_MAXIMIZED_HORZ");
    }
    // A click alone, however short, moves nothing (a move asked for after its release would leave
    // the window following the pointer); a press that moves hands the move over, its button held.
    int states = count("_NET_WM_STATE"), moves = count("_NET_WM_MOVERESIZE");
    xdotool(onCaption + " click 1");
    xdotool(at(*w, 30, 50) + " click 1");
    w->runFor(3.0, [&] { return presses().size() == 4; });
    StandInWm::mark();
    w->runFor(3.0, [&] { return count("LUMO_MARK") > 0; });
    ASSERT_EQ(count("LUMO_MARK"), 1);
    EXPECT_EQ(presses().size(), 4u);
    EXPECT_EQ(count("_NET_WM_MOVERESIZE"), moves);
    EXPECT_EQ(count("_NET_WM_STATE"), states);
    // The press becomes a move once the pointer went 3 units from it, across or down, not at 2. Each
    // press lies far from the last, so that no two make a double-click.
    const struct {
        int dx, dy;
        bool moves;
    } helds[] = {{2, 0, false}, {0, 2, false}, {3, 0, true}, {0, 3, true}, {10, 0, true}};
    int x = 20;
    for (const auto& h : helds) {
        SCOPED_TRACE("held and moved " + std::to_string(h.dx) + "," + std::to_string(h.dy));
        moves = count("_NET_WM_MOVERESIZE");
        const size_t clicks = presses().size();
        const int marks = count("LUMO_MARK");
        // Held until the window has had the motion; once the click after it is in, the press was handled.
        xdotool(at(*w, x, 1) + " mousedown 1 " + at(*w, x + h.dx, 1 + h.dy));
        handleEventsSoFar(*w);
        xdotool("mouseup 1");
        xdotool(at(*w, 30, 50) + " click 1");
        w->runFor(3.0, [&] { return presses().size() == clicks + 2; });
        StandInWm::mark();
        w->runFor(3.0, [&] { return count("LUMO_MARK") > marks; });
        got = of("_NET_WM_MOVERESIZE");
        ASSERT_EQ(int(got.size()), moves + int(h.moves));
        std::tie(mx, my) = rootOf(*w, x + h.dx, 1 + h.dy);
        if (h.moves) {
            EXPECT_EQ(std::vector<long>(got.back().l, got.back().l + 4), (std::vector<long>{mx, my, 8, 1}));
        }
        EXPECT_EQ(presses().size(), clicks + 2);
        x += 30;
    }
    EXPECT_EQ(count("_NET_WM_STATE"), states);
}

TEST(Window, AttachEmbedsInAHostWindowAndFollowsIt) {
    {
        Scene probe;
        LUMO_NEED_WINDOW(openWindow(*probe.ed));
    }
    HostWindow host(300, 200);
    ASSERT_NE(host.id(), 0ul);
    Scene s;
    s.ed->setResizable(100, 60, 400, 300);
    ASSERT_TRUE(s.ed->attach(reinterpret_cast<void*>(uintptr_t(host.id()))));
    auto* w = dynamic_cast<SdlWindow*>(s.ed->window());
    ASSERT_NE(w, nullptr);
    w->runFor(0.2);
    const unsigned long id = x11WindowId(w->sdlWindow());
    EXPECT_EQ(host.parentOf(id), host.id());
    EXPECT_EQ(host.sizeOf(id), std::make_pair(160, 100));
    expectShowsPaint(*s.ed, *w, "window-attached.png");
    // The host's size and keyboard reach the editor.
    host.resize(240, 150);
    EXPECT_TRUE(soon(*w, 3.0, [&] { return s.ed->logicalWidth() == 240 && s.ed->logicalHeight() == 150; }))
        << s.ed->logicalWidth() << "x" << s.ed->logicalHeight();
    host.focus(false);
    EXPECT_TRUE(soon(*w, 3.0, [&] { return !w->windowActive(); }));
    host.focus(true);
    EXPECT_TRUE(soon(*w, 3.0, [&] { return w->windowActive() && host.focused() == id; }));
    // A host that closes its window first: the editor's window went with it, and painting into it
    // is no failure of the program.
    host.destroy();
    s.rec->fill = 0xFF10A040u;
    s.rec->repaint();
    s.ed->paintSoon();
    w->runFor(0.3);
    EXPECT_TRUE(w->x11()->hostGone());
    // No host: nothing to attach to.
    for (unsigned long bad : {host.goneId(), 0ul}) {
        Scene other;
        EXPECT_TRUE(!other.ed->attach(reinterpret_cast<void*>(uintptr_t(bad))) && !other.ed->window()) << bad;
    }
}

}  // namespace
