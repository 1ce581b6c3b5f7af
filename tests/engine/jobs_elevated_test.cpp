// The whole elevated road for real: job file, a second process of this test program started
// through a plain shell in place of the administrator prompt, its entry before main, the
// helper's job against the cached catalog and packages, and the result file.
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <atomic>
#include <functional>
#include <future>
#include <optional>

#include <signal.h>

#include "engine/install_folder.h"
#include "engine/jobs.h"
#include "engine/running.h"
#include "engine/safe_path.h"
#include "tests/support/job_fixture.h"
#include "tests/support/processes.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace testsupport;

// The helper in this program verifies the cache with the test's key, named in the environment
// the test hands down; without it the built-in keys apply as in the shipped program.
const char* tqm::helperKeysOverride() { return std::getenv("TQM_TEST_HELPER_KEYS"); }

namespace {

const char kKeysVar[] = "TQM_TEST_HELPER_KEYS";
const char kMarkVar[] = "TQM_TEST_INIT_MARK";

// A static object of this program, built before main like any of the application's: it leaves
// a mark when it is built, and the helper must have ended before that.
struct InitMark {
    InitMark() {
        if (const char* mark = std::getenv(kMarkVar)) testsupport::writeFile(mark, "built");
    }
} g_initMark;

// Runs this program with the words; answers its exit status.
int runSelf(const std::vector<std::string>& words) {
    const std::string self = tqm::runningProgram();
    std::vector<char*> argv{const_cast<char*>(self.c_str())};
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ElevatedHelper : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        ::setenv(kKeysVar, catalog.publicKeyHex().c_str(), 1);
        // The unprivileged side downloads what the job needs into the package cache.
        std::string data, error;
        for (const char* id : {"synth", "studio"}) {
            const tqm::Plugin* entry = loaded.catalog.find(id);
            ASSERT_TRUE(engine.download(*entry, entry->is_app ? "app" : "vst3", data, error, {})) << error;
        }
        jobs = engine.layout.userData() + "/jobs";
    }
    void TearDown() override { ::unsetenv(kKeysVar); }

    bool elevated(const std::vector<tqm::Task>& tasks, const std::vector<std::string>& prompt = {},
                  const std::string& program = tqm::runningProgram(), const tqm::HelperWatch& watch = {}) {
        results = {"stale"};
        error.clear();
        return tqm::runElevated(engine.layout, tasks, program, "--tqm-apply", results, error, prompt, watch);
    }

    std::string jobs;
    std::vector<std::string> results;
    std::string error;
};

TEST_F(ElevatedHelper, RunsTheJobInASecondProcess) {
    fs::remove_all(path("source"));  // the helper never downloads
    EXPECT_TRUE(elevated({{"install", "synth", "vst3"}, {"install", "studio", "app"}})) << error;
    EXPECT_EQ(results, (std::vector<std::string>{"install synth vst3: ok", "install studio app: ok"}));
    EXPECT_EQ(readFile(vst3() + "/Synth.vst3/Contents/Info.plist"), "vst3 1.0.0");
    EXPECT_TRUE(exists(appsDir() + "/Studio.app/Contents/MacOS/Studio"));
    std::string loadError;
    ASSERT_TRUE(engine.loadReceipt(loadError)) << loadError;
    EXPECT_EQ(engine.receipt.plugins["synth"].formats["vst3"].version, "1.0.0");
    EXPECT_EQ(engine.apps.plugins["studio"].formats["app"].exe, "Studio");

    // Remove and purge of the machine's data, by the same road.
    fs::create_directories(data("ProgramData", "Studio"));
    EXPECT_TRUE(elevated({{"remove", "synth", "vst3"}, {"remove", "studio", "app"}, {"purge", "studio", "machine"}}))
        << error;
    EXPECT_EQ(results.size(), 3u);
    EXPECT_FALSE(exists(vst3() + "/Synth.vst3"));
    EXPECT_FALSE(exists(appsDir() + "/Studio.app"));
    EXPECT_FALSE(exists(data("ProgramData", "Studio")));

    // An install whose record failed is recorded by the same road, from what is on disk alone.
    const std::string lock = engine.layout.receiptFile() + ".lock";
    fs::remove(lock);
    fs::create_directories(lock);  // a folder at the lock's name: the record cannot be had
    EXPECT_FALSE(elevated({{"install", "synth", "vst3"}}));
    fs::remove(lock);
    fs::remove_all(engine.layout.userData() + "/cache/packages");
    EXPECT_TRUE(elevated({{"record", "synth", "vst3"}})) << error;
    ASSERT_TRUE(engine.loadReceipt(loadError)) << loadError;
    EXPECT_EQ(engine.receipt.plugins["synth"].formats["vst3"].version, "1.0.0");
}

TEST_F(ElevatedHelper, FailuresComeBackByLine) {
    struct Case {
        std::vector<tqm::Task> tasks;
        std::vector<std::string> lines;
        std::string error;
    } cases[] = {
        {{{"install", "synth", "vst3"}, {"install", "synth", "au"}},
         {"install synth vst3: ok", "install synth au: synth au is not in the catalog"},
         "synth au is not in the catalog"},
        // The helper never deletes a user's data.
        {{{"purge", "studio", "user"}}, {"purge studio user: "}, ""},
        // Nothing cached for the clap package: the helper does not download.
        {{{"install", "synth", "clap"}},
         {"install synth clap: cannot read " + engine.layout.userData() + "/cache/packages/Synth-1.0.0.clap.zip"},
         "cannot read " + engine.layout.userData() + "/cache/packages/Synth-1.0.0.clap.zip"},
    };
    fs::create_directories(data("AppData", "Studio"));
    for (const Case& c : cases) {
        EXPECT_FALSE(elevated(c.tasks));
        EXPECT_EQ(results, c.lines);
        EXPECT_EQ(error, c.error);
    }
    EXPECT_TRUE(exists(data("AppData", "Studio")));
}

TEST_F(ElevatedHelper, CatalogIsVerifiedWithTheHelpersKeys) {
    ::unsetenv(kKeysVar);  // the built-in keys did not sign the test catalog
    EXPECT_FALSE(elevated({{"install", "synth", "vst3"}}));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].rfind("no catalog: offline; the cached catalog failed too: ", 0), 0u) << results[0];
    EXPECT_FALSE(exists(vst3() + "/Synth.vst3"));
}

TEST_F(ElevatedHelper, PromptOutcomes) {
    // Prompts that never run the helper, and why; a prompt is found in PATH's absolute folders only,
    // a refusal (127) says its reason without the trailer.
    const std::string notStarted = "cannot start the elevated helper: ";
    const std::string refusal = "Error executing command as another user: Not authorized";
    ASSERT_TRUE(writeFile(path("not-a-program"), "#!/bin/sh\n"));
    ASSERT_TRUE(writeFile(path("bin/refuses"), "#!/bin/sh\necho '" + refusal + "\n\nThis incident has been reported.'; exit 127\n"));
    ASSERT_TRUE(writeFile(path("here/near"), "#!/bin/sh\n"));
    ::chmod(path("bin/refuses").c_str(), 0755);
    ::chmod(path("here/near").c_str(), 0755);
    const std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin", cwd = fs::current_path().string();
    ::setenv("PATH", ("/no/such:" + path("bin") + "::.:here").c_str(), 1);
    ASSERT_EQ(::chdir(path("here").c_str()), 0);
    struct Case {
        std::vector<std::string> prompt;
        std::string error;
    } cases[] = {
        {{"/bin/sh", "-c", "exit 126", "prompt"}, "cancelled at the administrator prompt"},
        {{"refuses"}, "the administrator prompt refused: " + refusal},
        {{"near"}, notStarted + "near is not installed (no folder of PATH holds it)"},
        {{path("no-such-prompt")}, notStarted + "cannot run " + path("no-such-prompt") + ": No such file or directory"},
        {{path("not-a-program")}, notStarted + "cannot run " + path("not-a-program") + ": Permission denied"},
        {{"/bin/sh", "-c", "exit 127", "prompt"}, notStarted + "sh ended with status 127"},
        {{"/bin/sh", "-c", "kill -9 $$", "prompt"}, notStarted + "sh was ended by signal 9"},
        {{"/bin/sh", "-c", "echo; echo no agent >&2; echo >&2; exit 127", "prompt"},
         notStarted + "sh ended with status 127: no agent"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(elevated({{"install", "synth", "vst3"}}, c.prompt));
        EXPECT_EQ(error, c.error);
    }
    ::setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(::chdir(cwd.c_str()), 0);
    EXPECT_EQ(readFile(jobs + "/prompt.txt"), "\nno agent\n\n");
    EXPECT_EQ(fs::status(jobs + "/prompt.txt").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(exists(vst3() + "/Synth.vst3"));
    EXPECT_FALSE(elevated({{"install", "synth", "vst3"}}, {}, ""));
    EXPECT_EQ(error, "cannot write the user folders");
}

TEST_F(ElevatedHelper, ProgramPathWithQuoteBackslashAndBlank) {
    const std::string dir = path("we'ird \"dir\\ x");
    fs::create_directories(dir);
    fs::create_symlink(tqm::runningProgram(), dir + "/man ager");
    EXPECT_TRUE(elevated({{"install", "synth", "vst3"}}, {}, dir + "/man ager")) << error;
    EXPECT_EQ(results, std::vector<std::string>{"install synth vst3: ok"});
}

TEST_F(ElevatedHelper, EntryBeforeMain) {
    const std::string result = path("r.txt");
    // Without a job or result path: status 2 and nothing written.
    EXPECT_EQ(runSelf({"--tqm-apply", "--job", "--result", result}), 2);
    EXPECT_EQ(runSelf({"--tqm-apply", "--result", result}), 2);
    EXPECT_FALSE(exists(result));
    // The helper ends before any other static object of the program is built.
    ::setenv(kMarkVar, path("mark").c_str(), 1);
    EXPECT_EQ(runSelf({"--tqm-apply", "--result", result}), 2);
    EXPECT_FALSE(exists(path("mark")));
    // Without the switch the program goes on to main as usual.
    EXPECT_EQ(runSelf({"--gtest_filter=-*", "--job", path("j"), "--result", result}), 0);
    ::unsetenv(kMarkVar);
    EXPECT_TRUE(exists(path("mark")));
    EXPECT_FALSE(exists(result));
    // A job file that is not there: one line without the task form, status 1.
    EXPECT_EQ(runSelf({"--tqm-apply", "--job", path("missing"), "--result", result}), 1);
    EXPECT_EQ(readFile(result), "no job: cannot read " + path("missing") + ": " + tqm::detail::systemText(ENOENT) + "\n");
}

TEST_F(ElevatedHelper, ResultFileNeverFollowsALink) {
    // A link planted at the result path is replaced, the file it points to left alone.
    writeFile(path("victim"), "precious");
    writeFile(path("job.json"), tqm::jobs::jobText(engine.layout.userData(), {}, {{"install", "synth", "vst3"}}));
    fs::create_symlink(path("victim"), path("result.txt"));
    EXPECT_EQ(tqm::applyJob(engine.layout, path("job.json"), path("result.txt"), catalog.publicKeyHex()), 0);
    EXPECT_EQ(readFile(path("victim")), "precious");
    EXPECT_FALSE(fs::is_symlink(path("result.txt")));
    EXPECT_EQ(readFile(path("result.txt")), "install synth vst3: ok\n");
    // A result path that cannot be made: status 1.
    fs::create_directories(path("dir/inner"));
    EXPECT_EQ(tqm::applyJob(engine.layout, path("job.json"), path("dir"), catalog.publicKeyHex()), 1);
}

// Each job is a new file of the user's alone, whatever stood at its name; after the prompt the
// helper runs only a regular file of the user who asked that no one else can change. The prompt
// here changes the job file the way another user could have before the helper starts.
TEST_F(ElevatedHelper, TheHelperRunsOnlyTheAskingUsersOwnJobFile) {
    const std::string job = jobs + "/job.json", refused = "job refused: " + job;
    ASSERT_TRUE(writeFile(job, "an older job"));
    ASSERT_EQ(::chmod(job.c_str(), 0666), 0);
    const std::string changed = refused + " can be changed by other users", odd = refused + " is not a regular file";
    const struct {
        std::string change, line;  // shell words run on the job file ($0) before the helper; the one result
    } cases[] = {
        {"true", "install synth vst3: ok"},
        {"chmod 0602 \"$0\"", changed},
        {"chmod 0620 \"$0\"", changed},
        {"chown 65534 \"$0\"", refused + " belongs to another user"},
        {"export PKEXEC_UID=65534", refused + " belongs to another user"},
        {"chown 65534 \"$0\" && export PKEXEC_UID=65534", "install synth vst3: ok"},
        {"mv \"$0\" \"$0.real\" && ln -s \"$0.real\" \"$0\"", odd},
        {"rm \"$0\" && mkfifo \"$0\"", odd},
    };
    std::vector<std::string> skipped;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        if (c.change.rfind("chown", 0) == 0 && ::geteuid() != 0) {
            skipped.push_back(c.change);
            continue;
        }
        fs::remove(job + ".real");
        const bool ok = elevated({{"install", "synth", "vst3"}},
                                 {"/bin/sh", "-c", "[ \"$(stat -c %a \"$0\")\" = 600 ] && " + c.change + " && exec \"$@\"", job});
        EXPECT_EQ(ok, c.line.find(": ok") != std::string::npos) << error;
        EXPECT_EQ(results, std::vector<std::string>{c.line});
        EXPECT_EQ(exists(vst3() + "/Synth.vst3"), ok);
        fs::remove_all(vst3() + "/Synth.vst3");
    }
    if (!skipped.empty())
        GTEST_SKIP() << "needs root to give the job file away: " << ::testing::PrintToString(skipped);
}

// A link planted at prompt.txt is never written through (nor emptied), and a pipe there is not
// waited on: the job stops before the prompt, and the file the link names keeps its bytes.
TEST_F(ElevatedHelper, APlantedPromptLinkIsNotWrittenThrough) {
    struct Case {
        const char* what;
        std::function<void(const std::string& victim, const std::string& at)> plant;
    } cases[] = {
        {"symbolic link", [](const std::string& v, const std::string& at) { fs::create_symlink(v, at); }},
        {"hard link", [](const std::string& v, const std::string& at) { fs::create_hard_link(v, at); }},
        // A pipe nobody reads would hold the manager in its open for ever.
        {"pipe", [](const std::string&, const std::string& at) { ::mkfifo(at.c_str(), 0600); }},
    };
    fs::create_directories(jobs);
    for (const Case& c : cases) {
        const std::string victim = path(std::string("victim ") + c.what);
        ASSERT_TRUE(writeFile(victim, "precious"));
        fs::remove(jobs + "/prompt.txt");
        c.plant(victim, jobs + "/prompt.txt");
        EXPECT_FALSE(elevated({{"install", "synth", "vst3"}}, {"/bin/sh", "-c", "echo written >&2; exit 127", "p"}))
            << c.what;
        EXPECT_EQ(error, "cannot start the elevated helper: cannot write " + jobs + "/prompt.txt") << c.what;
        EXPECT_EQ(readFile(victim), "precious") << c.what;
    }
    EXPECT_FALSE(exists(vst3() + "/Synth.vst3"));
}

// A helper that finds another job running on the data folder, or the receipt's lock held by
// another, says that it waits; the manager may then stop it, and it ends without changing anything,
// or let it wait, and it runs once the other has let go. A job that runs sweeps before it begins (a
// dead writer's staging folder goes) and sets the modes of what it makes whatever umask its caller
// had: no other account may write there.
TEST_F(ElevatedHelper, TheHelperSaysItWaitsAndMayBeStopped) {
    const std::string receipt = engine.layout.receiptFile(), dead = vst3() + "/.tqm-staging-0000dead";
    const std::string jobLock = engine.layout.userData() + "/job.lock",
                      jobWait = "Waiting for another copy of the manager to finish its job";
    const struct {
        std::string lock;
        bool stop;
        std::string why;
    } cases[] = {{jobLock, true, jobWait},
                 {jobLock, false, jobWait},
                 {receipt + ".lock", false, "Waiting for another copy of the manager to finish writing installed.json"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lock + (c.stop ? ": stopped" : ": waited"));
        fs::remove_all(vst3() + "/Synth.vst3");
        fs::remove(receipt);
        fs::create_directories(dead);
        std::optional<tqm::FileLock> other;
        other.emplace(c.lock, std::chrono::milliseconds(0));
        ASSERT_TRUE(other->held());
        std::vector<std::string> heard;
        std::atomic<bool> said{false}, begun{false};
        tqm::HelperWatch watch;
        watch.waiting = [&](const std::string& why) {
            if (heard.empty() || heard.back() != why) heard.push_back(why);
            said = true;
            return !c.stop;
        };
        watch.begun = [&] { begun = true; };
        const mode_t was = ::umask(0);
        auto job = std::async(std::launch::async,
                              [&] { return elevated({{"install", "synth", "vst3"}}, {}, tqm::runningProgram(), watch); });
        // The other job ends once the helper has said that it waits (stopped: once it has ended).
        EXPECT_TRUE(awaitTrue([&] {
            return c.stop ? job.wait_for(std::chrono::seconds(0)) == std::future_status::ready : said.load();
        }));
        other.reset();
        EXPECT_EQ(job.get(), !c.stop) << error;
        ::umask(was);
        EXPECT_EQ(heard, std::vector<std::string>{c.why});
        EXPECT_EQ(begun, !c.stop);
        EXPECT_EQ(results, std::vector<std::string>{c.stop ? "no job: another copy of the manager is running a job on " +
                                                                 engine.layout.userData() + ": try again when it ends"
                                                           : "install synth vst3: ok"});
        EXPECT_EQ(exists(vst3() + "/Synth.vst3"), !c.stop);
        if (c.stop) continue;
        EXPECT_FALSE(exists(dead)) << "the helper's job did not sweep";
        EXPECT_EQ(othersMayWrite(), std::vector<std::string>{});
    }
}

// After its manager's Stop the helper begins nothing, though the job lock is free.
TEST_F(ElevatedHelper, AfterAStopTheHelperBeginsNothing) {
    const std::string job = path("job.json"), result = path("job.result");
    ASSERT_TRUE(writeFile(job, tqm::jobs::jobText(engine.layout.userData(), {}, {{"install", "synth", "vst3"}})));
    int line[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, line), 0);
    ::close(line[0]);  // the manager stopped the job before the helper looked
    const pid_t helper = ::fork();
    if (helper == 0) {
        ::dup2(line[1], 0);
        ::_exit(tqm::applyJob(engine.layout, job, result, catalog.publicKeyHex()));
    }
    ::close(line[1]);
    ASSERT_EQ(::waitpid(helper, nullptr, 0), helper);
    EXPECT_EQ(readFile(result), "no job: stopped before it began\n");
    EXPECT_FALSE(exists(vst3() + "/Synth.vst3"));
}

int stopBeforeMoveIn(tqm::detail::RenameStep step) {
    if (step == tqm::detail::RenameStep::In) ::raise(SIGSTOP);
    return 0;
}

// Two jobs on one data folder, each in a helper of its own: the second waits for the first, which
// is stopped with its new copy staged, instead of sweeping that copy away; both then end whole.
TEST_F(ElevatedHelper, ASecondJobWaitsForTheFirstInsteadOfSweepingItsCopy) {
    const struct {
        const char* id;
        const char* format;
        std::string plist, marker;
    } jobs[] = {{"synth", "vst3", vst3() + "/Synth.vst3/Contents/Info.plist", "vst3 1.0.0"},
                {"studio", "app", appsDir() + "/Studio.app/Contents/Info.plist", "Studio 1.0.0"}};
    pid_t helpers[2];
    int line[2];  // their standard input, kept open here as the manager keeps it
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, line), 0);
    for (int i = 0; i < 2; ++i) {
        const std::string job = path("job" + std::to_string(i) + ".json");
        ASSERT_TRUE(writeFile(job, tqm::jobs::jobText(engine.layout.userData(), {}, {{"install", jobs[i].id, jobs[i].format}})));
        if ((helpers[i] = ::fork()) == 0) {
            ::dup2(line[1], 0);
            if (i == 0) tqm::detail::renameFault = stopBeforeMoveIn;
            ::_exit(tqm::applyJob(engine.layout, job, job + ".result", catalog.publicKeyHex()));
        }
        ProcessStat st;
        if (i == 0) {
            ASSERT_TRUE(awaitTrue([&] { return processStat(helpers[0], st) && st.state == 'T'; }));
        }
    }
    // The second has either ended or is waiting for the first's lock.
    int status[2] = {0, 0};
    bool done[2] = {false, false};
    ASSERT_TRUE(awaitTrue([&] {
        return (done[1] = ended(helpers[1], status[1])) || holdsOpen(helpers[1], engine.layout.userData() + "/job.lock");
    }));
    ::kill(helpers[0], SIGCONT);
    for (int i = 0; i < 2; ++i) {
        if (!done[i]) {
            ASSERT_EQ(::waitpid(helpers[i], &status[i], 0), helpers[i]);
        }
        EXPECT_TRUE(WIFEXITED(status[i]) && WEXITSTATUS(status[i]) == 0)
            << jobs[i].id << ": " << readFile(path("job" + std::to_string(i) + ".json.result"));
        EXPECT_EQ(readFile(jobs[i].plist), jobs[i].marker);
    }
    ::close(line[0]);
    ::close(line[1]);
}

// The helper waits for another job's lock only while its standard input is open: it gives the wait
// up once the manager closes its end of the socket, whatever it wrote there first, or once a pipe's
// writer goes; a file or no standard input at all could stop nothing, and it does not wait there.
// Without the manager's socket it says on standard error what it waits for. Once begun, a helper
// waits out a receipt's lock, whether nothing can stop it or its manager's line has ended.
TEST_F(ElevatedHelper, TheHelperWaitsOnlyWhileItsStandardInputIsOpen) {
    const std::string why = "Waiting for another copy of the manager to finish its job",
                      receiptWhy = "Waiting for another copy of the manager to finish writing installed.json\n";
    enum class In { Socket, Pipe, File, Nothing };
    const struct {
        const char* what;
        In in;
        bool begun;  // the job lock free, a receipt's held
    } cases[] = {{"a socket written to, then closed", In::Socket, false},
                 {"a pipe written to, then closed", In::Pipe, false}, {"a file", In::File, false},
                 {"nothing", In::Nothing, false}, {"a file, begun", In::File, true},
                 {"a socket closed once begun", In::Socket, true}};
    const std::string job = path("job.json"), result = path("job.result"), said = path("stderr.txt");
    ASSERT_TRUE(writeFile(job, tqm::jobs::jobText(engine.layout.userData(), {}, {{"install", "synth", "vst3"}})));
    ASSERT_TRUE(writeFile(path("input.txt"), "some input\n"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<tqm::FileLock> other;
        other.emplace(c.begun ? engine.layout.receiptFile() + ".lock" : engine.layout.userData() + "/job.lock",
                      std::chrono::milliseconds(0));
        ASSERT_TRUE(other->held());
        int ends[2] = {-1, -1};  // the helper's standard input and the test's end of it
        if (c.in == In::Socket) ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        else if (c.in == In::Pipe) ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        else if (c.in == In::File) ends[0] = ::open(path("input.txt").c_str(), O_RDONLY | O_CLOEXEC);
        ::unlink(said.c_str());
        const int mine = c.in == In::Socket ? ends[0] : ends[1];
        const pid_t helper = ::fork();
        if (helper == 0) {
            other.reset();  // the child's copy; the parent's still holds the lock
            ::close(0);
            if (ends[0] >= 0) ::dup2(c.in == In::Socket ? ends[1] : ends[0], 0);
            if (mine >= 0) ::close(mine);
            const int err = ::open(said.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            ::dup2(err, 2);
            ::_exit(tqm::applyJob(engine.layout, job, result, catalog.publicKeyHex()));
        }
        if (c.in == In::Socket || c.in == In::Pipe) {
            // It says that it waits: on the socket in the manager's words, else on standard error.
            std::string heard;
            const std::string want =
                c.in != In::Socket ? why + "\n"
                : c.begun ? tqm::jobs::helperLine(tqm::jobs::HelperSays::Begun) +
                                tqm::jobs::helperLine(tqm::jobs::HelperSays::Wait,
                                                      receiptWhy.substr(0, receiptWhy.size() - 1))
                          : tqm::jobs::helperLine(tqm::jobs::HelperSays::Wait, why);
            ASSERT_TRUE(awaitTrue([&] {
                char buf[256];
                const ssize_t n = c.in == In::Socket ? ::recv(mine, buf, sizeof buf, MSG_DONTWAIT) : 0;
                if (n > 0) heard.append(buf, size_t(n));
                return c.in == In::Socket ? heard == want : readFile(said) == want;
            }));
            ASSERT_EQ(::write(mine, "x", 1), 1);
            ::close(mine);
            ::close(c.in == In::Socket ? ends[1] : ends[0]);
        } else if (ends[0] >= 0) {
            ::close(ends[0]);
        }
        int status = 0;
        bool done = false;
        if (c.begun) {
            EXPECT_TRUE(c.in == In::Socket ||  // the socket heard it
                        awaitTrue([&] { return readFile(said) == receiptWhy || (done = ended(helper, status)); }));
            other.reset();
        }
        done = done || awaitTrue([&] { return ended(helper, status); });
        if (!done) {
            ::kill(helper, SIGKILL);
            ::waitpid(helper, &status, 0);
        }
        EXPECT_TRUE(done) << "the helper went on waiting";
        EXPECT_EQ(readFile(result), c.begun ? "install synth vst3: ok\n"
                                            : "no job: another copy of the manager is running a job on " +
                                                  engine.layout.userData() + ": try again when it ends\n");
        EXPECT_EQ(readFile(said), c.in == In::Pipe ? why + "\n" : c.begun && c.in != In::Socket ? receiptWhy : "");
        EXPECT_EQ(exists(vst3() + "/Synth.vst3"), c.begun);
    }
}

}  // namespace
