#pragma once
// PNG encoding of pictures, beside the decoder of bitmap.cpp: screenshots, the skin and font packs,
// the demo catalog's pictures and the tests' own pictures are all written here.
#include <cstdint>
#include <string>
#include <vector>

#include "gui/draw/canvas.h"

namespace lumo::gui {

// w x h pixels given as 0xAARRGGBB words, as RGBA PNG bytes; empty when w or h is below 1, when
// argb does not hold w x h pixels, when the picture is too large for the encoder (over about
// 128 million pixels) or when encoding fails.
std::string encodePng(int w, int h, const std::vector<uint32_t>& argb);

// The canvas's pixels as RGBA PNG bytes; empty for an empty canvas.
std::string encodePng(const Canvas& canvas);

}  // namespace lumo::gui
