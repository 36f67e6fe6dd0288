#pragma once

// What the checks ask the system, on both platforms. Every question is a
// virtual call, so the tests answer them with a fake system; the answers are
// plain data the checks judge.

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/audio_host.hpp"
#include "common/result.hpp"
#include "platform/interface_addresses.hpp"
#include "platform/listening_processes.hpp"
#include "section/frame_section.hpp"

namespace korvex::doctor {

// The TCP port the phone connects to.
inline constexpr uint16_t kPhonePort = 45334;

// The frame section as a reader finds it.
struct SectionState {
  // Its header; the error when it is missing or cannot be mapped.
  Result<section::SectionHeader> header = fail("not looked at");
  uint64_t now_tick = 0;  // the activity tick's clock when the header was read
};

class System {
 public:
  virtual ~System() = default;
  // Whether the system's mDNS responder can be reached; its error if not.
  virtual Result<void> responder() = 0;
  virtual Result<std::vector<platform::InterfaceAddress>> addresses() = 0;
  // Who listens on kPhonePort.
  virtual Result<std::vector<platform::ListeningProcess>> port_listeners() = 0;
  virtual std::unique_ptr<audio::AudioHost> audio_host() = 0;
  virtual SectionState frame_section() = 0;
};

// The frame section of this machine, for the real systems of both platforms.
SectionState system_frame_section();

}  // namespace korvex::doctor
