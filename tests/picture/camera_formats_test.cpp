#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "picture/camera_formats.hpp"

namespace korvex::picture {
namespace {

TEST(CameraFormats, EverySizeAt30And15FpsInBothPixelFormatsNv12First) {
  const auto& formats = kCameraFormats;
  EXPECT_EQ(formats.front(), (CameraFormat{PixelFormat::nv12, 1920, 1080, {30, 1}}));
  std::set<std::tuple<int, uint32_t, uint32_t, uint32_t>> seen;
  for (size_t i = 0; i < formats.size(); ++i) {
    const CameraFormat& f = formats[i];
    EXPECT_EQ(f.pixels, i < formats.size() / 2 ? PixelFormat::nv12 : PixelFormat::yuy2) << i;
    EXPECT_EQ(f.rate.denominator, 1u);
    seen.insert({static_cast<int>(f.pixels), f.width, f.height, f.rate.numerator});
  }
  EXPECT_EQ(seen.size(), formats.size()) << "a format listed twice";
  for (PixelFormat pixels : {PixelFormat::nv12, PixelFormat::yuy2}) {
    for (auto [width, height] :
         {std::pair{1920u, 1080u}, {1280u, 720u}, {640u, 360u}, {1280u, 960u}, {640u, 480u}}) {
      for (uint32_t fps : {30u, 15u}) {
        EXPECT_EQ(seen.count({static_cast<int>(pixels), width, height, fps}), 1u)
            << width << "x" << height << " at " << fps;
      }
    }
  }
}

TEST(CameraFormats, AnOfferedSizeRunsAtAnyRateFrom15To30) {
  for (FrameRate rate : {FrameRate{15, 1}, {30, 1}, {30000, 1001}, {24, 1}, {25, 1}}) {
    const auto format = offered_format(PixelFormat::yuy2, 640, 480, rate);
    ASSERT_TRUE(format) << rate.numerator << "/" << rate.denominator;
    EXPECT_EQ(format->rate.numerator, rate.numerator);
    EXPECT_EQ(format->rate.denominator, rate.denominator);
  }
  for (FrameRate rate : {FrameRate{60, 1}, {10, 1}, {30001, 1000}, {30, 0}, {0, 1}}) {
    EXPECT_FALSE(offered_format(PixelFormat::nv12, 1280, 720, rate))
        << rate.numerator << "/" << rate.denominator;
  }
  EXPECT_FALSE(offered_format(PixelFormat::nv12, 800, 600, {30, 1}));
  EXPECT_FALSE(offered_format(PixelFormat::nv12, 1080, 1920, {30, 1})) << "sizes are landscape";
}

TEST(CameraFormats, PeriodBitrateAndDescriptionFollowTheRate) {
  EXPECT_EQ(frame_period({30, 1}).count(), 33'333'333);
  EXPECT_EQ(frame_period({15, 1}).count(), 66'666'666);
  EXPECT_EQ(frame_period({30000, 1001}).count(), 33'366'666);
  EXPECT_EQ(bits_per_second({PixelFormat::nv12, 1920, 1080, {30, 1}}), 746'496'000u);
  EXPECT_EQ(bits_per_second({PixelFormat::yuy2, 640, 480, {15, 1}}), 73'728'000u);
  EXPECT_EQ(describe({PixelFormat::nv12, 1280, 720, {30, 1}}), "NV12 1280x720 at 30 fps");
  EXPECT_EQ(describe({PixelFormat::yuy2, 640, 480, {30000, 1001}}), "YUY2 640x480 at 29.97 fps");
}

}  // namespace
}  // namespace korvex::picture
