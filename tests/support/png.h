#pragma once
// PNG encoding for tests that build their own pictures (asset packs, bitmap files).
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Encodes w x h pixels given as 0xAARRGGBB words; empty on failure.
std::string encodePng(int w, int h, const std::vector<uint32_t>& argb);

// A w x h picture of black one-bit grey pixels: a few kilobytes even for pictures of many megapixels.
std::string encodeBlankPng(int w, int h);

}  // namespace testsupport
