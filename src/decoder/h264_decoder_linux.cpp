#include <climits>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "decoder/h264_decoder.hpp"
#include "decoder/start_code.hpp"

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

static_assert(AV_INPUT_BUFFER_PADDING_SIZE <= kPayloadPadding,
              "libavcodec reads a payload in place, padding included");

// Frees a payload's block when libavcodec drops its last reference to it.
void free_block(void* block, uint8_t*) {
  delete[] static_cast<uint8_t*>(block);
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

// Describes a decoded picture where libavcodec keeps it.
Result<Picture> view_of(const AVFrame& decoded, uint64_t fallback_pts_us) {
  const auto format = static_cast<AVPixelFormat>(decoded.format);
  const bool planar = format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
  if (!planar && format != AV_PIX_FMT_NV12) {
    const char* name = av_get_pix_fmt_name(format);
    return fail(fmt::format("decoded picture: pixel format {} is not 8-bit 4:2:0",
                            name != nullptr ? name : "unknown"));
  }
  if (decoded.width <= 0 || decoded.height <= 0) {
    return fail(fmt::format("decoded picture: size {}x{}", decoded.width, decoded.height));
  }
  if (planar && decoded.linesize[1] != decoded.linesize[2]) {
    return fail(fmt::format("decoded picture: chroma pitches {} and {} differ", decoded.linesize[1],
                            decoded.linesize[2]));
  }
  Picture picture;
  picture.luma = decoded.data[0];
  picture.luma_pitch = decoded.linesize[0];
  picture.cb = decoded.data[1];
  picture.cr = planar ? decoded.data[2] : nullptr;
  picture.chroma_pitch = decoded.linesize[1];
  picture.timestamp_us = decoded.pts != AV_NOPTS_VALUE && decoded.pts >= 0
                             ? static_cast<uint64_t>(decoded.pts)
                             : fallback_pts_us;
  picture.width = static_cast<uint32_t>(decoded.width);
  picture.height = static_cast<uint32_t>(decoded.height);
  return picture;
}

class AvH264Decoder final : public H264Decoder {
 public:
  AvH264Decoder(AVCodecContext* context, AVPacket* packet, uint32_t width, uint32_t height)
      : context_(context), packet_(packet), width_(width), height_(height) {}

  Result<std::span<const Picture>> decode(Payload data, uint64_t pts_us) override {
    // The last call's pictures go back to libavcodec's pool.
    drop_pictures();
    // An empty packet would put libavcodec into draining mode for good.
    if (data.empty()) {
      return std::span<const Picture>();
    }
    if (data.size() > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE) {
      return fail("avcodec_send_packet: access unit too large");
    }
    // Not H.264. Bytes like these reach libavcodec only through a peer
    // sending garbage, which it parses as far as it can, unescaping the whole
    // unit into a zeroed buffer that it then keeps, and listing every start
    // code the garbage happens to hold.
    if (!opens_with_start_code(data.bytes())) {
      return fail("access unit: does not open with a start code");
    }
    // A reference-counted packet over the payload's own block: libavcodec
    // reads it in place instead of copying it, and frees it when done.
    uint8_t* bytes = const_cast<uint8_t*>(data.data());
    const int size = static_cast<int>(data.size());
    uint8_t* block = data.release();
    packet_->buf =
        av_buffer_create(bytes, size + AV_INPUT_BUFFER_PADDING_SIZE, free_block, block, 0);
    if (packet_->buf == nullptr) {
      delete[] block;
      return fail("av_buffer_create: out of memory");
    }
    packet_->data = bytes;
    packet_->size = size;
    packet_->pts = static_cast<int64_t>(pts_us);
    const int sent = avcodec_send_packet(context_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (sent < 0) {
      return fail(fmt::format("avcodec_send_packet: {}", av_error_text(sent)));
    }
    for (;;) {
      if (pictures_.size() == held_.size()) {
        held_.emplace_back(av_frame_alloc());
        if (!held_.back()) {
          held_.pop_back();
          return fail_dropping_pictures("av_frame_alloc: out of memory");
        }
      }
      AVFrame* decoded = held_[pictures_.size()].get();
      const int received = avcodec_receive_frame(context_.get(), decoded);
      if (received == AVERROR(EAGAIN)) {
        return std::span<const Picture>(pictures_);
      }
      if (received < 0) {
        return fail_dropping_pictures(
            fmt::format("avcodec_receive_frame: {}", av_error_text(received)));
      }
      auto picture = view_of(*decoded, pts_us);
      if (!picture) {
        av_frame_unref(decoded);
        return fail_dropping_pictures(picture.error());
      }
      width_ = picture->width;
      height_ = picture->height;
      pictures_.push_back(picture.value());
    }
  }

  uint32_t width() const override { return width_; }
  uint32_t height() const override { return height_; }

 private:
  void drop_pictures() {
    for (size_t i = 0; i < pictures_.size(); ++i) {
      av_frame_unref(held_[i].get());
    }
    pictures_.clear();
  }

  Result<std::span<const Picture>> fail_dropping_pictures(std::string error) {
    drop_pictures();
    return fail(std::move(error));
  }

  std::unique_ptr<AVCodecContext, CodecContextFree> context_;
  std::unique_ptr<AVPacket, PacketFree> packet_;
  // The last call's pictures: held_[i] keeps the buffers of pictures_[i]
  // from libavcodec's reuse until the next call; frames beyond
  // pictures_.size() are empty and kept for reuse.
  std::vector<std::unique_ptr<AVFrame, FrameFree>> held_;
  std::vector<Picture> pictures_;
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
  if (!context || !packet) {
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
  return std::unique_ptr<H264Decoder>(
      std::make_unique<AvH264Decoder>(context.release(), packet.release(), w, h));
}

void init_decoder_thread() {}

}  // namespace korvex::decoder
