#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/skin/skin_support.h"

namespace {

using lumo::Json;

const Json& layout() { return skintest::skin().layout; }

// [x0, y0, x1, y1] of a layout value as four ints (missing elements read 0).
std::vector<int> box(const Json& v) {
    std::vector<int> out;
    for (size_t i = 0; i < 4; ++i) out.push_back(lumo::gui::jsonInt(v[i], 0));
    return out;
}

}  // namespace

TEST(SkinLayout, TableEndsWithTheLayoutDocument) {
    ASSERT_GE(lumo::embedded::managerSkinCount, 1u);
    EXPECT_STREQ(lumo::embedded::managerSkin[lumo::embedded::managerSkinCount - 1].name, "layout.json");
    ASSERT_TRUE(layout().isObject());
    for (const char* key : {"page", "rects", "order", "overs", "manager"})
        EXPECT_FALSE(layout()[key].isNull()) << key;
    EXPECT_EQ(box(layout()["page"]), (std::vector<int>{0, 0, 426, 344}));
}

// Every layer record the painting and hit code reads, with the fields it reads.
TEST(SkinLayout, RecordsTheWindowReadsAreThere) {
    const std::string is = "Ardune Systems Manager/Inspector Section";
    const std::string controls = is + "/Installation Section/Installation Controls";
    struct Case {
        std::string path;
        std::vector<int> r;
        double base;  // < 0: not a text layer
    };
    const Case cases[] = {
        {"Ardune Systems Manager/Main Windowbar/Window Close Button", {406, 4, 423, 21}, -1},
        {"Ardune Systems Manager/Main Windowbar/Window Minimize Button", {388, 4, 405, 21}, -1},
        {is + "/Plugin Info Title Mockup", {318, 127, 414, 135}, 134},
        {is + "/Plugin Description Mockup", {318, 138, 414, 190}, 145},
        {controls + "/Filepath Mockup", {322, 268, 372, 278}, 276},
        {controls + "/Filepath Valuebox", {318, 265, 375, 281}, -1},
    };
    const Json& rects = layout()["rects"];
    for (const Case& c : cases) {
        const Json& rec = rects[c.path];
        ASSERT_TRUE(rec.isObject()) << c.path;
        EXPECT_EQ(box(rec["r"]), c.r) << c.path;
        if (c.base >= 0) {
            ASSERT_TRUE(rec["base"].isNumber()) << c.path;
            EXPECT_EQ(rec["base"].number, c.base) << c.path;
            // The baseline lies within the layer, so its text sits inside the box drawn for it.
            EXPECT_GT(c.base, c.r[1]) << c.path;
            EXPECT_LE(c.base, c.r[3]) << c.path;
        }
    }
    // The description's lines start at its left edge and must lie inside the clip of "desc_view".
    const std::vector<int> desc = box(rects[is + "/Plugin Description Mockup"]["r"]);
    const Json& view = layout()["manager"]["desc_view"];
    const int vx = lumo::gui::jsonInt(view[size_t(0)], 0), vw = lumo::gui::jsonInt(view[size_t(2)], 0);
    EXPECT_GE(desc[0], vx);
    EXPECT_LE(desc[0] + (vw - 4), vx + vw);
}

// Each step of the painting order names something the layout can resolve: overs have their layer
// list, labels have their box, format parts have their format.
TEST(SkinLayout, OrderStepsResolve) {
    const Json& order = layout()["order"];
    const Json& manager = layout()["manager"];
    ASSERT_EQ(order.array().size(), 43u);
    std::set<std::string> formats;
    for (const Json& f : manager["formats"].array()) formats.insert(f.string());
    EXPECT_EQ(formats, (std::set<std::string>{"vst3", "clap", "au"}));
    for (const Json& step : order.array()) {
        const std::string kind = step[size_t(0)].string(), name = step[size_t(1)].string();
        ASSERT_TRUE(kind == "part" || kind == "over") << kind;
        if (kind == "over") {
            EXPECT_FALSE(layout()["overs"][name].array().empty()) << name;
        } else if (name.rfind("text:lbl_", 0) == 0) {
            EXPECT_TRUE(manager["labels"][name.substr(9)].isArray()) << name;
        } else if (name.rfind("label:", 0) == 0) {
            EXPECT_TRUE(manager["label_formats"][name.substr(6)].isArray()) << name;
        } else if (name.rfind("check:", 0) == 0 || name.rfind("led:", 0) == 0) {
            EXPECT_TRUE(formats.count(name.substr(name.find(':') + 1))) << name;
        }
    }
}
