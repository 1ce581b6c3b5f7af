// The install-folder protocol at the moments between two of its steps: notes written while another
// data folder sweeps, users sharing a folder with root and with each other, a full disk, a staging
// folder swapped under its writer, and a sweep meeting a writer that dies between its listing and
// its lock. Each moment is reached through a seam in one process (forked children where a writer is
// killed or runs as another user).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "engine/atomic_write.h"
#include "engine/catalog.h"
#include "engine/install_folder.h"
#include "engine/jobs.h"
#include "json/json.h"
#include "tests/support/at_step.h"
#include "tests/support/job_fixture.h"
#include "tests/support/lock_holder.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

constexpr uid_t kUserA = 65534, kUserB = 65533;
using Step = tqm::detail::RenameStep;
using CopyId = tqm::detail::CopyId;

class InstallFolderTest : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        publishTwoVersions();
        engine.catalog = &versions[0].catalog;
        engine.log = nullptr;
    }

    const tqm::Plugin& synth(int v) const { return *versions[v].catalog.find("synth"); }
    std::string zip(int v, const std::string& format) const {
        return readFile(path("source/plugins/Synth-" + std::string(v ? "2.0.0" : "1.0.0") + "." + format + ".zip"));
    }

    // Installs synth's format (format "app": studio) at version v with e, in a child (as uid when
    // given) killed right after the copy moved in, or between the renames of its move in; true when
    // it got there (betweenRenames: killed at the step `at`).
    bool killedIn(tqm::Engine e, const std::string& format, int v, uid_t uid = 0, bool betweenRenames = false,
                  Step at = Step::In) const {
        const bool app = format == "app";
        const std::string data =
            app ? readFile(path(std::string("source/apps/Studio-") + (v ? "2.0.0" : "1.0.0") + ".zip")) : zip(v, format);
        const pid_t child = ::fork();
        if (child == 0) {
            if (uid != 0 && (::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(2);
            e.log = [](const std::string& line) {
                if (line.rfind("installed ", 0) == 0) ::_exit(0);
            };
            const AtStep kill(at, [&] { return betweenRenames ? (::_exit(0), 0) : 0; });
            std::string error;
            app ? e.installApp(*versions[v].catalog.find("studio"), data, error) : e.install(synth(v), format, data, error);
            ::_exit(1);
        }
        int status = 0;
        return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    static std::string recorded(const tqm::Layout& layout, const std::string& id, const std::string& format) {
        tqm::Receipt r;
        std::string error;
        if (!r.load(format == "app" ? layout.appsReceiptFile() : layout.receiptFile(), error)) return "unreadable";
        const auto it = r.plugins.find(id);
        return it == r.plugins.end() || !it->second.formats.count(format) ? "" : it->second.formats.at(format).version;
    }

    // Whether e's receipts, as read, say what is on disk of id's format.
    static bool recordAgrees(const tqm::Engine& e, const std::string& id, const std::string& format) {
        const bool app = format == "app";
        const auto& plugins = (app ? e.apps : e.receipt).plugins;
        const std::string item = e.layout.formatDir(format) + (app ? "/Studio.app" : "/Synth.vst3");
        const auto product = plugins.find(id);
        if (product == plugins.end() || !product->second.formats.count(format)) return !exists(item);
        return readFile(item + "/Contents/Info.plist") ==
               (app ? "Studio " : "vst3 ") + product->second.formats.at(format).version;
    }

    static int protocolEntries(const std::string& dir) {
        int n = 0;
        for (const std::string& name : entryNames(dir)) n += leftover(name);
        return n;
    }

    // Another data folder whose settings name `format`'s folder as this one's VST3 folder.
    tqm::Layout sharing(const std::string& root, const std::string& format) const {
        tqm::Layout other;
        other.root = path(root);
        other.folders[format] = engine.layout.formatRoot("vst3");
        return other;
    }

};

// Another process swaps root's aside copy with another copy (Reverb) after the move aside (at an
// update's move in) or as the deletion begins: Reverb stays whole, also swept, and the job fails saying so.
TEST_F(InstallFolderTest, ADeleterDeletesOnlyTheCopyItMovedAside) {
    const std::string reverb = vst3() + "/Reverb.vst3";
    const auto allPlists = [&] {
        std::string found;
        for (const std::string& name : entryNames(vst3())) found += readFile(vst3() + "/" + name + "/Contents/Info.plist");
        return found;
    };
    for (const auto& [op, at] : {std::pair{"install", Step::In}, std::pair{"remove", Step::Gone}}) {
        SCOPED_TRACE(op);
        fs::remove_all(path("root"));
        std::string error, aside;
        ASSERT_TRUE(engine.install(synth(0), "vst3", zip(0, "vst3"), error) && engine.loadReceipt(error)) << error;
        ASSERT_TRUE(writeFile(reverb + "/Contents/Info.plist", "reverb"));
        {
            const AtStep swap(at, [&] {
                for (const std::string& name : entryNames(vst3()))
                    if (name.rfind(".tqm-old-", 0) == 0) aside = name;
                const std::string from = vst3() + "/" + aside;
                return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, reverb.c_str(), RENAME_EXCHANGE);
            });
            EXPECT_FALSE(tqm::runTask(engine, {op, "synth", "vst3"}, nullptr, error));
        }
        EXPECT_NE(error.find("another process put something else at " + aside + ": left alone"), std::string::npos);
        EXPECT_EQ(readFile(vst3() + "/" + aside + "/Contents/Info.plist") + readFile(reverb + "/Contents/Info.plist"),
                  "reverbvst3 1.0.0");
        EXPECT_TRUE(engine.sweep(&error)) << error;  // and no sweep takes Reverb for that copy
        EXPECT_NE(allPlists().find("reverb"), std::string::npos);
    }
    // A removal killed once its copy is aside, Reverb swapped in there: the next sweep leaves it.
    fs::remove_all(path("root"));
    std::string error;
    ASSERT_TRUE(engine.install(synth(0), "vst3", zip(0, "vst3"), error) && engine.loadReceipt(error)) << error;
    ASSERT_TRUE(writeFile(reverb + "/Contents/Info.plist", "reverb"));
    if (const pid_t child = ::fork(); child == 0) {
        const AtStep killed(Step::Gone, [&] {
            for (const std::string& name : entryNames(vst3()))
                if (name.rfind(".tqm-old-", 0) == 0)
                    ::renameat2(AT_FDCWD, (vst3() + "/" + name).c_str(), AT_FDCWD, reverb.c_str(), RENAME_EXCHANGE);
            return ::_exit(0), 0;
        });
        tqm::runTask(engine, {"remove", "synth", "vst3"}, nullptr, error);
        ::_exit(1);
    } else {
        int status = 0;
        ASSERT_TRUE(::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_TRUE(engine.sweep(&error)) << error;
    EXPECT_NE(allPlists().find("reverb"), std::string::npos);
}

// An old copy its update could not delete keeps that update's note, and goes at the next sweep.
TEST_F(InstallFolderTest, AnOldCopyItsUpdateCouldNotDeleteGoesAtTheNextSweep) {
    std::string error;
    ASSERT_TRUE(engine.install(synth(0), "vst3", zip(0, "vst3"), error)) << error;
    {
        const AtStep refuse(Step::Gone, [] { return EACCES; });
        ASSERT_TRUE(engine.install(synth(1), "vst3", zip(1, "vst3"), error)) << error;
    }
    EXPECT_GT(entryNames(vst3()).size(), 1u);
    EXPECT_TRUE(engine.sweep(&error)) << error;
    EXPECT_EQ(entryNames(vst3()), std::vector<std::string>{"Synth.vst3"});
    EXPECT_EQ(readFile(vst3() + "/Synth.vst3/Contents/Info.plist"), "vst3 2.0.0");
}

// A sweep putting a file back never replaces a writer's new copy moved in at its name meanwhile.
TEST_F(InstallFolderTest, ASweepNeverRestoresOverANameTakenMeanwhile) {
    const std::string dir = path("presets"), name = dir + "/Preset.bin", aside = dir + "/.tqm-old-0000dead-Preset.bin";
    std::string error;
    ASSERT_TRUE(writeFile(aside, "old"));
    const AtStep writer(Step::Restore, [&] { return writeFile(name, "new") ? 0 : EIO; });
    EXPECT_TRUE(tqm::detail::sweepFolder(dir, {}, [] { return false; }, error)) << error;
    EXPECT_EQ(readFile(name) + readFile(aside), "newold");
}

// An update killed halfway through deleting its old copy; a start, a removal and a sweep: none puts it back.
TEST_F(InstallFolderTest, AHalfDeletedCopyIsNeverPutBack) {
    std::string error;
    ASSERT_TRUE(engine.install(synth(0), "vst3", zip(0, "vst3"), error)) << error;
    ASSERT_TRUE(killedIn(engine, "vst3", 1, 0, true, Step::Up));
    engine.startSweep();
    EXPECT_TRUE(engine.loadReceipt(error) && tqm::runTask(engine, {"remove", "synth", "vst3"}, nullptr, error));
    EXPECT_TRUE(engine.sweep(&error)) << error;
    EXPECT_EQ(entryNames(vst3()), std::vector<std::string>{});
    EXPECT_EQ(recorded(engine.layout, "synth", "vst3"), "");
}

// Another data folder's update killed before deleting the old copy (noted by a dead install here): its
// sweep deletes that copy with the notes that name it, and only those (copies alike or told apart).
TEST_F(InstallFolderTest, ADeletedCopyTakesOnlyItsOwnNotesWithIt) {
    for (const bool alike : {true, false}) {
        SCOPED_TRACE(alike ? "every copy alike" : "copies told apart");
        for (const char* root : {"root", "root2"}) fs::remove_all(path(root));
        tqm::detail::identityFault = alike ? +[](const CopyId& id) { return CopyId{id.dev, "1", ""}; } : nullptr;
        tqm::Engine other = engine;
        other.layout = sharing("root2", "vst3");
        other.layout.folders["clap"] = other.layout.folders["vst3"];
        ASSERT_TRUE(killedIn(engine, "vst3", 0) && killedIn(other, "clap", 0) &&
                    killedIn(other, "vst3", 1, 0, true, Step::Gone));
        EXPECT_TRUE(other.sweep());
        tqm::Engine(engine).startSweep();
        tqm::detail::identityFault = nullptr;
        EXPECT_EQ(recorded(engine.layout, "synth", "vst3"), "") << "a note outlived the copy it names";
        EXPECT_EQ(recorded(other.layout, "synth", "vst3") + recorded(other.layout, "synth", "clap"),
                  alike ? "2.0.0" : "2.0.01.0.0");
    }
}

// A deletion climbs back only the way it came down: a folder moved out meanwhile stops it there.
TEST_F(InstallFolderTest, ADeletionStaysInsideTheCopy) {
    const std::string copy = path("box/Synth.vst3/a"), outside = path("box/outside");
    for (const char* name : {"d1", "d2", "d3", "d4", "d5"})
        ASSERT_TRUE(writeFile(copy + "/" + name + "/f", "") && writeFile(outside + "/" + name, "!"));
    const AtStep move(Step::Up, [&] {  // the folder the walk leaves, now empty, moves out
        for (const std::string& name : entryNames(copy))
            if (entryNames(copy + "/" + name).empty() && fs::remove(outside + "/" + name))
                fs::rename(copy + "/" + name, outside + "/" + name);
        return 0;
    });
    EXPECT_NE(tqm::detail::removeAll(path("box/Synth.vst3")), 0);
    EXPECT_EQ(entryNames(outside).size(), 5u);
}

// Another data folder's sweep records a note of its own; meanwhile a job of this data folder updates
// the plug-in in the folder both name and is killed right after its move in. Its note is newer than
// that sweep's listing: it stays, and this data folder's next start records the update.
TEST_F(InstallFolderTest, ANoteWrittenDuringAnotherDataFoldersSweepStaysForItsOwn) {
    std::string error;
    ASSERT_TRUE(engine.install(synth(0), "vst3", zip(0, "vst3"), error)) << error;
    tqm::Engine other;
    other.layout = sharing("root2", "clap");
    other.catalog = &versions[0].catalog;
    ASSERT_TRUE(killedIn(other, "clap", 0));

    bool updated = false;
    other.log = [&](const std::string&) {
        if (updated) return;
        tqm::Engine u = engine;
        u.catalog = &versions[1].catalog;
        updated = killedIn(u, "vst3", 1);
    };
    other.sweep();
    ASSERT_TRUE(updated) << "the other data folder's sweep recorded nothing";
    EXPECT_EQ(recorded(other.layout, "synth", "clap"), "1.0.0");

    tqm::Engine next;
    next.layout = engine.layout;
    next.startSweep();
    EXPECT_EQ(readFile(vst3() + "/Synth.vst3/Contents/Info.plist"), "vst3 2.0.0");
    EXPECT_EQ(recorded(engine.layout, "synth", "vst3"), "2.0.0") << "the update's note was deleted unread";
}

// Folders several users write: root's sweep leaves a user's note for the user's own start, and a
// user's start and sweep neither apply nor remove another user's note.
TEST_F(InstallFolderTest, ANoteCountsOnlyForItsOwnersReceipt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
    ASSERT_EQ(::chmod(temp.dir().c_str(), 0755), 0);
    std::string error;
    ASSERT_TRUE(tqm::detail::createFolder(vst3(), error)) << error;
    ASSERT_EQ(::chmod(vst3().c_str(), 0777), 0);
    for (const char* home : {"a", "b"}) {
        fs::create_directories(path(home));
        ASSERT_EQ(::chown(path(home).c_str(), *home == 'a' ? kUserA : kUserB, 0), 0);
    }
    const tqm::Layout a = sharing("a", "vst3");
    // Whether A's start and sweep leave id at version in A's receipt.
    const auto aRecords = [&](const std::string& id, const std::string& version) {
        return asUser(kUserA, [&] {
            tqm::Engine job;
            job.layout = a;
            job.startSweep();
            job.sweep();
            return recorded(a, id, "vst3") == version;
        });
    };

    // A's install killed after its move in; root's job sweeps the same folder.
    tqm::Engine user;
    user.layout = a;
    user.catalog = &versions[0].catalog;
    ASSERT_TRUE(killedIn(user, "vst3", 0, kUserA));
    engine.sweep();
    EXPECT_TRUE(aRecords("synth", "1.0.0")) << "root's sweep removed the user's note";

    // B plants a note of a copy of its own, naming no receipt, in the folder A's settings name.
    const std::string evil = vst3() + "/Evil.vst3", planted = vst3() + "/.tqm-record-0000beef";
    ASSERT_TRUE(asUser(kUserB, [&] {
        struct stat st {};
        return ::mkdir(evil.c_str(), 0755) == 0 && ::stat(evil.c_str(), &st) == 0 &&
               writeFile(planted, "{\"id\": \"evil\", \"format\": \"vst3\", \"item\": \"Evil.vst3\", \"dev\": \"" +
                                      std::to_string(st.st_dev) + "\", \"ino\": \"" + std::to_string(st.st_ino) +
                                      "\", \"version\": \"6.6.6\", \"path\": \"" + evil +
                                      "\", \"exe\": \"x\", \"uninstall_key\": \"y\"}\n");
    }));
    // The same note as root's (written before its data folder was) counts for root alone too.
    for (const uid_t writer : {kUserB, uid_t(0)}) {
        ASSERT_EQ(::lchown(planted.c_str(), writer, writer), 0);
        EXPECT_TRUE(aRecords("evil", "")) << writer << "'s note changed A's receipt";
        EXPECT_TRUE(exists(planted)) << writer << "'s note was removed";
    }
}

// A note that cannot be written (a full disk) fails its task before anything moves.
TEST_F(InstallFolderTest, NoMoveWithoutItsNote) {
    std::string error;
    ASSERT_TRUE(engine.install(synth(0), "vst3", zip(0, "vst3"), error)) << error;
    ASSERT_TRUE(engine.loadReceipt(error)) << error;
    engine.catalog = &versions[1].catalog;
    const struct {
        tqm::Task task;
        std::string copy, marker;  // what is on disk before and after
    } cases[] = {
        {{"install", "synth", "vst3"}, vst3() + "/Synth.vst3", "vst3 1.0.0"},
        {{"install", "studio", "app"}, appsDir() + "/Studio.app", ""},
        {{"remove", "synth", "vst3"}, vst3() + "/Synth.vst3", "vst3 1.0.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.task.op + " " + c.task.id);
        error.clear();
        {
            const AtStep full(Step::Note, [] { return ENOSPC; });
            EXPECT_FALSE(tqm::runTask(engine, c.task, nullptr, error));
        }
        EXPECT_NE(error.find(".tqm-record-"), std::string::npos) << error;
        EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
        EXPECT_EQ(readFile(c.copy + "/Contents/Info.plist"), c.marker);
        EXPECT_EQ(recorded(engine.layout, c.task.id, c.task.format), c.marker.empty() ? "" : "1.0.0");
        EXPECT_EQ(protocolEntries(fs::path(c.copy).parent_path().string()), 0);
    }
}

// An elevated install into a folder the user owns: the user swaps root's new staging folder for one
// of their own, holding a prepared copy and a hard link to a file of root's. Root unpacks into, and
// moves in from, only the folder it made and locked, and makes every file new.
TEST_F(InstallFolderTest, RootWorksOnlyInTheStagingFolderItMade) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the folder put at the staging folder's name to a user";
    ASSERT_TRUE(writeFile(path("secret"), "secret"));
    int given = -1;
    engine.log = [&](const std::string& line) {
        if (line.rfind("unpack ", 0) != 0) return;
        const std::string staging = line.substr(line.find(" -> ") + 4);
        fs::rename(staging, path("moved"));
        fs::create_directories(staging + "/Synth.vst3/Contents/MacOS");
        ::link(path("secret").c_str(), (staging + "/Synth.vst3/Contents/Info.plist").c_str());
        writeFile(staging + "/Synth.vst3/Contents/MacOS/prepared", "the user's");
        given = ::chown(staging.c_str(), kUserA, kUserA);
    };
    std::string error;
    EXPECT_TRUE(engine.install(synth(0), "vst3", zip(0, "vst3"), error)) << error;
    ASSERT_EQ(given, 0) << "the user's folder was never put at the staging folder's name";
    EXPECT_EQ(readFile(path("secret")), "secret") << "written through the user's hard link";
    EXPECT_EQ(readFile(vst3() + "/Synth.vst3/Contents/Info.plist"), "vst3 1.0.0");
    EXPECT_FALSE(exists(vst3() + "/Synth.vst3/Contents/MacOS/prepared")) << "the user's copy was moved in";
}

// The staging folder a writer holds is its own: owner-only, and still the one at its name once
// locked (whatever was put there before or after the lock is left alone).
TEST_F(InstallFolderTest, AWritersStagingFolderIsItsOwn) {
    const bool root = ::geteuid() == 0;  // else the folder put at its name is this account's own
    const struct {
        const char* what;
        bool swap;
        Step at;
    } cases[] = {{"nothing happens", false, Step::In},
                 {"a folder put at its name before the lock", true, Step::Made},
                 {"a folder put at its name after the lock", true, Step::Locked}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = path(std::string("dir-") + std::to_string(int(c.at)));
        fs::create_directories(dir);
        std::string error;
        {
            tqm::detail::StagingLock staging;
            bool swapped = !c.swap;
            {
                // Once: the writer's folder goes aside and another user's takes its name.
                const AtStep swap(c.at, [&] {
                    for (const std::string& name : entryNames(dir)) {
                        if (swapped || name.rfind(".tqm-staging-", 0) != 0) continue;
                        swapped = true;
                        fs::rename(dir + "/" + name, dir + "/.away");
                        fs::create_directory(dir + "/" + name);
                        EXPECT_TRUE(!root || ::chown((dir + "/" + name).c_str(), kUserA, kUserA) == 0);
                    }
                    return 0;
                });
                ASSERT_TRUE(staging.make(dir, error)) << error;
            }
            ASSERT_TRUE(swapped);
            struct stat st {};
            ASSERT_EQ(::lstat(staging.path().c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u);
            EXPECT_EQ(st.st_uid, ::geteuid());
            const int other = ::open(staging.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0) << "the folder at its name is not the locked one";
            ::close(other);
        }
        for (const std::string& name : entryNames(dir)) {
            if (name.rfind(".tqm-staging-", 0) == 0) {
                EXPECT_TRUE(c.swap) << "left " << name;
            }
        }
    }
    if (!root) GTEST_SKIP() << "needs root to put another account's folder at the staging folder's name";
}

// A writer of an update dies between a sweep's listing and the sweep's lock on its staging folder,
// having moved its old copy aside: the sweep lists again and puts the old copy back.
TEST_F(InstallFolderTest, ASweepTakesATagsEntriesFromAListingAfterItsLock) {
    std::string error;
    ASSERT_TRUE(engine.install(synth(0), "vst3", zip(0, "vst3"), error)) << error;
    ASSERT_TRUE(writeFile(tqm::detail::stagingDir(vst3()) + "/Synth.vst3/Contents/Info.plist", "vst3 2.0.0"));
    int listings = 0;
    {
        const AtStep writerDies(Step::Listed, [&] {
            if (listings++ > 0) return 0;
            for (const std::string& name : entryNames(vst3()))
                if (name.rfind(".tqm-staging-", 0) == 0)
                    fs::rename(vst3() + "/Synth.vst3", vst3() + "/.tqm-old-" + name.substr(13) + "-Synth.vst3");
            return 0;
        });
        engine.sweep();
    }
    ASSERT_GE(listings, 1);
    EXPECT_EQ(readFile(vst3() + "/Synth.vst3/Contents/Info.plist"), "vst3 1.0.0");
    EXPECT_EQ(protocolEntries(vst3()), 0);
}

// A start's sweep lets go at once of the staging locks of other apps' updates it met: while it
// puts its own bundle back, a job's sweep can already take them.
TEST_F(InstallFolderTest, AStartLetsGoOfOtherAppsStagingLocks) {
    const std::string dir = appsDir();
    ASSERT_TRUE(writeFile(dir + "/.tqm-staging-0000beef/Studio.app/Contents/Info.plist", "Studio 2.0.0"));
    ASSERT_TRUE(writeFile(dir + "/.tqm-old-0000beef-Studio.app/Contents/Info.plist", "Studio 1.0.0"));
    ASSERT_TRUE(writeFile(dir + "/.tqm-staging-0000cafe/Manager.app/Contents/Info.plist", "manager 2.0.0"));
    ASSERT_TRUE(writeFile(dir + "/.tqm-old-0000cafe-Manager.app/Contents/Info.plist", "manager 1.0.0"));
    ASSERT_TRUE(writeFile(dir + "/.tqm-staging-0000dead/Tuner.app/x", "") &&  // a dead writer's, never moved in
                writeFile(dir + "/.tqm-record-0000dead", "{\"id\": \"tuner\", \"format\": \"app\", \"item\": \"Tuner.app\"}"));
    bool otherFree = false;
    {
        const AtStep restoring(Step::Restore, [&] {
            const int fd = ::open((dir + "/.tqm-staging-0000beef").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            otherFree = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            if (fd >= 0) ::close(fd);
            return 0;
        });
        engine.sweepSelf(dir + "/Manager.app");
    }
    EXPECT_TRUE(otherFree);
    EXPECT_EQ(readFile(dir + "/Manager.app/Contents/Info.plist"), "manager 1.0.0");
    EXPECT_TRUE(exists(dir + "/.tqm-old-0000beef-Studio.app"));
    EXPECT_FALSE(exists(dir + "/.tqm-record-0000dead")) << "a note outlived its copy";
}

// A job opening while another sweep holds that folder's claim is refused, saying so; once that
// sweep is done the next job begins from receipts like the disk.
TEST_F(InstallFolderTest, AJobBeginsOnlyFromReceiptsLikeTheDiskWhileAnotherSweepRuns) {
    const struct {
        const char* what;
        const char* format;  // of the dead writer's install: studio's app or synth's plug-in
        bool update;         // killed between the renames of an update, else after a first move in
        const char* then;    // the job's one task, or none (it sweeps every folder)
    } cases[] = {
        {"a first app install killed after its move in, a start sweeping", "app", false, nullptr},
        {"an app update killed between its renames, a start sweeping", "app", true, nullptr},
        {"a plug-in update killed between its renames, another data folder sweeping", "vst3", true, nullptr},
        {"the same, and the job removes the plug-in", "vst3", true, "remove"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(path("root"));
        const std::string id = c.format == std::string("app") ? "studio" : "synth";
        const std::string dir = engine.layout.formatDir(c.format);
        std::string error;
        ASSERT_TRUE(!c.update || tqm::runTask(engine, {"install", id, c.format}, nullptr, error)) << error;
        ASSERT_TRUE(killedIn(engine, c.format, 1, 0, c.update));
        bool fired = false, began = false;
        std::string refused;
        {
            // Once the sweep holds the dead writer's staging lock.
            const AtStep holding(Step::Listed, [&] {
                for (const std::string& name : entryNames(dir)) {
                    if (fired || name.rfind(".tqm-staging-", 0) != 0) continue;
                    const int fd = ::open((dir + "/" + name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                    fired = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
                    ::close(fd);
                    tqm::Engine job = engine;
                    job.waiting = [](const std::string&) { return false; };
                    const std::vector<tqm::Task> tasks{{c.then ? c.then : "", id, c.format}};
                    began = fired && tqm::beginJob(job, job.layout.userData(), refused, {}, c.then ? &tasks : nullptr);
                }
                return 0;
            });
            tqm::Engine other;
            other.layout = sharing("root2", "clap");
            c.update && id == "synth" ? (void)other.sweep() : engine.sweepSelf(appsDir() + "/Manager.app");
        }
        ASSERT_TRUE(fired);
        EXPECT_FALSE(began) << "the job began beside a sweep of its folder";
        EXPECT_EQ(refused, "cannot sweep " + dir + ": " + dir + "/.tqm-claim is held by another process");
        tqm::Engine next = engine;
        const auto lock = tqm::beginJob(next, next.layout.userData(), error);
        ASSERT_TRUE(lock) << error;
        EXPECT_TRUE(recordAgrees(next, id, c.format));
        EXPECT_TRUE(!c.then || tqm::runTask(next, {c.then, id, c.format}, nullptr, error)) << error;
    }
}

// Another data folder's job deletes the copy a dead writer's note names, and its own copy gets the
// same identity (no birth times, or a coarse clock's tick): the note records nothing over it.
TEST_F(InstallFolderTest, ADeadWritersNoteNeverCountsForALaterCopy) {
    const struct {
        const char* birth;  // every copy's
        bool movedIn;       // the writer was killed after its move in, else before it
    } cases[] = {{"", false}, {"1765000000.5", false}, {"1765000000.5", true}};
    static std::string birth;
    tqm::Engine other = engine;
    other.layout = sharing("root2", "vst3");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.birth) + (c.movedIn ? " replaced" : " swept"));
        for (const char* root : {"root", "root2"}) fs::remove_all(path(root));
        birth = c.birth;
        tqm::detail::identityFault = [](const tqm::detail::CopyId& real) {
            return tqm::detail::CopyId{real.dev, "4242", birth};
        };
        ASSERT_TRUE(killedIn(engine, "vst3", 1, 0, !c.movedIn));
        std::string error;
        EXPECT_TRUE(tqm::beginJob(other, other.layout.userData(), error) &&
                    tqm::runTask(other, {"install", "synth", "vst3"}, nullptr, error)) << error;
        tqm::Engine(engine).startSweep();
        tqm::detail::identityFault = nullptr;
        EXPECT_EQ(recorded(engine.layout, "synth", "vst3"), "") << "the dead writer's note was recorded";
        EXPECT_EQ(recorded(other.layout, "synth", "vst3"), "1.0.0");
    }
}

// A change whose note would not count for its receipt (B's in A's data folder), or that would take
// another account's copy (root's where B took the name), is refused before anything moves.
TEST_F(InstallFolderTest, AChangeThatCouldBeUndoneIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
    const std::string name = vst3() + "/Synth.vst3";
    tqm::Engine a = engine;
    a.layout = sharing("a", "vst3");
    std::string error;
    ASSERT_TRUE(tqm::runTask(a, {"install", "synth", "vst3"}, nullptr, error)) << error;
    for (const std::string& dir : {temp.dir(), path("a/data"), vst3()})
        ASSERT_EQ(::chmod(dir.c_str(), dir == temp.dir() ? 0755 : 0777), 0);
    ASSERT_EQ(::chown(path("a/data").c_str(), kUserA, kUserA), 0);
    EXPECT_TRUE(asUser(kUserB, [&] {
        return !tqm::runTask(a, {"remove", "synth", "vst3"}, nullptr, error) &&
               error.find(" belongs to another account: a change this account makes there") != std::string::npos;
    })) << "B removed A's plug-in";
    EXPECT_TRUE(exists(name));

    fs::remove_all(name);
    ASSERT_TRUE(engine.install(synth(0), "vst3", zip(0, "vst3"), error)) << error;
    ASSERT_TRUE(killedIn(engine, "vst3", 1, 0, true));
    ASSERT_TRUE(asUser(kUserB, [&] { return ::mkdir(name.c_str(), 0755) == 0; }));
    for (const char* op : {"remove", "install"}) {
        ASSERT_TRUE(tqm::beginJob(engine, engine.layout.userData(), error)) << error;
        EXPECT_FALSE(tqm::runTask(engine, {op, "synth", "vst3"}, nullptr, error));
        EXPECT_EQ(error, name + " belongs to another account than the one installed.json is for: left alone");
        EXPECT_TRUE(exists(name)) << op << " took B's folder";
    }
}

// A sweep in a folder all may write puts an aside copy back only by its own account, never at
// another account's name; only its own account's note says it was removed; a live writer's
// entries, its note's temporary among them, are left alone, and so is a name a writer took after the listing;
// another account's staging folder of its tag, or live writer of its name, never holds it aside.
TEST_F(InstallFolderTest, AnAsideCopyIsDecidedOnlyOnItsOwnAccountsEntries) {
    const struct {
        const char* what;
        bool othersAside, taken, stagedByAside, othersRemovalNote, liveWriter;
        const char* atName;  // what the name holds afterwards ("" nothing)
        bool asideStays;
        const char* othersHeld = "";  // the tag of a staging folder another account holds
        bool takenAtListing = false;
    } cases[] = {
        {"its name taken by another account", false, true, true, false, false, "theirs", true},
        {"another account's aside copy and staged copy", true, false, true, false, false, "", true},
        {"another account's note says it was removed", false, false, true, true, false, "old", false},
        {"another account's gone writer says it was removed", true, false, true, true, false, "", true},
        {"a live writer moved that name aside", false, false, false, false, true, "", true},
        {"a writer begun after the listing moved that name aside", false, false, false, false, false, "", true, "", true},
        {"another account holds its staging folder", false, false, true, false, false, "old", false, "0000beef"},
        {"another account's live writer of that name", false, false, false, false, false, "old", false, "0000cafe"},
        {"nothing else", false, false, false, false, false, "old", false},
    };
    std::vector<std::string> skipped;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (::geteuid() != 0 && (c.taken || c.othersAside || c.othersRemovalNote || *c.othersHeld)) {
            skipped.push_back(c.what);
            continue;
        }
        fs::remove_all(vst3());
        std::string error;
        ASSERT_TRUE(tqm::detail::createFolder(vst3(), error)) << error;
        ASSERT_EQ(::chmod(vst3().c_str(), 01777), 0);
        const std::string aside = vst3() + "/.tqm-old-0000beef-Synth.vst3", name = vst3() + "/Synth.vst3";
        ASSERT_TRUE(writeFile(aside + "/Contents/Info.plist", "old"));
        ASSERT_TRUE(!c.stagedByAside || writeFile(vst3() + "/.tqm-staging-0000beef/Synth.vst3/x", "new"));
        ASSERT_TRUE(!c.taken || writeFile(name + "/Contents/Info.plist", "theirs"));
        ASSERT_TRUE(!c.othersRemovalNote ||
                    writeFile(vst3() + "/.tqm-record-0000beef",
                              "{\"op\": \"remove\", \"id\": \"synth\", \"format\": \"vst3\", \"path\": \"" + name +
                                  "\", \"recorded\": \"" + name + "\"}\n"));
        for (const std::string& entry : entryNames(vst3()))  // what is another account's
            EXPECT_TRUE(!((entry == "Synth.vst3" && c.taken) || entry.rfind(".tqm-record-", 0) == 0 ||
                          (c.othersAside && entry.find("0000beef") != std::string::npos)) ||
                        ::lchown((vst3() + "/" + entry).c_str(), kUserB, kUserB) == 0);
        const std::string held = vst3() + "/.tqm-staging-" + c.othersHeld;
        for (const std::string& theirs : {held, vst3() + "/.tqm-old-" + c.othersHeld + "-Synth.vst3"})
            ASSERT_TRUE(!*c.othersHeld || theirs == aside ||
                        ((exists(theirs) || fs::create_directory(theirs)) && ::chown(theirs.c_str(), kUserB, kUserB) == 0));
        for (const std::string& open : {temp.dir(), path("root")}) ::chmod(open.c_str(), 0755);
        std::optional<LockHolder> holder;
        ASSERT_TRUE(!*c.othersHeld || holder.emplace(held, kUserB).took());
        tqm::detail::StagingLock live;
        std::vector<std::string> lives;
        if (c.liveWriter) {
            ASSERT_TRUE(live.make(vst3(), error)) << error;
            const std::string note = tqm::detail::noteName(live.tag());
            lives = {live.asideOf("Synth.vst3"), note, tqm::detail::tempNameFor(note)};
            for (const std::string& entry : lives) ASSERT_TRUE(writeFile(vst3() + "/" + entry, "{}"));
        }
        ASSERT_TRUE(!c.takenAtListing || writeFile(name + "/Contents/Info.plist", "mine"));
        int listings = 0;  // the first one shows the aside copy's tag new, the second is the last
        const AtStep begins(Step::Listed, [&] {
            if (c.takenAtListing && ++listings == 2 && live.make(vst3(), error))
                fs::rename(name, vst3() + "/" + live.asideOf("Synth.vst3"));
            return 0;
        });
        engine.sweep();
        EXPECT_EQ(readFile(name + "/Contents/Info.plist"), c.atName);
        EXPECT_EQ(exists(aside), c.asideStays);
        for (const std::string& entry : lives) EXPECT_TRUE(exists(vst3() + "/" + entry)) << entry;
    }
    if (!skipped.empty())
        GTEST_SKIP() << "needs root to give entries to another account: " << ::testing::PrintToString(skipped);
}

// Another account takes the name between a writer's renames: the writer says so, and its old copy
// stays aside (for a sweep of its own account to put back once the name is free).
TEST_F(InstallFolderTest, AWriterSaysAnotherAccountTookItsName) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const std::string name = vst3() + "/Synth.vst3";
    ASSERT_TRUE(writeFile(name + "/Contents/Info.plist", "old"));
    ASSERT_TRUE(writeFile(path("squat"), "theirs"));
    ASSERT_EQ(::chown(path("squat").c_str(), kUserB, kUserB), 0);
    std::string error;
    tqm::detail::StagingLock staging;
    ASSERT_TRUE(staging.make(vst3(), error)) << error;
    ASSERT_TRUE(writeFile(staging.path() + "/Synth.vst3/Contents/Info.plist", "new"));
    {
        const AtStep squat(Step::In, [&] { return ::rename(path("squat").c_str(), name.c_str()) == 0 ? 0 : errno; });
        EXPECT_FALSE(tqm::detail::moveInOrSay(staging, "Synth.vst3", name, true, "Synth", vst3(), "", error));
    }
    EXPECT_NE(error.find("another account holds Synth.vst3"), std::string::npos) << error;
    EXPECT_EQ(readFile(vst3() + "/" + staging.asideOf("Synth.vst3") + "/Contents/Info.plist"), "old");
}

// An apps receipt that records each app id as <folder>/<id>.app.
bool recordApps(const std::string& file, const std::map<std::string, std::string>& folders) {
    tqm::Receipt r;
    for (const auto& [id, dir] : folders) {
        r.plugins[id].formats["app"].version = "1.0.0";
        r.plugins[id].formats["app"].path = dir + "/" + id + ".app";
    }
    std::string error;
    return tqm::detail::createFolder(fs::path(file).parent_path().string(), error) && r.save(file, error);
}

// The descriptors of this process that name a path containing part (a held claim or staging lock).
int openHere(const std::string& part) {
    int n = 0;
    for (const std::string& fd : entryNames("/proc/self/fd")) {
        char target[4096];
        const ssize_t len = ::readlink(("/proc/self/fd/" + fd).c_str(), target, sizeof target);
        n += len > 0 && std::string(target, size_t(len)).find(part) != std::string::npos;
    }
    return n;
}

// A root job is held up by no lock a mere reader of its folder holds (on the folder, on its claim),
// and makes nothing others may write, whatever its caller's umask and the package's modes.
TEST_F(InstallFolderTest, ARootJobWaitsForNoReaderAndMakesNothingOthersMayWrite) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    ASSERT_EQ(::chmod(temp.dir().c_str(), 0755), 0);
    std::string error;
    ASSERT_TRUE(tqm::detail::createFolder(vst3(), error) && engine.sweep()) << error;  // the claim made
    LockHolder folder(vst3(), kUserA), claim(vst3() + "/.tqm-claim", kUserA);
    EXPECT_TRUE(folder.took() && !claim.took());
    const mode_t was = ::umask(0);
    {
        tqm::Engine job = engine;
        job.waiting = [](const std::string&) { return false; };
        const auto lock = tqm::beginJob(job, job.layout.userData(), error);
        EXPECT_TRUE(lock && tqm::runTask(job, {"install", "synth", "vst3"}, nullptr, error)) << error;
    }
    ::umask(was);
    EXPECT_EQ(othersMayWrite(), std::vector<std::string>{});
}

// A folder whose claim another sweep holds: a job that changes nothing there skips it with a log
// line; one that does waits, saying for what, until stopped (fails) or the claim is let go (begins).
TEST_F(InstallFolderTest, AJobWaitsOnlyForTheClaimsOfFoldersItChanges) {
    const std::string clap = engine.layout.formatDir("clap"), claim = clap + "/.tqm-claim";
    const std::string waitText = "Waiting for another copy of the manager to finish sweeping " + clap;
    const std::string heldText = "cannot sweep " + clap + ": " + claim + " is held by another process";
    const struct {
        const char* what;
        const char* format;  // of the job's one install
        bool stop;           // the job is stopped at its wait, else the claim let go
        bool begins;
        bool earlier = false;  // the job's copy recorded there
    } cases[] = {{"a job in another folder", "vst3", true, true},
                 {"a job there, stopped", "clap", true, false},
                 {"a job on a copy recorded there, stopped", "vst3", true, false, true},
                 {"a job there, the claim let go", "clap", false, true}};
    std::string error;
    ASSERT_TRUE(tqm::detail::createFolder(clap, error)) << error;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<tqm::FileLock> other;
        tqm::detail::DirFd dir(::open(clap.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        other.emplace(dir.get(), ".tqm-claim", claim, [] { return false; }, tqm::LockAccess::Writers);
        ASSERT_TRUE(other->held());
        engine.receipt.plugins["synth"].formats["vst3"].path = (c.earlier ? clap : vst3()) + "/Synth.vst3";
        ASSERT_TRUE(engine.receipt.save(engine.layout.receiptFile(), error)) << error;
        tqm::Engine job = engine;
        std::vector<std::string> asked, logged;
        job.log = [&](const std::string& line) { logged.push_back(line); };
        job.waiting = [&](const std::string& why) {
            asked.push_back(why);
            if (!c.stop) other.reset();
            return !c.stop;
        };
        bool locked = false;
        const std::vector<tqm::Task> tasks{{"install", "synth", c.format}};
        error.clear();
        const auto lock = tqm::beginJob(job, job.layout.userData(), error, [&] { return locked = true; }, &tasks);
        EXPECT_EQ(bool(lock), c.begins) << error;
        EXPECT_EQ(locked, c.begins);
        EXPECT_EQ(error, c.begins ? "" : heldText);
        const bool there = c.format == std::string("clap") || c.earlier;
        EXPECT_EQ(asked, there ? std::vector<std::string>{waitText} : std::vector<std::string>{});
        EXPECT_EQ(std::count(logged.begin(), logged.end(), "not swept: " + heldText), there ? 0 : 1);
    }
}

// A folder its account cannot read (an app recorded there): the job that changes it fails saying
// so, any other job skips it with a log line.
TEST_F(InstallFolderTest, AnUnreadableFolderFailsOnlyTheJobsThatChangeIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    ASSERT_EQ(::chmod(temp.dir().c_str(), 0755), 0);
    const std::string hidden = path("hidden");
    ASSERT_TRUE(recordApps(path("user/data/apps.json"), {{"studio", hidden}}));
    ASSERT_EQ(::mkdir(hidden.c_str(), 0700), 0);
    for (const char* p : {"user", "user/data", "user/data/apps.json", "hidden"})
        ASSERT_EQ(::chown(path(p).c_str(), kUserA, kUserA), 0);
    for (const mode_t mode : {0311, 0000}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(::chmod(hidden.c_str(), mode), 0);
        const std::string unreadable = "cannot read " + hidden + ": " + tqm::detail::systemText(EACCES);
        EXPECT_TRUE(asUser(kUserA, [&] {
            tqm::Engine job;
            job.layout.root = path("user");
            std::vector<std::string> logged;
            job.log = [&](const std::string& line) { logged.push_back(line); };
            const std::vector<tqm::Task> plugin{{"install", "synth", "vst3"}}, app{{"install", "studio", "app"}};
            std::string pluginError, appError;
            return job.sweep(&pluginError, &plugin) && logged == std::vector<std::string>{"not swept: " + unreadable} &&
                   !job.sweep(&appError, &app) && appError == unreadable;
        }));
    }
}

// Root sweeps beyond the layout's folders only those its own records or the job's tasks name, and
// never a folder of a third account.
TEST_F(InstallFolderTest, RootSweepsNoFolderOfAThirdAccount) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
    const std::string third = path("third"), mine = path("mine");
    const std::string apps = engine.layout.appsReceiptFile();
    ASSERT_TRUE(recordApps(apps, {{"Studio", third}, {"Other", mine}}));
    const struct {
        const char* what;
        uid_t records;  // the owner of apps.json (and of the data folder)
        tqm::Task task;
        bool ok, mineSwept;
    } cases[] = {
        {"a user's records, a plug-in job", kUserA, {"install", "synth", "vst3"}, true, false},
        {"a user's records, a job on the third account's app", kUserA, {"install", "Studio", "app"}, false, false},
        {"a user's records, a job on an app in root's folder", kUserA, {"remove", "Other", "app"}, true, true},
        {"root's records, a plug-in job", 0, {"install", "synth", "vst3"}, true, true},
    };
    std::string error;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& dir : {third, mine}) ASSERT_TRUE(tqm::detail::createFolder(dir + "/.tqm-staging-0000dead", error));
        ASSERT_EQ(::chown(third.c_str(), kUserB, kUserB), 0);
        ASSERT_EQ(::chown(engine.layout.userData().c_str(), c.records, c.records), 0);
        ASSERT_EQ(::chown(apps.c_str(), c.records, c.records), 0);
        const std::vector<tqm::Task> tasks{c.task};
        error.clear();
        EXPECT_EQ(engine.sweep(&error, &tasks), c.ok);
        EXPECT_EQ(error, c.ok ? "" : third + " belongs to " + tqm::detail::accountName(kUserB) + ": not swept");
        EXPECT_TRUE(exists(third + "/.tqm-staging-0000dead"));
        EXPECT_EQ(exists(mine + "/.tqm-staging-0000dead"), !c.mineSwept);
    }
}

// A sweep lets every staging lock go before its claim, and settles its notes with neither held.
TEST_F(InstallFolderTest, ASweepSettlesNotesWithNoLockHeld) {
    ASSERT_TRUE(writeFile(vst3() + "/.tqm-staging-0000dead/Synth.vst3/x", "staged"));
    ASSERT_TRUE(writeFile(vst3() + "/.tqm-record-0000dead", "{}"));
    int stagingAtUnclaim = -1, heldAtSettle = -1, settled = 0;
    std::string error;
    {
        const AtStep unclaim(Step::Unclaim, [&] {
            stagingAtUnclaim = openHere("/.tqm-staging-");
            return 0;
        });
        EXPECT_TRUE(tqm::detail::sweepFolder(
            vst3(),
            [&](int, const std::string&) {
                heldAtSettle = openHere("/.tqm-staging-") + openHere("/.tqm-claim");
                return ++settled > 0;
            },
            [] { return false; }, error))
            << error;
    }
    EXPECT_EQ(settled, 1);
    EXPECT_EQ(stagingAtUnclaim, 0) << "a staging lock outlived the claim";
    EXPECT_EQ(heldAtSettle, 0) << "a note was settled under a lock";
    EXPECT_EQ(entryNames(vst3()), std::vector<std::string>{});
}

}  // namespace
