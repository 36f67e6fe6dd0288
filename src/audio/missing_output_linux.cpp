#include "audio/missing_output.hpp"

namespace korvex::audio {

std::string missing_cable_text() {
  return "no sink is named \"CABLE Input\": with a PipeWire server and its session manager "
         "running (pipewire, wireplumber) the receiver makes its own \"Korvex Microphone\" "
         "instead; or name another sink with --device";
}

}  // namespace korvex::audio
