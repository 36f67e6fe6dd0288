// Which offered format a program's request means, and the figures each
// format's media type carries.

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "capture_filter/capture_formats.hpp"

namespace korvex::capture_filter {
namespace {

using picture::PixelFormat;

constexpr uint32_t kYuy2 = 0x32595559;
constexpr uint32_t kNv12 = 0x3231564E;
constexpr uint32_t kI420 = 0x30323449;

TEST(CaptureFormats, EveryFormatAndSizeOnceWithYuy2FullHdFirst) {
  std::set<std::tuple<PixelFormat, uint32_t, uint32_t>> seen;
  for (const CaptureFormat& format : kCaptureFormats) {
    EXPECT_TRUE(seen.insert({format.pixels, format.width, format.height}).second);
  }
  EXPECT_EQ(seen.size(), 15u);
  EXPECT_EQ(kDefaultChoice, (StreamChoice{{PixelFormat::yuy2, 1920, 1080}, 333333}));
  EXPECT_EQ(fourcc(PixelFormat::yuy2), kYuy2);
  EXPECT_EQ(fourcc(PixelFormat::nv12), kNv12);
  EXPECT_EQ(fourcc(PixelFormat::i420), kI420);
}

TEST(CaptureFormats, SizesAndRatesAreExact) {
  EXPECT_EQ(image_size({PixelFormat::yuy2, 1920, 1080}), 1920u * 1080 * 2);
  EXPECT_EQ(image_size({PixelFormat::nv12, 1280, 720}), 1280u * 720 * 3 / 2);
  EXPECT_EQ(image_size({PixelFormat::i420, 320, 240}), 320u * 240 * 3 / 2);
  EXPECT_EQ(bits_per_pixel(PixelFormat::yuy2), 16);
  EXPECT_EQ(bits_per_pixel(PixelFormat::i420), 12);
  // 640 x 480 NV12 at 30 a second: 460,800 bytes a picture.
  EXPECT_EQ(bit_rate({{PixelFormat::nv12, 640, 480}, 333333}), 110'592'110u);
  EXPECT_EQ(bit_rate({{PixelFormat::yuy2, 1920, 1080}, 666667}), 497'663'751u);
}

TEST(CaptureFormats, RequestNamesFormatSizeAndRate) {
  // No rate given: 30 a second.
  EXPECT_EQ(choose({kNv12, 12, 1280, 720, 0, 0}),
            (StreamChoice{{PixelFormat::nv12, 1280, 720}, 333333}));
  // 15 a second as programs write it, and a top-down height for YUV.
  EXPECT_EQ(choose({kYuy2, 16, 640, -480, 640 * 480 * 2, 666666}),
            (StreamChoice{{PixelFormat::yuy2, 640, 480}, 666666}));
  // Rounded just past either end of the range: kept inside it.
  EXPECT_EQ(choose({kI420, 12, 320, 240, 0, 333000})->interval, 333333);
  EXPECT_EQ(choose({kI420, 12, 320, 240, 0, 667500})->interval, 666667);
  // Anything between is streamed at the rate asked.
  EXPECT_EQ(choose({kI420, 0, 320, 240, 0, 400000})->interval, 400000);
}

TEST(CaptureFormats, RequestsForWhatIsNotOfferedAreRefused) {
  EXPECT_FALSE(choose({kNv12, 12, 1280, 960, 0, 0})) << "size not offered";
  EXPECT_FALSE(choose({0x47504A4D, 24, 1280, 720, 0, 0})) << "MJPG";
  EXPECT_FALSE(choose({kNv12, 16, 1280, 720, 0, 0})) << "bit count of another format";
  EXPECT_FALSE(choose({kNv12, 12, 1280, 720, 1280 * 720 * 2, 0})) << "image size of another";
  EXPECT_FALSE(choose({kNv12, 12, 1280, 720, 0, 166667})) << "60 a second";
  EXPECT_FALSE(choose({kNv12, 12, 1280, 720, 0, 2000000})) << "5 a second";
  EXPECT_FALSE(choose({kNv12, 12, -1280, 720, 0, 0})) << "negative width";
}

}  // namespace
}  // namespace korvex::capture_filter
