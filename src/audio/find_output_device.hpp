#pragma once

// Picks the output endpoint that --device (and --check-device) names.

#include <memory>
#include <string>
#include <string_view>

#include "audio/audio_host.hpp"
#include "common/result.hpp"

namespace korvex::audio {

// Where to get VB-CABLE, the virtual cable whose playback side is the default.
inline constexpr std::string_view kVirtualCablePage = "https://vb-audio.com/Cable/";

struct FoundDevice {
  std::shared_ptr<OutputEndpoint> endpoint;
  std::string name;  // as the system reports it
};

// "default" in any ASCII case means the system's default endpoint; anything
// else is a case-insensitive substring of an endpoint's name, first match in
// the system's order. Endpoints whose names cannot be read are skipped.
Result<FoundDevice> find_output_device(AudioHost& host, std::string_view request);

// What find_output_device says when no endpoint's name contains `request`.
std::string no_match_text(std::string_view request);

// The first endpoint whose name is exactly `name`: the one found before.
Result<FoundDevice> find_output_named(AudioHost& host, const std::string& name);

}  // namespace korvex::audio
