// Start-up of the main window: the command line against "settings.txt", the two looks, the zoom,
// the minimum sizes, and a row asked for before the rows exist.
#include <gtest/gtest.h>

#include "engine/signature.h"
#include "tests/manager/view_fixture.h"

using namespace testsupport;

namespace {

class ViewStart : public ViewTest {};

TEST_F(ViewStart, DefaultsWithoutSwitchesOrSettings) {
    // Offline keeps the default web source from being asked; nothing else is given.
    open({"--offline"}, false);
    const tqapp::Config& c = view->model()->config;
    EXPECT_EQ(c.layout.scope, tqm::Scope::User);
    EXPECT_TRUE(c.layout.root.empty());
    EXPECT_TRUE(c.layout.folders.empty());
    EXPECT_EQ(c.source.rfind("https://", 0), 0u);
    EXPECT_EQ(c.source.substr(c.source.size() - 9), "/manager/");
    EXPECT_EQ(c.pub, tqm::builtinKeys());
    EXPECT_TRUE(c.offline);
    EXPECT_FALSE(c.harness);
    EXPECT_EQ(c.applySwitch, "--tqm-apply");
    EXPECT_EQ(c.version, "0.3.0");
    EXPECT_EQ(view->look(), 1);
    EXPECT_DOUBLE_EQ(editor->zoom(), 1.0);
    EXPECT_EQ(editor->minWidth(), view->pageWidth() + 70);
    EXPECT_EQ(editor->minHeight(), view->pageHeight());
    EXPECT_EQ(view->bounds.w, view->pageWidth() + 70);
    EXPECT_EQ(view->name, "manager");
    EXPECT_EQ(view->colors().size(), 20u);
    EXPECT_EQ(view->colors().at("desc"), 0xFFA0A0A0u);
    EXPECT_EQ(view->rowPitch(), 26);
    EXPECT_EQ(view->rowFirstX(), 7);
    EXPECT_EQ(view->rowFirstY(), 51);
    EXPECT_DOUBLE_EQ(view->inspectorShare(), 0.25);
    ASSERT_EQ(view->xAxis().bands.size(), 3u);
    EXPECT_EQ(view->xAxis().bands[1].pos, 347);
    ASSERT_EQ(view->yAxis().bands.size(), 1u);
    EXPECT_EQ(view->yAxis().bands[0].len, 2);
    // The caption strip ends one unit left of the minimise button.
    ASSERT_EQ(editor->root()->children.size(), 2u);
    lumo::gui::Widget* caption = editor->root()->children[1].get();
    EXPECT_EQ(caption->name, "caption");
    EXPECT_EQ(caption->windowPart, lumo::gui::kWindowPartCaption);
    EXPECT_EQ(caption->bounds.w, view->windowSlot(false).x - 1);
    EXPECT_EQ(caption->bounds.h, 25);
    ASSERT_TRUE(viewLoaded());
    EXPECT_FALSE(view->model()->catalog->ok);  // offline, nothing cached
}

TEST_F(ViewStart, LooksZoomAndMinimumWidth) {
    struct Case {
        std::vector<std::string> words;
        int look;
        double zoom;
        int extraWidth;
    };
    const Case cases[] = {
        {{"--look", "tq"}, 0, 1.2, 0},
        {{"--look", "TQ"}, 1, 1.0, 70},
        {{"--look"}, 1, 1.0, 70},
        {{"--look", "tq", "--zoom", "2"}, 0, 1.0, 0},  // the program entry owns the zoom then
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = c.words;
        words.push_back("--steps");
        open(words);
        EXPECT_EQ(view->look(), c.look) << c.words[0];
        EXPECT_DOUBLE_EQ(editor->zoom(), c.zoom) << c.words.size();
        EXPECT_EQ(editor->minWidth(), view->pageWidth() + c.extraWidth);
        EXPECT_EQ(view->minimumWidth(), view->pageWidth() + c.extraWidth);
    }
}

TEST_F(ViewStart, ScopeAndFoldersFromSwitchesAndSettings) {
    struct Case {
        std::vector<std::string> words;
        std::string settings;
        tqm::Scope scope;
    };
    const Case cases[] = {
        {{}, "", tqm::Scope::User},
        {{"--scope", "system"}, "scope=user\n", tqm::Scope::System},  // the switch wins
        {{"--scope", "user"}, "scope=system\n", tqm::Scope::User},
        {{"--scope"}, "scope=user\n", tqm::Scope::User},  // no value: the settings decide
        {{"--scope"}, "scope=system\n", tqm::Scope::System},
        {{}, "scope=\n", tqm::defaultScope()},  // an empty or unknown word means the default scope
        {{}, "scope=User\n", tqm::defaultScope()},
        {{"--scope", "sytem"}, "scope=system\n", tqm::defaultScope()},
    };
    for (const Case& c : cases) {
        writeFile(userData() + "/settings.txt", c.settings);
        std::vector<std::string> words = {"--steps"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        open(words);
        EXPECT_EQ(view->model()->config.layout.scope, c.scope) << c.settings;
    }

    writeFile(userData() + "/settings.txt",
              "junk line\nfolder.vst3=/plugins/vst3\nfolder.clap=\nfolder.au=/x=y\n=nothing\n");
    open({"--steps"});
    const std::map<std::string, std::string> want = {{"au", "/x=y"}, {"vst3", "/plugins/vst3"}};
    EXPECT_EQ(view->model()->config.layout.folders, want);
}

TEST_F(ViewStart, RelativeRootIsMadeAbsolute) {
    // Receipts written under a relative root would not match the same root given absolute later.
    const std::string here = std::filesystem::current_path().string();
    const std::string rel = std::filesystem::path(path("root")).lexically_relative(here).string();
    ASSERT_FALSE(rel.empty());
    const std::string cases[][2] = {
        {rel, path("root")},
        {rel + "/", path("root")},
        {rel + "/../root/.", path("root")},
        {path("root"), path("root")},  // an absolute root is kept as given
        {path("root") + "/", path("root") + "/"},
    };
    for (const auto& c : cases) {
        open({"--offline", "--root", c[0]}, false);
        EXPECT_EQ(view->model()->config.layout.root, c[1]) << c[0];
    }
}

TEST_F(ViewStart, SelectBeforeTheRowsExist) {
    catalog.publish(catalogText("1.0.0"));
    // Display list once loaded: APPS, studio, PLUGINS, delay, synth.
    struct Case {
        const char* index;
        std::string want;
    };
    const Case cases[] = {{"3", "delay"}, {"2", "delay"}, {"0", "studio"}, {"99", "synth"}, {"-4", "studio"}};
    for (const Case& c : cases) {
        open({"--select", c.index});
        EXPECT_TRUE(view->selectedId().empty());
        EXPECT_EQ(view->pendingSelect(), std::atoi(c.index));
        ASSERT_TRUE(viewLoaded());
        EXPECT_EQ(view->selectedId(), c.want) << c.index;
    }
}

TEST_F(ViewStart, HarnessRunsNeitherReadNorWriteTheWindowSize) {
    writeFile(userData() + "/window.txt", "900 600\n");
    open({"--steps"});
    EXPECT_TRUE(view->model()->config.harness);
    EXPECT_FALSE(view->sizeRestored());
    EXPECT_EQ(view->bounds.w, view->pageWidth() + 70);
    editor->resizeBody(700, 400);
    EXPECT_EQ(readFile(userData() + "/window.txt"), "900 600\n");

    for (const char* word : {"--screenshot", "--dump-tree", "--frames"}) {
        open({word});
        EXPECT_TRUE(view->model()->config.harness) << word;
    }
    open({"--size"});
    EXPECT_FALSE(view->model()->config.harness);
    EXPECT_FALSE(view->sizeRestored());
}

}  // namespace
