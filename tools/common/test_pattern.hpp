#pragma once

// A moving NV12 test picture: diagonal colour bands that scroll and a bright
// square that travels across, so every picture differs from the last and the
// encoder has real motion to code.

#include <cstdint>
#include <span>

namespace korvex::tools {

// Fills `nv12` (width x height luma, then height / 2 rows of interleaved
// Cb/Cr, no padding) with picture number `index` of the pattern.
void draw_test_pattern(std::span<uint8_t> nv12, uint32_t width, uint32_t height, uint32_t index);

}  // namespace korvex::tools
