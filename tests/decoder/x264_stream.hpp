#pragma once

// Real H.264 streams for the decoder tests, made by libx264 at test time:
// Annex-B access units with SPS/PPS before every keyframe, no B-frames, one
// access unit per picture, tagged BT.601 limited range.

#include <cstdint>
#include <vector>

namespace korvex::test {

struct AccessUnit {
  std::vector<uint8_t> data;
  uint64_t pts_us = 0;
  bool keyframe = false;
};

struct StreamShape {
  uint32_t width = 1280;
  uint32_t height = 720;
  uint32_t frames = 10;
  uint32_t keyframe_interval = 30;
  uint64_t first_pts_us = 0;  // then 1/30 s apart
};

std::vector<AccessUnit> encode_stream(const StreamShape& shape);

// The luma plane the encoder was given for picture `index` of a stream.
std::vector<uint8_t> source_luma(uint32_t width, uint32_t height, uint32_t index);

}  // namespace korvex::test
