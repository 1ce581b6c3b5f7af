#pragma once
// The picture cache of the catalog's row and logo art. Pictures live in their own folder under
// the user-data cache ("cache/art/<art path>"), apart from the engine's cached catalog and
// packages, so no art path can overwrite those. A cached file is trusted only when its size and
// SHA-256 match the catalog; anything else is fetched again, checked and then written.
#include <string>

#include "engine/catalog.h"
#include "engine/source.h"
#include "gui/draw/canvas.h"

namespace tqapp::art {

// The folder pictures are cached in: userData/"cache"/"art".
std::string cacheDir(const std::string& userData);

// A relative path of plain names below its folder: no empty, "." or ".." segment, no leading
// slash, no backslash, colon or control byte.
bool safePath(const std::string& path);

// The bytes are exactly the referenced file: its size and its lower-case hexadecimal SHA-256.
bool matches(const std::string& bytes, const tqm::FileRef& ref);

// The decoded picture of ref: from the cache when it matches there, else fetched from the
// source, checked and cached. An empty bitmap when it cannot be had or does not decode, and
// for a path that is not safe.
lumo::gui::Bitmap picture(const tqm::Source& source, const std::string& dir, const tqm::FileRef& ref);

}  // namespace tqapp::art
