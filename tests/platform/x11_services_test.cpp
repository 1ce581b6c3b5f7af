// The window's X11 services under a real X server (xvfb-run -a), where other programs do what they
// may: a host that drags its own files or closes its window at once, an outsized drop list, a
// target with a stray proxy; and what the window passes on: the drag's picture, pointer leaves and
// the times of events.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <ostream>

#include "window_support.h"

namespace {

using namespace wintest;
using namespace lumo::platform;

// An editor with a recorder at (20, 40), 100 x 50 points.
struct Board {
    fakes::Host host;
    std::unique_ptr<Editor> ed;
    Recorder* rec = nullptr;

    Board() {
        host.standalone = true;
        ed = std::make_unique<Editor>(host, 160, 100);
        auto r = std::make_unique<Recorder>();
        r->bounds = Rect{20, 40, 100, 50};
        rec = ed->root()->add(std::move(r));
    }

    // Embeds the editor in `host`; null when it could not.
    SdlWindow* attach(HostWindow& host) {
        ed->setResizable(100, 60, 400, 300);
        if (!ed->attach(reinterpret_cast<void*>(uintptr_t(host.id())))) return nullptr;
        return dynamic_cast<SdlWindow*>(ed->window());
    }
};

#define LUMO_NEED_DISPLAY                                                                                    \
    {                                                                                                        \
        Board probe;                                                                                         \
        LUMO_NEED_WINDOW(openWindow(*probe.ed));                                                             \
    }

TEST(X11Services, AnEmbeddedWindowFollowsAHostThatDragsItsOwnFiles) {
    LUMO_NEED_DISPLAY;
    // The host's drag over the window, ended by a leave, a drop or not at all (the host closes).
    for (const std::vector<std::string>& messages :
         std::vector<std::vector<std::string>>{{"enter", "leave"}, {"enter", "drop"}, {"enter"}}) {
        const std::string trace = messages.back();
        HostWindow host(300, 200);
        Board b;
        SdlWindow* w = b.attach(host);
        ASSERT_NE(w, nullptr);
        const unsigned long id = x11WindowId(w->sdlWindow());
        for (const std::string& m : messages) {
            host.dragMessage(id, m);
            const bool running = m == "enter";
            ASSERT_TRUE(soon(*w, 5.0, [&] { return w->x11()->pump() == running; })) << trace << " " << m;
        }
        // The host's size, keyboard and close still reach the window.
        host.resize(300, 180);
        EXPECT_TRUE(soon(*w, 5.0, [&] { return b.ed->logicalWidth() == 300 && b.ed->logicalHeight() == 180; }))
            << trace << ": " << b.ed->logicalWidth() << "x" << b.ed->logicalHeight();
        host.focus(false);
        EXPECT_TRUE(soon(*w, 5.0, [&] { return !w->windowActive(); })) << trace;
        host.focus(true);
        EXPECT_TRUE(soon(*w, 5.0, [&] { return w->windowActive() && host.focused() == id; })) << trace;
        host.destroy();
        EXPECT_TRUE(soon(*w, 5.0, [&] { return w->x11()->hostGone(); })) << trace;
    }
}

// Attaches to a host that closes its window right after a resize, runs on until the window has
// heard of it and every request SDL made since has been answered, then ends the process with 0.
[[noreturn]] void hostClosesRightAfterResize() {
    HostWindow host(300, 200);
    Board b;
    SdlWindow* w = b.attach(host);
    if (!w) std::_Exit(3);
    host.resize(240, 150);
    // The window takes the new size (its picture is made again at the next paint): the host closes.
    w->runFor(5.0, [&] { return b.ed->logicalWidth() == 240; });
    host.destroy();
    bool gone = soon(*w, 5.0, [&] { return w->x11()->hostGone(); });
    syncWithServer(w->sdlWindow());
    std::fflush(stderr);
    std::_Exit(gone ? 0 : 4);
}

// What the process wrote says `words` exactly once.
class SaysOnce : public ::testing::MatcherInterface<const std::string&> {
public:
    explicit SaysOnce(std::string words) : words_(std::move(words)) {}
    bool MatchAndExplain(const std::string& text, ::testing::MatchResultListener*) const override {
        size_t at = text.find(words_);
        return at != std::string::npos && text.find(words_, at + 1) == std::string::npos;
    }
    void DescribeTo(std::ostream* os) const override { *os << "says \"" << words_ << "\" once"; }

private:
    std::string words_;
};

TEST(X11Services, AHostClosingRightAfterAResizeEndsNothing) {
    LUMO_NEED_DISPLAY;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(hostClosesRightAfterResize(), ::testing::ExitedWithCode(0),
                ::testing::MakeMatcher(new SaysOnce("a window that is gone")));
}

// A uri list of `bytes` bytes whose last path is /home/user/Important-File-Backup, the rest
// filler paths under /tmp.
std::string listOfBytes(size_t bytes) {
    const std::string last = "file:///home/user/Important-File-Backup\r\n";
    const size_t kLine = 64, fill = bytes - last.size();
    std::string list;
    for (size_t n = fill / kLine, i = 0; i < n; ++i)
        list += "file:///tmp/" + std::string(kLine - 14 + (i == 0 ? fill % kLine : 0), 'a') + "\r\n";
    return list + last;
}

TEST(X11Services, ADroppedListIsTakenWholeOrRefused) {
    constexpr size_t kMax = 4u << 20;
    struct Case {
        size_t bytes;
        bool taken;
    };
    // The second list's last line starts where the first 4 MiB leave only "file:///home/user/Import".
    for (const Case& c : std::vector<Case>{{kMax, true}, {kMax - 24 + 41, false}}) {
        SCOPED_TRACE(c.bytes);
        Board b;
        SdlWindow* w = openWindow(*b.ed);
        LUMO_NEED_WINDOW(w);
        const std::string list = listOfBytes(c.bytes);
        ASSERT_EQ(list.size(), c.bytes);
        DragSourcePeer source(x11WindowId(w->sdlWindow()), list, "copy", {rootOf(*w, 30, 50)},
                              DragSourcePeer::End::drop);
        ASSERT_TRUE(soon(*w, 20.0, [&] { return source.done(); }));
        std::vector<DragSourcePeer::Answer> st = source.statuses();
        ASSERT_EQ(st.size(), 1u);
        EXPECT_EQ(st[0].accepted, c.taken);
        ASSERT_TRUE(source.finished);
        EXPECT_EQ(source.finish.accepted, c.taken);
        std::vector<std::string> drops;
        for (const std::string& l : b.rec->log)
            if (l.rfind("drop ", 0) == 0) drops.push_back(l.substr(l.rfind(' ') + 1));
        EXPECT_EQ(drops, c.taken ? std::vector<std::string>{"/home/user/Important-File-Backup"}
                                 : std::vector<std::string>{});
    }
}

TEST(X11Services, ADragOutTrustsAProxyOnlyWhenItNamesItself) {
    DragWait wait(1000);  // a lost drag ends soon
    for (bool stray : {false, true}) {
        SCOPED_TRACE(stray);
        Board b;
        SdlWindow* w = openWindow(*b.ed);
        LUMO_NEED_WINDOW(w);
        LUMO_NEED_XDOTOOL;
        DropTargetPeer target(100, 100, 200, 150, "copy", stray);
        ASSERT_TRUE(target.ready());
        ASSERT_TRUE(soon(*w, 3.0, [&] { return !grabWindow(w->sdlWindow()).empty(); }));  // on the screen
        ASSERT_TRUE(xdotool(at(*w, 30, 50) + " mousedown 1"));
        ASSERT_TRUE(soon(*w, 3.0, [&] { return !b.rec->log.empty() && b.rec->log.back().rfind("down", 0) == 0; }));
        std::vector<DragResult> results;
        ASSERT_TRUE(w->x11()->startFileDrag({"/tmp/a.vst3"}, DragImage{}, false,
                                            [&](const DragResult& r) { results.push_back(r); }));
        xdotool("mousemove 150 150");
        w->runFor(3.0, [&] { return target.seen().positions > 0; });
        xdotool("mouseup 1");
        ASSERT_TRUE(soon(*w, 5.0, [&] { return !results.empty(); }));
        EXPECT_TRUE(results[0].dropped);
        DropTargetPeer::Seen seen = target.seen();
        EXPECT_EQ(seen.enters, 1);
        EXPECT_EQ(seen.drops, 1);
        EXPECT_EQ(seen.data, "file:///tmp/a.vst3\r\n");
    }
}

// ---- what the window passes on

// A picture of one opaque colour, its hot spot at the top left.
DragImage pictureOf(int size, Color colour) {
    DragImage image;
    image.image.w = image.image.h = size;
    image.image.pixels.assign(size_t(size * size), colour);
    return image;
}

TEST(X11Services, TheDragsPictureChangesWhenTheEditorChangesIt) {
    Board b;
    SdlWindow* w = openWindow(*b.ed);
    LUMO_NEED_WINDOW(w);
    LUMO_NEED_XDOTOOL;
    ASSERT_TRUE(soon(*w, 3.0, [&] { return !grabWindow(w->sdlWindow()).empty(); }));  // on the screen
    ASSERT_TRUE(xdotool(at(*w, 30, 50) + " mousedown 1"));
    ASSERT_TRUE(soon(*w, 3.0, [&] { return !b.rec->log.empty() && b.rec->log.back().rfind("down", 0) == 0; }));
    auto [rx, ry] = rootOf(*w, 30, 50);
    // The picture's colours over the whole of a square at the pointer.
    auto shows = [&](int size, Color colour) {
        Bitmap seen = grabScreen(w->sdlWindow(), rx, ry, size, size);
        return !seen.empty() && std::all_of(seen.pixels.begin(), seen.pixels.end(),
                                            [&](uint32_t p) { return p == (colour | 0xFF000000u); });
    };
    std::vector<DragResult> results;
    ASSERT_TRUE(b.ed->startFileDrag({"/tmp/a.vst3"}, pictureOf(8, 0xFFFF8000u), false,
                                    [&](const DragResult& r) { results.push_back(r); }));
    EXPECT_TRUE(soon(*w, 3.0, [&] { return shows(8, 0xFFFF8000u); }));
    b.ed->updateFileDrag(pictureOf(12, 0xFF00C040u));
    EXPECT_TRUE(soon(*w, 3.0, [&] { return shows(12, 0xFF00C040u); }));
    xdotool("key Escape");
    EXPECT_TRUE(soon(*w, 3.0, [&] { return !results.empty(); }));
    xdotool("mouseup 1");
}

// Notes each pointer event with its time on the editor clock (a leave has none: it notes 0).
class Stamps : public Widget {
public:
    bool onMouseDown(const MouseEvent& e) override { return note("down", e.time), true; }
    void onMouseUp(const MouseEvent& e) override { note("up", e.time); }
    void onMouseMove(const MouseEvent& e) override { note("move", e.time); }
    bool onMouseWheel(const MouseEvent& e) override { return note("wheel", e.time), true; }
    bool onMagnify(const MagnifyEvent& e) override { return note("magnify", e.time), true; }
    void onMouseLeave() override { note("leave", 0.0); }
    void note(const std::string& what, double t) { events.emplace_back(what, t); }
    std::vector<std::pair<std::string, double>> events;
};

TEST(X11Services, PointerEventsCarryTheirOwnTimeAndTheLeave) {
    Board b;
    Stamps* stamps = b.ed->root()->add(std::make_unique<Stamps>());
    stamps->bounds = Rect{130, 40, 20, 20};
    SdlWindow* w = openWindow(*b.ed);
    LUMO_NEED_WINDOW(w);
    // Each event happened this long before it is handled, on its own clock.
    constexpr uint32_t kAgeMs = 400;
    ASSERT_TRUE(soon(*w, 2.0, [] { return SDL_GetTicks() > kAgeMs; }));
    // Queued as it is (a push would stamp it now), then handled.
    auto aged = [&](SDL_Event e) {
        e.common.timestamp = SDL_GetTicks() - kAgeMs;
        ASSERT_EQ(SDL_PeepEvents(&e, 1, SDL_ADDEVENT, 0, 0), 1);
        w->runFor(0.05);
    };
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.windowID = w->windowId();
    wheel.wheel.y = 1;
    wheel.wheel.preciseY = 1.0f;
    wheel.wheel.mouseX = 135;
    wheel.wheel.mouseY = 45;
    struct Case {
        std::string name;
        std::function<void()> send;  // sends the event kAgeMs after it happened
        bool timed;                  // the widget sees the event's time
    };
    const std::vector<Case> cases = {
        {"move", [&] { aged(mouseMotion(*w, 135, 45)); }, true},
        {"down", [&] { aged(mouseButton(*w, true, 135, 45)); }, true},
        {"up", [&] { aged(mouseButton(*w, false, 135, 45)); }, true},
        {"wheel", [&] { aged(wheel); }, true},
        {"magnify",
         [&] {
             unsigned long server = serverTime();
             for (const PinchStep& step : pinchFromEvents(135, 45, {1.0, 1.5}, false, false, server - kAgeMs))
                 w->x11()->pinch(step);
         },
         true},
        {"leave",
         [&] {
             pushAndRun(*w, mouseMotion(*w, 135, 45));
             pushAndRun(*w, windowEvent(*w, SDL_WINDOWEVENT_LEAVE));
         },
         false},
    };
    for (const Case& c : cases) {
        stamps->events.clear();
        double sent = Editor::now();
        c.send();
        auto it = std::find_if(stamps->events.begin(), stamps->events.end(),
                               [&](const auto& e) { return e.first == c.name; });
        ASSERT_TRUE(it != stamps->events.end()) << c.name << " never came";
        if (c.timed) {
            EXPECT_NEAR(it->second, sent - kAgeMs / 1000.0, 0.15) << c.name;
        }
    }
}

}  // namespace
