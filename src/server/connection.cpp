#include "server/connection.hpp"

#include <algorithm>
#include <chrono>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/console.hpp"
#include "platform/thread.hpp"
#include "protocol/hello.hpp"
#include "protocol/wire_parser.hpp"
#include "server/audio_conversion.hpp"
#include "server/hello_handling.hpp"
#include "server/keyframe_request.hpp"
#include "server/ping.hpp"

namespace korvex::server {
namespace {

// Every receive goes into a buffer of this size.
constexpr size_t kReceiveChunk = 256 * 1024;
// How often a reader held back by a large frame looks whether it was taken over.
constexpr std::chrono::milliseconds kTakeoverCheck{50};

constexpr size_t kInitialScratchSamples = 480;  // 10 ms at 48 kHz
// One second at 48 kHz, the jitter buffer's whole ring.
constexpr size_t kLargestPush = 48'000;

// The reader loop's own state, for one connection.
class MessageHandler {
 public:
  MessageHandler(ServerContext& context, const AliveFlag& alive, uint64_t id)
      : context_(context), counters_(*context.link->counters()), alive_(alive), id_(id) {
    scratch_.reserve(kInitialScratchSamples);
  }

  // False for Bye: the connection ends, and what follows it is not handled.
  bool handle(protocol::Message& message) {
    return std::visit([this](auto& m) { return on(m); }, message);
  }

 private:
  bool on(protocol::msg::Hello& hello) {
    const auto parsed = protocol::parse_hello(hello.json.bytes());
    if (parsed) {
      apply_hello(parsed.value(), context_);
      // A new stream: hold video back until its first keyframe.
      keyframe_seen_ = false;
    }
    return true;
  }

  bool on(protocol::msg::Video& video) {
    counters_.frames_received.fetch_add(1, std::memory_order_relaxed);
    // A frame without coded data holds no picture to start from, whatever its flag.
    const bool keyframe = video.keyframe && !video.data.empty();
    if (keyframe_seen_ || keyframe) {
      const size_t size = video.data.size();
      context_.queue->push(frames::Frame{std::move(video.data), video.pts, keyframe});
      keyframe_seen_ = true;
      if (size >= frames::kLargeFrame) {
        // Receive nothing more until the decoder is done with it: a peer
        // sending such frames back to back then costs one at a time, not one
        // decoding, one queued and one being received. The socket's own
        // buffers hold back a phone meanwhile; a newer connection ends the wait.
        while (alive_->load() && !context_.queue->wait_below(frames::kLargeFrame, kTakeoverCheck)) {
        }
      }
    } else {
      // The decoder cannot start in the middle of a group of pictures.
      counters_.frames_dropped.fetch_add(1, std::memory_order_relaxed);
      request_keyframe(*context_.link);
    }
    return true;
  }

  bool on(protocol::msg::Control&) { return true; }

  bool on(protocol::msg::Audio& audio) {
    // A message longer than the jitter buffer's ring goes in ring-sized
    // pieces: the buffer keeps and discards what one push would, and the
    // scratch stays small however long a message the peer sends.
    float peak = 0.0f;
    std::span<const uint8_t> rest = audio.pcm.bytes();
    do {
      const auto piece = rest.first(std::min(rest.size(), 2 * kLargestPush));
      peak = std::max(peak, convert_audio(piece, audio.silent, context_.gain, scratch_));
      context_.jitter->push(scratch_);
      rest = rest.subspan(piece.size());
    } while (!rest.empty());
    counters_.set_audio_level(peak);
    counters_.audio_packets.fetch_add(1, std::memory_order_relaxed);
    return true;
  }

  bool on(protocol::msg::Ping& ping) {
    handle_ping(ping, *context_.link, id_);
    return true;
  }

  bool on(protocol::msg::Bye&) { return false; }

  ServerContext& context_;
  counters::Counters& counters_;
  const AliveFlag& alive_;
  const uint64_t id_;
  std::vector<float> scratch_;
  bool keyframe_seen_ = false;
};

// Receives and handles messages until a receive fails or times out, the
// phone closes its side or says Bye, or a newer connection takes over;
// closes `reader` before returning.
void read_loop(ServerContext& context, platform::Socket reader, const AliveFlag& alive,
               uint64_t id) {
  protocol::Parser parser;
  MessageHandler handler(context, alive, id);
  counters::Counters& counters = *context.link->counters();

  for (;;) {
    // A failure here is the 10-second time-out, a reset, or the shutdown by
    // a newer connection; all of them end the connection the same way.
    const std::span<uint8_t> space = parser.receive_space(kReceiveChunk);
    const auto received = reader.receive(space.first(std::min(space.size(), kReceiveChunk)));
    if (!received || received.value() == 0) {
      break;
    }
    const size_t n = received.value();
    counters.bytes_received.fetch_add(n, std::memory_order_relaxed);
    bool done = false;
    for (protocol::Message& message : parser.commit(n)) {
      // Once taken over, not one more message of this batch reaches the
      // queue or the jitter buffer, which now belong to the newer phone.
      if (!alive->load() || !handler.handle(message)) {
        done = true;
        break;
      }
    }
    if (done) {
      break;
    }
  }
  reader.close();
}

}  // namespace

void run_connection(std::shared_ptr<ServerContext> context, platform::Socket reader,
                    AliveFlag alive, uint64_t id) {
  // The phone's audio reaches the jitter buffer through this thread.
  platform::prioritise_current_thread();
  read_loop(*context, std::move(reader), alive, id);
  alive->store(false);
  if (!context->link->release_current(id)) {
    // A newer connection owns the counters, the audio and the phone flag.
    return;
  }
  context->link->counters()->connected.store(false, std::memory_order_relaxed);
  context->frame_writer->set_phone_active(false);
  context->jitter->end_stream();
  platform::write_stderr("phone disconnected\n");
}

}  // namespace korvex::server
