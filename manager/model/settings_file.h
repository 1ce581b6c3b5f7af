#pragma once
// The manager's two small files in its user-data folder. "settings.txt" holds one setting a line,
// key "=" value, split at the first "="; a "\r" before a line's end is not part of it; lines it does not know (or that hold no "=") are kept as
// they are. "window.txt" holds the last body size: width, a blank, height.
// Both are rewritten whole through a sibling temporary file and one rename (engine/atomic_write.h).
#include <functional>
#include <string>
#include <vector>

#include "engine/layout.h"

namespace tqapp {

std::string settingsPath(const tqm::Layout& layout);
std::string sizePath(const tqm::Layout& layout);

// Calls fn with the key and value of every line holding "=", in file order; a missing or
// unreadable file has no lines.
void readSettings(const std::string& path, const std::function<void(const std::string&, const std::string&)>& fn);
// The value of the first line that begins with key "="; empty when none.
std::string settingValue(const std::string& path, const std::string& key);
// Drops empty lines and every line of the key, appends key "=" value; the other lines stay byte
// for byte. Writers in several processes take turns (a lock on path + ".lock"). A key or value
// holding a line break, or a key holding "=", is refused: false and nothing written. So is any
// write while the file is there but cannot be read (too large, not a regular file, refused): it
// stays as it is; and one whose turn does not come within a few seconds.
bool writeSetting(const std::string& path, const std::string& key, const std::string& value);

// True when s holds a byte below 0x20 or DEL: such a name is never stored or used as a folder.
bool holdsControlByte(const std::string& s);

// The scope a word names: "user" or "system"; any other word is the default scope.
tqm::Scope scopeOf(const std::string& word);

// What a start takes from the settings file into layout: the scope (unless keepScope, when the
// command line named one) and every "folder.<format>" that holds a full path of plain characters.
// Answers one note for each stored folder left out.
std::vector<std::string> applySettings(const std::string& path, tqm::Layout& layout, bool keepScope);

// The status line's words for a setting that could not be saved.
std::string notSavedText(const std::string& path);

// Two whitespace-separated decimal integers; false when either is missing or unreadable.
bool readSize(const std::string& path, int& w, int& h);
bool writeSize(const std::string& path, int w, int h);

// Replaces the file with text: parents made, a sibling temporary written, then renamed over it.
bool writeWhole(const std::string& path, const std::string& text);

}  // namespace tqapp
