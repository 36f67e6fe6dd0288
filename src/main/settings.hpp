#pragma once

// The command line: options, their defaults, and the mode they select.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/result.hpp"

namespace korvex::main {

inline constexpr const char* kDefaultDevice = "CABLE Input";
inline constexpr float kDefaultGain = 1.0f;
inline constexpr double kDefaultPrefillMs = 40.0;
inline constexpr uint32_t kDefaultProbeFrames = 60;

enum class Autostart { absent, on, off };

struct Settings {
  std::string device = kDefaultDevice;
  // --device was on the command line: play into that endpoint, never into a
  // microphone of the receiver's own.
  bool device_given = false;
  float gain = kDefaultGain;
  double prefill_ms = kDefaultPrefillMs;
  uint32_t frames = kDefaultProbeFrames;
  std::optional<std::string> dump_frames;
  bool no_mdns = false;
  bool no_vcam = false;
  bool no_audio = false;
  bool background = false;
  Autostart autostart = Autostart::absent;
};

namespace mode {
struct Receive {
  Settings settings;
};
struct ListDevices {};
struct CheckDevice {
  std::string name;
};
struct ListCameras {};
struct ProbeCamera {
  std::string name;
  uint32_t frames = kDefaultProbeFrames;
  std::optional<std::string> dump_frames;
};
struct Help {};
}  // namespace mode

using Mode = std::variant<mode::Receive, mode::ListDevices, mode::CheckDevice, mode::ListCameras,
                          mode::ProbeCamera, mode::Help>;

// Reads the arguments that follow the program name. Fails with the message
// the user sees ("unknown argument: -x", "--gain needs a number", ...).
Result<Mode> parse_args(const std::vector<std::string>& args);

}  // namespace korvex::main
