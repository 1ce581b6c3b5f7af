// The job file, the helper's command line and the result reading of the elevated road.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "engine/jobs.h"
#include "tests/support/temp_home.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

TEST(JobPieces, ShellQuoting) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"", "''"},
        {"plain", "'plain'"},
        {"it's", "'it'\\''s'"},
        {"a \"b\" \\c $d", "'a \"b\" \\c $d'"},
    };
    for (const Case& c : cases) EXPECT_EQ(tqm::jobs::shQuote(c.in), c.out) << c.in;
}

TEST(JobPieces, HelperCommand) {
    tqm::Layout user;
    EXPECT_EQ(tqm::jobs::helperCommand(user, "", "/opt/m/manager", "--tqm-apply", "/h/jobs/job.json",
                                       "/h/jobs/result.txt"),
              "HOME='' '/opt/m/manager' --scope user --tqm-apply --job '/h/jobs/job.json' --result "
              "'/h/jobs/result.txt'");

    tqm::Layout system;
    system.scope = tqm::Scope::System;
    system.root = "/r o'ot";
    EXPECT_EQ(tqm::jobs::helperCommand(system, "/home/a b", "/x/it's \"q\" \\ m", "--tqm-apply", "/j", "/r"),
              "HOME='/home/a b' '/x/it'\\''s \"q\" \\ m' --scope system --root '/r o'\\''ot' --tqm-apply "
              "--job '/j' --result '/r'");

    EXPECT_EQ(tqm::jobs::promptArgs(tqm::adminPrompt(), "cmd"),
              (std::vector<std::string>{"pkexec", "/bin/sh", "-c", "cmd"}));
    EXPECT_EQ(tqm::jobs::promptArgs({}, "cmd"), (std::vector<std::string>{"/bin/sh", "-c", "cmd"}));
}

TEST(JobPieces, JobFileText) {
    std::map<std::string, std::string> folders{{"vst3", "/v\"3"}, {"clap", "/c"}};
    std::vector<tqm::Task> tasks{{"install", "synth", "vst3"}, {"purge", "app\\1", "machine"}};
    EXPECT_EQ(tqm::jobs::jobText("/home/a/data", folders, tasks),
              "{\"user_data\": \"/home/a/data\", \"folders\": {\"clap\": \"/c\", \"vst3\": \"/v\\\"3\"}, "
              "\"tasks\": [{\"op\": \"install\", \"id\": \"synth\", \"format\": \"vst3\"}, "
              "{\"op\": \"purge\", \"id\": \"app\\\\1\", \"format\": \"machine\"}]}\n");
    EXPECT_EQ(tqm::jobs::jobText("/d", {}, {}), "{\"user_data\": \"/d\", \"folders\": {}, \"tasks\": []}\n");
}

TEST(JobPieces, ResultLines) {
    EXPECT_EQ(tqm::jobs::resultLines("a: ok\r\n\nb: bad\r\r\nc"),
              (std::vector<std::string>{"a: ok", "b: bad\r", "c"}));
    EXPECT_TRUE(tqm::jobs::resultLines("").empty());
    EXPECT_EQ(tqm::resultLine({"install", "synth", "vst3"}, true, "ignored"), "install synth vst3: ok");
    EXPECT_EQ(tqm::resultLine({"purge", "synth", "user"}, false, ""), "purge synth user: ");
}

TEST(JobPieces, HelperCommandLine) {
    using Words = std::vector<std::string>;
    struct Case {
        Words words;
        bool apply;
        tqm::Scope scope;
        std::string root, job, result;
    } cases[] = {
        {{"--tqm-apply", "--job", "/tmp/j", "--result", "/tmp/r"}, true, tqm::Scope::User, "", "/tmp/j", "/tmp/r"},
        {{"--scope", "machine", "--tqm-apply", "--job", "/j", "--result", "/r"}, true, tqm::Scope::System, "", "/j", "/r"},
        {{"--scope", "user", "--tqm-apply"}, true, tqm::Scope::User, "", "", ""},
        {{"--tqm-apply", "--scope"}, true, tqm::Scope::System, "", "", ""},
        // A switch's value is the next word, whatever it is.
        {{"--tqm-apply", "--job", "--result", "/tmp/r"}, true, tqm::Scope::User, "", "--result", ""},
        {{"--root", "/a", "x", "--root", "/b", "--TQM-APPLY", "--job", "/j"}, false, tqm::Scope::User, "/b", "/j", ""},
        {{"--tqm-apply", "--root"}, true, tqm::Scope::User, "", "", ""},
    };
    for (const Case& c : cases) {
        tqm::jobs::HelperArgs a = tqm::jobs::parseHelperArgs(c.words);
        std::string what = ::testing::PrintToString(c.words);
        EXPECT_EQ(a.apply, c.apply) << what;
        EXPECT_EQ(a.layout.scope, c.scope) << what;
        EXPECT_EQ(a.layout.root, c.root) << what;
        EXPECT_EQ(a.job, c.job) << what;
        EXPECT_EQ(a.result, c.result) << what;
    }
}

// runElevated with stand-ins for the helper (a shell script) and the prompt.
class ElevatedRoad : public testsupport::TempHomeTest {
protected:
    tqm::Layout layout;
    std::string jobs;
    void SetUp() override {
        layout.root = path("root");
        jobs = layout.userData() + "/jobs";
    }
    std::string script(const std::string& name, const std::string& body) {
        std::string p = path(name);
        writeFile(p, "#!/bin/sh\n" + body);
        ::chmod(p.c_str(), 0755);
        return p;
    }
};

TEST_F(ElevatedRoad, HelperOutcomes) {
    // The stand-in helper writes the given lines to the result file (the last word) and exits.
    struct Case {
        std::string lines;
        int status;
        bool ok;
        std::string error;
        size_t count;
    } cases[] = {
        {"remove a vst3: ok\\n", 0, true, "", 1},
        {"remove a vst3: ok\\ninstall b clap: the package is not a zip\\n", 1, false, "the package is not a zip", 2},
        {"remove a vst3: ok\\n", 1, false, "the elevated helper failed", 1},
        {"no catalog: offline; no cached catalog\\n", 1, false, "offline; no cached catalog", 1},
        {"ok\\n", 1, false, "ok", 1},
    };
    for (const Case& c : cases) {
        std::string helper = script("helper", "for w; do r=$w; done\nprintf '" + c.lines + "' > \"$r\"\nexit " +
                                                  std::to_string(c.status) + "\n");
        std::vector<std::string> results{"stale"};
        std::string error;
        EXPECT_EQ(tqm::runElevated(layout, {{"remove", "a", "vst3"}}, helper, "--tqm-apply", results, error, {}), c.ok)
            << c.lines;
        EXPECT_EQ(error, c.error) << c.lines;
        EXPECT_EQ(results.size(), c.count) << c.lines;
    }
}

TEST_F(ElevatedRoad, StaleFilesStopTheJob) {
    std::string helper = script("helper", "for w; do r=$w; done\necho 'install a vst3: ok' > \"$r\"\n");
    std::vector<std::string> results;
    std::string error;
    // An old result that cannot be deleted must not count as this job's.
    writeFile(jobs + "/result.txt/inner", "install a vst3: ok\n");
    EXPECT_FALSE(tqm::runElevated(layout, {{"install", "a", "vst3"}}, helper, "--tqm-apply", results, error, {}));
    EXPECT_EQ(error.rfind("cannot remove " + jobs + "/result.txt: ", 0), 0u) << error;
    fs::remove_all(jobs);
    // A job that cannot be written must not leave the helper running the previous one.
    fs::create_directories(jobs + "/job.json");
    EXPECT_FALSE(tqm::runElevated(layout, {{"install", "a", "vst3"}}, helper, "--tqm-apply", results, error, {}));
    EXPECT_EQ(error, "cannot write " + jobs + "/job.json");
    // A link planted there is replaced, never written through, and a pipe no one reads does not
    // hold the job: the job is a new file of this user's alone.
    for (const bool pipe : {false, true}) {
        fs::remove_all(jobs);
        fs::create_directories(jobs);
        if (pipe) {
            ASSERT_EQ(::mkfifo((jobs + "/job.json").c_str(), 0600), 0);
        } else {
            writeFile(path("target"), "a user's file");
            fs::create_symlink(path("target"), jobs + "/job.json");
        }
        auto run = std::async(std::launch::async, [&] {
            return tqm::runElevated(layout, {{"install", "a", "vst3"}}, helper, "--tqm-apply", results, error, {});
        });
        const bool ended = run.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        if (!ended) {  // lets the writer go on
            const int reader = ::open((jobs + "/job.json").c_str(), O_RDONLY);
            EXPECT_GE(reader, 0);
            run.wait();
            ::close(reader);
        }
        EXPECT_TRUE(ended) << "a pipe at job.json held the job";
        EXPECT_TRUE(run.get()) << error;
        struct stat st {};
        ASSERT_EQ(::lstat((jobs + "/job.json").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        if (!pipe) {
            EXPECT_EQ(readFile(path("target")), "a user's file");
        }
    }
    fs::remove_all(layout.userData());
    writeFile(layout.userData(), "a file where the data folder should be");
    EXPECT_FALSE(tqm::runElevated(layout, {{"install", "a", "vst3"}}, helper, "--tqm-apply", results, error, {}));
    EXPECT_EQ(error.rfind("cannot create " + jobs, 0), 0u) << error;
}

}  // namespace
