#pragma once

// What the Linux checks ask beyond the shared questions: the sound servers
// and the video devices.

#include <string>
#include <vector>

#include "common/result.hpp"
#include "doctor/system.hpp"
#include "vcam/loopback_device.hpp"

namespace korvex::doctor {

// The objects of the user's PipeWire server that the checks look for.
struct PipeWireState {
  std::vector<std::string> nodes;     // node.name of every node
  std::vector<std::string> metadata;  // metadata.name of every metadata object
  std::vector<std::string> clients;   // application.name of every client
};

// The PulseAudio server programs record through: PulseAudio itself, or
// PipeWire's pipewire-pulse.
struct PulseServer {
  std::string name;  // "pulseaudio", "PulseAudio (on PipeWire 0.3.65)"
  std::string version;
};

class LinuxSystem : public System {
 public:
  // Fails when no PipeWire server answers.
  virtual Result<PipeWireState> pipewire() = 0;
  // Fails when no PulseAudio server answers.
  virtual Result<PulseServer> pulse_server() = 0;
  virtual std::vector<vcam::VideoDeviceInfo> video_devices() = 0;
};

}  // namespace korvex::doctor
