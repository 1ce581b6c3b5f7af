#include "engine/catalog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kSha(64, 'a');

std::string validCatalog() {
    const std::string sha = "\"" + kSha + "\"";
    return R"({
  "schema": 1, "sequence": 7, "published": "2024-05-01", "base_url": "https://example.invalid/manager/",
  "manager": {"latest": "1.2.0", "minimum": "1.0.0",
    "packages": {"mac": {"path": "manager/Manager-1.2.0.zip", "sha256": )" +
           sha + R"(, "size": 1000,
                         "item": "Manager.app", "exe": "Manager"}}},
  "plugins": [
    {"id": "synth", "name": "Synth", "version": "2.0.1", "license": "L", "description": "D", "min_manager": "1.0",
     "art": {"row": {"1x": {"path": "art/synth-row.png"}}, "logo": {"1x": {"path": "art/synth-logo.png"}}},
     "packages": {"vst3": {"mac": {"path": "synth/Synth.vst3.zip", "sha256": )" +
           sha + R"(, "size": 5e3,
                                   "item": "Synth.vst3"}},
                  "clap": {"mac": {"path": "synth/Synth.clap.zip", "sha256": )" +
           sha + R"(, "size": 12.9,
                                   "item": "Synth.clap"}}}},
    {"id": "synth", "version": "0.1"}
  ],
  "shared_data": {"presets": {"user": ["%APPDATA%\\Ardune Systems\\Shared\\Presets"], "machine": []},
                  "empty": {"user": [], "machine": []}},
  "apps": [
    {"id": "studio", "name": "Studio", "version": "3.1", "uninstall_key": "Studio",
     "packages": {"mac": {"path": "studio/Studio.zip", "sha256": )" +
           sha + R"(, "size": 9,
                          "item": "Studio.app", "exe": "Studio"}},
     "plugin_packages": {"vst3": {"mac": {"path": "studio/StudioFx.vst3.zip", "sha256": )" +
           sha + R"(,
                                          "item": "StudioFx.vst3"}}},
     "data": {"note": "settings", "kept": "projects",
              "paths": {"settings": {"user": ["%APPDATA%\\Ardune Systems\\Studio"],
                                     "machine": ["%PROGRAMDATA%\\Ardune Systems\\Studio"]}}},
     "companions": [{"id": "synth", "min_version": "2.0"}]}
  ]
})";
}

TEST(Catalog, ReadsAValidCatalog) {
    tqm::Catalog c;
    std::string error;
    ASSERT_TRUE(tqm::parseCatalog(validCatalog(), c, error)) << error;
    EXPECT_EQ(c.schema, 1);
    EXPECT_EQ(c.sequence, 7);
    EXPECT_EQ(c.published, "2024-05-01");
    EXPECT_EQ(c.manager_latest, "1.2.0");
    EXPECT_EQ(c.manager_minimum, "1.0.0");
    ASSERT_NE(c.managerPackage(), nullptr);
    EXPECT_EQ(c.managerPackage()->exe, "Manager");

    ASSERT_EQ(c.plugins.size(), 2u);  // a repeated plug-in id is kept; find gives the first
    EXPECT_EQ(c.find("synth"), &c.plugins[0]);
    const tqm::FileRef* vst3 = c.plugins[0].package("vst3", "mac");
    ASSERT_NE(vst3, nullptr);
    EXPECT_EQ(vst3->size, 5000u);
    EXPECT_EQ(c.plugins[0].package("clap", "mac")->size, 12u);  // truncated toward zero
    EXPECT_EQ(c.plugins[0].package("au", "mac"), nullptr);
    EXPECT_EQ(c.plugins[0].package("vst3", "win"), nullptr);
    EXPECT_EQ(c.plugins[0].art_row.at("1x").path, "art/synth-row.png");
    EXPECT_FALSE(c.plugins[0].is_app);

    EXPECT_EQ(c.shared_user.at("presets").size(), 1u);
    EXPECT_TRUE(c.shared_machine.empty());  // groups whose lists are empty leave no entry
    EXPECT_EQ(c.shared_user.count("empty"), 0u);

    ASSERT_EQ(c.apps.size(), 1u);
    const tqm::Plugin& app = c.apps[0];
    EXPECT_TRUE(app.is_app);
    EXPECT_EQ(c.find("studio"), &app);
    EXPECT_EQ(app.package("app", "mac")->exe, "Studio");
    EXPECT_EQ(app.package("vst3", "mac")->item, "StudioFx.vst3");  // no exe needed for a carried plug-in
    EXPECT_EQ(app.note, "settings");
    EXPECT_EQ(app.kept, "projects");
    EXPECT_EQ(app.paths_machine.at("settings")[0], "%PROGRAMDATA%\\Ardune Systems\\Studio");
    ASSERT_EQ(app.companions.size(), 1u);
    EXPECT_EQ(app.companions[0].min_version, "2.0");
    EXPECT_EQ(c.find("nothing"), nullptr);
}

struct Mutation {
    const char* from;
    const char* to;
    std::string message;
};

TEST(Catalog, RefusesUnsafeOrIncompleteEntries) {
    const std::vector<Mutation> table = {
        {R"("schema": 1,)", R"("schema": 2,)", "the catalog is schema 2 (this manager reads 1): update the manager"},
        {R"("schema": 1,)", "", "the catalog is schema 0 (this manager reads 1): update the manager"},
        {R"("schema": 1,)", R"("schema": 1e300,)",
         "the catalog is schema 2147483647 (this manager reads 1): update the manager"},
        {"manager/Manager-1.2.0.zip", "../Manager.zip", "the manager's mac package has no safe path, sha256 and item"},
        {"\"item\": \"Manager.app\"", "\"item\": \"a/b\"",
         "the manager's mac package has no safe path, sha256 and item"},
        {R"("id": "synth", "name")", R"("id": "", "name")", "a catalog entry has no id or version"},
        {R"("version": "2.0.1")", R"("version": 2)", "a catalog entry has no id or version"},
        {"synth/Synth.vst3.zip", "/abs/Synth.zip", "synth vst3: a package entry without a safe path, sha256 and item"},
        {"synth/Synth.vst3.zip", "synth\\\\Synth.zip",
         "synth vst3: a package entry without a safe path, sha256 and item"},
        {"synth/Synth.vst3.zip", "c:Synth.zip", "synth vst3: a package entry without a safe path, sha256 and item"},
        {"synth/Synth.vst3.zip", "synth//Synth.zip",
         "synth vst3: a package entry without a safe path, sha256 and item"},
        {"synth/Synth.vst3.zip", "synth/./Synth.zip",
         "synth vst3: a package entry without a safe path, sha256 and item"},
        {"synth/Synth.vst3.zip", "", "synth vst3: a package entry without a safe path, sha256 and item"},
        {"\"Synth.clap\"", "\"..\"", "synth clap: a package entry without a safe path, sha256 and item"},
        // A NUL would cut these names short on their way to the file system ("..\0x" becomes "..").
        {"\"Synth.clap\"", R"("..\u0000x")", "synth clap: a package entry without a safe path, sha256 and item"},
        {"synth/Synth.vst3.zip", R"(..\u0000/x.zip)",
         "synth vst3: a package entry without a safe path, sha256 and item"},
        {R"("exe": "Studio")", R"("exe": "..\u0000")",
         "studio mac: a package entry without a safe path, sha256, item and exe"},
        {R"("uninstall_key": "Studio")", R"("uninstall_key": "..\u0000")",
         "an app entry has no id, version or uninstall key"},
        // DEL is a control byte like the others, in every name the file system sees.
        {"\"Synth.clap\"", "\"Synth\x7f.clap\"", "synth clap: a package entry without a safe path, sha256 and item"},
        {"synth/Synth.vst3.zip", "synth/\x7f/Synth.zip",
         "synth vst3: a package entry without a safe path, sha256 and item"},
        {R"("exe": "Studio")", "\"exe\": \"Stu\x7f\"",
         "studio mac: a package entry without a safe path, sha256, item and exe"},
        {R"("uninstall_key": "Studio")", "\"uninstall_key\": \"Stu\x7f\"",
         "an app entry has no id, version or uninstall key"},
        {"art/synth-logo.png", "art/synth\x7f.png", "synth: an art path that is not safe"},
        // A digest is exactly 64 hexadecimal digits.
        {R"(Synth.vst3.zip", "sha256": "a)", R"(Synth.vst3.zip", "sha256": ")",
         "synth vst3: a package entry without a safe path, sha256 and item"},
        {R"(Synth.vst3.zip", "sha256": "a)", R"(Synth.vst3.zip", "sha256": "aa)",
         "synth vst3: a package entry without a safe path, sha256 and item"},
        {R"(Synth.vst3.zip", "sha256": "a)", R"(Synth.vst3.zip", "sha256": "g)",
         "synth vst3: a package entry without a safe path, sha256 and item"},
        {R"(Synth.vst3.zip", "sha256": "a)", R"(Synth.vst3.zip", "sha256": " )",
         "synth vst3: a package entry without a safe path, sha256 and item"},
        {R"(Manager-1.2.0.zip", "sha256": "a)", R"(Manager-1.2.0.zip", "sha256": "-)",
         "the manager's mac package has no safe path, sha256 and item"},
        {R"(Studio.zip", "sha256": "a)", R"(Studio.zip", "sha256": "x)",
         "studio mac: a package entry without a safe path, sha256, item and exe"},
        {"art/synth-logo.png", "art/../../x.png", "synth: an art path that is not safe"},
        {"%APPDATA%\\\\Ardune Systems\\\\Shared", "%APPDATA%\\\\Other\\\\Shared",
         "a shared data path that is not the suite's: %APPDATA%\\Other\\Shared\\Presets"},
        {R"("uninstall_key": "Studio")", R"("uninstall_key": "../Studio")",
         "an app entry has no id, version or uninstall key"},
        {R"("uninstall_key": "Studio",)", "", "an app entry has no id, version or uninstall key"},
        {R"("exe": "Studio")", R"("exe": "")", "studio mac: a package entry without a safe path, sha256, item and exe"},
        {"studio/StudioFx.vst3.zip", "studio/../Fx.zip",
         "studio vst3: a package entry without a safe path, sha256 and item"},
        {R"("plugin_packages": {)", R"("plugin_packages": {"app": {}, )",
         "studio: plugin_packages cannot hold the app's own package"},
        {"%PROGRAMDATA%\\\\Ardune Systems\\\\Studio", "%PROGRAMDATA%\\\\Ardune Systems\\\\..",
         "studio: a data path that is not an app's: %PROGRAMDATA%\\Ardune Systems\\.."},
        {R"({"id": "synth", "min_version")", R"({"id": "studio", "min_version")", "studio: a companion without an id"},
        {R"({"id": "synth", "min_version")", R"({"min_version")", "studio: a companion without an id"},
        {R"("min_version": "2.0"}]})",
         R"("min_version": "2.0"}]}, {"id": "synth", "version": "1", "uninstall_key": "S"})", "synth is listed twice"},
        {R"("min_version": "2.0"}]})",
         R"("min_version": "2.0"}]}, {"id": "studio", "version": "1", "uninstall_key": "S"})",
         "studio is listed twice"},
    };
    for (const Mutation& m : table) {
        std::string text = validCatalog();
        const size_t at = text.find(m.from);
        ASSERT_NE(at, std::string::npos) << m.from;
        text.replace(at, std::string(m.from).size(), m.to);
        tqm::Catalog c;
        std::string error;
        EXPECT_FALSE(tqm::parseCatalog(text, c, error)) << m.from;
        EXPECT_EQ(error, m.message) << m.from;
    }
}

TEST(Catalog, AcceptsEdgesOfTheRules) {
    const std::vector<std::pair<const char*, const char*>> table = {
        {R"("schema": 1,)", R"("schema": 1.4,)"},                         // rounded
        {"synth/Synth.vst3.zip", "synth/Synth.vst3/"},                    // one final slash
        {R"("sequence": 7)", R"("sequence": 1e300)"},                     // saturates
        {R"("plugin_packages": {)", R"("plugin_packages": {"au": 5, )"},  // a non-object format is empty
    };
    for (const auto& [from, to] : table) {
        std::string text = validCatalog();
        text.replace(text.find(from), std::string(from).size(), to);
        tqm::Catalog c;
        std::string error;
        EXPECT_TRUE(tqm::parseCatalog(text, c, error)) << to << ": " << error;
    }
}

TEST(Catalog, UpperCaseDigestsCompareAsLowerCase) {
    std::string text = validCatalog();
    const std::string from = R"(Synth.vst3.zip", "sha256": ")" + kSha;
    text.replace(text.find(from), from.size(), R"(Synth.vst3.zip", "sha256": ")" + std::string(32, 'A') + std::string(32, '0'));
    tqm::Catalog c;
    std::string error;
    ASSERT_TRUE(tqm::parseCatalog(text, c, error)) << error;
    ASSERT_NE(c.find("synth"), nullptr);
    const tqm::FileRef* ref = c.find("synth")->package("vst3", "mac");
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(ref->sha256, std::string(32, 'a') + std::string(32, '0'));
}

TEST(Catalog, IntegersSaturate) {
    tqm::Catalog c;
    std::string error;
    const std::string sha = kSha;
    ASSERT_TRUE(tqm::parseCatalog(R"({"schema": 1, "sequence": -1e300, "manager": {"packages": {"mac":
        {"path": "m.zip", "sha256": ")" +
                                      sha + R"(", "item": "M.app", "size": 1e30}, "win":
        {"path": "m.zip", "sha256": ")" +
                                      sha + R"(", "item": "M.app", "size": -5}}}})",
                                  c, error))
        << error;
    EXPECT_EQ(c.sequence, INT64_MIN);
    EXPECT_EQ(c.manager_packages.at("mac").size, UINT64_MAX);
    EXPECT_EQ(c.manager_packages.at("win").size, 0u);
    ASSERT_TRUE(tqm::parseCatalog(R"({"schema": 1, "sequence": 1e19})", c, error));
    EXPECT_EQ(c.sequence, INT64_MAX);
}

TEST(Catalog, NotJsonLeavesTheOutputUntouched) {
    for (const char* text : {"", "[1, 2]", "{\"schema\": 1", "\"text\""}) {
        tqm::Catalog c;
        c.sequence = 99;
        std::string error;
        EXPECT_FALSE(tqm::parseCatalog(text, c, error));
        EXPECT_EQ(error, "the catalog is not JSON");
        EXPECT_EQ(c.sequence, 99);
    }
}

// "plugins" given more than once: the last one is the list, and a plug-in's fault counts only there;
// a schema fault comes first wherever the list stands.
TEST(Catalog, TheLastPluginsListIsTheOne) {
    const std::string good = R"({"id": "a", "version": "1"})", bad = R"({"id": "b"})";
    const std::pair<std::string, std::string> cases[] = {  // text, then the ids read and any error
        {R"({"schema": 1, "plugins": [)" + bad + R"(], "plugins": [)" + good + "]}", "a "},
        {R"({"schema": 1, "plugins": [)" + good + R"(], "plugins": []})", ""},
        {R"({"schema": 1, "plugins": [)" + good + R"(], "plugins": {}})", ""},
        {R"({"schema": 1, "plugins": [)" + good + R"(], "plugins": [)" + good + ", " + bad + "]}",
         "a a catalog entry has no id or version"},
        {R"({"plugins": [)" + bad + R"(], "schema": 2})", "the catalog is schema 2 (this manager reads 1): update the manager"},
    };
    for (const auto& [text, want] : cases) {
        tqm::Catalog catalog;
        std::string error, got;
        const bool ok = tqm::parseCatalog(text, catalog, error);
        EXPECT_EQ(ok, error.empty()) << text;
        for (const tqm::Plugin& p : catalog.plugins) got += p.id + " ";
        EXPECT_EQ(got + error, want) << text;
    }
}

TEST(Catalog, ManagerPackageNeedsAPath) {
    tqm::Catalog c;
    c.manager_packages["mac"] = tqm::FileRef{};
    EXPECT_EQ(c.managerPackage(), nullptr);
    c.manager_packages["mac"].path = "m.zip";
    EXPECT_NE(c.managerPackage(), nullptr);
}

}  // namespace

// find answers from the lists as they are now, however they were changed since the last lookup:
// entries added or removed, an id changed in place, a copy or a move of the catalog.
TEST(Catalog, FindFollowsTheListsAsTheyChange) {
    auto entry = [](const std::string& id) {
        tqm::Plugin p;
        p.id = id;
        return p;
    };
    tqm::Catalog c;
    for (int i = 0; i < 300; ++i) c.plugins.push_back(entry("p" + std::to_string(i)));
    c.apps.push_back(entry("app"));
    c.apps.push_back(entry("p7"));  // a plug-in goes before an app of the same id
    EXPECT_EQ(c.find("p7"), &c.plugins[7]);
    EXPECT_EQ(c.find("app"), &c.apps[0]);
    EXPECT_EQ(c.find("p300"), nullptr);
    c.plugins.push_back(entry("p300"));
    EXPECT_EQ(c.find("p300"), &c.plugins[300]);
    c.plugins[5].id = "renamed";
    EXPECT_EQ(c.find("renamed"), &c.plugins[5]);
    EXPECT_EQ(c.find("p5"), nullptr);
    c.plugins.erase(c.plugins.begin());
    EXPECT_EQ(c.find("p0"), nullptr);
    EXPECT_EQ(c.find("p1"), &c.plugins[0]);
    const tqm::Catalog copy = c;
    EXPECT_EQ(copy.find("p9"), &copy.plugins[8]);
    tqm::Catalog moved = std::move(c);
    EXPECT_EQ(moved.find("app"), &moved.apps[0]);
    moved.plugins.erase(moved.plugins.begin() + 6);  // "p7": the app of that id is next
    EXPECT_EQ(moved.find("p7"), &moved.apps[1]);
}
