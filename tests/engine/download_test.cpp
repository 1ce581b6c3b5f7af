#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/package_cache.h"
#include "engine/source.h"
#include "engine/util.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_home.h"

using namespace testsupport;

namespace {

class DownloadTest : public TempHomeTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok());
        source = tqm::Source(server.url());
        engine.layout.root = path("root");
        engine.source = &source;
        engine.log = [this](const std::string& line) { logLines.push_back(line); };
        entry.id = "vendor.echo";
        entry.name = "Echo Box";
        entry.version = "1.2.0";
    }

    // Serves body at path and lists it in the entry under format with the given catalog size.
    void offer(const std::string& format, const std::string& pkgPath, const std::string& body, uint64_t size) {
        server.serveFile(pkgPath, body);
        tqm::FileRef& ref = entry.packages[format]["mac"];
        ref.path = pkgPath;
        ref.size = size;
        ref.sha256 = tqm::sha256Hex(body.data(), body.size());
        ref.item = "Echo Box.vst3";
    }

    std::string cacheFile(const std::string& name) const { return engine.layout.userData() + "/cache/packages/" + name; }

    size_t requests() const { return server.paths().size(); }

    LoopbackServer server;
    tqm::Source source;
    tqm::Engine engine;
    tqm::Plugin entry;
    std::vector<std::string> logLines;
};

TEST_F(DownloadTest, DownloadsChecksAndCaches) {
    const std::string body(5000, 'p');
    offer("vst3", "plugins/echo/Echo-1.2.zip", body, body.size());
    std::string data, error;
    ASSERT_TRUE(engine.download(entry, "vst3", data, error, {})) << error;
    EXPECT_EQ(data, body);
    EXPECT_EQ(logLines, std::vector<std::string>{"download plugins/echo/Echo-1.2.zip"});
    EXPECT_EQ(readFile(cacheFile("Echo-1.2.zip")), body);

    // The second time comes from the cache: no transfer, no log line, one progress call.
    logLines.clear();
    const size_t before = requests();
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    auto progress = [&](uint64_t done, uint64_t total) {
        calls.emplace_back(done, total);
        return false;  // ignored for a cached copy
    };
    ASSERT_TRUE(engine.download(entry, "vst3", data, error, progress)) << error;
    EXPECT_EQ(data, body);
    EXPECT_EQ(requests(), before);
    EXPECT_TRUE(logLines.empty());
    EXPECT_EQ(calls, (std::vector<std::pair<uint64_t, uint64_t>>{{body.size(), body.size()}}));
}

// The download and the elevated helper find a package in the same cache slot, also for a path that
// ends in "/" (once cached nowhere, and looked for by the helper under "packages/").
TEST_F(DownloadTest, CacheSlotIsTheLastNameOfThePath) {
    const struct {
        const char *path, *slot;
    } table[] = {
        {"plugins/echo/Echo-1.2.zip", "Echo-1.2.zip"},
        {"plugins/echo/Echo.vst3/", "Echo.vst3"},
        {"Echo.zip", "Echo.zip"},
    };
    for (const auto& row : table) {
        const std::string body = std::string("package at ") + row.path;
        offer("vst3", row.path, body, body.size());
        std::string data, error;
        ASSERT_TRUE(engine.download(entry, "vst3", data, error, {})) << row.path << ": " << error;
        EXPECT_EQ(readFile(cacheFile(row.slot)), body) << row.path;
        EXPECT_EQ(tqm::detail::packageCacheFile(engine.layout.userData(), entry.packages["vst3"]["mac"]),
                  cacheFile(row.slot))
            << row.path;
        const size_t before = requests();
        ASSERT_TRUE(engine.download(entry, "vst3", data, error, {})) << row.path << ": " << error;
        EXPECT_EQ(requests(), before) << row.path << " came from the server again";
    }
}

TEST_F(DownloadTest, DamagedCacheIsNotUsed) {
    const std::string body(3000, 'g');
    offer("vst3", "plugins/Echo.zip", body, body.size());
    for (const std::string& damaged : {std::string(3000, 'b'), body.substr(0, 2999)}) {
        ASSERT_TRUE(writeFile(cacheFile("Echo.zip"), damaged));
        std::string data, error;
        engine.source = nullptr;
        EXPECT_FALSE(engine.download(entry, "vst3", data, error, {}));
        EXPECT_EQ(error, "no source to download from");
        engine.source = &source;
        ASSERT_TRUE(engine.download(entry, "vst3", data, error, {})) << error;
        EXPECT_EQ(data, body);
        EXPECT_EQ(readFile(cacheFile("Echo.zip")), body);
    }
}

TEST_F(DownloadTest, MismatchIsRefusedAndNotCached) {
    const std::string body(1000, 'x');
    offer("vst3", "plugins/Echo.zip", body, 1200);
    std::string data, error;
    EXPECT_FALSE(engine.download(entry, "vst3", data, error, {}));
    EXPECT_EQ(error, "plugins/Echo.zip does not match the catalog (1000 bytes, expected 1200): not installed");
    EXPECT_FALSE(exists(cacheFile("Echo.zip")));
}

// A server that sends more than the catalog's size is left as soon as it does, also when it
// announces more, or stalls afterwards: the job is not held until the stall limit.
TEST_F(DownloadTest, OverSendingServerIsLeftAtTheCatalogSize) {
    source.stallLimit = std::chrono::seconds(20);
    const std::string body(400000, 'o');
    const struct {
        const char* name;
        int64_t announce;
        size_t chunk;
        bool stall;
    } table[] = {
        {"sends more", -1, 4096, false},
        {"sends more at once", -1, 0, false},
        {"sends more, then stalls", int64_t(body.size()) * 4, 4096, true},
    };
    for (const auto& row : table) {
        LoopbackServer::Reply reply;
        reply.body = body;
        reply.announce = row.announce;
        reply.chunk = row.chunk;
        reply.pauseMs = 1;
        reply.stall = row.stall;
        server.serve("plugins/Echo.zip", reply);
        tqm::FileRef& ref = entry.packages["vst3"]["mac"];
        ref.path = "plugins/Echo.zip";
        ref.size = 1000;
        ref.sha256 = tqm::sha256Hex(body.data(), 1000);
        std::string data, error;
        uint64_t most = 0;
        auto progress = [&](uint64_t done, uint64_t) {
            most = std::max(most, done);
            return true;
        };
        EXPECT_FALSE(engine.download(entry, "vst3", data, error, progress)) << row.name;
        EXPECT_EQ(error, "Echo.zip is larger than the catalog says (over 1000 bytes)") << row.name;
        EXPECT_LE(data.size(), 1000u) << row.name;
        EXPECT_EQ(most, 1000u) << row.name << ": the caller sees the whole size, never more";
        EXPECT_FALSE(exists(cacheFile("Echo.zip"))) << row.name;
    }
}

// From a folder, a package is measured before it is read: a pipe is refused without waiting for a
// writer, and a file far larger than the catalog says is never read at all.
TEST_F(DownloadTest, AFolderPackageIsMeasuredBeforeItIsRead) {
    tqm::Source folder(path("src"));
    engine.source = &folder;
    ASSERT_TRUE(writeFile(path("src/plugins/Big.zip"), ""));
    ASSERT_EQ(::truncate(path("src/plugins/Big.zip").c_str(), off_t(900) << 20), 0);  // sparse: costs no disk
    ASSERT_EQ(::mkfifo(path("src/plugins/Pipe.zip").c_str(), 0600), 0);
    const struct {
        const char* pkg;
        std::string error;
    } table[] = {
        {"plugins/Big.zip", "Big.zip is larger than the catalog says (over 92 bytes)"},
        {"plugins/Pipe.zip", "cannot read " + path("src/plugins/Pipe.zip") + ": it is not a plain file"},
    };
    for (const auto& row : table) {
        tqm::FileRef& ref = entry.packages["vst3"]["mac"];
        ref.path = row.pkg;
        ref.size = 92;
        ref.sha256 = std::string(64, 'a');
        rusage before{}, after{};
        ::getrusage(RUSAGE_SELF, &before);
        std::string data, error;
        EXPECT_FALSE(engine.download(entry, "vst3", data, error, {})) << row.pkg;
        ::getrusage(RUSAGE_SELF, &after);
        EXPECT_EQ(error, row.error);
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 << 10) << row.pkg << ": the peak grew (KiB)";
    }
}

TEST_F(DownloadTest, CancelledOrMissing) {
    const std::string body(200000, 'c');
    offer("vst3", "plugins/Echo.zip", body, body.size());
    std::string data, error;
    EXPECT_FALSE(engine.download(entry, "vst3", data, error, [](uint64_t, uint64_t) { return false; }));
    EXPECT_EQ(error, "cancelled");
    EXPECT_FALSE(exists(cacheFile("Echo.zip")));
    EXPECT_FALSE(engine.download(entry, "clap", data, error, {}));
    EXPECT_EQ(error, "Echo Box has no clap for mac");
}

TEST_F(DownloadTest, ManagerPackageAndSharedSlot) {
    const std::string self(4000, 'm');
    server.serveFile("manager/Manager.zip", self);
    tqm::Catalog catalog;
    engine.catalog = &catalog;
    std::string data, error;
    EXPECT_FALSE(engine.downloadSelf(data, error, {}));
    EXPECT_EQ(error, "the catalog has no manager for mac");
    tqm::FileRef& ref = catalog.manager_packages["mac"];
    ref.path = "manager/Manager.zip";
    ref.size = self.size();
    ref.sha256 = tqm::sha256Hex(self.data(), self.size());
    ref.item = "Manager.app";
    ASSERT_TRUE(engine.downloadSelf(data, error, {})) << error;
    EXPECT_EQ(data, self);

    // Another package whose path ends in the same file name takes over the slot.
    const std::string other(100, 'o');
    offer("vst3", "plugins/Manager.zip", other, other.size());
    ASSERT_TRUE(engine.download(entry, "vst3", data, error, {})) << error;
    EXPECT_EQ(readFile(cacheFile("Manager.zip")), other);
    const size_t before = requests();
    ASSERT_TRUE(engine.downloadSelf(data, error, {})) << error;
    EXPECT_EQ(data, self);
    EXPECT_EQ(requests(), before + 1);
}

}  // namespace
