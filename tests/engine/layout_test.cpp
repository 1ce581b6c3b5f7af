#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/layout.h"
#include "tests/support/temp_home.h"

using tqm::Layout;
using tqm::Scope;


TEST(Layout, UserAndSystemPaths) {
    testsupport::TempHome guard;
    setenv("HOME", "/Users/a", 1);
    Layout user;
    EXPECT_EQ(user.formatDir("vst3"), "/Users/a/Library/Audio/Plug-Ins/VST3/Ardune Systems");
    EXPECT_EQ(user.formatDir("au"), "/Users/a/Library/Audio/Plug-Ins/Components");
    EXPECT_EQ(user.formatDir("app"), "/Applications");
    EXPECT_EQ(user.receiptFile(), "/Users/a/Library/Application Support/Ardune Systems/Manager/installed.json");
    EXPECT_EQ(user.formatDir("xyz"), "/Users/a/Library/Audio/Plug-Ins/Components/Ardune Systems");

    Layout sys;
    sys.scope = Scope::System;
    EXPECT_EQ(sys.formatDir("clap"), "/Library/Audio/Plug-Ins/CLAP/Ardune Systems");
    EXPECT_EQ(sys.receiptFile(), "/Library/Application Support/Ardune Systems/Manager/installed.json");
    EXPECT_EQ(sys.userData(), "/Users/a/Library/Application Support/Ardune Systems/Manager");
    EXPECT_EQ(sys.appsReceiptFile(), "/Users/a/Library/Application Support/Ardune Systems/Manager/apps.json");

    unsetenv("HOME");
    EXPECT_EQ(user.formatRoot("clap"), "/tmp/Library/Audio/Plug-Ins/CLAP");
}

TEST(Layout, RootAndOverrides) {
    for (Scope scope : {Scope::User, Scope::System}) {
        Layout l;
        l.scope = scope;
        l.root = "/r";
        EXPECT_EQ(l.formatDir("vst3"), "/r/VST3/Ardune Systems");
        EXPECT_EQ(l.formatDir("au"), "/r/Components");
        EXPECT_EQ(l.appsDir(), "/r/Programs/Ardune Systems");
        EXPECT_EQ(l.formatDir("app"), "/r/Programs/Ardune Systems");
        EXPECT_EQ(l.receiptFile(), "/r/data/installed.json");
        EXPECT_EQ(l.appsReceiptFile(), "/r/data/apps.json");
        EXPECT_EQ(l.userData(), "/r/data");
        l.folders["clap"] = "/x";
        l.folders["vst3"] = "";
        EXPECT_EQ(l.formatDir("clap"), "/x/Ardune Systems");
        EXPECT_EQ(l.formatRoot("clap"), "/x");
        EXPECT_EQ(l.formatDir("vst3"), "/r/VST3/Ardune Systems");
    }
    EXPECT_STREQ(tqm::scopeName(Scope::User), "user");
    EXPECT_STREQ(tqm::scopeName(Scope::System), "system");
    EXPECT_STREQ(tqm::thisPlatform(), "mac");
    EXPECT_EQ(tqm::formatsHere(), (std::vector<std::string>{"vst3", "clap"}));
}

TEST(DataPath, SafetyRule) {
    const char* safe[] = {"%APPDATA%\\Ardune Systems\\Synth", "%APPDATA%\\Ardune Systems\\Synth\\",
                          "%LOCALAPPDATA%\\Ardune Systems\\a\\b c", "%DOCUMENTS%\\Ardune Systems\\Managers",
                          "%PROGRAMDATA%\\Ardune Systems\\X\\..x"};
    const char* unsafe[] = {"%APPDATA%\\Ardune Systems\\",        "%appdata%\\Ardune Systems\\Synth",
                            "%APPDATA%\\Ardune Systems\\Manager", "%APPDATA%\\Ardune Systems\\MANAGER\\x",
                            "%APPDATA%\\Ardune Systems\\a\\\\b",  "%APPDATA%\\Ardune Systems\\..\\b",
                            "%APPDATA%\\Ardune Systems\\a/b",     "%APPDATA%\\Ardune Systems\\a\\.",
                            "%APPDATA%\\Ardune Systems\\\\a",     "%APPDATA%\\Ardune Systems\\a\\\\",
                            "%APPDATA%\\Ardune Systems\\a:b",     "%TEMP%\\Ardune Systems\\a",
                            "/etc/passwd",                        ""};
    // A control byte would cut the path short on its way to the file system.
    std::string withNul = std::string("%APPDATA%\\Ardune Systems\\..") + '\0' + "x";
    EXPECT_FALSE(tqm::dataPathOk(withNul));
    EXPECT_FALSE(tqm::dataPathOk("%APPDATA%\\Ardune Systems\\a\nb"));
    EXPECT_FALSE(tqm::dataPathOk("%APPDATA%\\Ardune Systems\\a\x7f"));
    for (const char* t : safe) EXPECT_TRUE(tqm::dataPathOk(t)) << t;
    for (const char* t : unsafe) EXPECT_FALSE(tqm::dataPathOk(t)) << t;
}

TEST(DataPath, Mapping) {
    testsupport::TempHome guard;
    setenv("HOME", "/h", 1);
    Layout l;
    EXPECT_EQ(tqm::dataPath(l, "%APPDATA%\\Ardune Systems\\Synth\\Presets"),
              "/h/Library/Application Support/Ardune Systems/Synth/Presets");
    EXPECT_EQ(tqm::dataPath(l, "%APPDATA%\\Ardune Systems\\Synth\\"),
              tqm::dataPath(l, "%APPDATA%\\Ardune Systems\\Synth"));
    EXPECT_EQ(tqm::dataPath(l, "%DOCUMENTS%\\Ardune Systems\\S"), "/h/Documents/Ardune Systems/S");
    EXPECT_EQ(tqm::dataPath(l, "%PROGRAMDATA%\\Ardune Systems\\S"), "/Library/Application Support/Ardune Systems/S");
    EXPECT_EQ(tqm::dataPath(l, "%APPDATA%\\Ardune Systems\\..\\x"), "");
    setenv("HOME", "", 1);
    EXPECT_EQ(tqm::dataPath(l, "%APPDATA%\\Ardune Systems\\S"), "");
    EXPECT_EQ(tqm::dataPath(l, "%PROGRAMDATA%\\Ardune Systems\\S"), "/Library/Application Support/Ardune Systems/S");
    l.root = "/tmp/r";
    EXPECT_EQ(tqm::dataPath(l, "%PROGRAMDATA%\\Ardune Systems\\X"), "/tmp/r/ProgramData/Ardune Systems/X");
    EXPECT_EQ(tqm::dataPath(l, "%LOCALAPPDATA%\\Ardune Systems\\X"), "/tmp/r/LocalAppData/Ardune Systems/X");
}
