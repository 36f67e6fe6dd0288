#pragma once

// The output the receiver plays the phone's sound into when it has no
// microphone of its own: "CABLE Input", VB-CABLE's playback side.

#include "audio/audio_host.hpp"
#include "doctor/report.hpp"

namespace korvex::doctor {

Finding check_cable(audio::AudioHost& host);

}  // namespace korvex::doctor
