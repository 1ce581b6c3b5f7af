// Dialogs through a stand-in zenity on PATH that records its arguments and answers as told.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/linux/dialogs.h"
#include "tests/support/temp_home.h"

namespace {

using namespace lumo::platform;

class Dialogs : public testsupport::TempHomeTest {
protected:
    void SetUp() override {
        const std::string bin = path("bin");
        ASSERT_TRUE(testsupport::writeFile(bin + "/zenity",
                                           "#!/bin/sh\n"
                                           "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$ZENITY_ARGS\"\n"
                                           "printf '%s' \"$ZENITY_OUT\"\n"
                                           "exit \"$ZENITY_STATUS\"\n"));
        chmod((bin + "/zenity").c_str(), 0755);
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (bin + ":" + oldPath_).c_str(), 1);
        setenv("ZENITY_ARGS", path("args").c_str(), 1);
        answer("", 0);
    }
    void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }
    void answer(const std::string& out, int status) {
        setenv("ZENITY_OUT", out.c_str(), 1);
        setenv("ZENITY_STATUS", std::to_string(status).c_str(), 1);
    }
    std::string args() { return testsupport::readFile(path("args")); }

    std::string oldPath_;
};

TEST_F(Dialogs, FolderChosenCancelledOrNoZenity) {
    answer("/home/u/Plug Ins\n", 0);
    std::string folder = "/start";
    EXPECT_TRUE(zenityFolder("Choose a folder", folder));
    EXPECT_EQ(folder, "/home/u/Plug Ins");
    EXPECT_EQ(args(), "--file-selection\n--directory\n--title=Choose a folder\n--filename=/start/\n");

    answer("", 1);  // cancelled
    folder = "/start";
    EXPECT_FALSE(zenityFolder("Choose", folder));
    EXPECT_EQ(folder, "/start");

    setenv("PATH", path("nothing-here").c_str(), 1);
    EXPECT_FALSE(zenityFolder("Choose", folder));
    EXPECT_EQ(folder, "/start");
}

TEST_F(Dialogs, SaveAndOpenFiles) {
    answer("/tmp/out.txt\n", 0);
    std::string file = "/docs";
    EXPECT_TRUE(zenityFile(true, "Save", "txt", "notes.txt", file));
    EXPECT_EQ(file, "/tmp/out.txt");
    EXPECT_EQ(args(), "--file-selection\n--title=Save\n--save\n--filename=/docs/notes.txt\n--file-filter=*.txt\n");

    answer("/a/one.ardp\n/a/two b.ardp\n", 0);
    std::vector<std::string> files;
    EXPECT_TRUE(zenityFiles("Open", "Presets", {"ardp", ".xml"}, true, files));
    EXPECT_EQ(files, (std::vector<std::string>{"/a/one.ardp", "/a/two b.ardp"}));
    EXPECT_EQ(args(), "--file-selection\n--title=Open\n--multiple\n--separator=\n\n"
                      "--file-filter=Presets | *.ardp *.xml\n");

    answer("", 0);  // confirmed with nothing chosen
    files.clear();
    EXPECT_FALSE(zenityFiles("Open", "", {}, false, files));
}

}  // namespace
