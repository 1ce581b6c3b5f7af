#pragma once
// The run configuration of the manager: built by the main window at start, moved into the model
// and copied from there into every worker. A plain value.
#include <string>
#include <vector>

#include "engine/jobs.h"
#include "engine/layout.h"

namespace tqapp {

// The manager's own version as built; the build writes it into the bundle's Info.plist too.
inline constexpr const char* kVersion = "0.3.0";

// The version of the manager running as program: the Info.plist version of the bundle it runs from,
// which is what a self-update replaced; kVersion for a program outside a bundle, or one whose
// Info.plist gives no plain version.
std::string ownVersion(const std::string& program);

struct Config {
    tqm::Layout layout;             // install scope, root folder (empty: the default folders), folder overrides
    std::string source;             // catalog source: a web address or a folder
    std::string pub;                // comma-separated hexadecimal ed25519 keys that may sign the catalog
    bool offline = false;           // no network: the cached catalog only
    bool harness = false;           // run by the automation harness: loads inline, no log
    std::string program;            // the running executable
    std::string applySwitch = "--tqm-apply";  // starts a copy of the program as the elevated helper
    std::string version = kVersion;           // the manager's own version (ownVersion at start)
    // The words that run the elevated helper with administrator rights (tests give a plain
    // launcher; an empty list runs it through a plain shell).
    std::vector<std::string> prompt = tqm::adminPrompt();
};

}  // namespace tqapp
