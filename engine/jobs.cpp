// The elevated road as seen from the manager: the job file, the helper's command line, the
// administrator prompt and the result file. The helper's side is in jobs_apply.cpp.
#include "engine/jobs.h"

#include "engine/fileread.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "engine/atomic_write.h"
#include "engine/fileread.h"
#include "engine/safe_path.h"
#include "engine/signature.h"
#include "engine/util.h"

extern char** environ;

namespace fs = std::filesystem;

namespace tqm {

namespace {

// pkexec's exit statuses when it did not run the command.
constexpr int kPromptDismissed = 126;
constexpr int kPromptFailed = 127;
// pkexec's line when it was not authorized to run the command; a trailer follows it.
constexpr char kPromptRefusal[] = "Error executing command as another user: Not authorized";

// "result.txt" is a few lines a task; anything that is not a small regular file reads as empty.
std::string readWhole(const std::string& path) {
    std::string text;
    int err = 0;
    if (!readRegularFile(path, size_t(64) << 20, text, err)) text.clear();
    return text;
}

bool endsWithOk(const std::string& line) {
    return line.size() >= 4 && line.compare(line.size() - 4, 4, ": ok") == 0;
}

// A file of the jobs folder ("prompt.txt"), emptied for writing; -1 when a link was
// planted there. A symbolic link is not followed (O_NOFOLLOW) and a file with a second name (a
// hard link) is left as it was: it is emptied only after that check. O_NONBLOCK: a pipe planted
// there fails the open instead of holding it until someone reads.
int openJobsFile(int jobsFd, const char* name, mode_t mode) {
    const int fd = ::openat(jobsFd, name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || ::ftruncate(fd, 0) != 0 ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Hands the helper's lines (jobs::helperLine) to watch. False once the manager has given up the
// helper's wait. A wait said after "begun" (for a receipt's lock) is shown; the job runs on.
bool heard(std::string& buffer, std::string& why, bool& begun, const HelperWatch& watch) {
    for (size_t end; (end = buffer.find('\n')) != std::string::npos; buffer.erase(0, end + 1)) {
        std::string said;
        const jobs::HelperSays says = jobs::heardLine(buffer.substr(0, end), said);
        if (says == jobs::HelperSays::Wait) {
            why = said;
            if (begun && watch.waiting) watch.waiting(why);
        } else if (says == jobs::HelperSays::Begun && !begun) {
            begun = true;
            if (watch.begun) watch.begun();
        }
    }
    return begun || why.empty() || !watch.waiting || watch.waiting(why);
}

// Starts argv with stdout and stderr on promptFd and its standard input a socket of which this
// process keeps the other end, listens there as HelperWatch says and waits for it. False when it
// could not be started; status holds waitpid's status otherwise.
bool spawnAndWatch(const std::vector<std::string>& args, int promptFd, const HelperWatch& watch, int& status) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int talk[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, talk) != 0) return false;
    posix_spawn_file_actions_t actions;
    const bool made = posix_spawn_file_actions_init(&actions) == 0;
    bool ok = made && posix_spawn_file_actions_adddup2(&actions, talk[1], 0) == 0 &&
              posix_spawn_file_actions_adddup2(&actions, promptFd, 1) == 0 &&
              posix_spawn_file_actions_adddup2(&actions, 1, 2) == 0;
    pid_t pid = -1;
    if (ok) ok = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    if (made) posix_spawn_file_actions_destroy(&actions);
    ::close(talk[1]);
    int mine = talk[0];
    std::string buffer, why;
    bool begun = false;
    while (ok && mine >= 0) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            ::close(mine);
            return true;
        }
        pollfd p{mine, POLLIN, 0};
        bool end = false;
        if (::poll(&p, 1, 50) > 0) {
            char buf[512];
            const ssize_t got = ::read(mine, buf, sizeof buf);
            if (got > 0) buffer.append(buf, size_t(got));
            end = got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN);
        }
        // The end of the stream (the helper ended) or the manager giving up: no more listening.
        if (end || !heard(buffer, why, begun, watch)) {
            ::close(mine);
            mine = -1;
        }
    }
    if (mine >= 0) ::close(mine);
    if (!ok) return false;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace

std::string resultLine(const Task& task, bool ok, const std::string& error) {
    return task.op + " " + task.id + " " + task.format + ": " + (ok ? std::string("ok") : error);
}

const std::vector<std::string>& adminPrompt() {
    static const std::vector<std::string> words{"pkexec"};
    return words;
}

std::string helperKeys() {
    const char* test = helperKeysOverride();
    return test ? std::string(test) : builtinKeys();
}

namespace jobs {

std::string jobText(const std::string& userData, const std::map<std::string, std::string>& folders,
                    const std::vector<Task>& tasks) {
    std::string out = "{\"user_data\": " + jsonQuote(userData) + ", \"folders\": {";
    const char* sep = "";
    for (const auto& [format, folder] : folders) {
        out += sep + jsonQuote(format) + ": " + jsonQuote(folder);
        sep = ", ";
    }
    out += "}, \"tasks\": [";
    sep = "";
    for (const Task& t : tasks) {
        out += sep;
        out += "{\"op\": " + jsonQuote(t.op) + ", \"id\": " + jsonQuote(t.id) + ", \"format\": " +
               jsonQuote(t.format) + "}";
        sep = ", ";
    }
    out += "]}\n";
    return out;
}

std::string shQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += "'";
    return out;
}

std::string helperCommand(const Layout& layout, const std::string& home, const std::string& program,
                          const std::string& applySwitch, const std::string& jobPath,
                          const std::string& resultPath) {
    std::string cmd = "HOME=" + shQuote(home) + " " + shQuote(program);
    cmd += std::string(" --scope ") + scopeName(layout.scope);
    if (!layout.root.empty()) cmd += " --root " + shQuote(layout.root);
    cmd += " " + applySwitch;
    cmd += " --job " + shQuote(jobPath);
    cmd += " --result " + shQuote(resultPath);
    return cmd;
}

std::vector<std::string> promptArgs(const std::vector<std::string>& prompt, const std::string& command) {
    std::vector<std::string> args = prompt;
    args.push_back("/bin/sh");
    args.push_back("-c");
    args.push_back(command);
    return args;
}

namespace {
const char kWaitWord[] = "wait ";
const char kBegunWord[] = "begun";
}  // namespace

std::string helperLine(HelperSays says, const std::string& why) {
    return (says == HelperSays::Wait ? kWaitWord + why : std::string(kBegunWord)) + "\n";
}

HelperSays heardLine(const std::string& line, std::string& why) {
    if (line.rfind(kWaitWord, 0) == 0) {
        why = line.substr(sizeof kWaitWord - 1);
        return HelperSays::Wait;
    }
    return line == kBegunWord ? HelperSays::Begun : HelperSays::Other;
}

std::vector<std::string> resultLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

HelperArgs parseHelperArgs(const std::vector<std::string>& words) {
    HelperArgs args;
    args.layout.scope = defaultScope();
    auto value = [&](size_t& i) -> std::string {
        if (i + 1 >= words.size()) return {};
        return words[++i];
    };
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "--tqm-apply") {
            args.apply = true;
        } else if (w == "--scope") {
            args.layout.scope = value(i) == "user" ? Scope::User : Scope::System;
        } else if (w == "--root") {
            args.layout.root = value(i);
        } else if (w == "--job") {
            args.job = value(i);
        } else if (w == "--result") {
            args.result = value(i);
        }
    }
    return args;
}

}  // namespace jobs

bool runElevated(const Layout& layout, const std::vector<Task>& tasks, const std::string& program,
                 const std::string& applySwitch, std::vector<std::string>& results, std::string& error,
                 const std::vector<std::string>& prompt, const HelperWatch& watch) {
    if (program.empty()) {
        error = std::string("cannot write the ") + scopeName(layout.scope) + " folders";
        return false;
    }
    const std::string dir = joinPath(layout.userData(), "jobs");
    const std::string jobPath = joinPath(dir, "job.json");
    const std::string resultPath = joinPath(dir, "result.txt");

    // A job that cannot be written, or a result file left from an earlier job, would have the
    // helper run the previous job or let a stale ": ok" count as success: stop here instead.
    // The files are made in the open jobs folder: as root no link the user can change is passed.
    detail::DirFd jobsDir;
    const int err = detail::openDir(dir, jobsDir, true);
    if (err != 0) {
        error = err == detail::kLinkRefused ? detail::refusedText(dir)
                                            : "cannot create " + dir + ": " + detail::systemText(err);
        return false;
    }
    if (::unlinkat(jobsDir.get(), "result.txt", 0) != 0 && errno != ENOENT &&
        (errno != EISDIR || ::unlinkat(jobsDir.get(), "result.txt", AT_REMOVEDIR) != 0)) {
        error = "cannot remove " + resultPath + ": " + detail::systemText(errno);
        return false;
    }
    // Each job is a new file of this user's alone, put in place whole: whatever stood at the name
    // (an older job of any mode, a link, a pipe) is replaced, never written through or waited on.
    WriteFailure failure;
    if (!writeFileAtomicAt(jobsDir.get(), "job.json", jobs::jobText(layout.userData(), layout.folders, tasks), 0600,
                           failure)) {
        error = "cannot write " + jobPath;
        return false;
    }

    const char* home = std::getenv("HOME");
    const std::string command =
        jobs::helperCommand(layout, home ? home : "", program, applySwitch, jobPath, resultPath);
    // Why the helper did not start, said after this, in the window and in the log alike.
    const std::string notStarted = "cannot start the elevated helper: ";
    std::vector<std::string> args = jobs::promptArgs(prompt, command);
    const std::string promptName = fs::path(args[0]).filename().string();
    // A bare name is looked for as a shell would, in PATH. That is safe for a program that raises
    // privileges: what is found runs as this user, and only a set-user-ID program that root
    // installed can raise them, so a folder the user put on PATH gains nothing the user lacked.
    // Relative folders are passed over (findOnPath): they name wherever the manager was started.
    if (args[0].find('/') == std::string::npos) {
        const std::string found = findOnPath(args[0]);
        if (found.empty()) {
            error = notStarted + promptName + " is not installed (no folder of PATH holds it)";
            return false;
        }
        args[0] = found;
    }
    if (::access(args[0].c_str(), X_OK) != 0) {
        error = notStarted + "cannot run " + args[0] + ": " + detail::systemText(errno);
        return false;
    }
    int status = 0;
    const std::string promptPath = joinPath(dir, "prompt.txt");
    const int promptFd = openJobsFile(jobsDir.get(), "prompt.txt", 0600);
    if (promptFd < 0) {
        error = notStarted + "cannot write " + promptPath;
        return false;
    }
    const bool started = spawnAndWatch(args, promptFd, watch, status);
    ::close(promptFd);
    if (!started) {
        error = notStarted + "cannot run " + args[0];
        return false;
    }
    std::error_code ec;

    const bool haveResult = fs::exists(fs::symlink_status(resultPath, ec));
    results = haveResult ? jobs::resultLines(readWhole(resultPath)) : std::vector<std::string>{};
    const bool exited = WIFEXITED(status);
    if (!haveResult) {
        if (exited && WEXITSTATUS(status) == kPromptDismissed) {
            error = "cancelled at the administrator prompt";
            return false;
        }
        // A refusal is the prompt's answer, said in its own words; otherwise the prompt's last
        // words say most why the helper did not start, its status else.
        const std::vector<std::string> said = jobs::resultLines(readWhole(promptPath));
        if (exited && WEXITSTATUS(status) == kPromptFailed &&
            std::find(said.begin(), said.end(), kPromptRefusal) != said.end()) {
            error = std::string("the administrator prompt refused: ") + kPromptRefusal;
            return false;
        }
        error = notStarted + promptName +
                (exited ? " ended with status " + std::to_string(WEXITSTATUS(status))
                        : " was ended by signal " + std::to_string(WTERMSIG(status))) +
                (said.empty() ? "" : ": " + said.back());
        return false;
    }
    if (exited && WEXITSTATUS(status) == 0) return true;
    error = "the elevated helper failed";
    for (const std::string& line : results) {
        if (endsWithOk(line)) continue;
        size_t sep = line.find(": ");
        error = sep == std::string::npos ? line : line.substr(sep + 2);
        break;
    }
    return false;
}

}  // namespace tqm
