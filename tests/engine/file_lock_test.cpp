// The lock between this user's processes that rewrite the same files.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "engine/file_lock.h"
#include "tests/support/lock_holder.h"
#include "tests/support/temp_home.h"

using namespace testsupport;

namespace {

// A lock file an older manager made open to others, which another user opened then and holds:
// the owner's next lock replaces the file with an owner-only one instead of waiting on theirs.
TEST(FileLock, ALockFileOthersCouldOpenIsReplaced) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const uid_t nobody = 65534;
    struct Case {
        const char* name;
        mode_t mode;
    } cases[] = {{"state.lock", 0644}, {"settings.txt.lock", 0666}, {"x.lock", 0640}};
    TempHome temp;
    ASSERT_EQ(::chmod(temp.dir().c_str(), 0755), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string lock = temp.path(c.name);
        ASSERT_TRUE(writeFile(lock, ""));
        ASSERT_EQ(::chmod(lock.c_str(), c.mode), 0);
        ASSERT_EQ(::chown(lock.c_str(), 0, nobody), 0);
        LockHolder theirs(lock, nobody);
        EXPECT_TRUE(theirs.took());
        {
            const tqm::FileLock mine(lock, std::chrono::milliseconds(200));
            EXPECT_TRUE(mine.held());
            // The new file locks as the old one did.
            EXPECT_FALSE(tqm::FileLock(lock, std::chrono::milliseconds(0)).held());
        }
        EXPECT_TRUE(tqm::FileLock(lock, std::chrono::milliseconds(0)).held());
        struct stat st {};
        ASSERT_EQ(::stat(lock.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(st.st_uid, 0u);
    }
}

// Root's lock in a folder a user owns (the elevated helper beside the user's own manager) holds off
// that user's processes: the file root made is the user's, who takes the same lock.
TEST(FileLock, RootsLockInAUsersFolderHoldsOffThatUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const uid_t nobody = 65534;
    TempHome temp;
    ASSERT_EQ(::chmod(temp.dir().c_str(), 0755), 0);
    const std::string folder = temp.path("data");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chown(folder.c_str(), nobody, nobody), 0);
    const std::string lock = folder + "/installed.json.lock";
    // The exit code of a child that, as that user, tries the lock once: 0 taken, 1 not.
    const auto userTries = [&] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgid(nobody) != 0 || ::setuid(nobody) != 0) ::_exit(2);
            ::_exit(tqm::FileLock(lock, std::chrono::milliseconds(0)).held() ? 0 : 1);
        }
        int status = 0;
        return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    {
        const tqm::FileLock roots(lock, std::chrono::milliseconds(0));
        ASSERT_TRUE(roots.held());
        EXPECT_EQ(userTries(), 1);
    }
    EXPECT_EQ(userTries(), 0);
}

}  // namespace
