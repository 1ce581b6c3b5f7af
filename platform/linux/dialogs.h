#pragma once
// Choose-folder and file dialogs through zenity, when it is installed; modal (the caller waits).
#include <string>
#include <vector>

namespace lumo::platform {

// Runs "zenity" (found on PATH) with the arguments; true with its standard output, less the last
// line feed, when it ran and exited with status 0 (the user confirmed).
bool runZenity(const std::vector<std::string>& args, std::string& out);

// `path` brings the start folder and takes the chosen one.
bool zenityFolder(const std::string& title, std::string& path);
// `path` brings the start folder (or file) and takes the chosen file; `name` is the proposed name of a
// file to save, `extension` its filter ("" for all files).
bool zenityFile(bool save, const std::string& title, const std::string& extension, const std::string& name,
                std::string& path);
bool zenityFiles(const std::string& title, const std::string& types, const std::vector<std::string>& extensions,
                 bool multiple, std::vector<std::string>& paths);

}  // namespace lumo::platform
