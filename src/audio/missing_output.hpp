#pragma once

// When --device names no output endpoint: why, and what there is instead.
// The receiver prints these lines after the lookup's own message, and the
// Korvex check gives them as its fix.

#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_host.hpp"

namespace korvex::audio {

// The virtual cable's playback side, which the receiver plays into by default.
inline constexpr std::string_view kCableInput = "CABLE Input";

// One line each, for a `request` that find_output_device finds nothing for:
// for a request of the cable, what it is and where it comes from when it is
// missing, or which of its sides to name when it is there; then the names of
// the endpoints there are. Empty when the request does find an
// endpoint, or when the endpoints cannot be listed (the lookup said so).
std::vector<std::string> missing_output_causes(AudioHost& host, std::string_view request);

// Where the "CABLE Input" endpoint comes from on this system, and what to do
// without it.
std::string missing_cable_text();

}  // namespace korvex::audio
