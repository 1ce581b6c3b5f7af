#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "engine/install_folder.h"
#include "engine/safe_path.h"
#include "engine/unpack.h"
#include "tests/support/lock_holder.h"
#include "tests/support/temp_home.h"
#include "tests/support/zip_maker.h"

namespace fs = std::filesystem;
using namespace testsupport;
using tqm::detail::unpack;

namespace {

class Unpack : public TempHomeTest {
protected:
    // dest lies alone in "box", so anything written beside it shows up there.
    std::string dest() const { return path("box/stage"); }

    bool run(const std::string& zip, std::string& error) { return unpack(zip, dest(), "Foo.vst3", error); }

    std::vector<std::string> besideDest() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (auto& e : fs::directory_iterator(path("box"), ec))
            if (e.path().filename() != "stage") names.push_back(e.path().filename().string());
        for (auto& e : fs::directory_iterator(temp.dir(), ec))
            if (e.path().filename() != "box" && e.path().filename() != "home") names.push_back(e.path().string());
        return names;
    }

    static std::vector<std::string> namesIn(const std::string& dir) {
        std::vector<std::string> names;
        std::error_code ec;
        for (auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
        return names;
    }

    static mode_t modeOf(const std::string& p) {
        struct stat st {};
        ::lstat(p.c_str(), &st);
        return st.st_mode & 07777;
    }
};

// Sets an entry's declared size or CRC in both its local and central headers.
void patch32(std::string& zip, size_t localOffset, size_t centralOffset, uint32_t value) {
    size_t central = zip.find(std::string("PK\x01\x02", 4));
    ASSERT_NE(central, std::string::npos);
    for (size_t at : {localOffset, central + centralOffset})
        for (int k = 0; k < 4; ++k) zip[at + k] = char((value >> (8 * k)) & 0xFF);
}

TEST_F(Unpack, WritesTreeWithModes) {
    std::string zip = makeZip({zipDir("Foo.vst3/"), zipDir("Foo.vst3/Contents/"), zipDir("Foo.vst3/Contents/MacOS/"),
                               zipFile("Foo.vst3/Contents/MacOS/Foo", std::string(5000, 'x'), 0755, true),
                               zipFile("Foo.vst3/Contents/Info.plist", "<plist/>", 0600),
                               zipFile("Foo.vst3/Contents/Resources/open", "o", 0777),
                               zipFile("Foo.vst3/Contents/Resources/deep/a.txt", "a")});
    ASSERT_FALSE(zip.empty());
    std::string error;
    ASSERT_TRUE(run(zip, error)) << error;
    EXPECT_EQ(readFile(dest() + "/Foo.vst3/Contents/MacOS/Foo"), std::string(5000, 'x'));
    EXPECT_EQ(modeOf(dest() + "/Foo.vst3/Contents/MacOS/Foo"), 0755u);
    EXPECT_EQ(modeOf(dest() + "/Foo.vst3/Contents/Info.plist"), 0600u);
    EXPECT_EQ(modeOf(dest() + "/Foo.vst3/Contents/Resources/open"), 0755u);  // nobody else may write it
    EXPECT_EQ(readFile(dest() + "/Foo.vst3/Contents/Resources/deep/a.txt"), "a");
}

// Whoever unpacks, under whatever umask, no other account may write what is unpacked: a file of no
// mode, one the zip opens to everyone, a folder named by the DOS bit or only implied by a path.
TEST_F(Unpack, NobodyElseMayWriteWhatIsUnpacked) {
    const std::string zip = rawZip({{"Foo.vst3/plain", "p", 0}, {"Foo.vst3/Sub", "", 0x10},
                                    {"Foo.vst3/open", "o", unixAttr(kFileMode | 0777)}, {"Foo.vst3/Deep/x", "x", 0}});
    const std::map<std::string, mode_t> expected{{"", 0755}, {"/plain", 0644}, {"/Sub", 0755},
                                                 {"/open", 0755}, {"/Deep", 0755}, {"/Deep/x", 0644}};
    for (const bool other : {false, true}) {
        if (other && ::geteuid() != 0) GTEST_SKIP() << "needs root to unpack as another account (done as this one)";
        for (const mode_t mask : {mode_t(002), mode_t(000)}) {
            SCOPED_TRACE(std::string(other ? "another account" : "this account") + ", umask " + std::to_string(mask));
            ASSERT_TRUE(!other || ::chown(temp.dir().c_str(), 65534, 65534) == 0);
            std::string error;
            const mode_t before = ::umask(mask);  // the child's too
            const bool ok = other ? asUser(65534, [&] { return run(zip, error); }) : run(zip, error);
            ::umask(before);
            ASSERT_TRUE(ok) << error;
            for (const auto& [entry, mode] : expected) EXPECT_EQ(modeOf(dest() + "/Foo.vst3" + entry) & 0777, mode) << entry;
            tqm::detail::removeAll(path("box"));
        }
    }
}

TEST_F(Unpack, RefusesUnexpectedPaths) {
    for (const char* name : {"Bar.vst3/x", "../x", "Foo.vst3/../x", "Foo.vst3/./x", "Foo.vst3//x", "/Foo.vst3/x",
                             "Foo.vst3\\x", "C:x", "./Foo.vst3/x", "Foo.vst3/a/..", "Foo.vst3x/y"}) {
        SCOPED_TRACE(name);
        std::string error;
        EXPECT_FALSE(run(rawZip({{"Foo.vst3/ok", "1"}, {name, "evil"}}), error));
        EXPECT_EQ(error, std::string("the package holds an unexpected path: ") + name);
        EXPECT_TRUE(besideDest().empty());
        fs::remove_all(path("box"));
    }
}

TEST_F(Unpack, LinkTargets) {
    struct Case {
        const char* name;
        std::string text;
        bool ok;
    } cases[] = {
        {"Foo.vst3/Contents/Frameworks/Current", "../Resources", true},
        {"Foo.vst3/Versions/Current", "A", true},
        {"Foo.vst3/Contents/up", "../../Foo.vst3/Contents", true},
        {"Foo.vst3/Contents/Frameworks/Current", "../../../etc", false},
        {"Foo.vst3/Contents/x", "/etc", false},
        {"Foo.vst3/self", ".", false},
        {"Foo.vst3/Contents/top", "..", false},
        {"Foo.vst3/Contents/x", "", false},
        {"Foo.vst3/Contents/x", "a\\b", false},
        {"Foo.vst3/Contents/x", std::string("a\0b", 3), false},
        {"Foo.vst3/Contents/x", "../../Bar.vst3/x", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " -> " + c.text);
        std::string error;
        bool ok = run(makeZip({zipDir("Foo.vst3/Contents/Resources/"), zipLink(c.name, c.text)}), error);
        EXPECT_EQ(ok, c.ok) << error;
        if (c.ok)
            EXPECT_EQ(fs::read_symlink(dest() + "/" + c.name).string(), c.text);
        else
            EXPECT_EQ(error, std::string("the package holds a symbolic link out of Foo.vst3: ") + c.name);
        fs::remove_all(path("box"));
    }
    // A link entry that is also flagged a folder.
    std::string error;
    EXPECT_FALSE(run(rawZip({{"Foo.vst3/l", "Contents", unixAttr(kLinkMode | 0777) | 0x10}}), error));
    EXPECT_EQ(error, "the package holds a symbolic link out of Foo.vst3: Foo.vst3/l");
}

TEST_F(Unpack, NothingIsWrittenThroughLinks) {
    struct Case {
        const char* what;
        std::vector<ZipItem> items;
        std::string error;
    } cases[] = {
        {"file below a link",
         {zipDir("Foo.vst3/Contents/"), zipLink("Foo.vst3/l", "Contents"), zipFile("Foo.vst3/l/x", "x")},
         "the package holds a path through a symbolic link: Foo.vst3/l/x"},
        {"folder below a link",
         {zipDir("Foo.vst3/Contents/"), zipLink("Foo.vst3/l", "Contents"), zipDir("Foo.vst3/l/sub/")},
         "the package holds a path through a symbolic link: Foo.vst3/l/sub"},
        {"file onto a link", {zipLink("Foo.vst3/l", "Contents/x"), zipFile("Foo.vst3/l", "x")},
         "the package holds a path through a symbolic link: Foo.vst3/l"},
        // Each link passes the check of its own text, but the second leads out through the first.
        {"second link out through the first",
         {zipDir("Foo.vst3/d1/d2/d3/d4/"), zipLink("Foo.vst3/d1/d2/d3/d4/up", "../../.."),
          zipLink("Foo.vst3/esc", "d1/d2/d3/d4/up/../../../planted")},
         "the package holds a symbolic link out of Foo.vst3: Foo.vst3/esc"},
        {"file written through the escaping link",
         {zipDir("Foo.vst3/d1/d2/d3/d4/"), zipLink("Foo.vst3/d1/d2/d3/d4/up", "../../.."),
          zipLink("Foo.vst3/esc", "d1/d2/d3/d4/up/../../../planted"), zipFile("Foo.vst3/esc", "owned")},
         "the package holds a path through a symbolic link: Foo.vst3/esc"},
        // As text the second link stays in the item; on disk it lands in a sibling of the item.
        {"second link into a sibling through the first",
         {zipDir("Foo.vst3/d1/d2/d3/d4/"), zipLink("Foo.vst3/d1/d2/d3/d4/up", "../../.."),
          zipLink("Foo.vst3/esc", "d1/d2/d3/d4/up/../../Bar.vst3/x")},
         "the package holds a symbolic link out of Foo.vst3: Foo.vst3/esc"},
        {"file written into the sibling",
         {zipDir("Foo.vst3/d1/d2/d3/d4/"), zipLink("Foo.vst3/d1/d2/d3/d4/up", "../../.."),
          zipLink("Foo.vst3/esc", "d1/d2/d3/d4/up/../../Bar.vst3"), zipFile("Foo.vst3/esc/x", "owned")},
         "the package holds a path through a symbolic link: Foo.vst3/esc/x"},
        {"link loop", {zipLink("Foo.vst3/a/x", "../b/x"), zipLink("Foo.vst3/b/x", "../a/x")},
         "the package holds a symbolic link out of Foo.vst3: Foo.vst3/a/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(run(rawZipOf(c.items), error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(besideDest().empty());
        EXPECT_EQ(namesIn(dest()), std::vector<std::string>{"Foo.vst3"});  // no sibling made
        fs::remove_all(path("box"));
    }
}

TEST_F(Unpack, LinksThroughLinksInsideTheItemWork) {
    std::string zip = makeZip({zipFile("Foo.vst3/Versions/A/Lib", "lib", 0755), zipLink("Foo.vst3/Versions/Current", "A"),
                               zipLink("Foo.vst3/Lib", "Versions/Current/Lib")});
    std::string error;
    ASSERT_TRUE(run(zip, error)) << error;
    EXPECT_EQ(readFile(dest() + "/Foo.vst3/Lib"), "lib");
}

TEST_F(Unpack, SizeCap) {
    // Folder entries count with their declared size but are never read, so the cap can be met
    // without a gigabyte of data.
    auto zipOf = [](uint32_t folderSize) {
        return rawZip({{"Foo.vst3/", "", unixAttr(kDirMode | 0755), 0, 0, std::nullopt, folderSize},
                       {"Foo.vst3/a", "x"}});
    };
    std::string error;
    EXPECT_TRUE(run(zipOf(0x3FFFFFFF), error)) << error;
    EXPECT_FALSE(run(zipOf(0x40000000), error));
    EXPECT_EQ(error, "the package unpacks too large");
    // A small archive declaring a huge file.
    EXPECT_FALSE(run(rawZip({{"Foo.vst3/big", "tiny", unixAttr(kFileMode | 0644), 0, 0, std::nullopt, 0xFFFFFFF0u}}),
                     error));
    EXPECT_EQ(error, "the package unpacks too large");
}

TEST_F(Unpack, DamagedOrForeignInput) {
    std::string good = makeZip({zipFile("Foo.vst3/a", std::string(3000, 'a'), 0644, true)});
    struct Case {
        const char* what;
        std::string zip;
        std::string error;
    } cases[] = {
        {"empty", "", "the package is not a zip"},
        {"short", std::string(21, '\0'), "the package is not a zip"},
        {"garbage", std::string(4096, 'G'), "the package is not a zip"},
        {"truncated", good.substr(0, good.size() - 10), "the package is not a zip"},
        {"no entries", rawZip({}), "the package is empty"},
        {"bad crc", rawZip({{"Foo.vst3/a", "abc", unixAttr(kFileMode | 0644), 0, 0, 0x1234u}}),
         "cannot unpack Foo.vst3/a"},
        {"stored size short", rawZip({{"Foo.vst3/a", "abc", unixAttr(kFileMode | 0644), 0, 0, std::nullopt, 2u}}),
         "cannot unpack Foo.vst3/a"},
        {"bzip2 method over raw bytes", rawZip({{"Foo.vst3/a", "abc", unixAttr(kFileMode | 0644), 12}}),
         "cannot unpack Foo.vst3/a: the compression method is not supported"},
        {"encrypted", rawZip({{"Foo.vst3/a", "abc", unixAttr(kFileMode | 0644), 0, 1}}), "cannot unpack Foo.vst3/a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(run(c.zip, error));
        EXPECT_EQ(error, c.error);
    }
}

std::string fromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Entries compressed soundly with a method other than store and deflate are refused by the
// method check itself, even where libzip could read them (bzip2).
TEST_F(Unpack, OtherCompressionMethodsAreRefused) {
    const std::string body = std::string("Ardune Systems test body\n") + "Ardune Systems test body\n" +
                             "Ardune Systems test body\n" + "Ardune Systems test body\n";
    ZipItem bzip2 = zipFile("Foo.vst3/a", body);
    bzip2.method = ZIP_CM_BZIP2;
    // The compressed bodies of the same text, made by python's zipfile (LZMA, with its end
    // marker: flag bit 1) and by the zstd tool (a frame without checksum).
    const std::string lzma = fromHex(
        "090405005d0000800000209c888788ec50190746fefb5e79453257761d2d67af7704a78009737d1e2ffffff61af800");
    const std::string zstd =
        fromHex("28b52ffd0058050100c8417264756e652053797374656d73207465737420626f64790a010021a3730c");
    const uint32_t file = unixAttr(kFileMode | 0644);
    struct Case {
        const char* what;
        std::string zip;
    } cases[] = {
        {"bzip2", makeZip({zipFile("Foo.vst3/ok", "ok"), bzip2})},
        {"lzma", rawZip({{"Foo.vst3/ok", "ok"}, {"Foo.vst3/a", lzma, file, 14, 2, crc32Of(body), uint32_t(body.size())}})},
        {"zstd", rawZip({{"Foo.vst3/ok", "ok"}, {"Foo.vst3/a", zstd, file, 93, 0, crc32Of(body), uint32_t(body.size())}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.zip.empty());
        std::string error;
        EXPECT_FALSE(run(c.zip, error));
        EXPECT_EQ(error, "cannot unpack Foo.vst3/a: the compression method is not supported");
        EXPECT_FALSE(exists(dest() + "/Foo.vst3/a"));
        fs::remove_all(path("box"));
    }
    // The bzip2 fixture is sound: libzip reads it back whole.
    zip_error_t zerr;
    zip_error_init(&zerr);
    zip_source_t* src = zip_source_buffer_create(cases[0].zip.data(), cases[0].zip.size(), 0, &zerr);
    zip_t* z = src ? zip_open_from_source(src, ZIP_RDONLY, &zerr) : nullptr;
    zip_error_fini(&zerr);
    ASSERT_NE(z, nullptr);
    zip_file_t* f = zip_fopen(z, "Foo.vst3/a", 0);
    ASSERT_NE(f, nullptr);
    std::string back(body.size() + 1, '\0');
    EXPECT_EQ(zip_fread(f, back.data(), back.size()), zip_int64_t(body.size()));
    back.resize(body.size());
    EXPECT_EQ(back, body);
    zip_fclose(f);
    zip_discard(z);
}

TEST_F(Unpack, DeflatedEntryMustMatchDeclaredSizeAndCrc) {
    const std::string body(3000, 'a');
    const std::string good = makeZip({zipFile("Foo.vst3/a", body, 0644, true)});
    ASSERT_FALSE(good.empty());
    std::string error;
    ASSERT_TRUE(run(good, error)) << error;
    struct Case {
        const char* what;
        size_t local, central;
        uint32_t value;
    } cases[] = {
        {"declared shorter", 22, 24, 2999},
        {"declared longer", 22, 24, 3001},
        {"wrong crc", 14, 16, crc32Of(body) ^ 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string zip = good;
        patch32(zip, c.local, c.central, c.value);
        EXPECT_FALSE(run(zip, error));
        EXPECT_EQ(error, "cannot unpack Foo.vst3/a");
    }
}

TEST_F(Unpack, RepeatedAndClashingNames) {
    const uint32_t dir = unixAttr(kDirMode | 0755);
    std::string error;
    ASSERT_TRUE(run(rawZip({{"Foo.vst3/a", "first"}, {"Foo.vst3/a", "second"}}), error)) << error;
    EXPECT_EQ(readFile(dest() + "/Foo.vst3/a"), "second");
    fs::remove_all(path("box"));

    EXPECT_FALSE(run(rawZip({{"Foo.vst3/a", "file"}, {"Foo.vst3/a/b", "below"}}), error));
    EXPECT_EQ(error, "cannot write " + dest() + "/Foo.vst3/a/b");
    fs::remove_all(path("box"));

    EXPECT_FALSE(run(rawZip({{"Foo.vst3/a", "file"}, {"Foo.vst3/a/", "", dir}}), error));
    EXPECT_EQ(error.rfind("cannot create " + dest() + "/Foo.vst3/a: ", 0), 0u) << error;
}

}  // namespace

namespace {

// Reads the file name in the folder fd, or "" when it cannot.
std::string readAt(int fd, const char* name) {
    const int f = ::openat(fd, name, O_RDONLY | O_CLOEXEC);
    if (f < 0) return {};
    std::string out(256, '\0');
    const ssize_t n = ::read(f, out.data(), out.size());
    ::close(f);
    out.resize(n > 0 ? size_t(n) : 0);
    return out;
}

// A sound package far deeper than any path the system takes whole: a chain of 2,000 folders
// (6,000 bytes of names), two files in each, one written on the way down and one on the way
// back up, and a link at the bottom to a file two folders up.
TEST_F(Unpack, DeepTreeAsRootAndAsAnotherUser) {
    constexpr int kLevels = 2000;
    std::vector<ZipItem> items;
    std::string folder = "Foo.vst3/";
    std::vector<std::string> folders;
    for (int level = 0; level < kLevels; ++level) {
        folders.push_back(folder);
        items.push_back(zipDir(folder));
        items.push_back(zipFile(folder + "a", "down " + std::to_string(level)));
        folder += "dd/";
    }
    for (int level = kLevels - 1; level >= 0; --level) items.push_back(zipFile(folders[level] + "b", "up " + std::to_string(level)));
    items.push_back(zipLink(folders.back() + "up", "../../a"));
    const std::string zip = makeZip(items);
    ASSERT_FALSE(zip.empty());

    // Every level holds its two files and its folder; the link reads the top file.
    auto check = [&]() {
        tqm::detail::DirFd fd(::open((dest() + "/Foo.vst3").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        for (int level = 0; level < kLevels; ++level) {
            if (readAt(fd.get(), "a") != "down " + std::to_string(level) ||
                readAt(fd.get(), "b") != "up " + std::to_string(level)) {
                ADD_FAILURE() << "level " << level;
                return;
            }
            if (level + 1 < kLevels) fd = tqm::detail::DirFd(::openat(fd.get(), "dd", O_PATH | O_DIRECTORY | O_CLOEXEC));
        }
        EXPECT_EQ(readAt(fd.get(), "up"), "down " + std::to_string(kLevels - 3));
    };
    std::string error;
    ASSERT_TRUE(run(zip, error)) << error;
    check();
    tqm::detail::removeAll(path("box"));
    ASSERT_FALSE(exists(path("box")));

    if (::geteuid() != 0) GTEST_SKIP() << "needs root to unpack as another account (done as this one)";
    ASSERT_EQ(::chown(temp.dir().c_str(), 65534, 65534), 0);
    pid_t child = fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(2);
        std::string e;
        if (run(zip, e)) _exit(0);
        std::fprintf(stderr, "as another user: %s\n", e.substr(0, 300).c_str());
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    check();
    tqm::detail::removeAll(path("box"));
}

}  // namespace
