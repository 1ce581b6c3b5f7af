#pragma once
// The manager's reading of the stored command line: a switch is a word equal to the name anywhere
// in the list, its value the word after the first such word (empty when there is none).
#include <string>
#include <vector>

namespace tqapp {

bool hasArg(const char* name);
std::string argValue(const char* name);

// Replaces the stored words (the program entry stores them once; tests set their own).
void storeArgs(std::vector<std::string> words);

}  // namespace tqapp
