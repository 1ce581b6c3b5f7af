// The model's catalog load: worker and UI queue, harness mode, the offline fallback, a refused
// catalog, and the loopback server as a web source.
#include <gtest/gtest.h>

#include "tests/manager/model_fixture.h"

using namespace testsupport;
using tqapp::art::Kind::Logo;
using tqapp::art::Kind::Row;

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
    EXPECT_EQ(changes, 2);  // the rows, then the pictures that arrived after them
    std::vector<std::string> ids;
    for (const tqm::Row& row : m.rows) ids.push_back(row.id);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"delay", "studio", "synth"}));
    const lumo::gui::Bitmap* row = picture("synth", Row, "2x");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->w, 8);
    const lumo::gui::Bitmap* logo = picture("synth", Logo, "1x");
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->pixels.at(0), 0xFFFF0000u);
    EXPECT_TRUE(m.pictures.keys("studio", Row).empty());  // an entry without art
    EXPECT_NE(logText().find("  catalog 42\n"), std::string::npos) << logText();
}

}  // namespace

namespace {

TEST_F(ModelLoad, HarnessLoadsInlineAndWritesNoLog) {
    catalog.publish(catalogText("1.0.0"));
    tqapp::Config c = config();
    c.harness = true;
    tqapp::Model& m = make(c);
    m.start();
    EXPECT_FALSE(m.loading);
    ASSERT_TRUE(m.catalog && m.catalog->ok);
    EXPECT_EQ(m.rows.size(), 3u);
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(exists(m.logFile().parent_path().string()));
}

TEST_F(ModelLoad, FallsBackToTheCachedCatalog) {
    catalog.publish(catalogText("1.0.0", 42));
    make(config()).start();
    ASSERT_TRUE(loaded());
    ASSERT_TRUE(model->catalog->ok);

    struct Case {
        bool offline;
        bool sourceGone;
    } cases[] = {{true, false}, {false, true}};
    for (const Case& c : cases) {
        if (c.sourceGone) std::filesystem::rename(catalog.source(), path("gone"));
        tqapp::Config cfg = config();
        cfg.offline = c.offline;
        tqapp::Model& m = make(cfg);
        m.start();
        ASSERT_TRUE(loaded());
        ASSERT_TRUE(m.catalog->ok);
        EXPECT_TRUE(m.catalog->fromCache);
        EXPECT_EQ(m.rows.size(), 3u);
        // Pictures come from the art cache even without the source.
        const lumo::gui::Bitmap* row = picture("delay", Row, "1x");
        ASSERT_NE(row, nullptr) << c.offline;
        EXPECT_EQ(row->w, 4) << c.offline;
    }
    const std::string log = logText();
    EXPECT_NE(log.find("  catalog 42\n"), std::string::npos);
    EXPECT_NE(log.find("  catalog 42 (offline, from the cache)\n"), std::string::npos) << log;
}

TEST_F(ModelLoad, ARefusedCatalogLeavesTheInstalledItemsOnly) {
    const std::string text = catalogText("1.0.0");
    catalog.publish(text);
    writeFile(catalog.source() + "/catalog.json", text + " ");  // no longer what was signed
    const tqapp::Config c = config();
    std::filesystem::create_directories(c.layout.formatDir("vst3") + "/Synth.vst3");
    tqm::Receipt receipt;
    receipt.plugins["synth"].formats["vst3"] = {"1.0.0", c.layout.formatDir("vst3") + "/Synth.vst3", "", "", "", ""};
    writeFile(c.layout.receiptFile(), tqm::receiptText(receipt));

    tqapp::Model& m = make(c);
    m.start();
    ASSERT_TRUE(loaded());
    ASSERT_TRUE(m.catalog);
    EXPECT_FALSE(m.catalog->ok);
    EXPECT_FALSE(m.catalog->note.empty());
    ASSERT_EQ(m.rows.size(), 1u);
    EXPECT_EQ(m.rows[0].id, "synth");
    EXPECT_EQ(m.rows[0].entry, nullptr);
    EXPECT_TRUE(m.pictures.keys("synth", Row).empty());
    EXPECT_EQ(m.managerUpdate(), "");
    EXPECT_NE(logText().find("  catalog: " + m.catalog->note + "\n"), std::string::npos) << logText();
}

// The catalog, its signature and the pictures behind the loopback server; a second load takes
// the pictures from the cache and asks the server for the catalog only.
TEST_F(ModelLoad, WebSource) {
    LoopbackServer server;
    ASSERT_TRUE(server.ok());
    const std::string text = catalogText("1.0.0", 7);
    catalog.publish(text);
    for (const char* rel : {"catalog.json", "catalog.json.sig", "art/synth-row.png", "art/synth-row@2x.png",
                                   "art/synth-logo.png", "art/delay-row.png", "art/delay-row@2x.png",
                                   "art/delay-logo.png"})
        server.serveFile(rel, readFile(catalog.source() + "/" + std::string(rel)));
    tqapp::Config c = config();
    c.source = server.url();
    tqapp::Model& m = make(c);
    m.start();
    ASSERT_TRUE(loaded());
    ASSERT_TRUE(m.catalog->ok) << m.catalog->note;
    EXPECT_FALSE(m.catalog->fromCache);
    const lumo::gui::Bitmap* row = picture("synth", Row, "1x");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->w, 4);
    EXPECT_EQ(server.paths().size(), 8u);

    m.reload();
    EXPECT_TRUE(m.loading);
    ASSERT_TRUE(loaded());
    const lumo::gui::Bitmap* logo = picture("delay", Logo, "1x");
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->w, 3);
    EXPECT_EQ(server.paths().size(), 10u);  // the catalog and its signature again, no picture
}

TEST_F(ModelLoad, ReloadWaitsForTheLoadAndTheJob) {
    catalog.publish(catalogText("1.0.0"));
    tqapp::Model& m = make(config());
    m.start();
    m.reload();  // a load runs
    EXPECT_EQ(changes, 0);
    ASSERT_TRUE(loaded());
    m.busy = true;
    m.reload();
    EXPECT_FALSE(m.loading);
    EXPECT_EQ(changes, 2);  // the rows and the pictures of the first load
    m.busy = false;
    m.reload();
    EXPECT_TRUE(m.loading);
    EXPECT_EQ(changes, 3);
    ASSERT_TRUE(loaded());
}

}  // namespace

namespace {

// Start sweeps what an earlier self-update left beside the manager's bundle, and nothing else.
TEST_F(ModelLoad, StartSweepsSelfUpdateLeftovers) {
    catalog.publish(catalogText("1.0.0"));
    tqapp::Config c = config();
    c.harness = true;
    c.program = path("Apps/Manager.app/Contents/MacOS/manager");
    writeFile(c.program, "program");
    writeFile(path("Apps/.tqm-staging-00000001/Manager.app/x"), "");
    writeFile(path("Apps/.tqm-old-00000002-Manager.app/x"), "");
    writeFile(path("Apps/.tqm-old-00000003-Other.app/x"), "");
    make(c).start();
    EXPECT_EQ(entryNames(path("Apps")), (std::vector<std::string>{".tqm-old-00000003-Other.app", "Manager.app"}));
}

}  // namespace
