#include "server/hello_handling.hpp"

#include <string>

#include <fmt/format.h>

#include "platform/console.hpp"

namespace korvex::server {
namespace {

constexpr uint32_t kExpectedAudioRate = 48000;
constexpr uint16_t kExpectedAudioChannels = 1;

// H.264 pictures of a phone's camera lie well inside these sides; a size
// outside them would only size the decoder's buffers after a hostile hello.
constexpr uint32_t kSmallestSide = 16;
constexpr uint32_t kLargestSide = 8192;

// The announced side, or 0 (not given) when it is not a plausible one: the
// decoder then takes the size from the stream itself.
uint32_t plausible_side(uint32_t side) {
  return side >= kSmallestSide && side <= kLargestSide ? side : 0;
}

}  // namespace

void apply_hello(const protocol::Hello& hello, ServerContext& context) {
  counters::Counters& counters = *context.link->counters();
  const std::string name = hello.name.empty() ? "iPhone" : hello.name;
  counters.set_phone_name(name);
  const uint32_t width = plausible_side(hello.width);
  const uint32_t height = plausible_side(hello.height);
  counters.width.store(width, std::memory_order_relaxed);
  counters.height.store(height, std::memory_order_relaxed);

  // A rate of 0 means "not announced".
  const bool other_rate = hello.audio.rate != 0 && hello.audio.rate != kExpectedAudioRate;
  if (other_rate || hello.audio.channels > kExpectedAudioChannels) {
    platform::write_stderr(fmt::format("{} announces audio {} Hz x {} ch; expecting {} Hz x {}\n",
                                       name, hello.audio.rate, hello.audio.channels,
                                       kExpectedAudioRate, kExpectedAudioChannels));
  }

  context.queue->push(frames::Configure{width, height});
  context.frame_writer->set_phone_active(true);
}

}  // namespace korvex::server
