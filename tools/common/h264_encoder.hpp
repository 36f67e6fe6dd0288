#pragma once

// H.264 encoding with libx264, set up the way the phone's sender streams:
// Annex B byte stream, SPS/PPS repeated before every IDR, no B-frames and no
// look-ahead, so every picture in gives exactly one access unit out at once.
// Shared by the phone simulator and the tests that need real streams.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "common/result.hpp"

struct x264_t;

namespace korvex::tools {

// The colour description written into the stream's VUI. Decoders that
// convert colour (Wine's does) follow it, so a stream tagged BT.601 decodes
// back to the same luma it was made from.
enum class ColourTag { bt601, bt709 };

struct H264Settings {
  uint32_t width = 1280;  // even
  uint32_t height = 720;  // even
  uint32_t fps = 30;
  uint32_t gop = 60;  // pictures from one IDR to the next unless one is forced
  uint32_t bitrate_kbps = 4000;
  ColourTag colour = ColourTag::bt601;
};

struct AccessUnit {
  std::vector<uint8_t> data;  // Annex B, parameter sets included on IDRs
  bool keyframe = false;      // an IDR picture
};

class H264Encoder {
 public:
  static Result<H264Encoder> open(const H264Settings& settings);

  // Encodes one NV12 picture: width x height luma bytes, then height / 2 rows
  // of interleaved Cb/Cr, no padding. `force_idr` makes this picture an IDR.
  Result<AccessUnit> encode(std::span<const uint8_t> nv12, bool force_idr);

 private:
  struct Close {
    void operator()(x264_t* encoder) const;
  };

  H264Encoder(std::unique_ptr<x264_t, Close> encoder, const H264Settings& settings)
      : encoder_(std::move(encoder)), settings_(settings) {}

  std::unique_ptr<x264_t, Close> encoder_;
  H264Settings settings_;
  int64_t next_pts_ = 0;
};

}  // namespace korvex::tools
