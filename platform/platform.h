#pragma once
// The process-wide services below the toolkit: the stored command line, the display scale the
// program asks for, and the data folders. All are safe to use from any thread.
#include <string>
#include <vector>

namespace lumo {

// ---- stored command line
// Keeps the words of main's command line after the program name, replacing what was kept before.
void storeStandaloneArgs(int argc, const char* const* argv);
std::vector<std::string> standaloneArgs();
// True when some stored word equals the name exactly.
bool hasStandaloneArg(const char* name);
// The word after the first stored word equal to the name; empty when there is none or the name is
// the last word.
std::string standaloneArgValue(const char* name);

// ---- display scale
// The scale windows take in place of the desktop's (0: the desktop's). Kept in the process: the
// programs this one starts see the desktop's setting, not this.
void setDisplayScaleOverride(double scale);
double displayScaleOverride();

// ---- data folders
// Every data folder lies under the override when one is set (an empty path clears it).
void setDataFolderOverride(const std::string& folder);
std::string dataFolderOverride();
// "<home>/Documents", or "<override>/Documents".
std::string documentsFolder();
// "<home>/Library/Application Support", or "<override>/AppData".
std::string appDataFolder();

}  // namespace lumo
