#include <curl/curl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "engine/source.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_home.h"

namespace {

using testsupport::LoopbackServer;
using Clock = std::chrono::steady_clock;

TEST(Source, NormalisesItsText) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"file:///Users/a/cat", "/Users/a/cat"},
        {"file:///C:/cat", "C:/cat"},
        {"https://example.invalid/manager", "https://example.invalid/manager/"},
        {"http://example.invalid/manager/", "http://example.invalid/manager/"},
        {"HTTP://example.invalid/m", "HTTP://example.invalid/m"},  // not a URL: a folder path
        {"/srv/catalog", "/srv/catalog"},
        {"", ""},
    };
    for (const auto& [text, base] : table) EXPECT_EQ(tqm::Source(text).base, base) << text;
}

TEST(Source, NoSource) {
    std::string out, error;
    EXPECT_FALSE(tqm::Source().fetch("catalog.json", out, error));
    EXPECT_EQ(error, "no catalog source");
}

class FolderSource : public testsupport::TempHomeTest {};

TEST_F(FolderSource, ReadsFilesAndReportsOnce) {
    testsupport::writeFile(path("src/pkg/a.zip"), std::string("zip\0data", 8));
    const tqm::Source source(path("src"));
    std::string out, error;
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    ASSERT_TRUE(source.fetch("pkg/a.zip", out, error, [&](uint64_t d, uint64_t t) {
        calls.emplace_back(d, t);
        return true;
    })) << error;
    EXPECT_EQ(out, std::string("zip\0data", 8));
    EXPECT_EQ(calls, (std::vector<std::pair<uint64_t, uint64_t>>{{8, 8}}));

    EXPECT_FALSE(source.fetch("pkg/a.zip", out, error, [](uint64_t, uint64_t) { return false; }));
    EXPECT_EQ(error, "cancelled");
    EXPECT_FALSE(source.fetch("missing.zip", out, error));
    EXPECT_EQ(error, "cannot read " + path("src/missing.zip"));
    EXPECT_FALSE(source.fetch("pkg", out, error));
    EXPECT_EQ(error, "cannot read " + path("src/pkg") + ": it is a folder");
}

TEST_F(FolderSource, RefusesFilesOverOneGibibyte) {
    // A sparse file: nothing is allocated, and the size is refused before any read.
    testsupport::writeFile(path("src/big.zip"), "");
    ASSERT_EQ(truncate(path("src/big.zip").c_str(), off_t(0x40000001)), 0);
    std::string out, error;
    EXPECT_FALSE(tqm::Source(path("src")).fetch("big.zip", out, error));
    EXPECT_EQ(error, path("src/big.zip") + " is too large");
}

class WebSource : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.ok()); }
    std::string failed(const std::string& name, CURLcode code) {
        return server.url() + name + ": " + curl_easy_strerror(code);
    }
    LoopbackServer server;
};

TEST_F(WebSource, FetchesWithItsUserAgentAndFollowsRedirects) {
    server.serveFile("catalog.json", "{\"schema\": 1}\n");
    LoopbackServer::Reply moved;
    moved.status = 302;
    moved.location = "/catalog.json";
    server.serve("old.json", moved);
    const tqm::Source source(server.url().substr(0, server.url().size() - 1));  // the final slash is added
    std::string out, error;
    ASSERT_TRUE(source.fetch("catalog.json", out, error)) << error;
    EXPECT_EQ(out, "{\"schema\": 1}\n");
    out.clear();
    ASSERT_TRUE(source.fetch("old.json", out, error)) << error;
    EXPECT_EQ(out, "{\"schema\": 1}\n");
    EXPECT_EQ(server.paths(), (std::vector<std::string>{"catalog.json", "old.json", "catalog.json"}));
    for (const std::string& agent : server.userAgents()) EXPECT_EQ(agent, "VI Dazizi Dereriv");
}

TEST_F(WebSource, FailuresCarryTheAddressAndLibcurlsText) {
    LoopbackServer::Reply loop;
    loop.status = 302;
    loop.location = "/loop";
    server.serve("loop", loop);
    LoopbackServer::Reply broken;
    broken.status = 500;
    broken.body = "oops";
    server.serve("broken", broken);
    // Announced as larger than the cap: refused as it starts, without gathering a GiB.
    LoopbackServer::Reply huge;
    huge.body = std::string(4096, 'x');
    huge.announce = int64_t(0x40000001);
    server.serve("huge.zip", huge);
    const tqm::Source source(server.url());
    const std::vector<std::pair<std::string, CURLcode>> table = {
        {"missing.json", CURLE_HTTP_RETURNED_ERROR},
        {"broken", CURLE_HTTP_RETURNED_ERROR},
        {"loop", CURLE_TOO_MANY_REDIRECTS},
        {"huge.zip", CURLE_WRITE_ERROR},
    };
    for (const auto& [name, code] : table) {
        std::string out, error;
        EXPECT_FALSE(source.fetch(name, out, error));
        EXPECT_EQ(error, failed(name, code));
    }
    EXPECT_LE(server.paths().size(), 2u + 31u + 1u);  // the redirect loop ends after 30 follows
}

TEST_F(WebSource, ReportsProgressAndCancels) {
    LoopbackServer::Reply pkg;
    pkg.body = std::string(256 * 1024, 'p');
    pkg.chunk = 16 * 1024;
    server.serve("pkg.zip", pkg);
    const tqm::Source source(server.url());
    std::string out, error;
    uint64_t last = 0, calls = 0;
    bool rising = true, totalZero = true;
    ASSERT_TRUE(source.fetch("pkg.zip", out, error, [&](uint64_t done, uint64_t total) {
        rising = rising && done >= last;
        totalZero = totalZero && total == 0;
        last = done;
        ++calls;
        return true;
    })) << error;
    EXPECT_EQ(out.size(), pkg.body.size());
    EXPECT_EQ(last, pkg.body.size());
    EXPECT_GT(calls, 1u);
    EXPECT_TRUE(rising);
    EXPECT_TRUE(totalZero);

    bool firstData = true;
    EXPECT_FALSE(source.fetch("pkg.zip", out, error, [&](uint64_t done, uint64_t) {
        if (done == 0) return true;  // waiting
        firstData = false;
        return false;
    }));
    EXPECT_EQ(error, "cancelled");
    EXPECT_FALSE(firstData);
}

TEST_F(WebSource, CancelStopsAStalledTransfer) {
    LoopbackServer::Reply stalled;
    stalled.body = "a little";
    stalled.announce = 1 << 20;
    stalled.stall = true;
    server.serve("stalled.zip", stalled);
    std::atomic<bool> stop{false};
    Clock::time_point cancelled;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancelled = Clock::now();
        stop = true;
    });
    std::string out, error;
    const bool ok =
        tqm::Source(server.url()).fetch("stalled.zip", out, error, [&](uint64_t, uint64_t) { return !stop; });
    const auto ended = Clock::now();
    canceller.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "cancelled");
    EXPECT_EQ(out, "a little");
    // libcurl asks about once a second while the line is idle; the bound is loose for loaded machines.
    EXPECT_LT(std::chrono::duration<double>(ended - cancelled).count(), 3.0);
}

// A server that stops sending ends the transfer after the stall limit, with or without a progress
// callback; data still arriving slowly keeps it going.
TEST_F(WebSource, AServerThatStopsSendingFailsAfterTheStallLimit) {
    struct Case {
        const char* what;
        const char* body;
        size_t chunk;
        bool stall, withProgress, ok;
    } table[] = {
        {"nothing after the headers", "", 0, true, false, false},
        {"nothing after part of the body", "a little", 0, true, false, false},
        {"stalled with a progress callback", "a little", 0, true, true, false},
        {"slow but steady", "0123456789abcdefghij0123456789abcdefghij", 1, false, false, true},
    };
    for (const Case& c : table) {
        LoopbackServer::Reply reply;
        reply.body = c.body;
        reply.chunk = c.chunk;
        if (c.stall) reply.announce = 1 << 20;
        reply.stall = c.stall;
        server.serve("file.zip", reply);
        tqm::Source source(server.url());
        source.stallLimit = std::chrono::milliseconds(1000);
        const Clock::time_point start = Clock::now();
        std::string out, error;
        const bool ok = c.withProgress ? source.fetch("file.zip", out, error, [](uint64_t, uint64_t) { return true; })
                                       : source.fetch("file.zip", out, error);
        EXPECT_EQ(ok, c.ok) << c.what;
        EXPECT_EQ(out, c.body) << c.what;
        if (!c.ok) {
            EXPECT_EQ(error, server.url() + "file.zip: the server sent nothing for 1 s") << c.what;
            // Loose: the limit plus libcurl's once-a-second call on an idle line, on a loaded machine.
            EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 10.0) << c.what;
        }
    }
}

}  // namespace
