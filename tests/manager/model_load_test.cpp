// The model's catalog load: worker and UI queue, harness mode, the offline fallback, a refused
// catalog, and the loopback server as a web source.
#include <gtest/gtest.h>

#include "tests/manager/model_fixture.h"

using namespace testsupport;

namespace {

class ModelLoad : public ModelTest {};

TEST_F(ModelLoad, LoadsOnAWorkerAndAppliesThroughTheQueue) {
    catalog.publish(catalogText("1.0.0", 42));
    tqapp::Model& m = make(config());
    m.start();
    EXPECT_TRUE(m.loading);  // nothing is applied before the queue runs
    EXPECT_EQ(changes, 0);
    ASSERT_TRUE(loaded());
    ASSERT_TRUE(m.catalog && m.catalog->ok) << (m.catalog ? m.catalog->note : "");
    EXPECT_EQ(changes, 1);
    std::vector<std::string> ids;
    for (const tqm::Row& row : m.rows) ids.push_back(row.id);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"delay", "studio", "synth"}));
    ASSERT_EQ(m.pictures.count("synth"), 1u);
    EXPECT_EQ(m.pictures["synth"].row["2x"].w, 8);
    EXPECT_EQ(m.pictures["synth"].logo["1x"].pixels.at(0), 0xFFFF0000u);
    EXPECT_EQ(m.pictures.count("studio"), 1u);  // an entry without art has its empty Art
    EXPECT_NE(logText().find("  catalog 42\n"), std::string::npos) << logText();
}

}  // namespace
