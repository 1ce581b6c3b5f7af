// The row list of the main window with a model loaded from a signed catalog: order by each column
// both ways, the APPS and PLUGINS headers, selection by keys and presses, wheel scrolling, and the
// status line through loading, a failed catalog, a running job and a note.
#include <gtest/gtest.h>

#include "tests/manager/view_fixture.h"

using namespace testsupport;
using tqm::State;

namespace {

class ViewList : public ViewTest {
protected:
    ~ViewList() override { close(); }  // the window and its load go before the server they talk to

    // Serves every file of the catalog folder from the loopback server.
    void serveSource() {
        serveFolder(server, catalog.source());
        source = server.url();
    }

    // A window in harness mode on the folder catalog, loaded inline.
    void openLoaded(const std::string& text) {
        catalog.publish(text);
        open({"--steps"});
        ASSERT_FALSE(view->model()->loading);
        ASSERT_TRUE(view->model()->catalog && view->model()->catalog->ok) << view->model()->catalog->note;
    }

    // Replaces the model's rows and lists them again.
    void setRows(std::vector<tqm::Row> rows) {
        view->model()->rows = std::move(rows);
        view->changed();
    }

    lumo::gui::MouseEvent at(int x, int y) const {
        lumo::gui::MouseEvent e;
        e.x = x;
        e.y = y;
        return e;
    }
    // A point inside display line i.
    lumo::gui::MouseEvent onLine(int i) const {
        return at(view->rowFirstX() + 20, view->rowFirstY() + i * view->rowPitch() - view->scroll() + 5);
    }
    bool key(lumo::gui::Key k) {
        lumo::gui::KeyEvent e;
        e.key = k;
        return view->onKey(e);
    }

    LoopbackServer server;
};

TEST_F(ViewList, StatusLineThroughALoadOverTheLoopbackServer) {
    ASSERT_TRUE(server.ok());
    catalog.publish(catalogText("1.0.0", 7));
    serveSource();
    open();
    EXPECT_EQ(view->statusText(), "Loading the catalog...");
    EXPECT_TRUE(view->displayList().empty());
    ASSERT_TRUE(viewLoaded());
    ASSERT_TRUE(view->model()->catalog->ok) << view->model()->catalog->note;
    EXPECT_EQ(view->statusText(), "Catalog 7  -  2 plugins, 1 app  -  up to date");
    EXPECT_EQ(shown(), (std::vector<std::string>{"APPS", "studio", "PLUGINS", "delay", "synth"}));
    EXPECT_EQ(view->selectedId(), "studio");  // the first row, headers skipped

    // The automation description carries the status line and one part per visible row.
    lumo::gui::WidgetInfo info;
    view->describe(info);
    EXPECT_EQ(info.value, view->statusText());
    std::vector<std::string> rowParts;
    for (const auto& part : info.parts)
        if (part.label.rfind("row:", 0) == 0) rowParts.push_back(part.label);
    EXPECT_EQ(rowParts, (std::vector<std::string>{"row:1", "row:3", "row:4"}));

    // A running job outranks a note, which outranks everything else.
    view->model()->say("Studio is not there yet");
    EXPECT_EQ(view->statusText(), "Studio is not there yet");
    view->model()->busy = true;
    view->model()->jobTitle = "Updating Synth";
    view->model()->progressText = "Downloading 40 %";
    EXPECT_EQ(view->statusText(), "Updating Synth: Downloading 40 %");
    const struct {
        const char* text;
        bool waiting;
        const char* want;
    } progress[] = {
        {"Downloading 40 %", false, "40 %"}, {"Waiting for permission", true, "Waiting"}, {"", false, "Working"},
        {"Installing", false, "Installing"}, {"Downloading", false, "Downloading"},
    };
    for (const auto& [text, waiting, want] : progress) {
        view->model()->progressText = text;
        view->model()->waiting = waiting;
        view->model()->fraction = 0.4;  // the job's share done, whatever the package's
        EXPECT_EQ(view->shortProgress(), want) << text;
    }
    view->model()->busy = false;
    view->model()->note.clear();

    // The same catalog from the cache, offline.
    open({"--offline"});
    ASSERT_TRUE(viewLoaded());
    EXPECT_EQ(view->statusText(), "Catalog 7  -  2 plugins, 1 app  -  up to date  (offline)");
}

// With a catalog cached, the status line tells a server that cannot be reached from one whose
// catalog was refused: only the first is "offline", and neither hides behind the manager's update.
// That is offered (by the line and at start) only from a catalog its server gave now.
TEST_F(ViewList, StatusLineSaysWhyTheCachedCatalogIsShown) {
    ASSERT_TRUE(server.ok());
    const std::string gone = LoopbackServer().url(),
                      refused = ", server's refused: the catalog's signature does not match (changed after signing, "
                                "or signed by another key)";
    struct Case {
        std::string latest;  // of the manager in the catalog cached and served
        bool reached, tampered;
        std::string want;
    };
    const Case cases[] = {
        {"0.3.0", false, false, "Catalog 7  -  2 plugins, 1 app  -  up to date  (offline)"},
        {"0.3.0", true, true, "Cached catalog 7" + refused},
        {"0.3.0", true, false, "Catalog 7  -  2 plugins, 1 app  -  up to date"},
        {"0.4.0", false, false, "Manager 0.4.0 is needed to install plugins  (offline)"},
        {"0.4.0", true, true, "Cached catalog 8" + refused},
        {"0.4.0", true, false, "Manager 0.4.0 is available: click here to update (needed to install plugins)"},
    };
    std::string text, cached;
    for (const Case& c : cases) {
        if (cached != c.latest) {  // served and cached first
            cached = c.latest;
            text = catalogText("1.0.0", c.latest == "0.3.0" ? 7 : 8, c.latest, "0.3.5");
            catalog.publish(text);
            serveSource();
            open();
            ASSERT_TRUE(viewLoaded() && view->model()->catalog->ok && !view->model()->catalog->fromCache);
        }
        const std::string served = server.url();
        source = c.reached ? served : gone;
        server.serveFile("catalog.json", text + (c.tampered ? " " : ""));
        open();
        ASSERT_TRUE(viewLoaded()) << c.want;
        EXPECT_EQ(view->statusText(), c.want);
        // The update opens at start, and a click on the line opens it, only where the line offers it.
        const bool offered = c.want.find("click here") != std::string::npos;
        EXPECT_EQ(view->openJobWindow() != nullptr, offered) << c.want;
        if (!offered) view->click(tqapp::mainPart(tqapp::MainPart::Status));
        EXPECT_EQ(view->openJobWindow() != nullptr, offered) << c.want;
        source = served;
    }
}

// Another copy of the manager installs into the same folders: this window's rows show it once the
// window is activated again, a plug-in (installed.json) as an app (apps.json), and a row whose own
// job failed loses its error once the other copy has recorded it. Nothing is read again when
// nothing changed, nor while a job of its own runs (its end reads the receipts anyway).
TEST_F(ViewList, ActivationShowsWhatAnotherCopyInstalled) {
    openLoaded(catalogText("1.0.0", 7));
    const auto state = [&](const std::string& id) { return std::ranges::find(view->model()->rows, id, &tqm::Row::id)->state; };
    ASSERT_EQ(state("delay"), State::Absent);
    const uint32_t read = view->model()->rowsGeneration;
    editor->windowActivated();
    EXPECT_EQ(view->model()->rowsGeneration, read);

    // This window's install of delay fails: the package it finds is not the one listed.
    const std::string package = catalog.source() + "/plugins/Delay-1.0.0.vst3.zip", bytes = readFile(package);
    ASSERT_TRUE(writeFile(package, "not the package"));
    view->model()->run({{"install", "delay", "vst3"}}, "Job", "Done");
    ASSERT_TRUE(pumpWhile([&] { return view->model()->busy; }));
    ASSERT_EQ(view->model()->failed.count("delay"), 1u);
    editor->windowActivated();  // its own end read the receipts: the error stays
    EXPECT_EQ(view->model()->failed.count("delay"), 1u);
    const std::string error = view->model()->note;
    ASSERT_NE(view->statusText().find(error), std::string::npos);
    ASSERT_TRUE(writeFile(package, bytes));

    ready(config());  // the other copy, on a queue of its own
    for (const tqm::Task& task : {tqm::Task{"install", "delay", "vst3"}, tqm::Task{"install", "studio", "app"}}) {
        ASSERT_TRUE(runJob({task}));
        ASSERT_TRUE(model->ok) << logText();
        for (const bool busy : {true, false}) {
            view->model()->busy = busy;
            editor->windowActivated();
            EXPECT_EQ(state(task.id), busy ? State::Absent : State::Installed) << task.id << ", busy: " << busy;
        }
    }
    EXPECT_EQ(view->model()->failed.count("delay"), 0u);
    EXPECT_EQ(view->statusText().find(error), std::string::npos) << "the status line still says the old error";
}

TEST_F(ViewList, StatusLineOfAFailedCatalog) {
    ASSERT_TRUE(server.ok());
    catalog.publish(catalogText("1.0.0", 7));
    writeFile(catalog.source() + "/catalog.json", readFile(catalog.source() + "/catalog.json") + " ");
    serveSource();
    open();
    ASSERT_TRUE(viewLoaded());
    const std::string note = view->model()->catalog->note;
    ASSERT_FALSE(view->model()->catalog->ok);
    EXPECT_FALSE(note.empty());
    EXPECT_EQ(view->statusText(), "No catalog: " + note + " (installed plugins only)");
    EXPECT_TRUE(view->displayList().empty());  // nothing installed, nothing listed

    view->model()->catalog.reset();
    EXPECT_EQ(view->statusText(), "No catalog: not loaded (installed plugins only)");
}

TEST_F(ViewList, StatusLineOffersANewerManager) {
    struct Case {
        std::string latest, minimum, want;
    };
    const Case cases[] = {
        {"0.3.0", "", "Catalog 1  -  2 plugins, 1 app  -  up to date"},
        {"0.4.0", "", "Manager 0.4.0 is available: click here to update"},
        {"0.4.0", "0.3.5", "Manager 0.4.0 is available: click here to update (needed to install plugins)"},
    };
    for (const Case& c : cases) {
        openLoaded(catalogText("1.0.0", 1, c.latest, c.minimum));
        EXPECT_EQ(view->statusText(), c.want);
    }
}

TEST_F(ViewList, StatusLineNamesACopyInstalledByHand) {
    openLoaded(catalogText("1.0.0", 3));
    std::vector<tqm::Row> rows = view->model()->rows;
    for (tqm::Row& r : rows)
        if (r.id == "synth") r.formats["vst3"].copies = {"/Library/Audio/Plug-Ins/VST3/Synth.vst3"};
    setRows(rows);
    const std::string summary = "Catalog 3  -  2 plugins, 1 app  -  up to date";
    EXPECT_EQ(view->statusText(), summary);  // studio is selected
    view->selectIndex(4);
    EXPECT_EQ(view->selected()->id, "synth");
    EXPECT_EQ(view->statusText(),
              "Synth is also installed by hand (/Library/Audio/Plug-Ins/VST3/Synth.vst3): hosts see both");
    view->selectIndex(3);
    EXPECT_EQ(view->statusText(), summary);
}

TEST_F(ViewList, SortsByEachColumnBothWays) {
    openLoaded(catalogText("1.0.0"));
    struct Case {
        const char* column;
        bool ascending;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"name", true, {"a", "b", "d", "e", "c", "f"}},
        {"name", false, {"f", "c", "e", "d", "b", "a"}},
        {"version", true, {"c", "b", "f", "a", "d", "e"}},
        {"version", false, {"e", "d", "a", "b", "f", "c"}},  // equal versions stay in name order
        {"status", true, {"b", "a", "e", "f", "c", "d"}},
        {"status", false, {"d", "c", "a", "e", "f", "b"}},
        {"size", true, {"a", "b", "d", "e", "c", "f"}},  // an unknown column: name ascending
        {"size", false, {"a", "b", "d", "e", "c", "f"}},
    };
    for (const Case& c : cases) {
        view->setSort(c.column, c.ascending);
        setRows({row("f", "zulu", State::Installed, "1.2"), row("a", "alpha", State::Installed, "1.10b"),
                 row("b", "Beta", State::Update, "1.2"), row("c", "gamma", State::Absent, ""),
                 row("d", "delta", State::Delisted, "2"), row("e", "Echo", State::Installed, "2.0")});
        EXPECT_EQ(shown(), c.want) << c.column << (c.ascending ? " up" : " down");
    }
    // Rows equal under every rule keep the model's order; a catalog entry's version counts first.
    view->setSort("name", true);
    setRows({row("x2", "Same"), row("x1", "same"), row("x3", "SAME")});
    EXPECT_EQ(shown(), (std::vector<std::string>{"x2", "x1", "x3"}));
    std::vector<tqm::Row> rows = {row("old", "Old", State::Installed, "1.0"), row("new", "New", State::Installed, "3.0")};
    const tqm::Plugin* synth = view->model()->catalog->catalog.find("synth");  // version 1.0.0
    rows[1].entry = synth;
    view->setSort("version", view->sortAscending());
    setRows(rows);
    EXPECT_EQ(shown(), (std::vector<std::string>{"old", "new"}));  // 1.0 before 1.0.0
}

TEST_F(ViewList, HeadersSplitAppsFromPlugins) {
    openLoaded(catalogText("1.0.0"));
    struct Case {
        std::vector<tqm::Row> rows;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {{row("p2", "Zed"), row("a1", "App", State::Absent, "", 1), row("p1", "Amp")},
         {"APPS", "a1", "PLUGINS", "p1", "p2"}},
        {{row("p2", "Zed"), row("p1", "Amp")}, {"p1", "p2"}},
        {{row("a2", "Tuner", State::Absent, "", 1), row("a1", "Studio", State::Absent, "", 1)}, {"APPS", "a1", "a2"}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        setRows(c.rows);
        EXPECT_EQ(shown(), c.want);
    }
}

TEST_F(ViewList, SelectionByKeysSkipsHeaders) {
    openLoaded(catalogText("1.0.0"));
    ASSERT_EQ(shown(), (std::vector<std::string>{"APPS", "studio", "PLUGINS", "delay", "synth"}));
    view->select("");
    struct Step {
        lumo::gui::Key key;
        std::string want;
    };
    const Step steps[] = {
        {lumo::gui::Key::Down, "studio"}, {lumo::gui::Key::Down, "delay"}, {lumo::gui::Key::Down, "synth"},
        {lumo::gui::Key::Down, "synth"},  {lumo::gui::Key::Up, "delay"},   {lumo::gui::Key::Up, "studio"},
        {lumo::gui::Key::Up, "studio"},
    };
    for (const Step& s : steps) {
        view->setShownFormat("clap");
        EXPECT_TRUE(key(s.key));
        EXPECT_EQ(view->selectedId(), s.want);
        EXPECT_TRUE(view->shownFormat().empty());
    }
    EXPECT_FALSE(key(lumo::gui::Key::Left));
    view->select("");
    EXPECT_TRUE(key(lumo::gui::Key::Up));  // index 0 is the header: nothing is selected
    EXPECT_TRUE(view->selectedId().empty());
    setRows({});
    EXPECT_FALSE(key(lumo::gui::Key::Down));
}

// Through the editor, with no click first: the list has the keys from the start, and Home, End,
// Page Up and Page Down move the selection (headers skipped) and scroll it into view.
TEST_F(ViewList, TheListTakesKeysFromTheStartAndPagesThrough) {
    openLoaded(catalogText("1.0.0"));
    const auto press = [this](lumo::gui::Key k) {
        lumo::gui::KeyEvent e;
        e.key = k;
        return editor->keyEvent(e);
    };
    using K = lumo::gui::Key;
    struct Step {
        K key;
        std::string want;
    };
    const std::vector<Step> headed = {{K::Down, "delay"}, {K::End, "synth"}, {K::Home, "studio"}, {K::PageDown, "synth"},
                                      {K::PageUp, "studio"}};
    std::vector<tqm::Row> many;
    for (int i = 0; i < 30; ++i) many.push_back(row("p" + std::to_string(i), "Plug " + std::to_string(100 + i)));
    // The list shows ten lines: a page moves ten rows, and stops at either end.
    const std::vector<Step> long30 = {{K::Home, "p0"}, {K::PageDown, "p10"}, {K::PageDown, "p20"}, {K::PageDown, "p29"},
                                      {K::PageUp, "p19"},   {K::PageUp, "p9"},    {K::PageUp, "p0"},
                                      {K::End, "p29"},      {K::Home, "p0"}};
    // Twelve apps, then twenty plugins: a page that lands on the plugins' header goes on the way it went.
    std::vector<tqm::Row> mixed(many.begin(), many.begin() + 20);
    for (int i = 0; i < 12; ++i)
        mixed.push_back(row("a" + std::to_string(i), "App " + std::to_string(100 + i), State::Absent, "", 1));
    const std::vector<Step> grouped = {{K::Home, "a0"},   {K::PageDown, "a10"}, {K::PageDown, "p7"},
                                       {K::Down, "p8"},   {K::Down, "p9"},      {K::PageUp, "a11"},
                                       {K::PageUp, "a1"}, {K::Down, "a2"},      {K::PageDown, "p0"}};
    for (const auto* steps : {&headed, &long30, &grouped}) {
        if (steps == &long30) setRows(many);
        if (steps == &grouped) setRows(mixed);
        for (const Step& s : *steps) {
            EXPECT_TRUE(press(s.key));
            EXPECT_EQ(view->selectedId(), s.want);
            int line = 0;
            while (line < int(view->displayList().size()) && shown()[size_t(line)] != s.want) ++line;
            const int top = view->rowFirstY() + line * view->rowPitch() - view->scroll();
            EXPECT_GE(top, view->listRect().y) << s.want;
            EXPECT_LE(top + view->rowPitch(), view->listRect().y + view->listRect().h) << s.want;
        }
    }
}

TEST_F(ViewList, SelectionByPresses) {
    openLoaded(catalogText("1.0.0"));
    // A press selects at once; releasing elsewhere changes nothing.
    EXPECT_TRUE(view->onMouseDown(onLine(3)));
    EXPECT_EQ(testsupport::nameOf(view->pointer().pressed), "row:3");
    EXPECT_EQ(view->selectedId(), "delay");
    view->onMouseUp(onLine(4));
    EXPECT_EQ(view->selectedId(), "delay");
    EXPECT_TRUE(testsupport::nameOf(view->pointer().pressed).empty());
    EXPECT_EQ(testsupport::nameOf(view->pointer().hover), "row:4");
    // Header lines and the gap between two lines are not rows.
    EXPECT_TRUE(view->onMouseDown(onLine(2)));
    EXPECT_TRUE(testsupport::nameOf(view->pointer().pressed).empty());
    view->onMouseUp(onLine(2));
    EXPECT_TRUE(view->onMouseDown(at(view->rowFirstX() + 20, view->rowFirstY() + 4 * view->rowPitch() - 1)));
    EXPECT_EQ(view->selectedId(), "delay");
    EXPECT_TRUE(view->onMouseDown(onLine(4)));
    EXPECT_EQ(view->selectedId(), "synth");
    view->onMouseUp(onLine(4));
    view->onMouseLeave();
    EXPECT_TRUE(testsupport::nameOf(view->pointer().hover).empty());
}

TEST_F(ViewList, WheelAndSelectionScrollWithinTheList) {
    openLoaded(catalogText("1.0.0"));
    std::vector<tqm::Row> many;
    for (int i = 0; i < 30; ++i) many.push_back(row("p" + std::to_string(i), "Plug " + std::to_string(100 + i)));
    setRows(many);
    const int most = 26 * 30 - 260;
    EXPECT_EQ(view->maxScroll(), most);
    lumo::gui::MouseEvent down;
    down.wheelSteps = -1.0f;
    for (int i = 0; i < 100; ++i) EXPECT_TRUE(view->onMouseWheel(down));
    EXPECT_EQ(view->scroll(), most);
    lumo::gui::MouseEvent up;
    up.wheelSteps = 1.0f;
    view->onMouseWheel(up);
    EXPECT_EQ(view->scroll(), most - 26);
    up.wheelSteps = 0.5f;  // half a step rounds to half a line
    view->onMouseWheel(up);
    EXPECT_EQ(view->scroll(), most - 26 - 13);
    up.wheelSteps = 100.0f;
    view->onMouseWheel(up);
    EXPECT_EQ(view->scroll(), 0);

    // Selecting a line below the list scrolls its bottom to the list's bottom, one above to the top.
    view->selectIndex(25);
    EXPECT_EQ(view->scroll(), 51 + 26 * 25 + 26 - 313);
    view->selectIndex(2);
    EXPECT_EQ(view->scroll(), 51 + 26 * 2 - 49);
    view->setScroll(-10);
    EXPECT_EQ(view->scroll(), 0);
    view->setScroll(most + 500);
    EXPECT_EQ(view->scroll(), most);

    // A shorter list clamps at once; a list that fits never scrolls, and the wheel is still taken.
    many.resize(5);
    setRows(many);
    EXPECT_EQ(view->scroll(), 0);
    EXPECT_TRUE(view->onMouseWheel(down));
    EXPECT_EQ(view->scroll(), 0);
    // A taller window shows more lines.
    view->setSize(600, 344 + 26 * 3);
    many.resize(13);
    setRows(many);
    EXPECT_EQ(view->maxScroll(), 0);
}

TEST_F(ViewList, PillsFollowJobsAndFailures) {
    openLoaded(catalogText("1.0.0"));
    const tqm::Plugin* synth = view->model()->catalog->catalog.find("synth");
    struct Case {
        State state;
        bool inCatalog, failed, inJob;
        bool want;
    };
    const Case cases[] = {
        {State::Absent, true, false, false, true},      {State::Update, true, false, false, true},
        {State::Installed, true, false, false, false},  {State::Delisted, false, false, false, false},
        {State::Installed, true, true, false, true},    // failed: its pill again
        {State::Delisted, false, true, false, false},   // failed but not in the catalog
        {State::Update, true, false, true, false},      // in the running job
        {State::Installed, true, true, true, false},
    };
    for (const Case& c : cases) {
        tqm::Row r = row("synth", "Synth", c.state);
        r.entry = c.inCatalog ? synth : nullptr;
        view->model()->failed.clear();
        if (c.failed) view->model()->failed["synth"] = 1;
        view->model()->busy = c.inJob;
        view->model()->jobIds.clear();
        if (c.inJob) view->model()->jobIds["synth"] = 1;
        EXPECT_EQ(view->showsPill(r), c.want) << int(c.state) << c.inCatalog << c.failed << c.inJob;
    }
    view->model()->busy = false;
}

TEST(Texts, FormatTitlesAndUpperCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"vst3", "VST3"}, {"clap", "CLAP"}, {"app", "STANDALONE"}, {"au", "AU"}, {"", "AU"}, {"VST3", "AU"}};
    for (const auto& [key, want] : cases) EXPECT_STREQ(tqapp::formatTitle(key), want) << key;
    EXPECT_EQ(tqapp::upper("Synth 2 \xc3\xa9"), "SYNTH 2 \xc3\x89");  // Latin letters take capitals too
}

}  // namespace
