#include "frames/decode_thread.hpp"

#include <future>
#include <memory>

#include <fmt/format.h>

#include "platform/console.hpp"
#include "platform/thread.hpp"
#include "png/frame_dump.hpp"

namespace korvex::frames {
namespace {

constexpr uint32_t kRecreateAfterErrors = 5;
constexpr uint64_t kDumpEvery = 30;
constexpr uint64_t kDumpsAnnounced = 3;

}  // namespace

void DecodeLoop::handle(DecodeWork work) {
  if (const auto* configure_item = std::get_if<Configure>(&work)) {
    configure(*configure_item);
  } else if (auto* frame = std::get_if<Frame>(&work)) {
    decode(*frame);
  } else {
    context_.request_keyframe();
  }
}

void DecodeLoop::replace_decoder(uint32_t width, uint32_t height) {
  // The old decoder goes before the new one comes: two at once would be the
  // peak of every hello, and under Wine each holds a GStreamer pipeline with
  // its buffers (30 hellos took the Windows build 15 MiB above its start).
  decoder_.reset();
  auto created = context_.create_decoder(width, height);
  if (created) {
    decoder_ = std::move(created).value();
    context_.print_line(
        fmt::format("H.264 decoder ready for {}x{}", decoder_->width(), decoder_->height()));
  } else {
    context_.print_line(fmt::format("H.264 decoder: {}", created.error()));
  }
}

void DecodeLoop::configure(const Configure& configure) {
  replace_decoder(configure.width, configure.height);
  stream_width_ = configure.width;
  stream_height_ = configure.height;
  consecutive_errors_ = 0;
}

void DecodeLoop::decode(Frame& frame) {
  if (!decoder_ && frame.keyframe) {
    replace_decoder(stream_width_, stream_height_);
  }
  if (!decoder_) {
    context_.counters->frames_dropped.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const size_t size = frame.data.size();
  auto decoded = decoder_->decode(std::move(frame.data), frame.pts);
  if (decoded) {
    publish(decoded.value());
    consecutive_errors_ = 0;
    return;
  }
  context_.counters->decode_errors.fetch_add(1, std::memory_order_relaxed);
  context_.print_line(fmt::format("decode: {}", decoded.error()));
  context_.request_keyframe();
  if (size >= kLargeFrame) {
    // Most likely not video at all, and libavcodec keeps buffers as large as
    // the largest unit it was given for as long as it lives. Without a
    // decoder, frames are dropped until the keyframe just asked for makes a
    // new one, as after a failed creation; a stream that needs its decoder
    // back gets it then.
    decoder_.reset();
    consecutive_errors_ = 0;
    return;
  }
  if (++consecutive_errors_ >= kRecreateAfterErrors) {
    replace_decoder(stream_width_, stream_height_);
    consecutive_errors_ = 0;
  }
}

void DecodeLoop::publish(std::span<const Picture> pictures) {
  counters::Counters& counters = *context_.counters;
  const uint64_t first =
      counters.frames_decoded.fetch_add(pictures.size(), std::memory_order_relaxed);
  if (!pictures.empty()) {
    counters.width.store(pictures.back().width, std::memory_order_relaxed);
    counters.height.store(pictures.back().height, std::memory_order_relaxed);
  }
  for (const Picture& picture : pictures) {
    context_.write_frame(picture);
  }
  if (!context_.dump_dir) {
    return;
  }
  for (size_t i = 0; i < pictures.size(); ++i) {
    const uint64_t n = first + i;
    if (n != 0 && (n + 1) % kDumpEvery != 0) {
      continue;
    }
    auto dumped = png::dump_frame(*context_.dump_dir, n + 1, pack_nv12(pictures[i]));
    if (!dumped) {
      context_.print_line(fmt::format("dump: {}", dumped.error()));
    } else if (++dumps_written_ <= kDumpsAnnounced) {
      context_.print_line(fmt::format("wrote {}", dumped.value()));
    }
  }
}

Result<void> start_decode_thread(DecodeContext context) {
  // The first decoder of a process loads the system's codec libraries: under
  // Wine, GStreamer and its plugins, which keeps a loaded 2-core machine busy
  // for long enough that the phone's audio, starting at the same moment, has
  // holes. A decoder made and dropped here, before a phone can connect, takes
  // that cost at startup; the loop still creates its own on the first
  // Configure or keyframe.
  auto ready = std::make_shared<std::promise<void>>();
  std::future<void> warmed = ready->get_future();
  auto spawned = platform::spawn_thread("decode", [context = std::move(context), ready]() mutable {
    decoder::init_decoder_thread();
    (void)context.create_decoder(0, 0);  // a failure is reported by the real creation
    std::shared_ptr<DecodeQueue> queue = context.queue;
    DecodeLoop loop(std::move(context));
    ready->set_value();
    for (;;) {
      loop.handle(queue->pop());
    }
  });
  if (!spawned) {
    return spawned;
  }
  warmed.get();
  return {};
}

}  // namespace korvex::frames
