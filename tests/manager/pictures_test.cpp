// The picture cache: fetched once, checked on every use, kept apart from the engine's cache.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "manager/model/pictures.h"
#include "tests/manager/model_fixture.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class Pictures : public ModelTest {
protected:
    std::string cached(const std::string& rel) const {
        return tqapp::art::cacheDir(config().layout.userData()) + "/" + rel;
    }
    tqapp::Model& load() {
        tqapp::Model& m = make(config());
        m.start();
        EXPECT_TRUE(loaded());
        return m;
    }
};

TEST_F(Pictures, FetchedOnceThenServedFromTheCache) {
    catalog.publish(catalogText("1.0.0"));
    load();
    ASSERT_TRUE(exists(cached("art/synth-row.png")));
    fs::remove_all(catalog.source() + "/art");  // the source no longer has them
    tqapp::Model& m = load();
    EXPECT_EQ(m.pictures["synth"].row["1x"].w, 4);
    EXPECT_EQ(m.pictures["synth"].row["2x"].h, 4);
}

TEST_F(Pictures, ACachedPictureThatDoesNotMatchIsFetchedAgain) {
    catalog.publish(catalogText("1.0.0"));
    load();
    const std::string good = readFile(cached("art/delay-logo.png"));
    std::string bad = good;
    bad[bad.size() / 2] ^= 0x01;
    writeFile(cached("art/delay-logo.png"), bad);
    tqapp::Model& m = load();
    EXPECT_EQ(m.pictures["delay"].logo["1x"].w, 3);
    EXPECT_EQ(readFile(cached("art/delay-logo.png")), good);
}

// A picture that cannot be had is an empty bitmap under its key; nothing crashes.
TEST_F(Pictures, WhatCannotBeHadIsAnEmptyBitmap) {
    const tqm::Source source(catalog.source());
    const std::string dir = tqapp::art::cacheDir(path("data"));
    writeFile(catalog.source() + "/text.png", "not a picture");
    writeFile(catalog.source() + "/real.png", encodePng(2, 2, std::vector<uint32_t>(4, 0xFF00FF00)));
    const std::string real = readFile(catalog.source() + "/real.png");
    auto ref = [](const std::string& p, const std::string& bytes) {
        return tqm::FileRef{p, tqm::sha256Hex(bytes.data(), bytes.size()), bytes.size(), "", ""};
    };
    struct Case {
        const char* what;
        tqm::FileRef ref;
        bool cachedAfter;
    } cases[] = {
        {"not a PNG", ref("text.png", "not a picture"), true},
        {"missing at the source", ref("missing.png", real), false},
        {"wrong size", {"real.png", tqm::sha256Hex(real.data(), real.size()), real.size() + 1, "", ""}, false},
        {"wrong hash", {"real.png", std::string(64, '0'), real.size(), "", ""}, false},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(tqapp::art::picture(source, dir, c.ref).empty()) << c.what;
        EXPECT_EQ(exists(dir + "/" + c.ref.path), c.cachedAfter) << c.what;
    }
    EXPECT_EQ(tqapp::art::picture(source, dir, ref("real.png", real)).w, 2);
}

// An art path can neither leave the art folder nor reach the engine's cached catalog.
TEST_F(Pictures, ArtPathsStayInTheirFolder) {
    catalog.publish(catalogText("1.0.0"));
    tqapp::Model& m = load();
    const std::string engineCache = config().layout.userData() + "/cache";
    const std::string cachedCatalog = readFile(engineCache + "/catalog.json");
    ASSERT_FALSE(cachedCatalog.empty());

    const std::string png = encodePng(1, 1, {0xFF000000});
    writeFile(path("pics/catalog.json"), png);
    const tqm::Source source(path("pics"));
    const tqm::FileRef named{"catalog.json", tqm::sha256Hex(png.data(), png.size()), png.size(), "", ""};
    EXPECT_EQ(tqapp::art::picture(source, tqapp::art::cacheDir(m.config.layout.userData()), named).w, 1);
    EXPECT_EQ(readFile(engineCache + "/catalog.json"), cachedCatalog);
    EXPECT_EQ(readFile(engineCache + "/art/catalog.json"), png);

    struct Case {
        const char* path;
        bool safe;
    } cases[] = {{"a.png", true},   {"art/x/a.png", true}, {"", false},      {"/etc/a.png", false},
                 {"../a.png", false}, {"art/../../a", false}, {"art//a", false}, {"./a", false},
                 {"a\\b", false},    {"c:a", false},        {"a/", false},     {"a\nb", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(tqapp::art::safePath(c.path), c.safe) << c.path;
        if (c.safe) continue;
        writeFile(path("pics/") + c.path, png);
        tqm::FileRef r = named;
        r.path = c.path;
        EXPECT_TRUE(tqapp::art::picture(source, path("cache/art"), r).empty()) << c.path;
    }
    EXPECT_FALSE(exists(path("cache")));
}

// A server that sends more than the picture's size is left as soon as it does: the load never gathers
// more than the catalog promised, nor waits on a server that announced far more and then stalls.
TEST_F(Pictures, AServerSendingMoreThanThePictureIsLeftAtOnce) {
    LoopbackServer server;
    ASSERT_TRUE(server.ok());
    const std::string png = encodePng(2, 2, std::vector<uint32_t>(4, 0xFF00FF00));
    LoopbackServer::Reply reply;
    reply.body = png + std::string(4096, 'x');
    reply.announce = int64_t(1) << 28;
    reply.stall = true;
    server.serve("big.png", reply);
    tqm::Source source(server.url());
    source.stallLimit = std::chrono::minutes(5);
    const tqm::FileRef ref{"big.png", tqm::sha256Hex(png.data(), png.size()), png.size(), "", ""};
    const std::string dir = tqapp::art::cacheDir(path("data"));
    auto got = std::async(std::launch::async, [&] { return tqapp::art::picture(source, dir, ref); });
    ASSERT_EQ(got.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "still reading the server";
    EXPECT_TRUE(got.get().empty());
    EXPECT_FALSE(exists(dir + "/big.png"));
}

}  // namespace
