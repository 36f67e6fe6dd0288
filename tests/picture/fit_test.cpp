#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "picture/fit.hpp"

namespace korvex::picture {
namespace {

struct Plane {
  std::vector<uint8_t> bytes;
  uint32_t width = 0;  // in samples of `channels` bytes
  uint32_t height = 0;
  uint32_t pitch = 0;
  uint8_t at(uint32_t x, uint32_t y, uint32_t k, uint32_t channels) const {
    return bytes[uint64_t{y} * pitch + x * channels + k];
  }
};

// Bilinear at one point with sample centres aligned, the weights in 1/256 as
// the filter keeps them: the textbook form, one target sample at a time.
uint8_t reference(const Plane& p, uint32_t channels, uint32_t to_width, uint32_t to_height,
                  uint32_t x, uint32_t y, uint32_t k) {
  auto tap = [](uint32_t i, uint32_t from, uint32_t to, uint32_t& a, uint32_t& b, double& w) {
    const double at = std::floor(((i + 0.5) * from / to - 0.5) * 256) / 256;
    const double clamped = std::clamp(at, 0.0, double(from - 1));
    a = static_cast<uint32_t>(clamped);
    b = std::min(a + 1, from - 1);
    w = clamped - a;
  };
  uint32_t x0, x1, y0, y1;
  double wx, wy;
  tap(x, p.width, to_width, x0, x1, wx);
  tap(y, p.height, to_height, y0, y1, wy);
  const double top = p.at(x0, y0, k, channels) * (1 - wx) + p.at(x1, y0, k, channels) * wx;
  const double bottom = p.at(x0, y1, k, channels) * (1 - wx) + p.at(x1, y1, k, channels) * wx;
  return static_cast<uint8_t>(std::lround(top * (1 - wy) + bottom * wy));
}

// Every target sample inside the placement against the reference, to within
// one level; the bars around it black.
void expect_fits_like_reference(uint32_t width, uint32_t height, uint32_t to_width,
                                uint32_t to_height) {
  SCOPED_TRACE(testing::Message() << width << "x" << height << " -> " << to_width << "x"
                                  << to_height);
  std::mt19937 random(width * 7919 + to_width);
  const uint32_t pitch = width + 6;  // rows that do not follow one another
  std::vector<uint8_t> source(uint64_t{pitch} * height * 3 / 2);
  for (uint8_t& b : source) {
    b = static_cast<uint8_t>(random());
  }
  const uint32_t to_pitch = to_width + 10;
  std::vector<uint8_t> target(uint64_t{to_pitch} * to_height * 3 / 2, 0xEE);
  const ConstNv12View from{source.data(), source.data() + uint64_t{pitch} * height, width, height,
                           pitch};
  const Nv12View to{target.data(), target.data() + uint64_t{to_pitch} * to_height, to_width,
                    to_height, to_pitch};
  Fitter fitter;
  fitter.fit(from, to);
  fitter.fit(from, to);  // the tables and rows it keeps do not carry over wrongly

  const Placement p = place(width, height, to_width, to_height);
  const Plane luma{source, width, height, pitch};
  Plane chroma{{}, width / 2, height / 2, pitch};
  chroma.bytes.assign(source.begin() + uint64_t{pitch} * height, source.end());
  int mismatches = 0;
  for (uint32_t y = 0; y < to_height; ++y) {
    for (uint32_t x = 0; x < to_width; ++x) {
      const uint8_t got = target[uint64_t{y} * to_pitch + x];
      const bool inside = x >= p.x && x < p.x + p.width && y >= p.y && y < p.y + p.height;
      const int want =
          inside ? reference(luma, 1, p.width, p.height, x - p.x, y - p.y, 0) : kBlackLuma;
      mismatches += std::abs(got - want) > 1;
    }
  }
  const uint8_t* uv = target.data() + uint64_t{to_pitch} * to_height;
  for (uint32_t y = 0; y < to_height / 2; ++y) {
    for (uint32_t x = 0; x < to_width; ++x) {
      const uint8_t got = uv[uint64_t{y} * to_pitch + x];
      const bool inside = x >= p.x && x < p.x + p.width && y >= p.y / 2 && y < (p.y + p.height) / 2;
      const int want = inside ? reference(chroma, 2, p.width / 2, p.height / 2, (x - p.x) / 2,
                                          y - p.y / 2, x % 2)
                              : kNeutralChroma;
      mismatches += std::abs(got - want) > 1;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(Fitter, ScalesARandomPictureAsPlainBilinearDoes) {
  expect_fits_like_reference(96, 54, 160, 90);     // up, as 720p to 1080p
  expect_fits_like_reference(160, 90, 96, 54);     // down
  expect_fits_like_reference(64, 64, 98, 50);      // bars left and right
  expect_fits_like_reference(130, 40, 64, 48);     // bars above and below
  expect_fits_like_reference(640, 360, 642, 362);  // barely up: rows reused in turn
}

}  // namespace
}  // namespace korvex::picture
