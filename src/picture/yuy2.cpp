#include "picture/yuy2.hpp"

namespace korvex::picture {

void nv12_to_yuy2(const ConstNv12View& source, uint8_t* target, uint32_t target_pitch) {
  for (uint32_t row = 0; row < source.height; ++row) {
    const uint8_t* y = source.y + uint64_t{row} * source.pitch;
    const uint8_t* uv = source.uv + uint64_t{row / 2} * source.pitch;
    uint8_t* out = target + uint64_t{row} * target_pitch;
    for (uint32_t x = 0; x + 1 < source.width; x += 2) {
      out[2 * x] = y[x];
      out[2 * x + 1] = uv[x];
      out[2 * x + 2] = y[x + 1];
      out[2 * x + 3] = uv[x + 1];
    }
  }
}

}  // namespace korvex::picture
