#pragma once

// Test helpers: decoding access units with libavcodec's plain single-threaded
// H.264 decoder, fed one unit at a time as the receiver feeds its own.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "frame_stamp.hpp"

namespace korvex::tools {

struct DecodedPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> luma;  // packed, no padding
  bool keyframe = false;
};

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

// Mean luma of the middle half of stamp block `bit`.
inline double block_mean(const DecodedPicture& p, uint32_t bit) {
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

// Flat stamp blocks survive coding close to the levels they were drawn with.
inline void expect_stamp_levels(const DecodedPicture& p, double tolerance) {
  for (uint32_t bit = 0; bit < kStampColumns * kStampRows; ++bit) {
    const double mean = block_mean(p, bit);
    EXPECT_NEAR(mean, mean > 128 ? kStampLight : kStampDark, tolerance) << "bit " << bit;
  }
}

}  // namespace korvex::tools
