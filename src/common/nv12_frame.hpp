#pragma once

#include <cstdint>
#include <vector>

namespace korvex {

// One decoded picture, tightly packed NV12: `height` rows of `width` luma
// bytes, then `height` / 2 rows of `width` interleaved Cb/Cr bytes, no padding.
struct Nv12Frame {
  std::vector<uint8_t> data;  // exactly width * height * 3 / 2 bytes
  uint64_t timestamp_us = 0;  // presentation time on the phone's clock
  uint32_t width = 0;
  uint32_t height = 0;
};

}  // namespace korvex
