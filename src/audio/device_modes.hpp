#pragma once

// --list-devices and --check-device: help the user pick the --device value.

#include <string>
#include <string_view>

#include "audio/audio_host.hpp"

namespace korvex::audio {

// "Output devices ({host}):" and one "  - {name}" line per endpoint, the
// default one marked; first, when `microphone` is set, the microphone the
// receiver creates.
std::string device_list_text(AudioHost& host, bool microphone = false);

// Print to the console and return the process's exit status.
int list_output_devices();
int check_output_device(std::string_view name);

}  // namespace korvex::audio
