#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

void store(std::vector<const char*> words) {
    words.insert(words.begin(), "/opt/manager");
    lumo::storeStandaloneArgs(int(words.size()), words.data());
}

TEST(CommandLine, LookupsOverTheStoredWords) {
    struct Case {
        std::vector<const char*> words;
        const char* name;
        bool has;
        std::string value;
    };
    const std::vector<Case> cases = {
        {{"--root", "/tmp/r", "--offline"}, "--root", true, "/tmp/r"},
        {{"--root", "/tmp/r", "--offline"}, "--offline", true, ""},       // the last word has no value
        {{"--look", "pixel", "--look", "skin"}, "--look", true, "pixel"},  // the first one counts
        {{"--size", "", "--zoom", "2"}, "--size", true, ""},               // an empty value
        {{"--scope", "--root", "/r"}, "--scope", true, "--root"},          // the next word, whatever it is
        {{"--rootx", "a", "-root", "b"}, "--root", false, ""},             // exact matches only
        {{}, "--root", false, ""},
        {{"/opt/manager"}, "/opt/manager", true, ""},  // the program name itself is not stored: this is a word
    };
    for (const Case& c : cases) {
        store(c.words);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(lumo::hasStandaloneArg(c.name), c.has);
        EXPECT_EQ(lumo::standaloneArgValue(c.name), c.value);
    }
    store({"--root", "x"});
    EXPECT_FALSE(lumo::hasStandaloneArg(nullptr));
    EXPECT_EQ(lumo::standaloneArgValue(nullptr), "");
    EXPECT_FALSE(lumo::hasStandaloneArg("/opt/manager"));
    lumo::storeStandaloneArgs(0, nullptr);
    EXPECT_TRUE(lumo::standaloneArgs().empty());
}

}  // namespace
