// An install folder's sweep claim between the accounts that write the folder: each of them gets it
// in turn, only one sweep holds it at a time, and a sweep changes nothing once its claim's file has
// lost the name.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "engine/install_folder.h"
#include "engine/jobs.h"
#include "tests/support/job_fixture.h"
#include "tests/support/lock_holder.h"

namespace fs = std::filesystem;
using namespace testsupport;
using Step = tqm::detail::RenameStep;

namespace {

constexpr uid_t kUserA = 65534, kUserB = 65533, kReader = 65532;
constexpr gid_t kGroup = 65531;  // nobody's own group

// Runs body in a child of uid whose only groups are its own and `group`; true when it answered true.
bool asMember(uid_t uid, gid_t group, const std::function<bool()>& body) {
    return asUser(0, [&] {
        const gid_t groups[] = {group};
        return ::setgroups(1, groups) == 0 && ::setgid(uid) == 0 && ::setuid(uid) == 0 && body();
    });
}

bool sweep(const std::string& dir, std::string& error) {
    return tqm::detail::sweepFolder(dir, nullptr, [] { return false; }, error);
}

// Whether another open of the entry cannot take its lock now: a lock on it is held.
bool lockedHere(const std::string& entry) {
    const int fd = ::open(entry.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd >= 0) ::close(fd);
    return held;
}

class SweepClaim : public JobTest {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as other accounts";
        JobTest::SetUp();
        ASSERT_EQ(::chmod(temp.dir().c_str(), 0755), 0);
    }

    // A new folder of root's with the mode and group, holding a gone writer's staging folder.
    std::string folder(const std::string& name, mode_t mode, gid_t group = 0) {
        const std::string dir = path(name);
        fs::remove_all(dir);
        EXPECT_TRUE(::mkdir(dir.c_str(), 0700) == 0 && ::chown(dir.c_str(), 0, group) == 0 && ::chmod(dir.c_str(), mode) == 0);
        EXPECT_TRUE(writeFile(dir + "/.tqm-staging-0000dead/x", "staged"));
        return dir;
    }
};

// Every account that may write a shared folder sweeps it in turn, the first one's claim file
// letting the second in; a mere reader of a group's folder can open the claim file not at all.
TEST_F(SweepClaim, EveryWriterOfASharedFolderSweepsInTurn) {
    const struct {
        const char* what;
        mode_t mode;
        bool members;  // the writers are of the folder's group (else only of their own)
        bool readerOpens;
    } cases[] = {{"sticky, open to all", 01777, false, true},
                 {"open to all", 0777, false, true},
                 {"a group's, setgid", 02775, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = folder("shared", c.mode, kGroup);
        for (const uid_t writer : {kUserA, kUserB}) {
            std::string error;
            EXPECT_TRUE(asMember(writer, c.members ? kGroup : writer, [&] { return sweep(dir, error); }))
                << writer << " did not sweep";
        }
        LockHolder reader(dir + "/.tqm-claim", kReader);
        EXPECT_EQ(reader.took(), c.readerOpens);
    }
}

// While a sweep holds the claim, another writer of the folder narrows the folder or does what it
// likes with the claim file. The claim file is never replaced under its holder: a second sweep
// waits for it; and once the name holds another file, the first sweep changes nothing more.
TEST_F(SweepClaim, OnlyOneSweepActsAtATime) {
    const std::string held = " is held by another process", lost = " was removed or replaced while this sweep held it";
    const struct {
        const char* what;
        std::function<void(const std::string& dir, const std::string& claim)> act;
        bool secondSweeps;  // else the second waits (and gives up), and the first sweeps
    } cases[] = {
        {"the folder narrowed", [](const std::string& dir, const std::string&) { ::chmod(dir.c_str(), 0755); }, false},
        {"the claim file linked", [](const std::string& dir, const std::string& claim) {
             ::link(claim.c_str(), (dir + "/linked").c_str());
         }, false},
        {"the claim file removed", [](const std::string&, const std::string& claim) { ::unlink(claim.c_str()); }, true},
        {"the claim file renamed away", [](const std::string& dir, const std::string& claim) {
             ::rename(claim.c_str(), (dir + "/away").c_str());
         }, true},
        {"another file at its name", [](const std::string& dir, const std::string& claim) {
             writeFile(dir + "/other", "");
             ::chmod((dir + "/other").c_str(), 0666);
             ::rename((dir + "/other").c_str(), claim.c_str());
         }, true},
        {"a link at its name", [](const std::string& dir, const std::string& claim) {
             ::rename(claim.c_str(), (dir + "/away").c_str());
             ::symlink((dir + "/away").c_str(), claim.c_str());
         }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = folder("shared", 0777), claim = dir + "/.tqm-claim";
        static std::function<void()> tamper;
        static bool tampered;
        std::string first, second;
        bool secondSwept = false;
        tampered = false;
        tamper = [&] {  // and then another gone writer's staging folder, for the first sweep to find
            c.act(dir, claim);
            secondSwept = sweep(dir, second);
            writeFile(dir + "/.tqm-staging-0000dea2/x", "staged");
        };
        // Once the first sweep holds its claim and has listed the folder.
        tqm::detail::renameFault = [](Step step) {
            if (step == Step::Listed && !tampered) {
                tampered = true;
                tamper();
            }
            return 0;
        };
        const bool firstSwept = sweep(dir, first);
        tqm::detail::renameFault = nullptr;
        EXPECT_EQ(secondSwept, c.secondSweeps);
        EXPECT_EQ(second, c.secondSweeps ? "" : "cannot sweep " + dir + ": " + claim + held);
        EXPECT_EQ(firstSwept, !c.secondSweeps);
        EXPECT_EQ(first, c.secondSweeps ? "cannot sweep " + dir + ": " + claim + lost : "");
        EXPECT_FALSE(exists(dir + "/.tqm-staging-0000dead"));
        EXPECT_EQ(exists(dir + "/.tqm-staging-0000dea2"), c.secondSweeps) << "the first sweep went on";
        // Once the first let go, the next sweep's claim file is as the folder asks.
        std::string error;
        EXPECT_TRUE(sweep(dir, error)) << error;
        struct stat folderSt {}, st {};
        ASSERT_TRUE(::stat(dir.c_str(), &folderSt) == 0 && ::lstat(claim.c_str(), &st) == 0);
        EXPECT_EQ(st.st_mode & 0777, (folderSt.st_mode & S_IWOTH) ? 0666u : 0600u);
    }
}

// A claim file's temporary that a killed taker left goes with a sweep of its owner, once nobody
// holds it; one held, or another account's, stays.
TEST_F(SweepClaim, ASweepRemovesClaimTemporariesNobodyHolds) {
    const std::string dir = folder("plugins", 0777);
    const struct {
        const char* name;
        uid_t owner;
        bool held, stays;
    } cases[] = {{".tqm-claim.4242-0-0000beef.tmp", 0, false, false},
                 {".tqm-claim.4242-1-0000beef.tmp", 0, true, true},
                 {".tqm-claim.4242-2-0000beef.tmp", kUserA, false, true}};
    std::vector<std::optional<LockHolder>> holders(std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string entry = dir + "/" + cases[i].name;
        ASSERT_TRUE(writeFile(entry, "") && ::chown(entry.c_str(), cases[i].owner, cases[i].owner) == 0);
        ASSERT_TRUE(!cases[i].held || holders[i].emplace(entry, 0).took());
    }
    std::string error;
    EXPECT_TRUE(sweep(dir, error)) << error;
    for (const auto& c : cases) EXPECT_EQ(exists(dir + "/" + c.name), c.stays) << c.name;
}

// A start's sweep of the manager's own folder takes staging locks only while it holds the folder's
// claim, and lets every one go before the claim.
TEST_F(SweepClaim, ASweepOfTheManagersFolderLocksStagingOnlyUnderItsClaim) {
    static std::string dir;
    dir = appsDir();
    for (const char* entry : {"/.tqm-staging-0000dead/x", "/.tqm-staging-0000beef/x", "/.tqm-old-0000beef-Studio.app/x"})
        ASSERT_TRUE(writeFile(dir + entry, "left"));
    static int locks, outsideClaim, heldAtUnclaim;
    locks = outsideClaim = heldAtUnclaim = 0;
    tqm::detail::renameFault = [](Step step) {
        if (step == Step::Locked) {
            ++locks;
            outsideClaim += !lockedHere(dir + "/.tqm-claim");
        } else if (step == Step::Unclaim) {
            for (const std::string& name : entryNames(dir))
                heldAtUnclaim += name.rfind(".tqm-staging-", 0) == 0 && lockedHere(dir + "/" + name);
        }
        return 0;
    };
    engine.sweepSelf(dir + "/Manager.app");
    tqm::detail::renameFault = nullptr;
    EXPECT_EQ(locks, 2);
    EXPECT_EQ(outsideClaim, 0) << "a staging lock taken without the claim";
    EXPECT_EQ(heldAtUnclaim, 0) << "a staging lock outlived the claim";
    EXPECT_EQ(entryNames(dir), (std::vector<std::string>{".tqm-old-0000beef-Studio.app", ".tqm-staging-0000beef"}));
}

// A job waits for the claims of all the folders it changes within one deadline, not one each.
TEST_F(SweepClaim, AJobsClaimsShareOneDeadline) {
    static const auto start = std::chrono::steady_clock::now();
    static std::chrono::seconds passed;
    static std::set<std::string> asked;
    passed = {};
    asked.clear();
    tqm::detail::sweepClock = [] { return start + passed; };
    // The sweep of the first folder waited for takes 40 s.
    tqm::detail::renameFault = [](Step step) {
        if (step == Step::Listed && !asked.empty()) passed = std::chrono::seconds(40);
        return 0;
    };
    std::map<std::string, std::optional<tqm::FileLock>> others;  // another sweep's claim of each folder
    std::vector<tqm::detail::DirFd> open;
    std::string error;
    for (const char* format : {"vst3", "clap"}) {
        const std::string dir = engine.layout.formatDir(format);
        ASSERT_TRUE(tqm::detail::createFolder(dir, error)) << error;
        open.emplace_back(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        others[dir].emplace(open.back().get(), ".tqm-claim", dir + "/.tqm-claim", [] { return false; },
                            tqm::LockAccess::Writers);
        ASSERT_TRUE(others[dir]->held());
    }
    tqm::Engine job = engine;
    job.waiting = [&](const std::string& why) {  // the other sweep lets go
        for (auto& [dir, lock] : others)
            if (why.find(dir) != std::string::npos && asked.insert(dir).second) lock.reset();
        return true;
    };
    const std::vector<tqm::Task> tasks{{"install", "synth", "vst3"}, {"install", "synth", "clap"}};
    const auto lock = tqm::beginJob(job, job.layout.userData(), error, {}, &tasks);
    tqm::detail::sweepClock = nullptr;
    tqm::detail::renameFault = nullptr;
    EXPECT_FALSE(lock) << "the second folder was waited for past the job's deadline";
    ASSERT_EQ(asked.size(), 1u);
    const std::string late = others.begin()->first == *asked.begin() ? others.rbegin()->first : others.begin()->first;
    EXPECT_EQ(error, "cannot sweep " + late + ": " + late + "/.tqm-claim is held by another process");
}

}  // namespace
