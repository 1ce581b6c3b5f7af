// The manager's log: stamped lines, rotation past 2 MiB, one writer at a time.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "manager/model/log.h"
#include "tests/support/temp_home.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class Log : public TempHomeTest {
protected:
    fs::path file() const { return tqapp::logPath(path("data")); }
    fs::path old() const { return file().parent_path() / "manager.old.log"; }
};

TEST_F(Log, StampedLinesInAFolderMadeOnDemand) {
    tqapp::appendLog(file(), "catalog 42");
    tqapp::appendLog(file(), "  install synth vst3: ok");
    const std::string text = readFile(file().string());
    EXPECT_TRUE(std::regex_match(text, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  catalog 42\n"
                                                  "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d    install synth vst3: ok\n")))
        << text;
}

TEST_F(Log, RotatesPastTwoMebibytes) {
    writeFile(old().string(), "older");
    writeFile(file().string(), std::string(tqapp::kLogLimit - 1, 'x') + "\n");  // exactly 2 MiB
    tqapp::appendLog(file(), "one");
    EXPECT_GT(fs::file_size(file()), tqapp::kLogLimit);
    EXPECT_EQ(readFile(old().string()), "older");
    tqapp::appendLog(file(), "two");
    EXPECT_EQ(fs::file_size(old()), tqapp::kLogLimit + 25);
    const std::string text = readFile(file().string());
    EXPECT_EQ(text.size(), 25u);
    EXPECT_EQ(text.substr(19), "  two\n");
}

// Lines of several threads never interleave.
TEST_F(Log, ConcurrentWritersKeepWholeLines) {
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i) tqapp::appendLog(file(), std::string(100, char('a' + t)));
        });
    for (auto& w : writers) w.join();
    const std::string text = readFile(file().string());
    EXPECT_EQ(text.size(), 800u * 122u);
    for (size_t at = 0; at < text.size(); at += 122) {
        const char c = text[at + 21];
        ASSERT_EQ(text.substr(at + 21, 101), std::string(100, c) + "\n");
    }
}

}  // namespace
