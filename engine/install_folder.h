#pragma once
// The install-folder protocol: how jobs, starts and the elevated helper of any number of data folders
// change the same install folders (the plug-in folders, the applications folder, the manager's own
// folder) without losing a copy or a record, whichever of them is killed where. Its renames and
// deletions in those folders are its own (engine/install_folder_steps.h, for its files alone).
//
// THE RULES.
//   Claim: a sweep takes writers' staging locks only while it holds its install folder's sweep claim
//     (a flock on ".tqm-claim", a file exactly the folder's writers can open, counting only while
//     it has that name), and lets them go before it lets the claim go or waits for anything: a
//     staging lock it finds held under the claim is a live writer's.
//   Identity: a note only ever counts for the copy its own writer moved in, because whoever deletes
//     a copy that a note on disk names removes that note first (removeStagingAt, deleteCopyAt).
//
// TRUST IN A FOLDER SEVERAL ACCOUNTS MAY WRITE (a sticky 1777 or open 0777 plug-in folder, a
// group's 2775 machine folder):
//   1. Every account that may write the folder may take its claim, and only one sweep holds it:
//      a file at its name that is not open to exactly the folder's writers is replaced only under
//      its own lock (a mere reader's not waited for; one that cannot be opened once the system
//      shows no lock on it), and a sweep looks at the name before each change it makes (lost: it
//      stops there and says so).
//   2. A sweep or a change acts only on the entries of a tag whose staging folder, aside copies
//      and notes are all of one account, its own or, for root, root's; another account's entries
//      are left as they are, and nothing is renamed onto a name that is taken.
//   3. Root deletes, renames or changes the mode or owner only of what it made, or of the copy
//      the job it runs names in a folder root manages, and only once it has seen that the entry
//      it acts on is the one it moved (device and inode); never what a user's records or another
//      writer's renames put in its way.
//   4. A copy whose deletion has begun is first renamed to a name no sweep puts back.
//   5. What a writer of the folder can still do on purpose: hold the claim (others' jobs wait,
//      and may be stopped), and in a folder that is not sticky move or replace another account's
//      entries between that account's look and its act; a user's change then keeps a copy aside
//      or leaves an entry to the next sweep, and a job of root's fails with a sentence, never ok.
//
// LOCKS, in the order they are taken (a holder of a later one never waits for an earlier one):
//
//   lock           where                               taken by              wait, and what a caller sees
//   -------------  ----------------------------------  --------------------  ------------------------------------
//   job lock       <data folder>/job.lock              a job, the helper     kJobLockWait: "Waiting for another
//                                                      (beginJob)            copy of the manager to finish its job"
//   sweep claim    <install folder>/.tqm-claim         a sweep (SweepClaim)  a job: kReceiptLockWait for all the
//                                                                            folders its tasks change, stoppable
//                                                                            until it begins ("...finish sweeping
//                                                                            <folder>"; not had: no job); other
//                                                                            folders not waited for (skipped,
//                                                                            logged); a start: kStartLockWait
//   staging lock   <install folder>/.tqm-staging-<tag> a writer (make),      never: a writer makes a new tag, a
//                                                      a sweep (take)        sweep leaves a held tag's entries
//   receipt lock   <receipt>.lock beside installed.json whoever records      a job: kReceiptLockWait ("...finish
//                  and apps.json                       (updateReceipt)       writing <file name>"); a start:
//                                                                            kStartLockWait, unseen (the note stays)
//   (others)       the catalog state's and the settings file's locks guard the data folder only.
//
// A sweep holds the claim only for what it does on disk, and settles notes (which waits for a receipt
// lock) after it let the claim and every staging lock go. A data folder's records are changed by one
// job at a time and, beside it, by starts, which only record notes whose change is on disk; every
// change of a receipt is one read and one write under its receipt lock.
//
// THE LIFE OF ONE ENTRY (an install of Foo.vst3 over an old copy; a removal skips 2 and 5), and what
// the next sweep does when the writer is killed right after a step:
//
//   step                             done by               killed after it: the next sweep (sweepFolder)
//   1 .tqm-staging-<tag>/ made,      StagingLock::make     removes the staging folder
//     owner-only, locked
//   2 .tqm-staging-<tag>/Foo.vst3    unpackAt              removes the staging folder with the copy
//   3 .tqm-record-<tag>, the note    notePending,          removes an install's note (its copy was never
//     of what will be recorded       noteRemoval           moved in), then the staging folder with the
//                                                          copy; a removal's note goes by its owner's sweep
//   4 .tqm-old-<tag>-Foo.vst3, the   moveInAt (Aside)      puts the old copy back (restoreOrRemove), then
//     old copy moved aside                                 as after 3; a removal's aside copy goes and its
//                                                          note is recorded
//   5 Foo.vst3, the new copy moved   moveInAt (In)         removes the aside copy (the name holds the copy
//     in                                                   its note names, the aside name the old copy it
//                                                          names) and records the note
//   5a .tqm-gone-<tag>-Foo.vst3, the deleteCopyAt          removes the gone copy (never puts it back) and
//     aside copy renamed, deleted                          records the note
//   6 installed.json recorded        recordChange          removes what is left; the note is already
//     under the receipt lock                               applied and goes
//   7 the note dropped, then the     dropNote, ~Staging-   removes the staging folder
//     staging folder, then its lock  Lock
//
// The manager's own update (placeSelf) moves with no note: its aside copy stays until the next start
// (sweepSelf). A removal makes its staging folder and note beside the copy it removes, wherever that
// lies, so note and aside copy always meet. A copy none of which could be deleted goes back to its
// name and its change fails; one partly deleted stays gone; none says done over a copy left. Another
// entry found at a deleter's aside name fails its change and is left as it is (an update keeps its
// note, whose record of the old copy's identity keeps every sweep off that entry).
//
// WHAT A SWEEP READS. A job's sweep (Engine::sweep) reads the data folder's format folders, the
// applications folder, each folder its receipt names a copy in (an app elsewhere, a plug-in in an
// earlier install folder, a `left` change) and waits only for those its tasks change
// (Engine::changedFolders); root reads beyond the layout's folders only those root's records or the
// job's tasks name, never a third account's. A start sweeps the manager's own folder (sweepSelf) and
// settles, without the claim, the notes whose change is on disk (startSweep).
// WHAT IT MAY TOUCH, decided on one listing made under the claim (sweepable) and a look at the name
// (restoreOrRemove), among its own account's entries only:
//   - an aside copy goes when its note says it was removed, or its name holds its writer's new copy
//     and it is the old copy that note names (a noteless one only at a start, the manager's own);
//     when the name is free it goes back, unless a live writer (of its owner or root) is about to
//     move a copy in there; another account's entry at its name keeps it aside;
//   - a gone copy goes, after the notes that name it; never back;
//   - a note is settled, kept or removed as its reader decides, never by name alone;
//   - staging folders and the rest go, but the claim (and its temporaries while held).
//
// NOTES. A note names the receipt it is for (device and inode of that receipt's folder) and, for an
// install, its copy and the old copy it replaces by device, inode and birth time; it is owned by its
// writer. It counts for a receipt only when its owner is that receipt's owner or root (a note naming
// no receipt: only for its writer's own account). Before anything moves, a change checks that its note will count and that
// what it would replace or remove is that receipt's owner's, or the copy the job names in a folder
// root manages (mayChange), and is refused otherwise with "<path> belongs to ...". A counting note
// whose change is on disk is recorded and removed; one whose writer is gone without the change is
// removed by its owner's sweep; one of another receipt or format stays for the job it belongs to.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_lock.h"
#include "engine/lock_waits.h"
#include "engine/receipt.h"
#include "engine/safe_path.h"

namespace tqm {

struct Engine;
struct Task;
class JobLock;

// Opens a job on the data folder userData: takes the job lock (waiting as engine.waiting allows),
// sweeps the install folders (Engine::sweep: those the tasks change, every one without tasks, must
// be swept), reads the receipts once and asks `locked` (when given) whether to go on: until then
// the job has changed nothing of its own and each of its waits may be given up. Answers the held
// lock, which the caller keeps to its last task; null with error said when the lock was not had, a
// folder the job changes was not swept or the receipts cannot be read (error empty when `locked`
// said no). As root, the umask is 022 from here on (keepRootUmask).
std::unique_ptr<JobLock> beginJob(Engine& engine, const std::string& userData, std::string& error,
                                  const std::function<bool()>& locked = {}, const std::vector<Task>* tasks = nullptr);

namespace detail {

// The entry names of the protocol, and their one parser. Constants, not built objects: the
// elevated helper uses them before any static object of the program is built.
inline constexpr std::string_view kEntryPrefix = ".tqm-";
inline constexpr std::string_view kStagingPrefix = ".tqm-staging-";
inline constexpr std::string_view kAsidePrefix = ".tqm-old-";
inline constexpr std::string_view kGonePrefix = ".tqm-gone-";
inline constexpr std::string_view kNotePrefix = ".tqm-record-";
inline constexpr std::string_view kProbePrefix = ".tqm-probe-";
inline constexpr std::string_view kClaimName = ".tqm-claim";
constexpr size_t kTagSize = 8;

struct Entry {
    // Claim: the sweep claim, or its temporary. Gone: a copy whose deletion has begun.
    enum Kind { Other, Staging, Aside, Note, Claim, Gone } kind = Other;
    std::string tag;   // of a staging folder, an aside or gone copy or a note (and its temporary)
    std::string name;  // an aside or gone copy's: the name of the entry it was moved aside from
};
Entry parseEntry(const std::string& name);
std::string stagingName(const std::string& tag);
std::string asideName(const std::string& tag, const std::string& name);
std::string noteName(const std::string& tag);

// Whether the entry name of the open folder dirFd exists (a link is not followed); true when
// that cannot be told.
bool lexistsAt(int dirFd, const std::string& name);

// 32 random bits from /dev/urandom as exactly eight lower-case hexadecimal digits.
std::string tag();

// dir/.tqm-staging-<tag>; nothing is created.
std::string stagingDir(const std::string& dir);

// A writer's staging folder and its lock, which guards every entry of its tag in its folder. A
// writer makes it before the first of them and holds it until the last is gone; the object removes
// the staging folder last, then lets the lock go. The lock follows the install folder, whichever
// data folder, user or helper the writer and sweep run for.
class StagingLock {
public:
    StagingLock() = default;
    StagingLock(StagingLock&&) = default;
    StagingLock& operator=(StagingLock&&) = delete;
    ~StagingLock();

    // A writer's: makes a new staging folder (owner-only) in the folder dir under a fresh tag and
    // locks it; false with "cannot create <dir>/.tqm-staging-...: <system text>" or the refusal.
    bool make(const std::string& dir, std::string& error);
    // The same in the open folder dirFd, whose path is dir; 0 or a system error number.
    int makeAt(int dirFd, const std::string& dir = {});
    // A sweep's: locks the staging folder `name` of the open folder dirFd without waiting; false
    // when another process holds it, it is another account's, or it cannot be opened, or is no
    // longer the folder of that name.
    bool take(int dirFd, const std::string& name);

    bool held() const { return lock_.get() >= 0; }
    const std::string& tag() const { return tag_; }
    // The writer's staging folder, dir/.tqm-staging-<tag>, for messages and the log: the writer
    // itself works through handle() and folder().
    const std::string& path() const { return path_; }
    // The staging folder and the folder that holds it, as opened when it was made.
    int handle() const { return lock_.get(); }
    int folder() const { return folder_.get(); }
    // Whether the staging folder lies in the open folder dirFd.
    bool in(int dirFd) const;
    // The aside name of the entry `name` of the staging folder's folder: ".tqm-old-<tag>-<name>".
    std::string asideOf(const std::string& name) const { return asideName(tag_, name); }
    // The writer's staging folder stays on disk when the lock goes (for the next sweep).
    void keep() { keep_ = true; }
    bool kept() const { return keep_; }

private:
    int lockAt(int dirFd, const std::string& name, bool made);  // 0 or a system error number

    DirFd folder_, lock_;  // folder_: the folder that holds a writer's staging folder
    std::string tag_, path_;
    bool keep_ = false;
};

// The sweep claim of an install folder (the table above): a lock on its file ".tqm-claim" that
// only the accounts that may write the folder can open (FileLock, LockAccess::Writers). Held
// until the object goes, and counts only while its file has the name.
class SweepClaim {
public:
    SweepClaim() = default;
    SweepClaim(const SweepClaim&) = delete;
    SweepClaim& operator=(const SweepClaim&) = delete;
    ~SweepClaim();
    // Waits for the claim of the open folder dirFd (at the path dir) as long as keepWaiting answers
    // true (asked when another holds it, then every kLockAskInterval; a holder's letting go ends
    // the wait at once); false when not had, failure() saying why.
    bool take(int dirFd, const std::string& dir, const std::function<bool()>& keepWaiting);
    // Taken, and its file still has the name: what a sweep asks before each change it makes.
    bool held() const;
    // Why not: the take's failure, or "<dir>/.tqm-claim was removed or replaced while this sweep
    // held it".
    std::string failure() const;

private:
    std::unique_ptr<FileLock> lock_;
    std::string path_;
};

// What a sweep may touch in a folder. Made under the claim.
struct Sweepable {
    // The ".tqm-" entries of this process's account (and the aside copies its writers moved) of a
    // tag whose staging folder is gone (its writer finished or died) or that it could lock (held
    // keeps those locks; it locks only its own account's), and its entries of no tag; sorted. A
    // tag whose staging folder it cannot lock is left out, but for this account's entries when that
    // folder is another account's (not root's) whose note moved none of them aside: a gone
    // writer's, whatever was put at its staging folder's name.
    std::vector<std::string> names;
    std::vector<StagingLock> held;
    // Every entry of the listing those were taken from, sorted.
    std::vector<std::string> listed;
};

// Lists the open folder dirFd for a sweep that holds its claim; false when it cannot be listed or
// the claim is not held (ENOLCK).
bool sweepable(int dirFd, const SweepClaim& claim, Sweepable& out);

// <parent>/.tqm-old-<tag>-<name> for <parent>/<name> under a fresh tag; nothing is created.
std::string asideName(const std::string& path);

// The same with the tag of the staging folder (a stagingDir name) whose copy replaces path.
std::string asideFor(const std::string& staging, const std::string& path);

// Removes path and everything below it without following any link, whatever its depth; what cannot
// go stays. 0 when nothing of it is left, else kLinkRefused (engine/safe_path.h) or the first system
// error number met.
int removeAll(const std::string& path);

// Writes a removal's note with the staging folder made beside the copy, before anything moves:
// its path, or empty with error said (then nothing moves).
using RemovalNote = std::function<std::string(const StagingLock& guard, std::string& error)>;

// Removes an item a receipt records (remove.cpp) through moveIn: it is moved aside, then deleted,
// within its folder, reached from `managed` (the folder that holds the maker's folder) when path
// lies below it, else from the folder that holds path's maker's folder (inMakersFolder) or path's
// folder; no folder after that one is passed through a link, so a damaged record cannot reach what
// lies outside. The aside copy and the note (noteFor, when given; its path in note, dropped again
// when the copy stays) carry the tag of a staging folder made in that folder. A copy that cannot
// be deleted whole goes back to its name. Answers 0, a system error number, or kLinkRefused, with
// error said.
int removeRecorded(const std::string& managed, const std::string& path, bool inMakersFolder, const RemovalNote& noteFor,
                   std::string& note, std::string& error);

// True when files can be created in dir (made with its parents when missing); leaves no probe.
bool writable(const std::string& dir);

// Creates dir with its parents; false with "cannot create <dir>: <system text>".
bool createFolder(const std::string& dir, std::string& error);

// The steps of the protocol a test may stop at or fail: the renames that replace or remove an item
// (the old copy moved aside, the new copy moved in, the old copy put back when the new one cannot
// move in, the sweep's restoring of an aside copy), the writing of a note, a staging folder made
// but not yet locked (Made) and locked but not yet checked (Locked), and a sweep's listing made
// but its tags not yet looked at (Listed), a held claim about to be let go (Unclaim), an aside copy
// about to be renamed to its gone name (Gone), a deletion about to climb back to a folder's parent
// (Up), and a change's record saved but its note not yet dropped (Recorded).
enum class RenameStep { Aside, In, Back, Restore, Note, Made, Locked, Listed, Unclaim, Gone, Up, Recorded };

// Fault seam for tests: when set, it is asked before each of those steps, and a non-zero answer
// fails the step with that error number instead of doing it (Made, Locked, Listed, Unclaim, Up, Recorded:
// ignored).
extern int (*renameFault)(RenameStep step);

// Test seam: when set, the clock of a job's deadline for the claims it waits for (Engine::sweep).
extern std::chrono::steady_clock::time_point (*sweepClock)();

// A copy's identity as its note records it: device, inode and birth time (empty where the file
// system keeps none). A later copy may get the same numbers once this one is deleted.
struct CopyId {
    std::string dev, ino, birth;
};

// The identity of the entry name of the open folder dirFd (a link is not followed); false when it
// cannot be seen.
bool copyIdAt(int dirFd, const std::string& name, CopyId& id);

// Test seam: when set, copyIdAt answers what it makes of an entry's true identity.
extern CopyId (*identityFault)(const CopyId& real);

// OldCopyLeft: the new copy is in, but its aside name no longer held the old copy, which stays.
enum class MoveResult { Done, AsideFailed, MoveInFailed, Refused, OldCopyLeft };

// What becomes of the old copy once the new one is in: it goes, or stays aside for the next sweep
// (the running manager's bundle, whose files are still open).
enum class OldCopy { Goes, StaysAside };

// The one move-in. In the open folder dir (the staging folder's folder), the entry `name` (hasOld)
// is renamed to its aside name, then the staging folder's `item` is renamed in at name (never over
// an entry there), the old copy renamed back when that fails. A removal gives no item: the old copy
// is moved aside and deleted (deleteCopyAt). On failure text says why; when the old copy could not
// be put back, or another entry stands at its aside name (OldCopyLeft), the staging folder is kept
// beside the aside copy for the next sweep, and its writer keeps its note.
MoveResult moveInAt(StagingLock& staging, int dir, const std::string& name, const std::string& item, bool hasOld,
                    OldCopy old, std::string& text);

// moveInAt for the path target, whose folder must be the staging folder's. Refused: root would have
// passed a link the user can change (text says so).
MoveResult moveIn(StagingLock& staging, const std::string& item, const std::string& target, bool hasOld,
                  std::string& text, OldCopy old = OldCopy::Goes);

// moveIn with its failure put in words for the user: "cannot move the old <what> aside (<system
// text>): <busyHint>", "cannot move <what> into <dir>: <system text>", "moved <what> into <dir>, but
// the old copy is not deleted: another process put something else at <aside name>: left alone", or
// the refusal. True when the new copy is in place and the old one was not found replaced.
bool moveInOrSay(StagingLock& staging, const std::string& item, const std::string& target, bool hasOld,
                 const std::string& what, const std::string& dir, const std::string& busyHint, std::string& error);

// The one restore rule, of sweepFolder and Engine::sweepSelf, for the aside or gone copy `entry` of the
// open folder dirFd that sweepable listed in folder (its tag's staging lock held or its staging
// folder gone), decided on that listing and what is at its name now (see WHAT A SWEEP READS AND
// MAY TOUCH above). An aside copy with no note whose name is taken goes only when unnoted says so
// (the manager's own, moved aside with no note by design: Engine::sweepSelf): no note vouches for it.
void restoreOrRemove(int dirFd, const Sweepable& folder, const std::string& entry, bool unnoted = false);

// The notes: what a change will record, written beside its staging folder (".tqm-record-<tag>")
// before anything moves. notePending notes the install of the staging folder's item, noteRemoval
// the removal of the copy at path (whose record names `recorded`); an install's may name the copy
// of an earlier install folder it replaces (earlier: recorded from the note, that copy is left to the
// next job, Receipt::left). Each answers the note's path, empty with error said ("cannot write
// <note>: <system text>") when it could not be written. The change drops it once its receipt is
// saved; a note left by a kill is read by the sweep or start of the data folder whose receipt is
// receiptFile (the note names it).
std::string notePending(const StagingLock& staging, const std::string& item, const std::string& id,
                        const std::string& format, const InstalledFormat& rec, int64_t sequence,
                        const std::string& receiptFile, std::string& error, const std::string& earlier = {});
std::string noteRemoval(const StagingLock& guard, const std::string& id, const std::string& format,
                        const std::string& path, const std::string& recorded, const std::string& receiptFile,
                        std::string& error);
void dropNote(const std::string& note);
// Whether the notes this process writes count for the receipt file: whether a start of its data
// folder records what they note.
bool notesCount(const std::string& receiptFile);
// What a change asks before anything moves: that its note counts for the receipt file it records
// in, and that what it would replace or remove at path (when anything is there) is that receipt's
// owner's, or root's where the receipt is root's or path is `named`: the copy of the task's item
// in the layout's folder for it (empty when the catalog names none). False with why.
bool mayChange(const std::string& receiptFile, const std::string& path, const std::string& named,
               std::string& error);

// Whether the note `name` of the open folder dirFd, written by root, by this process's user or by
// `alsoBy`, says its copy in that folder was removed (op "remove") or names the install whose copy
// it is (op ""); that copy's name there in copyName. An install's note also tells whether the entry
// at that name is the very copy it noted (isCopy); either note whether the entry at its tag's aside
// name of it is the copy it noted moving aside (isOld; true for a note that names none, from before
// they were).
struct NoteSays {
    bool removal = false, isCopy = false, isOld = false;
    std::string copyName;
};
bool readOwnNote(int dirFd, const std::string& name, uid_t alsoBy, NoteSays& says);

// Whether the note `name` of the open folder dirFd may go once it is settled: what a sweep asks of
// each note it is allowed to touch.
using NoteSettler = std::function<bool(int dirFd, const std::string& name)>;

// One sweep of a folder. Under its claim (waited for as keepWaiting allows): of the ".tqm-" entries
// sweepable answers, aside copies go back or go (restoreOrRemove) and the rest but notes goes. Then,
// the claim and the staging locks let go, each of those notes is handed to settle and removed only
// when it answers true and no aside copy of its tag is left. True too when there is no folder; false
// with error said when it cannot be read ("cannot read <dir>: <system text>") or its claim was not
// had or was lost before a change (the claim's failure: nothing more is changed). Aside copies of
// the name runningCopy (the running manager's bundle, when it lies in dir) stay while that name is
// taken: the next start sweeps them.
bool sweepFolder(const std::string& dir, const NoteSettler& settle, const std::function<bool()>& keepWaiting,
                 std::string& error, const std::string& runningCopy = {});

}  // namespace detail

}  // namespace tqm
