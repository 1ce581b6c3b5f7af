#pragma once
// A copy of /bin/sleep placed at a given path (inside an app folder, say) and started, so that
// the running-program checks see it. The constructor returns once the copy runs; the process
// is killed and reaped on destruction.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace testsupport {

struct RunningCopy {
    pid_t pid = -1;

    explicit RunningCopy(const std::string& program) {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::create_directories(fs::path(program).parent_path(), ec);
        fs::copy_file("/bin/sleep", program, fs::copy_options::overwrite_existing, ec);
        fs::permissions(program, fs::perms(0755), ec);
        // The write end closes when exec succeeds; a failed exec writes one byte first.
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::close(ready[0]);
            ::execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
            (void)!::write(ready[1], "x", 1);
            ::_exit(127);
        }
        ::close(ready[1]);
        char failed = 0;
        ssize_t n;
        while ((n = ::read(ready[0], &failed, 1)) < 0 && errno == EINTR) {
        }
        ::close(ready[0]);
        if (pid > 0 && n != 0) {
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
    ~RunningCopy() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    RunningCopy(const RunningCopy&) = delete;
    RunningCopy& operator=(const RunningCopy&) = delete;
};

}  // namespace testsupport
