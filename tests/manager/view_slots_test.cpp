// The inspector's three slots on the three kinds of row: what each stands for, whether it can be
// ticked and is ticked, its lamp and label; the main button's action; and how the skin look draws
// the tick boxes, lamps and format labels from those answers.
#include "tests/manager/skin_paint_support.h"

using namespace skintest;
using tqm::State;

namespace {

tqm::FormatRow fmt(bool available, bool installed, bool update = false) {
    tqm::FormatRow f;
    f.available = available;
    f.installed = f.present = installed;
    f.update = update;
    f.path = "/p";
    return f;
}

class Slots : public SkinPaintTest {
protected:
    void SetUp() override {
        SkinPaintTest::SetUp();
        open({"--steps", "--look", "tq"});
        entry.id = "app";
        entry.is_app = true;
        entry.companions = {{"c1", "2.0"}, {"c2", ""}, {"c3", ""}};
        companionEntry.id = "c1";
    }
    // Puts rows into the model and selects the first.
    void rows(std::vector<tqm::Row> r) {
        view->model()->rows = std::move(r);
        view->changed();
        view->select(view->model()->rows.front().id);
    }
    tqm::Row plugin(std::map<std::string, tqm::FormatRow> formats, State state = State::Absent) {
        tqm::Row r = testsupport::row("plug", "Plug", state);
        r.entry = &companionEntry;
        r.formats = std::move(formats);
        return r;
    }
    tqm::Plugin entry, companionEntry;
};

TEST_F(Slots, WhatTheSlotsStandFor) {
    // A plug-in row: each slot is its format.
    rows({plugin({{"vst3", fmt(true, false)}, {"clap", fmt(true, true)}})});
    const tqm::Row* r = view->selected();
    EXPECT_EQ(view->slotFormat(r, "au"), "au");
    EXPECT_TRUE(view->offered(r, "vst3"));
    EXPECT_FALSE(view->offered(r, "au"));
    EXPECT_FALSE(view->ticked(r, "vst3")) << "something is installed: only installed formats start wanted";
    EXPECT_TRUE(view->ticked(r, "clap"));
    EXPECT_TRUE(view->installedHere(r, "clap"));
    EXPECT_EQ(view->slotTitle(r, "vst3"), "VST3");
    EXPECT_EQ(view->pathFormat(), "vst3");
    EXPECT_EQ(view->mainAction().verb, "remove") << "nothing newly wanted: what is installed is offered for removal";
    view->wanted(*r)["vst3"] = true;
    const tqapp::ManagerView::Action a = view->mainAction();
    EXPECT_EQ(a.op, "install");
    EXPECT_EQ(a.formats, std::vector<std::string>{"vst3"});

    // An app carrying plug-ins: the third slot is the app itself.
    tqm::Row app = plugin({{"vst3", fmt(true, false)}, {"app", fmt(true, false)}});
    app.kind = 1;
    app.id = "withplugins";
    rows({app});
    r = view->selected();
    ASSERT_TRUE(r->appPlugin());
    EXPECT_EQ(view->slotFormat(r, "au"), "app");
    EXPECT_EQ(view->slotTitle(r, "au"), "APP");
    EXPECT_TRUE(view->ticked(r, "au"));

    // An app without plug-ins: its companions, the first not installed, the second installed.
    tqm::Row bare = testsupport::row("app", "Bare", State::Absent, "", 1);
    bare.entry = &entry;
    bare.formats["app"] = fmt(true, false);
    tqm::Row c1 = testsupport::row("c1", "Tuner", State::Absent, "", 1);
    c1.entry = &companionEntry;
    tqm::Row c2 = testsupport::row("c2", "Meter", State::Installed, "", 1);
    c2.entry = &companionEntry;
    c2.formats["app"] = fmt(true, true);
    rows({bare, c1, c2});
    view->select("app");
    r = view->selected();
    EXPECT_EQ(view->slotTitle(r, "vst3"), "TUNER");
    EXPECT_EQ(view->slotTitle(r, "clap"), "METER");
    EXPECT_EQ(view->slotTitle(r, "au"), "");
    EXPECT_TRUE(view->offered(r, "vst3"));
    EXPECT_FALSE(view->offered(r, "clap")) << "an installed companion is not offered";
    EXPECT_TRUE(view->ticked(r, "vst3"));
    EXPECT_TRUE(view->installedHere(r, "clap"));
    const tqapp::ManagerView::Action install = view->mainAction();
    EXPECT_EQ(install.op, "install");
    EXPECT_EQ(install.formats, std::vector<std::string>{"app"});
    EXPECT_EQ(install.companions, std::vector<std::string>{"c1"});
}

TEST_F(Slots, MainButtonWordsByPrecedence) {
    struct Case {
        const char* what;
        std::map<std::string, tqm::FormatRow> formats;
        State state;
        std::map<std::string, bool> wants;  // overrides after the defaults are made
        const char* word;
    };
    const Case cases[] = {
        {"nothing installed", {{"vst3", fmt(true, false)}, {"clap", fmt(true, false)}}, State::Absent, {}, "install"},
        {"one more format over an installed row", {{"vst3", fmt(true, true)}, {"clap", fmt(true, false)}},
         State::Installed, {{"clap", true}}, "reinstall"},
        {"an installed format unticked", {{"vst3", fmt(true, true)}, {"clap", fmt(true, true)}}, State::Installed,
         {{"clap", false}}, "remove"},
        {"an update", {{"vst3", fmt(true, true, true)}}, State::Update, {}, "update"},
        {"installed and current", {{"vst3", fmt(true, true)}}, State::Installed, {}, "remove"},
    };
    for (const Case& k : cases) {
        view->forgetTicks();
        rows({plugin(k.formats, k.state)});
        const tqm::Row* r = view->selected();
        for (const auto& [f, on] : k.wants) view->wanted(*r)[f] = on;
        EXPECT_EQ(tqapp::ManagerView::buttonWord(*r, view->mainAction()), k.word) << k.what;
    }
}

TEST_F(Slots, TickBoxesLampsAndLabelsAreDrawnFromTheAnswers) {
    rows({plugin({{"vst3", fmt(true, true)}, {"clap", fmt(true, false)}})});
    const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(1.0);
    view->setSize(view->pageWidth(), view->pageHeight());
    view->paintAt(1.0, view->paintX(), view->paintY());
    auto drawn = [&](const std::string& part, const std::string& hover = "", const std::string& pressed = "") {
        view->pointer().hover = tqapp::partOf(hover);
        view->pointer().pressed = tqapp::partOf(pressed);
        Canvas c = pixeltest::paper(430, 350);
        skin.part(*view, c, pack, part);
        view->pointer().hover.reset();
        view->pointer().pressed.reset();
        return pixeltest::hashOf(c);
    };
    auto sprite = [&](const std::string& name, double gain) {
        Canvas c = pixeltest::paper(430, 350);
        skin.put(*view, c, pack, name, 0, 0, {}, gain, true);
        return pixeltest::hashOf(c);
    };
    EXPECT_EQ(drawn("check:vst3"), sprite("check_vst3_on", 1.0));
    EXPECT_EQ(drawn("check:vst3", "check:vst3", "check:vst3"), sprite("check_vst3_press_on", 1.0));
    EXPECT_EQ(drawn("check:clap"), sprite("check_clap_off", 1.0));
    EXPECT_EQ(drawn("check:au"), sprite("check_au_off", 0.45)) << "a format that cannot be chosen is dimmed";
    EXPECT_EQ(drawn("led:vst3"), sprite("led_vst3_on", 1.0));
    EXPECT_EQ(drawn("led:clap"), sprite("led_clap_off", 1.0));
    EXPECT_EQ(drawn("sort:arrow"), sprite("sort_arrow_down", 1.0)) << "ascending";
    view->setSort(view->sortColumn(), false);
    EXPECT_EQ(drawn("sort:arrow"), sprite("sort_arrow_up", 1.0));
    EXPECT_EQ(drawn("cap:sb", "", "cap:sb"), sprite("cap_sb_grabbed", 1.0)) << "grabbed wherever the pointer is";
    // Format labels: the shown format brighter than the other offered one, an unoffered one dim.
    auto brightest = [&](const std::string& part) {
        Canvas c = pixeltest::paper(430, 350);
        for (uint32_t& p : c.pixels) p = 0xFF000000u;
        skin.part(*view, c, pack, part);
        int m = 0;
        for (uint32_t p : c.pixels) m = std::max(m, int(p >> 8 & 0xFF));
        return m;
    };
    const int shown = brightest("label:vst3"), other = brightest("label:clap"), off = brightest("label:au");
    EXPECT_GT(shown, other);
    EXPECT_GT(other, off);
    EXPECT_GT(off, 0);
}

}  // namespace
