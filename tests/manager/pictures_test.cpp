// The picture cache: fetched once, checked on every use, kept apart from the engine's cache, never
// written through a link; pictures decoded on demand within a budget, oversized ones refused unread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>

#include "manager/model/pictures.h"
#include "tests/manager/model_fixture.h"
#include "tests/support/png.h"

namespace fs = std::filesystem;
using namespace testsupport;
using tqapp::art::Kind;

namespace {

tqm::FileRef refTo(const std::string& path, const std::string& bytes) {
    return tqm::FileRef{path, tqm::sha256Hex(bytes.data(), bytes.size()), bytes.size(), "", ""};
}

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
    // Sets the file's time a day and an hour back, as a writer killed long ago left it.
    static bool makeOld(const std::string& file) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 25 * 3600, 0}};
        return ::utimensat(AT_FDCWD, file.c_str(), times, 0) == 0;
    }
    // A catalog of one entry per picture ("e0", "e1", ...; row pictures at "1x") over dir.
    static std::shared_ptr<tqm::LoadedCatalog> catalogOf(const std::vector<tqm::FileRef>& refs) {
        auto loaded = std::make_shared<tqm::LoadedCatalog>();
        loaded->ok = true;
        for (size_t i = 0; i < refs.size(); ++i) {
            tqm::Plugin entry;
            entry.id = "e" + std::to_string(i);
            entry.art_row["1x"] = refs[i];
            loaded->catalog.plugins.push_back(entry);
        }
        return loaded;
    }
};

TEST_F(Pictures, FetchedOnceThenServedFromTheCache) {
    catalog.publish(catalogText("1.0.0"));
    load();
    ASSERT_NE(picture("synth", Kind::Row, "1x"), nullptr);
    ASSERT_TRUE(exists(cached("art/synth-row.png")));
    fs::remove_all(catalog.source() + "/art");  // the source no longer has them
    load();
    const lumo::gui::Bitmap *one = picture("synth", Kind::Row, "1x"), *two = picture("synth", Kind::Row, "2x");
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->w, 4);
    EXPECT_EQ(two->h, 4);
}

TEST_F(Pictures, ACachedPictureThatDoesNotMatchIsFetchedAgain) {
    catalog.publish(catalogText("1.0.0"));
    load();
    ASSERT_NE(picture("delay", Kind::Logo, "1x"), nullptr);
    const std::string good = readFile(cached("art/delay-logo.png"));
    std::string bad = good;
    bad[bad.size() / 2] ^= 0x01;
    writeFile(cached("art/delay-logo.png"), bad);
    // The temporary of a writer killed while it cached the picture goes when the picture is written.
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ASSERT_GT(dead, 0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const std::string leftover = cached("art/delay-logo.png." + std::to_string(dead) + "-0-0a1b2c3d.tmp");
    writeFile(leftover, bad.substr(0, 10));
    ASSERT_TRUE(makeOld(leftover));
    load();
    // A start reads no picture: the bad one is caught where it is first read, never shown, and
    // fetched again.
    EXPECT_EQ(picture("delay", Kind::Logo, "1x"), nullptr);
    ASSERT_TRUE(loaded());
    const lumo::gui::Bitmap* logo = picture("delay", Kind::Logo, "1x");
    EXPECT_EQ(logo ? logo->w : 0, 3);
    EXPECT_EQ(readFile(cached("art/delay-logo.png")), good);
    EXPECT_FALSE(exists(leftover));
}

// The picture write refuses a linked folder in the cache; its clean-up of temporaries does not go
// through one either.
TEST_F(Pictures, NothingIsSweptThroughALinkedFolder) {
    catalog.publish(catalogText("1.0.0"));
    fs::create_directories(cached(""));
    fs::create_symlink(path("elsewhere"), cached("art"));
    const std::string outside = path("elsewhere/delay-logo.png.1-0-0a1b2c3d.tmp");
    writeFile(outside, "a file of the folder the link leads to");
    ASSERT_TRUE(makeOld(outside));
    load();
    EXPECT_EQ(picture("delay", Kind::Logo, "1x"), nullptr);
    EXPECT_TRUE(exists(outside));
    EXPECT_EQ(entryNames(path("elsewhere")), std::vector<std::string>{fs::path(outside).filename().string()});
}

// Whatever stands at a picture's name is checked where it is first read, never shown when it is not
// the picture, and fetched again (a link or pipe replaced, its target untouched).
TEST_F(Pictures, WhatFailsItsCheckWhereItIsReadIsFetchedAgain) {
    catalog.publish(catalogText("1.0.0"));
    load();
    const std::string at = cached("art/synth-row.png"), good = readFile(at);
    ASSERT_FALSE(good.empty());
    writeFile(path("elsewhere/user.png"), good.substr(0, 20));
    struct Case {
        const char* what;
        std::function<void()> tamper;
        bool sizeFirst;  // first asked for its size (a row choosing among scales), not drawn
    } cases[] = {
        {"other bytes of the same size", [&] { writeFile(at, std::string(good.size(), 'x')); }, false},
        {"cut short", [&] { writeFile(at, good.substr(0, good.size() / 2)); }, false},
        {"cut short, its size asked first", [&] { writeFile(at, good.substr(0, good.size() / 2)); }, true},
        {"zeroed, its size asked first", [&] { writeFile(at, std::string(good.size(), '\0')); }, true},
        {"a header claiming a huge size, the rest zeroed, its size asked first",
         [&] { writeFile(at, good.substr(0, 16) + std::string("\0\0\x75\x30\0\0\x75\x30", 8) + std::string(good.size() - 24, '\0')); },
         true},
        {"a link", [&] { fs::remove(at); fs::create_symlink(path("elsewhere/user.png"), at); }, false},
        {"a pipe, its size asked first", [&] { fs::remove(at); ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); }, true},
    };
    for (const Case& c : cases) {
        c.tamper();
        load();
        int32_t w = 0, h = 0;
        if (c.sizeFirst) {
            EXPECT_FALSE(model->pictures.size("synth", Kind::Row, "1x", w, h)) << c.what;
        }
        EXPECT_EQ(picture("synth", Kind::Row, "1x"), nullptr) << c.what;
        ASSERT_TRUE(loaded()) << c.what;
        const lumo::gui::Bitmap* row = picture("synth", Kind::Row, "1x");
        EXPECT_EQ(row ? row->w : 0, 4) << c.what;
        EXPECT_EQ(readFile(at), good) << c.what;
        EXPECT_EQ(readFile(path("elsewhere/user.png")), good.substr(0, 20)) << c.what;
    }
}

// Damaged pictures against a slow server, asked for on every frame as rows and the inspector ask:
// each is fetched once and shows when it arrives, also when the catalog is loaded again while they
// are on their way (the reload's fill and its frames ask for them anew). One whose fetch fails is
// not fetched again by the frames: one the server lacks is gone from the cache (the next fill takes
// it), and one that cannot be written over (a folder at its name) stays as it is.
TEST_F(Pictures, EachDamagedPictureIsFetchedOnce) {
    catalog.publish(catalogText("1.0.0"));
    load();
    LoopbackServer server;
    ASSERT_TRUE(server.ok());
    serveFolder(server, catalog.source());
    const std::string refused = "art/delay-logo.png", stuck = "art/delay-row@2x.png";
    const std::vector<std::string> art = {"art/synth-row.png", "art/synth-row@2x.png", "art/synth-logo.png",
                                          "art/delay-row.png", stuck, refused};
    for (const std::string& rel : art) {
        LoopbackServer::Reply slow;  // about 0.4 s a picture
        slow.status = rel == refused ? 404 : 200;
        slow.body = readFile(catalog.source() + "/" + rel);
        slow.chunk = slow.body.size() / 4 + 1;
        slow.pauseMs = 200;
        server.serve(rel, slow);
        writeFile(cached(rel), std::string(slow.body.size(), '\0'));
    }
    fs::remove(cached(stuck));
    fs::create_directories(cached(stuck) + "/inside");
    tqapp::Config c = config();
    c.source = server.url();
    tqapp::Model& m = make(c);
    m.start();
    int32_t w = 0, h = 0;
    const auto asked = [&] {  // pictures the server was asked for so far
        const std::vector<std::string> paths = server.paths();
        return std::ranges::count_if(paths, [&](const std::string& p) { return std::ranges::count(art, p) > 0; });
    };
    bool reloaded = false;
    EXPECT_TRUE(pumpUntil([&] {  // frames, each asking for the logos and every row picture's size
        // Loaded again once every fetch has started and the refused one has ended.
        if (!reloaded && !m.loading && asked() == std::ssize(art) && !exists(cached(refused))) {
            m.reload();
            reloaded = true;
        }
        bool all = !picture("delay", Kind::Logo, "1x");
        all &= picture("synth", Kind::Logo, "1x") != nullptr;
        for (const char* id : {"synth", "delay"})
            for (const char* key : {"1x", "2x"})
                all &= m.pictures.size(id, Kind::Row, key, w, h) || std::string(id) + key == "delay2x";  // stuck
        return all && reloaded && !m.loading && !m.fetchingPictures;
    }));
    // The refused one, gone from the cache, is fetched again by the reload's fill, as a next start's.
    for (const std::string& rel : art) EXPECT_EQ(std::ranges::count(server.paths(), rel), rel == refused ? 2 : 1) << rel;
    EXPECT_FALSE(exists(cached(refused)));
    EXPECT_TRUE(fs::is_directory(cached(stuck)));
}

// A picture that cannot be had is not cached (or not drawn); nothing crashes.
TEST_F(Pictures, WhatCannotBeHadIsNotDrawn) {
    const tqm::Source source(catalog.source());
    const std::string dir = tqapp::art::cacheDir(path("data"));
    writeFile(catalog.source() + "/text.png", "not a picture");
    writeFile(catalog.source() + "/real.png", encodePng(2, 2, std::vector<uint32_t>(4, 0xFF00FF00)));
    const std::string real = readFile(catalog.source() + "/real.png");
    struct Case {
        const char* what;
        tqm::FileRef ref;
        bool cachedAfter;
    } cases[] = {
        {"not a PNG", refTo("text.png", "not a picture"), true},
        {"missing at the source", refTo("missing.png", real), false},
        {"wrong size", {"real.png", tqm::sha256Hex(real.data(), real.size()), real.size() + 1, "", ""}, false},
        {"wrong hash", {"real.png", std::string(64, '0'), real.size(), "", ""}, false},
        {"good", refTo("real.png", real), true},
    };
    std::vector<tqm::FileRef> refs;
    for (const Case& c : cases) {
        EXPECT_EQ(tqapp::art::cache(source, dir, c.ref), c.cachedAfter) << c.what;
        EXPECT_EQ(exists(dir + "/" + c.ref.path), c.cachedAfter) << c.what;
        refs.push_back(c.ref);
    }
    tqapp::art::Pictures pictures;
    pictures.setCatalog(catalogOf(refs), dir);
    for (size_t i = 0; i < refs.size(); ++i)
        EXPECT_EQ(pictures.get("e" + std::to_string(i), Kind::Row, "1x", 100, 100) != nullptr,
                  std::string(cases[i].what) == "good") << cases[i].what;
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
    EXPECT_TRUE(tqapp::art::cache(source, tqapp::art::cacheDir(m.config.layout.userData()), named));
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
        EXPECT_FALSE(tqapp::art::cache(source, path("cache/art"), r)) << c.path;
    }
    EXPECT_FALSE(exists(path("cache")));
}

// A server that sends more than the picture's size is left as soon as it does, whether it announced far
// more and stalls or sends far more fast: cut just past the catalog size, not at a general cap.
TEST_F(Pictures, AServerSendingMoreThanThePictureIsLeftAtOnce) {
    const std::string png = encodePng(2, 2, std::vector<uint32_t>(4, 0xFF00FF00));
    struct Case {
        size_t extra;  // bytes sent past the picture
        int64_t announce;
        bool stall;
    } cases[] = {{4096, int64_t(1) << 28, true}, {size_t(100) << 20, -1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extra);
        LoopbackServer server;
        ASSERT_TRUE(server.ok());
        LoopbackServer::Reply reply;
        reply.body = png + std::string(c.extra, 'x');
        reply.announce = c.announce;
        reply.stall = c.stall;
        reply.chunk = size_t(1) << 20;
        reply.pauseMs = 0;
        server.serve("big.png", reply);
        tqm::Source source(server.url());
        source.stallLimit = std::chrono::minutes(5);
        const tqm::FileRef ref{"big.png", tqm::sha256Hex(png.data(), png.size()), png.size(), "", ""};
        const std::string dir = tqapp::art::cacheDir(path("data"));
        auto got = std::async(std::launch::async, [&] { return tqapp::art::cache(source, dir, ref); });
        ASSERT_EQ(got.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        EXPECT_FALSE(got.get());
        EXPECT_FALSE(exists(dir + "/big.png"));
        EXPECT_LT(server.bodyBytesSent(), uint64_t(32) << 20);  // what the socket buffers took, no more
    }
}

// The rows go up while the pictures are still coming: a server that holds a picture back holds back
// only that picture, which shows once it has arrived.
TEST_F(Pictures, RowsGoUpWhilePicturesAreStillComing) {
    catalog.publish(catalogText("1.0.0"));
    auto server = std::make_unique<LoopbackServer>();
    ASSERT_TRUE(server->ok());
    for (const char* rel : {"catalog.json", "catalog.json.sig", "art/synth-row.png", "art/synth-row@2x.png",
                            "art/synth-logo.png", "art/delay-row@2x.png", "art/delay-logo.png"})
        server->serveFile(rel, readFile(catalog.source() + "/" + std::string(rel)));
    LoopbackServer::Reply held;
    held.body = readFile(catalog.source() + "/art/delay-row.png").substr(0, 10);
    held.announce = int64_t(readFile(catalog.source() + "/art/delay-row.png").size());
    held.stall = true;
    server->serve("art/delay-row.png", held);
    tqapp::Config c = config();
    c.source = server->url();
    tqapp::Model& m = make(c);
    m.start();
    ASSERT_TRUE(pumpUntil([&] { return !m.loading; }));
    EXPECT_EQ(m.rows.size(), 3u);
    EXPECT_TRUE(m.fetchingPictures);
    EXPECT_EQ(picture("delay", Kind::Row, "1x"), nullptr);
    server.reset();  // the held picture fails; the worker ends
    ASSERT_TRUE(loaded());
    EXPECT_EQ(m.rows.size(), 3u);
}

// Whatever another program put at a picture's place in the cache, the picture lands only in the
// cache folder: a link there is replaced (its target untouched), a pipe never blocks the load, and a
// folder on the way that is a link is not entered.
TEST_F(Pictures, NeverWrittenThroughLinksOrIntoPipes) {
    const std::string png = encodePng(2, 2, std::vector<uint32_t>(4, 0xFF0000FF));
    writeFile(path("src/a/x.png"), png);
    const tqm::Source source(path("src"));
    const std::string dir = path("cache/art");
    fs::create_directories(dir + "/a");
    writeFile(path("elsewhere/user.txt"), "the user's own file");
    struct Case {
        const char* what;
        std::function<void()> plant;
        bool cached;
    } cases[] = {
        {"a link at the name", [&] { fs::create_symlink(path("elsewhere/user.txt"), dir + "/a/x.png"); }, true},
        {"a pipe at the name", [&] { ASSERT_EQ(::mkfifo((dir + "/a/x.png").c_str(), 0600), 0); }, true},
        {"a linked folder", [&] {
             fs::remove_all(dir + "/a");
             fs::create_directory_symlink(path("elsewhere"), dir + "/a");
         }, false},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir);
        fs::create_directories(dir + "/a");
        c.plant();
        auto done = std::async(std::launch::async, [&] { return tqapp::art::cache(source, dir, refTo("a/x.png", png)); });
        ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready) << c.what;
        EXPECT_EQ(done.get(), c.cached) << c.what;
        EXPECT_EQ(readFile(path("elsewhere/user.txt")), "the user's own file") << c.what;
        EXPECT_FALSE(exists(path("elsewhere/x.png"))) << c.what;
        std::string bytes;
        EXPECT_EQ(tqapp::art::readCached(dir, refTo("a/x.png", png), bytes), c.cached) << c.what;
    }
    // Reading a pipe or a link in the cache neither blocks nor follows it.
    writeFile(path("elsewhere/x.png"), png);
    for (const bool pipe : {true, false}) {
        fs::remove_all(dir);
        fs::create_directories(dir + "/a");
        const std::string at = dir + "/a/x.png";
        ASSERT_EQ(pipe ? ::mkfifo(at.c_str(), 0600) : ::symlink(path("elsewhere/x.png").c_str(), at.c_str()), 0);
        std::string bytes;
        EXPECT_FALSE(tqapp::art::readCached(dir, refTo("a/x.png", png), bytes)) << pipe;
    }
}

// Filling the cache takes each distinct file once, in any number of folders, and leaves alone a
// name its folder already holds (what that is gets checked where it is read).
TEST_F(Pictures, FillingTakesEachFileOnceAndPassesOverNamesHeld) {
    const std::string dir = path("cache/art");
    const auto png = [](uint32_t colour) { return encodePng(2, 2, std::vector<uint32_t>(4, colour)); };
    writeFile(dir + "/a/x.png", "held, whatever it is");
    // Each ref (a name held; beside it; shared by a second entry; the same name with other bytes; in a
    // nested folder; in none), then what the cache holds at its path afterwards.
    const std::pair<tqm::FileRef, std::string> cases[] = {
        {refTo("a/x.png", png(0xFF0000FF)), "held, whatever it is"}, {refTo("a/y.png", png(0xFF00FF00)), png(0xFF00FF00)},
        {refTo("a/y.png", png(0xFF00FF00)), png(0xFF00FF00)},         {refTo("a/y.png", png(0xFFFF0000)), png(0xFF00FF00)},
        {refTo("b/c/w.png", png(0xFF000000)), png(0xFF000000)},       {refTo("top.png", png(0xFF808080)), png(0xFF808080)}};
    std::vector<tqm::FileRef> refs;
    for (const auto& [ref, held] : cases) {
        refs.push_back(ref);
        if (held.rfind("held", 0) != 0 && !exists(path("src/" + ref.path))) writeFile(path("src/" + ref.path), held);
    }
    EXPECT_EQ(tqapp::art::fetchMissing(tqm::Source(path("src")), dir, catalogOf(refs)->catalog), 3u);
    for (const auto& [ref, held] : cases) EXPECT_EQ(readFile(dir + "/" + ref.path), held) << ref.path;
    // Filled, it fetches nothing more.
    EXPECT_EQ(tqapp::art::fetchMissing(tqm::Source(path("src")), dir, catalogOf(refs)->catalog), 0u);
}

// Decoded pictures stay within the budget, the least recently drawn dropped first; a picture that
// declares far more than it can be drawn at is refused from its header without being decoded.
TEST_F(Pictures, DecodedWithinABudgetAndOversizedOnesRefused) {
    const std::string dir = path("art");
    std::vector<tqm::FileRef> refs;
    for (int i = 0; i < 6; ++i) {
        const std::string png = encodePng(64, 64, std::vector<uint32_t>(64 * 64, 0xFF000000u | uint32_t(i)));
        writeFile(dir + "/p" + std::to_string(i) + ".png", png);
        refs.push_back(refTo("p" + std::to_string(i) + ".png", png));
    }
    const std::string huge = encodeBlankPng(30000, 30000);
    writeFile(dir + "/huge.png", huge);
    refs.push_back(refTo("huge.png", huge));
    refs.push_back(refs[0]);  // "e7" shares "e0"'s file

    const size_t one = 64 * 64 * 4;
    tqapp::art::Pictures pictures(3 * one);
    pictures.setCatalog(catalogOf(refs), dir);
    for (int i = 0; i < 6; ++i) {
        ASSERT_NE(pictures.get("e" + std::to_string(i), Kind::Row, "1x", 256, 256), nullptr) << i;
        EXPECT_LE(pictures.heldBytes(), 3 * one) << i;
    }
    EXPECT_EQ(pictures.decodes(), 6u);
    // The three drawn last are held; the first was dropped and decodes again.
    for (const char* id : {"e3", "e4", "e5"}) ASSERT_NE(pictures.get(id, Kind::Row, "1x", 256, 256), nullptr);
    EXPECT_EQ(pictures.decodes(), 6u);
    ASSERT_NE(pictures.get("e0", Kind::Row, "1x", 256, 256), nullptr);
    ASSERT_NE(pictures.get("e7", Kind::Row, "1x", 256, 256), nullptr);  // the same file: no decode
    EXPECT_EQ(pictures.decodes(), 7u);

    EXPECT_EQ(pictures.get("e6", Kind::Row, "1x", 256, 256), nullptr);
    int32_t w = 0, h = 0;
    EXPECT_TRUE(pictures.size("e6", Kind::Row, "1x", w, h));
    EXPECT_EQ(w, 30000);
    EXPECT_EQ(pictures.decodes(), 7u);
    EXPECT_LE(pictures.heldBytes(), 3 * one);
}

// The least recently used bitmap is the one dropped: a use (a find, as a draw of a held picture
// does, or a put again) makes it the newest.
TEST(PictureCache, DropsTheLeastRecentlyUsed) {
    lumo::gui::Bitmap bitmap;
    bitmap.w = bitmap.h = 2;
    bitmap.pixels.assign(4, 0xFF000000u);
    // Steps "+k" put k, "?k" use k; then what is held.
    const std::pair<const char*, const char*> cases[] = {
        {"+a +b +c +d", "bcd"}, {"+a +b +c ?a +d", "acd"}, {"+a +b +c ?c ?b ?a +d +e", "ade"}, {"+a +b +c +a +d", "acd"}};
    for (const auto& [steps, held] : cases) {
        tqapp::art::PictureCache cache(3 * 4 * sizeof(uint32_t));
        for (const char* p = steps; *p; p += p[2] ? 3 : 2) {
            const std::string key(1, p[1]);
            if (p[0] == '+') ASSERT_NE(cache.put(key, bitmap), nullptr) << steps;
            else ASSERT_NE(cache.find(key), nullptr) << steps << " " << key;
        }
        std::string kept;
        for (const char k : std::string("abcde"))
            if (cache.find(std::string(1, k))) kept += k;
        EXPECT_EQ(kept, held) << steps;
    }
}

}  // namespace
