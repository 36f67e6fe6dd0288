#pragma once

// Systems whose every answer a test sets, for the checks and their order.

#include <memory>
#include <string>
#include <vector>

#include "../audio/fake_audio_host.hpp"
#include "doctor/linux_system.hpp"
#include "doctor/windows_system.hpp"

namespace korvex::doctor::testing {

// A section a receiver with a streaming phone keeps fresh.
inline SectionState streaming_section(uint64_t frames = 300) {
  section::SectionHeader header;
  header.magic = section::kSectionMagic;
  header.version = section::kSectionVersion;
  header.slot_count = 3;
  header.slot_size = static_cast<uint32_t>(section::kMaxSlotSize);
  header.frame_counter = frames;
  header.activity_tick = 100'000;
  SectionState state;
  state.header = header;
  state.now_tick = 100'300;
  return state;
}

inline platform::ListeningProcess receiver_process() {
  return {4242, "korvex-receiver"};
}

// Answers shared by both platforms, each a field a test can change.
template <class PlatformSystem>
struct FakeAnswers : PlatformSystem {
  Result<void> responder_result;
  Result<std::vector<platform::InterfaceAddress>> address_result =
      std::vector<platform::InterfaceAddress>{{true, {192, 168, 1, 20}}};
  Result<std::vector<platform::ListeningProcess>> listener_result =
      std::vector<platform::ListeningProcess>{};
  std::vector<std::string> outputs = {"Speakers", "CABLE Input (VB-Audio Virtual Cable)"};
  SectionState section;

  Result<void> responder() override { return responder_result; }
  Result<std::vector<platform::InterfaceAddress>> addresses() override { return address_result; }
  Result<std::vector<platform::ListeningProcess>> port_listeners() override {
    return listener_result;
  }
  std::unique_ptr<audio::AudioHost> audio_host() override {
    auto host = std::make_unique<audio::testing::FakeHost>();
    for (const std::string& name : outputs) {
      host->add(name);
    }
    return host;
  }
  SectionState frame_section() override { return section; }
};

// A Windows 11 PC where everything is in place.
struct FakeWindows final : FakeAnswers<WindowsSystem> {
  FirewallState firewall_state = [] {
    FirewallState state;
    state.current_profiles = kPrivateProfile;
    state.enabled = true;
    state.rules = std::vector<FirewallRule>{
        {"Korvex Receiver", true, true, true, 6, "45334", "", kPrivateProfile | kDomainProfile}};
    return state;
  }();
  SourceState source = [] {
    SourceState state;
    state.server = R"(C:\Program Files\Korvex\KorvexSource.dll)";
    state.server_exists = true;
    state.media_types = std::vector<std::string>{"NV12 1920x1080 @ 30 fps"};
    return state;
  }();
  CameraFacility facility = [] {
    CameraFacility windows11;
    windows11.virtual_camera = true;
    return windows11;
  }();
  CameraConsent consent;

  FirewallState firewall() override { return firewall_state; }
  SourceState camera_source() override { return source; }
  CameraFacility camera_facility() override { return facility; }
  CameraConsent camera_consent() override { return consent; }
};

// A PipeWire desktop where everything is in place.
struct FakeLinux final : FakeAnswers<LinuxSystem> {
  Result<PipeWireState> pipewire_state =
      PipeWireState{{"korvex-camera", "korvex-microphone"}, {"default"}, {"WirePlumber"}};
  Result<PulseServer> pulse = PulseServer{"PulseAudio (on PipeWire 0.3.65)", "15.0.0"};
  std::vector<vcam::VideoDeviceInfo> devices;

  Result<PipeWireState> pipewire() override { return pipewire_state; }
  Result<PulseServer> pulse_server() override { return pulse; }
  std::vector<vcam::VideoDeviceInfo> video_devices() override { return devices; }
};

}  // namespace korvex::doctor::testing
