#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "frame_stamp.hpp"

namespace korvex::tools {
namespace {

TEST(FrameStamp, RoundTripsAtCommonSizes) {
  for (auto [w, h] : {std::pair{1920u, 1080u}, {1280u, 720u}, {640u, 360u}, {320u, 240u}}) {
    std::vector<uint8_t> luma(static_cast<size_t>(w) * h, 90);
    const Stamp stamp{123456, 1'765'000'000'123'456ull};
    draw_stamp(luma.data(), w, h, w, stamp);
    const auto read = read_stamp(luma.data(), w, h, w);
    ASSERT_TRUE(read.has_value()) << w << "x" << h;
    EXPECT_EQ(read->index, stamp.index);
    EXPECT_EQ(read->send_time_us, stamp.send_time_us);
  }
}

TEST(FrameStamp, SurvivesNoiseAndALumaShift) {
  const uint32_t w = 1280, h = 720;
  std::vector<uint8_t> luma(static_cast<size_t>(w) * h, 0);
  draw_stamp(luma.data(), w, h, w, Stamp{7, 42});
  uint32_t seed = 1;
  for (auto& v : luma) {
    seed = seed * 1103515245u + 12345u;
    const int noisy = v + static_cast<int>((seed >> 16) % 41) - 20 + 16;  // +-20, shifted 16
    v = static_cast<uint8_t>(std::clamp(noisy, 0, 255));
  }
  const auto read = read_stamp(luma.data(), w, h, w);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->index, 7u);
  EXPECT_EQ(read->send_time_us, 42u);
}

TEST(FrameStamp, DamagedOrMissingMarkIsUnreadable) {
  const uint32_t w = 640, h = 360;
  std::vector<uint8_t> luma(static_cast<size_t>(w) * h, 128 - 30);
  EXPECT_FALSE(read_stamp(luma.data(), w, h, w).has_value());
  draw_stamp(luma.data(), w, h, w, Stamp{99, 1000});
  const uint32_t block = stamp_block_size(w, h);
  for (uint32_t y = 0; y < block; ++y) {  // flip index bit 2 (0 in 99) to 1
    for (uint32_t x = 0; x < block; ++x) {
      luma[y * w + 2 * block + x] = kStampLight;
    }
  }
  EXPECT_FALSE(read_stamp(luma.data(), w, h, w).has_value());
  EXPECT_EQ(stamp_block_size(64, 32), 0u);
}

}  // namespace
}  // namespace korvex::tools
