// The SDL window under a real X server (xvfb-run -a): what it shows, the input it passes on, its
// clocks, overlays and the close handshake.
#include <thread>

#include "window_support.h"

namespace {

using namespace wintest;

struct Scene {
    fakes::Host host;
    std::unique_ptr<Editor> ed;
    Recorder* rec = nullptr;

    Scene() {
        host.standalone = true;
        ed = std::make_unique<Editor>(host, 160, 100);
        auto panel = std::make_unique<Panel>();
        panel->fill = 0xFF303840u;
        panel->border = 0xFFE0C060u;
        panel->bounds = Rect{4, 4, 152, 30};
        auto label = std::make_unique<Label>();
        label->text = "Window";
        label->bounds = Rect{6, 6, 80, 20};
        panel->add(std::move(label));
        ed->root()->add(std::move(panel));
        auto r = std::make_unique<Recorder>();
        r->bounds = Rect{20, 40, 100, 50};
        rec = ed->root()->add(std::move(r));
    }
};

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

TEST(Window, CursorFollowsTheShapeUnderThePointer) {
    Scene s;
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    s.rec->cursorShape = 4;
    pushAndRun(*w, mouseMotion(*w, 5, 5));
    SDL_Cursor* arrow = SDL_GetCursor();
    pushAndRun(*w, mouseMotion(*w, 30, 50));
    SDL_Cursor* resize = SDL_GetCursor();
    EXPECT_NE(arrow, resize);
    pushAndRun(*w, mouseMotion(*w, 6, 6));
    EXPECT_EQ(SDL_GetCursor(), arrow);
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

TEST(Window, CustomFrameDragsFromCaptions) {
    Scene s;
    auto caption = std::make_unique<Widget>();
    caption->bounds = Rect{0, 0, 160, 4};
    caption->windowPart = kWindowPartCaption;
    s.ed->root()->add(std::move(caption));
    SdlWindow* w = openWindow(*s.ed);
    LUMO_NEED_WINDOW(w);
    s.ed->setCustomFrame(true);
    EXPECT_TRUE(SDL_GetWindowFlags(w->sdlWindow()) & SDL_WINDOW_BORDERLESS);
    EXPECT_TRUE(w->captionAt(80, 2));
    EXPECT_FALSE(w->captionAt(80, 50));
    s.ed->setCustomFrame(false);
    EXPECT_FALSE(SDL_GetWindowFlags(w->sdlWindow()) & SDL_WINDOW_BORDERLESS);
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
    Scene s;
    {
        std::unique_ptr<PlatformWindow> probe = PlatformWindow::create(*s.ed);
        LUMO_NEED_WINDOW(dynamic_cast<SdlWindow*>(probe.get()));
    }
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
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "xdotool is not installed";
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

}  // namespace
