#pragma once
// A small web server for the demo catalog on 127.0.0.1, so the manager shows download progress.
#include <cstdint>
#include <string>

namespace demo {

// Serves the files below dir until the process ends. Port 0 picks a free port. rate: bytes per
// second each transfer is held to (0: as fast as it goes). Prints the base address once listening;
// false with a message when it cannot listen.
bool serveFolder(const std::string& dir, int port, uint64_t rate, std::string& error);

// The file a request path names below dir: plain names only (no "..", "." or empty segment, no
// backslash); empty for anything else. A query or fragment is dropped.
std::string servedPath(const std::string& dir, const std::string& target);

}  // namespace demo
