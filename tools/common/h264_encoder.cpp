#include "h264_encoder.hpp"

#include <x264.h>

#include <string>

namespace korvex::tools {

void H264Encoder::Close::operator()(x264_t* encoder) const {
  x264_encoder_close(encoder);
}

Result<H264Encoder> H264Encoder::open(const H264Settings& s) {
  if (s.width == 0 || s.height == 0 || s.width % 2 != 0 || s.height % 2 != 0) {
    return fail("H.264 encoder: picture size " + std::to_string(s.width) + "x" +
                std::to_string(s.height) + " must be even and not empty");
  }
  if (s.fps == 0 || s.gop == 0 || s.bitrate_kbps == 0) {
    return fail("H.264 encoder: fps, GOP length and bitrate must be above 0");
  }
  x264_param_t p;
  // ultrafast keeps 1080p30 in real time on two shared cores.
  if (x264_param_default_preset(&p, "ultrafast", "zerolatency") < 0) {
    return fail("x264_param_default_preset: rejected");
  }
  p.i_log_level = X264_LOG_ERROR;
  p.i_csp = X264_CSP_NV12;
  p.i_width = static_cast<int>(s.width);
  p.i_height = static_cast<int>(s.height);
  p.i_fps_num = s.fps;
  p.i_fps_den = 1;
  p.b_vfr_input = 0;
  p.i_bframe = 0;
  p.i_keyint_max = static_cast<int>(s.gop);
  p.i_scenecut_threshold = 0;  // IDRs only on schedule or on request
  p.b_open_gop = 0;
  p.b_repeat_headers = 1;
  p.b_annexb = 1;
  p.rc.i_rc_method = X264_RC_ABR;
  p.rc.i_bitrate = static_cast<int>(s.bitrate_kbps);
  p.rc.i_vbv_max_bitrate = static_cast<int>(s.bitrate_kbps);
  p.rc.i_vbv_buffer_size = static_cast<int>(s.bitrate_kbps);  // one second
  const char* tag = s.colour == ColourTag::bt601 ? "smpte170m" : "bt709";
  p.vui.b_fullrange = 0;  // video range, as cameras deliver
  if (x264_param_parse(&p, "colorprim", tag) != 0 || x264_param_parse(&p, "transfer", tag) != 0 ||
      x264_param_parse(&p, "colormatrix", tag) != 0) {
    return fail("x264_param_parse: colour description rejected");
  }
  std::unique_ptr<x264_t, Close> encoder(x264_encoder_open(&p));
  if (!encoder) {
    return fail("x264_encoder_open: the settings were rejected");
  }
  return H264Encoder(std::move(encoder), s);
}

Result<AccessUnit> H264Encoder::encode(std::span<const uint8_t> nv12, bool force_idr) {
  const size_t luma = static_cast<size_t>(settings_.width) * settings_.height;
  if (nv12.size() != luma * 3 / 2) {
    return fail("x264_encoder_encode: picture of " + std::to_string(nv12.size()) +
                " bytes, expected " + std::to_string(luma * 3 / 2));
  }
  x264_picture_t in;
  x264_picture_init(&in);
  in.img.i_csp = X264_CSP_NV12;
  in.img.i_plane = 2;
  // x264 reads the planes only; its interface just lacks the const.
  in.img.plane[0] = const_cast<uint8_t*>(nv12.data());
  in.img.plane[1] = const_cast<uint8_t*>(nv12.data() + luma);
  in.img.i_stride[0] = static_cast<int>(settings_.width);
  in.img.i_stride[1] = static_cast<int>(settings_.width);
  in.i_pts = next_pts_++;
  in.i_type = force_idr ? X264_TYPE_IDR : X264_TYPE_AUTO;

  x264_picture_t out;
  x264_nal_t* nals = nullptr;
  int nal_count = 0;
  const int size = x264_encoder_encode(encoder_.get(), &nals, &nal_count, &in, &out);
  if (size < 0) {
    return fail("x264_encoder_encode: failed (" + std::to_string(size) + ")");
  }
  if (size == 0 || nal_count == 0) {
    return fail("x264_encoder_encode: no access unit for the picture");
  }
  // With Annex B output the NAL units lie back to back from the first one.
  AccessUnit unit;
  unit.data.assign(nals[0].p_payload, nals[0].p_payload + size);
  unit.keyframe = out.i_type == X264_TYPE_IDR;
  return unit;
}

}  // namespace korvex::tools
