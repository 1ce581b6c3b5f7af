#include <gtest/gtest.h>

#include <filesystem>

#include "engine/tqm.h"
#include "tests/support/temp_home.h"

namespace fs = std::filesystem;
using testsupport::writeFile;

namespace {

tqm::FileRef pkgRef(const std::string& item, const std::string& exe = "") {
    return {"pkg/" + item + ".zip", std::string(64, '0'), 100, item, exe};
}

tqm::Plugin plugin(const std::string& id, const std::string& version, const std::string& item,
                   const std::string& platform = "mac", const std::string& minManager = "") {
    tqm::Plugin p;
    p.id = id;
    p.name = "Name of " + id;
    p.version = version;
    p.min_manager = minManager;
    if (!item.empty()) p.packages["vst3"][platform] = pkgRef(item + ".vst3");
    return p;
}

tqm::Plugin app(const std::string& id, const std::string& version, const std::string& item, const std::string& exe) {
    tqm::Plugin p;
    p.id = id;
    p.name = "Name of " + id;
    p.version = version;
    p.is_app = true;
    p.uninstall_key = id;
    p.packages["app"]["mac"] = pkgRef(item, exe);
    return p;
}

class RowsTest : public testsupport::TempHomeTest {
protected:
    tqm::Layout layout;
    tqm::Receipt receipt, apps;
    void SetUp() override { layout.root = path("root"); }

    // Records a format of a product and, when wanted, puts the item on disk.
    std::string install(tqm::Receipt& r, const std::string& id, const std::string& format, const std::string& version,
                        const std::string& item, bool onDisk = true) {
        const std::string dir = format == "app" ? layout.appsDir() : layout.formatDir(format);
        const std::string p = dir + "/" + item;
        r.plugins[id].formats[format] = {version, p, std::string(64, '0'), "2024-01-01T00:00:00Z", "", ""};
        if (onDisk) fs::create_directories(p);
        return p;
    }
    static const tqm::Row* find(const std::vector<tqm::Row>& rows, const std::string& id) {
        const tqm::Row* found = nullptr;
        for (const tqm::Row& r : rows)
            if (r.id == id) {
                EXPECT_EQ(found, nullptr) << id << " listed twice";
                found = &r;
            }
        return found;
    }
};

TEST_F(RowsTest, PluginStates) {
    tqm::Catalog catalog;
    catalog.plugins = {
        plugin("v.absent", "1.0", "Absent"),
        plugin("v.installed", "1.0", "Installed"),
        plugin("v.update", "2.0", "Update"),
        plugin("v.gone", "2.0", "Gone"),
        plugin("v.needs", "1.0", "Needs", "mac", "9.0"),
        plugin("v.needsupdate", "2.0", "NeedsUpdate", "mac", "9.0"),
        plugin("v.needscurrent", "1.0", "NeedsCurrent", "mac", "9.0"),
        plugin("v.elsewhere", "1.0", "Elsewhere", "win"),
        plugin("v.elsewhereneeds", "1.0", "ElsewhereNeeds", "win", "9.0"),
        plugin("v.oldonly", "2.0", "OldOnly", "win"),
    };
    install(receipt, "v.installed", "vst3", "1.0", "Installed.vst3");
    install(receipt, "v.update", "vst3", "1.0", "Update.vst3");
    install(receipt, "v.gone", "vst3", "1.0", "Gone.vst3", false);
    install(receipt, "v.needsupdate", "vst3", "1.0", "NeedsUpdate.vst3");
    install(receipt, "v.needscurrent", "vst3", "1.0", "NeedsCurrent.vst3");
    install(receipt, "v.oldonly", "vst3", "1.0", "OldOnly.vst3");  // installed, package only elsewhere

    const std::vector<tqm::Row> rows = tqm::deriveRows(&catalog, receipt, layout, "1.0", apps);
    ASSERT_EQ(rows.size(), catalog.plugins.size());
    const std::pair<const char*, const char*> expected[] = {
        {"v.absent", "absent"},          {"v.installed", "installed"},       {"v.update", "update"},
        {"v.gone", "absent"},            {"v.needs", "needs-manager"},       {"v.needsupdate", "needs-manager"},
        {"v.needscurrent", "installed"}, {"v.elsewhere", "unavailable"},     {"v.elsewhereneeds", "unavailable"},
        {"v.oldonly", "update"},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].id);
        EXPECT_EQ(rows[i].id, expected[i].first);  // catalog order
        EXPECT_STREQ(tqm::stateName(rows[i].state), expected[i].second);
        EXPECT_EQ(rows[i].entry, &catalog.plugins[i]);
        EXPECT_EQ(rows[i].kind, 0);
        EXPECT_EQ(rows[i].name, "Name of " + rows[i].id);
    }

    const tqm::Row& gone = *find(rows, "v.gone");
    const tqm::FormatRow& f = gone.formats.at("vst3");
    EXPECT_TRUE(f.available && f.installed && f.update);
    EXPECT_FALSE(f.present);
    EXPECT_EQ(gone.version, "1.0");
    EXPECT_EQ(gone.formats.count("clap"), 0u);  // neither available nor recorded

    const tqm::Row& absent = *find(rows, "v.absent");
    EXPECT_TRUE(absent.version.empty());
    EXPECT_TRUE(absent.formats.at("vst3").available);
    EXPECT_FALSE(absent.formats.at("vst3").installed);
    EXPECT_TRUE(find(rows, "v.elsewhere")->formats.empty());
    EXPECT_STREQ(tqm::stateName(tqm::State(42)), "?");
}

TEST_F(RowsTest, OtherCopiesAndVersions) {
    tqm::Catalog catalog;
    catalog.plugins = {plugin("v.copy", "1.0", "Copy")};
    catalog.plugins[0].packages["clap"]["mac"] = pkgRef("Copy.clap");
    install(receipt, "v.copy", "vst3", "1.10.0", "Copy.vst3");
    install(receipt, "v.copy", "au", "1.2.0", "Copy.component", false);  // not listed here, counts for the version
    fs::create_directories(layout.formatRoot("vst3") + "/Copy.vst3");
    writeFile(layout.formatRoot("clap") + "/Copy.clap", "x");  // a copy of a format not installed by us

    // A recorded path ending in ".." names no item: the folder above is not a copy.
    receipt.plugins["v.dots"].formats["clap"].path = layout.formatDir("clap") + "/..";

    const std::vector<tqm::Row> rows = tqm::deriveRows(&catalog, receipt, layout, "1.0", apps);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[1].formats.at("clap").copies.empty());
    EXPECT_EQ(rows[0].formats.at("vst3").copies, std::vector<std::string>{layout.formatRoot("vst3") + "/Copy.vst3"});
    EXPECT_EQ(rows[0].formats.at("clap").copies, std::vector<std::string>{layout.formatRoot("clap") + "/Copy.clap"});
    EXPECT_EQ(rows[0].formats.count("au"), 0u);
    EXPECT_EQ(rows[0].version, "1.2.0");
}

TEST_F(RowsTest, RecordedIdsNotInTheCatalog) {
    install(receipt, "vendor.synth", "vst3", "1.0", "Synth.vst3");
    install(receipt, "vendor.", "clap", "1.0", "X.clap");
    install(receipt, "plain", "clap", "1.0", "Plain.clap", false);
    install(receipt, "vendor.both", "vst3", "3.0", "Both.vst3");
    install(apps, "vendor.both", "app", "2.0", "Both.app");
    install(apps, "vendor.tool", "app", "1.5", "Tool.app");
    install(apps, "vendor.noapp", "vst3", "1.0", "NoApp.vst3");  // no "app" record: no row
    // Recorded as a plug-in, and in apps.json without an "app" record: a plug-in row.
    install(receipt, "vendor.half", "clap", "1.0", "Half.clap");
    install(apps, "vendor.half", "vst3", "1.0", "Half.vst3");
    install(receipt, "vendor.bare", "vst3", "1.1", "Bare.vst3");
    apps.plugins["vendor.bare"];

    for (bool withCatalog : {false, true}) {
        SCOPED_TRACE(withCatalog);
        tqm::Catalog catalog;
        catalog.plugins = {plugin("vendor.other", "1.0", "Other")};
        const std::vector<tqm::Row> rows =
            tqm::deriveRows(withCatalog ? &catalog : nullptr, receipt, layout, "1.0", apps);
        std::vector<std::string> ids;
        for (const tqm::Row& r : rows) {
            ids.push_back(r.id);
            if (r.id != "vendor.other") {
                EXPECT_EQ(r.state, tqm::State::Delisted) << r.id;
            }
        }
        std::vector<std::string> want{"plain",        "vendor.",     "vendor.bare", "vendor.half",
                                      "vendor.synth", "vendor.both", "vendor.tool"};
        if (withCatalog) want.insert(want.begin(), "vendor.other");
        EXPECT_EQ(ids, want);

        EXPECT_EQ(find(rows, "vendor.synth")->name, "synth");
        EXPECT_EQ(find(rows, "vendor.")->name, "vendor.");
        EXPECT_EQ(find(rows, "plain")->name, "plain");
        for (const char* id : {"vendor.half", "vendor.bare"}) {
            const tqm::Row* half = find(rows, id);
            ASSERT_NE(half, nullptr) << id;
            EXPECT_EQ(half->kind, 0) << id;
            EXPECT_EQ(half->formats.size(), 1u) << id;
        }
        EXPECT_EQ(find(rows, "vendor.half")->formats.count("clap"), 1u);
        const tqm::Row& both = *find(rows, "vendor.both");
        EXPECT_EQ(both.kind, 1);
        EXPECT_TRUE(both.appPlugin());
        EXPECT_EQ(both.formats.count("vst3"), 1u);
        EXPECT_EQ(both.version, "2.0");  // the lower of the application and its plug-ins
        const tqm::Row& tool = *find(rows, "vendor.tool");
        EXPECT_FALSE(tool.appPlugin());
        EXPECT_TRUE(tool.formats.at("app").present);
        EXPECT_FALSE(tool.unrecorded);
        EXPECT_EQ(tool.version, "1.5");
    }
}

TEST_F(RowsTest, NamesWithNothingToSeeShowTheId) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "synth"}, {" \t\n", "synth"}, {"\x7f", "synth"}, {" Synth ", " Synth "}, {"\xc3\x9c", "\xc3\x9c"}};
    for (const auto& [name, shown] : cases) {
        tqm::Catalog catalog;
        catalog.plugins = {plugin("vendor.synth", "1.0", "Synth")};
        catalog.plugins[0].name = name;
        const std::vector<tqm::Row> rows = tqm::deriveRows(&catalog, receipt, layout, "1.0", apps);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].name, shown) << name;
    }
}

TEST_F(RowsTest, ApplicationRows) {
    tqm::Catalog catalog;
    catalog.apps = {
        app("v.found", "2.0", "Found.app", "Found"),
        app("v.recorded", "1.0", "Recorded.app", "Recorded"),
        app("v.missing", "1.0", "Missing.app", "Missing"),
        app("v.suite", "3.0", "Suite.app", "Suite"),
        app("v.other", "1.0", "Other.app", "Other"),
    };
    catalog.apps[3].packages["vst3"]["mac"] = pkgRef("Suite.vst3");
    catalog.apps[4].packages["app"].clear();
    catalog.apps[4].packages["app"]["win"] = pkgRef("Other.exe", "Other.exe");

    const std::string found = layout.appsDir() + "/Found.app";
    writeFile(found + "/Contents/MacOS/Found", "#!");
    writeFile(found + "/Contents/Info.plist",
              "<plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key><string>1.4</string></dict></plist>");
    const std::string rec = install(apps, "v.recorded", "app", "1.0", "Recorded.app", false);
    apps.plugins["v.recorded"].formats["app"].exe = "Recorded";
    writeFile(rec + "/Contents/MacOS/Recorded", "#!");
    install(apps, "v.suite", "app", "3.0", "Suite.app", false);
    install(receipt, "v.suite", "vst3", "2.5", "Suite.vst3");

    const std::vector<tqm::Row> rows = tqm::deriveRows(&catalog, receipt, layout, "1.0", apps);
    ASSERT_EQ(rows.size(), 5u);
    for (const tqm::Row& r : rows) EXPECT_EQ(r.kind, 1) << r.id;

    const tqm::Row& f = *find(rows, "v.found");
    EXPECT_EQ(f.state, tqm::State::Update);
    EXPECT_TRUE(f.unrecorded);
    EXPECT_TRUE(f.formats.at("app").installed && f.formats.at("app").present && f.formats.at("app").update);
    EXPECT_EQ(f.version, "1.4");
    EXPECT_EQ(f.formats.at("app").path, found);

    const tqm::Row& r = *find(rows, "v.recorded");
    EXPECT_EQ(r.state, tqm::State::Installed);
    EXPECT_FALSE(r.unrecorded);
    EXPECT_EQ(r.version, "1.0");

    const tqm::Row& m = *find(rows, "v.missing");
    EXPECT_EQ(m.state, tqm::State::Absent);
    EXPECT_TRUE(m.formats.at("app").available);
    EXPECT_FALSE(m.formats.at("app").installed);
    EXPECT_TRUE(m.version.empty());

    // The recorded bundle is gone; its plug-in is present and older than the catalog.
    const tqm::Row& s = *find(rows, "v.suite");
    EXPECT_TRUE(s.appPlugin());
    EXPECT_EQ(s.state, tqm::State::Update);
    EXPECT_TRUE(s.formats.at("app").installed);
    EXPECT_FALSE(s.formats.at("app").present);
    EXPECT_EQ(s.version, "2.5");

    const tqm::Row& o = *find(rows, "v.other");
    EXPECT_EQ(o.state, tqm::State::Unavailable);
    EXPECT_TRUE(o.formats.empty());
    EXPECT_FALSE(o.appPlugin());
}

}  // namespace
