#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <memory>
#include <vector>

#include "frame_stamp.hpp"
#include "h264_encoder.hpp"
#include "test_pattern.hpp"

namespace korvex::tools {
namespace {

struct DecodedPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> luma;  // packed, no padding
  bool keyframe = false;
};

// The plain single-threaded libavcodec H.264 decoder, fed one access unit at
// a time as the receiver feeds its own decoder.
class Decoder {
 public:
  Decoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    context_.reset(avcodec_alloc_context3(codec));
    context_->thread_count = 1;
    EXPECT_EQ(avcodec_open2(context_.get(), codec, nullptr), 0);
  }

  // Decodes one access unit; returns every picture that came out.
  std::vector<DecodedPicture> decode(const std::vector<uint8_t>& unit) {
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    EXPECT_EQ(av_new_packet(packet.get(), static_cast<int>(unit.size())), 0);
    std::copy(unit.begin(), unit.end(), packet->data);
    EXPECT_EQ(avcodec_send_packet(context_.get(), packet.get()), 0);
    return receive();
  }

  std::vector<DecodedPicture> flush() {
    EXPECT_EQ(avcodec_send_packet(context_.get(), nullptr), 0);
    return receive();
  }

  const AVCodecContext& context() const { return *context_; }

 private:
  struct ContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
  };
  struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
  };
  struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
  };

  std::vector<DecodedPicture> receive() {
    std::vector<DecodedPicture> pictures;
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    while (avcodec_receive_frame(context_.get(), frame.get()) == 0) {
      EXPECT_EQ(frame->format, AV_PIX_FMT_YUV420P);
      EXPECT_EQ(frame->decode_error_flags, 0);
      DecodedPicture picture;
      picture.width = static_cast<uint32_t>(frame->width);
      picture.height = static_cast<uint32_t>(frame->height);
      picture.keyframe = frame->key_frame != 0;
      picture.luma.resize(static_cast<size_t>(picture.width) * picture.height);
      for (uint32_t y = 0; y < picture.height; ++y) {
        std::copy_n(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0], picture.width,
                    picture.luma.begin() + static_cast<ptrdiff_t>(y) * picture.width);
      }
      pictures.push_back(std::move(picture));
      av_frame_unref(frame.get());
    }
    return pictures;
  }

  std::unique_ptr<AVCodecContext, ContextFree> context_;
};

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

// Mean luma of the middle half of stamp block `bit`.
double block_mean(const DecodedPicture& p, uint32_t bit) {
  const uint32_t block = stamp_block_size(p.width, p.height);
  const uint32_t x0 = (bit % kStampColumns) * block + block / 4;
  const uint32_t y0 = (bit / kStampColumns) * block + block / 4;
  double sum = 0;
  for (uint32_t y = y0; y < y0 + block / 2; ++y) {
    for (uint32_t x = x0; x < x0 + block / 2; ++x) {
      sum += p.luma[static_cast<size_t>(y) * p.width + x];
    }
  }
  return sum / (block / 2.0 * block / 2.0);
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
    // Flat blocks survive coding close to the levels they were drawn with.
    for (uint32_t bit = 0; bit < kStampColumns * kStampRows; ++bit) {
      const double mean = block_mean(p, bit);
      const bool light = mean > 128;
      EXPECT_NEAR(mean, light ? kStampLight : kStampDark, 8.0) << "picture " << i << " bit " << bit;
    }
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
