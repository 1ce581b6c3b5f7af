#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "fakes.h"

using namespace lumo::gui;

namespace {

// Installs a factory for the test's length; the previous one comes back afterwards.
struct FactoryScope {
    explicit FactoryScope(PlatformWindow::Factory f) : old(PlatformWindow::setFactory(std::move(f))) {}
    ~FactoryScope() { PlatformWindow::setFactory(std::move(old)); }
    PlatformWindow::Factory old;
};

void hooks(Editor& e, const std::string& name, std::vector<std::string>& log) {
    for (int i = 1; i <= 2; ++i) {
        std::string n = name + std::to_string(i);
        e.addActivation([&log, n] { log.push_back("+" + n); }, [&log, n] { log.push_back("-" + n); });
    }
}

}  // namespace

TEST(EditorCurrent, EntryPointsSwitchAndRestoreWithHooks) {
    fakes::Host host;
    std::vector<std::string> log;
    Editor a(host, 10, 10), b(host, 10, 10);
    hooks(a, "A", log);
    hooks(b, "B", log);
    EXPECT_TRUE(log.empty());  // adding runs nothing

    a.makeCurrent();
    EXPECT_EQ(log, (std::vector<std::string>{"+A1", "+A2"}));
    log.clear();
    b.tick();  // an entry point of B while A is current
    EXPECT_EQ(Editor::current(), &a);
    EXPECT_EQ(log, (std::vector<std::string>{"-A2", "-A1", "+B1", "+B2", "-B2", "-B1", "+A1", "+A2"}));
}

TEST(EditorCurrent, EntryPointWithNothingCurrentLeavesItCurrent) {
    fakes::Host host;
    {
        Editor a(host, 10, 10);
        ASSERT_EQ(Editor::current(), nullptr);
        a.tick();
        EXPECT_EQ(Editor::current(), &a);
    }
    EXPECT_EQ(Editor::current(), nullptr);  // teardown leaves no dangling current editor
}

TEST(EditorCurrent, HandlerDestroyingTheEditorBeforeKeepsCurrent) {
    fakes::Host host;
    auto a = std::make_unique<Editor>(host, 10, 10);
    Editor b(host, 10, 10);
    a->makeCurrent();
    b.uiQueue()->post([&] { a.reset(); });
    b.tick();
    EXPECT_EQ(Editor::current(), &b);
}

TEST(EditorCurrent, HandlerDestroyingItsOwnEditorRunsNoHooksOfIt) {
    fakes::Host host;
    std::vector<std::string> log;
    Editor a(host, 10, 10);
    auto b = std::make_unique<Editor>(host, 10, 10);
    hooks(a, "A", log);
    hooks(*b, "B", log);
    a.makeCurrent();
    log.clear();
    Editor* raw = b.get();
    b->uiQueue()->post([&] { b.reset(); });
    bool later = false;  // taken with the same drain, but pending when the editor went
    b->uiQueue()->post([&] { later = true; });
    raw->tick();  // the scope around the drain must not touch B afterwards
    EXPECT_FALSE(later);
    EXPECT_EQ(Editor::current(), &a);
    EXPECT_EQ(log, (std::vector<std::string>{"-A2", "-A1", "+B1", "+B2", "+A1", "+A2"}));
}

TEST(EditorLifetime, TeardownBlursOnceAndRefusesLaterPosts) {
    struct Focus : Widget {
        Editor* ed = nullptr;
        Widget* other = nullptr;
        int blurs = 0;
        void onBlur() override {
            ++blurs;
            ed->setFocus(other);  // ignored while blurring
        }
    };
    fakes::Host host;
    auto editor = std::make_unique<Editor>(host, 10, 10);
    auto* f = editor->root()->add(std::make_unique<Focus>());
    f->ed = editor.get();
    f->other = editor->root()->add(std::make_unique<Widget>());
    editor->setFocus(f);
    int blursSeen = 0;
    struct Spy : Widget {
        int* seen;
        Focus* f;
        Spy(int* s, Focus* ff) : seen(s), f(ff) {}
        ~Spy() override { *seen = f->blurs; }  // root children go in reverse: the spy before f
    };
    editor->root()->add(std::make_unique<Spy>(&blursSeen, f));

    std::shared_ptr<UiQueue> queue = editor->uiQueue();
    bool ran = false;
    queue->post([&] { ran = true; });
    editor.reset();
    EXPECT_EQ(blursSeen, 1);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(queue->alive());
    EXPECT_FALSE(queue->post([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST(EditorWindow, WindowlessAnswers) {
    fakes::Host host;
    Editor e(host, 10, 10);
    std::vector<std::string> paths{"stale"};
    bool s = true, c = true, o = true;
    e.heldModifiers(s, c, o);
    EXPECT_FALSE(s || c || o);
    EXPECT_FALSE(e.openDialog("t", {{"x", {"a"}}}, false, paths));
    EXPECT_TRUE(paths.empty());
    std::string path;
    EXPECT_FALSE(e.fileDialog(false, "", "", "", path));
    EXPECT_FALSE(e.saveDialog("", {}, "", path));
    EXPECT_FALSE(e.folderDialog("", path));
    EXPECT_EQ(e.popupMenu({}, 0, 0), -1);
    EXPECT_EQ(e.systemScale(), 1.0);
    EXPECT_FALSE(e.popupsEscape());
    EXPECT_FALSE(e.windowActive() || e.windowMaximized() || e.windowFullScreen());
    EXPECT_FALSE(e.startFileDrag({"a"}, DragImage{}, false));

    // The headless window opens nothing.
    EXPECT_FALSE(e.attach(nullptr));
    EXPECT_EQ(e.window(), nullptr);
    e.runStandalone("t");
    EXPECT_EQ(e.window(), nullptr);
}

TEST(EditorWindow, AttachAndForwardedOperations) {
    fakes::Host host;
    fakes::Log log = fakes::newLog();
    bool accept = false;
    FactoryScope scope([&](Editor&) {
        auto w = std::make_unique<fakes::Window>(log);
        w->accepts = accept;
        return w;
    });
    Editor e(host, 40, 30);
    e.setScale(2.0);
    EXPECT_FALSE(e.attach(nullptr));  // refused: no window kept
    EXPECT_EQ(e.window(), nullptr);
    accept = true;
    ASSERT_TRUE(e.attach(nullptr));
    EXPECT_EQ(log->back(), "attach 80x60");

    std::vector<std::string> paths;
    EXPECT_TRUE(e.openDialog("t", {{"doc", {"a", "b"}}, {"img", {"c"}}}, true, paths));
    EXPECT_EQ(paths, (std::vector<std::string>{"file.a", "file.b", "file.c"}));
    EXPECT_EQ(e.popupMenu({}, 0, 0), 7);

    log->clear();
    e.setWindowTitle("T", false);
    e.setWindowTitle("T", false);  // unchanged: the window is not asked again
    e.setWindowTitle("T", true);
    EXPECT_EQ(*log, (std::vector<std::string>{"title T", "title T"}));

    EXPECT_EQ(Editor::systemButtonsWidth(), 78);
    Editor::setSystemButtonsHidden(true);
    EXPECT_EQ(Editor::systemButtonsWidth(), 0);
    Editor::setSystemButtonsHidden(false);

    log->clear();
    e.detach();
    EXPECT_EQ(*log, (std::vector<std::string>{"close", "window destroyed"}));
}

TEST(EditorWindow, WakeFollowsTheAttachedWindow) {
    fakes::Host host;
    fakes::Log log = fakes::newLog();
    Editor e(host, 10, 10);
    auto first = std::make_unique<fakes::Window>(log);
    fakes::Window* w1 = first.get();
    e.attachWindow(std::move(first));
    e.uiQueue()->post([] {});
    e.uiQueue()->post([] {});
    EXPECT_EQ(w1->wakes.load(), 1);  // one wake per batch
    e.drainPosted();
    e.uiQueue()->post([] {});
    EXPECT_EQ(w1->wakes.load(), 2);

    // Replacing the window re-arms the wake for the new one; pending work wakes it at once.
    // Popups the old window showed close before it goes, and frames start afresh on the new one.
    w1->frames = true;
    e.requestFrame();
    ASSERT_TRUE(e.framesRunning());
    e.openPopup(std::make_unique<Widget>(), PopupOptions{});
    auto second = std::make_unique<fakes::Window>(log);
    fakes::Window* w2 = second.get();
    e.attachWindow(std::move(second));
    EXPECT_EQ(w2->wakes.load(), 1);
    e.drainPosted();
    EXPECT_TRUE(e.overlays().empty());
    int surfaceGone = fakes::indexOf(log, "surface destroyed");
    ASSERT_GE(surfaceGone, 0);
    EXPECT_LT(surfaceGone, fakes::indexOf(log, "window destroyed"));
    w2->frames = true;
    e.requestFrame();
    EXPECT_EQ(std::count(log->begin(), log->end(), "startFrames"), 2);

    // Workers posting while windows are replaced never reach a destroyed one.
    std::atomic<bool> stop{false};
    std::atomic<int> posted{0};
    std::shared_ptr<UiQueue> q = e.uiQueue();
    std::thread worker([&] {
        while (!stop) {
            if (q->post([] {})) ++posted;
        }
    });
    for (int i = 0; i < 2000 || (posted < 100 && i < 2000000); ++i) {
        e.attachWindow(std::make_unique<fakes::Window>(log));
        e.drainPosted();
    }
    e.attachWindow(nullptr);
    stop = true;
    worker.join();
    e.drainPosted();
    EXPECT_GT(posted.load(), 0);
}

TEST(EditorStandalone, LoopTicksClosesAndTearsDownPopupsBeforeTheWindow) {
    fakes::Host host;
    host.standalone = true;
    fakes::Log log = fakes::newLog();
    Editor* editorPtr = nullptr;
    int ran = 0;
    FactoryScope scope([&](Editor&) {
        auto w = std::make_unique<fakes::Window>(log);
        w->scale = 2.0;
        w->loop = [&] {
            for (int i = 0; i < 3; ++i) {
                editorPtr->uiQueue()->post([&] { ++ran; });
                editorPtr->tick();
            }
            editorPtr->openPopup(std::make_unique<Widget>(), PopupOptions{});
            log->push_back("loop ends");
        };
        return w;
    });
    Editor e(host, 100, 50);
    editorPtr = &e;
    e.setWindowTitle("Title", false);
    e.setResizable(50, 40, 0, 0);
    e.runStandalone("App");

    EXPECT_EQ(ran, 3);
    EXPECT_EQ(e.window(), nullptr);
    EXPECT_EQ(e.scale(), 2.0);
    int open = fakes::indexOf(log, "open App 200x100");
    int title = fakes::indexOf(log, "title Title");
    int limits = fakes::lastIndexOf(log, "limits 50 40 0 0");
    int hide = fakes::indexOf(log, "surface hide");
    int surfaceGone = fakes::indexOf(log, "surface destroyed");
    int windowGone = fakes::indexOf(log, "window destroyed");
    ASSERT_GE(open, 0);
    EXPECT_LT(open, title);
    EXPECT_LT(title, limits);
    EXPECT_LT(limits, fakes::indexOf(log, "loop"));
    EXPECT_LT(fakes::indexOf(log, "loop ends"), hide);
    EXPECT_LT(hide, surfaceGone);
    EXPECT_LT(surfaceGone, windowGone);
    EXPECT_TRUE(e.overlays().empty());
}

TEST(EditorStandalone, TeardownInsideTheLoopDestroysTheEditor) {
    fakes::Host host;
    host.standalone = true;
    fakes::Log log = fakes::newLog();
    auto editor = std::make_unique<Editor>(host, 20, 20);
    Editor* raw = editor.get();
    FactoryScope scope([&](Editor&) {
        auto w = std::make_unique<fakes::Window>(log);
        w->loop = [log, raw] {
            fakes::Log keep = log;  // the closure goes with the window
            raw->openPopup(std::make_unique<Widget>(), PopupOptions{});
            raw->tick();
            // The window closed with a terminate pending: the teardown runs once, then the
            // terminate is confirmed. This window is gone afterwards.
            std::function<void()> teardown = std::move(Editor::standaloneTeardown());
            Editor::standaloneTeardown() = nullptr;
            if (teardown) teardown();
            keep->push_back("terminate");
        };
        return w;
    });
    Editor::standaloneTeardown() = [&] { editor.reset(); };
    raw->runStandalone("App");
    Editor::standaloneTeardown() = nullptr;  // what main does after the loop
    EXPECT_EQ(editor, nullptr);
    EXPECT_LT(fakes::indexOf(log, "surface destroyed"), fakes::indexOf(log, "window destroyed"));
    EXPECT_LT(fakes::indexOf(log, "window destroyed"), fakes::indexOf(log, "terminate"));
}

TEST(EditorStandalone, BlurThatDestroysTheEditorWhilePopupsClose) {
    // Closing the popups before the window goes may run a handler that destroys the editor: in
    // detach and at the end of the standalone run, nothing of the editor is touched afterwards.
    struct Blurs : Widget {
        std::function<void()> blur;
        bool wantsFocus() const override { return true; }
        void onBlur() override { blur(); }
    };
    for (bool standalone : {false, true}) {
        fakes::Host host;
        fakes::Log log = fakes::newLog();
        auto editor = std::make_unique<Editor>(host, 20, 20);
        Editor* raw = editor.get();
        auto open = [&] {
            auto w = std::make_unique<Blurs>();
            w->blur = [&] { editor.reset(); };
            Widget* field = w.get();
            raw->openPopup(std::move(w), PopupOptions{});
            raw->setFocus(field);
        };
        FactoryScope scope([&](Editor&) {
            auto w = std::make_unique<fakes::Window>(log);
            w->loop = open;
            return w;
        });
        if (standalone) {
            raw->runStandalone("App");
        } else {
            ASSERT_TRUE(raw->attach(nullptr));
            open();
            raw->detach();
        }
        EXPECT_EQ(editor, nullptr) << standalone;
        EXPECT_GE(fakes::indexOf(log, "window destroyed"), 0) << standalone;
    }
}

TEST(EditorStandalone, RefusedOpenDropsTheWindow) {
    fakes::Host host;
    fakes::Log log = fakes::newLog();
    FactoryScope scope([&](Editor&) {
        auto w = std::make_unique<fakes::Window>(log);
        w->accepts = false;
        return w;
    });
    Editor e(host, 10, 10);
    e.runStandalone("x");
    EXPECT_EQ(e.window(), nullptr);
    EXPECT_EQ(fakes::indexOf(log, "loop"), -1);
    EXPECT_GE(fakes::indexOf(log, "window destroyed"), 0);
}

TEST(EditorTick, PostedWorkRunsInOrderAndOpenFilesWait) {
    fakes::Host host;
    Editor e(host, 10, 10);
    std::vector<int> order;
    e.uiQueue()->post([&] {
        order.push_back(1);
        e.uiQueue()->post([&] { order.push_back(4); });  // waits for the next tick
    });
    e.uiQueue()->post([&] { order.push_back(2); });
    e.uiQueue()->post([&] { order.push_back(3); });
    e.tick();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    e.tick();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));

    e.openFiles({"a"});
    e.tick();  // no callback yet: the paths wait
    std::vector<std::string> got;
    e.onOpenFiles = [&](const std::vector<std::string>& p) { got = p; };
    e.openFiles({"b"});
    e.tick();
    EXPECT_EQ(got, (std::vector<std::string>{"a", "b"}));
}

TEST(EditorInput, PickAndWindowPart) {
    fakes::Host host;
    Editor e(host, 100, 100);
    e.setScale(2.0);
    Widget* caption = e.root()->add(std::make_unique<Widget>());
    caption->bounds = Rect{0, 0, 100, 10};
    caption->windowPart = kWindowPartCaption;
    EXPECT_EQ(e.windowPartAt(150, 15), kWindowPartCaption);
    EXPECT_EQ(e.windowPartAt(150, 25), 0);

    // An overlay containing the point wins, and its widget answers when no child does.
    auto ov = std::make_unique<Widget>();
    ov->bounds = Rect{40, 0, 20, 20};
    Widget* overlay = ov.get();
    e.pushOverlay(std::move(ov), false);
    Point local;
    EXPECT_EQ(e.pick(100, 10, local), overlay);
    EXPECT_EQ(local.x, 10);
    EXPECT_EQ(local.y, 5);
    EXPECT_EQ(e.windowPartAt(100, 10), 0);
}
