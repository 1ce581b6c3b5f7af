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

}  // namespace testsupport
