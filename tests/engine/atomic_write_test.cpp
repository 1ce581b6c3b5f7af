// The one whole-file write (engine/atomic_write.h): a file is replaced whole, or it is left as it
// was with nothing beside it.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/atomic_write.h"
#include "engine/engine.h"
#include "engine/safe_path.h"
#include "tests/support/job_fixture.h"
#include "tests/support/temp_home.h"

namespace {

namespace fs = std::filesystem;
using testsupport::entryNames;
using testsupport::readFile;
using testsupport::writeFile;

class AtomicWrite : public testsupport::TempHomeTest {};

TEST_F(AtomicWrite, ReplacesWholeOrLeavesTheTargetAsItWas) {
    struct Case {
        const char* what;
        std::function<void()> setup;
        std::string target;
        bool makeFolder;
        int err;  // 0: the write goes through
        bool placing;
    } table[] = {
        {"a longer file", [&] { writeFile(path("a/f"), std::string(5000, 'o')); }, "a/f", false, 0, false},
        {"a missing folder made", [] {}, "b/c/f", true, 0, false},
        {"a missing folder not made", [] {}, "m/f", false, ENOENT, false},
        {"a file where the folder should be", [&] { writeFile(path("p"), "x"); }, "p/f", false, ENOTDIR, false},
        {"a folder in the target's place", [&] { fs::create_directories(path("d/f/inner")); }, "d/f", false, EISDIR,
         true},
        {"a link at the target, replaced and not followed",
         [&] {
             writeFile(path("victim"), "precious");
             fs::create_directories(path("l"));
             fs::create_symlink(path("victim"), path("l/f"));
         },
         "l/f", false, 0, false},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        c.setup();
        const std::string target = path(c.target);
        tqm::WriteFailure failure;
        EXPECT_EQ(tqm::writeFileAtomic(target, "new text\n", 0644, c.makeFolder, failure), c.err == 0);
        EXPECT_EQ(failure.err, c.err);
        EXPECT_EQ(failure.placing, c.placing);
        if (c.err == 0) {
            EXPECT_EQ(readFile(target), "new text\n");
            EXPECT_FALSE(fs::is_symlink(target));
        }
        const std::string folder = fs::path(target).parent_path().string();
        if (fs::is_directory(folder)) {
            EXPECT_EQ(entryNames(folder), std::vector<std::string>{"f"});
        }
    }
    EXPECT_EQ(readFile(path("a/f")), "new text\n");
    EXPECT_FALSE(fs::exists(path("m")));
    EXPECT_TRUE(fs::is_directory(path("d/f/inner")));
    EXPECT_EQ(readFile(path("victim")), "precious");

    // The caller's mode (less the umask), and the message of the worded form.
    tqm::WriteFailure failure;
    ASSERT_TRUE(tqm::writeFileAtomic(path("secret"), "s", 0600, false, failure));
    struct stat st{};
    ASSERT_EQ(::stat(path("secret").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    std::string error;
    EXPECT_FALSE(tqm::writeFileAtomic(path("m/f"), "x", 0644, false, error));
    EXPECT_EQ(error, "cannot write " + path("m/f") + ": " + tqm::detail::systemText(ENOENT));
}

TEST_F(AtomicWrite, NeverWritesThroughWhatStandsAtTheTemporaryName) {
    writeFile(path("victim"), "precious");
    writeFile(path("data/f"), "old");
    fs::create_symlink(path("victim"), path("data/f.tmp"));
    tqm::detail::DirFd dir;
    ASSERT_EQ(tqm::detail::openDir(path("data"), dir), 0);
    tqm::WriteFailure failure;
    EXPECT_FALSE(tqm::detail::replaceVia(dir.get(), "f", "f.tmp", "new", 0644, failure));
    EXPECT_EQ(failure.err, EEXIST);
    EXPECT_EQ(readFile(path("victim")), "precious");
    EXPECT_TRUE(fs::is_symlink(path("data/f.tmp")));  // not ours: left where it is
    EXPECT_EQ(readFile(path("data/f")), "old");
    // The writer's own temporary names never meet it.
    EXPECT_TRUE(tqm::writeFileAtomicAt(dir.get(), "f", "new", 0644, failure));
    EXPECT_EQ(readFile(path("data/f")), "new");
}

TEST_F(AtomicWrite, WritersAtOnceLeaveOneWholeText) {
    std::vector<std::thread> writers;
    for (char c = 'a'; c < 'e'; ++c)
        writers.emplace_back([this, c] {
            for (int i = 0; i < 20; ++i) {
                tqm::WriteFailure failure;
                EXPECT_TRUE(tqm::writeFileAtomic(path("f"), std::string(100000, c), 0644, false, failure));
            }
        });
    for (std::thread& t : writers) t.join();
    const std::string text = readFile(path("f"));
    ASSERT_EQ(text.size(), 100000u);
    EXPECT_EQ(text, std::string(text.size(), text[0]));
    EXPECT_EQ(entryNames(temp.dir()), (std::vector<std::string>{"f", "home"}));
}

// The start sweep removes the temporaries writers killed part-way left in the data folders: this
// user's regular files of a process that is gone (or not seen from here) and untouched for some
// minutes, and any a day old. Another live writer's, another user's, non-files and other names stay.
TEST_F(AtomicWrite, TheStartSweepClearsOnlyDeadWritersTemporaries) {
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ASSERT_GT(dead, 0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const std::string live = std::to_string(::getpid()), gone = std::to_string(dead);
    tqm::Engine engine;
    engine.layout.root = path("root");
    const std::string data = engine.layout.userData();
    constexpr time_t kMinute = 60, kOld = 2 * 24 * 3600;
    enum Kind { File, OthersFile, Fifo, Folder };
    const struct {
        std::string name;
        time_t age;
        Kind kind;
        bool stays;
    } cases[] = {
        {"settings.txt." + gone + "-3-0a1b2c3d.tmp", 11 * kMinute, File, false},
        {"cache/catalog.json." + gone + "-0-ffffffff.tmp", 11 * kMinute, File, false},
        {"cache/packages/Synth.zip." + gone + "-12-00000000.tmp", kOld, File, false},
        {"window.txt." + gone + "-1-0a1b2c3d.tmp", 0, File, true},
        {"sizes.txt." + gone + "-2-0a1b2c3d.tmp", 9 * kMinute, File, true},
        {"settings.txt." + live + "-4-0a1b2c3d.tmp", 11 * kMinute, File, true},
        {"window.txt." + live + "-5-0a1b2c3d.tmp", kOld, File, false},
        {"cache/theirs.json." + gone + "-6-0a1b2c3d.tmp", kOld, OthersFile, true},
        {"cache/pipe." + gone + "-7-0a1b2c3d.tmp", kOld, Fifo, true},
        {"cache/folder." + gone + "-8-0a1b2c3d.tmp", kOld, Folder, true},
        {"settings.txt.tmp", kOld, File, true},
        {"notes." + gone + "-3-0a1b2c3g.tmp", kOld, File, true},
        {"state.json", kOld, File, true},
    };
    const bool root = ::geteuid() == 0;  // only root can give a file away
    for (const auto& c : cases) {
        const std::string at = data + "/" + c.name;
        if (c.kind == OthersFile && !root) continue;  // skipped by name below
        fs::create_directories(fs::path(at).parent_path());
        ASSERT_TRUE(c.kind == Fifo ? ::mkfifo(at.c_str(), 0600) == 0
                    : c.kind == Folder ? fs::create_directory(at) : writeFile(at, "x")) << c.name;
        const struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - c.age, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, at.c_str(), times, 0), 0);
        ASSERT_TRUE(c.kind != OthersFile || ::chown(at.c_str(), 65534, 65534) == 0);
    }
    engine.startSweep();
    for (const auto& c : cases) {
        if (c.kind != OthersFile || root) {
            EXPECT_EQ(fs::exists(fs::symlink_status(data + "/" + c.name)), c.stays) << c.name;
        }
    }
    if (!root) GTEST_SKIP() << "needs root to give a temporary to another account (its row was not run)";
}

// The file is flushed before it takes the target's name, and the folder after: a failed file flush
// leaves the target as it was with nothing beside it; a failed folder flush does not undo the file.
TEST_F(AtomicWrite, FlushesTheFileBeforeTheRenameAndTheFolderAfter) {
    static std::vector<std::string> seen;  // each flush: "file:" or "folder:" and the target's text then
    static std::string target;
    static int failing;  // S_IFREG or S_IFDIR: the kind of descriptor whose flush fails; 0: none
    struct Hook {
        Hook() { tqm::detail::flushFd = &flush; }
        ~Hook() { tqm::detail::flushFd = ::fsync; }
        static int flush(int fd) {
            struct stat st {};
            ::fstat(fd, &st);
            const int kind = int(st.st_mode & S_IFMT);
            seen.push_back((kind == S_IFDIR ? "folder:" : "file:") + readFile(target));
            return kind == failing ? (errno = EIO, -1) : ::fsync(fd);
        }
    } hook;
    target = path("f");
    const struct {
        int failing;
        bool written;
        std::vector<std::string> seen;
    } cases[] = {
        {0, true, {"file:old", "folder:new"}},
        {S_IFREG, false, {"file:old"}},
        {S_IFDIR, true, {"file:old", "folder:new"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
        ASSERT_TRUE(writeFile(target, "old"));
        seen.clear();
        failing = c.failing;
        tqm::WriteFailure failure;
        EXPECT_EQ(tqm::writeFileAtomic(target, "new", 0644, false, failure), c.written);
        EXPECT_EQ(failure.err, c.written ? 0 : EIO);
        EXPECT_EQ(seen, c.seen);
        EXPECT_EQ(readFile(target), c.written ? "new" : "old");
        EXPECT_EQ(entryNames(temp.dir()), (std::vector<std::string>{"f", "home"}));
    }
}

}  // namespace
