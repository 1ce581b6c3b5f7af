#pragma once
// Children that act as another user.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace testsupport {

// Runs body in a child that dropped to uid; true when it answered true.
inline bool asUser(uid_t uid, const std::function<bool()>& body) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(::setgid(uid) == 0 && ::setuid(uid) == 0 && body() ? 0 : 1);
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Opens a lock file as uid and holds its lock until released or the object goes (the child is then
// killed and waited for).
class LockHolder {
public:
    LockHolder(const std::string& path, uid_t uid) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            int fd = -1;
            const char answer = ::setgid(uid) == 0 && ::setuid(uid) == 0 &&
                                (fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK)) >= 0 && ::flock(fd, LOCK_EX) == 0;
            [[maybe_unused]] const ssize_t n = ::write(fds[1], &answer, 1);
            ::pause();
            ::_exit(0);
        }
        char answer = 0;
        took_ = pid_ > 0 && ::read(fds[0], &answer, 1) == 1 && answer;
        ::close(fds[0]);
        ::close(fds[1]);
    }
    ~LockHolder() { release(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool took() const { return took_; }  // whether the child opened the file and took its lock
    pid_t pid() const { return pid_; }   // the child that holds it
    void release() {
        if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool took_ = false;
};

}  // namespace testsupport
