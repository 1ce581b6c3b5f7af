#pragma once
// Jobs: a list of tasks run in this process (runTasks) or handed to a second copy of the
// manager's executable behind the administrator prompt (runElevated), which runs the job file
// with applyJob before anything else of the program starts.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/file_lock.h"
#include "engine/layout.h"
#include "engine/lock_waits.h"

namespace tqm {

struct Engine;
class Package;

// One unit of a job: "install" (also any unknown op), "remove", "purge" (format = "machine" or
// "user"), "self" (the manager's own update; only the op is looked at) or "record" (an install
// or removal of the item that is on disk but whose record failed: it is recorded, nothing else).
struct Task {
    std::string op;
    std::string id;
    std::string format;
};

// "op id format: ok", or the error text after ": ".
std::string resultLine(const Task& task, bool ok, const std::string& error);

// One job at a time changes the install folders and records of a data folder: a job holds
// "job.lock" in the data folder from its reading of the receipts and its sweep to its last task, in
// the manager and in the elevated helper alike. (What a live job has staged in an install folder is
// kept from every sweep, of any data folder, by its staging folder's own lock.) The lock is waited
// for as engine.waiting allows, at most kJobLockWait. The protocol: engine/install_folder.h.
class JobLock {
public:
    JobLock(const Engine& engine, const std::string& userData);
    bool held() const { return lock_.held(); }
    // Why it is not held, as a sentence for the user.
    std::string error() const;

private:
    std::string userData_;
    FileLock lock_;
};

// Runs one task in this process: true when it succeeded, false with error set. ready: the task's
// package as this job's download checked it ("install" and "self"), taken without a second
// check; null to fetch and check it here.
bool runTask(Engine& engine, const Task& task, const Package* ready, std::string& error);

// Runs every task in order; a failure never stops the following ones. Appends one result line
// per task. True when at least one task failed.
bool runTasks(Engine& engine, const std::vector<Task>& tasks, std::vector<std::string>& results);

// The words put in front of "/bin/sh -c <command>" to run the helper with administrator rights.
// A first word without a "/" is looked for in PATH when the helper is started.
const std::vector<std::string>& adminPrompt();

// What the manager hears from the elevated helper while it runs. The helper's standard input is a
// socket whose other end the manager keeps: the helper says there (jobs::helperLine) that it
// waits for another job's lock, and why, and that it has begun once it has the lock; it gives that
// wait up when the manager closes its end.
struct HelperWatch {
    // Asked with the sentence about every 50 ms while the helper waits for another job's lock, or
    // for another's sweep of a folder the job changes; false has the helper give up the job before
    // it changes anything. Once it has begun, told
    // each wait of the job itself (a receipt's lock), whose answer is not heard. May be empty.
    std::function<bool(const std::string&)> waiting;
    // Told once the helper holds the job lock: from then on it runs to its end. May be empty.
    std::function<void()> begun;
};

// Writes "job.json" in userData/"jobs", runs program with applySwitch through the prompt, waits
// for it and replaces results by the lines of "result.txt". True when the helper ran the whole
// job and exited with status 0; false with error set otherwise. Tests pass a prompt of their own
// (an empty list runs the command through a plain shell).
bool runElevated(const Layout& layout, const std::vector<Task>& tasks, const std::string& program,
                 const std::string& applySwitch, std::vector<std::string>& results, std::string& error,
                 const std::vector<std::string>& prompt = adminPrompt(), const HelperWatch& watch = {});

// Runs the job file as the elevated helper: reads the cached, verified catalog (keys), runs the
// tasks and writes one result line per task. Only a regular job file of the user who asked (the
// one the administrator prompt names in PKEXEC_UID, else this process's user) that no one else
// can change is run; otherwise the one line says why. Exit status: 0 all done, 1 otherwise.
int applyJob(const Layout& layout, const std::string& jobPath, const std::string& resultPath,
             const std::string& keys);

// The key list the elevated helper takes instead of the built-in one, or null. The engine's
// own definition is weak and answers null; a test program links one that names its test key.
const char* helperKeysOverride();
// The keys the elevated helper verifies the cached catalog with: the override's, else the built-in ones.
std::string helperKeys();

// The pieces of the elevated road, pure so they can be checked on their own.
namespace jobs {

// The job file's one line, ended by LF.
std::string jobText(const std::string& userData, const std::map<std::string, std::string>& folders,
                    const std::vector<Task>& tasks);

// A word for a POSIX shell: single quotes, each inner ' written as '\''.
std::string shQuote(const std::string& text);

// The shell command that starts the helper. home is the caller's HOME (empty when unset).
std::string helperCommand(const Layout& layout, const std::string& home, const std::string& program,
                          const std::string& applySwitch, const std::string& jobPath,
                          const std::string& resultPath);

// The prompt's argument vector: prompt words, then "/bin/sh", "-c" and the command.
std::vector<std::string> promptArgs(const std::vector<std::string>& prompt, const std::string& command);

// The helper's lines to the manager, one a line, ended by LF: "wait <sentence>" while it waits for
// another job's lock, "begun" once it holds it. helperLine makes one (a Wait or Begun line);
// heardLine reads one (without its LF): Wait with the sentence, Begun, or Other for any other text.
enum class HelperSays { Other, Wait, Begun };
std::string helperLine(HelperSays says, const std::string& why = {});
HelperSays heardLine(const std::string& line, std::string& why);

// Result-file text to lines: split at LF, one trailing CR dropped, empty lines dropped.
std::vector<std::string> resultLines(const std::string& text);

// What the helper's command line asks for.
struct HelperArgs {
    bool apply = false;  // "--tqm-apply" was given
    Layout layout;       // scope and root only
    std::string job;
    std::string result;
};

// Scans the words after the program name: every switch compared exactly, a switch's value is
// the next word whatever it is, later switches override earlier ones, other words are ignored.
HelperArgs parseHelperArgs(const std::vector<std::string>& words);

// The exit status of the helper for a parsed command line: 2 without a job or result path,
// otherwise applyJob's.
int runHelper(const HelperArgs& args, const std::string& keys);

}  // namespace jobs

}  // namespace tqm
