#pragma once

// NV12 planes in memory that is not necessarily packed: `pitch` bytes from
// one row to the next in both planes.

#include <cstdint>

namespace korvex::picture {

struct Nv12View {
  uint8_t* y = nullptr;
  uint8_t* uv = nullptr;  // height / 2 rows of interleaved Cb, Cr
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t pitch = 0;
};

struct ConstNv12View {
  const uint8_t* y = nullptr;
  const uint8_t* uv = nullptr;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t pitch = 0;
};

// Black in video range: what the bars around a fitted picture are.
inline constexpr uint8_t kBlackLuma = 16;
inline constexpr uint8_t kNeutralChroma = 128;

}  // namespace korvex::picture
