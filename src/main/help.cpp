#include "main/help.hpp"

#include <fmt/format.h>

#include "main/settings.hpp"
#include "platform/console.hpp"

namespace korvex::main {

std::string help_text() {
  // The option column is 25 characters wide; continuation lines are indented
  // to the description column.
  return fmt::format(
      "Korvex receiver: iPhone -> {system} wireless webcam + mic\n"
      "\n"
      "USAGE:\n"
      "  korvex-receiver [OPTIONS]\n"
      "\n"
      "OPTIONS:\n"
      "  -d, --device <NAME>    Output endpoint for the mic audio (substring match).\n"
      "                         Default: \"{device}\" (VB-CABLE). \"default\" = system output.\n"
      "  -g, --gain <X>         Audio gain, 1 = unity (default).\n"
      "  --prefill-ms <MS>      Audio jitter-buffer prefill (default {prefill}).\n"
      "  --no-mdns              Do not advertise over Bonjour.\n"
      "  --no-vcam              Do not register the Korvex virtual camera.\n"
      "  --no-audio             Do not open an audio output.\n"
      "  --list-devices         List output endpoints, then exit.\n"
      "  --check-device <NAME>  Exit 0 if an output endpoint matches NAME (substring), else 1.\n"
      "  --list-cameras         List video capture devices {system} sees, then exit.\n"
      "  --probe-camera <NAME>  Open that camera, read --frames frames (default {frames}), report "
      "fps; with\n"
      "                         --dump-frames also write the first and last frame. Then exit.\n"
      "  --frames <N>           Frame count for --probe-camera.\n"
      "  --dump-frames <DIR>    Write every 30th decoded frame's Y plane as frame-<n>.png.\n"
      "  --background           Hide the console window (used by autostart).\n"
      "  --autostart <on|off>   Register/unregister run-at-login with the given flags, then "
      "exit.\n"
      "  -h, --help             Show this help.\n",
      fmt::arg("system", platform::system_name()), fmt::arg("device", kDefaultDevice),
      fmt::arg("prefill", kDefaultPrefillMs), fmt::arg("frames", kDefaultProbeFrames));
}

void print_help() {
  platform::write_stdout(help_text());
}

}  // namespace korvex::main
