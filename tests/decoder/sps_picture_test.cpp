#include <gtest/gtest.h>

#include "decoder/sps_picture.hpp"

namespace korvex::decoder {
namespace {

// Builds SPS payloads bit by bit, with emulation prevention, the way an
// encoder would.
class SpsWriter {
 public:
  SpsWriter& bits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      bits_.push_back(((value >> i) & 1u) != 0);
    }
    return *this;
  }
  SpsWriter& ue(uint32_t value) {
    const uint64_t code = uint64_t{value} + 1;
    int length = 0;
    while ((code >> length) > 1) {
      ++length;
    }
    bits(0, length);
    for (int i = length; i >= 0; --i) {
      bits_.push_back(((code >> i) & 1u) != 0);
    }
    return *this;
  }
  SpsWriter& se(int32_t value) { return ue(value > 0 ? 2 * value - 1 : -2 * value); }

  // The payload with its stop bit, escaped.
  std::vector<uint8_t> payload() const {
    std::vector<bool> all = bits_;
    all.push_back(true);
    while (all.size() % 8 != 0) {
      all.push_back(false);
    }
    std::vector<uint8_t> raw;
    for (size_t i = 0; i < all.size(); i += 8) {
      uint8_t b = 0;
      for (size_t j = 0; j < 8; ++j) {
        b = static_cast<uint8_t>((b << 1) | (all[i + j] ? 1 : 0));
      }
      raw.push_back(b);
    }
    std::vector<uint8_t> out;
    int zeros = 0;
    for (const uint8_t b : raw) {
      if (zeros >= 2 && b <= 3) {
        out.push_back(3);
        zeros = 0;
      }
      zeros = b == 0 ? zeros + 1 : 0;
      out.push_back(b);
    }
    return out;
  }

 private:
  std::vector<bool> bits_;
};

struct SpsFields {
  uint32_t profile = 66;
  uint32_t chroma_format = 1;
  bool scaling_matrix = false;
  uint32_t poc_type = 0;
  uint32_t width_mbs = 120;
  uint32_t height_units = 68;
  bool frame_mbs_only = true;
  bool cropping = false;
  uint32_t crop[4] = {0, 0, 0, 0};  // left, right, top, bottom
};

std::vector<uint8_t> make_sps(const SpsFields& f) {
  SpsWriter w;
  w.bits(f.profile, 8).bits(0, 8).bits(40, 8).ue(0);
  if (f.profile == 100 || f.profile == 122) {
    w.ue(f.chroma_format);
    if (f.chroma_format == 3) {
      w.bits(0, 1);
    }
    w.ue(0).ue(0).bits(0, 1).bits(f.scaling_matrix ? 1 : 0, 1);
    if (f.scaling_matrix) {
      // List 0 present with deltas that run to zero, the rest absent.
      w.bits(1, 1).se(-8);
      w.bits(0, 7);
    }
  }
  w.ue(0).ue(f.poc_type);
  if (f.poc_type == 0) {
    w.ue(2);
  } else if (f.poc_type == 1) {
    w.bits(0, 1).se(-2).se(1).ue(2).se(5).se(-5);
  }
  w.ue(1).bits(0, 1).ue(f.width_mbs - 1).ue(f.height_units - 1);
  w.bits(f.frame_mbs_only ? 1 : 0, 1);
  if (!f.frame_mbs_only) {
    w.bits(1, 1);
  }
  w.bits(1, 1).bits(f.cropping ? 1 : 0, 1);
  if (f.cropping) {
    w.ue(f.crop[0]).ue(f.crop[1]).ue(f.crop[2]).ue(f.crop[3]);
  }
  w.bits(0, 1);  // no VUI
  return w.payload();
}

TEST(SpsPicture, ReadsTheCodedSizeAndTheCropping) {
  SpsFields hd;
  hd.cropping = true;
  hd.crop[3] = 4;  // 4 units of 2 rows: 1088 -> 1080
  auto picture = parse_sps(make_sps(hd));
  ASSERT_TRUE(picture.has_value());
  EXPECT_EQ(picture->coded_width, 1920u);
  EXPECT_EQ(picture->coded_height, 1088u);
  EXPECT_EQ(picture->visible, (VisibleArea{0, 0, 1920, 1080}));

  SpsFields plain;
  plain.width_mbs = 80;
  plain.height_units = 45;
  EXPECT_EQ(parse_sps(make_sps(plain))->visible, (VisibleArea{0, 0, 1280, 720}));
}

TEST(SpsPicture, FollowsHighProfileFieldsAndCropUnits) {
  SpsFields f;
  f.profile = 100;
  f.scaling_matrix = true;
  f.poc_type = 1;
  f.frame_mbs_only = false;  // field coding: map units are macroblock pairs
  f.width_mbs = 40;
  f.height_units = 15;
  f.cropping = true;
  f.crop[0] = 1;
  f.crop[1] = 2;
  f.crop[2] = 1;
  f.crop[3] = 3;
  auto picture = parse_sps(make_sps(f));
  ASSERT_TRUE(picture.has_value());
  EXPECT_EQ(picture->coded_width, 640u);
  EXPECT_EQ(picture->coded_height, 480u);
  // 4:2:0 crop units are 2 pixels across and 2 x 2 rows down for fields.
  EXPECT_EQ(picture->visible, (VisibleArea{2, 4, 640 - 6, 480 - 16}));

  f.chroma_format = 3;  // 4:4:4: one-pixel units across, two rows down
  f.scaling_matrix = false;
  EXPECT_EQ(parse_sps(make_sps(f))->visible, (VisibleArea{1, 2, 640 - 3, 480 - 8}));
}

TEST(SpsPicture, RefusesTruncatedAndImpossibleUnits) {
  SpsFields hd;
  hd.cropping = true;
  hd.crop[3] = 4;
  std::vector<uint8_t> sps = make_sps(hd);
  for (size_t cut = 0; cut + 2 < sps.size(); ++cut) {
    EXPECT_FALSE(parse_sps(std::span(sps).first(cut)).has_value()) << cut;
  }
  SpsFields overcropped;
  overcropped.cropping = true;
  overcropped.crop[0] = 960;  // the whole width
  EXPECT_FALSE(parse_sps(make_sps(overcropped)).has_value());
}

TEST(SpsPicture, FindsTheSpsInAnAccessUnit) {
  SpsFields hd;
  hd.cropping = true;
  hd.crop[3] = 4;
  const std::vector<uint8_t> sps = make_sps(hd);
  // Access unit delimiter, SPS, PPS, slice: 4- and 3-byte start codes.
  std::vector<uint8_t> unit = {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x67};
  unit.insert(unit.end(), sps.begin(), sps.end());
  unit.insert(unit.end(), {0, 0, 1, 0x68, 0xCE, 0x38, 0x80, 0, 0, 1, 0x65, 0x88, 0x84, 0x00});
  auto picture = find_sps_picture(unit);
  ASSERT_TRUE(picture.has_value());
  EXPECT_EQ(picture->visible.height, 1080u);

  const std::vector<uint8_t> no_sps = {0, 0, 1, 0x41, 0x9A, 0x00, 0x00, 0x01};
  EXPECT_FALSE(find_sps_picture(no_sps).has_value());
  EXPECT_FALSE(find_sps_picture({}).has_value());
}

}  // namespace
}  // namespace korvex::decoder
