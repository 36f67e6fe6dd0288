#pragma once

// The "decode" thread: takes coded frames and stream starts from the decode
// queue, owns the one H.264 decoder, writes every decoded picture into the
// frame section, dumps pictures 1, 30, 60, ... when asked, and asks the phone
// for a keyframe whenever decoding fails or the queue has broken the chain of
// pictures.
//
// The pictures are written on this thread, straight after decoding, while
// they are still in this core's caches. Handed to a thread of their own to
// write while the next unit decoded, they left their lines in the other
// core's caches, and the decoder, writing the next pictures into the same
// buffers, decoded 1080p a fifth slower; the write itself takes a tenth of a
// picture's decoding.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/picture.hpp"
#include "common/result.hpp"
#include "counters/counters.hpp"
#include "decoder/h264_decoder.hpp"
#include "frames/decode_queue.hpp"
#include "platform/console.hpp"

namespace korvex::frames {

// What the decode loop works with. The receiver passes the real decoder and
// frame section; tests pass fakes.
struct DecodeContext {
  std::shared_ptr<DecodeQueue> queue;
  std::shared_ptr<counters::Counters> counters;
  std::optional<std::string> dump_dir;  // --dump-frames
  std::function<Result<std::unique_ptr<decoder::H264Decoder>>(uint32_t width, uint32_t height)>
      create_decoder = decoder::H264Decoder::create;
  // Publishes a picture; a frame that cannot be written is lost silently.
  std::function<void(const Picture&)> write_frame;
  // Asks the phone for a keyframe (throttled by the phone link).
  std::function<void()> request_keyframe;
  // Where the thread's event lines go.
  std::function<void(std::string_view)> print_line = [](std::string_view line) {
    platform::write_stderr(std::string(line) + "\n");
  };
};

// The loop's state, one item at a time.
class DecodeLoop {
 public:
  explicit DecodeLoop(DecodeContext context) : context_(std::move(context)) {}

  void handle(DecodeWork work);
  bool has_decoder() const { return decoder_ != nullptr; }

 private:
  void configure(const Configure& configure);
  void decode(Frame& frame);
  void replace_decoder(uint32_t width, uint32_t height);
  void publish(std::span<const Picture> pictures);

  DecodeContext context_;
  std::unique_ptr<decoder::H264Decoder> decoder_;
  uint32_t stream_width_ = 1280;
  uint32_t stream_height_ = 720;
  uint32_t consecutive_errors_ = 0;
  uint64_t dumps_written_ = 0;
};

// Starts the "decode" thread, which runs the loop for the rest of the process.
// Returns once the thread has made and dropped one decoder, so that the
// system's codec libraries are loaded before any phone streams. Fails with
// the system's reason when the thread cannot be created.
Result<void> start_decode_thread(DecodeContext context);

}  // namespace korvex::frames
