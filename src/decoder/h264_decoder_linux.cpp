#include <algorithm>

#include <fmt/format.h>

#include "decoder/h264_decoder.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

namespace korvex::decoder {
namespace {

std::string av_error_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

// Writes the decoded picture as tightly packed NV12 in one pass: luma rows
// straight across, chroma interleaved from the planar Cb and Cr rows (or
// copied as they are when the decoder already gives NV12).
Result<Nv12Frame> to_nv12(const AVFrame& picture, uint64_t fallback_pts_us) {
  const auto format = static_cast<AVPixelFormat>(picture.format);
  const bool planar = format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
  if (!planar && format != AV_PIX_FMT_NV12) {
    const char* name = av_get_pix_fmt_name(format);
    return fail(fmt::format("decoded picture: pixel format {} is not 8-bit 4:2:0",
                            name != nullptr ? name : "unknown"));
  }
  if (picture.width <= 0 || picture.height <= 0) {
    return fail(fmt::format("decoded picture: size {}x{}", picture.width, picture.height));
  }
  const auto width = static_cast<uint32_t>(picture.width);
  const auto height = static_cast<uint32_t>(picture.height);

  Nv12Frame frame;
  frame.width = width;
  frame.height = height;
  frame.timestamp_us = picture.pts != AV_NOPTS_VALUE && picture.pts >= 0
                           ? static_cast<uint64_t>(picture.pts)
                           : fallback_pts_us;
  frame.data.resize(uint64_t{width} * height * 3 / 2);

  uint8_t* out = frame.data.data();
  for (uint32_t r = 0; r < height; ++r, out += width) {
    const uint8_t* src = picture.data[0] + static_cast<ptrdiff_t>(r) * picture.linesize[0];
    std::copy(src, src + width, out);
  }
  for (uint32_t r = 0; r < height / 2; ++r, out += width) {
    if (!planar) {
      const uint8_t* src = picture.data[1] + static_cast<ptrdiff_t>(r) * picture.linesize[1];
      std::copy(src, src + width, out);
      continue;
    }
    const uint8_t* cb = picture.data[1] + static_cast<ptrdiff_t>(r) * picture.linesize[1];
    const uint8_t* cr = picture.data[2] + static_cast<ptrdiff_t>(r) * picture.linesize[2];
    for (uint32_t x = 0; x + 1 < width; x += 2) {
      out[x] = cb[x / 2];
      out[x + 1] = cr[x / 2];
    }
    if (width % 2 != 0) {
      out[width - 1] = cb[width / 2];
    }
  }
  return frame;
}

class AvH264Decoder final : public H264Decoder {
 public:
  AvH264Decoder(AVCodecContext* context, AVPacket* packet, AVFrame* picture, uint32_t width,
                uint32_t height)
      : context_(context), packet_(packet), picture_(picture), width_(width), height_(height) {}

  Result<std::vector<Nv12Frame>> decode(std::span<const uint8_t> data, uint64_t pts_us) override {
    std::vector<Nv12Frame> frames;
    // An empty packet would put libavcodec into draining mode for good.
    if (data.empty()) {
      return frames;
    }
    // The packet borrows the bytes; libavcodec copies what it keeps.
    packet_->data = const_cast<uint8_t*>(data.data());
    packet_->size = static_cast<int>(data.size());
    packet_->pts = static_cast<int64_t>(pts_us);
    const int sent = avcodec_send_packet(context_.get(), packet_.get());
    packet_->data = nullptr;
    packet_->size = 0;
    if (sent < 0) {
      return fail(fmt::format("avcodec_send_packet: {}", av_error_text(sent)));
    }
    for (;;) {
      const int received = avcodec_receive_frame(context_.get(), picture_.get());
      if (received == AVERROR(EAGAIN)) {
        return frames;
      }
      if (received < 0) {
        return fail(fmt::format("avcodec_receive_frame: {}", av_error_text(received)));
      }
      auto frame = to_nv12(*picture_, pts_us);
      av_frame_unref(picture_.get());
      if (!frame) {
        return fail(frame.error());
      }
      width_ = frame->width;
      height_ = frame->height;
      frames.push_back(std::move(frame).value());
    }
  }

  uint32_t width() const override { return width_; }
  uint32_t height() const override { return height_; }

 private:
  std::unique_ptr<AVCodecContext, CodecContextFree> context_;
  std::unique_ptr<AVPacket, PacketFree> packet_;
  std::unique_ptr<AVFrame, FrameFree> picture_;
  uint32_t width_;
  uint32_t height_;
};

}  // namespace

Result<std::unique_ptr<H264Decoder>> H264Decoder::create(uint32_t width, uint32_t height) {
  const uint32_t w = width != 0 ? width : 1280;
  const uint32_t h = height != 0 ? height : 720;

  // libavcodec's own diagnostics would interleave with the program's
  // console lines; its failures come back as error texts instead.
  av_log_set_level(AV_LOG_QUIET);
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (codec == nullptr) {
    return fail("avcodec_find_decoder: this libavcodec has no H.264 decoder");
  }
  std::unique_ptr<AVCodecContext, CodecContextFree> context(avcodec_alloc_context3(codec));
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameFree> picture(av_frame_alloc());
  if (!context || !packet || !picture) {
    return fail("avcodec_alloc_context3: out of memory");
  }
  // A picture out for every access unit: no reordering delay, no frame threads.
  context->flags |= AV_CODEC_FLAG_LOW_DELAY;
  context->thread_count = 1;
  context->thread_type = 0;
  // Report damaged slices as errors, so that the decode thread asks for a
  // keyframe instead of showing concealed garbage.
  context->err_recognition |= AV_EF_EXPLODE;
  context->width = static_cast<int>(w);
  context->height = static_cast<int>(h);
  const int opened = avcodec_open2(context.get(), codec, nullptr);
  if (opened < 0) {
    return fail(fmt::format("avcodec_open2: {}", av_error_text(opened)));
  }
  return std::unique_ptr<H264Decoder>(std::make_unique<AvH264Decoder>(
      context.release(), packet.release(), picture.release(), w, h));
}

void init_decoder_thread() {}

}  // namespace korvex::decoder
