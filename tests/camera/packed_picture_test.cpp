// Capture devices' pictures into packed NV12: padding dropped, YUYV
// converted, and no read past a picture that is shorter than its format.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "camera/packed_picture.hpp"

namespace korvex::camera {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

TEST(PackedPicture, Nv12DropsRowPadding) {
  // 4x2 luma and one chroma row, rows 6 bytes apart (2 bytes of padding).
  const std::vector<uint8_t> bytes = {1, 2,    3,    4, 0xEE, 0xEE, 5,  6,    7,
                                      8, 0xEE, 0xEE, 9, 10,   11,   12, 0xEE, 0xEE};
  Result<Nv12Frame> frame = nv12_from_nv12(bytes, 6, 4, 2);
  ASSERT_TRUE(frame) << frame.error();
  EXPECT_EQ(frame->width, 4u);
  EXPECT_EQ(frame->height, 2u);
  EXPECT_THAT(frame->data, ElementsAreArray({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  // The last row needs no padding after it.
  EXPECT_TRUE(nv12_from_nv12(std::span(bytes).first(16), 6, 4, 2));
}

TEST(PackedPicture, YuyvLumaKeptAndChromaAveragedOverTwoRows) {
  // 4x2: Y0 U Y1 V per pixel pair; rows 10 bytes apart.
  const std::vector<uint8_t> bytes = {
      10, 100, 11, 200, 12, 50, 13, 60, 0, 0,  // row 0
      20, 101, 21, 202, 22, 54, 23, 61, 0, 0,  // row 1
  };
  Result<Nv12Frame> frame = nv12_from_yuyv(bytes, 10, 4, 2);
  ASSERT_TRUE(frame) << frame.error();
  EXPECT_THAT(frame->data, ElementsAre(10, 11, 12, 13, 20, 21, 22, 23,  // luma
                                       101, 201, 52, 61));              // Cb Cr, rounded
}

TEST(PackedPicture, OddSizesAndShortPicturesAreSafe) {
  // 3x3 YUYV: two pixel pairs a row, one chroma row.
  std::vector<uint8_t> odd(8 * 3, 0x80);
  Result<Nv12Frame> frame = nv12_from_yuyv(odd, 8, 3, 3);
  ASSERT_TRUE(frame) << frame.error();
  EXPECT_EQ(frame->data.size(), 3u * 3 * 3 / 2);

  std::vector<uint8_t> short_nv12(6 * 3 - 3);
  Result<Nv12Frame> cut = nv12_from_nv12(short_nv12, 6, 4, 2);
  ASSERT_FALSE(cut);
  EXPECT_EQ(cut.error(), "NV12 picture of 15 bytes holds no 3 rows of 4 bytes, 6 apart");
  EXPECT_FALSE(nv12_from_yuyv(std::vector<uint8_t>(15), 8, 4, 2));
  EXPECT_EQ(nv12_from_yuyv(std::vector<uint8_t>(64), 6, 4, 2).error(),
            "YUYV rows of 8 bytes are 6 apart");
  EXPECT_TRUE(nv12_from_nv12({}, 0, 0, 0));
}

}  // namespace
}  // namespace korvex::camera
