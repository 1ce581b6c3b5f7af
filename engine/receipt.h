#pragma once
// Receipts: the manager's own record of what it installed ("installed.json" for plug-ins,
// "apps.json" for applications; both in one format).
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace tqm {

// One installed format; in "apps.json" the application itself under the key "app".
struct InstalledFormat {
    std::string version;         // catalog version that was installed
    std::string path;            // absolute path of the installed item
    std::string package_sha256;  // SHA-256 of the package it came from
    std::string installed;       // UTC time of the install (nowUtc)
    std::string exe;             // program inside an application bundle; empty for plug-ins
    std::string uninstall_key;   // catalog uninstall key of an application; empty for plug-ins
};

struct InstalledPlugin {
    std::map<std::string, InstalledFormat> formats;  // by format key

    // The lowest version among the formats; an empty version never replaces a non-empty one.
    std::string version() const;
};

// What a change cut off by a kill left in an install folder outside the layout's own (an earlier
// install folder, an app's own folder): that folder is swept until nothing of a change is left there,
// and a copy an update replaced (id set) goes where it still lies unrecorded.
struct LeftCopy {
    std::string format;
    std::string id;  // the product whose update replaced the copy; empty for a removed copy's folder
};

struct Receipt {
    int64_t catalog_sequence = 0;
    std::map<std::string, InstalledPlugin> plugins;  // by product id
    std::map<std::string, LeftCopy> left;            // by the copy's path

    // A missing file is an empty receipt (true). A file that cannot be read or is not a
    // receipt is an error; the receipt is left empty and the file untouched.
    bool load(const std::string& path, std::string& error);
    // Replaces the file atomically; products without formats are not written.
    bool save(const std::string& path, std::string& error) const;
};

// Records one change in the receipt file at path beside its other writers (another manager on the
// same data folder, the elevated helper beside a job in the manager): under the file's lock
// (path + ".lock", owner-only) the file is read again, `change` is applied to what it holds and
// that is saved; `mine` then holds the file's records. The lock is waited for as long as
// keepWaiting answers true (empty: kReceiptLockWait, engine/install_folder.h); a lock not had, or a
// file that cannot be read, leaves the file as it is and mine as it was, with error said.
bool updateReceipt(const std::string& path, Receipt& mine, const std::function<void(Receipt&)>& change,
                   std::string& error, const std::function<bool()>& keepWaiting = {});

// Whether this process can save a change of the receipt file at path, asked before anything that
// the change records is moved: the file's folder is made (as save makes it), must take new files,
// and in a folder with the sticky bit a file of another account's at the name cannot be replaced.
// False with error said as save would say it.
bool receiptWritable(const std::string& path, std::string& error);

// What a caller is shown while another copy of the manager holds a lock it waits for: "Waiting for
// another copy of the manager to finish writing <file name>" for the receipt file's lock, "... to
// finish sweeping <folder>" for an install folder's sweep claim, "... to finish its job" without
// either (the job lock).
std::string waitingSentence(const std::string& receiptFile = {}, const std::string& sweptFolder = {});

// The exact text save writes.
std::string receiptText(const Receipt& receipt);

}  // namespace tqm
