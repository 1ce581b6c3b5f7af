// An update killed outright (kill -9) at any moment: after the next start's sweep the receipt
// records what is on disk, after the next job's sweep the item is wholly the old copy or wholly
// the new one, never missing and never a mix, and the new one then installs. The update runs in a forked child, killed after a random delay or by itself
// just before one of its renames.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>

#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/install_folder.h"
#include "engine/util.h"
#include "tests/support/temp_home.h"
#include "tests/support/zip_maker.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

// Every entry below a folder: file bytes, "-> text" for a link, "/" for a folder.
using Tree = std::map<std::string, std::string>;

Tree treeOf(const std::string& root) {
    Tree out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const std::string rel = it->path().string().substr(root.size());
        if (sweepClaim(it->path().filename().string())) continue;
        const fs::file_status st = it->symlink_status(ec);
        if (fs::is_symlink(st))
            out[rel] = "-> " + fs::read_symlink(it->path(), ec).string();
        else if (fs::is_directory(st))
            out[rel] = "/";
        else
            out[rel] = readFile(it->path().string());
    }
    return out;
}

bool leftovers(const std::string& dir) {
    std::error_code ec;
    for (auto& e : fs::directory_iterator(dir, ec))
        if (leftover(e.path().filename().string())) return true;
    return false;
}

// A bundle of a dozen files in a few folders and a link, every file marked with the version.
std::string bundleZip(const std::string& item, const std::string& exe, const std::string& version) {
    std::vector<ZipItem> items{zipDir(item + "/"), zipFile(item + "/Contents/Info.plist", version),
                               zipFile(item + "/Contents/MacOS/" + exe, "program " + version, 0755, true)};
    for (int i = 0; i < 10; ++i)
        items.push_back(zipFile(item + "/Contents/Resources/set" + std::to_string(i % 4) + "/r" + std::to_string(i),
                                std::string(2000 + i, char('a' + i % 26)) + version, 0644, i % 2 == 0));
    items.push_back(zipLink(item + "/Contents/Current", "Resources/set0"));
    return makeZip(items);
}

struct Update {
    std::string format, target;
    tqm::Plugin v1, v2;
    std::string zip1, zip2;
};

// Fails the move in of a new copy and the way back of the old one.
int failMoveInAndBack(tqm::detail::RenameStep step);

int g_renamesLeft = -1;  // in the child: renames to let pass before it kills itself

int killBeforeRename(tqm::detail::RenameStep) {
    if (g_renamesLeft-- == 0) ::raise(SIGKILL);
    return 0;
}

class CrashTest : public TempHomeTest {
protected:
    void SetUp() override { catalog.sequence = 7; }

    tqm::Plugin entry(const std::string& format, const std::string& item, const std::string& exe,
                      const std::string& version, const std::string& zip) {
        tqm::Plugin p;
        p.id = "vendor." + format;
        p.name = "Synth";
        p.version = version;
        p.is_app = format == "app";
        p.uninstall_key = "Synth";
        tqm::FileRef& ref = p.packages[format]["mac"];
        ref.path = format + "/Synth-" + version + ".zip";
        ref.size = zip.size();
        ref.sha256 = tqm::sha256Hex(zip.data(), zip.size());
        ref.item = item;
        if (p.is_app) ref.exe = exe;
        return p;
    }

    Update update(const std::string& format, const std::string& item, const std::string& exe) {
        Update u;
        u.format = format;
        u.zip1 = bundleZip(item, exe, "1.0.0");
        u.zip2 = bundleZip(item, exe, "2.0.0");
        u.v1 = entry(format, item, exe, "1.0.0", u.zip1);
        u.v2 = entry(format, item, exe, "2.0.0", u.zip2);
        u.target = job().layout.formatDir(format) + "/" + item;
        return u;
    }

    // The engine of a new job: the receipts as they are on disk.
    tqm::Engine job() {
        tqm::Engine e;
        e.layout.root = path("root");
        e.catalog = &catalog;
        std::string error;
        EXPECT_TRUE(e.loadReceipt(error)) << error;
        return e;
    }

    bool install(const Update& u, bool second) {
        tqm::Engine e = job();
        std::string error;
        const bool ok = e.install(second ? u.v2 : u.v1, u.format, second ? u.zip2 : u.zip1, error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }

    // Starts the update of u to v2 and stops it with the old copy aside and the staging folder
    // beside it, as an update killed between its renames would; true when it did.
    bool stopBetweenRenames(const Update& u) {
        tqm::Engine e = job();
        std::string error;
        tqm::detail::renameFault = failMoveInAndBack;
        const bool ok = e.install(u.v2, u.format, u.zip2, error);
        tqm::detail::renameFault = nullptr;
        return !ok && !fs::exists(fs::symlink_status(u.target));
    }

    // Starts the update to v2 (or back to v1) in a child; answers its id.
    pid_t startUpdate(const Update& u, bool second, int renamesBeforeKill) {
        const pid_t child = fork();
        if (child == 0) {
            g_renamesLeft = renamesBeforeKill;
            tqm::detail::renameFault = killBeforeRename;
            tqm::Engine e = job();
            e.sweep();
            std::string error;
            _exit(e.install(second ? u.v2 : u.v1, u.format, second ? u.zip2 : u.zip1, error) ? 0 : 1);
        }
        return child;
    }

    // The next job's sweep, then what must hold: the item is whole at one of the two versions,
    // whose number (0 or 1) is the answer; -1 after a failure. With check, the version the
    // killed update was bringing is then installed, and that must work.
    int afterKill(const Update& u, const Tree trees[2], bool second, bool check, const std::string& when) {
        // The next start's sweep: the receipt then agrees with what is on disk.
        job().startSweep();
        const Tree onDisk = treeOf(u.target);
        if (onDisk == trees[0] || onDisk == trees[1]) {
            tqm::Engine e = job();
            const tqm::Receipt& r = u.format == "app" ? e.apps : e.receipt;
            const auto product = r.plugins.find(u.v1.id);
            const std::string recorded =
                product == r.plugins.end() || !product->second.formats.count(u.format)
                    ? std::string("nothing")
                    : product->second.formats.at(u.format).version;
            if (recorded != (onDisk == trees[1] ? u.v2.version : u.v1.version)) {
                ADD_FAILURE() << u.format << ": the receipt records " << recorded << " after a kill " << when
                              << " while the disk holds " << (onDisk == trees[1] ? u.v2.version : u.v1.version);
                return -1;
            }
        }
        job().sweep();
        const Tree now = treeOf(u.target);
        if (now != trees[0] && now != trees[1]) {
            ADD_FAILURE() << u.format << " neither whole v1 nor whole v2 after a kill " << when << " ("
                          << now.size() << " entries)";
            return -1;
        }
        if (leftovers(fs::path(u.target).parent_path().string())) {
            ADD_FAILURE() << u.format << ": leftovers after the sweep, kill " << when;
            return -1;
        }
        if (!check) return now == trees[1];
        if (!install(u, second) || treeOf(u.target) != trees[second]) return -1;
        return second;
    }

    void killEverywhere(const Update& u) {
        ASSERT_FALSE(u.zip1.empty());
        ASSERT_TRUE(install(u, true));
        const Tree two = treeOf(u.target);
        ASSERT_TRUE(install(u, false));
        const Tree one = treeOf(u.target);
        ASSERT_NE(one, two);
        ASSERT_GT(one.size(), 10u);

        const Tree trees[2] = {one, two};
        bool at = false;  // the version in place: each round updates to the other one

        // How long a whole update takes, from the fork to its end (the median of five runs).
        std::vector<double> took;
        for (int i = 0; i < 5; ++i, at = !at) {
            const auto start = std::chrono::steady_clock::now();
            const pid_t child = startUpdate(u, !at, -1);
            int status = 0;
            waitpid(child, &status, 0);
            took.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            ASSERT_EQ(treeOf(u.target), trees[!at]);
        }
        std::sort(took.begin(), took.end());
        const double typical = took[2];

        // Just before each rename of the update, until an update has no rename left to die at.
        int renames = 0;
        for (;; ++renames, at = !at) {
            const pid_t child = startUpdate(u, !at, renames);
            int status = 0;
            waitpid(child, &status, 0);
            if (WIFEXITED(status)) break;
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            ASSERT_GE(afterKill(u, trees, !at, true, "before rename " + std::to_string(renames)), 0);
        }
        EXPECT_GE(renames, 2);  // the old copy aside, the new one in
        at = !at;               // the last update ran whole

        // At random moments over the whole update; every tenth time the install that was killed
        // is run again to its end. The moments follow how long an update takes now, which a
        // loaded machine changes while the test runs: the span shrinks when an update ends before
        // its kill and grows when it is cut off, settling a little beyond a whole update.
        std::mt19937 random(20261207);
        double span = typical * 1.2;
        int kills = 0;
        for (int round = 0; kills < 200 && round < 1000; ++round) {
            const int wait = std::uniform_int_distribution<int>(0, int(span))(random);
            const pid_t child = startUpdate(u, !at, -1);
            ::usleep(useconds_t(wait));
            ::kill(child, SIGKILL);
            int status = 0;
            waitpid(child, &status, 0);
            const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
            if (killed) ++kills;
            span = std::clamp(span * (killed ? 1.05 : 0.8), 50.0, typical * 4);
            const int now = afterKill(u, trees, !at, round % 10 == 9, "after " + std::to_string(wait) + " us");
            ASSERT_GE(now, 0);
            at = now == 1;
        }
        EXPECT_GE(kills, 200);
        ASSERT_TRUE(install(u, !at));
        EXPECT_EQ(treeOf(u.target), trees[!at]);
    }

    tqm::Catalog catalog;
};

int failMoveInAndBack(tqm::detail::RenameStep step) {
    return step == tqm::detail::RenameStep::In || step == tqm::detail::RenameStep::Back ? EIO : 0;
}

// Waits until a name beginning ".tqm-old-" and ending in suffix is moved into dir (watched by fd
// since before the move); false after 10 s.
bool awaitAside(int fd, const std::string& suffix) {
    alignas(inotify_event) char buf[64 * 1024];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return false;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return false;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
            const std::string name = e->len ? e->name : "";
            if ((e->mask & IN_MOVED_TO) && name.rfind(".tqm-old-", 0) == 0 && name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                return true;
            at += ssize_t(sizeof(inotify_event) + e->len);
        }
    }
}

// A removal killed while it deletes its aside copy, with another item's update stopped between
// its renames in the same folder: the next start drops its record, and the sweep puts the other
// item's old copy back and finishes the removal instead of bringing back what was left of it.
TEST_F(CrashTest, RemovalKilledBesideAStoppedUpdate) {
    const std::string dir = job().layout.formatDir("vst3");
    std::vector<ZipItem> items{zipDir("Gone.vst3/")};
    for (int i = 0; i < 2000; ++i)
        items.push_back(
            zipFile("Gone.vst3/Contents/Resources/d" + std::to_string(i % 40) + "/f" + std::to_string(i), "x"));
    const std::string goneZip = makeZip(items);
    tqm::Plugin gone = entry("vst3", "Gone.vst3", "", "1.0.0", goneZip);
    gone.id = "vendor.gone";
    const Update other = update("vst3", "Synth.vst3", "Synth");
    ASSERT_TRUE(install(other, false));
    const Tree one = treeOf(other.target);
    ASSERT_TRUE(stopBetweenRenames(other));

    // The removal runs at the lowest priority, so that the kill lands while it deletes; on a busy
    // machine it may still end first, and then it is tried again.
    bool killed = false;
    for (int attempt = 0; attempt < 5 && !killed; ++attempt) {
        {
            tqm::Engine e = job();
            std::string error;
            ASSERT_TRUE(e.install(gone, "vst3", goneZip, error)) << error;
        }
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, dir.c_str(), IN_MOVED_TO), 0);
        const pid_t child = fork();
        if (child == 0) {
            [[maybe_unused]] const int lowered = ::nice(19);
            tqm::Engine e = job();
            std::string error;
            _exit(e.remove("vendor.gone", "vst3", error) ? 0 : 1);
        }
        const bool seen = awaitAside(watch, "-Gone.vst3");
        ::kill(child, SIGKILL);
        ::close(watch);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(seen);
        killed = WIFSIGNALED(status);
    }
    ASSERT_TRUE(killed) << "the removal ended before it was killed, five times";

    // The next start drops the record of what the removal deleted; the next job's sweep finishes it.
    job().startSweep();
    EXPECT_EQ(job().receipt.plugins.count("vendor.gone"), 0u) << "a record without its copy";
    job().sweep();
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir + "/Gone.vst3")));
    EXPECT_EQ(treeOf(other.target), one);
    EXPECT_FALSE(leftovers(dir));
}

// An app update stopped between its renames in the folder the manager itself lives in: the
// manager's start-up sweep of its own leftovers leaves that update's staging folder, so that the
// next job's sweep still puts the old app back.
TEST_F(CrashTest, ManagerStartKeepsAStoppedAppUpdate) {
    const Update app = update("app", "Synth.app", "Synth");
    ASSERT_TRUE(install(app, false));
    const Tree one = treeOf(app.target);
    const std::string manager = job().layout.appsDir() + "/Manager.app";
    ASSERT_TRUE(writeFile(manager + "/Contents/MacOS/manager", "manager"));
    ASSERT_TRUE(stopBetweenRenames(app));
    job().sweepSelf(manager);
    job().sweep();
    EXPECT_EQ(treeOf(app.target), one);
    EXPECT_EQ(readFile(manager + "/Contents/MacOS/manager"), "manager");
    EXPECT_FALSE(leftovers(job().layout.appsDir()));
}

TEST_F(CrashTest, PluginUpdateKilledAnywhere) { killEverywhere(update("vst3", "Synth.vst3", "Synth")); }

TEST_F(CrashTest, AppUpdateKilledAnywhere) { killEverywhere(update("app", "Synth.app", "Synth")); }

}  // namespace
