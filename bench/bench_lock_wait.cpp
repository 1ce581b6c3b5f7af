// A wait for a lock another process holds, as the wake-ups it costs: a thread waits for the job
// lock through tqm::FileLock while the holder keeps it for one second, against the peer measured
// in the same run, a thread blocked in a plain flock(LOCK_EX) on the same file for the same second.
// Counters: wakeups_per_s (the waiter's voluntary context switches a second of waiting),
// peer_wakeups_per_s, x_peer (their ratio), and taken_ms / peer_taken_ms (from the holder's
// release to the lock taken). Each iteration is one second of waiting.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "engine/file_lock.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kHeld = std::chrono::seconds(1);

long wakeUps() {
    rusage r {};
    ::getrusage(RUSAGE_THREAD, &r);
    return r.ru_nvcsw;
}

struct Waited {
    long wakeUps = 0;
    double takenMs = 0;
};

// Holds the lock file for kHeld while waiter waits on its own thread; what the wait cost it.
Waited holdWhile(const std::string& lock, const std::function<void()>& waiter) {
    const int held = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    if (held < 0 || ::flock(held, LOCK_EX) != 0) std::abort();
    Waited out;
    Clock::time_point released, taken;
    std::thread t([&] {
        const long before = wakeUps();
        waiter();
        taken = Clock::now();
        out.wakeUps = wakeUps() - before;
    });
    std::this_thread::sleep_for(kHeld);
    released = Clock::now();
    ::close(held);
    t.join();
    out.takenMs = std::chrono::duration<double, std::milli>(taken - released).count();
    return out;
}

void JobLockWait(benchmark::State& state) {
    support::TempDir dir("tqm-bench-lock");
    const std::string lock = dir.path() + "/job.lock";
    { const tqm::FileLock made(lock, std::chrono::milliseconds(0)); }  // an owner-only lock file
    Waited mine, peer;
    for (auto _ : state) {
        const Waited w = holdWhile(lock, [&] {
            const tqm::FileLock l(lock, std::chrono::seconds(30));
            if (!l.held()) std::abort();
        });
        mine.wakeUps += w.wakeUps;
        mine.takenMs = std::max(mine.takenMs, w.takenMs);
    }
    const double seconds = double(state.iterations()) * std::chrono::duration<double>(kHeld).count();
    for (int64_t i = 0; i < state.iterations(); ++i) {
        const Waited w = holdWhile(lock, [&] {
            const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::flock(fd, LOCK_EX) != 0) std::abort();
            ::close(fd);
        });
        peer.wakeUps += w.wakeUps;
        peer.takenMs = std::max(peer.takenMs, w.takenMs);
    }
    state.counters["wakeups_per_s"] = double(mine.wakeUps) / seconds;
    state.counters["peer_wakeups_per_s"] = double(peer.wakeUps) / seconds;
    state.counters["x_peer"] = double(mine.wakeUps) / double(std::max(peer.wakeUps, 1L));
    state.counters["taken_ms"] = mine.takenMs;
    state.counters["peer_taken_ms"] = peer.takenMs;
}

}  // namespace

BENCHMARK(JobLockWait)->Iterations(3)->Unit(benchmark::kMillisecond);
