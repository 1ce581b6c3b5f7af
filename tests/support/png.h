#pragma once
// PNG encoding for tests that build their own pictures (asset packs, bitmap files).
#include <cstdint>
#include <string>
#include <vector>

#include "gui/draw/png_write.h"

namespace testsupport {

// Encodes w x h pixels given as 0xAARRGGBB words; empty on failure.
using lumo::gui::encodePng;

// A w x h picture of black one-bit grey pixels: a few kilobytes even for pictures of many megapixels.
std::string encodeBlankPng(int w, int h);

// Encodes as encodePng does, fast rather than small (rows unfiltered, the least compression): for
// the large pictures the painting tests write for a person to look at. Empty on failure.
std::string encodeQuickPng(int w, int h, const std::vector<uint32_t>& argb);

}  // namespace testsupport
