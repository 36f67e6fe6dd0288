#include "test_pattern.hpp"

#include <cstddef>

namespace korvex::tools {

void draw_test_pattern(std::span<uint8_t> nv12, uint32_t width, uint32_t height, uint32_t index) {
  uint8_t* luma = nv12.data();
  uint8_t* chroma = nv12.data() + static_cast<size_t>(width) * height;
  const uint32_t shift = index * 4;
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = luma + static_cast<size_t>(y) * width;
    for (uint32_t x = 0; x < width; ++x) {
      // Video range 16..235.
      row[x] = static_cast<uint8_t>(16 + ((x + y + shift) % 220));
    }
  }
  const uint32_t side = height / 5;
  const uint32_t travel = width > side ? width - side : 1;
  const uint32_t left = (index * 8) % travel;
  const uint32_t top = height / 2;
  for (uint32_t y = top; y < top + side && y < height; ++y) {
    for (uint32_t x = left; x < left + side; ++x) {
      luma[static_cast<size_t>(y) * width + x] = 225;
    }
  }
  for (uint32_t y = 0; y < height / 2; ++y) {
    uint8_t* row = chroma + static_cast<size_t>(y) * width;
    for (uint32_t x = 0; x < width; x += 2) {
      const uint32_t band = (x / 2 + y + shift) / 32;
      row[x] = static_cast<uint8_t>(64 + (band * 37) % 128);      // Cb
      row[x + 1] = static_cast<uint8_t>(64 + (band * 71) % 128);  // Cr
    }
  }
}

}  // namespace korvex::tools
