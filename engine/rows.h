#pragma once
// List rows: the catalog, the receipts and the disk turned into what the manager lists.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/layout.h"
#include "engine/receipt.h"

namespace tqm {

enum class State : int32_t {
    Absent = 0,        // a package exists here, nothing installed
    Installed = 1,     // installed and present, nothing newer
    Update = 2,        // an installed, present format is older than the catalog
    NeedsManager = 3,  // an install or update would be offered but needs a newer manager
    Unavailable = 4,   // nothing installed and no package for this platform
    Delisted = 5,      // installed but no longer in the catalog
};

// "absent", "installed", ...; "?" for any other value.
const char* stateName(State state);

struct FormatRow {
    bool available = false;  // the catalog has a package of this format here
    bool installed = false;  // recorded (applications: recorded or found)
    bool present = false;    // the recorded or found item exists
    bool update = false;     // installed version is older than the catalog's
    std::string version;     // installed version
    std::string path;        // installed path
    std::vector<std::string> copies;  // another copy straight in the format's root folder (at most one)
};

struct Row {
    std::string id;
    std::string name;
    const Plugin* entry = nullptr;  // borrowed from the catalog; null when not in it
    State state = State::Absent;
    std::string version;  // lowest installed version; empty when nothing is installed
    std::map<std::string, FormatRow> formats;
    uint8_t kind = 0;         // 0 plug-in, 1 application
    bool unrecorded = false;  // applications: found on disk without a record

    // An application row that also carries plug-ins.
    bool appPlugin() const;
};

// The rows borrow the catalog's entries: the catalog must outlive them.
std::vector<Row> deriveRows(const Catalog* catalog, const Receipt& receipt, const Layout& layout,
                            const std::string& managerVersion, const Receipt& appsReceipt);

}  // namespace tqm
