#pragma once
// Application places: where a companion application's bundle is, whether it is there,
// which version it is and whether the manager recorded it.
#include <string>

#include "engine/layout.h"
#include "engine/receipt.h"

namespace tqm {

struct AppPlace {
    bool installed = false;   // recorded in the apps receipt, or found on disk
    bool present = false;     // the bundle (or its program) exists
    bool unrecorded = false;  // found on disk without a record
    std::string version;      // the bundle's version, else the recorded one
    std::string path;         // the bundle path looked at
};

// `key` (the uninstall key) is accepted and not used on this platform; `installed` may be null.
AppPlace findApp(const Layout& layout, const std::string& key, const std::string& item, const std::string& exe,
                 const InstalledFormat* installed);

// bundle/Contents/MacOS/exe
std::string appProgram(const std::string& bundle, const std::string& exe);

// True when the path plainly names the application `item` (case-insensitive), not a bare name,
// not straight in "/" and without "." or ".." parts; checked before anything is moved or deleted.
bool plainlyApp(const std::string& path, const std::string& item);

// "CFBundleShortVersionString" of the bundle's Contents/Info.plist (XML or binary);
// empty when anything is missing, unreadable or longer than 127 bytes.
std::string bundleVersion(const std::string& bundle);

}  // namespace tqm
