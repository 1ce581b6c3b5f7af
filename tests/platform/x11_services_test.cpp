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

// The scene's editor embedded in `host`; null when it could not be.
SdlWindow* attach(Scene& s, HostWindow& host) {
    s.ed->setResizable(100, 60, 400, 300);
    if (!s.ed->attach(reinterpret_cast<void*>(uintptr_t(host.id())))) return nullptr;
    return dynamic_cast<SdlWindow*>(s.ed->window());
}

// The display a window opens on (it is closed again at once); empty when none opens.
std::string displayOpened() {
    Scene probe;
    return displayOf(openWindow(*probe.ed));
}

TEST(X11Services, AnEmbeddedWindowFollowsAHostThatDragsItsOwnFiles) {
    LUMO_NEED_DISPLAY(displayOpened());
    // The host's drag over the window, ended by a leave, a drop or not at all (the host closes).
    for (const std::vector<std::string>& messages :
         std::vector<std::vector<std::string>>{{"enter", "leave"}, {"enter", "drop"}, {"enter"}}) {
        SCOPED_TRACE(messages.back());
        HostWindow host(300, 200);
        Scene s;
        SdlWindow* w = attach(s, host);
        ASSERT_NE(w, nullptr);
        const unsigned long id = x11WindowId(w->sdlWindow());
        for (const std::string& m : messages) {
            host.dragMessage(id, m);
            ASSERT_TRUE(soon(*w, 5.0, [&] { return w->x11()->pump() == (m == "enter"); })) << m;
        }
        // The host's size, keyboard and close still reach the window.
        host.resize(300, 180);
        EXPECT_TRUE(soon(*w, 5.0, [&] { return s.ed->logicalWidth() == 300 && s.ed->logicalHeight() == 180; }));
        host.focus(false);
        EXPECT_TRUE(soon(*w, 5.0, [&] { return !w->windowActive(); }));
        host.focus(true);
        EXPECT_TRUE(soon(*w, 5.0, [&] { return w->windowActive() && host.focused() == id; }));
        host.destroy();
        EXPECT_TRUE(soon(*w, 5.0, [&] { return w->x11()->hostGone(); }));
    }
}

// Attaches to a host that resizes its window twice, closes it once the window took the last size,
// and only then deletes the editor, before or after the window saw its host go; each order twice,
// each time running on until every request SDL made has been answered. Ends the process with 0
// when it got through; `thenOther`: a failing request of other code follows, which must still reach
// the handler from before (Xlib's, which ends the process with 1).
[[noreturn]] void hostClosesAfterResizesThenEditorGoes(bool thenOther) {
    std::function<void()> other;
    for (const bool seen : {true, false, true, false}) {
        HostWindow host(300, 200);
        Scene s;
        SdlWindow* w = attach(s, host);
        if (!w) std::_Exit(3);
        for (const int width : {240, 260}) {
            host.resize(width, 150);
            w->runFor(5.0, [&] { return s.ed->logicalWidth() == width; });
        }
        host.destroy();
        if (seen && !soon(*w, 5.0, [&] { return w->x11()->hostGone(); })) std::_Exit(4);
        const std::function<void()> sync = serverSync(w->sdlWindow());
        other = failingRequest(w->sdlWindow());
        s.ed.reset();
        sync();
    }
    if (thenOther) other();
    std::fflush(stderr);
    std::_Exit(0);
}

// What the process wrote says `words` exactly once.
struct SaysOnce : ::testing::MatcherInterface<const std::string&> {
    std::string words;
    explicit SaysOnce(std::string w) : words(std::move(w)) {}
    bool MatchAndExplain(const std::string& text, ::testing::MatchResultListener*) const override {
        size_t at = text.find(words);
        return at != std::string::npos && text.find(words, at + 1) == std::string::npos;
    }
    void DescribeTo(std::ostream* os) const override { *os << "says \"" << words << "\" once"; }
};

TEST(X11Services, AHostClosingItsWindowBeforeTheEditorGoesEndsNothing) {
    LUMO_NEED_DISPLAY(displayOpened());
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(hostClosesAfterResizesThenEditorGoes(false), ::testing::ExitedWithCode(0),
                ::testing::MakeMatcher(new SaysOnce("a window that is gone")));
    EXPECT_EXIT(hostClosesAfterResizesThenEditorGoes(true), ::testing::ExitedWithCode(1),
                "BadPixmap");
}

// One failing request while the embedded window owns a range of SDL's requests (its host still
// there, unless said): a request naming a gone window as the very first of the range, a pixmap of
// the program's own never made, or the host's own request on its own connection naming a gone
// window: any, one numbered within the range, or the embedded window itself once the host closed
// its window. Ends the process with 0 when the error was taken as a gone window's; else the handler
// from before (Xlib's) ends it with 1.
enum class Failing { goneWindowFirst, ownPixmap, hostsOwn, hostsOwnInTheRange, hostsOwnNamingTheWindow };
[[noreturn]] void failWhileOwned(Failing what) {
    HostWindow host(300, 200);
    Scene s;
    SdlWindow* w = attach(s, host);
    if (!w) std::_Exit(3);
    const unsigned long window = x11WindowId(w->sdlWindow());
    std::function<void()> fail;
    switch (what) {
    case Failing::hostsOwn: fail = [&] { host.failingRequest(); }; break;
    case Failing::hostsOwnInTheRange: fail = [&] { host.failingRequest(0, nextRequestOf(w->sdlWindow())); }; break;
    case Failing::hostsOwnNamingTheWindow:
        fail = [&] {
            host.destroy();
            host.failingRequest(window);
        };
        break;
    default: fail = failingRequest(w->sdlWindow(), what == Failing::goneWindowFirst ? host.goneId() : 0);
    }
    {
        X11Link::OwnRequests own(w->x11());
        fail();
    }
    std::fflush(stderr);
    std::_Exit(0);
}

TEST(X11Services, OnlyAGoneWindowsErrorsOnTheWindowsOwnConnectionAreIgnored) {
    LUMO_NEED_DISPLAY(displayOpened());
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(failWhileOwned(Failing::goneWindowFirst), ::testing::ExitedWithCode(0),
                ::testing::MakeMatcher(new SaysOnce("a window that is gone")));
    EXPECT_EXIT(failWhileOwned(Failing::ownPixmap), ::testing::ExitedWithCode(1), "BadPixmap");
    EXPECT_EXIT(failWhileOwned(Failing::hostsOwn), ::testing::ExitedWithCode(1), "BadWindow");
    EXPECT_EXIT(failWhileOwned(Failing::hostsOwnInTheRange), ::testing::ExitedWithCode(1), "BadWindow");
    EXPECT_EXIT(failWhileOwned(Failing::hostsOwnNamingTheWindow), ::testing::ExitedWithCode(1), "BadWindow");
}

TEST(X11Services, ADroppedListIsTakenWholeOrRefused) {
    constexpr size_t kMax = 4u << 20;
    const std::string last = "file:///home/user/Important-File-Backup\r\n";
    // The second list's last line starts where the first 4 MiB leave only "file:///home/user/Import".
    for (const size_t bytes : {kMax, kMax - 24 + 41}) {
        SCOPED_TRACE(bytes);
        const bool taken = bytes <= kMax;
        Scene s;
        SdlWindow* w = openWindow(*s.ed);
        LUMO_NEED_WINDOW(w);
        // Filler lines of 64 bytes under /tmp (the first takes the odd bytes), then the one that counts.
        const size_t fill = bytes - last.size();
        std::string list;
        for (size_t i = 0; i < fill / 64; ++i)
            list += "file:///tmp/" + std::string(50 + (i == 0 ? fill % 64 : 0), 'a') + "\r\n";
        list += last;
        ASSERT_EQ(list.size(), bytes);
        DragSourcePeer source(x11WindowId(w->sdlWindow()), list, "copy", {rootOf(*w, 30, 50)},
                              DragSourcePeer::End::drop);
        ASSERT_TRUE(soon(*w, 20.0, [&] { return source.done(); }));
        ASSERT_EQ(source.statuses().size(), 1u);
        EXPECT_EQ(source.statuses()[0].accepted, taken);
        ASSERT_TRUE(source.finished);
        EXPECT_EQ(source.finish.accepted, taken);
        std::vector<std::string> drops;
        for (const std::string& l : s.rec->log)
            if (l.rfind("drop ", 0) == 0) drops.push_back(l.substr(l.rfind(' ') + 1));
        EXPECT_EQ(drops, taken ? std::vector<std::string>{"/home/user/Important-File-Backup"}
                               : std::vector<std::string>{});
    }
}

// A drag of a file out of the window, its picture changed on the way, dropped on a target whose
// proxy names itself, or names a window that does not (which must not be trusted).
TEST(X11Services, ADragOutTrustsAProxyOnlyWhenItNamesItselfAndShowsThePictureTheEditorGives) {
    DragWait wait(1000);  // a lost drag ends soon
    // A picture of one opaque colour, its hot spot at the top left.
    auto picture = [](int size, Color colour) {
        DragImage image;
        image.image.w = image.image.h = size;
        image.image.pixels.assign(size_t(size * size), colour);
        return image;
    };
    for (bool stray : {false, true}) {
        SCOPED_TRACE(stray);
        Scene s;
        SdlWindow* w = openWindow(*s.ed);
        LUMO_NEED_WINDOW(w);
        LUMO_NEED_XDOTOOL;
        DropTargetPeer target(100, 100, 200, 150, "copy", stray);
        ASSERT_TRUE(target.ready());
        ASSERT_TRUE(soon(*w, 3.0, [&] { return !grabWindow(w->sdlWindow()).empty(); }));  // on the screen
        ASSERT_TRUE(xdotool(at(*w, 30, 50) + " mousedown 1"));
        ASSERT_TRUE(soon(*w, 3.0, [&] { return !s.rec->log.empty() && s.rec->log.back().rfind("down", 0) == 0; }));
        // The picture's colour over the whole of a square at the pointer.
        auto shows = [&, at = rootOf(*w, 30, 50)](int size, Color colour) {
            Bitmap seen = grabScreen(w->sdlWindow(), at.first, at.second, size, size);
            return !seen.empty() && std::all_of(seen.pixels.begin(), seen.pixels.end(),
                                                [&](uint32_t p) { return p == (colour | 0xFF000000u); });
        };
        std::vector<DragResult> results;
        ASSERT_TRUE(s.ed->startFileDrag({"/tmp/a.vst3"}, picture(8, 0xFFFF8000u), false,
                                        [&](const DragResult& r) { results.push_back(r); }));
        EXPECT_TRUE(soon(*w, 3.0, [&] { return shows(8, 0xFFFF8000u); }));
        s.ed->updateFileDrag(picture(12, 0xFF00C040u));
        EXPECT_TRUE(soon(*w, 3.0, [&] { return shows(12, 0xFF00C040u); }));
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

// Notes each pointer event with its time on the editor clock (a leave has none: it notes 0).
struct Stamps : Widget {
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
    Scene s;
    Stamps* stamps = s.corner<Stamps>();
    SdlWindow* w = openWindow(*s.ed);
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
    SDL_Event wheel{};  // one step up
    wheel.wheel = {SDL_MOUSEWHEEL, 0, w->windowId(), 0, 0, 1, SDL_MOUSEWHEEL_NORMAL, 0.0f, 1.0f, 135, 45};
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"move", [&] { aged(mouseMotion(*w, 135, 45)); }},
        {"down", [&] { aged(mouseButton(*w, true, 135, 45)); }},
        {"up", [&] { aged(mouseButton(*w, false, 135, 45)); }},
        {"wheel", [&] { aged(wheel); }},
        {"magnify",
         [&] {
             for (const PinchStep& step : pinchFromEvents(135, 45, {1.0, 1.5}, false, false, serverTime() - kAgeMs))
                 w->x11()->pinch(step);
         }},
        {"leave",
         [&] {
             pushAndRun(*w, mouseMotion(*w, 135, 45));
             pushAndRun(*w, windowEvent(*w, SDL_WINDOWEVENT_LEAVE));
         }},
    };
    for (const auto& [name, send] : cases) {
        stamps->events.clear();
        double sent = Editor::now();
        send();
        auto it = std::find_if(stamps->events.begin(), stamps->events.end(),
                               [&](const auto& e) { return e.first == name; });
        ASSERT_TRUE(it != stamps->events.end()) << name << " never came";
        if (name != "leave") {
            EXPECT_NEAR(it->second, sent - kAgeMs / 1000.0, 0.15) << name;
        }
    }
}

}  // namespace
