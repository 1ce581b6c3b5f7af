#pragma once
// The manager's log: one plain-text file of time-stamped lines, rotated past 2 MiB, written by
// the UI thread and by job workers through one process-wide lock.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tqapp {

// A log larger than this is moved to the previous-log name before the next line.
inline constexpr uintmax_t kLogLimit = 0x200000;

// "logs/manager.log" of the user-data folder.
std::filesystem::path logPath(const std::string& userData);

// Appends "<local time>  <text>\n" to file, making its folder; rotates first when the file is
// over kLogLimit. Every error is ignored: logging never stops its caller.
void appendLog(const std::filesystem::path& file, const std::string& text);
// Several lines at once, each with its stamp, none of another writer's between them.
void appendLog(const std::filesystem::path& file, const std::vector<std::string>& texts);

}  // namespace tqapp
