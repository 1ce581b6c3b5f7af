// The lock between this user's processes that rewrite the same files.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <atomic>
#include <optional>
#include <thread>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>

#include "engine/file_lock.h"
#include "engine/safe_path.h"
#include "tests/support/lock_holder.h"
#include "tests/support/processes.h"
#include "tests/support/temp_home.h"

using namespace testsupport;

namespace {

constexpr uid_t kNobody = 65534;

bool tryLock(const std::string& lock) { return tqm::FileLock(lock, std::chrono::milliseconds(0)).held(); }

class FileLock : public TempHomeTest {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
        ASSERT_EQ(::chmod(temp.dir().c_str(), 0755), 0);
    }
};

// A lock file an older manager made open to others, which another user opened then and holds:
// the owner's next lock replaces it with an owner-only one instead of waiting on theirs.
TEST_F(FileLock, ALockFileOthersCouldOpenIsReplaced) {
    for (const mode_t mode : {0644, 0666, 0640}) {
        SCOPED_TRACE(mode);
        const std::string lock = path("state.lock." + std::to_string(mode));
        ASSERT_TRUE(writeFile(lock, ""));
        ASSERT_EQ(::chmod(lock.c_str(), mode), 0);
        ASSERT_EQ(::chown(lock.c_str(), 0, kNobody), 0);
        LockHolder theirs(lock, kNobody);
        EXPECT_TRUE(theirs.took());
        {
            const tqm::FileLock mine(lock, std::chrono::milliseconds(200));
            EXPECT_TRUE(mine.held());
            EXPECT_FALSE(tryLock(lock));  // the new file locks as the old one did
        }
        EXPECT_TRUE(tryLock(lock));
        struct stat st {};
        ASSERT_EQ(::stat(lock.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(st.st_uid, 0u);
    }
}

// Root's lock in a folder a user owns (the elevated helper beside the user's own manager) holds off
// that user's processes: the file root made is the user's.
TEST_F(FileLock, RootsLockInAUsersFolderHoldsOffThatUser) {
    const std::string folder = path("data"), lock = folder + "/installed.json.lock";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
    const auto userTakes = [&] { return asUser(kNobody, [&] { return tryLock(lock); }); };
    {
        const tqm::FileLock roots(lock, std::chrono::milliseconds(0));
        ASSERT_TRUE(roots.held());
        EXPECT_FALSE(userTakes());
    }
    EXPECT_TRUE(userTakes());  // and the user could act at all
}

// An owner-only lock file of uid's at path; false when it cannot be made.
bool ownerOnly(const std::string& path, uid_t uid = 0) {
    return writeFile(path, "") && ::chmod(path.c_str(), 0600) == 0 && ::chown(path.c_str(), uid, uid) == 0;
}

// Root in a user's folder uses only that user's lock file and changes the owner only of a file it
// has just made: a hard link the user planted at the lock's name, root's own file left there, or a
// third user's file is replaced by a new file of the user's, and the file that was there keeps its
// owner.
TEST_F(FileLock, RootGivesAUserOnlyALockFileItMadeItself) {
    const std::string folder = path("data"), lock = folder + "/apps.json.lock", secret = path("secret");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
    const struct {
        const char* what;
        uid_t owner;  // of the file found at the name
        bool linked;  // a hard link to a root-only file elsewhere
    } cases[] = {{"a hard link to a root-only file", 0, true}, {"root's own file", 0, false},
                 {"a third user's file", kNobody - 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.linked ? ownerOnly(secret) && ::link(secret.c_str(), lock.c_str()) == 0 : ownerOnly(lock, c.owner));
        const int found = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(found, 0);
        EXPECT_TRUE(tqm::FileLock(lock, std::chrono::milliseconds(0)).held());
        struct stat named {}, kept {};
        ASSERT_TRUE(::stat(lock.c_str(), &named) == 0 && ::fstat(found, &kept) == 0);
        EXPECT_EQ(named.st_uid, kNobody);
        EXPECT_NE(named.st_ino, kept.st_ino);
        EXPECT_TRUE(kept.st_uid == c.owner && kept.st_nlink == (c.linked ? 1u : 0u));
        ::close(found);
        ::unlink(lock.c_str());
    }
}

// Whatever else holds a lock file's name is replaced, never opened through or followed; a folder
// there fails the lock with a sentence that says what to do.
TEST_F(FileLock, WhateverElseHoldsTheNameIsReplacedButAFolder) {
    const std::string target = path("target");
    ASSERT_TRUE(writeFile(target, "kept"));
    const struct {
        const char* what;
        std::function<bool(const std::string&)> plant;
    } cases[] = {
        {"a link to a file", [&](const std::string& at) { return ::symlink(target.c_str(), at.c_str()) == 0; }},
        {"a dangling link", [&](const std::string& at) { return ::symlink(path("nowhere").c_str(), at.c_str()) == 0; }},
        {"a pipe", [](const std::string& at) { return ::mkfifo(at.c_str(), 0600) == 0; }},
        {"a socket", [](const std::string& at) {
             sockaddr_un addr{};
             addr.sun_family = AF_UNIX;
             const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             const bool made = at.size() < sizeof addr.sun_path && fd >= 0 &&
                               (at.copy(addr.sun_path, at.size()), ::bind(fd, (sockaddr*)&addr, sizeof addr) == 0);
             ::close(fd);
             return made;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string lock = path("job.lock");
        ASSERT_TRUE(c.plant(lock));
        const tqm::FileLock mine(lock, std::chrono::milliseconds(0));
        EXPECT_TRUE(mine.held()) << mine.failure();
        struct stat st {};
        ASSERT_EQ(::lstat(lock.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode) && (st.st_mode & 0777) == 0600);
        EXPECT_EQ(readFile(target), "kept");
        ::unlink(lock.c_str());
    }
    const std::string folder = path("state.lock");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const tqm::FileLock refused(folder, std::chrono::milliseconds(0));
    EXPECT_FALSE(refused.held() || refused.busy());
    EXPECT_EQ(refused.failure(), folder + " is a folder, not a lock file: remove it and try again");
}

// In a folder every user may write, every user takes the same lock: lock files there are open to
// all (a user's own owner-only file is replaced, never changed). Another user's file this user
// cannot open is never taken from a process that holds it (the lock is then busy); one no process
// holds, left by an ended job, is replaced.
TEST_F(FileLock, InAFolderEveryUserMayWriteEveryUserTakesTheSameLock) {
    const std::string folder = path("shared"), lock = folder + "/job.lock";
    ASSERT_TRUE(::mkdir(folder.c_str(), 0777) == 0 && ::chmod(folder.c_str(), 0777) == 0);
    constexpr uid_t kept = 0, first = kNobody, second = kNobody - 1, third = kNobody - 2;
    const struct {
        uid_t found;  // an owner-only file of this user's is there beforehand; kept: the last step's
        bool heldByIt, held;  // its owner holds it; the lock is had (else busy)
        uid_t who, owner;     // who locks; the owner of the file at the name then
        mode_t mode;
        bool same;  // the file that was there
    } steps[] = {
        {kept, false, true, first, first, 0644, false},   {kept, false, true, second, first, 0644, true},
        {kept, true, false, second, first, 0644, true},   {first, false, true, first, first, 0644, false},
        {third, true, false, second, third, 0600, true},  {third, false, true, second, second, 0644, false},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(std::to_string(s.who) + " finds " + std::to_string(s.found));
        ASSERT_TRUE(s.found == kept || (::unlink(lock.c_str()) == 0 && ownerOnly(lock, s.found)));
        struct stat before {}, after {};
        ::stat(lock.c_str(), &before);
        std::optional<LockHolder> holder;
        ASSERT_TRUE(!s.heldByIt || holder.emplace(lock, before.st_uid).took());
        EXPECT_TRUE(asUser(s.who, [&] {
            const tqm::FileLock l(lock, std::chrono::milliseconds(0));
            return l.held() == s.held && l.busy() == !s.held;
        }));
        ASSERT_EQ(::stat(lock.c_str(), &after), 0);
        EXPECT_TRUE(after.st_uid == s.owner && (after.st_mode & 0777) == s.mode);
        EXPECT_EQ(after.st_ino == before.st_ino, s.same);
    }
}

// A waiter whose lock file is replaced while it waits (another process found it open to others)
// takes the lock only on the file that now has the name.
TEST_F(FileLock, AWaiterTakesOnlyTheFileThatHasTheName) {
    const std::string lock = path("state.lock");
    ASSERT_TRUE(ownerOnly(lock));
    LockHolder first(lock, 0);
    ASSERT_TRUE(first.took());
    int said[2];
    ASSERT_EQ(::pipe2(said, O_NONBLOCK), 0);
    const pid_t waiter = ::fork();
    if (waiter == 0) {
        const char held = tqm::FileLock(lock, std::chrono::seconds(30)).held() ? '1' : '0';
        ::_exit(::write(said[1], &held, 1) == 1 ? 0 : 1);
    }
    ASSERT_TRUE(awaitTrue([&] { return holdsOpen(waiter, lock); }));
    // A new file takes the name and this process locks it; then the first lets go.
    ASSERT_TRUE(ownerOnly(lock + ".new") && ::rename((lock + ".new").c_str(), lock.c_str()) == 0);
    const int second = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(second, LOCK_EX | LOCK_NB), 0);
    first.release();
    char answer = 0;
    const auto answered = [&] { return ::read(said[0], &answer, 1) == 1; };
    // The waiter either waits on the new file or says it holds the lock: the second is wrong.
    ASSERT_TRUE(awaitTrue([&] { return holdsOpen(waiter, lock) || answered(); }));
    EXPECT_FALSE(answer == '1' || answered()) << "the waiter held a lock another process holds";
    ::close(second);  // now it may
    ASSERT_EQ(::waitpid(waiter, nullptr, 0), waiter);
    EXPECT_TRUE(answered() && answer == '1');
    ::close(said[0]);
    ::close(said[1]);
}

// In a folder every user may write with the sticky bit, another user's entry at a lock's name that
// this user may neither open nor replace is waited for as a held lock, asking whether to go on, and
// the lock is had once it has gone (an administrator removed it).
TEST_F(FileLock, AnotherUsersEntryInAStickyFolderIsWaitedFor) {
    const std::string folder = path("shared"), lock = folder + "/installed.json.lock";
    ASSERT_TRUE(::mkdir(folder.c_str(), 0777) == 0 && ::chmod(folder.c_str(), 01777) == 0);
    const struct {
        const char* what;
        std::function<bool()> plant;
    } cases[] = {{"an owner-only file", [&] { return ownerOnly(lock, kNobody); }},
                 {"a link", [&] {
                      return ::symlink(path("nowhere").c_str(), lock.c_str()) == 0 &&
                             ::lchown(lock.c_str(), kNobody, kNobody) == 0;
                  }}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.plant());
        int asked[2];
        ASSERT_EQ(::pipe2(asked, O_CLOEXEC), 0);
        bool wasAsked = false;
        std::thread admin([&] {
            char was = 0;
            if ((wasAsked = ::read(asked[0], &was, 1) == 1)) ::unlink(lock.c_str());
        });
        int asks = 0;
        EXPECT_TRUE(asUser(kNobody - 1, [&] {
            return tqm::FileLock(lock, [&] { return ++asks > 1 || ::write(asked[1], "?", 1) == 1; }).held();
        })) << "the lock was not had";
        ::close(asked[1]);
        admin.join();
        ::close(asked[0]);
        EXPECT_TRUE(wasAsked) << "the wait was not asked about";
        ::unlink(lock.c_str());
    }
}

// A lock only the folder's writers may take is open to exactly them, whoever makes it (root's in a
// user's folder is that user's): another writer takes it once its maker let go, a reader cannot. A
// file found at the name narrower or wider than that is replaced, and keeps its mode.
TEST_F(FileLock, AWritersLockOpensToTheFoldersWritersOnly) {
    constexpr uid_t user = kNobody - 1;   // its group is its own
    constexpr gid_t group = kNobody - 2;  // a group neither the reader nor the user is in
    const struct {
        const char* what;
        mode_t folder, found, lock;  // found: a file of the folder's owner and group at the name beforehand (0: none)
        uid_t owner, maker;
        gid_t folderGroup;
        bool othersTake;
    } cases[] = {
        {"only its owner writes", 0755, 0, 0600, 0, 0, group, false},
        {"only its owner writes, a file left open to all", 0755, 0666, 0600, 0, 0, group, false},
        {"its group writes", 0775, 0, 0660, 0, 0, group, false},
        {"its group writes, an owner-only file", 0775, 0600, 0660, 0, 0, group, false},
        {"its group writes, a file open to all", 0775, 0666, 0660, 0, 0, group, false},
        {"its group writes, a member makes it", 0775, 0, 0660, 0, user, user, false},
        {"everyone writes, another account makes it", 0777, 0, 0666, 0, user, group, true},
        {"everyone writes, sticky, another account makes it", 01777, 0, 0666, 0, user, group, true},
        {"a user's folder, root makes it", 0755, 0, 0600, user, 0, user, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = path(c.what), lock = folder + "/.claim";
        ASSERT_TRUE(::mkdir(folder.c_str(), 0700) == 0 && ::chown(folder.c_str(), c.owner, c.folderGroup) == 0 &&
                    ::chmod(folder.c_str(), c.folder) == 0);
        const bool made = c.found && writeFile(lock, "") && ::chown(lock.c_str(), c.owner, c.folderGroup) == 0 &&
                          ::chmod(lock.c_str(), c.found) == 0;
        const int found = made ? ::open(lock.c_str(), O_RDONLY | O_CLOEXEC) : -1;
        const auto takes = [&](uid_t uid) {
            return asUser(uid, [&] {
                tqm::detail::DirFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
                return tqm::FileLock(dir.get(), ".claim", lock, [] { return false; }, tqm::LockAccess::Writers).held();
            });
        };
        EXPECT_TRUE(takes(c.maker));
        struct stat st {}, kept {};
        ASSERT_EQ(::stat(lock.c_str(), &st), 0);
        EXPECT_TRUE((st.st_mode & 0777) == c.lock && st.st_uid == (c.maker ? c.maker : c.owner)) << st.st_mode;
        EXPECT_TRUE(c.lock != 0660 || st.st_gid == c.folderGroup) << st.st_gid;
        EXPECT_TRUE(!c.found ||
                    (::fstat(found, &kept) == 0 && kept.st_ino != st.st_ino && (kept.st_mode & 0777) == c.found))
            << "the file found was changed";
        ::close(found);
        EXPECT_EQ(takes(kNobody), c.othersTake);  // another account, once the maker let go
    }
}

// Who holds a lock this user cannot open is said: the process and its account for a lock file
// another account made and holds; the owner of an entry a sticky folder keeps.
TEST_F(FileLock, WhoHoldsALockThisUserCannotOpenIsSaid) {
    const std::string folder = path("shared");
    ASSERT_TRUE(::mkdir(folder.c_str(), 0777) == 0 && ::chmod(folder.c_str(), 0777) == 0);
    const std::string claim = folder + "/.claim", sticky = path("sticky"), entry = sticky + "/installed.json.lock";
    ASSERT_TRUE(::mkdir(sticky.c_str(), 0777) == 0 && ::chmod(sticky.c_str(), 01777) == 0);
    ASSERT_TRUE(ownerOnly(claim, kNobody) && ownerOnly(entry, kNobody));
    LockHolder holder(claim, kNobody);
    ASSERT_TRUE(holder.took());
    const std::string held = claim + " is held by process " + std::to_string(holder.pid()) + " of " +
                             tqm::detail::accountName(kNobody);
    const std::string kept =
        entry + " is " + tqm::detail::accountName(kNobody) + "'s, which only that user or an administrator can remove";
    EXPECT_TRUE(asUser(kNobody - 1, [&] {
        tqm::detail::DirFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        const tqm::FileLock writers(dir.get(), ".claim", claim, [] { return false; }, tqm::LockAccess::Writers);
        const tqm::FileLock readers(entry, std::chrono::milliseconds(0));
        return writers.failure() == held && readers.failure() == kept;
    }));
}

using FileLockWait = TempHomeTest;

// The voluntary context switches of the calling thread so far: each sleep of a wait is one.
long wakeUps() {
    rusage r {};
    ::getrusage(RUSAGE_THREAD, &r);
    return r.ru_nvcsw;
}

// A wait for a lock another holds sleeps from one ask whether to go on to the next: its thread wakes
// about once an ask (not every few milliseconds), and the wait ends at the ask that says no.
TEST_F(FileLockWait, AWaitSleepsFromOneAskToTheNext) {
    const std::string lock = path("job.lock");
    ASSERT_TRUE(writeFile(lock, "") && ::chmod(lock.c_str(), 0600) == 0);
    const int holder = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    constexpr int kAsks = 3;
    int asks = 0;
    long first = 0, last = 0;
    const tqm::FileLock waited(lock, [&] {
        (++asks == 1 ? first : last) = wakeUps();
        return asks < kAsks;
    });
    ::close(holder);
    EXPECT_TRUE(!waited.held() && waited.busy());
    EXPECT_EQ(asks, kAsks);
    EXPECT_LE(last - first, 2 * (kAsks - 1)) << "wake-ups between " << kAsks << " asks";
}

std::atomic<int> asksSoFar{0};
std::vector<std::tuple<int, bool, bool>> sleeps;  // asks before each sleep, slept up to the next ask, woken

// A holder that lets go while the waiter sleeps: the waiter, woken by that close at once, asks
// whether to go on before it takes the lock (the caller may have stopped meanwhile).
TEST_F(FileLockWait, AWakeUpThatTakesTheLockAsksFirst) {
    const std::string lock = path("job.lock");
    ASSERT_TRUE(writeFile(lock, "") && ::chmod(lock.c_str(), 0600) == 0);
    const pid_t self = pid_t(::syscall(SYS_gettid));
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "the caller goes on" : "the caller stopped");
        const int holder = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        sleeps.clear();
        asksSoFar = 0;
        tqm::detail::lockSlept = [](std::chrono::milliseconds upTo, bool woken) {
            sleeps.emplace_back(asksSoFar, upTo <= tqm::kLockAskInterval, woken);
        };
        std::thread letsGo([&] {  // once the waiter sleeps after its first ask
            ProcessStat st;
            awaitTrue([&] { return asksSoFar > 0 && processStat(self, st) && st.state == 'S'; });
            ::close(holder);
        });
        const tqm::FileLock waited(lock, [&] { return ++asksSoFar == 1 || yes; });
        letsGo.join();
        tqm::detail::lockSlept = nullptr;
        EXPECT_EQ(waited.held(), yes);
        EXPECT_EQ(asksSoFar, 2);
        EXPECT_EQ(sleeps, (std::vector<std::tuple<int, bool, bool>>{{1, true, true}}));
    }
    static_assert(tqm::kLockAskInterval <= std::chrono::milliseconds(250), "a Stop is heard within a quarter second");
}

// A close that wakes a waiter while the lock is still held (the system frees a closed file's lock a moment
// after it tells of the close): the waiter naps and tries again, not only at its next ask.
TEST_F(FileLockWait, AWaiterWokenByACloseNapsBeforeItsNextAsk) {
    const std::string lock = path("job.lock");
    ASSERT_TRUE(writeFile(lock, "") && ::chmod(lock.c_str(), 0600) == 0);
    const int holder = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    static std::vector<std::chrono::milliseconds> slept;
    slept.clear();
    tqm::detail::lockSlept = [](std::chrono::milliseconds upTo, bool) { slept.push_back(upTo); };
    asksSoFar = 0;
    std::thread stray([&, self = pid_t(::syscall(SYS_gettid))] {  // a reader's close once the waiter sleeps
        ProcessStat st;
        awaitTrue([&] { return asksSoFar > 0 && processStat(self, st) && st.state == 'S'; });
        ::close(::open(lock.c_str(), O_RDONLY | O_CLOEXEC));
    });
    EXPECT_FALSE(tqm::FileLock(lock, [&] { return ++asksSoFar == 1; }).held());
    stray.join();
    tqm::detail::lockSlept = nullptr;
    ::close(holder);
    for (size_t i = 1; i < slept.size(); ++i) EXPECT_LT(slept[i], tqm::kLockAskInterval * 3 / 5) << "no naps";
}

std::string racedName;

// The name flips under each try: made before the try makes it, gone before the try looks at it.
void flipName(tqm::detail::LockFileStep step) {
    if (step == tqm::detail::LockFileStep::Make)
        ::close(::open(racedName.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600));
    else
        ::unlink(racedName.c_str());
}

// Tries that keep finding the lock file's name changed are a wait like any other: the caller is
// asked whether to go on, and the lock is not had once it says no.
TEST_F(FileLockWait, ANameThatKeepsChangingIsWaitedForAsTheCallerAllows) {
    racedName = path("state.lock");
    int asks = 0;
    tqm::detail::lockFileRace = flipName;
    const tqm::FileLock raced(racedName, [&] { return ++asks < 2; });
    tqm::detail::lockFileRace = nullptr;
    EXPECT_FALSE(raced.held());
    EXPECT_EQ(asks, 2) << raced.failure();
}

}  // namespace
