// A folder's sweep claim: one sweep acts at a time, staging locks live only under it, a job's claims share a deadline.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

#include "engine/install_folder.h"
#include "engine/jobs.h"
#include "tests/support/job_fixture.h"

using namespace testsupport;
using Step = tqm::detail::RenameStep;
using SweepClaim = JobTest;

namespace {

bool sweep(const std::string& dir, std::string& error) {
    return tqm::detail::sweepFolder(dir, nullptr, [] { return false; }, error);
}

std::function<void(Step)> onStep;  // the running test's hook at every step (renameFault = fire)
int fire(Step step) { return onStep(step), 0; }
constexpr std::chrono::milliseconds kWait{0};

// While a sweep holds the claim another writer narrows the folder or meddles with the claim file, and a second
// sweep runs: it waits for the claim file's holder; once the name holds another file the first changes no more.
TEST_F(SweepClaim, OnlyOneSweepActsAtATime) {
    const std::string dir = path("shared"), claim = dir + "/.tqm-claim", staged = dir + "/.tqm-staging-0000dea2";
    const std::string cannot = "cannot sweep " + dir + ": " + claim;
    const std::tuple<const char*, std::function<void()>, bool> cases[] = {  // what, act, the second sweeps (or waits)
        {"the folder narrowed", [&] { ::chmod(dir.c_str(), 0755); }, false},
        {"the claim file linked", [&] { ::link(claim.c_str(), (dir + "/linked").c_str()); }, false},
        {"the claim file removed", [&] { ::unlink(claim.c_str()); }, true},
        {"a link at its name",
         [&] { ::rename(claim.c_str(), (dir + "/away").c_str()), ::symlink("away", claim.c_str()); }, true},
    };
    for (const auto& [what, actOf, secondSweeps] : cases) {
        SCOPED_TRACE(what);
        const auto& act = actOf;
        std::filesystem::remove_all(dir);
        ASSERT_TRUE(::mkdir(dir.c_str(), 0777) == 0 && ::chmod(dir.c_str(), 0777) == 0 &&
                    writeFile(dir + "/.tqm-staging-0000dead/x", ""));
        std::string first, second, error;
        bool secondSwept = false, acted = false;
        onStep = [&](Step step) {  // at the first listing; then a gone writer's staging folder for the first sweep
            if (step != Step::Listed || std::exchange(acted, true)) return;
            act();
            secondSwept = sweep(dir, second);
            writeFile(staged + "/x", "");
        };
        tqm::detail::renameFault = fire;
        const bool firstSwept = sweep(dir, first);
        tqm::detail::renameFault = nullptr;
        EXPECT_EQ(second, secondSweeps ? "" : cannot + " is held by another process");
        EXPECT_EQ(first, secondSweeps ? cannot + " was removed or replaced while this sweep held it" : "");
        EXPECT_TRUE(secondSwept == secondSweeps && firstSwept != secondSweeps);
        EXPECT_EQ(std::filesystem::exists(staged), secondSweeps) << "the first sweep went on";
        // The next sweep: a claim file as the folder asks, and a temporary a killed taker left gone.
        ASSERT_TRUE(writeFile(claim + ".4242-0-0000beef.tmp", ""));
        EXPECT_TRUE(sweep(dir, error)) << error;
        struct stat folder {}, st {};
        ASSERT_TRUE(::stat(dir.c_str(), &folder) == 0 && ::lstat(claim.c_str(), &st) == 0);
        EXPECT_EQ(st.st_mode & 0777, (folder.st_mode & S_IWOTH) ? 0666u : 0600u);
        EXPECT_FALSE(std::filesystem::exists(claim + ".4242-0-0000beef.tmp"));
    }
}

// A start's sweep of the manager's folder takes staging locks only under its claim, and lets each go before it.
TEST_F(SweepClaim, ASweepOfTheManagersFolderLocksStagingOnlyUnderItsClaim) {
    const std::string dir = appsDir();
    std::vector<int> staging;  // each staging folder there at a lock, as this test opened it
    int outside = 0, heldAtUnclaim = 0;
    for (const char* entry : {"/.tqm-staging-0000dead/", "/.tqm-staging-0000beef/", "/.tqm-old-0000beef-Studio.app/"})
        ASSERT_TRUE(writeFile(dir + entry + "x", ""));
    onStep = [&](Step step) {
        if (step == Step::Locked) {
            const int claim = ::open((dir + "/.tqm-claim").c_str(), O_RDONLY | O_CLOEXEC);
            outside += claim < 0 || ::flock(claim, LOCK_SH | LOCK_NB) == 0;  // no one holds the claim
            ::close(claim);
            for (const std::string& name : entryNames(dir))
                if (name.rfind(".tqm-staging-", 0) == 0)
                    staging.push_back(::open((dir + "/" + name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        } else if (step == Step::Unclaim) {
            for (const int fd : staging) heldAtUnclaim += ::flock(fd, LOCK_SH | LOCK_NB) != 0;
        }
    };
    tqm::detail::renameFault = fire;
    engine.sweepSelf(dir + "/Manager.app");
    tqm::detail::renameFault = nullptr;
    for (const int fd : staging) ::close(fd);
    EXPECT_FALSE(staging.empty());
    EXPECT_EQ(outside, 0) << "a staging lock taken without the claim";
    EXPECT_EQ(heldAtUnclaim, 0) << "a staging lock outlived the claim";
    EXPECT_EQ(entryNames(dir), (std::vector<std::string>{".tqm-old-0000beef-Studio.app", ".tqm-staging-0000beef"}));
}

// A job's waits for the claims of the folders it changes share one deadline: the sweep of the first it waited
// for takes 40 s, and the second is then not waited for.
TEST_F(SweepClaim, AJobsClaimsShareOneDeadline) {
    static const auto start = std::chrono::steady_clock::now();
    static std::chrono::seconds passed;
    passed = {};
    std::set<std::string> asked;
    tqm::detail::sweepClock = [] { return start + passed; };
    onStep = [&](Step step) { passed = step == Step::Listed && !asked.empty() ? std::chrono::seconds(40) : passed; };
    std::map<std::string, std::optional<tqm::FileLock>> others;  // another sweep's claim of each folder
    std::string error;
    for (const char* format : {"vst3", "clap"}) {
        const std::string dir = engine.layout.formatDir(format);
        ASSERT_TRUE(tqm::detail::createFolder(dir, error) && others[dir].emplace(dir + "/.tqm-claim", kWait).held());
    }
    tqm::detail::renameFault = fire;
    tqm::Engine job = engine;
    job.waiting = [&](const std::string& why) {  // the other sweep lets go
        for (auto& [dir, lock] : others)
            if (why.find(dir) != std::string::npos && asked.insert(dir).second) lock.reset();
        return true;
    };
    const std::vector<tqm::Task> tasks{{"install", "synth", "vst3"}, {"install", "synth", "clap"}};
    EXPECT_FALSE(tqm::beginJob(job, job.layout.userData(), error, {}, &tasks)) << "waited past the deadline";
    tqm::detail::sweepClock = nullptr;
    tqm::detail::renameFault = nullptr;
    ASSERT_EQ(asked.size(), 1u);
    const std::string late = others.begin()->first == *asked.begin() ? others.rbegin()->first : others.begin()->first;
    EXPECT_EQ(error, "cannot sweep " + late + ": " + late + "/.tqm-claim is held by another process");
}

}  // namespace
