#pragma once
// The demo catalog: its products, the signed catalog text and the packages, written into a
// folder source; and the installed state of an older catalog under a root folder.
#include <string>
#include <vector>

namespace demo {

struct Options {
    std::string out;         // the demo folder: "catalog/", "keys/", "root/"
    std::string bundle;      // the manager's bundle: packed again at a newer version as the manager's update
    int entries = 0;         // plug-ins beyond the named ones, for large catalogs
    int paddingKb = 256;     // incompressible bytes in each plug-in package, so downloads take a moment
};

// Writes everything; false with a message.
bool makeDemo(const Options& options, std::string& error);

// The newer version the demo offers the manager: the minor number raised by one ("0.3.0" -> "0.4.0").
std::string nextVersion(const std::string& version);

// A serialised plist naming the bundle's version.
std::string infoPlist(const std::string& name, const std::string& executable, const std::string& version);

}  // namespace demo
