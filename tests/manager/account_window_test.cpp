// The settings window against a stand-in host: its parts by the host's answers, hits, what each
// click asks of the host, the pointer, the window after the main window is gone, and long folder
// paths cut from the front.
#include <gtest/gtest.h>

#include <map>

#include "manager/windows/settings_window.h"
#include "manager/pixel_look/primitives.h"
#include "tests/manager/account_window_support.h"
#include "tests/manager/parts_support.h"
#include "tests/manager/pixel_support.h"

using accounttest::FakeHost;
using partstest::cx;
using partstest::cy;
using partstest::hoverName;
using partstest::nameAt;
using partstest::pressedName;
using tqapp::AccountPart;
using tqapp::AccountWindow;
using tqapp::accountPart;

namespace {

lumo::gui::MouseEvent at(int x, int y) {
    lumo::gui::MouseEvent e{};
    e.x = x;
    e.y = y;
    return e;
}

std::map<std::string, bool> enabledById(const AccountWindow& w) {
    std::map<std::string, bool> out;
    const tqapp::PartTable<tqapp::AccountPartId> table = w.parts();
    for (const auto& p : table.parts()) out[AccountWindow::partName(p.id)] = p.enabled;
    return out;
}

TEST(AccountWindow, PartsFollowTheHostsAnswers) {
    struct Case {
        const char* name;
        bool busy, loading;
        std::string update, overridden;
        std::string managerId, managerLabel;
        std::map<std::string, bool> enabled;
    };
    const Case cases[] = {
        {"idle", false, false, "", "", "check", "CHECK NOW",
         {{"x", true}, {"scope:user", true}, {"scope:system", true}, {"change:vst3", true}, {"reset:vst3", false},
          {"change:clap", true}, {"reset:clap", false}, {"check", true}, {"logs", true}, {"notices", true}}},
        {"clap moved", false, false, "", "clap", "check", "CHECK NOW",
         {{"x", true}, {"scope:user", true}, {"scope:system", true}, {"change:vst3", true}, {"reset:vst3", false},
          {"change:clap", true}, {"reset:clap", true}, {"check", true}, {"logs", true}, {"notices", true}}},
        {"update", false, false, "9.0.0", "", "update", "UPDATE",
         {{"x", true}, {"scope:user", true}, {"scope:system", true}, {"change:vst3", true}, {"reset:vst3", false},
          {"change:clap", true}, {"reset:clap", false}, {"update", true}, {"logs", true}, {"notices", true}}},
        {"loading", false, true, "9.0.0", "vst3", "update", "UPDATE",
         {{"x", true}, {"scope:user", true}, {"scope:system", true}, {"change:vst3", true}, {"reset:vst3", true},
          {"change:clap", true}, {"reset:clap", false}, {"update", false}, {"logs", true}, {"notices", true}}},
        {"busy", true, false, "", "vst3", "check", "CHECK NOW",
         {{"x", true}, {"scope:user", false}, {"scope:system", false}, {"change:vst3", false}, {"reset:vst3", false},
          {"change:clap", false}, {"reset:clap", false}, {"check", false}, {"logs", true}, {"notices", true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost fake;
        fake.busy = c.busy;
        fake.loading = c.loading;
        fake.update = c.update;
        if (!c.overridden.empty()) fake.layout.folders[c.overridden] = "/elsewhere";
        fake.layout.folders["au"] = "";  // an empty override is none
        auto w = fake.window();
        EXPECT_EQ(enabledById(*w), c.enabled);
        const tqapp::PartTable<tqapp::AccountPartId> table = w->parts();
        const auto& parts = table.parts();
        ASSERT_EQ(parts.size(), 10u);
        EXPECT_EQ(AccountWindow::partName(parts[7].id), c.managerId);
        EXPECT_EQ(AccountWindow::label(parts[7].id), c.managerLabel);
        // A disabled part hits nothing; an enabled one hits itself; the describe list holds only enabled parts.
        lumo::gui::WidgetInfo info;
        w->describe(info);
        size_t described = 0;
        for (const auto& p : parts) {
            const std::string name = AccountWindow::partName(p.id);
            EXPECT_EQ(nameAt(*w, cx(p.rect), cy(p.rect)), p.enabled ? name : "") << name;
            described += p.enabled;
        }
        ASSERT_EQ(info.parts.size(), described);
        for (const auto& part : info.parts) EXPECT_EQ(part.label.rfind("acct:", 0), 0u);
        EXPECT_EQ(nameAt(*w, 150, 60), "");  // the empty panel
    }
}

TEST(AccountWindow, EachClickAsksTheHostOnce) {
    const std::pair<tqapp::AccountPartId, std::string> cases[] = {
        {accountPart(AccountPart::Scope, int32_t(tqm::Scope::User)), "scope user"},
        {accountPart(AccountPart::Scope, int32_t(tqm::Scope::System)), "scope system"},
        {accountPart(AccountPart::Change, 1), "folder clap"},
        {accountPart(AccountPart::Reset, 0), "reset vst3"},
        {accountPart(AccountPart::Check), "reload"},
        {accountPart(AccountPart::Update), "self-update"},
        {accountPart(AccountPart::Logs), "log"},
        {accountPart(AccountPart::Notices), "notices"},
        {accountPart(AccountPart::Change, 7), ""},  // no such format
        {accountPart(AccountPart::Close), ""},       // without an editor there is nothing to close
    };
    for (const auto& [id, call] : cases) {
        FakeHost fake;
        auto w = fake.window();
        w->press(id);
        EXPECT_EQ(fake.calls, call.empty() ? std::vector<std::string>{} : std::vector<std::string>{call})
            << AccountWindow::partName(id);
    }
}

TEST(AccountWindow, AfterTheMainWindowIsGoneOnlyCloseRemains) {
    FakeHost fake;
    int closed = 0;
    {
        auto w = fake.window();
        w->onClosed = [&] { ++closed; };
        fake.alive.reset();
        ASSERT_EQ(w->parts().parts().size(), 1u);
        EXPECT_EQ(AccountWindow::partName(w->parts().parts()[0].id), "x");
        EXPECT_EQ(nameAt(*w, cx(AccountWindow::kClose), cy(AccountWindow::kClose)), "x");
        EXPECT_EQ(nameAt(*w, cx(lumo::gui::Rect{8, 241, 139, 15}), 248), "");
        for (const AccountPart kind : {AccountPart::Scope, AccountPart::Change, AccountPart::Check, AccountPart::Logs,
                                       AccountPart::Notices})
            w->press(accountPart(kind, 1));
        EXPECT_TRUE(fake.calls.empty());
        // Nothing is drawn, not even the frame.
        lumo::gui::Canvas canvas = pixeltest::paper(300, 272);
        w->draw(pixeltest::paintOf(canvas, 1.0));
        EXPECT_EQ(pixeltest::inkBox(canvas).w, 0);
    }
    EXPECT_EQ(closed, 0);  // the view it would clear is gone

    FakeHost live;
    {
        auto w = live.window();
        w->onClosed = [&] { ++closed; };
    }
    EXPECT_EQ(closed, 1);
}

TEST(AccountWindow, AClickNeedsPressAndReleaseOnTheSamePart) {
    FakeHost fake;
    auto w = fake.window();
    const lumo::gui::Rect logs{8, 241, 139, 15}, notices{153, 241, 139, 15};

    // Pressed, moved off and back: the pressed part looks hovered only while the pointer is over it.
    EXPECT_TRUE(w->onMouseDown(at(cx(logs), cy(logs))));
    EXPECT_EQ(pressedName(*w), "logs");
    EXPECT_FALSE(w->moving);
    w->onMouseDrag(at(cx(notices), cy(notices)));
    EXPECT_EQ(hoverName(*w), "");
    w->onMouseDrag(at(cx(logs), cy(logs)));
    EXPECT_EQ(hoverName(*w), "logs");
    w->onMouseUp(at(cx(logs), cy(logs)));
    EXPECT_EQ(fake.calls, std::vector<std::string>{"log"});
    EXPECT_EQ(pressedName(*w), "");

    // Released on another part: nothing; the hover follows the pointer again.
    w->onMouseDown(at(cx(logs), cy(logs)));
    w->onMouseUp(at(cx(notices), cy(notices)));
    EXPECT_EQ(fake.calls.size(), 1u);
    EXPECT_EQ(hoverName(*w), "notices");
    w->onMouseLeave();
    EXPECT_EQ(hoverName(*w), "");
    w->onMouseMove(at(cx(notices), cy(notices)));
    EXPECT_EQ(hoverName(*w), "notices");

    // A press on the bar outside the close box starts a move; on the close box it does not.
    w->onMouseDown(at(150, 10));
    EXPECT_TRUE(w->moving);
    EXPECT_EQ(w->pressX, 150);
    w->onMouseUp(at(150, 10));
    EXPECT_FALSE(w->moving);
    w->onMouseDown(at(cx(AccountWindow::kClose), cy(AccountWindow::kClose)));
    EXPECT_FALSE(w->moving);
    EXPECT_EQ(pressedName(*w), "x");

    // While a job runs a press on a scope row hits nothing, so its release clicks nothing.
    fake.busy = true;
    w->onMouseDown(at(50, 103));
    EXPECT_EQ(pressedName(*w), "");
    w->onMouseUp(at(50, 103));
    EXPECT_EQ(fake.calls.size(), 1u);
}

TEST(AccountWindow, LongFoldersAreCutFromTheFront) {
    for (double scale : {1.0, 2.0}) {
        const lumo::gui::BitmapFont* font = tqapp::dev::font(scale, false, false);
        ASSERT_NE(font, nullptr);
        const std::string path = "/home/someone/Library/Audio/Plug-Ins/VST3/Ardune Systems";
        const int whole = font->width(path), dots = font->width("...");
        struct Case {
            int room;
            std::string want;  // empty: cut from the front, ending as the path ends
        };
        const Case cases[] = {
            {whole, path},         {whole + 50, path}, {whole - 1, ""}, {dots + font->width("s"), "...s"},
            {dots, "..."},         {dots - 1, "..."},  {1, "..."},       {0, "..."},
            {-5, "..."},  // no room at all: it still ends
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << scale << " room " << c.room);
            const std::string got = tqapp::shortenPath(*font, path, c.room);
            if (!c.want.empty()) {
                EXPECT_EQ(got, c.want);
                continue;
            }
            ASSERT_EQ(got.rfind("...", 0), 0u);
            EXPECT_LE(font->width(got), c.room);
            EXPECT_EQ(path.substr(path.size() - (got.size() - 3)), got.substr(3));
            // The longest such tail: one more character would not fit.
            EXPECT_GT(font->width("..." + path.substr(path.size() - (got.size() - 2))), c.room);
        }
        // A path of many-byte characters is cut between characters, never inside one.
        const std::string accented = "/M\xC3\xBCsik/\xC3\xA9t\xC3\xA9/plug-ins";
        for (int room = 0; room < font->width(accented); ++room) {
            const std::string got = tqapp::shortenPath(*font, accented, room);
            ASSERT_GE(got.size(), 3u);
            if (got.size() > 3) {
                EXPECT_NE(static_cast<unsigned char>(got[3]) & 0xC0, 0x80) << room;
            }
        }
        // A very long path ends too, and quickly: each step drops one character.
        const std::string deep(20000, 'a');
        EXPECT_EQ(tqapp::shortenPath(*font, deep, 0), "...");
        EXPECT_LE(font->width(tqapp::shortenPath(*font, deep, 300)), 300);
    }
}

}  // namespace

// Whatever moves a part in the table moves its click, its description and its painting with it.
TEST(AccountWindow, PartsFollowTheTable) {
    const struct {
        const char* part;
        lumo::gui::Rect to;
        const char* call;
    } cases[] = {
        {"logs", {8, 56, 139, 15}, "log"},
        {"scope:system", {8, 40, 284, 13}, "scope system"},
        {"change:clap", {100, 60, 52, 15}, "folder clap"},
    };
    for (const auto& c : cases) {
        FakeHost fake;
        partstest::Moved<AccountWindow> w(c.part, c.to, fake.host(), fake.alive);
        const auto from = partstest::partNamed(*fake.window(), c.part);
        ASSERT_TRUE(from) << c.part;
        partstest::expectPartFollowsTheTable(w, std::string("acct:") + c.part, c.part, from->rect, c.to,
                                             [&] { return fake.calls == std::vector<std::string>{c.call}; });
    }
}
