#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <memory>
#include <vector>

#include "frame_stamp.hpp"
#include "h264_decode.hpp"
#include "h264_encoder.hpp"
#include "test_pattern.hpp"

namespace korvex::tools {
namespace {

// NAL unit types in an Annex B access unit, in order.
std::vector<int> nal_types(const std::vector<uint8_t>& unit) {
  std::vector<int> types;
  for (size_t i = 0; i + 3 < unit.size(); ++i) {
    if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) {
      types.push_back(unit[i + 3] & 0x1F);
      i += 3;
    }
  }
  return types;
}

template <class T>
bool contains(const std::vector<T>& v, T x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

struct Encoded {
  std::vector<AccessUnit> units;
  std::vector<Stamp> stamps;
};

// Encodes `count` stamped pattern pictures, forcing an IDR on the listed ones.
Encoded encode_pictures(const H264Settings& settings, uint32_t count,
                        const std::vector<uint32_t>& forced) {
  auto encoder = H264Encoder::open(settings);
  EXPECT_TRUE(encoder.ok()) << encoder.error();
  const uint32_t w = settings.width, h = settings.height;
  std::vector<uint8_t> nv12(static_cast<size_t>(w) * h * 3 / 2);
  Encoded out;
  for (uint32_t i = 0; i < count; ++i) {
    draw_test_pattern(nv12, w, h, i);
    const Stamp stamp{i, 1'765'000'000'000'000ull + i * 33'333ull};
    draw_stamp(nv12.data(), w, h, w, stamp);
    neutral_stamp_chroma(nv12.data() + static_cast<size_t>(w) * h, w, h, w);
    auto unit = encoder->encode(nv12, contains(forced, i));
    EXPECT_TRUE(unit.ok()) << unit.error();
    out.units.push_back(std::move(unit.value()));
    out.stamps.push_back(stamp);
  }
  return out;
}

TEST(H264Stream, EveryPictureDecodesWithItsStampAndKeyframesWhereExpected) {
  H264Settings settings;
  settings.width = 640;
  settings.height = 360;
  settings.gop = 10;
  settings.bitrate_kbps = 1500;
  const Encoded encoded = encode_pictures(settings, 45, {17});

  // Scheduled every 10 pictures, counted again from the forced one.
  const std::vector<uint32_t> expected_keys = {0, 10, 17, 27, 37};
  Decoder decoder;
  std::vector<DecodedPicture> pictures;
  for (uint32_t i = 0; i < encoded.units.size(); ++i) {
    const AccessUnit& unit = encoded.units[i];
    const bool key = contains(expected_keys, i);
    EXPECT_EQ(unit.keyframe, key) << "picture " << i;
    const std::vector<int> types = nal_types(unit.data);
    // Parameter sets travel in front of every IDR and only there.
    EXPECT_EQ(contains(types, 7) && contains(types, 8) && contains(types, 5), key)
        << "picture " << i;
    EXPECT_EQ(contains(types, 1), !key) << "picture " << i;
    // No reordering: each unit comes out as a picture at once.
    auto out = decoder.decode(unit.data);
    ASSERT_EQ(out.size(), 1u) << "picture " << i;
    pictures.push_back(std::move(out[0]));
  }
  EXPECT_TRUE(decoder.flush().empty());

  for (uint32_t i = 0; i < pictures.size(); ++i) {
    const DecodedPicture& p = pictures[i];
    ASSERT_EQ(p.width, 640u);
    ASSERT_EQ(p.height, 360u);
    EXPECT_EQ(p.keyframe, encoded.units[i].keyframe);
    const auto stamp = read_stamp(p.luma.data(), p.width, p.height, p.width);
    ASSERT_TRUE(stamp.has_value()) << "picture " << i;
    EXPECT_EQ(stamp->index, i);
    EXPECT_EQ(stamp->send_time_us, encoded.stamps[i].send_time_us);
    SCOPED_TRACE(testing::Message() << "picture " << i);
    expect_stamp_levels(p, 8.0);
  }
}

TEST(H264Stream, FullHdStreamCarriesItsColourTag) {
  for (ColourTag tag : {ColourTag::bt601, ColourTag::bt709}) {
    H264Settings settings;
    settings.width = 1920;
    settings.height = 1080;
    settings.bitrate_kbps = 6000;
    settings.colour = tag;
    const Encoded encoded = encode_pictures(settings, 3, {});
    Decoder decoder;
    for (uint32_t i = 0; i < encoded.units.size(); ++i) {
      auto out = decoder.decode(encoded.units[i].data);
      ASSERT_EQ(out.size(), 1u);
      EXPECT_EQ(out[0].width, 1920u);
      EXPECT_EQ(out[0].height, 1080u);
      const auto stamp = read_stamp(out[0].luma.data(), 1920, 1080, 1920);
      ASSERT_TRUE(stamp.has_value());
      EXPECT_EQ(stamp->index, i);
    }
    const AVCodecContext& c = decoder.context();
    EXPECT_EQ(c.color_range, AVCOL_RANGE_MPEG);
    if (tag == ColourTag::bt601) {
      EXPECT_EQ(c.colorspace, AVCOL_SPC_SMPTE170M);
      EXPECT_EQ(c.color_primaries, AVCOL_PRI_SMPTE170M);
      EXPECT_EQ(c.color_trc, AVCOL_TRC_SMPTE170M);
    } else {
      EXPECT_EQ(c.colorspace, AVCOL_SPC_BT709);
      EXPECT_EQ(c.color_primaries, AVCOL_PRI_BT709);
      EXPECT_EQ(c.color_trc, AVCOL_TRC_BT709);
    }
  }
}

TEST(H264Stream, RefusesBadSizesAndPictures) {
  H264Settings settings;
  settings.width = 641;
  auto odd = H264Encoder::open(settings);
  ASSERT_FALSE(odd.ok());
  EXPECT_EQ(odd.error(), "H.264 encoder: picture size 641x720 must be even and not empty");

  settings.width = 320;
  settings.height = 240;
  auto encoder = H264Encoder::open(settings);
  ASSERT_TRUE(encoder.ok()) << encoder.error();
  std::vector<uint8_t> short_picture(320 * 240);
  auto unit = encoder->encode(short_picture, false);
  ASSERT_FALSE(unit.ok());
  EXPECT_EQ(unit.error(), "x264_encoder_encode: picture of 76800 bytes, expected 115200");
}

}  // namespace
}  // namespace korvex::tools
