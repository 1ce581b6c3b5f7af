// The lock between this user's processes that rewrite the same files.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include <fcntl.h>
#include <sys/file.h>

#include "engine/file_lock.h"
#include "engine/receipt.h"
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

// Root in a user's folder changes the owner only of a lock file it has just made: a hard link the
// user planted at the lock's name, or root's own file left there, is replaced by a new file of the
// user's, and the file the link names stays root's.
TEST_F(FileLock, RootGivesAUserOnlyALockFileItMadeItself) {
    const std::string folder = path("data"), lock = folder + "/apps.json.lock", secret = path("secret");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
    for (const bool linked : {true, false}) {
        SCOPED_TRACE(linked ? "a hard link to a root-only file" : "root's own file");
        ASSERT_TRUE(ownerOnly(secret));
        ASSERT_TRUE(linked ? ::link(secret.c_str(), lock.c_str()) == 0 : ownerOnly(lock));
        EXPECT_TRUE(tqm::FileLock(lock, std::chrono::milliseconds(0)).held());
        struct stat named {}, kept {};
        ASSERT_TRUE(::stat(lock.c_str(), &named) == 0 && ::stat(secret.c_str(), &kept) == 0);
        EXPECT_EQ(named.st_uid, kNobody);
        EXPECT_TRUE(kept.st_uid == 0 && kept.st_nlink == 1);
        ::unlink(lock.c_str());
    }
}

// In a folder every user may write, a lock file of another user's that this user cannot open is
// left where it is: the save that wanted it fails, naming it.
TEST_F(FileLock, AnotherUsersLockFileIsNeverDeleted) {
    const std::string folder = path("shared"), receipt = folder + "/installed.json", lock = receipt + ".lock";
    ASSERT_TRUE(::mkdir(folder.c_str(), 0777) == 0 && ::chmod(folder.c_str(), 0777) == 0);
    ASSERT_TRUE(ownerOnly(lock, kNobody - 1));
    struct stat before {}, after {};
    ASSERT_EQ(::stat(lock.c_str(), &before), 0);
    EXPECT_TRUE(asUser(kNobody, [&] {
        tqm::Receipt mine;
        std::string error;
        return !tqm::updateReceipt(receipt, mine, [](tqm::Receipt& r) { r.catalog_sequence = 3; }, error) &&
               error.find(lock) != std::string::npos;
    }));
    ASSERT_EQ(::stat(lock.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_FALSE(exists(receipt));
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

}  // namespace
