#include "server/hello_handling.hpp"

#include <string>

#include <fmt/format.h>

#include "platform/console.hpp"

namespace korvex::server {
namespace {

constexpr uint32_t kExpectedAudioRate = 48000;
constexpr uint16_t kExpectedAudioChannels = 1;

}  // namespace

void apply_hello(const protocol::Hello& hello, ServerContext& context) {
  counters::Counters& counters = *context.link->counters();
  const std::string name = hello.name.empty() ? "iPhone" : hello.name;
  counters.set_phone_name(name);
  counters.width.store(hello.width, std::memory_order_relaxed);
  counters.height.store(hello.height, std::memory_order_relaxed);

  // A rate of 0 means "not announced".
  const bool other_rate = hello.audio.rate != 0 && hello.audio.rate != kExpectedAudioRate;
  if (other_rate || hello.audio.channels > kExpectedAudioChannels) {
    platform::write_stderr(fmt::format("{} announces audio {} Hz x {} ch; expecting {} Hz x {}\n",
                                       name, hello.audio.rate, hello.audio.channels,
                                       kExpectedAudioRate, kExpectedAudioChannels));
  }

  context.queue->push(frames::Configure{hello.width, hello.height});
  context.frame_writer->set_phone_active(true);
}

}  // namespace korvex::server
