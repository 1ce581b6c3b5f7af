// The lock between this user's processes that rewrite the same files.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "engine/file_lock.h"
#include "tests/support/lock_holder.h"
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

}  // namespace
