// Root never passes a link that someone else can change on the way to what it writes, renames
// or deletes; links only root can change are passed, and other users keep following theirs.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "engine/catalog.h"
#include "engine/install_folder.h"
#include "engine/jobs.h"
#include "engine/safe_path.h"
#include "tests/support/job_fixture.h"
#include "tests/support/lock_holder.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

constexpr uid_t kNobody = 65534;
const std::string kRefused = ": a folder on the way is a link the user can change; not touched";

// A link at `at` to the folder `to` (made), owned by `owner`.
void plantLink(const std::string& to, const std::string& at, uid_t owner) {
    fs::create_directories(to);
    fs::create_directory_symlink(to, at);
    ASSERT_EQ(::lchown(at.c_str(), owner, owner), 0);
}

bool asNobody(const std::function<bool()>& body) { return testsupport::asUser(kNobody, body); }

TEST(SafePath, WhichLinksRootPasses) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    struct Case {
        const char* what;
        uid_t folderOwner;
        mode_t folderMode;
        uid_t linkOwner;
        bool relative;  // link text relative to its folder
        bool passed;
    } cases[] = {
        {"root's link in root's folder", 0, 0755, 0, false, true},
        {"relative text", 0, 0755, 0, true, true},
        {"in a sticky folder open to all", 0, 01777, 0, false, true},
        {"the link is another user's", 0, 0755, kNobody, false, false},
        {"the folder is another user's", kNobody, 0755, 0, false, false},
        {"the folder is open to all", 0, 0777, 0, false, false},
        {"the folder is open to its group", 0, 0775, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempHome temp;
        const std::string folder = temp.path("f");
        fs::create_directories(folder);
        fs::create_directories(temp.path("victim"));
        fs::create_directory_symlink(c.relative ? "../victim" : temp.path("victim"), folder + "/link");
        ASSERT_EQ(::lchown((folder + "/link").c_str(), c.linkOwner, c.linkOwner), 0);
        ASSERT_EQ(::chown(folder.c_str(), c.folderOwner, c.folderOwner), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);

        tqm::detail::DirFd fd;
        EXPECT_EQ(tqm::detail::openDir(folder + "/link/a/b", fd, true), c.passed ? 0 : tqm::detail::kLinkRefused);
        EXPECT_EQ(exists(temp.path("victim/a/b")), c.passed);
    }

    // A passed link leading to a folder that holds another user's link.
    TempHome temp;
    plantLink(temp.path("victim"), temp.path("outer"), 0);
    plantLink(temp.path("inner"), temp.path("victim/link"), kNobody);
    tqm::detail::DirFd fd;
    std::string name;
    EXPECT_EQ(tqm::detail::openParent(temp.path("outer/link/x"), fd, name), tqm::detail::kLinkRefused);
    EXPECT_EQ(tqm::detail::openParent(temp.path("outer/x"), fd, name), 0);
    EXPECT_EQ(name, "x");
}

// What is renamed, written or deleted is named by its last component: "..", "." or nothing
// there would act on a folder above or on the folder itself, so they are refused.
TEST(SafePath, LastComponentMustBeAName) {
    TempHome temp;
    fs::create_directories(temp.path("a/b"));
    for (const std::string& p : {temp.path("a/b/.."), temp.path("a/b/."), temp.path("a/b/"), std::string(".."),
                                 std::string("."), std::string("")}) {
        SCOPED_TRACE(p);
        tqm::detail::DirFd fd;
        std::string name;
        EXPECT_EQ(tqm::detail::openParent(p, fd, name), EINVAL);
        EXPECT_EQ(fd.get(), -1);
    }
    EXPECT_EQ(tqm::detail::removeAll(temp.path("a/b/..")), EINVAL);
    EXPECT_TRUE(exists(temp.path("a/b")));
}

// Where no link needs refusing, root's walk ends where the system's own lookup does, or fails
// as it does: ".", "..", doubled and trailing "/", relative paths, loops, files on the way.
TEST(SafePath, RootWalkAnswersAsTheSystem) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    TempHome temp;
    fs::create_directories(temp.path("a/b/c"));
    writeFile(temp.path("a/file"), "x");
    fs::create_directory_symlink("b", temp.path("a/lb"));
    fs::create_directory_symlink("../a/b/c", temp.path("a/b/up"));
    fs::create_directory_symlink("loop2", temp.path("a/loop1"));
    fs::create_directory_symlink("loop1", temp.path("a/loop2"));
    fs::create_symlink("file", temp.path("a/lfile"));
    fs::create_symlink("missing", temp.path("a/dangling"));
    const std::string cwd = fs::current_path().string();
    ASSERT_EQ(::chdir(temp.path("a").c_str()), 0);
    for (const char* path : {"/", "/..", ".", "..", "b", "b/", "b//c", "./b/./c/", "b/../b/c", "lb/c", "lb/../b",
                             "b/up", "b/up/..", "loop1", "loop1/x", "file", "file/x", "lfile", "dangling", "missing",
                             ""}) {
        SCOPED_TRACE(std::string("\"") + path + "\"");
        const int system = ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int systemErr = system < 0 ? errno : 0;
        tqm::detail::DirFd fd;
        EXPECT_EQ(tqm::detail::openDir(path, fd), systemErr);
        struct stat want {}, got {};
        if (system >= 0 && fd.get() >= 0 && ::fstat(system, &want) == 0 && ::fstat(fd.get(), &got) == 0) {
            EXPECT_TRUE(want.st_dev == got.st_dev && want.st_ino == got.st_ino);
        }
        if (system >= 0) ::close(system);
    }
    ASSERT_EQ(::chdir(cwd.c_str()), 0);

    // Many missing folders made in one walk are not taken for a loop of links.
    std::string deep = temp.path("deep");
    for (int i = 0; i < 50; ++i) deep += "/d";
    tqm::detail::DirFd fd;
    EXPECT_EQ(tqm::detail::openDir(deep, fd, true), 0);
    EXPECT_TRUE(fs::is_directory(deep));
}

class RootLinks : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        ASSERT_TRUE(engine.download(*loaded.catalog.find("synth"), "vst3", vst3Zip, error, {})) << error;
        ASSERT_TRUE(engine.download(*loaded.catalog.find("synth"), "clap", clapZip, error, {})) << error;
        ASSERT_TRUE(engine.downloadSelf(managerZip, error, {})) << error;
        logLines.clear();
    }
    std::string victim(const std::string& rel) const { return path("victim/" + rel); }

    std::string vst3Zip, clapZip, managerZip, error;
};

// Each operation that writes as root, through a link planted in a folder on its way: another
// user's link is refused and the folder it leads to is untouched; root's own link is passed.
TEST_F(RootLinks, EveryWriteAsRootRefusesAnotherUsersLink) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    const std::string job = path("job.json");
    writeFile(job, tqm::jobs::jobText(engine.layout.userData(), {}, {}));
    struct Case {
        const char* what;
        std::string link;                           // planted here, leading into the victim folder
        std::function<void()> prepare;              // after the link is planted
        std::function<void(std::string&)> act;      // sets the error text, empty when it went through
        std::string named;                          // the start of the path the refusal names
        std::string mark;                           // in the victim folder
        bool markedWhenRefused;                     // the mark is there after a refusal (and not after a pass)
    } cases[] = {
        {"remove a plug-in", path("old"),
         [&] {
             writeFile(victim("Ardune Systems/Synth.vst3/Contents/x"), "x");
             engine.receipt.plugins["synth"].formats["vst3"].path = path("old/Ardune Systems/Synth.vst3");
         },
         [&](std::string& e) { engine.remove("synth", "vst3", e); }, path("old/Ardune Systems/Synth.vst3"),
         victim("Ardune Systems/Synth.vst3"), true},
        {"remove an app", path("apps"),
         [&] {
             writeFile(victim("Studio.app/Contents/MacOS/Studio"), "x");
             engine.apps.plugins["studio"].formats["app"].path = path("apps/Studio.app");
         },
         [&](std::string& e) { engine.remove("studio", "app", e); }, path("apps/Studio.app"), victim("Studio.app"),
         true},
        {"purge", path("root/AppData"), [&] { writeFile(victim("Ardune Systems/Studio/x"), "x"); },
         [&](std::string& e) { engine.purge("studio", "user", e); }, data("AppData", "Studio"),
         victim("Ardune Systems/Studio"), true},
        {"the copy in the previous folder", path("old"),
         [&] {
             writeFile(victim("Ardune Systems/Synth.vst3/Contents/x"), "x");
             engine.receipt.plugins["synth"].formats["vst3"].path = path("old/Ardune Systems/Synth.vst3");
         },
         [&](std::string& e) {
             ASSERT_TRUE(engine.install(*loaded.catalog.find("synth"), "vst3", vst3Zip, e)) << e;
             e = logLines.size() > 1 && logLines[1].find(kRefused) != std::string::npos ? logLines[1] : "";
         },
         path("old/Ardune Systems/Synth.vst3"), victim("Ardune Systems/Synth.vst3"), true},
        {"install into a linked folder", path("plugins"), [&] { engine.layout.folders["clap"] = path("plugins/CLAP"); },
         [&](std::string& e) { engine.install(*loaded.catalog.find("synth"), "clap", clapZip, e); },
         path("plugins/CLAP/Ardune Systems"), victim("CLAP/Ardune Systems/Synth.clap"), false},
        {"self-update", path("mine"),
         [&] {
             writeFile(victim("Manager.app/Contents/MacOS/manager"), "old");
             engine.program = path("mine/Manager.app");
         },
         [&](std::string& e) { engine.replaceSelf(managerZip, e); }, path("mine/.tqm-staging-"),
         victim("Manager.app/Contents/Info.plist"), false},
        {"receipt", path("rdata"), [] {}, [&](std::string& e) { engine.receipt.save(path("rdata/installed.json"), e); },
         path("rdata/installed.json"), victim("installed.json"), false},
        {"result file", path("jobs"), [] {},
         [&](std::string& e) {
             e = tqm::applyJob(engine.layout, job, path("jobs/result.txt"), catalog.publicKeyHex()) ? "failed" : "";
         },
         "", victim("result.txt"), false},
        {"job files", path("jl"), [] {},
         [&](std::string& e) {
             tqm::Layout layout;
             layout.root = path("jl/root");
             std::vector<std::string> results;
             tqm::runElevated(layout, {}, "/bin/true", "--tqm-apply", results, e, {});
             if (e.rfind("cannot start the elevated helper", 0) == 0) e.clear();  // no helper runs here
         },
         path("jl/root/data/jobs"), victim("root/data/jobs/job.json"), false},
        {"sweep", path("swept"),
         [&] {
             writeFile(victim("VST3/Ardune Systems/.tqm-old-00000000-Foo.vst3/x"), "x");  // goes back to Foo.vst3
             engine.layout.folders["vst3"] = path("swept/VST3");
         },
         [&](std::string&) { engine.sweep(); }, "", victim("VST3/Ardune Systems/.tqm-old-00000000-Foo.vst3"), true},
    };
    for (const Case& c : cases) {
        for (uid_t owner : {kNobody, uid_t(0)}) {
            SCOPED_TRACE(std::string(c.what) + (owner ? ", another user's link" : ", root's link"));
            const tqm::Engine before = engine;
            plantLink(path("victim"), c.link, owner);
            c.prepare();
            logLines.clear();
            std::string e;
            c.act(e);
            const bool refused = owner != 0;
            EXPECT_EQ(exists(c.mark), refused == c.markedWhenRefused);
            if (!refused) {
                EXPECT_EQ(e, "");
            } else if (!c.named.empty()) {
                EXPECT_TRUE(e.rfind(c.named, 0) == 0 && e.size() > kRefused.size() &&
                            e.compare(e.size() - kRefused.size(), kRefused.size(), kRefused) == 0)
                    << e;
            }
            fs::remove(c.link);
            fs::remove_all(path("victim"));
            engine.layout = before.layout;
            engine.receipt = before.receipt;
            engine.apps = before.apps;
            engine.program.clear();
        }
    }
}

// Root's sweep records only what root itself noted: in a format folder the user owns, a note the
// user planted, or root's own reached through the user's link, changes nothing; a removal note
// counts only for the recorded copy in the note's own folder. The log names the record changed.
TEST_F(RootLinks, RootAppliesOnlyTheNotesItWroteItself) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    const std::string machine = path("machine/Delay.vst3"), here = vst3() + "/Delay.vst3", gone = vst3() + "/Gone.vst3";
    const auto removal = [](const std::string& at, const std::string& recorded) {
        return R"({"op": "remove", "id": "delay", "format": "vst3", "path": ")" + at + R"(", "recorded": ")" + recorded +
               R"("})";
    };
    struct stat copy {};
    ASSERT_TRUE(fs::create_directories(vst3() + "/Synth.vst3") && ::stat((vst3() + "/Synth.vst3").c_str(), &copy) == 0);
    const std::string install = R"({"id": "synth", "format": "vst3", "item": "Synth.vst3", "dev": ")" +
                                std::to_string(copy.st_dev) + R"(", "ino": ")" + std::to_string(copy.st_ino) +
                                R"(", "version": "1.0.0", "path": ")" + vst3() + R"(/Synth.vst3"})";
    fs::create_directories(path("secret"));
    ASSERT_EQ(::chmod(path("secret").c_str(), 0700), 0);
    ASSERT_EQ(::chown(vst3().c_str(), kNobody, kNobody), 0);
    const struct {
        const char* what;
        std::string text, recordAt;  // the note; where delay's record names its (missing) copy
        uid_t owner;
        bool linked;  // the note is root's, in a root-only folder, reached through the user's link
        bool applied;
    } cases[] = {
        {"a user's removal note", removal(gone, machine), machine, kNobody, false, false},
        {"a user's install note", install, machine, kNobody, false, false},
        {"root's note through the user's link", removal(here, here), here, 0, true, false},
        {"a path other than the recorded one", removal(gone, here), here, 0, false, false},
        {"a copy in another folder", removal(machine, machine), machine, 0, false, false},
        {"root's note of its own folder", removal(here, here), here, 0, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tqm::Engine root = engine;
        root.receipt = tqm::Receipt();
        root.receipt.plugins["delay"].formats["vst3"] = {"1.0.0", c.recordAt, "", "", "", ""};
        ASSERT_TRUE(root.receipt.save(engine.layout.receiptFile(), error)) << error;
        const std::string note = vst3() + "/.tqm-record-planted";
        if (c.linked) {
            ASSERT_TRUE(writeFile(path("secret/note"), c.text));
            ASSERT_EQ(::symlink(path("secret/note").c_str(), note.c_str()), 0);
        } else {
            ASSERT_TRUE(writeFile(note, c.text));
        }
        ASSERT_EQ(::lchown(note.c_str(), c.owner, c.owner), 0);
        logLines.clear();
        root.settleInstalls("vst3");
        ASSERT_TRUE(root.loadReceipt(error)) << error;
        EXPECT_EQ(root.receipt.plugins.count("delay"), c.applied ? 0u : 1u);
        EXPECT_EQ(root.receipt.plugins.count("synth"), 0u);
        EXPECT_EQ(logLines, c.applied ? std::vector<std::string>{"dropped the record of delay vst3 1.0.0 at " + here +
                                                                  " (its removal was cut off before recording it)"}
                                      : std::vector<std::string>{});
        fs::remove(note);
    }
}

// Another user (not root) keeps following links in its own folders as before.
TEST_F(RootLinks, OtherUsersFollowTheirOwnLinks) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
    plantLink(path("victim"), path("old"), kNobody);
    writeFile(victim("Ardune Systems/Synth.vst3/Contents/x"), "x");
    engine.receipt.plugins["synth"].formats["vst3"].path = path("old/Ardune Systems/Synth.vst3");
    for (auto& e : fs::recursive_directory_iterator(temp.dir()))
        ::lchown(e.path().c_str(), kNobody, kNobody);
    ::chown(temp.dir().c_str(), kNobody, kNobody);
    EXPECT_TRUE(asNobody([&] {
        std::string e;
        engine.layout.folders["clap"] = path("old/CLAP");
        return engine.remove("synth", "vst3", e) && !exists(victim("Ardune Systems/Synth.vst3")) &&
               engine.install(*loaded.catalog.find("synth"), "clap", clapZip, e) &&
               exists(victim("CLAP/Ardune Systems/Synth.clap"));
    }));
}

}  // namespace

// The copy an update removes from a previous folder goes as a removal does: a link below that
// folder's parent (the maker's folder, one inside it, a format folder in the managed tree) is
// never passed, whoever owns the tree and whoever installs. The new copy is in place either way.
TEST_F(RootLinks, PreviousCopyIsNeverReachedThroughALink) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
    const std::string managed = engine.layout.formatRoot("vst3"), maker = "/Ardune Systems";
    const struct {
        std::string link, previous, reached;  // reached: what previous names, in the victim folder
    } cases[] = {
        {path("old/VST3") + maker, path("old/VST3") + maker + "/Synth.vst3", "Synth.vst3"},
        {vst3() + maker, vst3() + maker + "/Synth.vst3", "Synth.vst3"},
        {managed + "/Old", managed + "/Old" + maker + "/Synth.vst3", maker.substr(1) + "/Synth.vst3"},
    };
    const struct {
        uid_t owner;   // of the tree and the link
        bool asOwner;  // the install runs as that owner
    } whos[] = {{0, false}, {kNobody, false}, {kNobody, true}};
    const tqm::Plugin& synth = *loaded.catalog.find("synth");
    for (const auto& c : cases) {
        for (const auto& who : whos) {
            SCOPED_TRACE(c.link + (who.asOwner ? ", as its owner " : ", as root, owner ") + std::to_string(who.owner));
            fs::create_directories(vst3());
            fs::create_directories(fs::path(c.link).parent_path());
            writeFile(victim(c.reached + "/Contents/x"), "x");
            fs::create_directory_symlink(path("victim"), c.link);
            engine.receipt.plugins["synth"].formats["vst3"].path = c.previous;
            for (auto& e : fs::recursive_directory_iterator(temp.dir())) ::lchown(e.path().c_str(), who.owner, who.owner);
            ::chown(temp.dir().c_str(), who.owner, who.owner);
            logLines.clear();
            const auto install = [&] {
                std::string e;
                return engine.install(synth, "vst3", vst3Zip, e) && exists(vst3() + "/Synth.vst3/Contents/Info.plist") &&
                       std::find(logLines.begin(), logLines.end(), c.previous + kRefused) != logLines.end();
            };
            EXPECT_TRUE(who.asOwner ? asNobody(install) : install());
            EXPECT_TRUE(exists(victim(c.reached + "/Contents/x")));
            for (const std::string& p : {path("victim"), path("old"), managed}) fs::remove_all(p);
            engine.receipt = tqm::Receipt();
        }
    }
}
