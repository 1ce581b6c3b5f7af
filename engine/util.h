#pragma once
// Small stateless helpers shared by the engine and the manager.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "json/json.h"

namespace tqm {

// -1 when a is older than b, 0 when equal, 1 when newer; up to three dot-separated numbers.
int32_t compareVersions(const std::string& a, const std::string& b);

// SHA-256 of the bytes as 64 lower-case hexadecimal digits.
std::string sha256Hex(const void* data, size_t size);

// The current UTC time as "%Y-%m-%dT%H:%M:%SZ".
std::string nowUtc();

// The pieces of text between separators, empty ones included ("a//b" gives "a", "", "b").
std::vector<std::string> splitAt(const std::string& text, char separator);

// The program of that name as the system finds it: the first executable regular file of that name
// in a folder of PATH (the system's default path when PATH is unset); empty when there is none.
// Only absolute folders count: an empty or relative entry names whatever folder the process was
// started in, which no one chose to hold programs.
std::string findOnPath(const std::string& name);

// A JSON string literal (quotes included) for hand-written JSON files.
using lumo::jsonQuote;

}  // namespace tqm
