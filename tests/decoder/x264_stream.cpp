#include "x264_stream.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <x264.h>
}

namespace korvex::test {
namespace {

constexpr int kBt601 = 6;  // smpte170m in the VUI's colour fields

[[noreturn]] void give_up(const char* what) {
  std::fprintf(stderr, "x264: %s\n", what);
  std::abort();
}

}  // namespace

std::vector<uint8_t> source_luma(uint32_t width, uint32_t height, uint32_t index) {
  // Smooth diagonal bands that move with the index, plus a bright square
  // moving right: enough detail to catch a wrong row or plane offset.
  std::vector<uint8_t> luma(size_t{width} * height);
  const uint32_t square_x = (index * 16) % (width > 64 ? width - 64 : 1);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t value = 40 + ((x + 2 * y + 4 * index) / 4) % 160;
      if (x >= square_x && x < square_x + 64 && y >= 32 && y < 96) {
        value = 235;
      }
      luma[size_t{y} * width + x] = static_cast<uint8_t>(value);
    }
  }
  return luma;
}

std::vector<AccessUnit> encode_stream(const StreamShape& shape) {
  x264_param_t param;
  if (x264_param_default_preset(&param, "ultrafast", "zerolatency") < 0) {
    give_up("preset");
  }
  param.i_threads = 1;
  param.i_width = static_cast<int>(shape.width);
  param.i_height = static_cast<int>(shape.height);
  param.i_csp = X264_CSP_I420;
  param.i_fps_num = 30;
  param.i_fps_den = 1;
  param.i_keyint_max = static_cast<int>(shape.keyframe_interval);
  param.b_repeat_headers = 1;
  param.b_annexb = 1;
  param.vui.i_colorprim = kBt601;
  param.vui.i_transfer = kBt601;
  param.vui.i_colmatrix = kBt601;
  param.rc.i_rc_method = X264_RC_CQP;
  param.rc.i_qp_constant = 20;
  param.i_log_level = X264_LOG_ERROR;
  x264_t* encoder = x264_encoder_open(&param);
  if (encoder == nullptr) {
    give_up("encoder_open");
  }

  x264_picture_t picture;
  if (x264_picture_alloc(&picture, X264_CSP_I420, param.i_width, param.i_height) < 0) {
    give_up("picture_alloc");
  }
  std::vector<AccessUnit> units;
  for (uint32_t i = 0; i < shape.frames; ++i) {
    const std::vector<uint8_t> luma = source_luma(shape.width, shape.height, i);
    for (uint32_t y = 0; y < shape.height; ++y) {
      std::memcpy(picture.img.plane[0] + size_t{y} * picture.img.i_stride[0],
                  luma.data() + size_t{y} * shape.width, shape.width);
    }
    for (int plane = 1; plane <= 2; ++plane) {
      for (uint32_t y = 0; y < shape.height / 2; ++y) {
        std::memset(picture.img.plane[plane] + size_t{y} * picture.img.i_stride[plane],
                    plane == 1 ? 100 : 160, shape.width / 2);
      }
    }
    picture.i_pts = i;
    picture.i_type = X264_TYPE_AUTO;

    x264_nal_t* nals = nullptr;
    int nal_count = 0;
    x264_picture_t out;
    const int bytes = x264_encoder_encode(encoder, &nals, &nal_count, &picture, &out);
    if (bytes <= 0) {
      give_up("no access unit for a picture (zerolatency should give one each)");
    }
    AccessUnit unit;
    unit.data.assign(nals[0].p_payload, nals[0].p_payload + bytes);
    unit.pts_us = shape.first_pts_us + uint64_t{i} * 1000000 / 30;
    unit.keyframe = out.b_keyframe != 0;
    units.push_back(std::move(unit));
  }
  x264_picture_clean(&picture);
  x264_encoder_close(encoder);
  return units;
}

}  // namespace korvex::test
