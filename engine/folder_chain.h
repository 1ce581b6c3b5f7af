#pragma once
// Opening folders below one open folder, one name at a time and never through a link, keeping
// the folders of the previous path open: unpacking a package whose entries come folder by
// folder then opens each folder about once, however deep the tree.
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "engine/safe_path.h"

namespace tqm::detail {

// The mode a folder is made with: whatever the umask, no other account may write it.
constexpr mode_t kUnpackedFolder = 0755;

class FolderChain {
public:
    // base: the open folder every path starts from; it must outlive the chain.
    explicit FolderChain(int base) : base_(base) {}

    // Opens the folder names[0] / ... / names[count - 1] below base, making missing folders when
    // make is set, and gives its handle in fd (base itself for count 0); the handle stays valid
    // until the next call. Answers 0, kLinkRefused when a name on the way is a link, or a system
    // error number (ENOTDIR for a file on the way).
    int open(const std::vector<std::string>& names, size_t count, bool make, int& fd);

private:
    int at(size_t level) const { return level == 0 ? base_ : fds_[level - 1].get(); }
    bool keep(size_t index, size_t top) const;
    int step(size_t index, const std::string& name, bool make);

    int base_;
    std::vector<std::string> names_;  // the folders open last, from base down
    std::vector<DirFd> fds_;          // fds_[i] is names_[0..i]; only some are kept open
};

}  // namespace tqm::detail
