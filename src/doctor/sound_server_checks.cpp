#include "doctor/sound_server_checks.hpp"

#include <algorithm>

#include <fmt/format.h>

namespace korvex::doctor {
namespace {

bool has(const std::vector<std::string>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Session managers make the "default" metadata, where they keep the default devices.
constexpr std::string_view kSessionMetadata = "default";

}  // namespace

Finding check_pipewire(const Result<PipeWireState>& pipewire) {
  if (!pipewire) {
    return problem("PipeWire", fmt::format("no PipeWire server answers ({}): the receiver's camera "
                                           "and microphone need one: systemctl --user start "
                                           "pipewire wireplumber pipewire-pulse",
                                           pipewire.error()));
  }
  return ok("PipeWire",
            "a PipeWire server answers: the receiver makes its camera and microphone "
            "there");
}

Finding check_session_manager(const PipeWireState& pipewire) {
  if (!has(pipewire.metadata, kSessionMetadata)) {
    return problem("session manager",
                   "PipeWire runs without a session manager, so nothing links programs to the "
                   "camera and the microphone: systemctl --user start wireplumber");
  }
  for (std::string_view known : {"WirePlumber", "pipewire-media-session"}) {
    if (has(pipewire.clients, known)) {
      return ok("session manager", fmt::format("{} links programs to the camera and the "
                                               "microphone",
                                               known));
    }
  }
  return ok("session manager", "a session manager links programs to the camera and the microphone");
}

Finding check_pulse(bool pipewire_answers, const Result<PulseServer>& pulse) {
  if (!pulse) {
    if (!pipewire_answers) {
      return problem("PulseAudio", fmt::format("no sound server answers, neither PipeWire nor "
                                               "PulseAudio ({}): the phone's sound has nowhere "
                                               "to go",
                                               pulse.error()));
    }
    return problem("PulseAudio", fmt::format("no PulseAudio server answers ({}): browsers and "
                                             "most call programs record through one and do not "
                                             "see the \"Korvex Microphone\": install and start "
                                             "pipewire-pulse",
                                             pulse.error()));
  }
  const PulseServer& server = pulse.value();
  if (server.name.find("PipeWire") != std::string::npos) {
    return ok("PulseAudio", fmt::format("PipeWire's PulseAudio server serves programs that record "
                                        "through PulseAudio ({} {})",
                                        server.name, server.version));
  }
  if (pipewire_answers) {
    return warning("PulseAudio", fmt::format("the PulseAudio server is PulseAudio itself ({} {}), "
                                             "not PipeWire's: programs that record through it do "
                                             "not see the \"Korvex Microphone\": replace it with "
                                             "pipewire-pulse",
                                             server.name, server.version));
  }
  return ok("PulseAudio", fmt::format("{} {} answers: without PipeWire the receiver plays into "
                                      "one of its sinks",
                                      server.name, server.version));
}

Finding check_receiver_nodes(const PipeWireState& pipewire) {
  if (!has(pipewire.nodes, kCameraNode)) {
    return problem("camera node",
                   "the receiver runs without its PipeWire camera: it was started with --no-vcam "
                   "or before PipeWire; start it again");
  }
  if (!has(pipewire.nodes, kMicrophoneNode)) {
    return warning("camera node",
                   "the receiver's camera \"Korvex\" is on PipeWire, but its \"Korvex "
                   "Microphone\" is not: it was started with --device or --no-audio, or before "
                   "the session manager");
  }
  return ok("camera node",
            "the receiver's camera \"Korvex\" and \"Korvex Microphone\" are on PipeWire");
}

}  // namespace korvex::doctor
