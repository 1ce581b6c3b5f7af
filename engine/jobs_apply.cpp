// Running the tasks of a job: in this process (runTasks) or, as the elevated helper, from a
// job file against the cached catalog and packages (applyJob).
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/fileread.h"
#include "engine/install_folder.h"
#include "engine/package.h"
#include "engine/package_cache.h"
#include "engine/jobs.h"
#include "engine/load.h"
#include "engine/running.h"
#include "engine/safe_path.h"
#include "engine/source.h"
#include "engine/util.h"
#include "json/json.h"

namespace tqm {

namespace {

// A job file is a few lines; anything much larger is not ours.
constexpr size_t kMaxJobFile = 16u << 20;
constexpr size_t kMaxPackage = size_t(1) << 30;

// The result file of the helper. It lies in a folder the user owns while the helper runs as
// root: whatever is at the path is removed and the file made anew, never through a link, in
// its folder opened without passing a link the user can change.
class ResultFile {
public:
    explicit ResultFile(const std::string& path) {
        detail::DirFd dir;
        std::string name;
        if (detail::openParent(path, dir, name) != 0) return;
        if (::unlinkat(dir.get(), name.c_str(), 0) != 0 && errno != ENOENT) return;
        fd_ = ::openat(dir.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    ~ResultFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    bool open() const { return fd_ >= 0; }
    void line(const std::string& text) {
        std::string out = text + "\n";
        const char* p = out.data();
        size_t left = out.size();
        while (left > 0) {
            ssize_t n = ::write(fd_, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            p += n;
            left -= size_t(n);
        }
    }

private:
    int fd_ = -1;
};

// The helper's standard input, the line that keeps its wait for another job's lock going. The
// manager (runElevated) makes it a socket and keeps the other end: the helper says there what it
// waits for and when it has begun (jobs::helperLine). The wait goes on while the line is open and
// is given up once reading it gives its end: the manager closed its end (its job was stopped),
// whatever it wrote there first; a pipe's writer went; the end of input at a terminal. A file,
// /dev/null or no standard input at all can stop nothing, so the helper does not wait there; and
// without the manager's socket it tells its standard error what it waits for. Only these
// descriptors are ever used: root writes nothing through a path for them.
class ManagerLine {
public:
    ManagerLine() {
        struct stat st {};
        const bool open = ::fstat(0, &st) == 0;
        socket_ = open && S_ISSOCK(st.st_mode);
        canStop_ = socket_ || (open && (S_ISFIFO(st.st_mode) || ::isatty(0)));
    }
    void waiting(const std::string& why) const {
        if (socket_)
            send(jobs::helperLine(jobs::HelperSays::Wait, why));
        else
            [[maybe_unused]] const ssize_t n = ::write(2, (why + "\n").data(), why.size() + 1);
    }
    void begun() const {
        if (socket_) send(jobs::helperLine(jobs::HelperSays::Begun));
    }
    // Whether a line that can stop the job has ended: the manager was stopped, or is gone.
    bool stopped() const { return canStop_ && gone(); }
    // Whether the line has ended; what was written there meanwhile is read and dropped.
    bool gone() const {
        if (!canStop_) return true;
        char buf[512];
        for (;;) {
            pollfd p{0, POLLIN, 0};
            const int ready = ::poll(&p, 1, 0);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || (p.revents & POLLNVAL)) return true;
            if (ready == 0) return false;
            const ssize_t n = socket_ ? ::recv(0, buf, sizeof buf, MSG_DONTWAIT) : ::read(0, buf, sizeof buf);
            if (n == 0) return true;
            if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
        }
    }

private:
    void send(const std::string& line) const {
        [[maybe_unused]] const ssize_t n = ::send(0, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }

    bool socket_ = false;
    bool canStop_ = false;
};

// The package the unprivileged side downloaded and cached for this job.
bool cachedPackage(const std::string& userData, const FileRef& ref, std::string& data, std::string& error) {
    const std::string path = detail::packageCacheFile(userData, ref);
    int err = 0;
    if (!readRegularFile(path, kMaxPackage, data, err)) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

// The user who asked for the job: the one the administrator prompt names, or else the one who
// started this process (a plain launcher).
uid_t askingUser() {
    const char* named = std::getenv("PKEXEC_UID");
    unsigned long uid = 0;
    if (named && *named) {
        const char* end = named + std::strlen(named);
        const auto [at, ec] = std::from_chars(named, end, uid);
        if (ec == std::errc() && at == end && uid < uid_t(-1)) return uid_t(uid);
    }
    return ::getuid();
}

// Reads the job file, which lies in a folder of the user's: only a regular file of the user who
// asked, that no one else can change, is run (its folder opened as root opens the user's folders,
// the file itself never through a link). False with the result line that says why.
bool readJob(const std::string& path, std::string& text, std::string& why) {
    detail::DirFd dir;
    std::string name;
    int err = detail::openParent(path, dir, name);
    const int fd = err ? -1 : ::openat(dir.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && err == 0) err = errno;
    if (fd < 0 && err != ELOOP) {
        why = "no job: " + (err == detail::kLinkRefused ? detail::refusedText(path)
                                                         : "cannot read " + path + ": " + detail::systemText(err));
        return false;
    }
    const detail::DirFd file(fd);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        why = "job refused: " + path + " is not a regular file";
    else if (st.st_uid != askingUser())
        why = "job refused: " + path + " belongs to another user";
    else if (st.st_mode & (S_IWGRP | S_IWOTH))
        why = "job refused: " + path + " can be changed by other users";
    else if (!readRegularFile(fd, kMaxJobFile, text, err))
        why = "no job: cannot read " + path + ": " + detail::systemText(err);
    return why.empty();
}

}  // namespace

JobLock::JobLock(const Engine& engine, const std::string& userData)
    : userData_(userData),
      lock_(joinPath(userData, "job.lock"),
            engine.keepWaiting(waitingSentence(), kJobLockWait)) {}

std::string JobLock::error() const {
    if (held()) return {};
    if (lock_.busy())
        return "another copy of the manager is running a job on " + userData_ + ": try again when it ends";
    return lock_.failure();
}

namespace {

// A "record" task: the job's sweep (beginJob) has recorded what the item's notes say is on disk,
// or left in engine.unrecorded why it could not.
bool recordTask(const Engine& engine, const Task& t, std::string& error) {
    const auto left = engine.unrecorded.find(t.id);
    if (left == engine.unrecorded.end()) return true;
    error = unrecordedText(t.id + " " + t.format, left->second);
    return false;
}

}  // namespace

bool runTask(Engine& engine, const Task& t, const Package* ready, std::string& error) {
    if (t.op == "record") return recordTask(engine, t, error);
    if (t.op == "remove") return engine.remove(t.id, t.format, error);
    if (t.op == "purge") return engine.purge(t.id, t.format, error);
    if (t.op == "self") {
        if (ready) return engine.replaceSelf(*ready, error);
        std::string data;
        return engine.downloadSelf(data, error, Progress()) && engine.replaceSelf(data, error);
    }
    const Plugin* entry = engine.catalog ? engine.catalog->find(t.id) : nullptr;
    if (!entry) {
        error = t.id + " is not in the catalog";
        return false;
    }
    if (ready) return engine.install(*entry, t.format, *ready, error);
    std::string data;
    return engine.download(*entry, t.format, data, error, Progress()) && engine.install(*entry, t.format, data, error);
}

bool runTasks(Engine& engine, const std::vector<Task>& tasks, std::vector<std::string>& results) {
    bool failed = false;
    for (const Task& t : tasks) {
        std::string error;
        const bool ok = runTask(engine, t, nullptr, error);
        if (!ok) failed = true;
        results.push_back(resultLine(t, ok, error));
    }
    return failed;
}

int applyJob(const Layout& layout, const std::string& jobPath, const std::string& resultPath,
             const std::string& keys) {
    ResultFile result(resultPath);
    if (!result.open()) return 1;

    std::string text, refused;
    if (!readJob(jobPath, text, refused)) {
        result.line(refused);
        return 1;
    }
    const lumo::Json job = lumo::Json::parse(text);

    const std::string userData = job["user_data"].string();
    Layout here = layout;
    for (const auto& [format, folder] : job["folders"].object()) here.folders[format] = folder.string();

    // Only the cache the manager wrote is read; a job without a data folder has none (and must
    // not make the helper read one relative to wherever it was started).
    if (userData.empty() || userData[0] != '/') {
        result.line("no catalog: the job names no data folder");
        return 1;
    }
    LoadedCatalog loaded = loadCatalog(Source(), keys, userData, true);
    if (!loaded.ok) {
        result.line("no catalog: " + loaded.note);
        return 1;
    }

    Engine engine;
    engine.layout = here;
    engine.catalog = &loaded.catalog;
    engine.program = selfItem(runningProgram());  // its old copy stays for the manager's next start
    std::string error;

    std::vector<Task> tasks;
    for (const lumo::Json& t : job["tasks"].array())
        tasks.push_back(Task{t["op"].string(), t["id"].string(), t["format"].string()});

    // Another job on the same data folder (a second manager) is waited for, saying so to the
    // manager, which may stop it meanwhile (a line that can stop nothing is not waited on); so are
    // the claims of the folders the sweep needs, until the manager's Stop. The manager is looked at
    // once more before anything begins: after its Stop nothing does. The waits of the job itself
    // (for a receipt's lock) are said as well, and run to their own end.
    const ManagerLine manager;
    std::string said;
    bool held = false;
    const std::string jobWait = waitingSentence();
    engine.waiting = [&](const std::string& why) {
        if (!held && (why == jobWait ? manager.gone() : manager.stopped())) return false;
        if (why != said) manager.waiting(said = why);
        return true;
    };
    const auto lock = beginJob(engine, userData, error, [&] {
        if (manager.stopped()) {
            error = "stopped before it began";
            return false;
        }
        held = true;
        manager.begun();
        return true;
    }, &tasks);
    if (!lock) {
        result.line(held ? error : "no job: " + error);
        return 1;
    }

    bool failed = false;
    for (const Task& t : tasks) {
        error.clear();
        bool ok = false;
        if (t.op == "remove") {
            ok = engine.remove(t.id, t.format, error);
        } else if (t.op == "record") {
            ok = recordTask(engine, t, error);
        } else if (t.op == "purge") {
            // The helper only ever deletes the machine's data, never a user's.
            if (t.format == "machine") ok = engine.purge(t.id, t.format, error);
        } else if (t.op == "self") {
            const FileRef* ref = loaded.catalog.managerPackage();
            std::string data;
            if (!ref)
                error = std::string("the catalog has no manager for ") + thisPlatform();
            else
                ok = cachedPackage(userData, *ref, data, error) && engine.replaceSelf(data, error);
        } else {
            const Plugin* entry = loaded.catalog.find(t.id);
            const FileRef* ref = entry ? entry->package(t.format, thisPlatform()) : nullptr;
            std::string data;
            if (!ref)
                error = t.id + " " + t.format + " is not in the catalog";
            else
                ok = cachedPackage(userData, *ref, data, error) && engine.install(*entry, t.format, data, error);
        }
        if (!ok) failed = true;
        result.line(resultLine(t, ok, error));
    }
    return failed ? 1 : 0;
}

namespace jobs {

int runHelper(const HelperArgs& args, const std::string& keys) {
    if (args.job.empty() || args.result.empty()) return 2;
    detail::keepRootUmask(true);  // before the result file too
    return applyJob(args.layout, args.job, args.result, keys);
}

}  // namespace jobs

}  // namespace tqm
