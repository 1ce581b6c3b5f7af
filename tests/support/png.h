#pragma once
// PNG encoding for tests that build their own pictures (asset packs, bitmap files).
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Encodes w x h pixels given as 0xAARRGGBB words; empty on failure.
std::string encodePng(int w, int h, const std::vector<uint32_t>& argb);

}  // namespace testsupport
