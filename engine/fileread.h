#pragma once
// Reading small files that other programs or people may have put in place.
#include <cstddef>
#include <string>

namespace tqm {

// Reads the whole of a regular file of at most maxBytes. False with errno-style `err` set:
// ENOENT when it is missing, EFBIG when it is longer, EINVAL when it is not a regular file
// (a folder or a pipe never blocks the reader).
bool readRegularFile(const std::string& path, size_t maxBytes, std::string& out, int& err);

// The same for a file already open (and checked) at fd, which stays open.
bool readRegularFile(int fd, size_t maxBytes, std::string& out, int& err);

}  // namespace tqm
