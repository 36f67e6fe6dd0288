#pragma once

// The shared questions answered by this machine, for the real system of
// either platform: MachineAnswers<WindowsSystem> or <LinuxSystem>.

#include <memory>
#include <vector>

#include "audio/audio_host.hpp"
#include "discovery/discovery_causes.hpp"
#include "doctor/system.hpp"
#include "platform/interface_addresses.hpp"
#include "platform/listening_processes.hpp"

namespace korvex::doctor {

template <class PlatformSystem>
class MachineAnswers : public PlatformSystem {
 public:
  Result<void> responder() override { return discovery::responder_answers(); }
  Result<std::vector<platform::InterfaceAddress>> addresses() override {
    return platform::list_interface_addresses();
  }
  Result<std::vector<platform::ListeningProcess>> port_listeners() override {
    return platform::tcp_listeners(kPhonePort);
  }
  std::unique_ptr<audio::AudioHost> audio_host() override { return audio::make_audio_host(); }
  SectionState frame_section() override { return system_frame_section(); }
};

}  // namespace korvex::doctor
