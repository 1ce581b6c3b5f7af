// Several copies of the manager on one data folder, for real: engines in processes of their own
// install, update and remove in a loop, one of them killed at random moments and one stopped for
// longer than any wait, while a third copy starts over and over. Each job, once it holds the job
// lock and has swept, checks that every record agrees with the disk and every recorded copy is
// whole; so does the end.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <random>
#include <thread>

#include "engine/atomic_write.h"
#include "engine/jobs.h"
#include "tests/support/job_fixture.h"
#include "tests/support/processes.h"

using namespace testsupport;
using Clock = std::chrono::steady_clock;

namespace {

struct Item {
    const char *id, *format, *item, *exe, *marker;  // marker: the Info.plist text before the version
};
const Item kItems[] = {{"synth", "vst3", "Synth.vst3", "Synth", "vst3 "},
                       {"synth", "clap", "Synth.clap", "Synth", "clap "},
                       {"studio", "app", "Studio.app", "Studio", "Studio "},
                       {"tuner", "app", "Tuner.app", "Tuner", "Tuner "}};

// Every wait of a worker's job (the job lock, a receipt) gives up after this.
constexpr auto kWait = std::chrono::milliseconds(1000);

struct Figures {
    long tasks = 0, ok = 0, gaveUp = 0, mismatches = 0;
};

class SharedFolder : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        versions[0] = loaded;
        publish("2.0.0", 2);
        versions[1] = loaded;
    }

    const tqm::InstalledFormat* record(const tqm::Engine& e, const Item& it) const {
        const tqm::Receipt& r = std::string(it.format) == "app" ? e.apps : e.receipt;
        const auto product = r.plugins.find(it.id);
        if (product == r.plugins.end()) return nullptr;
        const auto f = product->second.formats.find(it.format);
        return f == product->second.formats.end() ? nullptr : &f->second;
    }

    // How many items the receipts and the disk disagree on; each is said on standard error.
    long disagreements(const tqm::Engine& e) const {
        long count = 0;
        for (const Item& it : kItems) {
            const std::string dir = e.layout.formatDir(it.format) + "/" + it.item;
            const tqm::InstalledFormat* rec = record(e, it);
            const bool there = exists(dir);
            const char* wrong = !rec ? (there ? "on disk without a record" : nullptr)
                                : !there ? "recorded without its copy"
                                : readFile(dir + "/Contents/Info.plist") != it.marker + rec->version ||
                                        !exists(dir + "/Contents/MacOS/" + it.exe)
                                    ? "recorded but not whole"
                                    : nullptr;
            if (wrong) std::cerr << getpid() << ": " << it.item << " " << wrong << "\n";
            count += wrong != nullptr;
        }
        return count;
    }

    // One copy's jobs, until killed: each takes the job lock, sweeps, checks, and runs one task
    // (an install or update of either version, or a removal). Figures go to file after each job.
    [[noreturn]] void jobs(const std::string& file, unsigned seed) {
        std::mt19937 random(seed);
        Figures f;
        for (;;) {
            tqm::Engine e;
            e.layout = engine.layout;
            e.source = &source;
            e.catalog = &versions[random() % 2].catalog;
            e.waiting = [until = Clock::now() + kWait](const std::string&) { return Clock::now() < until; };
            const tqm::JobLock lock(e, e.layout.userData());
            std::string error;
            if (!lock.held() || !e.loadReceipt(error)) {
                ++f.gaveUp;
            } else {
                e.sweep();
                f.mismatches += disagreements(e);
                const Item& it = kItems[random() % 4];
                const bool removal = record(e, it) && random() % 2;
                ++f.tasks;
                if (tqm::runTask(e, {removal ? "remove" : "install", it.id, it.format}, nullptr, error)) ++f.ok;
            }
            const std::string text = std::to_string(f.tasks) + " " + std::to_string(f.ok) + " " +
                                     std::to_string(f.gaveUp) + " " + std::to_string(f.mismatches);
            tqm::writeFileAtomic(file, text, 0644, false, error);
        }
    }

    // A copy that starts over and over: the start's sweep records or drops what notes say.
    [[noreturn]] void starts() {
        for (;;) {
            tqm::Engine e;
            e.layout = engine.layout;
            e.startSweep();
        }
    }

    pid_t spawn(const std::function<void()>& body) {
        const pid_t pid = fork();
        if (pid == 0) {
            body();
            _exit(0);
        }
        return pid;
    }

    tqm::LoadedCatalog versions[2];
};

TEST_F(SharedFolder, JobsOfSeveralCopiesKilledAndStoppedKeepRecordsAndDiskInStep) {
    int incarnations = 0;
    const auto figuresFile = [&](int n) { return path("figures-" + std::to_string(n)); };
    const auto startKilled = [&] {
        const int n = incarnations++;
        return spawn([&, n] { jobs(figuresFile(n), 1000u + unsigned(n)); });
    };
    pid_t killed = startKilled();
    const pid_t stopped = spawn([&] { jobs(figuresFile(incarnations), 7u); });
    ++incarnations;
    const pid_t starter = spawn([&] { starts(); });
    const std::string jobLock = engine.layout.userData() + "/job.lock";

    std::mt19937 random(20261208);
    int kills = 0, killsAtTheLock = 0, stops = 0;
    const auto end = Clock::now() + std::chrono::seconds(8);
    auto nextStop = Clock::now() + std::chrono::milliseconds(1500), stoppedUntil = Clock::time_point();
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 200));
        if (stoppedUntil == Clock::time_point() && Clock::now() >= nextStop) {
            ::kill(stopped, SIGSTOP);
            stoppedUntil = Clock::now() + kWait * 3 / 2;  // longer than any wait
            ++stops;
        } else if (stoppedUntil != Clock::time_point() && Clock::now() >= stoppedUntil) {
            ::kill(stopped, SIGCONT);
            stoppedUntil = Clock::time_point();
            nextStop = Clock::now() + std::chrono::milliseconds(1500);
        }
        killsAtTheLock += holdsOpen(killed, jobLock);
        ::kill(killed, SIGKILL);
        ASSERT_EQ(waitpid(killed, nullptr, 0), killed);
        ++kills;
        killed = startKilled();
    }
    for (const pid_t pid : {killed, stopped, starter}) {
        ::kill(pid, SIGKILL);
        ::kill(pid, SIGCONT);
        ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
    }

    // The next start and the next job's sweep, then the last look.
    tqm::Engine last;
    last.layout = engine.layout;
    last.startSweep();
    const tqm::JobLock lock(last, last.layout.userData());
    std::string error;
    ASSERT_TRUE(lock.held()) << lock.error();
    ASSERT_TRUE(last.loadReceipt(error)) << error;
    last.sweep();
    Figures sum;
    for (int n = 0; n < incarnations; ++n) {
        Figures f;
        std::istringstream(readFile(figuresFile(n))) >> f.tasks >> f.ok >> f.gaveUp >> f.mismatches;
        sum.tasks += f.tasks, sum.ok += f.ok, sum.gaveUp += f.gaveUp, sum.mismatches += f.mismatches;
    }
    const long atEnd = disagreements(last);
    std::cout << "tasks " << sum.tasks << ", ok " << sum.ok << ", waits given up " << sum.gaveUp << ", kills " << kills
              << " (" << killsAtTheLock << " with the job lock open), stops " << stops << ", mismatches "
              << sum.mismatches << " during and " << atEnd << " at the end\n";
    EXPECT_EQ(sum.mismatches, 0);
    EXPECT_EQ(atEnd, 0);
    EXPECT_GE(sum.tasks, 20);
    EXPECT_GE(stops, 2);
}

}  // namespace
