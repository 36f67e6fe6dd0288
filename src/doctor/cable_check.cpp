#include "doctor/cable_check.hpp"

#include <fmt/format.h>

#include "audio/find_output_device.hpp"
#include "audio/missing_output.hpp"

namespace korvex::doctor {

Finding check_cable(audio::AudioHost& host) {
  auto found = audio::find_output_device(host, audio::kCableInput);
  if (found) {
    return ok("microphone", fmt::format("the phone's sound goes into \"{}\"", found->name));
  }
  std::string text;
  for (const std::string& cause : audio::missing_output_causes(host, audio::kCableInput)) {
    text += (text.empty() ? "" : "; ") + cause;
  }
  return problem("microphone", text.empty() ? found.error() : text);
}

}  // namespace korvex::doctor
