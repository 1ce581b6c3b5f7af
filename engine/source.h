#pragma once
// Where the catalog, its signature and the packages come from: a web base address or a folder.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace tqm {

// Transfer progress: bytes done and bytes in total (0 while the total is unknown).
// Answering false stops the transfer.
using Progress = std::function<bool(uint64_t done, uint64_t total)>;

struct Source {
    std::string base;  // normalised base address (ending in "/") or folder path; empty = no source
    // A web transfer that receives nothing for this long fails ("... sent nothing for 30 s").
    std::chrono::milliseconds stallLimit = std::chrono::seconds(30);
    // A web transfer that gets fewer than minRate bytes a second, averaged over each rateWindow,
    // fails as a stalled one does: a server that drips a byte now and then cannot hold a job.
    uint64_t minRate = 1024;
    std::chrono::milliseconds rateWindow = std::chrono::seconds(30);

    Source() = default;
    // Drops a leading "file://" and gives a web address its final "/".
    explicit Source(std::string text);

    // Reads the named file, relative to the base, into out (at most 1 GiB). With most, the size
    // the catalog gives (0 is a size too): a larger file is refused before it is read, and a
    // transfer that sends more is left as soon as it does (the progress then ends at most).
    // False with one message in error, which names the file and says why in plain words;
    // out may then hold part of the data.
    bool fetch(const std::string& name, std::string& out, std::string& error, const Progress& progress = {},
               uint64_t most = UINT64_MAX) const;
};

}  // namespace tqm
