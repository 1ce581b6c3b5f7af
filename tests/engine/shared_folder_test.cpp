// Several copies of the manager on one data folder, for real: two copies run jobs in a loop (one
// killed at random moments, one stopped for longer than any wait) while a third starts over and
// over. Each job, once it holds the job lock and has swept, checks that every record agrees with
// the disk and every recorded copy is whole; so does the end.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
constexpr auto kWait = std::chrono::milliseconds(1000);  // every wait of a job gives up after this

class SharedFolder : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        versions[0] = loaded;
        publish("2.0.0", 2);
        versions[1] = loaded;
    }

    static const tqm::InstalledFormat* record(const tqm::Engine& e, const Item& it) {
        const auto& plugins = (std::string(it.format) == "app" ? e.apps : e.receipt).plugins;
        const auto product = plugins.find(it.id);
        if (product == plugins.end() || !product->second.formats.count(it.format)) return nullptr;
        return &product->second.formats.at(it.format);
    }

    // How many items the receipts and the disk disagree on.
    static long disagreements(const tqm::Engine& e) {
        long count = 0;
        for (const Item& it : kItems) {
            const std::string dir = e.layout.formatDir(it.format) + "/" + it.item;
            const tqm::InstalledFormat* rec = record(e, it);
            count += rec ? readFile(dir + "/Contents/Info.plist") != it.marker + rec->version ||
                               !exists(dir + "/Contents/MacOS/" + it.exe)
                         : exists(dir);
        }
        return count;
    }

    // One copy's jobs until killed: job lock, receipts, sweep, check, one install, update or
    // removal. Its figures (tasks, gave up, mismatches) go to file after each job.
    [[noreturn]] void jobs(const std::string& file, unsigned seed) {
        std::mt19937 random(seed);
        long tasks = 0, gaveUp = 0, mismatches = 0;
        for (std::string error;; error.clear()) {
            tqm::Engine e;
            e.layout = engine.layout;
            e.source = &source;
            e.catalog = &versions[random() % 2].catalog;
            e.waiting = [until = Clock::now() + kWait](const std::string&) { return Clock::now() < until; };
            const tqm::JobLock lock(e, e.layout.userData());
            if (lock.held() && e.loadReceipt(error)) {
                e.sweep();
                mismatches += disagreements(e);
                const Item& it = kItems[random() % 4];
                const bool removal = record(e, it) && random() % 2;
                tqm::runTask(e, {removal ? "remove" : "install", it.id, it.format}, nullptr, error);
                ++tasks;
            } else {
                ++gaveUp;
            }
            const std::string text =
                std::to_string(tasks) + " " + std::to_string(gaveUp) + " " + std::to_string(mismatches);
            tqm::writeFileAtomic(file, text, 0644, false, error);
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
    int copies = 0;
    const auto startCopy = [&] {
        const int n = copies++;
        return spawn([&, n] { jobs(path("figures-" + std::to_string(n)), 1000u + unsigned(n)); });
    };
    const pid_t stopped = startCopy(), starter = spawn([&] {
        for (;;) {
            tqm::Engine e;
            e.layout = engine.layout;
            e.startSweep();
        }
    });
    pid_t killed = startCopy();

    std::mt19937 random(20261208);
    int kills = 0, stops = 0;
    Clock::time_point resume{};
    for (const auto end = Clock::now() + std::chrono::seconds(8); Clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 200));
        if (resume == Clock::time_point() && Clock::now() >= end - std::chrono::seconds(6 - 2 * stops)) {
            ::kill(stopped, SIGSTOP);  // longer than any wait
            resume = Clock::now() + kWait * 3 / 2;
            ++stops;
        } else if (resume != Clock::time_point() && Clock::now() >= resume) {
            ::kill(stopped, SIGCONT);
            resume = {};
        }
        ::kill(killed, SIGKILL);
        ASSERT_EQ(waitpid(killed, nullptr, 0), killed);
        ++kills;
        killed = startCopy();
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
    ASSERT_TRUE(lock.held() && last.loadReceipt(error)) << lock.error() << error;
    last.sweep();
    long sum[3] = {0, 0, 0};  // tasks, waits given up, mismatches
    for (int n = 0; n < copies; ++n) {
        std::istringstream figures(readFile(path("figures-" + std::to_string(n))));
        for (long& s : sum) {
            long f = 0;
            figures >> f;
            s += f;
        }
    }
    std::cout << "tasks " << sum[0] << ", waits given up " << sum[1] << ", kills " << kills << ", stops " << stops
              << ", mismatches " << sum[2] << " during and " << disagreements(last) << " at the end\n";
    EXPECT_EQ(sum[2], 0);
    EXPECT_EQ(disagreements(last), 0);
    EXPECT_GE(sum[0], 20);
    EXPECT_GE(stops, 2);
}

}  // namespace
