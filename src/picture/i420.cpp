#include "picture/i420.hpp"

#include <cstring>

namespace korvex::picture {

void nv12_to_i420(const ConstNv12View& source, uint8_t* target, uint32_t target_pitch) {
  for (uint32_t row = 0; row < source.height; ++row) {
    std::memcpy(target + uint64_t{row} * target_pitch, source.y + uint64_t{row} * source.pitch,
                source.width);
  }
  const uint32_t chroma_pitch = target_pitch / 2;
  const uint32_t chroma_rows = source.height / 2;
  uint8_t* cb = target + uint64_t{target_pitch} * source.height;
  uint8_t* cr = cb + uint64_t{chroma_pitch} * chroma_rows;
  for (uint32_t row = 0; row < chroma_rows; ++row) {
    const uint8_t* pairs = source.uv + uint64_t{row} * source.pitch;
    uint8_t* cb_row = cb + uint64_t{row} * chroma_pitch;
    uint8_t* cr_row = cr + uint64_t{row} * chroma_pitch;
    for (uint32_t x = 0; x < source.width / 2; ++x) {
      cb_row[x] = pairs[2 * x];
      cr_row[x] = pairs[2 * x + 1];
    }
  }
}

}  // namespace korvex::picture
