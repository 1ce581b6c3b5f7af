#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/file.h>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/load.h"
#include "tests/support/http_server.h"
#include "tests/support/lock_holder.h"
#include "tests/support/temp_home.h"
#include "tools/catalog_signing.h"

namespace {

using testsupport::exists;
using testsupport::readFile;
using testsupport::writeFile;

const char* const kNoMatch = "the catalog's signature does not match (changed after signing, or signed by another key)";

class LoadCatalog : public testsupport::TempHomeTest {
protected:
    catalogsign::KeyPair key = catalogsign::makeKeyPair();
    std::string keys = catalogsign::toHex(key.publicKey);

    static std::string catalogText(int64_t sequence) {
        return "{\"schema\": 1, \"sequence\": " + std::to_string(sequence) + ", \"plugins\": []}\n";
    }
    // Publishes a signed catalog of this sequence into the source folder.
    std::string publish(int64_t sequence) {
        const std::string text = catalogText(sequence);
        writeFile(path("src/catalog.json"), text);
        writeFile(path("src/catalog.json.sig"), catalogsign::signBase64(key.secretKey, text) + "\n");
        return text;
    }
    tqm::LoadedCatalog load(bool offline = false) {
        return tqm::loadCatalog(tqm::Source(path("src")), keys, path("data"), offline);
    }
    std::string state() const { return readFile(path("data/state.json")); }
    void raceTwoLoaders(uid_t uid);
};

TEST_F(LoadCatalog, FreshLoadCachesAndRecordsTheSequence) {
    const std::string text = publish(42);
    const tqm::LoadedCatalog r = load();
    ASSERT_TRUE(r.ok) << r.note;
    EXPECT_FALSE(r.fromCache);
    EXPECT_EQ(r.note, "");
    EXPECT_EQ(r.text, text);
    EXPECT_EQ(r.catalog.sequence, 42);
    EXPECT_EQ(readFile(path("data/cache/catalog.json")), text);
    EXPECT_EQ(readFile(path("data/cache/catalog.json.sig")), readFile(path("src/catalog.json.sig")));
    EXPECT_EQ(state(), "{\"max_sequence\": 42}\n");
    // Only these files (the lock serialises loaders of this folder): no temporary left behind.
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(path("data")))
        if (e.is_regular_file()) files.push_back(std::filesystem::relative(e.path(), path("data")).string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"cache/catalog.json", "cache/catalog.json.sig", "state.json",
                                               "state.lock"}));
}

TEST_F(LoadCatalog, SequenceZeroWritesNoState) {
    publish(0);
    EXPECT_TRUE(load().ok);
    EXPECT_FALSE(exists(path("data/state.json")));
    EXPECT_TRUE(exists(path("data/cache/catalog.json")));
}

TEST_F(LoadCatalog, EqualSequenceIsRecachedWithoutRewritingState) {
    writeFile(path("data/state.json"), "{\"max_sequence\":42}");  // written by hand: kept as it is
    const std::string text = publish(42);
    const tqm::LoadedCatalog r = load();
    EXPECT_TRUE(r.ok && !r.fromCache) << r.note;
    EXPECT_EQ(readFile(path("data/cache/catalog.json")), text);
    EXPECT_EQ(state(), "{\"max_sequence\":42}");
}

// A load that fetches the very pair the cache holds leaves the cached files as they are (not
// rewritten); any difference in either file, or one missing, has the pair written anew.
TEST_F(LoadCatalog, TheCachedPairIsRewrittenOnlyWhenItDiffers) {
    const std::string json = path("data/cache/catalog.json"), sig = json + ".sig";
    const auto inodes = [&] {
        struct stat a {}, b {};
        return std::make_pair(::stat(json.c_str(), &a) == 0 ? a.st_ino : 0, ::stat(sig.c_str(), &b) == 0 ? b.st_ino : 0);
    };
    const struct {
        const char* what;
        std::function<void()> change;
        bool rewritten;
    } table[] = {
        {"the same pair", [] {}, false},
        {"another text of the same size", [&] { writeFile(json, readFile(json).substr(1) + " "); }, true},
        {"another signature", [&] { writeFile(sig, "x\n"); }, true},
        {"the text and more", [&] { writeFile(json, readFile(json) + " "); }, true},
        {"no cached text", [&] { std::filesystem::remove(json); }, true},
        {"no cached signature", [&] { std::filesystem::remove(sig); }, true},
    };
    const std::string text = publish(42);
    for (const auto& c : table) {
        ASSERT_TRUE(load().ok) << c.what;
        c.change();
        const auto before = inodes();
        const tqm::LoadedCatalog r = load();
        EXPECT_TRUE(r.ok && !r.fromCache) << c.what << ": " << r.note;
        EXPECT_EQ(readFile(json), text) << c.what;
        EXPECT_EQ(readFile(sig), readFile(path("src/catalog.json.sig"))) << c.what;
        EXPECT_EQ(inodes() != before, c.rewritten) << c.what;
    }
    EXPECT_EQ(state(), "{\"max_sequence\": 42}\n");
}

TEST_F(LoadCatalog, FallsBackToTheCache) {
    const std::string cached = publish(42);
    ASSERT_TRUE(load().ok);
    struct Case {
        const char* what;
        std::function<void()> change;
        bool offline;
        std::string note;
        bool refused;  // the source's pair arrived and was turned down
    };
    const std::vector<Case> table = {
        {"rollback", [&] { publish(41); }, false, "the catalog is older than one already seen (sequence 41 < 42)",
         true},
        {"offline", [] {}, true, "offline", false},
        {"bad signature", [&] { writeFile(path("src/catalog.json"), catalogText(43)); }, false, kNoMatch, true},
        {"missing signature", [&] { std::filesystem::remove(path("src/catalog.json.sig")); }, false,
         "cannot read " + path("src/catalog.json.sig"), false},
        {"not parsed",
         [&] {
             writeFile(path("src/catalog.json"), "{\"schema\": 3}");
             writeFile(path("src/catalog.json.sig"), catalogsign::signBase64(key.secretKey, "{\"schema\": 3}"));
         },
         false, "the catalog is schema 3 (this manager reads 1): update the manager", true},
    };
    for (const Case& c : table) {
        publish(42);
        c.change();
        const tqm::LoadedCatalog r = load(c.offline);
        EXPECT_TRUE(r.ok) << c.what;
        EXPECT_TRUE(r.fromCache) << c.what;
        EXPECT_EQ(r.note, c.note) << c.what;
        EXPECT_EQ(r.refused, c.refused) << c.what;
        EXPECT_EQ(r.text, cached) << c.what;
        EXPECT_EQ(r.catalog.sequence, 42) << c.what;
        EXPECT_EQ(state(), "{\"max_sequence\": 42}\n") << c.what;
    }
}

// A catalog server that stops sending half-way is left after the stall limit and the cached
// catalog is used, as for any failed fetch.
TEST_F(LoadCatalog, AStalledServerFallsBackToTheCache) {
    testsupport::LoopbackServer server;
    ASSERT_TRUE(server.ok());
    const std::string text = catalogText(42);
    server.serveFile("catalog.json", text);
    server.serveFile("catalog.json.sig", catalogsign::signBase64(key.secretKey, text));
    tqm::Source source(server.url());
    source.stallLimit = std::chrono::milliseconds(1000);
    ASSERT_TRUE(tqm::loadCatalog(source, keys, path("data"), false).ok);

    testsupport::LoopbackServer::Reply stalled;
    stalled.body = text.substr(0, 10);
    stalled.announce = int64_t(text.size());
    stalled.stall = true;
    server.serve("catalog.json", stalled);
    const tqm::LoadedCatalog r = tqm::loadCatalog(source, keys, path("data"), false);
    EXPECT_TRUE(r.ok && r.fromCache);
    EXPECT_EQ(r.note, "catalog.json: the server sent nothing for 1 s");
    EXPECT_EQ(r.text, text);
}

TEST_F(LoadCatalog, ReportsWhyNothingLoaded) {
    std::string note = tqm::loadCatalog(tqm::Source(), keys, path("data"), true).note;
    EXPECT_EQ(note, "offline; no cached catalog");
    note = tqm::loadCatalog(tqm::Source(), keys, path("data"), false).note;
    EXPECT_EQ(note, "no catalog source; no cached catalog");
    EXPECT_EQ(load().note, "cannot read " + path("src/catalog.json") + "; no cached catalog");

    publish(42);
    ASSERT_TRUE(load().ok);
    std::filesystem::remove(path("data/cache/catalog.json.sig"));
    tqm::LoadedCatalog r = load(true);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.note, "offline; the cached catalog failed too: ");
    EXPECT_TRUE(r.catalog.plugins.empty() && r.catalog.sequence == 0);

    ASSERT_TRUE(load().ok);
    std::string changed = readFile(path("data/cache/catalog.json"));
    changed.back() = ' ';
    writeFile(path("data/cache/catalog.json"), changed);
    EXPECT_EQ(load(true).note, std::string("offline; the cached catalog failed too: ") + kNoMatch);

    // The cache obeys the sequence record too.
    ASSERT_TRUE(load().ok);
    writeFile(path("data/state.json"), "{\"max_sequence\": 50}\n");
    r = load(true);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.note,
              "offline; the cached catalog failed too: the catalog is older than one already seen "
              "(sequence 42 < 50)");

    // A pipe planted in place of the cached signature is no file: it never blocks the loader.
    std::filesystem::remove(path("data/state.json"));
    ASSERT_TRUE(load().ok);
    std::filesystem::remove(path("data/cache/catalog.json.sig"));
    ASSERT_EQ(::mkfifo(path("data/cache/catalog.json.sig").c_str(), 0600), 0);
    EXPECT_EQ(load(true).note, "offline; the cached catalog failed too: ");
}

TEST_F(LoadCatalog, ConcurrentWritersLeaveWholeFiles) {
    // Several loaders accept catalogs of the same sequence into one data folder at once.
    std::vector<std::string> texts, sigs;
    for (int i = 0; i < 6; ++i) {
        texts.push_back("{\"schema\": 1, \"sequence\": 5, \"published\": \"" + std::string(2000 * (i + 1), 'a' + i) +
                        "\"}");
        sigs.push_back(catalogsign::signBase64(key.secretKey, texts.back()));
        writeFile(path("src" + std::to_string(i) + "/catalog.json"), texts.back());
        writeFile(path("src" + std::to_string(i) + "/catalog.json.sig"), sigs.back());
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < 20; ++round)
                tqm::loadCatalog(tqm::Source(path("src" + std::to_string(i))), keys, path("data"), false);
        });
    for (std::thread& t : threads) t.join();
    EXPECT_NE(std::find(texts.begin(), texts.end(), readFile(path("data/cache/catalog.json"))), texts.end());
    EXPECT_NE(std::find(sigs.begin(), sigs.end(), readFile(path("data/cache/catalog.json.sig"))), sigs.end());
    EXPECT_EQ(state(), "{\"max_sequence\": 5}\n");
    for (const auto& e : std::filesystem::directory_iterator(path("data/cache")))
        EXPECT_TRUE(e.path().filename() == "catalog.json" || e.path().filename() == "catalog.json.sig") << e.path();
}

// While this loader fetches catalog 5, another caches and records 6 in the same folder: this one's
// older catalog still loads, and leaves the cache holding 6, good for an offline load.
TEST_F(LoadCatalog, ANewerCatalogCachedMeanwhileStays) {
    publish(4);
    ASSERT_TRUE(load().ok);
    testsupport::LoopbackServer server;
    ASSERT_TRUE(server.ok());
    const std::string five = catalogText(5);
    server.serveFile("catalog.json", five);
    testsupport::LoopbackServer::Reply slow;  // the signature, a byte at a time
    slow.body = catalogsign::signBase64(key.secretKey, five);
    slow.chunk = 1;
    slow.pauseMs = 20;
    server.serve("catalog.json.sig", slow);
    auto older = std::async(std::launch::async, [&] { return tqm::loadCatalog(tqm::Source(server.url()), keys, path("data"), false); });
    // Once the signature is asked for, the other loader runs whole.
    auto asked = [&] {
        const std::vector<std::string> paths = server.paths();
        return std::find(paths.begin(), paths.end(), "catalog.json.sig") != paths.end();
    };
    for (int i = 0; i < 5000 && !asked(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(asked());
    const std::string six = publish(6);
    ASSERT_TRUE(load().ok);
    ASSERT_NE(older.wait_for(std::chrono::milliseconds(0)), std::future_status::ready) << "the race was not run";
    const tqm::LoadedCatalog r = older.get();
    EXPECT_TRUE(r.ok && !r.fromCache && r.catalog.sequence == 5) << r.note;
    EXPECT_EQ(state(), "{\"max_sequence\": 6}\n");
    EXPECT_EQ(readFile(path("data/cache/catalog.json")), six);
    const tqm::LoadedCatalog offline = load(true);
    EXPECT_TRUE(offline.ok) << offline.note;
    EXPECT_EQ(offline.catalog.sequence, 6);
}

// Two managers loading ever newer catalogs into one data folder at once (as the user uid when
// not -1): the recorded sequence never goes down. Each process reads the record before and after
// every load and fails when it ever reads less than it read before.
void LoadCatalog::raceTwoLoaders(uid_t uid) {
    const int kRounds = 300;
    std::vector<pid_t> children;
    for (int who = 0; who < 2; ++who) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (uid != uid_t(-1) && (::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(2);
            const std::string src = path("src" + std::to_string(who));
            int64_t highest = 0;
            bool lowered = false;
            auto look = [&] {
                const std::string text = readFile(path("data/state.json"));
                const std::string prefix = "{\"max_sequence\": ";
                if (text.rfind(prefix, 0) != 0) return;
                const int64_t now = std::stoll(text.substr(prefix.size()));
                lowered = lowered || now < highest;
                highest = std::max(highest, now);
            };
            for (int round = 1; round <= kRounds && !lowered; ++round) {
                const std::string text = catalogText(2 * round + who);
                writeFile(src + "/catalog.json", text);
                writeFile(src + "/catalog.json.sig", catalogsign::signBase64(key.secretKey, text));
                look();
                tqm::loadCatalog(tqm::Source(src), keys, path("data"), false);
                look();
            }
            ::_exit(lowered ? 1 : 0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the recorded sequence went down";
    }
    EXPECT_EQ(state(), "{\"max_sequence\": " + std::to_string(2 * kRounds + 1) + "}\n");
    const tqm::LoadedCatalog cached = load(true);
    EXPECT_TRUE(cached.ok) << cached.note;
    EXPECT_EQ(cached.catalog.sequence, 2 * kRounds + 1);
}

// A pipe in the lock file's place does not hold the loader (nobody ever writes into it).
TEST_F(LoadCatalog, APipeAtTheLockFileDoesNotHoldTheLoad) {
    std::filesystem::create_directories(path("data"));
    ASSERT_EQ(::mkfifo(path("data/state.lock").c_str(), 0644), 0);
    publish(42);
    EXPECT_TRUE(load().ok);
    EXPECT_EQ(state(), "{\"max_sequence\": 42}\n");
}

// Another account cannot hold the loader up through the lock file: the file is closed to it, and
// one that account opened while it still could (made open to all by an older manager) is replaced.
TEST_F(LoadCatalog, AnotherUsersLockNeverHoldsTheLoad) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const uid_t nobody = 65534;
    ASSERT_EQ(::chmod(temp.dir().c_str(), 0755), 0);
    publish(42);
    ASSERT_TRUE(load().ok);
    ASSERT_EQ(::chmod(path("data").c_str(), 0755), 0);
    const std::string lock = path("data/state.lock");
    for (const bool openToAll : {false, true}) {
        SCOPED_TRACE(openToAll ? "a lock file open to all" : "the lock file as the loader leaves it");
        ASSERT_EQ(openToAll ? ::chmod(lock.c_str(), 0644) : 0, 0);
        testsupport::LockHolder theirs(lock, nobody);
        EXPECT_EQ(theirs.took(), openToAll);
        tqm::detail::stateLockWait = std::chrono::milliseconds(300);
        const std::string text = publish(openToAll ? 44 : 43);
        auto loading = std::async(std::launch::async, [&] { return load(); });
        const bool ended = loading.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        theirs.release();  // lets a load still waiting go on
        const tqm::LoadedCatalog r = loading.get();
        tqm::detail::stateLockWait = std::chrono::milliseconds(5000);
        EXPECT_TRUE(ended) << "the load waited for another user's lock";
        EXPECT_TRUE(r.ok && r.text == text) << r.note;
        EXPECT_EQ(state(), "{\"max_sequence\": " + std::to_string(openToAll ? 44 : 43) + "}\n");
        struct stat st {};
        ASSERT_EQ(::stat(lock.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST_F(LoadCatalog, TwoProcessesNeverLowerTheRecordedSequence) { raceTwoLoaders(uid_t(-1)); }

// The same for a user whose data folder holds a lock file root made (the manager once run with
// sudo): the user cannot write to that file, and still takes its lock.
TEST_F(LoadCatalog, ALockFileOfRootsStillSerialisesTheUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make the lock file root's";
    const uid_t nobody = 65534;
    ASSERT_TRUE(writeFile(path("data/state.lock"), ""));
    ASSERT_EQ(::chmod(path("data/state.lock").c_str(), 0644), 0);
    for (const std::string& own : {path("data"), path("src0"), path("src1")}) {
        std::filesystem::create_directories(own);
        ASSERT_EQ(::chown(own.c_str(), nobody, nobody), 0);
    }
    // The test's own folder (made owner-only) must let the user through.
    ASSERT_EQ(::chmod(temp.dir().c_str(), 0755), 0);
    raceTwoLoaders(nobody);
}

}  // namespace
