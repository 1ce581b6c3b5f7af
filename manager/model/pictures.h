#pragma once
// The picture cache of the catalog's row and logo art. Pictures live in their own folder under
// the user-data cache ("cache/art/<art path>"), apart from the engine's cached catalog and
// packages, so no art path can overwrite those. A cached file is trusted only when its size and
// SHA-256 match the catalog; anything else is fetched again, checked and then written.
#include <map>
#include <string>

#include "engine/catalog.h"
#include "engine/source.h"
#include "gui/draw/canvas.h"

namespace tqapp {

// The pictures of one catalog entry, keyed as the catalog's art maps are keyed ("1x", "2x", ...).
// A picture that could not be had is an empty bitmap under its key, never a missing key.
struct Art {
    std::map<std::string, lumo::gui::Bitmap> row;
    std::map<std::string, lumo::gui::Bitmap> logo;
};

}  // namespace tqapp

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

// The pictures of every entry (plug-ins, then apps), by id: every entry has its Art, and a later
// entry with the same id replaces pictures of equal keys. Each distinct file is read once; a
// long list is shared among a few threads.
std::map<std::string, Art> catalogPictures(const tqm::Source& source, const std::string& dir,
                                           const tqm::Catalog& catalog);

}  // namespace tqapp::art
