#include <fmt/format.h>

#include "audio/find_output_device.hpp"
#include "audio/missing_output.hpp"

namespace korvex::audio {

std::string missing_cable_text() {
  return fmt::format(
      "VB-CABLE, whose playback side is \"CABLE Input\", is not installed: get it from {}, run "
      "VBCABLE_Setup_x64.exe as administrator and restart Windows",
      kVirtualCablePage);
}

}  // namespace korvex::audio
