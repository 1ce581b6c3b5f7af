#include <gtest/gtest.h>

#include "fakes.h"
#include "json/json.h"

using namespace lumo::gui;

namespace {

struct Knob : Widget {
    int64_t id = -1;
    std::vector<WidgetInfo::Part> items;
    void describe(WidgetInfo& info) const override {
        info.param = id;
        info.value = id >= 0 ? "0.5" : "";
        info.parts = items;
    }
};

template <class T = Widget>
T* named(Widget* parent, const std::string& name, Rect b) {
    auto w = std::make_unique<T>();
    w->name = name;
    w->bounds = b;
    return parent->add(std::move(w));
}

std::vector<int> v(const Rect& r) { return {r.x, r.y, r.w, r.h}; }

}  // namespace

TEST(TreeLookup, PathsItemsAndParams) {
    fakes::Host host;
    Editor e(host, 200, 100);
    e.setScale(2.0);
    Widget* panel = named(e.root(), "panel", Rect{10, 10, 100, 80});
    Widget* group = named(panel, "group", Rect{5, 5, 50, 50});
    Knob* knob = named<Knob>(group, "gain", Rect{2, 3, 20, 20});
    knob->id = 42;
    knob->items = {{"a/b", Rect{1, 1, 5, 4}, true, false}, {"c", Rect{0, 10, 5, 5}, false, true}};
    Widget* hidden = named(e.root(), "hiddenbox", Rect{0, 0, 10, 10});
    named(hidden, "inside", Rect{0, 0, 5, 5});
    hidden->visible = false;

    struct Case {
        const char* path;
        const Widget* found;
        int count;
    };
    const Case cases[] = {
        {"gain", knob, 1},
        {"//panel//gain/", knob, 1},       // empty segments are ignored
        {"panel/gain", knob, 1},           // a more distant ancestor counts too
        {"group/panel/gain", nullptr, 0},  // but in order
        {"param:42", knob, 1},
        {"param:042", nullptr, 0},         // plain decimal only
        {"gain/item:a/b", knob, 1},        // the item segment keeps its slashes
        {"panel/item:c", knob, 1},
        {"item:zzz", nullptr, 0},
        {"hiddenbox", nullptr, 0},         // invisible widgets are never found
        {"inside", nullptr, 0},
        {"", nullptr, 0},
    };
    for (const Case& c : cases) {
        int count = -1;
        EXPECT_EQ(e.findByName(c.path, &count), c.found) << c.path;
        EXPECT_EQ(count, c.count) << c.path;
    }

    Rect r;
    e.findByName("gain", nullptr, &r);  // absolute (17, 18) at scale 2
    EXPECT_EQ(v(r), (std::vector<int>{34, 36, 40, 40}));
    e.findByName("gain/item:a/b", nullptr, &r);
    EXPECT_EQ(v(r), (std::vector<int>{36, 38, 10, 8}));

    // The topmost overlay's widget comes first.
    auto ov = std::make_unique<Widget>();
    ov->name = "gain";
    Widget* top = ov.get();
    e.pushOverlay(std::move(ov), false);
    int count = 0;
    EXPECT_EQ(e.findByName("gain", &count), top);
    EXPECT_EQ(count, 2);
}

TEST(TreeDump, ParsesBackAndNamesWhatLookupFinds) {
    fakes::Host host;
    Editor e(host, 100, 50);
    // Without header and overlays.
    std::string plain = e.treeJson();
    EXPECT_NE(plain.find("\"header\": null,\n"), std::string::npos);
    EXPECT_EQ(plain.substr(plain.size() - 3), "]}\n");

    e.setScale(1.5);
    auto header = std::make_unique<Widget>();
    header->name = "bar";
    e.setHeader(std::move(header), 10);
    Widget* box = named(e.root(), "box\r\"q\"", Rect{4, 4, 20, 20});
    box->tooltip = "tip\there";
    Knob* knob = named<Knob>(box, "knob", Rect{1, 1, 8, 8});
    knob->id = 7;
    knob->items = {{"one", Rect{0, 0, 4, 4}, true, true}};
    Widget* off = named(e.root(), "off", Rect{50, 0, 10, 10});
    off->visible = false;
    named(off, "child", Rect{0, 0, 5, 5});
    e.setFocus(knob);
    e.pushOverlay(std::make_unique<Label>(), true);

    std::string text = e.treeJson();
    EXPECT_NE(text.find("\"box\\r\\\"q\\\"\""), std::string::npos);
    lumo::Json doc = lumo::Json::parse(text);
    ASSERT_TRUE(doc.isObject()) << text;
    EXPECT_EQ(doc["width"].number, 150);
    EXPECT_EQ(doc["headerHeight"].number, 15);
    EXPECT_EQ(doc["scale"].number, 1.5);
    EXPECT_EQ(doc["header"]["name"].text, "bar");
    EXPECT_EQ(doc["body"]["type"].text, "RootWidget");
    EXPECT_EQ(doc["overlays"][0]["type"].text, "Label");

    const lumo::Json& boxJson = doc["body"]["children"][0];
    EXPECT_EQ(boxJson["name"].text, "box\r\"q\"");
    EXPECT_EQ(boxJson["tooltip"].text, "tip\there");
    const lumo::Json& knobJson = boxJson["children"][0];
    EXPECT_EQ(knobJson["type"].text, "Knob");
    EXPECT_EQ(knobJson["param"].number, 7);
    EXPECT_EQ(knobJson["value"].text, "0.5");
    EXPECT_EQ(knobJson["focused"].number, 1.0);
    EXPECT_EQ(knobJson["items"][0]["label"].text, "one");
    EXPECT_EQ(knobJson["items"][0]["checked"].number, 1.0);

    // The dump's rectangle is the one lookup reports.
    Rect r;
    ASSERT_EQ(e.findByName("knob", nullptr, &r), knob);
    EXPECT_EQ((std::vector<double>{knobJson["x"].number, knobJson["y"].number, knobJson["w"].number,
                                   knobJson["h"].number}),
              (std::vector<double>{double(r.x), double(r.y), double(r.w), double(r.h)}));
    e.findByName("knob/item:one", nullptr, &r);
    EXPECT_EQ(knobJson["items"][0]["x"].number, r.x);
    EXPECT_EQ(knobJson["items"][0]["w"].number, r.w);

    // A child of an invisible parent is written as invisible.
    const lumo::Json& offJson = doc["body"]["children"][1];
    EXPECT_EQ(offJson["visible"].number, 0.0);
    EXPECT_EQ(offJson["children"][0]["visible"].number, 0.0);
}
