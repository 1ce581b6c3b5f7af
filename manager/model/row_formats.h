#pragma once
// Small questions about a row's formats that the model's status counts, the row actions, UPDATE ALL
// and the row menu share.
#include <string>
#include <vector>

#include "engine/rows.h"

namespace tqapp {

// Installed and its item is on disk.
inline bool formatHere(const tqm::FormatRow& f) { return f.installed && f.present; }
// Installed, older than the catalog, and the catalog has a package of it here.
inline bool formatUpdatable(const tqm::FormatRow& f) { return f.installed && f.update && f.available; }

// A row UPDATE ALL takes up: in the update state with at least one format to update here.
// The status line counts the same rows.
inline bool rowUpdatable(const tqm::Row& row) {
    if (row.state != tqm::State::Update) return false;
    for (const auto& [key, f] : row.formats)
        if (formatUpdatable(f)) return true;
    return false;
}

// The format keys of a row, in key order, whose format passes the test (key, format row).
template <class Test>
std::vector<std::string> formatsWhere(const tqm::Row& row, Test test) {
    std::vector<std::string> out;
    for (const auto& [key, f] : row.formats)
        if (test(key, f)) out.push_back(key);
    return out;
}

}  // namespace tqapp
