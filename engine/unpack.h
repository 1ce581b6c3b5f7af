#pragma once
// Safe unpacking of a package zip into a staging folder (used by the install operations).
#include <string>

namespace tqm::detail {

// Unpacks the zip bytes into dest (made when missing). Every entry must lie inside item; names,
// links and sizes are checked before anything is written, and nothing is written through a link
// or into a file already there.
// False with error set at the first failure; entries written before it stay in dest.
bool unpack(const std::string& zip, const std::string& dest, const std::string& item, std::string& error);

// The same into the open folder destFd (a writer's staging folder, by its handle); dest names it in
// messages. Every file is made new there (a name already taken fails the unpack).
bool unpackAt(const std::string& zip, int destFd, const std::string& dest, const std::string& item,
              std::string& error);

}  // namespace tqm::detail
